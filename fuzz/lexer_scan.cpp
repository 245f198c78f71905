// The lexer on arbitrary bytes: every scan mode, with and without a callback that moves the cursor,
// refuses tokens and passes over syntax errors, and a scan that builds values through the loaders.
// It must end, stay inside the input and report sane positions; a syntax error is the only error a
// scan may raise besides the refusal of a datatype not built yet.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/startup.h"

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

// Values are built in the booted runtime: the loaders need symbols, series and the error catalogue.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char prog[] = "zem";
  static char* argv[] = {prog, nullptr};
  runtime_init(1, argv);
  return 0;
}

namespace {

// A scan that builds values, with the callback: it ends normally or with a syntax error (or the
// refusal of a datatype whose module is not built), nothing else.
void build_values(const uint8_t* text, size_t len, Meddler& m, bool one_value) {
  static uint32_t runs = 0;
  if (++runs % 512 == 0) gc::collect();  // the values of earlier inputs are garbage
  ScanMode mode;
  mode.one_value = one_value;
  Cell out{};
  uint32_t consumed = 0;
  try {
    scan_buffer(&out, text, len, mode, &consumed, &m, nullptr, nullptr);
    check(consumed <= len);
  } catch (const Unwind& u) {
    check(u.code == EXIT_ERROR);
    Err e = pending_exit().error;
    check(error_category_of(e) == error_category_of(Err::syntax_invalid) || e == Err::internal_not_done);
    clear_pending_exit();
    stack::reset();
  }
}

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

  Meddler builder;
  builder.bits = ((sel >> 1) & 63) | EV_ERROR;
  builder.size = static_cast<uint32_t>(len);
  build_values(text, len, builder, sel & 1);
  return 0;
}
