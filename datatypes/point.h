// point2D! and point3D!: float32 components, arithmetic in double. One implementation serves both;
// point3D! adds z. Equality is nearly-equal within 10 single-precision steps (not transitive),
// strict equality exact, same? by bits.
#pragma once

#include <array>
#include <cstdint>

#include "datatypes/registry.h"

namespace zem {
namespace point {

Cell make2(float x, float y);
Cell make3(float x, float y, float z);
void set2(Cell& target, float x, float y);
void set3(Cell& target, float x, float y, float z);
// The components of a point2D! or point3D! (z is 0 for point2D!).
std::array<double, 3> components(const Cell& p);
inline uint32_t dimensions(const Cell& p) { return p.is(TYPE_POINT3D) ? 3 : 2; }

// The point (slot 0) combined with the operand (slot 1); the result in slot 0.
Cell* do_math(ActionCall& call, MathOp op);
// The same as a pure function: `word` names the action in errors (may be null).
Cell math(const Cell& p, const Cell& operand, MathOp op, const Cell* word);
void negate(Cell& p);
int32_t compare(const Cell& a, const Cell& b, CompareOp op);

// The key of a point that maps and hashes use: equal keys for strictly equal points (-0.0 and 0.0
// alike), so exact equality, unlike the nearly-equal of equal?, can index a table.
std::array<uint32_t, 3> exact_key(const Cell& p);

void register_2d();
void register_3d();

}  // namespace point
}  // namespace zem
