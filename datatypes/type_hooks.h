// Calls from the core into datatypes that are built separately (binary!, map!, hash!, money!,
// tuple!, pair!, point2D!, point3D!, date!, vector!, image!). Each need is one named hook; until the type's
// module installs its function, calling the hook raises internal `not-done` naming the type, so
// core code can be written and tested against the hook before the type exists.
#pragma once

#include <cstdint>

#include "datatypes/registry.h"

namespace zem {

template <TypeId T, class Sig>
struct NotDone;
template <TypeId T, class R, class... A>
struct NotDone<T, R(A...)> {
  static R call(A...) { fire_not_done(T); }
};

// A hook of signature Sig belonging to type T.
template <TypeId T, class Sig>
struct TypeHook;
template <TypeId T, class R, class... A>
struct TypeHook<T, R(A...)> {
  R (*fn)(A...) = &NotDone<T, R(A...)>::call;
  R operator()(A... args) const { return fn(args...); }
  bool installed() const { return fn != &NotDone<T, R(A...)>::call; }
  void reset() { fn = &NotDone<T, R(A...)>::call; }
};

struct FurtherTypeHooks {
  // money!: arithmetic with slot 0 and slot 1 of the call when the other operand is money!; the
  // compare of a money value with another cell (also `same?` with COMP_SAME).
  TypeHook<TYPE_MONEY, Cell*(ActionCall&, MathOp)> money_do_math;
  TypeHook<TYPE_MONEY, int32_t(const Cell& money, const Cell& other, CompareOp)> money_compare;
  TypeHook<TYPE_MONEY, int32_t(const Cell& money)>
      money_to_integer;  // fraction dropped; raises when too big
  TypeHook<TYPE_MONEY, double(const Cell& money)> money_to_float;
  TypeHook<TYPE_MONEY, Cell(int32_t whole)> money_from_integer;
  TypeHook<TYPE_MONEY, Cell(double value, bool flag)> money_from_float;
  TypeHook<TYPE_MONEY, int32_t(const Cell& money)> money_sign;  // -1, 0 or 1
  TypeHook<TYPE_MONEY, bool(double value)> money_float_underflow;
  TypeHook<TYPE_MONEY, bool(double value)> money_float_overflow;
  // The money text: positions are byte offsets into `text`; none (-1) when absent. Answers false
  // when the digits make no amount.
  TypeHook<TYPE_MONEY, bool(Cell& target, const char* text, bool negative, int32_t currency,
                            int32_t start, int32_t point, int32_t end)>
      money_make_from_parts;

  // tuple!
  TypeHook<TYPE_TUPLE, Cell*(ActionCall&, MathOp)> tuple_do_math;
  TypeHook<TYPE_TUPLE, int32_t(const Cell& a, const Cell& b, CompareOp)> tuple_compare;
  TypeHook<TYPE_TUPLE, bool(const Cell& tuple)> tuple_zero;
  TypeHook<TYPE_TUPLE, Cell(uint32_t length, const uint8_t* bytes)> tuple_make;

  // pair!, point2D!, point3D!: arithmetic with a number in slot 1, negation in place, constructors.
  TypeHook<TYPE_PAIR, Cell*(ActionCall&, MathOp)> pair_do_math;
  TypeHook<TYPE_PAIR, void(Cell& pair)> pair_negate;
  TypeHook<TYPE_PAIR, void(Cell& target, int32_t x, int32_t y)> pair_set;
  TypeHook<TYPE_POINT2D, Cell*(ActionCall&, MathOp)> point2d_do_math;
  TypeHook<TYPE_POINT2D, void(Cell& point)> point2d_negate;
  TypeHook<TYPE_POINT2D, void(Cell& target, float x, float y)> point2d_set;
  TypeHook<TYPE_POINT3D, Cell*(ActionCall&, MathOp)> point3d_do_math;
  TypeHook<TYPE_POINT3D, void(Cell& point)> point3d_negate;
  TypeHook<TYPE_POINT3D, void(Cell& target, float x, float y, float z)> point3d_set;

  // date!
  TypeHook<TYPE_DATE, Cell*(ActionCall&, MathOp)> date_do_math;
  TypeHook<TYPE_DATE, void(Cell& target, int32_t year, int32_t month, int32_t day, double seconds,
                           int32_t zone_hours, int32_t zone_minutes, bool has_time)>
      date_set_all;
  TypeHook<TYPE_DATE, void(Cell& date, int32_t week)> date_set_week;
  TypeHook<TYPE_DATE, void(Cell& date, int32_t weekday)> date_set_weekday;
  TypeHook<TYPE_DATE, void(Cell& date, int32_t year_day)> date_set_year_day;
  TypeHook<TYPE_DATE, bool(int32_t year)> date_leap_year;
  TypeHook<TYPE_DATE, int32_t(const Cell& date, int32_t field)> date_get_field;
  TypeHook<TYPE_DATE, void(const Cell& a, const Cell& b, Cell& result)> date_difference;
  TypeHook<TYPE_DATE, int32_t(const Cell& date)> date_to_epoch_seconds;

  // vector!
  TypeHook<TYPE_VECTOR, void(MathOp, const Cell& vector, const Cell& other, Cell& result)>
      vector_do_math;
  TypeHook<TYPE_VECTOR, Cell(const Cell& vector, const uint8_t* element)> vector_element;
  TypeHook<TYPE_VECTOR, void(const Cell& vector, uint8_t* element, const Cell& value)>
      vector_set_element;
  TypeHook<TYPE_VECTOR, void(const Cell& vector, Cell& target)> vector_to_block;

  // binary!
  TypeHook<TYPE_BINARY, void(Cell& target, uint32_t capacity)> binary_make_at;
  TypeHook<TYPE_BINARY, Cell(const uint8_t* bytes, uint32_t count)> binary_load;
  TypeHook<TYPE_BINARY, void(Cell& target, const Cell& source, TypeId type)> binary_to;
  TypeHook<TYPE_BINARY, uint8_t(const Cell& value)> binary_byte_of_arg;
  TypeHook<TYPE_BINARY, bool(const Cell& input, const Cell& bitset)> binary_byte_in_bitset;
  TypeHook<TYPE_BINARY, int32_t(const Cell& input, const Cell& value, int32_t mode, bool prefix)>
      binary_match_series;
  TypeHook<TYPE_BINARY,
           void(Cell& target, const Cell& value, int32_t part, bool only, int32_t dup, bool append)>
      binary_append;

  // map!
  TypeHook<TYPE_MAP, bool(TypeId key_type)> map_valid_key;
  TypeHook<TYPE_MAP, void(Cell& key)> map_prepare_key;
  TypeHook<TYPE_MAP, void(Cell& target, const Cell& block, uint32_t count)> map_make_at;
  TypeHook<TYPE_MAP, void(const Cell& map, Cell& result)> map_body;
  TypeHook<TYPE_MAP, bool(const Cell& words, Cell& map, uint32_t count)> map_foreach_step;
  TypeHook<TYPE_MAP, void(Cell& map, const Cell& spec, bool case_sensitive)> map_extend;

  // hash!: the block handlers keep the index of a hash! current once its buffer holds the changed
  // cells. Positions are cell indexes from the buffer's first cell.
  TypeHook<TYPE_HASH, void(const Cell& hash, uint32_t at, uint32_t count)> hash_inserted;
  TypeHook<TYPE_HASH, void(const Cell& hash, uint32_t at, uint32_t count)> hash_removed;
  TypeHook<TYPE_HASH, void(const Cell& hash, uint32_t at, uint32_t count)> hash_changed;
  // `removed` cells at `at` were replaced by `inserted` ones in one step.
  TypeHook<TYPE_HASH, void(const Cell& hash, uint32_t at, uint32_t removed, uint32_t inserted)>
      hash_replaced;
  TypeHook<TYPE_HASH, void(const Cell& hash, uint32_t from, uint32_t count, uint32_t to)>
      hash_moved;
  TypeHook<TYPE_HASH, void(Cell& hash)> hash_new_index;  // a copy or take gets its own index
  // Position of the first cell equal to the value at or after the head, or -1.
  TypeHook<TYPE_HASH, int32_t(const Cell& hash, const Cell& value, CompareOp op)> hash_find;

  // image!: the pixels as bytes (mode 0 transparency, 1 R G B, 2 the stored B G R A words), the
  // pixel count (width × height, whatever the head) and the pixel at a linear index as a tuple (none
  // at the count).
  TypeHook<TYPE_IMAGE, Cell(const Cell& image, int32_t mode)> image_get_pixels;
  TypeHook<TYPE_IMAGE, uint32_t(const Cell& image)> image_pixel_count;
  TypeHook<TYPE_IMAGE, Cell(const Cell& image, uint32_t index)> image_pick_pixel;

  // The platform imaging service, made just before image! registers (nothing to do without it).
  void (*make_imaging_factory)() = [] {};
};

FurtherTypeHooks& further_type_hooks();

}  // namespace zem
