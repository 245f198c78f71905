// enbase and debase: the base-2, base-16, base-58 and base-64 text coders of byte data
// (datatypes/base_coders.h). Base 58 works by big-number division: its time grows with the square
// of the input's length, so it suits short data such as keys and addresses.
#include <algorithm>
#include <cstring>

#include "datatypes/base_coders.h"
#include "datatypes/binary.h"
#include "datatypes/string_storage.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zem {

namespace {

// The /base argument (64 without it): 2, 16, 58 or 64, else script `invalid-arg` naming it.
int base_arg(const int32_t* r) {
  if (r[0] < 0) return 64;
  const Cell base = *stack::arg(static_cast<uint32_t>(r[0]));
  int32_t b = base.int_value();
  if (b != 2 && b != 16 && b != 58 && b != 64) fire(Err::script_invalid_arg, &base);
  return b;
}

}  // namespace

uint32_t native_enbase(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_enbase, r);
  const int base = base_arg(r);
  Cell value = *stack::arg(0);
  const uint8_t* bytes;
  uint32_t n;
  if (value.is(TYPE_STRING)) {
    int32_t length = -1;
    bytes = reinterpret_cast<const uint8_t*>(unicode::string_to_utf8(value, &length));
    n = static_cast<uint32_t>(length);
  } else {
    n = binary::rs_length(value);
    bytes = n ? binary::rs_head(value) : nullptr;
  }
  uint64_t size = basecode::encoded_size(base, n);
  if (size > 0x7FFFFFFF) fire(Err::script_too_long);
  // The text is written in place: making the string allocates but moves no buffer.
  Cell result = str::make_string(static_cast<uint32_t>(size));
  SeriesBuffer* sb = series_buffer(result.node());
  char* out = reinterpret_cast<char*>(sb->head_ptr());
  char* end = basecode::encode(base, out, bytes, n);
  sb->set_length(static_cast<uint32_t>(end - out));
  stack::set_single_result(result);
  return EXIT_NONE;
}

uint32_t native_debase(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_debase, r);
  const int base = base_arg(r);
  const Cell text = *stack::arg(0);
  uint32_t count = str::count_from_head(text);
  uint64_t capacity = basecode::decoded_capacity(base, count);
  if (capacity > 0x7FFFFFFF) fire(Err::script_too_long);
  Cell result = binary::make(static_cast<uint32_t>(capacity));
  SeriesBuffer* tb = series_buffer(text.node());
  uint32_t unit = tb->unit();
  const uint8_t* p = tb->head_ptr() + static_cast<size_t>(std::min(text.head_index(), tb->length())) * unit;
  SeriesBuffer* sb = series_buffer(result.node());
  int64_t n = basecode::decode(base, p, count, unit, sb->head_ptr());
  if (n < 0) {
    stack::set_single_result(shared_cells.none);
    return EXIT_NONE;
  }
  sb->tail = sb->head + static_cast<uint32_t>(n);
  stack::set_single_result(result);
  return EXIT_NONE;
}

}  // namespace zem
