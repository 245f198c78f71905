// char!: construction, arithmetic on code points, comparison, form and mold.
#include "datatypes/char.h"

#include "datatypes/float.h"
#include "datatypes/string_storage.h"
#include "datatypes/type_hooks.h"
#include "evaluator/number_text.h"
#include "runtime/error.h"
#include "runtime/unicode.h"

namespace zem {

uint32_t char_apply(uint32_t cp, int32_t right, MathOp op, NumFault& fault) {
  IntResult r = integer_apply(int32_t(cp), right, op, false);
  if (r.fault != NumFault::none) {
    fault = r.fault;
    return 0;
  }
  if (r.promoted || r.value < 0 || uint32_t(r.value) > kCharMax) {
    fault = NumFault::overflow;
    return 0;
  }
  return uint32_t(r.value);
}

namespace {

int32_t append_hex_escape(TextOut& out, uint32_t cp) {
  static const char kHex[] = "0123456789ABCDEF";
  char buf[12];
  size_t n = 0;
  buf[n++] = '^';
  buf[n++] = '(';
  int shift = 28;
  while (shift > 0 && ((cp >> shift) & 0xF) == 0) shift -= 4;
  for (; shift >= 0; shift -= 4) buf[n++] = kHex[(cp >> shift) & 0xF];
  buf[n++] = ')';
  out.append_ascii(std::string_view(buf, n));
  return int32_t(n);
}

}  // namespace

int32_t append_escaped_char(TextOut& out, uint32_t cp, bool all) {
  // Position n holds the letter of control character n; 0x1E would read back as "^^", the caret.
  static const char kControl[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";
  if (cp == 0x1E || (cp >= 0x80 && cp <= 0x9F) || (cp > 0x7F && all)) {
    return append_hex_escape(out, cp);
  }
  char esc[2] = {'^', 0};
  if (cp < 0x20) esc[1] = kControl[cp];
  else if (cp == '"' || cp == '^') esc[1] = char(cp);
  else if (cp == 0x7F) esc[1] = '~';
  if (esc[1]) {
    out.append_ascii(std::string_view(esc, 2));
    return 2;
  }
  out.append_code_point(cp);
  return 1;
}

std::string char_mold_text(uint32_t cp, bool all) {
  StdStringOut out;
  out.append_ascii("#\"");
  append_escaped_char(out, cp, all);
  out.append_ascii("\"");
  return out.text();
}

namespace {

Cell* chr_do_math(ActionCall& call, MathOp op) {
  Cell& left = call.result();
  const Cell& right = call.arg(1);
  int32_t r;
  switch (right.type()) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
      r = right.int_value();
      break;
    case TYPE_FLOAT: {
      NumFault fault = NumFault::none;
      r = float_truncate(right.float_value(), fault);
      if (fault != NumFault::none) fire_num_fault(fault);
      break;
    }
    case TYPE_VECTOR: {
      Cell vector = right, ch = left;
      further_type_hooks().vector_do_math(op, vector, ch, left);
      return &left;
    }
    default: {
      Cell type = datatype_cell(right.type());
      fire(Err::script_invalid_type, &type);
    }
  }
  NumFault fault = NumFault::none;
  uint32_t cp = char_apply(left.char_value(), r, op, fault);
  if (fault != NumFault::none) fire_num_fault(fault);
  left.set_char_value(cp);
  return &left;
}

template <MathOp Op>
Cell* chr_math(ActionCall& call) {
  return chr_do_math(call, Op);
}

[[noreturn]] void fire_bad_char_spec(const Cell& spec) {
  Cell type = datatype_cell(TYPE_CHAR);
  fire(Err::script_bad_to_arg, &type, &spec);
}

uint32_t char_from_spec(const Cell& spec) {
  int64_t v;
  switch (str::is_text_type(spec.type()) ? TYPE_STRING : spec.type()) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
      v = spec.int_value();
      break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
      v = float_to_int_checked(spec);  // out-of-range beyond the int32 range, as below
      break;
    case TYPE_BINARY: {
      SeriesUnits b = series_units(spec);
      size_t len = b.length;
      int32_t cp = len ? unicode::decode_utf8_checked(static_cast<const uint8_t*>(b.data), len) : -1;
      if (cp < 0) fire_bad_char_spec(spec);  // no whole character at the head
      return uint32_t(cp);
    }
    case TYPE_STRING: {  // every text type
      SeriesUnits text = series_units(spec);
      if (text.length == 0) fire_bad_char_spec(spec);
      return code_unit_at(text.data, 0, text.unit);
    }
    default:
      fire_bad_char_spec(spec);
  }
  if (v < 0 || v > kCharMax) fire(Err::script_out_of_range, &spec);
  return uint32_t(v);
}

Cell* chr_make(ActionCall& call) {
  uint32_t cp = char_from_spec(call.arg(1));
  call.result() = make_char(cp);
  return &call.result();
}

int32_t chr_form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  out.append_code_point(value.char_value());
  return limit - 1;
}

int32_t chr_mold(const Cell& value, TextOut& out, MoldFlags flags, const Cell*, int32_t limit, int32_t) {
  out.append_ascii("#\"");
  append_escaped_char(out, value.char_value(), flags.all);
  out.append_ascii("\"");
  return limit - 4;
}

int32_t chr_compare(const Cell& a, const Cell& b, CompareOp op) {
  if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && !b.is(TYPE_CHAR)) return 1;
  if (!b.is(TYPE_CHAR) && !b.is(TYPE_INTEGER)) return kCannotCompare;
  return integer_compare(a.int_value(), b.int_value());
}

}  // namespace

void register_char() {
  register_type(TYPE_CHAR, TYPE_INTEGER, "char!",
                HandlerRow()
                    .set(ActionIndex::make, &chr_make)
                    .set(ActionIndex::random, kInherit)
                    .set(ActionIndex::to, &chr_make)
                    .set(ActionIndex::form, &chr_form)
                    .set(ActionIndex::mold, &chr_mold)
                    .set(ActionIndex::compare, &chr_compare)
                    .set(ActionIndex::absolute, kInherit)
                    .set(ActionIndex::add, &chr_math<OP_ADD>)
                    .set(ActionIndex::divide, &chr_math<OP_DIVIDE>)
                    .set(ActionIndex::multiply, &chr_math<OP_MULTIPLY>)
                    .set(ActionIndex::remainder, &chr_math<OP_REMAINDER>)
                    .set(ActionIndex::subtract, &chr_math<OP_SUBTRACT>)
                    .set(ActionIndex::even_q, kInherit)
                    .set(ActionIndex::odd_q, kInherit)
                    .set(ActionIndex::and_t, &chr_math<OP_AND>)
                    .set(ActionIndex::or_t, &chr_math<OP_OR>)
                    .set(ActionIndex::xor_t, &chr_math<OP_XOR>));
}

}  // namespace zem
