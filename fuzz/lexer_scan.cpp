// The lexer on arbitrary bytes: every scan mode, with and without a callback that moves the cursor
// and refuses tokens. It must end, stay inside the input and report sane positions.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "evaluator/lexer.h"

using namespace zem;
using namespace zem::lexer;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// A callback driven by the input's first bytes: it answers false now and then and moves the cursor.
struct Meddler : Observer {
  uint32_t bits;
  uint32_t size;
  uint32_t calls = 0;
  uint32_t mask() const override { return bits; }
  bool on_event(State& st, EventInfo& ev) override {
    check(ev.start <= ev.end && ev.end <= size && ev.line >= 1);
    ++calls;
    uint32_t r = bits * 2654435761u ^ calls * 40503u;
    if (r % 7 == 0) ev.cursor = r % (size + 3);
    if (calls < 100000 && calls % 50 == 0) {
      // A nested scan of the input's head, as a callback that calls the scanner itself would do.
      tokenize(std::string_view(reinterpret_cast<const char*>(st.in_start), std::min<uint32_t>(size, 16)));
    }
    return r % 5 != 0;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  uint8_t sel = size ? data[0] : 0;
  const uint8_t* text = size ? data + 1 : data;
  size_t len = size ? size - 1 : 0;

  TokenStream ts = tokenize(std::string_view(reinterpret_cast<const char*>(text), len));
  uint32_t last_line = 1;
  for (const Token& t : ts.tokens) {
    check(t.start <= t.end && t.end <= len);
    check(t.line >= last_line);
    last_line = t.line;
  }
  if (!ts.ok) check(ts.error.near.size() <= 30 && ts.error.offset <= len);

  ScanMode mode;
  mode.wrap = false;
  mode.full_scan = false;
  mode.one_value = sel & 1;
  uint32_t consumed = 0;
  scan_buffer(nullptr, text, len, mode, &consumed, nullptr, nullptr, nullptr);
  check(consumed <= len);

  Meddler m;
  m.bits = (sel >> 1) & 63;
  m.size = static_cast<uint32_t>(len);
  mode.full_scan = sel & 0x80;
  Cell input{static_cast<uint32_t>(sel & 0x40 ? TYPE_STRING : TYPE_BINARY), 0, 0, 0};
  scan_buffer(nullptr, text, len, mode, &consumed, &m, &input, nullptr);
  check(consumed <= len);
  return 0;
}
