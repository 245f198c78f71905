// pair!: two int32 coordinates in the cell (sizes, offsets). Arithmetic whose result leaves the
// int32 range is done again on float points and answers a point2D!.
#pragma once

#include <cstdint>

#include "datatypes/registry.h"

namespace zem {
namespace pair {

Cell make(int32_t x, int32_t y);
void set(Cell& target, int32_t x, int32_t y);
// The pair as a point2D! (coordinates rounded to float32).
Cell to_point2d(const Cell& pair);

// The pair (slot 0) combined with the operand (slot 1); the result (pair! or point2D!) in slot 0.
Cell* do_math(ActionCall& call, MathOp op);
// The same as a pure function from (pair, operand) to a pair! or point2D!.
Cell math(const Cell& pair, const Cell& operand, MathOp op, const Cell* word);
// Negates in place; a coordinate of -2147483648 makes the value a point2D!.
void negate(Cell& pair);
int32_t compare(const Cell& a, const Cell& b, CompareOp op);

void register_type();

}  // namespace pair
}  // namespace zem
