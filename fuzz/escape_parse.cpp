// The escape parser on arbitrary bytes, in each unit width: it must stay inside the text (the
// input is copied to an allocation of exactly its size, so a read past it traps), consume whole
// units of a sequence that starts with ESC "[", and produce operations within their ranges; the
// ANSI text of each operation must be well-formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "services/escape.h"

using namespace zem::escape;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void one(const uint8_t* data, size_t size, int unit, Terminal& t) {
  size_t bytes = size / static_cast<size_t>(unit) * static_cast<size_t>(unit);
  if (bytes == 0) return;
  std::vector<uint8_t> text(data, data + bytes);
  text[0] = 0x1B;  // the writer calls it on an ESC unit only
  if (bytes > static_cast<size_t>(unit)) text[static_cast<size_t>(unit)] = '[';
  // An exact-size heap copy, unit-aligned for the wider widths.
  auto* copy = static_cast<uint8_t*>(std::malloc(bytes));
  std::memcpy(copy, text.data(), bytes);
  Parsed p = parse(copy, bytes, unit);
  check(p.consumed <= bytes);
  check(p.consumed % static_cast<size_t>(unit) == 0);
  check(p.consumed == 0 || p.consumed >= 3 * static_cast<size_t>(unit));
  if (p.consumed == 0) check(!p.op.has_value());
  if (p.op) {
    const Op& op = *p.op;
    check(op.a >= 0 && op.a < 65535 && op.b >= 0 && op.b < 65535);
    if (op.kind == OpKind::Erase) check(op.a >= 0 && op.a <= 5);
    std::string ansi = ansi_text(op, t);
    check(ansi.empty() || ansi[0] == '\x1b');
    check(t.attribute >= 0 && t.attribute <= 0xFFFF);
  }
  std::free(copy);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Terminal t;
  t.width = 80;
  t.height = 24;
  one(data, size, 1, t);
  one(data, size, 2, t);
  one(data, size, 4, t);
  // Text of the writer's own: after a prefix, the parser is offered every ESC in turn.
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != 0x1B) continue;
    auto* copy = static_cast<uint8_t*>(std::malloc(size - i));
    std::memcpy(copy, data + i, size - i);
    Parsed p = parse(copy, size - i, 1);
    check(p.consumed <= size - i);
    std::free(copy);
  }
  return 0;
}
