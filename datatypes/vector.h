// vector!: a packed series of numbers of one element type (char!, integer!, float!, percent!) in 1,
// 2, 4 or 8 bytes each. The series machinery is string!'s: the buffer's unit is the element width
// and the shared handlers read and write elements through `element` and `set_element`.
//
// Element rules: integer! elements are signed (1- and 2-byte ones sign-extend on reading), char!
// elements are code points (zero-extended), writing keeps the low 8, 16 or 32 bits; float! elements
// are singles (4 bytes) or doubles (8), percent! elements doubles holding the fraction. A value
// stored into a vector must have the element type: anything else raises script `invalid-arg`.
#pragma once

#include <cstdint>

#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace zem::vector {

// The default width in bytes of an element type (4 for char! and integer!, 8 for float! and percent!).
uint32_t default_width(TypeId element);
// Element width of the vector (its buffer's unit).
uint32_t width_of(const Cell& v);
// Elements from the head to the tail (0 when the head lies past the tail).
uint32_t count_from_head(const Cell& v);

// The element at the address as a value of the vector's element type.
Cell element(const Cell& v, const uint8_t* p);
// Stores the value at the address; a value of another type than the element type raises script
// `invalid-arg` (a value of no number type `invalid-type` with its datatype).
void set_element(const Cell& v, uint8_t* p, const Cell& value);

// An empty vector with room for `count` elements (count × width beyond a series: internal
// `no-memory`).
Cell make_sized(uint32_t count, TypeId element, uint32_t width);
// Appends one value at the tail (type checked as set_element).
void append_value(const Cell& v, const Cell& value);
// A new block of the elements from the head.
void to_block(const Cell& v, Cell& target);

// The arithmetic entry: `other` a vector (a new buffer of the wider width and the shorter count
// replaces the result's) or a scalar (element-wise, in place from the head). `result` gets the vector.
void math(MathOp op, const Cell& v, const Cell& other, Cell& result);

void register_vector_type();

}  // namespace zem::vector
