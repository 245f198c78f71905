// vector!: construction, text, comparison, insertion and element-wise arithmetic of packed numbers.
#include "datatypes/vector.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/percent.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/support.h"

namespace zem::vector {

using ownership::Change;
using ownership::ChangeNotice;

namespace {

inline SeriesBuffer* buffer_of(const Cell& v) { return series_buffer(v.node()); }
inline uint32_t length_of(const Cell& v) { return buffer_of(v)->length(); }
inline uint32_t clamped_head(const Cell& v) { return std::min(v.head_index(), length_of(v)); }
inline uint8_t* element_ptr(const Cell& v, uint64_t index) {
  SeriesBuffer* b = buffer_of(v);
  return b->head_ptr() + index * b->unit();
}

[[noreturn]] void no_memory() { fire(Err::internal_no_memory); }

// Bytes for n elements of w bytes, checked against the largest series.
uint32_t checked_bytes(uint64_t n, uint64_t w) {
  if (n > static_cast<uint64_t>(kMaxSeriesBytes) / std::max<uint64_t>(w, 1)) no_memory();
  return static_cast<uint32_t>(n * w);
}

bool is_float_type(TypeId t) { return t == TYPE_FLOAT || t == TYPE_PERCENT; }
bool is_element_type(TypeId t) {
  return t == TYPE_CHAR || t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT;
}

// The integer of an integer or char element: integers sign-extend, code points zero-extend.
int64_t read_int(const uint8_t* p, uint32_t width, bool is_signed) {
  switch (width) {
    case 1: return is_signed ? static_cast<int8_t>(*p) : *p;
    case 2: {
      uint16_t u;
      std::memcpy(&u, p, 2);
      return is_signed ? static_cast<int16_t>(u) : u;
    }
    default: {
      uint32_t u;
      std::memcpy(&u, p, 4);
      return is_signed ? static_cast<int32_t>(u) : static_cast<int64_t>(u);
    }
  }
}

void write_int(uint8_t* p, uint32_t width, int64_t v) {
  uint32_t u = static_cast<uint32_t>(v);  // the low bits
  std::memcpy(p, &u, std::min<uint32_t>(width, 4));
}

double read_float(const uint8_t* p, uint32_t width) {
  if (width == 4) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
  }
  double d;
  std::memcpy(&d, p, 8);
  return d;
}

void write_float(uint8_t* p, uint32_t width, double d) {
  if (width == 4) {
    float f = static_cast<float>(d);
    std::memcpy(p, &f, 4);
  } else {
    std::memcpy(p, &d, 8);
  }
}

Cell make_element(TypeId type, const uint8_t* p, uint32_t width) {
  switch (type) {
    case TYPE_CHAR: return make_char(static_cast<uint32_t>(read_int(p, width, false)));
    case TYPE_INTEGER: return make_integer(static_cast<int32_t>(read_int(p, width, true)));
    case TYPE_FLOAT: return make_float(read_float(p, width));
    default: {
      Cell c{};
      percent::set_float(c, read_float(p, width));
      return c;
    }
  }
}

// Refuses a value that the vector cannot hold, before anything is written.
void check_value(TypeId element, const Cell& value) {
  if (!is_element_type(value.type())) {
    Cell type = datatype_cell(value.type());
    fire(Err::script_invalid_type, &type);
  }
  if (value.type() != element) fire(Err::script_invalid_arg, &value);
}

void store(TypeId element, uint8_t* p, uint32_t width, const Cell& value) {
  if (is_float_type(element))
    write_float(p, width, value.float_value());
  else
    write_int(p, width, element == TYPE_CHAR ? static_cast<int64_t>(value.char_value()) : value.int_value());
}

Cell vector_type_cell() { return datatype_cell(TYPE_VECTOR); }

// ---- make ---------------------------------------------------------------------------------------

// The element type named by a word of the spec, or TYPE_NONE_ID.
TypeId element_named(const Cell& word) {
  if (!block::is_word_kind(word.type())) return TYPE_NONE_ID;
  uint32_t canon = symbol::canonical_id(word.word_symbol());
  for (TypeId t : {TYPE_INTEGER, TYPE_CHAR, TYPE_FLOAT, TYPE_PERCENT}) {
    uint32_t id = symbol::find(type_name(t));
    if (id != 0 && symbol::canonical_id(id) == canon) return t;
  }
  return TYPE_NONE_ID;
}

// The values of a block from its head, copied out (numbers hold no references).
std::vector<Cell> block_values(const Cell& block, int64_t limit = -1) {
  SeriesBuffer* b = series_buffer(block.node());
  uint32_t len = b->length();
  uint32_t h = std::min(block.head_index(), len);
  uint32_t n = len - h;
  if (limit >= 0) n = static_cast<uint32_t>(std::min<int64_t>(n, limit));
  return std::vector<Cell>(b->cells_head() + h, b->cells_head() + h + n);
}

Cell make_from(const Cell& spec) {
  if (spec.is(TYPE_INTEGER) || spec.is(TYPE_FLOAT)) {
    int32_t n = float_to_int_checked(spec);
    if (n < 0) fire(Err::script_out_of_range, &spec);
    Cell v = make_sized(static_cast<uint32_t>(n), TYPE_INTEGER, 4);
    SeriesBuffer* b = buffer_of(v);
    std::memset(b->head_ptr(), 0, static_cast<size_t>(n) * 4);
    b->set_length(static_cast<uint32_t>(n));
    return v;
  }
  if (!spec.is(TYPE_BLOCK)) fire(Err::internal_not_done);
  std::vector<Cell> items = block_values(spec);
  TypeId type;
  uint32_t width;
  int64_t count = -1;
  std::vector<Cell> values;
  if (!items.empty() && block::is_word_kind(items[0].type())) {
    Cell vt = vector_type_cell();
    type = element_named(items[0]);
    if (type == TYPE_NONE_ID || items.size() < 2) fire(Err::script_bad_make_arg, &vt, &spec);
    size_t i = 1;
    if (items[1].is(TYPE_INTEGER)) {
      int32_t bits = items[1].int_value();
      bool ok = type == TYPE_PERCENT ||
                (is_float_type(type) ? bits == 32 || bits == 64 : bits == 8 || bits == 16 || bits == 32);
      if (!ok) fire(Err::script_bad_make_arg, &vt, &spec);
      width = type == TYPE_PERCENT ? 8 : static_cast<uint32_t>(bits) / 8;
      i = 2;
    } else if (type == TYPE_PERCENT) {
      width = 8;
    } else if (items[1].is(TYPE_BLOCK)) {
      fire(Err::script_invalid_spec_field, &spec);
    } else {
      fire(Err::script_bad_make_arg, &vt, &spec);
    }
    if (i < items.size() && items[i].is(TYPE_INTEGER)) {
      count = items[i].int_value();
      if (count < 0) fire(Err::script_invalid_spec_field, &spec);
      i++;
    }
    if (i < items.size() && items[i].is(TYPE_BLOCK)) {
      values = block_values(items[i]);
      i++;
    }
    if (i < items.size()) fire(Err::script_invalid_spec_field, &spec);
  } else {
    values = std::move(items);
    type = values.empty() ? TYPE_INTEGER : values[0].type();
    if (!is_element_type(type)) {
      Cell dt = datatype_cell(type);
      fire(Err::script_invalid_type, &dt);
    }
    width = default_width(type);
  }
  for (const Cell& value : values) check_value(type, value);
  uint64_t total = std::max<uint64_t>(count < 0 ? 0 : static_cast<uint64_t>(count), values.size());
  checked_bytes(total, width);
  Cell v = make_sized(static_cast<uint32_t>(std::max<uint64_t>(total, 1)), type, width);
  SeriesBuffer* b = buffer_of(v);
  std::memset(b->head_ptr(), 0, static_cast<size_t>(total) * width);
  for (size_t k = 0; k < values.size(); k++) store(type, b->head_ptr() + k * width, width, values[k]);
  b->set_length(static_cast<uint32_t>(total));
  return v;
}

Cell* make_handler(ActionCall& call) {
  Cell spec = call.arg(1);
  call.result() = make_from(spec);
  return &call.result();
}

// ---- form and mold ------------------------------------------------------------------------------

// Counts the code points written, for the /part budget.
class CountingOut final : public TextOut {
 public:
  explicit CountingOut(TextOut& out) : out_(out) {}
  void append_ascii(std::string_view text) override {
    out_.append_ascii(text);
    count_ += static_cast<int32_t>(text.size());
  }
  void append_code_point(uint32_t cp) override {
    out_.append_code_point(cp);
    count_++;
  }
  int32_t count() const { return count_; }

 private:
  TextOut& out_;
  int32_t count_ = 0;
};

// The elements from the head separated by blanks; answers the reduced budget.
int32_t emit_elements(const Cell& v, TextOut& out, bool mold, const Cell* part, int32_t limit) {
  const TypeId type = v.vector_type();
  const uint32_t width = width_of(v);
  const uint32_t h = clamped_head(v);
  // Read through the node at each step: the output may grow buffers.
  for (uint32_t i = h; i < length_of(v); i++) {
    CountingOut counted(out);
    if (i > h) counted.append_ascii(" ");
    const uint8_t* p = element_ptr(v, i);
    switch (type) {
      case TYPE_CHAR: {
        uint32_t cp = static_cast<uint32_t>(read_int(p, width, false));
        if (mold) counted.append_ascii("#\"");
        append_escaped_char(counted, cp, false);
        if (mold) counted.append_ascii("\"");
        break;
      }
      case TYPE_INTEGER:
        counted.append_ascii(integer_to_text(static_cast<int32_t>(read_int(p, width, true))));
        break;
      case TYPE_FLOAT:
        counted.append_ascii(float_to_text(read_float(p, width), width == 4 ? FLOAT_TEXT_SINGLE : FLOAT_TEXT_DOUBLE));
        break;
      default:
        counted.append_ascii(float_to_text(read_float(p, width) * 100,
                                           width == 4 ? FLOAT_TEXT_SINGLE_PERCENT : FLOAT_TEXT_PERCENT));
        break;
    }
    limit -= counted.count();
    if (part && limit <= 0) return limit;
  }
  return limit;
}

int32_t form_handler(const Cell& value, TextOut& out, const Cell* part, int32_t limit) {
  return emit_elements(value, out, false, part, limit);
}

int32_t mold_handler(const Cell& value, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                     int32_t) {
  if (flags.only) return emit_elements(value, out, true, part, limit);
  CountingOut counted(out);
  counted.append_ascii("make vector! [");
  const TypeId type = value.vector_type();
  const uint32_t width = width_of(value);
  const bool plain = count_from_head(value) > 0 && width == default_width(type);
  if (!plain) {
    counted.append_ascii(type_name(type));
    counted.append_ascii(" ");
    counted.append_ascii(integer_to_text(static_cast<int32_t>(width * 8)));
    counted.append_ascii(" [");
  }
  limit -= counted.count();
  if (part && limit <= 0) return limit;
  limit = emit_elements(value, out, true, part, limit);
  if (part && limit <= 0) return limit;
  std::string_view close = plain ? "]" : "]]";
  out.append_ascii(close);
  return limit - static_cast<int32_t>(close.size());
}

// ---- compare ------------------------------------------------------------------------------------

int32_t compare_handler(const Cell& a, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_VECTOR)) return kCannotCompare;
  const bool same = a.node() == b.node() && a.head_index() == b.head_index();
  if (op == COMP_SAME) return same ? 0 : -1;
  if (a.vector_type() != b.vector_type()) {
    // A search walks past a vector of another element type: find, select and hash! lookups over
    // mixed vectors would otherwise fail on the first one in the way.
    if (op == COMP_FIND) return 1;
    fire(Err::script_not_same_type);
  }
  const bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
  if (same && equality) return 0;
  const uint32_t na = count_from_head(a), nb = count_from_head(b);
  if (equality && na != nb) return 1;
  const TypeId type = a.vector_type();
  const uint32_t wa = width_of(a), wb = width_of(b);
  const uint32_t ha = clamped_head(a), hb = clamped_head(b);
  for (uint32_t i = 0; i < std::min(na, nb); i++) {
    const uint8_t* pa = element_ptr(a, ha + i);
    const uint8_t* pb = element_ptr(b, hb + i);
    int d;
    if (is_float_type(type)) {
      double x = read_float(pa, wa), y = read_float(pb, wb);
      d = x < y ? -1 : x > y ? 1 : x == y ? 0 : 1;
    } else {
      bool s = type == TYPE_INTEGER;
      int64_t x = read_int(pa, wa, s), y = read_int(pb, wb, s);
      d = x < y ? -1 : x > y ? 1 : 0;
    }
    if (d != 0) return d;
  }
  if (na == nb) return 0;
  return na < nb ? -1 : 1;
}

// ---- Arithmetic ---------------------------------------------------------------------------------

// The integer operation on two elements: add, subtract and multiply wrap around; a zero divisor
// raises math `zero-divide`. The caller keeps the element's low bits.
int64_t int_op(MathOp op, int64_t l, int64_t r) {
  switch (op) {
    case OP_ADD: return l + r;
    case OP_SUBTRACT: return l - r;
    case OP_MULTIPLY: return static_cast<int64_t>(static_cast<uint64_t>(l) * static_cast<uint64_t>(r));
    case OP_DIVIDE:
      if (r == 0) fire(Err::math_zero_divide);
      return l / r;
    case OP_REMAINDER:
      if (r == 0) fire(Err::math_zero_divide);
      return l % r;
    case OP_OR: return l | r;
    case OP_AND: return l & r;
    default: return l ^ r;
  }
}

double float_op(MathOp op, double l, double r) {
  NumFault fault = NumFault::none;
  return float_apply(l, r, op, fault);
}

// The bitwise operations have no meaning on floats.
void refuse_bitwise(MathOp op, TypeId element) {
  if ((op == OP_OR || op == OP_AND || op == OP_XOR) && is_float_type(element)) {
    Cell type = datatype_cell(element);
    fire(Err::script_invalid_type, &type);
  }
}

template <typename T, typename F>
void zip_with(F f, const uint8_t* pa, const uint8_t* pb, uint8_t* out, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    T x, y;
    std::memcpy(&x, pa + static_cast<size_t>(i) * sizeof(T), sizeof(T));
    std::memcpy(&y, pb + static_cast<size_t>(i) * sizeof(T), sizeof(T));
    T r = f(x, y);
    std::memcpy(out + static_cast<size_t>(i) * sizeof(T), &r, sizeof(T));
  }
}

template <typename T, typename F>
void map_with(F f, uint8_t* p, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    T x;
    std::memcpy(&x, p + static_cast<size_t>(i) * sizeof(T), sizeof(T));
    x = f(x);
    std::memcpy(p + static_cast<size_t>(i) * sizeof(T), &x, sizeof(T));
  }
}

// add, subtract, multiply (and for doubles divide) of a run of words by k, in place.
template <typename T>
void map_words(MathOp op, uint8_t* p, uint32_t n, T k) {
  if (op == OP_ADD)
    map_with<T>([k](T x) { return x + k; }, p, n);
  else if (op == OP_SUBTRACT)
    map_with<T>([k](T x) { return x - k; }, p, n);
  else if (op == OP_MULTIPLY)
    map_with<T>([k](T x) { return x * k; }, p, n);
  else
    map_with<T>([k](T x) { return x / k; }, p, n);
}

// add, subtract or multiply of two runs of words of one type.
template <typename T>
void zip_words(MathOp op, const uint8_t* pa, const uint8_t* pb, uint8_t* out, uint32_t n) {
  if (op == OP_ADD)
    zip_with<T>([](T x, T y) { return x + y; }, pa, pb, out, n);
  else if (op == OP_SUBTRACT)
    zip_with<T>([](T x, T y) { return x - y; }, pa, pb, out, n);
  else
    zip_with<T>([](T x, T y) { return x * y; }, pa, pb, out, n);
}

void vector_with_vector(MathOp op, Cell& v, const Cell& other) {
  const TypeId type = v.vector_type();
  if (other.vector_type() != type) fire(Err::script_not_same_type);
  refuse_bitwise(op, type);
  const uint32_t wa = width_of(v), wb = width_of(other);
  const uint32_t width = std::max(wa, wb);
  const uint32_t n = std::min(count_from_head(v), count_from_head(other));
  const uint32_t ha = clamped_head(v), hb = clamped_head(other);
  Cell result = make_sized(std::max<uint32_t>(n, 1), type, width);
  buffer_of(result)->set_length(n);
  const bool is_signed = type == TYPE_INTEGER;
  if (wa == wb && (op == OP_ADD || op == OP_SUBTRACT || op == OP_MULTIPLY) &&
      ((width == 4 && !is_float_type(type)) || (width == 8 && is_float_type(type)))) {
    // The common cases as plain loops the compiler can vectorise: unsigned words wrap around.
    const uint8_t* pa = element_ptr(v, ha);
    const uint8_t* pb = element_ptr(other, hb);
    uint8_t* out = element_ptr(result, 0);
    if (width == 4)
      zip_words<uint32_t>(op, pa, pb, out, n);
    else
      zip_words<double>(op, pa, pb, out, n);
    v.set_series(0, result.node());
    return;
  }
  for (uint32_t i = 0; i < n; i++) {
    const uint8_t* pa = element_ptr(v, ha + i);
    const uint8_t* pb = element_ptr(other, hb + i);
    uint8_t* out = element_ptr(result, i);
    if (is_float_type(type))
      write_float(out, width, float_op(op, read_float(pa, wa), read_float(pb, wb)));
    else
      write_int(out, width, int_op(op, read_int(pa, wa, is_signed), read_int(pb, wb, is_signed)));
  }
  v.set_series(0, result.node());
}

void vector_with_scalar(MathOp op, const Cell& v, const Cell& scalar) {
  const TypeId st = scalar.type();
  if (st != TYPE_INTEGER && st != TYPE_FLOAT && st != TYPE_PERCENT) fire(Err::internal_not_done);
  const TypeId type = v.vector_type();
  refuse_bitwise(op, type);
  const bool one = st == TYPE_INTEGER ? scalar.int_value() == 1 : scalar.float_value() == 1.0;
  const bool zero = st == TYPE_INTEGER ? scalar.int_value() == 0 : scalar.float_value() == 0.0;
  if (((op == OP_ADD || op == OP_SUBTRACT) && zero) || ((op == OP_MULTIPLY || op == OP_DIVIDE) && one))
    return;
  const uint32_t width = width_of(v);
  const uint32_t h = clamped_head(v), len = length_of(v);
  uint8_t* base = element_ptr(v, 0);
  if (is_float_type(type)) {
    const double r = st == TYPE_INTEGER ? static_cast<double>(scalar.int_value()) : scalar.float_value();
    if (width == 8 && op != OP_REMAINDER) {
      map_words<double>(op, base + static_cast<size_t>(h) * 8, len - h, r);
    } else {
      for (uint32_t i = h; i < len; i++) {
        uint8_t* p = base + static_cast<size_t>(i) * width;
        write_float(p, width, float_op(op, read_float(p, width), r));
      }
    }
    return;
  }
  int64_t r;
  if (st == TYPE_INTEGER) {
    r = scalar.int_value();
  } else {
    NumFault fault = NumFault::none;
    r = float_truncate(scalar.float_value(), fault);
    if (fault != NumFault::none) fire_num_fault(fault);
  }
  if ((op == OP_DIVIDE || op == OP_REMAINDER) && r == 0) fire(Err::math_zero_divide);
  const bool is_signed = type == TYPE_INTEGER;
  if (width == 4 && is_signed && (op == OP_ADD || op == OP_SUBTRACT || op == OP_MULTIPLY)) {
    // The common case, written so the compiler can vectorise it: unsigned arithmetic wraps.
    map_words<uint32_t>(op, base + static_cast<size_t>(h) * 4, len - h, static_cast<uint32_t>(r));
    return;
  }
  for (uint32_t i = h; i < len; i++) {
    uint8_t* p = base + static_cast<size_t>(i) * width;
    write_int(p, width, int_op(op, read_int(p, width, is_signed), r));
  }
}

template <MathOp Op>
Cell* math_handler(ActionCall& call) {
  const Cell other = call.arg(1);
  Cell v = call.arg(0);
  math(Op, v, other, call.result());
  return &call.result();
}

// ---- append, insert, change ---------------------------------------------------------------------

// The values an append, insert or change takes: a block's values (at most `part`), a vector's
// elements (change only), or the value itself; each checked against the element type.
std::vector<Cell> new_values(const Cell& v, const Cell& value, int64_t part, bool only, bool with_vectors) {
  std::vector<Cell> values;
  const TypeId t = value.type();
  const bool list = t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH;
  if (!only && (list || (with_vectors && block::is_block_kind(t)))) {
    values = block_values(value, part);
  } else if (with_vectors && t == TYPE_VECTOR) {
    const uint32_t w = width_of(value), h = clamped_head(value), n = count_from_head(value);
    for (uint32_t i = 0; i < n; i++) values.push_back(make_element(value.vector_type(), element_ptr(value, h + i), w));
  } else {
    values.push_back(value);
  }
  for (const Cell& c : values) check_value(v.vector_type(), c);
  return values;
}

// Writes the values `dup` times from element `at` on (room already made).
void write_values(const Cell& v, uint32_t at, const std::vector<Cell>& values, uint32_t dup) {
  const TypeId type = v.vector_type();
  const uint32_t width = width_of(v);
  uint8_t* p = element_ptr(v, at);
  for (size_t i = 0; i < values.size(); i++) store(type, p + i * width, width, values[i]);
  const uint32_t bytes = static_cast<uint32_t>(values.size()) * width;
  if (dup > 1 && bytes > 0) replicate_bytes(p, bytes, dup);
}

int32_t dup_count(ActionCall& call) {
  const Cell* d = call.refinement_arg(strings::APPEND_DUP);
  return d ? std::max(d->int_value(), 0) : 1;
}

Cell* append_or_insert(ActionCall& call, bool append_mode) {
  Cell v = call.arg(0);
  const Cell value = call.arg(1);
  int64_t part = -1;
  if (const Cell* p = call.refinement_arg(strings::APPEND_PART)) {
    if (!p->is(TYPE_INTEGER)) series::bad_refine_arg(call, strings::APPEND_PART, *p);
    part = std::max(p->int_value(), 0);
  }
  const uint32_t dup = static_cast<uint32_t>(dup_count(call));
  std::vector<Cell> values = new_values(v, value, part, call.has(strings::APPEND_ONLY), false);
  const uint32_t width = width_of(v);
  const uint64_t added = static_cast<uint64_t>(values.size()) * dup;
  checked_bytes(static_cast<uint64_t>(length_of(v)) + added, width);
  const uint32_t at0 = append_mode ? length_of(v) : clamped_head(v);
  ChangeNotice notice(v, append_mode ? Change::append : Change::insert, &value, static_cast<int32_t>(at0),
                      static_cast<int32_t>(added));
  const uint32_t len = length_of(v);
  const uint32_t at = append_mode ? len : std::min(clamped_head(v), len);
  const uint32_t bytes = static_cast<uint32_t>(added) * width;
  SeriesBuffer* b = buffer_of(v);
  if (b->room() < bytes) b = str::reserve_bytes(v.node(), bytes);
  uint8_t* p = b->head_ptr() + static_cast<size_t>(at) * width;
  std::memmove(p + bytes, p, static_cast<size_t>(len - at) * width);
  b->tail += bytes;
  write_values(v, at, values, dup);
  notice.done(v, &value, static_cast<int32_t>(at), static_cast<int32_t>(added));
  if (!append_mode) v.set_head_index(at + static_cast<uint32_t>(added));
  call.result() = v;
  return &call.result();
}

Cell* append_handler(ActionCall& call) { return append_or_insert(call, true); }
Cell* insert_handler(ActionCall& call) { return append_or_insert(call, false); }

Cell* change_handler(ActionCall& call) {
  Cell v = call.arg(0);
  const Cell value = call.arg(1);
  const uint32_t dup = static_cast<uint32_t>(dup_count(call));
  std::vector<Cell> values = new_values(v, value, -1, call.has(strings::APPEND_ONLY), true);
  const uint32_t width = width_of(v);
  const uint64_t total = static_cast<uint64_t>(values.size()) * dup;
  checked_bytes(static_cast<uint64_t>(length_of(v)) + total, width);
  int64_t part = -1;
  if (const Cell* p = call.refinement_arg(strings::APPEND_PART)) {
    if (p->is(TYPE_INTEGER)) {
      part = std::max(p->int_value(), 0);
    } else if (p->is(TYPE_VECTOR) && p->node() == v.node()) {
      part = std::max<int64_t>(0, static_cast<int64_t>(std::min(p->head_index(), length_of(v))) - clamped_head(v));
    } else {
      series::bad_refine_arg(call, strings::APPEND_PART, *p);
    }
  }
  uint32_t h = clamped_head(v);
  const int32_t announced = static_cast<int32_t>(part >= 0 ? part : std::min<uint64_t>(total, length_of(v) - h));
  ChangeNotice notice(v, Change::change, &value, static_cast<int32_t>(h), announced);
  const uint32_t len = length_of(v);
  h = std::min(h, len);
  const uint32_t avail = len - h;
  const uint32_t replaced = part >= 0 ? static_cast<uint32_t>(std::min<int64_t>(part, avail))
                                      : static_cast<uint32_t>(std::min<uint64_t>(total, avail));
  const uint32_t bytes = static_cast<uint32_t>(total) * width;
  if (total > replaced) {
    SeriesBuffer* b = buffer_of(v);
    uint32_t extra = (static_cast<uint32_t>(total) - replaced) * width;
    if (b->room() < extra) str::reserve_bytes(v.node(), extra);
  }
  SeriesBuffer* b = buffer_of(v);
  uint8_t* p = b->head_ptr() + static_cast<size_t>(h) * width;
  std::memmove(p + bytes, p + static_cast<size_t>(replaced) * width, static_cast<size_t>(avail - replaced) * width);
  b->tail = b->head + (len - replaced + static_cast<uint32_t>(total)) * width;
  write_values(v, h, values, dup);
  notice.done(v, &value, static_cast<int32_t>(h), static_cast<int32_t>(total));
  v.set_head_index(h + static_cast<uint32_t>(total));
  call.result() = v;
  return &call.result();
}

}  // namespace

// ---- Public helpers -----------------------------------------------------------------------------

uint32_t default_width(TypeId element) { return is_float_type(element) ? 8 : 4; }

uint32_t width_of(const Cell& v) { return buffer_of(v)->unit(); }

uint32_t count_from_head(const Cell& v) { return length_of(v) - clamped_head(v); }

Cell element(const Cell& v, const uint8_t* p) { return make_element(v.vector_type(), p, width_of(v)); }

void set_element(const Cell& v, uint8_t* p, const Cell& value) {
  check_value(v.vector_type(), value);
  store(v.vector_type(), p, width_of(v), value);
}

Cell make_sized(uint32_t count, TypeId element, uint32_t width) {
  checked_bytes(count, width);
  Cell v{};
  v.set_header(TYPE_VECTOR);
  v.set_series(0, alloc::make_series(std::max<uint32_t>(count, 1), width));
  v.set_vector_type(element);
  return v;
}

void append_value(const Cell& v, const Cell& value) {
  check_value(v.vector_type(), value);
  const uint32_t width = width_of(v);
  checked_bytes(static_cast<uint64_t>(length_of(v)) + 1, width);
  SeriesBuffer* b = buffer_of(v);
  if (b->room() < width) b = str::reserve_bytes(v.node(), width);
  store(v.vector_type(), b->tail_ptr(), width, value);
  b->tail += width;
}

void to_block(const Cell& v, Cell& target) {
  const uint32_t n = count_from_head(v);
  Cell block = block::make(std::max<uint32_t>(n, 1));
  const uint32_t h = clamped_head(v);
  for (uint32_t i = 0; i < n; i++) block::append_cell(block, element(v, element_ptr(v, h + i)));
  target = block;
}

void math(MathOp op, const Cell& v, const Cell& other, Cell& result) {
  Cell out = v;
  if (other.is(TYPE_VECTOR))
    vector_with_vector(op, out, other);
  else
    vector_with_scalar(op, out, other);
  result = out;
}

// ---- Registration -------------------------------------------------------------------------------

void register_vector_type() {
  HandlerRow row(kInherit);
  row.set(ActionIndex::make, make_handler)
      .set(ActionIndex::form, &form_handler)
      .set(ActionIndex::mold, &mold_handler)
      .set(ActionIndex::compare, &compare_handler)
      .set(ActionIndex::add, &math_handler<OP_ADD>)
      .set(ActionIndex::divide, &math_handler<OP_DIVIDE>)
      .set(ActionIndex::multiply, &math_handler<OP_MULTIPLY>)
      .set(ActionIndex::remainder, &math_handler<OP_REMAINDER>)
      .set(ActionIndex::subtract, &math_handler<OP_SUBTRACT>)
      .set(ActionIndex::and_t, &math_handler<OP_AND>)
      .set(ActionIndex::or_t, &math_handler<OP_OR>)
      .set(ActionIndex::xor_t, &math_handler<OP_XOR>)
      .set(ActionIndex::append, append_handler)
      .set(ActionIndex::change, change_handler)
      .set(ActionIndex::insert, insert_handler);
  for (ActionIndex a : {ActionIndex::to, ActionIndex::set_path, ActionIndex::absolute, ActionIndex::negate,
                        ActionIndex::power, ActionIndex::round, ActionIndex::even_q, ActionIndex::odd_q,
                        ActionIndex::complement, ActionIndex::put, ActionIndex::swap, ActionIndex::trim})
    row.set(a, kEmpty);
  for (int a = static_cast<int>(ActionIndex::create); a <= static_cast<int>(ActionIndex::write); a++)
    if (static_cast<ActionIndex>(a) != ActionIndex::modify) row.set(static_cast<ActionIndex>(a), kEmpty);
  register_type(TYPE_VECTOR, TYPE_STRING, "vector!", row);

  FurtherTypeHooks& h = further_type_hooks();
  h.vector_do_math.fn = [](MathOp op, const Cell& v, const Cell& other, Cell& result) {
    math(op, v, other, result);
  };
  h.vector_element.fn = &element;
  h.vector_set_element.fn = &set_element;
  h.vector_to_block.fn = &to_block;
}

}  // namespace zem::vector
