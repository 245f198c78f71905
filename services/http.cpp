// HTTP requests on libcurl: the request, its callbacks, header parsing and the response.
#include "services/http.h"

#include <curl/curl.h>

#include <strings.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "runtime/casefold.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "services/lazy_library.h"
#include "services/os/files.h"
#include "services/os/process.h"

namespace zem::http {

namespace {

struct Response {
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string pending;  // a header line not yet ended
  bool too_large = false;
};

// libcurl, loaded on the first request.
struct CurlApi {
  decltype(&curl_easy_init) easy_init;
  decltype(&curl_easy_cleanup) easy_cleanup;
  decltype(&curl_easy_setopt) easy_setopt;
  decltype(&curl_easy_perform) easy_perform;
  decltype(&curl_easy_getinfo) easy_getinfo;
  decltype(&curl_slist_append) slist_append;
  decltype(&curl_slist_free_all) slist_free_all;
};
CurlApi curl_api;

// Raises access cannot-open when the library cannot be loaded.
const CurlApi& curl() {
  constexpr const char* kLibrary = "libcurl.so.4";
  static const bool bound = lazy::bind(kLibrary, {{"curl_easy_init", &curl_api.easy_init},
                                                  {"curl_easy_cleanup", &curl_api.easy_cleanup},
                                                  {"curl_easy_setopt", &curl_api.easy_setopt},
                                                  {"curl_easy_perform", &curl_api.easy_perform},
                                                  {"curl_easy_getinfo", &curl_api.easy_getinfo},
                                                  {"curl_slist_append", &curl_api.slist_append},
                                                  {"curl_slist_free_all", &curl_api.slist_free_all}});
  if (!bound) lazy::missing(kLibrary);
  return curl_api;
}

struct CurlFree {
  void operator()(CURL* c) const { curl_api.easy_cleanup(c); }
};
struct ListFree {
  void operator()(curl_slist* l) const { curl_api.slist_free_all(l); }
};

// One header line: the status line of each response starts the headers afresh (redirects and
// interim responses leave only the last one's); lines without a colon are skipped.
void header_line(Response& r, std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  if (line.rfind("HTTP/", 0) == 0) {
    r.headers.clear();
    return;
  }
  const size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return;
  auto trim = [](std::string s) {
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return std::string();
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
  };
  r.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
}

extern "C" size_t on_body(char* data, size_t size, size_t count, void* user) {
  try {
    auto& r = *static_cast<Response*>(user);
    const size_t n = size * count;
    if (r.body.size() + n > static_cast<size_t>(kMaxSeriesBytes)) {
      r.too_large = true;
      return 0;  // ends the transfer
    }
    r.body.append(data, n);
    return n;
  } catch (...) {
    return 0;
  }
}

extern "C" size_t on_header(char* data, size_t size, size_t count, void* user) {
  try {
    auto& r = *static_cast<Response*>(user);
    const size_t n = size * count;
    r.pending.append(data, n);
    size_t end;
    while ((end = r.pending.find('\n')) != std::string::npos) {
      header_line(r, r.pending.substr(0, end));
      r.pending.erase(0, end + 1);
    }
    return n;
  } catch (...) {
    return 0;
  }
}

// The text of a value: a string as it is, any other value formed.
std::string text_of(const Cell& value) {
  Cell text = value;
  if (!value.is(TYPE_STRING)) {
    text = str::make_string(16);
    strings::form_onto(text.node(), value);
  }
  int32_t length = -1;
  const char* utf8 = unicode::string_to_utf8(text, &length);
  return std::string(utf8, static_cast<size_t>(length));
}

// A header name: the spelling of a word kind, any other value formed.
std::string name_of(const Cell& value) {
  if (value.type() >= TYPE_WORD && value.type() <= TYPE_GET_WORD) return std::string(symbol::name(value.word_symbol()));
  return text_of(value);
}

long timeout_of(long normal) {
  if (const char* t = std::getenv("ZEM_HTTP_TEST_TIMEOUT")) {
    const long v = std::atol(t);
    if (v > 0) return v;
  }
  return normal;
}

Cell headers_map(const Response& r) {
  Cell m = map::make_empty(static_cast<uint32_t>(r.headers.size()));
  for (const auto& [name, value] : r.headers) {
    const Cell key = word::make_from_name(name);
    const Cell text = str::make_from_utf8(process::repair_utf8(value));
    const Cell* old = map::select(m, key, false);
    if (!old) {
      map::put(m, key, text, false);
    } else if (old->is(TYPE_BLOCK)) {
      const Cell list = *old;
      block::append_cells(list, &text, 1);
    } else {
      Cell list = block::make(4);
      block::append_cells(list, old, 1);
      block::append_cells(list, &text, 1);
      map::put(m, key, list, false);
    }
  }
  return m;
}

}  // namespace

bool request_url(const Cell& method, const Cell& url, const Cell& headers, const Cell& body, bool binary,
                 bool lines, bool info, Cell& out) {
  std::string verb(symbol::name(method.word_symbol()));
  for (char& c : verb) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  const bool bodiless = verb == "GET" || verb == "HEAD";
  std::string payload;
  const bool has_body = !bodiless && !body.is(TYPE_NONE);
  if (has_body) {
    if (body.is(TYPE_BINARY)) {
      const uint32_t n = binary::rs_length(body);
      if (n) payload.assign(reinterpret_cast<const char*>(binary::rs_head(body)), n);
    } else {
      payload = text_of(body);
    }
  }
  std::vector<std::string> lines_out;
  if (headers.is(TYPE_BLOCK)) {
    bool content_type = false;
    const uint32_t n = block::length(headers);
    for (uint32_t i = 0; i + 1 < n; i += 2) {
      const Cell name = block::head_of(headers)[i];
      const Cell value = block::head_of(headers)[i + 1];
      lines_out.push_back(name_of(name) + ": " + text_of(value));
      content_type = content_type || strncasecmp(lines_out.back().c_str(), "content-type:", 13) == 0;
    }
    // Only the headers given: libcurl would add its own content type to a body.
    if (!content_type) lines_out.push_back("Content-Type:");
  } else {
    lines_out = {"Content-Type: application/x-www-form-urlencoded", "Accept-Charset: UTF-8",
                 "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)"};
  }
  lines_out.push_back("Expect:");  // no 100-continue round trip before a body
  const std::string address = text_of(url);

  const CurlApi& api = curl();
  Response response;
  long status = 0;
  CURLcode code;
  {
    std::unique_ptr<CURL, CurlFree> handle(api.easy_init());
    if (!handle) return false;
    std::unique_ptr<curl_slist, ListFree> list;
    for (const std::string& l : lines_out) {
      curl_slist* next = api.slist_append(list.get(), l.c_str());
      if (!next) return false;
      list.release();
      list.reset(next);
    }
    CURL* c = handle.get();
    api.easy_setopt(c, CURLOPT_URL, address.c_str());
    api.easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    api.easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    api.easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    api.easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    api.easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout_of(60));
    api.easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    api.easy_setopt(c, CURLOPT_LOW_SPEED_TIME, timeout_of(30));
    api.easy_setopt(c, CURLOPT_HTTPHEADER, list.get());
    api.easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
    api.easy_setopt(c, CURLOPT_WRITEDATA, &response);
    api.easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
    api.easy_setopt(c, CURLOPT_HEADERDATA, &response);
    if (verb == "HEAD") {
      api.easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else if (verb != "GET") {
      if (has_body || verb == "POST") {
        api.easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
        api.easy_setopt(c, CURLOPT_POSTFIELDS, payload.data());
      }
      if (verb != "POST") api.easy_setopt(c, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }
    code = api.easy_perform(c);
    api.easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  }
  if (response.too_large) fire(Err::script_size_limit, &url);
  if (code != CURLE_OK) return false;
  if (!response.pending.empty()) header_line(response, response.pending);

  const auto* bytes = reinterpret_cast<const uint8_t*>(response.body.data());
  const size_t size = response.body.size();
  Cell result = binary ? binary::load(bytes, static_cast<uint32_t>(size))
                : lines ? files::split_lines(bytes, size)
                        : files::load_text(bytes, size);
  if (info) {
    Cell block = block::make(3);
    const Cell st = make_integer(static_cast<int32_t>(status));
    const Cell m = headers_map(response);
    block::append_cells(block, &st, 1);
    block::append_cells(block, &m, 1);
    block::append_cells(block, &result, 1);
    result = block;
  }
  out = result;
  return true;
}

}  // namespace zem::http
