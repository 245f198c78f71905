// tuple!: 3 to 12 bytes held in the cell (version numbers, colours). Arithmetic saturates at 0 and
// 255; the element count sits in the header, so changing it keeps every other header bit.
#pragma once

#include <cstdint>

#include "datatypes/registry.h"

namespace zem {
namespace tuple {

constexpr uint32_t kMinCount = 3;
constexpr uint32_t kMaxCount = 12;

// A tuple of the first min(count, 12) bytes, padded with zeros to 3 elements.
Cell make(uint32_t count, const uint8_t* bytes);
// max(count, 3) elements (count clamped to 12), each the low byte of its integer.
Cell from_ints(uint32_t count, const int32_t* values);
// R.G.B, or R.G.B.A when alpha is not -1.
Cell rgba(int32_t r, int32_t g, int32_t b, int32_t alpha);
// The issue's name read as a colour of 3, 6 or 8 hexadecimal digits; script `invalid-data` else.
Cell from_issue(const Cell& issue);
// The first min(length, 12) bytes of a binary! from its head, padded with zeros to 3 elements.
Cell from_binary(const Cell& binary);
bool zero(const Cell& t);
// Element-wise, a missing element counting as 0; -1, 0, 1, or kCannotCompare for a non-tuple.
int32_t compare(const Cell& a, const Cell& b, CompareOp op);
// The arithmetic with a tuple in slot 0 or slot 1; the result in slot 0.
Cell* do_math(ActionCall& call, MathOp op);

void register_type();

}  // namespace tuple
}  // namespace zem
