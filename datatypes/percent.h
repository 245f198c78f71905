// percent!: a float! (50% holds 0.5) that prints as a percentage; every number action is float!'s.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zem::percent {

double get_float(const Cell& cell);
void set_float(Cell& cell, double d);
// From the two 32-bit halves of the double.
void set_words(Cell& cell, uint32_t high, uint32_t low);
// The current call's result slot becomes the percent.
void set_result(double d);
Cell* append_new(const Cell& block, uint32_t high, uint32_t low);
Cell* push_words(uint32_t high, uint32_t low);
Cell* push(double d);

void register_type();

}  // namespace zem::percent
