// The natives over the lexer and the url coders: transcode (with the language-level lexer
// callback of /trace), dehex, enhex and to-local-file.
#include <bit>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/registry.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/url.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zem {

namespace {

uint32_t answer(const Cell& v) {
  stack::set_single_result(v);
  return EXIT_NONE;
}

Cell word_named(std::string_view name) { return make_word_cell(symbol::intern(name), 0); }

// ---- The lexer callback ----------------------------------------------------------------------------

constexpr std::string_view kEventNames[] = {"prescan", "scan", "load", "open", "close", "error"};

// The words reported as the type of the structural tokens that have no datatype, by token kind
// (the end of the input reports none).
constexpr std::string_view kTokenNames[] = {
    "",          "error",     "block-open", "block-close", "paren-open", "paren-close", "brace-open",
    "brace-close", "map-open", "path-head",  "construct",   "comment",    "comma",
};

// Calls a function! or routine! callback with the five event values: event, input, type, line and
// token. Answers the callback's logic result and the input argument as the callback left it.
class Callback final : public lexer::Observer {
 public:
  Callback(uint32_t slot, const Cell& src) : slot_(slot), src_(src) {
    const Cell fn = *stack::cell_at(slot_);
    mask_ = event_mask(fn);
    read_spec(fn);
  }

  uint32_t mask() const override { return mask_; }

  bool on_event(lexer::State& st, lexer::EventInfo& ev) override {
    Cell args[5];
    args[0] = word_named(kEventNames[std::countr_zero(static_cast<uint32_t>(ev.event))]);
    args[1] = src_;
    args[1].set_head_index(src_.head_index() + position(st, ev.cursor));
    if (ev.type != TYPE_NONE_ID) {
      args[2] = datatype_cell(ev.type);
    } else if (ev.kind > lexer::K_END && ev.kind < std::size(kTokenNames)) {
      args[2] = word_named(kTokenNames[ev.kind]);
    } else {
      args[2] = make_none();
    }
    args[3] = make_integer(static_cast<int32_t>(ev.line));
    if (ev.value) {
      args[4] = *ev.value;
    } else {
      args[4] = Cell{};
      args[4].set_header(TYPE_PAIR);
      further_type_hooks().pair_set(args[4], static_cast<int32_t>(position(st, ev.start) + 1),
                                    static_cast<int32_t>(position(st, ev.end) + 1));
    }
    Cell input = args[1];
    bool go_on = call(args, input);
    // The callback moved its input: the scan follows (the lexer keeps it within the input).
    if (input.type() == src_.type() && input.node() == src_.node() &&
        input.head_index() != args[1].head_index()) {
      uint32_t index = input.head_index() > src_.head_index() ? input.head_index() - src_.head_index() : 0;
      ev.cursor = byte_offset(st, index);
    }
    return go_on;
  }

 private:
  // The event words of the block that begins the callback's body; every event without one.
  static uint32_t event_mask(const Cell& fn) {
    constexpr uint32_t kAll = lexer::EV_PRESCAN | lexer::EV_SCAN | lexer::EV_LOAD | lexer::EV_OPEN |
                              lexer::EV_CLOSE | lexer::EV_ERROR;
    if (!fn.is(TYPE_FUNCTION)) return kAll;
    const Cell body = block_head(fn.fn_more())[MORE_BODY];
    if (!body.is(TYPE_BLOCK) || body.head_index() >= natives::series_tail(body)) return kAll;
    const Cell first = *block::cell_at_index(body, body.head_index());
    if (!first.is(TYPE_BLOCK)) return kAll;
    uint32_t mask = 0;
    for (uint32_t i = first.head_index(); i < natives::series_tail(first); ++i) {
      const Cell w = *block::cell_at_index(first, i);
      if (!w.is(TYPE_WORD)) continue;
      for (uint32_t e = 0; e < std::size(kEventNames); ++e)
        if (symbol::canonical_id(w.word_symbol()) == symbol::canonical_id(symbol::intern(kEventNames[e])))
          mask |= 1u << e;
    }
    return mask;
  }

  // The callback's arguments (before its first refinement) and, for a function!, the slot count of
  // each refinement section that follows (the refinement's flag and its words).
  void read_spec(const Cell& fn) {
    const Cell spec{TYPE_BLOCK, 0, fn.fn_spec(), 0};
    bool in_refinement = false;
    for (uint32_t i = 0; i < natives::series_tail(spec); ++i) {
      const Cell v = *block::cell_at_index(spec, i);
      if (v.is(TYPE_REFINEMENT)) {
        sections_.push_back(1);
        in_refinement = true;
      } else if (v.is(TYPE_WORD) || v.is(TYPE_GET_WORD) || v.is(TYPE_LIT_WORD)) {
        if (in_refinement) sections_.back()++;
        else params_++;
      }
    }
  }

  // Offsets in the scanned text, as positions of the input: characters of a string, else bytes.
  // Events come near each other in input order: each conversion counts from the last one, forward
  // or back (offsets fall on character boundaries), so a scan with a callback stays linear.
  uint32_t position(lexer::State& st, uint32_t byte) {
    if (!src_.is(TYPE_STRING)) return byte;
    const uint8_t* in = st.in_start;
    if (byte >= st.cached_byte) {
      st.cached_char += static_cast<uint32_t>(unicode::count_utf8_chars(in + st.cached_byte, in + byte));
    } else {
      auto back = static_cast<uint32_t>(unicode::count_utf8_chars(in + byte, in + st.cached_byte));
      // Bytes that are no UTF-8 may count differently from the other side: then from the start.
      st.cached_char = back <= st.cached_char
                           ? st.cached_char - back
                           : static_cast<uint32_t>(unicode::count_utf8_chars(in, in + byte));
    }
    st.cached_byte = byte;
    return st.cached_char;
  }

  uint32_t byte_offset(lexer::State& st, uint32_t index) {
    if (!src_.is(TYPE_STRING)) return index;
    const uint8_t* from = st.in_start;
    uint32_t skip = index;
    if (index >= st.cached_char) {
      from += st.cached_byte;
      skip -= st.cached_char;
    }
    return static_cast<uint32_t>(unicode::skip_utf8_chars(from, st.in_end, skip) - st.in_start);
  }

  bool call(const Cell* args, Cell& input) {
    Cell* mark = stack::top();
    const Cell fn = *stack::cell_at(slot_);
    Cell name = natives::word_cell(NATIVE_transcode);
    uint32_t n = params_ < 5 ? params_ : 5;
    if (fn.is(TYPE_FUNCTION)) {
      stack::push_frame(kInterpFunctionFrame, name);
      for (uint32_t i = 0; i < n; ++i) stack::push_value(args[i]);
      for (uint32_t i = n; i < params_; ++i) stack::push_value(make_none());
      for (uint32_t slots : sections_) function_unused(slots);
      const Cell object = block_head(fn.fn_more())[MORE_CONTEXT];
      uint32_t object_ctx = object.is(TYPE_INTEGER) ? static_cast<uint32_t>(object.int_value()) : 0;
      if (uint32_t code = interp::exec_function_body(fn, object_ctx))
        stack::raise_status(code);
    } else {
      stack::push_frame(kInterpNativeFrame, name);
      for (uint32_t i = 0; i < n; ++i) stack::push_value(args[i]);
      for (uint32_t i = n; i < params_; ++i) stack::push_value(make_none());
      const Cell* more = block_head(fn.fn_more());
      uint32_t index = static_cast<uint32_t>(more[MORE_ENTRY].int_value());
      RoutineEntry entry = index < routine_registry.count ? routine_registry.entries[index] : nullptr;
      if (!entry) fire(Err::internal_not_done, &fn);
      const Cell* r = entry(stack::base(), static_cast<uint32_t>(stack::top() - stack::base()));
      Cell result = r ? *r : make_unset();
      // A machine-convention routine answering logic! may answer an integer: 0 is false.
      if (!fn.has_flag(kRoutineCellConvention) && more[MORE_CONTEXT].int_value() == TYPE_LOGIC)
        result = make_logic(r && is_true(*r) && !(r->is(TYPE_INTEGER) && r->int_value() == 0));
      stack::set_single_result(result);
    }
    if (n >= 2) input = *stack::arg(1);
    const Cell& v = *stack::base();
    bool result = !(v.is(TYPE_NONE) || (v.is(TYPE_LOGIC) && !v.logic_value()));
    stack::pop_frame();
    stack_state.top = mark;
    return result;
  }

  static void function_unused(uint32_t slots) {
    stack::push_value(make_logic(false));
    for (uint32_t i = 1; i < slots; ++i) stack::push_value(make_none());
  }

  uint32_t slot_;  // the callback's cell on the argument stack
  Cell src_;
  uint32_t mask_ = 0;
  uint32_t params_ = 0;
  std::vector<uint32_t> sections_;
};

// The text of a string value from its head, as UTF-8.
std::string utf8_text(const Cell& s) { return str::to_std_string(s); }

}  // namespace

// transcode: the lexer over a string! or binary! from its position.
uint32_t native_transcode(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_transcode, r);
  enum { NEXT, ONE, PRESCAN, SCAN, PART, INTO, TRACE };
  Cell src = *stack::arg(0);
  uint32_t tail = natives::series_tail(src);
  if (src.head_index() > tail) src.set_head_index(tail);
  if (src.is(TYPE_BINARY) && tail - src.head_index() >= 3) {
    const uint8_t* p = series_buffer(src.node())->head_ptr() + src.head_index();
    if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) src.set_head_index(src.head_index() + 3);
  }
  int32_t count = -1;
  if (r[PART] >= 0) {
    const Cell& part = *stack::arg(static_cast<uint32_t>(r[PART]));
    if (part.is(TYPE_INTEGER)) {
      count = part.int_value();
    } else {
      if (part.type() != src.type() || part.node() != src.node()) {
        Cell a = datatype_cell(src.type()), b = datatype_cell(part.type());
        fire(Err::script_not_same_type, &a, &b);
      }
      count = static_cast<int32_t>(part.head_index()) - static_cast<int32_t>(src.head_index());
    }
    if (count < 0) count = 0;
  }
  bool scan_only = r[PRESCAN] >= 0 || r[SCAN] >= 0;
  lexer::ScanMode mode;
  mode.one_value = r[NEXT] >= 0 || r[ONE] >= 0 || scan_only;
  mode.full_scan = r[PRESCAN] < 0;
  mode.wrap = !scan_only;
  Cell* into = r[INTO] >= 0 ? stack::arg(static_cast<uint32_t>(r[INTO])) : nullptr;
  uint32_t consumed = 0;
  stack::push_value(src);
  Cell* out_cell = stack::push_value(make_unset());  // rooted while the lexer fills it
  uint32_t out_slot = stack::cell_index(out_cell);
  Callback* callback = nullptr;
  std::optional<Callback> observer;
  if (r[TRACE] >= 0) {
    observer.emplace(stack::cell_index(stack::arg(static_cast<uint32_t>(r[TRACE]))), src);
    callback = &*observer;
  }
  TypeId t;
  try {
    t = src.is(TYPE_STRING) ? lexer::transcode_string(out_cell, src, count, mode, &consumed, callback, nullptr)
                            : lexer::transcode_binary(out_cell, src, count, mode, &consumed, callback, nullptr);
  } catch (const Unwind&) {
    // A syntax error the callback let through leaves the values scanned before it in the output
    // cell: they join the target as a clean scan's would.
    const Cell kept = *stack::cell_at(out_slot);
    if (into && !scan_only && kept.is(TYPE_BLOCK)) block::append_cells_from(*into, kept);
    throw;
  }
  Cell out = *stack::cell_at(out_slot);
  if (scan_only) {
    uint32_t left = natives::series_tail(src) - src.head_index();
    out = (left == 0 || count == 0 || t == TYPE_NONE_ID) ? make_none() : datatype_cell(t);
  } else if (into) {
    // The loaded values (or the one value) join the target block at its tail.
    if (mode.one_value || !out.is(TYPE_BLOCK)) {
      block::append_cell(*into, out);
    } else {
      block::append_cells_from(*into, out);
    }
  }
  if (r[NEXT] >= 0 && !(into && !scan_only)) {
    Cell rest = src;
    rest.set_head_index(rest.head_index() + consumed);
    Cell pair = block::make(2);
    block::append_cell(pair, out);
    block::append_cell(pair, rest);
    out = pair;
  }
  return answer(into && !scan_only ? *into : out);
}

// dehex: a new string with the %xx escapes of the value's text decoded.
uint32_t native_dehex(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_dehex, r);
  return answer(str::make_from_utf8(url::percent_decode(utf8_text(*stack::arg(0)))));
}

// enhex: a new string with the value's UTF-8 bytes %xx-escaped: every byte but the unreserved ones
// for a string!, the bytes a url keeps as they are for the other string types.
uint32_t native_enhex(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_enhex, r);
  const Cell value = *stack::arg(0);
  StdStringOut out;
  url::percent_encode(utf8_text(value), value.is(TYPE_STRING), out);
  return answer(str::make_from_utf8(out.text()));
}

// File paths are POSIX paths as they are; /full puts the current directory before a relative one.
uint32_t native_to_local_file(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_to_local_file, r);
  return answer(str::make_from_utf8(url::to_local_path(*stack::arg(0), r[0] >= 0)));
}

}  // namespace zem
