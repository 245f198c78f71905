// HTTP requests on libcurl's easy interface: one synchronous request a call.
//
// Linux decisions:
// - Redirects are followed; only the final response's status and headers are kept. Only http and
//   https are spoken, redirects included.
// - Time-outs: 60 s to connect, and a transfer that receives no data for 30 s is given up.
//   ZEM_HTTP_TEST_TIMEOUT (seconds) shortens both, for tests only.
// - A string! body (and any formed value) is sent as UTF-8 text; a binary! as its bytes.
// - Response headers are read line by line: lines without a colon (the status line, the blank
//   line) are skipped, blanks around the value are trimmed, LF without CR ends a line as well.
// - A response body larger than a series can hold is refused with script `size-limit`.
// - libcurl is loaded on the first request, not at start; when it cannot be loaded the request
//   raises access cannot-open naming the library.
// - No exception crosses a libcurl callback: the callbacks only copy bytes into C++ buffers and
//   catch everything at their boundary; the handle and header list are freed on every path.
#pragma once

#include "runtime/cell.h"

namespace zem::http {

// simple-io/request-url: performs the request and stores the result in `out` (the body as text,
// lines or binary; with `info` the block [status headers body]). False when the request could not
// be made or no response came (connection refused, time-out, bad URL). `headers` and `body` are
// none when not given.
bool request_url(const Cell& method, const Cell& url, const Cell& headers, const Cell& body, bool binary,
                 bool lines, bool info, Cell& out);

}  // namespace zem::http
