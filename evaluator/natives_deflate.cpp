// compress and decompress: raw deflate and its zlib and gzip containers (services/deflate.h).
//
// The codecs write into the new binary's buffer in place: making the binary allocates but moves no
// buffer, and nothing between the allocation and the codec's return reaches a safe point.
#include <algorithm>

#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "services/deflate.h"

namespace zem {

namespace {

using Codec = int (*)(uint8_t*, size_t*, const uint8_t*, size_t);

// Runs the codec into a new binary of `capacity` bytes (a first guess, kept within the series
// limit); on result 1 (too small) once more with the size the codec counted, which it measured by
// doing the work, never read from the data. Only that size can pass the limit: no-memory.
Cell run_codec(Codec codec, const uint8_t* in, size_t n, uint64_t capacity, const Cell& method) {
  capacity = std::min(capacity, static_cast<uint64_t>(kMaxSeriesBytes));
  for (int attempt = 0;; attempt++) {
    if (capacity > static_cast<uint64_t>(kMaxSeriesBytes)) fire(Err::internal_no_memory);
    Cell result = binary::make(static_cast<uint32_t>(capacity));
    SeriesBuffer* sb = series_buffer(result.node());
    size_t size = static_cast<size_t>(capacity);
    const int r = codec(sb->head_ptr(), &size, in, n);
    if (r == deflate::kDone) {
      // A buffer less than half used gives way to one of the exact size.
      if (size < capacity - size) return binary::load(sb->head_ptr(), static_cast<uint32_t>(size));
      sb->set_length(static_cast<uint32_t>(size));
      return result;
    }
    if (r != deflate::kTooSmall || attempt > 0) fire(Err::script_invalid_data, &method);
    capacity = size;
  }
}

}  // namespace

uint32_t native_compress(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_compress, r);
  Cell data = *stack::arg(0);
  const Cell method = *stack::arg(1);
  Codec codec;
  switch (deflate::method_of(method.word_symbol())) {
    case deflate::Method::zlib: codec = deflate::zlib_compress; break;
    case deflate::Method::deflate: codec = deflate::compress; break;
    case deflate::Method::gzip: codec = deflate::gzip; break;
    default: fire(Err::script_invalid_arg, &method);
  }
  const uint8_t* bytes;
  size_t n;
  if (data.is(TYPE_BINARY)) {
    n = binary::rs_length(data);
    bytes = n ? binary::rs_head(data) : nullptr;
  } else {  // text as UTF-8
    int32_t length = -1;
    bytes = reinterpret_cast<const uint8_t*>(unicode::string_to_utf8(data, &length));
    n = static_cast<size_t>(length);
  }
  stack::set_single_result(run_codec(codec, bytes, n, uint64_t(n) + 32, method));
  return EXIT_NONE;
}

uint32_t native_decompress(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_decompress, r);
  const Cell data = *stack::arg(0);
  const Cell method = *stack::arg(1);
  const deflate::Method m = deflate::method_of(method.word_symbol());
  const Codec codec = m == deflate::Method::zlib      ? deflate::zlib_decompress
                      : m == deflate::Method::deflate ? deflate::inflate
                      : m == deflate::Method::gzip    ? deflate::gunzip
                                                      : nullptr;
  if (!codec) fire(Err::script_invalid_arg, &method);
  const size_t n = binary::rs_length(data);
  const uint8_t* in = n ? binary::rs_head(data) : nullptr;
  uint64_t hint = 0;
  if (r[0] >= 0) hint = static_cast<uint64_t>(std::max(0, stack::arg(static_cast<uint32_t>(r[0]))->int_value()));
  // gzip's trailer tells the size modulo 2^32: a hint like /size, no more.
  if (m == deflate::Method::gzip && hint == 0 && n >= 4) {
    const uint8_t* t = in + n - 4;
    hint = uint32_t(t[0]) | uint32_t(t[1]) << 8 | uint32_t(t[2]) << 16 | uint32_t(t[3]) << 24;
  }
  // A size named by the caller or the data is trusted only up to what n bytes can inflate to;
  // without one, a guess: a codec that needs more says how much.
  const bool named = hint > n || (m == deflate::Method::gzip && hint > 0);
  const uint64_t capacity = std::min(named ? hint : 4 * uint64_t(n) + 64, deflate::max_inflated(n));
  stack::set_single_result(run_codec(codec, in, n, capacity, method));
  return EXIT_NONE;
}

}  // namespace zem
