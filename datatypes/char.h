// char!: one Unicode code point. Its arithmetic runs on the integer core; every result must again be
// a code point.
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/integer.h"
#include "runtime/support.h"

namespace zem {

constexpr uint32_t kCharMax = 0x10FFFF;

inline Cell make_char(uint32_t cp) {
  Cell c{};
  c.set_header(TYPE_CHAR);
  c.set_char_value(cp);
  return c;
}

// cp op right: division truncates; a result outside 0 ... 0x10FFFF is `overflow`.
uint32_t char_apply(uint32_t cp, int32_t right, MathOp op, NumFault& fault);

// The escaped form of one code point inside a char literal or a double-quoted string: control
// characters as "^" + letter ("^-" tab, "^/" line feed, "^A" U+0001), 0x1E and 0x80-0x9F (and every
// code point above 0x7F when `all`) as "^(hex)", double quote and "^" with a "^" before them, DEL as
// "^~", anything else as itself. Answers the number of characters written.
int32_t append_escaped_char(TextOut& out, uint32_t cp, bool all);

// The molded char as UTF-8: #"a", #"^-".
std::string char_mold_text(uint32_t cp, bool all = false);

void register_char();

}  // namespace zem
