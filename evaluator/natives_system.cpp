// Output, memory and environment natives: print, prin, stats, recycle, as, get-env, set-env; and the
// text natives over string storage and case folding: uppercase and lowercase.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "datatypes/integer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/casefold.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/mem_stats.h"
#include "runtime/unicode.h"
#include "services/os/environment.h"
#include "services/output.h"

namespace zem {

namespace {

uint32_t answer(const Cell& v) {
  stack::set_single_result(v);
  return EXIT_NONE;
}

struct PrintState {
  bool last_line_feed = false;
};
PrintState print_state;

// Writes a string value from its position through the print hooks.
void print_string(Cell s, bool line_feed) {
  uint32_t count = str::count_from_head(s);
  uint32_t unit = series_buffer(s.node())->unit();
  const uint8_t* text = count ? str::head_address(s) : nullptr;
  stdio::print_formed(&s, text, static_cast<size_t>(count) * unit, static_cast<int>(unit),
                      line_feed);
}

// print and prin: a block is reduced into the scratch block after the values of any print running
// further out, formed, and cut back; a string prints from its position; anything else is formed.
uint32_t print_value(bool line_feed) {
  Cell value = *stack::arg(0);
  print_state.last_line_feed = line_feed;
  Cell text;
  if (value.is(TYPE_BLOCK)) {
    Cell scratch = natives::print_scratch();
    uint32_t start = natives::series_tail(scratch);
    scratch.set_head_index(start);
    stack::push_anon_frame(FRAME_NATIVE);
    stack::push_value(value);
    stack::push_value(scratch);
    const int32_t into[] = {1};
    uint32_t st;
    try {
      st = native_reduce(0, into);
    } catch (const Unwind&) {
      block::truncate_at(scratch.node(), start);
      throw;
    }
    if (st) {
      block::truncate_at(scratch.node(), start);
      return st;
    }
    stack::pop_frame_discard();
    text = actions::form_value(scratch);
    block::truncate_at(scratch.node(), start);
  } else if (value.is(TYPE_STRING)) {
    text = value;
    uint32_t tail = natives::series_tail(text);
    if (text.head_index() > tail) text.set_head_index(tail);
  } else {
    text = actions::form_value(value);
  }
  stack::push_value(text);  // rooted while it is written
  print_string(text, line_feed);
  return answer(make_unset());
}

Cell memory_in_use() {
  double bytes = debug::memory_stats(0, 1);
  if (bytes > 2147483647.0) {
    Cell f{};
    f.set_header(TYPE_FLOAT);
    f.set_float_payload(bytes);
    return f;
  }
  return make_integer(static_cast<int32_t>(bytes));
}

// The UTF-8 text of a string or the name of a word.
std::string name_text(Cell v) {
  if (v.type() >= TYPE_WORD && v.type() <= TYPE_GET_WORD) return std::string(symbol::name(v.word_symbol()));
  int32_t length = -1;
  const char* s = unicode::string_to_utf8(v, &length);
  return std::string(s, static_cast<size_t>(length));
}

uint32_t change_case_native(uint32_t index, int32_t check, const int32_t* r, bool upper) {
  if (check) natives::check_args(index, r);
  Cell* part = r[0] >= 0 ? stack::arg(static_cast<uint32_t>(r[0])) : nullptr;
  Cell value = *stack::arg(0);
  casefold::change_case(value, part, upper);
  return answer(value);
}

}  // namespace

uint32_t native_print(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_print, r);
  return print_value(true);
}

uint32_t native_prin(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_prin, r);
  return print_value(false);
}

// /info: the block of frame statistics; /show hands that block to the library's printer.
uint32_t native_stats(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_stats, r);
  if (r[0] < 0 && r[1] < 0) return answer(memory_in_use());
  Cell info = block::make(5);
  stack::push_value(info);  // rooted while it is filled
  debug::memory_stats(info.node(), 2);
  if (r[0] < 0) return answer(info);
  if (uint32_t st = natives::call_library("show-memory-stats", {info})) return st;
  return answer(make_unset());
}

uint32_t native_recycle(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_recycle, r);
  if (r[0] >= 0 || r[1] >= 0) {
    gc::set_enabled(r[0] >= 0);
    return answer(make_unset());
  }
  gc::collect();
  return answer(memory_in_use());
}

namespace {

// The families whose members share one series layout: `as` moves a value between the members of
// one family.
int as_family(TypeId t) {
  switch (t) {
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
      return 1;
    case TYPE_BLOCK:
    case TYPE_PAREN:
      return 2;
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
      return 3;
    default:
      return 0;
  }
}

}  // namespace

uint32_t native_as(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_as, r);
  Cell type = *stack::arg(0);
  Cell spec = *stack::arg(1);
  TypeId target = type.is(TYPE_DATATYPE) ? type.datatype_id() : type.type();
  int family = as_family(target);
  if (family == 0 || family != as_family(spec.type())) {
    Cell to = datatype_cell(target), from = datatype_cell(spec.type());
    fire(Err::script_not_related, &to, &from);
  }
  spec.set_type(target);
  return answer(spec);
}

uint32_t native_get_env(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_get_env, r);
  std::string name = name_text(*stack::arg(0));
  const char* value = std::getenv(name.c_str());
  if (!value) return answer(make_none());
  return answer(str::make_from_utf8(value));
}

uint32_t native_set_env(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_set_env, r);
  std::string name = name_text(*stack::arg(0));
  Cell value = *stack::arg(1);
  // A name the system cannot hold (empty, with "=" or NUL) is refused rather than half-set.
  if (name.empty() || name.find('=') != std::string::npos || name.find('\0') != std::string::npos)
    fire(Err::script_invalid_arg, stack::arg(0));
  if (value.is(TYPE_NONE)) {
    ::unsetenv(name.c_str());
  } else {
    std::string text = name_text(value);
    if (text.find('\0') != std::string::npos) fire(Err::script_invalid_arg, stack::arg(1));
    ::setenv(name.c_str(), text.c_str(), 1);
  }
  return answer(*stack::arg(1));
}

uint32_t native_list_env(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_list_env, r);
  return answer(os::environment_map());
}

uint32_t native_uppercase(int32_t check, const int32_t* r) {
  return change_case_native(NATIVE_uppercase, check, r, true);
}

uint32_t native_lowercase(int32_t check, const int32_t* r) {
  return change_case_native(NATIVE_lowercase, check, r, false);
}

bool natives::last_line_feed() { return print_state.last_line_feed; }

}  // namespace zem
