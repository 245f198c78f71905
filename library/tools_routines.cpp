// The bookkeeping of the tracing tools (library/tools.zem) that runs once per traced event: the
// guided tracer's model of the evaluation, its nesting levels and the values' cut molds. The Zem
// functions keep their specs and call these.
//
// Nothing here evaluates Zem code, so no collection happens while a routine runs: values stay
// where they are, but buffer addresses are re-read after every append (a buffer may grow).
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/support.h"
#include "runtime/unicode.h"

namespace zem::library {

namespace {

bool same_name(uint32_t sym, std::string_view name) {
  std::string_view n = symbol::name(sym);
  if (n.size() != name.size()) return false;
  for (size_t i = 0; i < n.size(); i++)
    if ((n[i] | 0x20) != (name[i] | 0x20)) return false;
  return true;
}

// Where a field was found last, by the literal naming it: a field is looked up several times per
// event, and an object's words keep their positions (new words only go at the end).
struct FieldSlot {
  const char* name = nullptr;
  NodeId ctx = 0;
  uint32_t pos = 0;
};
std::array<FieldSlot, 32> field_slots;

// The value of an object's field.
Cell& field(const Cell& object, std::string_view name) {
  NodeId ctx = object.object_context();
  FieldSlot* slot = nullptr;
  for (FieldSlot& f : field_slots) {
    if (f.name == name.data() || !f.name) {
      slot = &f;
      break;
    }
  }
  if (slot && slot->name && slot->ctx == ctx && slot->pos < context::word_count(ctx)) {
    const Cell* w = context::word_at(ctx, slot->pos);
    if (same_name(w->word_symbol(), name)) return *context::value_at(ctx, static_cast<uint32_t>(w->word_index()));
  }
  uint32_t sym = symbol::intern(name);
  int32_t pos = context::find_symbol_index(ctx, sym, true);
  if (pos < 0 || context::on_stack(ctx)) {
    Cell w = make_word_cell(sym, 0);
    fire(Err::script_not_in_context, &w);
  }
  if (slot) *slot = FieldSlot{name.data(), ctx, static_cast<uint32_t>(pos)};
  const Cell* w = context::word_at(ctx, static_cast<uint32_t>(pos));
  return *context::value_at(ctx, static_cast<uint32_t>(w->word_index()));
}

// A field that must hold a block.
Cell block_field(const Cell& object, std::string_view name) {
  Cell b = field(object, name);
  if (!b.is(TYPE_BLOCK)) fire(Err::script_invalid_arg, &b);
  return b;
}

// take/last: the last value from the block's position, none when there is none.
Cell take_last(const Cell& b) {
  if (block::length(b) == 0) return shared_cells.none;
  uint32_t last = block::buffer_length(b.node()) - 1;
  Cell v = *block::cell_at_index(b, last);
  block::truncate_at(b.node(), last);
  return v;
}

// free/get: a block of the free list, or a new one.
Cell free_get(const Cell& list) {
  if (block::length(list) == 0) return block::make(10);
  return take_last(list);
}

// free/put: small blocks go back to the list, cleared and at their head, once.
void free_put(const Cell& list, const Cell& b) {
  if (block::length(b) >= 100) return;
  block::truncate_at(b.node(), 0);
  Cell head = block::value_of(b.node(), TYPE_BLOCK, 0);
  uint32_t n = block::length(list);
  for (uint32_t i = 0; i < n; i++)
    if (block::same_cells(block::head_of(list)[i], head)) return;
  block::append_cell(list, head);
}

Cell word_value(const Cell& w) {
  if (!block::is_word_kind(w.type())) fire(Err::script_invalid_arg, &w);
  return *context::word_value_cell(w);
}

void set_word(const Cell& w, const Cell& v) {
  Cell word = w;
  context::set_word_value(word, v);
}

// The guided tracer's data object's fields that the levels touch.
struct Levels {
  Cell stack, path, saved;
  explicit Levels(const Cell& data)
      : stack(block_field(data, "stack")), path(block_field(data, "path")), saved(block_field(data, "saved")) {}
};

// save-level: the frame, the length of `path` and the values of the `saved` words are pushed on
// `stack`; the words start afresh (blocks from the free list, integers 0).
void save_level(const Cell& data, const Cell& list, const Cell& frame) {
  Levels l(data);
  block::append_cell(l.stack, frame);
  block::append_cell(l.stack, make_integer(static_cast<int32_t>(block::length(l.path))));
  uint32_t n = block::length(l.saved);
  for (uint32_t i = 0; i < n; i++) {
    Cell w = block::head_of(l.saved)[i];
    Cell v = word_value(w);
    block::append_cell(l.stack, v);
    set_word(w, v.is(TYPE_BLOCK) ? free_get(list) : make_integer(0));
  }
}

// unroll-level: the last level is put back, the blocks it replaces returned to the free list, and
// `path` cut to its length then; answers the level's frame.
Cell unroll_level(const Cell& data, const Cell& list) {
  Levels l(data);
  // Events left out by `trace false` can leave fewer levels than exits.
  if (block::length(l.stack) == 0) return shared_cells.unset;
  for (uint32_t i = block::length(l.saved); i-- > 0;) {
    Cell w = block::head_of(l.saved)[i];
    Cell v = word_value(w);
    if (v.is(TYPE_BLOCK)) free_put(list, v);
    set_word(w, take_last(l.stack));
  }
  Cell keep = take_last(l.stack);
  if (keep.is(TYPE_INTEGER) && keep.int_value() >= 0) {
    uint64_t at = uint64_t{l.path.head_index()} + static_cast<uint64_t>(keep.int_value());
    if (at < block::buffer_length(l.path.node())) block::truncate_at(l.path.node(), static_cast<uint32_t>(at));
  }
  return take_last(l.stack);
}

// mold-part: the flat mold cut to `part` characters, a cut text ending in "..." and the closing
// character of the first opening marker met before its last five characters.
Cell mold_part(const Cell& value, int32_t part, bool only) {
  std::vector<uint32_t> text;
  int64_t limit = int64_t{part} + 1;
  if (limit >= 1) {
    StdStringOut out;
    if (MoldHandler h = mold_handler(value.type())) {
      int32_t lim = limit > kNoLimit ? kNoLimit : static_cast<int32_t>(limit);
      Cell p = make_integer(lim);
      h(value, out, MoldFlags{only, false, true}, &p, lim, 0);
    }
    auto* b = reinterpret_cast<const uint8_t*>(out.text().data());
    const uint8_t* e = b + out.text().size();
    while (b < e && static_cast<int64_t>(text.size()) < limit) {
      int32_t cp = unicode::fast_decode_utf8_char(b, e);
      if (cp >= 0) text.push_back(static_cast<uint32_t>(cp));
    }
  }
  if (static_cast<int64_t>(text.size()) > part) {
    static constexpr std::string_view kOpen = "([{<\"", kClose = ")]}>\"";
    size_t len = text.size(), search = len > 5 ? len - 5 : 0, marker = kOpen.size();
    for (size_t i = 0; i < search && marker == kOpen.size(); i++)
      for (size_t k = 0; k < kOpen.size(); k++)
        if (text[i] == static_cast<uint8_t>(kOpen[k])) marker = k;
    std::string ending = "...";
    if (marker < kOpen.size()) ending += kClose[marker];
    size_t at = len > ending.size() + 1 ? len - ending.size() - 1 : 0;
    for (size_t k = 0; k < ending.size(); k++) {
      if (at + k < text.size()) text[at + k] = static_cast<uint8_t>(ending[k]);
      else text.push_back(static_cast<uint8_t>(ending[k]));
    }
    if (part < 0) part = 0;
    if (text.size() > static_cast<size_t>(part)) text.resize(static_cast<size_t>(part));
  }
  std::string utf8;
  uint8_t buf[4];
  for (uint32_t cp : text) utf8.append(reinterpret_cast<char*>(buf), static_cast<size_t>(unicode::encode_utf8_char(cp, buf)));
  return str::make_from_utf8(utf8);
}

const Cell* logic(bool b) { return b ? &shared_cells.true_value : &shared_cells.false_value; }

// The event's name is one of the names (the tracer's events are words of any case).
bool is_event(const Cell& event, std::initializer_list<std::string_view> names) {
  std::string_view e = symbol::name(event.word_symbol());
  for (std::string_view n : names) {
    if (n.size() != e.size()) continue;
    bool same = true;
    for (size_t i = 0; i < n.size() && same; i++)
      same = (e[i] | 0x20) == n[i];
    if (same) return true;
  }
  return false;
}

// `find` of a word in a block: a word of the same name, any case.
bool block_has_word(const Cell& b, const Cell& word) {
  uint32_t c = symbol::canonical_id(word.word_symbol());
  uint32_t n = block::length(b);
  for (uint32_t i = 0; i < n; i++) {
    const Cell& v = block::head_of(b)[i];
    if (block::is_word_kind(v.type()) && symbol::canonical_id(v.word_symbol()) == c) return true;
  }
  return false;
}

// A word whose value is an op!.
bool names_op(const Cell& w) {
  return w.is(TYPE_WORD) && w.word_context() && word::get_any(w).is(TYPE_OP);
}

// Appends the value to a series field and its cut mold to the quoted one (`pushed` and `pushed'`).
void push_both(const Cell& data, std::string_view name, std::string_view quoted, const Cell& value,
               const Cell& shown, int32_t size) {
  block::append_cell(block_field(data, name), value);
  Cell text = mold_part(shown, size, false);
  block::append_cell(block_field(data, quoted), text);
}

// A series field moved to the position `at` (0-based from its buffer's head, within its tail).
void move_field(const Cell& data, std::string_view name, int64_t at) {
  Cell& slot = field(data, name);
  Cell b = block_field(data, name);
  int64_t tail = block::buffer_length(b.node());
  if (at < 0) at = 0;
  if (at > tail) at = tail;
  b.set_series(static_cast<uint32_t>(at), b.node());
  slot = b;
}

void add_to_int_field(const Cell& data, std::string_view name, int32_t delta, bool floor_zero) {
  Cell& slot = field(data, name);
  if (!slot.is(TYPE_INTEGER)) fire(Err::script_invalid_arg, &slot);
  int32_t v = slot.int_value() + delta;
  slot = make_integer(floor_zero && v < 0 ? 0 : v);
}

// The collector's test for handing an event to the inspect function.
bool inspect_now(const Cell& data, const Cell& event, const Cell& code) {
  Cell filter = field(data, "event-filter");
  if (!filter.is(TYPE_NONE) && !(block::is_block_kind(filter.type()) && block_has_word(filter, event)))
    return false;
  Cell scope = field(data, "scope-filter");
  if (!scope.is(TYPE_NONE) && !code.is(TYPE_NONE)) {
    bool in = false;
    uint32_t n = block::is_block_kind(scope.type()) ? block::length(scope) : 0;
    for (uint32_t i = 0; i < n && !in; i++) in = block::same_cells(block::head_of(scope)[i], code);
    if (!in) return false;
  }
  if (is_true(field(data, "inspect-sub-exprs?")) || is_event(event, {"error", "throw"})) return true;
  const Cell& depth = field(data, "expr-depth");
  if (!depth.is(TYPE_INTEGER)) return false;
  return depth.int_value() == 0 || (depth.int_value() == 1 && is_event(event, {"call", "return"}));
}

// The model's update by event.
void update(const Cell& data, const Cell& list, int32_t size, const Cell& event, const Cell& code,
            const Cell& value, const Cell& ref, const Cell& frame) {
  bool in_path = code.is(TYPE_PATH);
  if (is_event(event, {"prolog"})) {
    add_to_int_field(data, "func-depth", 1, false);
  } else if (is_event(event, {"epilog"})) {
    add_to_int_field(data, "func-depth", -1, false);
  } else if (is_event(event, {"fetch"})) {
    if (is_true(field(data, "inspect-sub-exprs?")) || !in_path) push_both(data, "fetched", "fetched'", value, value, size);
  } else if (is_event(event, {"push"})) {
    push_both(data, "pushed", "pushed'", value, value, size);
  } else if (is_event(event, {"open"})) {
    // The value is the function: its name is the word fetched last.
    Cell fetched = block_field(data, "fetched");
    Cell name = shared_cells.none;
    uint32_t n = block::buffer_length(fetched.node());
    if (n) {
      Cell last = *block::cell_at_index(fetched, n - 1);
      if (block::is_word_kind(last.type()) || block::is_path_kind(last.type())) name = last;
    }
    bool op = value.is(TYPE_OP) || names_op(value) || names_op(name);
    Cell pushed = block_field(data, "pushed");
    block::append_cell(block_field(data, "subexprs"), make_integer(static_cast<int32_t>(pushed.head_index()) + 1));
    int64_t tail = block::buffer_length(pushed.node());
    int64_t quoted_tail = block::buffer_length(block_field(data, "pushed'").node());
    bool left = op && tail > 0;
    move_field(data, "pushed", left ? tail - 1 : tail);
    move_field(data, "pushed'", left ? quoted_tail - 1 : quoted_tail);
    push_both(data, "pushed", "pushed'", value, name.is(TYPE_NONE) ? value : name, size);
    add_to_int_field(data, "expr-depth", 1, false);
  } else if (is_event(event, {"call"})) {
    Cell name;
    if (ref.is(TYPE_PATH))
      name = block::length(ref) ? block::head_of(ref)[0] : shared_cells.none;
    else if (block::is_word_kind(ref.type()))
      name = ref;
    else
      name = str::make_from_utf8("anon", TYPE_TAG);
    block::append_cell(block_field(data, "path"), name);
  } else if (is_event(event, {"return"})) {
    take_last(block_field(data, "path"));
    add_to_int_field(data, "expr-depth", -1, true);
    Cell top = take_last(block_field(data, "subexprs"));
    int64_t at = top.is(TYPE_INTEGER) ? int64_t{top.int_value()} - 1 : 0;
    for (std::string_view f : {"pushed", "pushed'"}) {
      Cell b = block_field(data, f);
      if (b.head_index() < block::buffer_length(b.node())) block::truncate_at(b.node(), b.head_index());
      move_field(data, f, at);
    }
    push_both(data, "pushed", "pushed'", value, value, size);
  } else if (is_event(event, {"enter"})) {
    if (!in_path) save_level(data, list, frame);
  } else if (is_event(event, {"exit"})) {
    if (!in_path) {
      unroll_level(data, list);
      if (code.is(TYPE_PAREN)) push_both(data, "pushed", "pushed'", value, value, size);
    }
  } else if (is_event(event, {"expr"})) {
    for (std::string_view f : {"fetched", "fetched'", "pushed", "pushed'"}) {
      Cell b = block_field(data, f);
      block::truncate_at(b.node(), 0);
      move_field(data, f, 0);
    }
  }
}

// ---- The profiler ----

// pick: the value n (1-based) from the block's position, none outside it.
Cell pick(const Cell& b, int64_t n) {
  if (n < 1 || n > block::length(b)) return shared_cells.none;
  return block::head_of(b)[n - 1];
}

// The cell at an index from the buffer's head, clamped to its first cell (skip tail -n).
uint32_t back_from_tail(const Cell& b, uint32_t n) {
  uint32_t len = block::buffer_length(b.node());
  return len > n ? len - n : 0;
}

void clear_from(const Cell& b, uint32_t at) {
  if (at < block::buffer_length(b.node())) block::truncate_at(b.node(), at);
}

// The record of a call's name: its position in `profiling` (records of three), or -1.
int64_t find_record(const Cell& profiling, const Cell& name) {
  uint32_t end = block::buffer_length(profiling.node());
  for (uint32_t p = profiling.head_index(); p < end; p += 3)
    if (block::find_equal(*block::cell_at_index(profiling, p), name)) return p;
  return -1;
}

bool any_function(const Cell& v) {
  TypeId t = v.type();
  return t == TYPE_FUNCTION || t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_ROUTINE;
}

void profile_call(const Cell& value, const Cell& ref, const Cell& frame, const Cell& profiling, const Cell& calls,
                  const Cell& types, const Cell& anon, const Cell& depths, const Cell& now) {
  Cell name = shared_cells.none;
  // An infix call is made through its op!, named by the word.
  if (types.is(TYPE_TYPESET) && typeset_has(types, names_op(ref) ? TYPE_OP : value.type())) {
    name = ref;
    if (any_function(ref)) {
      Cell* counter = block::length(anon) ? block::head_of(anon) : nullptr;
      if (!counter || !counter->is(TYPE_INTEGER)) fire(Err::script_invalid_arg, &anon);
      *counter = make_integer(counter->int_value() + 1);
      name = str::make_from_utf8("anon" + std::to_string(counter->int_value()), TYPE_TAG);
    }
    int64_t rec = find_record(profiling, name);
    if (rec >= 0 && rec + 1 < block::buffer_length(profiling.node())) {
      Cell* count = block::cell_at_index(profiling, static_cast<uint32_t>(rec + 1));
      if (!count->is(TYPE_INTEGER)) fire(Err::script_invalid_arg, count);
      *count = make_integer(count->int_value() + 1);
    } else {
      block::append_cell(profiling, name);
      block::append_cell(profiling, make_integer(1));
      block::append_cell(profiling, make_integer(0));
    }
  }
  // An unprofiled call gets a placeholder: its return, prolog and epilog must not touch its
  // caller's triple.
  block::append_cell(calls, name);
  block::append_cell(calls, now);
  block::append_cell(calls, shared_cells.none);
  block::append_cell(depths, make_integer(frame.pair_x()));
}

void profile_epilog(const Cell& ref, const Cell& calls, const Cell& depths, const Cell& now) {
  // The body's own triple, named like it: calls an error left open inside it come after it.
  int64_t i = block::length(depths);
  if (block::is_word_kind(ref.type()) || block::is_path_kind(ref.type())) {
    while (i > 1 && block::cell_compare(ref, pick(calls, 3 * i - 2), COMP_EQUAL) != 0) i--;
    if (block::cell_compare(ref, pick(calls, 3 * i - 2), COMP_EQUAL) != 0) i = block::length(depths);
  }
  if (i <= 0) return;
  if (3 * i > block::length(calls)) {
    Cell at = make_integer(static_cast<int32_t>(3 * i));
    fire(Err::script_out_of_range, &at);
  }
  block::head_of(calls)[3 * i - 1] = now;
}

// The calls that got no return (an error or a throw went through them) are deeper than the one
// returning and end with it.
void profile_return(const Cell& frame, const Cell& profiling, const Cell& calls, const Cell& depths,
                    const Cell& t) {
  while (true) {
    bool matched = true;
    if (block::length(depths)) {
      Cell last = *block::cell_at_index(depths, block::buffer_length(depths.node()) - 1);
      matched = last.is(TYPE_INTEGER) && frame.pair_y() >= last.int_value();
    }
    if (block::length(calls)) {
      uint32_t at = back_from_tail(calls, 3);
      Cell triple[3] = {shared_cells.none, shared_cells.none, shared_cells.none};
      for (uint32_t k = 0; k < 3 && at + k < block::buffer_length(calls.node()); k++)
        triple[k] = *block::cell_at_index(calls, at + k);
      int64_t rec = is_true(triple[0]) ? find_record(profiling, triple[0]) : -1;
      if (rec >= 0 && rec + 2 < block::buffer_length(profiling.node())) {
        Cell end = is_true(triple[2]) ? triple[2] : t, spent;
        if (!end.is(TYPE_DATE)) fire(Err::script_invalid_arg, &end);
        if (!triple[1].is(TYPE_DATE)) fire(Err::script_invalid_arg, &triple[1]);
        dates::difference(end, triple[1], spent);
        Cell* sum = block::cell_at_index(profiling, static_cast<uint32_t>(rec + 2));
        if (sum->is(TYPE_INTEGER))
          *sum = times::make(sum->int_value() + spent.float_value());
        else if (sum->is(TYPE_TIME))
          *sum = times::make(sum->float_value() + spent.float_value());
        else
          fire(Err::script_invalid_arg, sum);
      }
      clear_from(calls, at);
    }
    if (block::length(depths)) take_last(depths);
    if (matched || block::length(calls) == 0) break;
  }
}

}  // namespace

// The profiler's bookkeeping for one event: event, value, ref, frame, then `profiling`,
// `fun-stk`, the profiled types, the unnamed calls' counter block, the block of the open calls'
// frame bases and the time of the event (now/precise).
const Cell* profile_event(Cell* args, uint32_t) {
  const Cell event = args[0], value = args[1], ref = args[2], frame = args[3];
  const Cell profiling = args[4], calls = args[5], types = args[6], anon = args[7], depths = args[8];
  const Cell now = args[9];
  if (is_event(event, {"init"})) {
    for (const Cell& b : {profiling, calls, depths}) clear_from(b, b.head_index());
  } else if (is_event(event, {"call"})) {
    profile_call(value, ref, frame, profiling, calls, types, anon, depths, now);
  } else if (is_event(event, {"prolog"})) {
    if (block::length(calls)) *block::cell_at_index(calls, back_from_tail(calls, 2)) = now;
  } else if (is_event(event, {"epilog"})) {
    profile_epilog(ref, calls, depths, now);
  } else if (is_event(event, {"return"})) {
    profile_return(frame, profiling, calls, depths, now);
  }
  return nullptr;
}

// data/save-level (with a frame pair) and data/unroll-level (with none).
const Cell* trace_level(Cell* args, uint32_t) {
  static Cell result;
  if (args[2].is(TYPE_PAIR)) {
    save_level(args[0], args[1], args[2]);
    return nullptr;
  }
  result = unroll_level(args[0], args[1]);
  return &result;
}

// tracers/mold-part: value, part, only.
const Cell* trace_mold_part(Cell* args, uint32_t) {
  static Cell result;
  result = mold_part(args[0], args[1].int_value(), is_true(args[2]));
  return &result;
}

// One step of data/collector: data, free list, mold size, then the event's word, code, value, ref
// and frame, and which half. The first half drops the levels a non-local exit left behind and a
// call's result pushed just before its return; the second updates the model. Answers whether the
// inspect function gets the event now: return, epilog, exit, expr, error and throw before the
// update, the other events after it.
const Cell* trace_collect(Cell* args, uint32_t) {
  const Cell data = args[0], list = args[1];
  int32_t size = args[2].int_value();
  const Cell event = args[3], code = args[4], value = args[5], ref = args[6], frame = args[7];
  bool after = is_true(args[8]);
  bool before_update = is_event(event, {"return", "epilog", "exit", "expr", "error", "throw"});
  if (!after) {
    if (is_event(event, {"return", "catch"})) {
      while (true) {
        Cell stack = block_field(data, "stack");
        if (block::length(stack) == 0) break;
        Cell period = field(data, "stack-period");
        int64_t at = int64_t{block::buffer_length(stack.node())} - (period.is(TYPE_INTEGER) ? period.int_value() : 0);
        Cell level = *block::cell_at_index(stack, static_cast<uint32_t>(at < 0 ? 0 : at));
        if (!level.is(TYPE_PAIR) || level.pair_x() <= frame.pair_x()) break;
        unroll_level(data, list);
      }
    }
    if (is_event(event, {"return"})) {
      Cell pushed = block_field(data, "pushed");
      if (block::length(pushed) > 1 &&
          block::same_cells(*block::cell_at_index(pushed, block::buffer_length(pushed.node()) - 1), value)) {
        take_last(pushed);
        take_last(block_field(data, "pushed'"));
      }
    }
    return logic(before_update && inspect_now(data, event, code));
  }
  update(data, list, size, event, code, value, ref, frame);
  return logic(!before_update && inspect_now(data, event, code));
}

}  // namespace zem::library
