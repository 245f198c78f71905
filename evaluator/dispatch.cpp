// Action dispatch: the action entries, the handler lookup by type and the typed calls of handlers.
#include "evaluator/dispatch.h"

#include <array>
#include <string>
#include <utility>

#include "datatypes/integer.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/unicode.h"

namespace zem {

ActionEntryTable action_entry_table;

namespace actions {

namespace {

using A = ActionIndex;

struct DispatchState {
  bool (*port_actor)(const Cell&, ActionIndex, ActionHandler&) = nullptr;
};
DispatchState g_dispatch;

// Refinement names per action, in spec order.
struct RefinementRow {
  ActionIndex action;
  std::initializer_list<std::string_view> names;
};
// clang-format off
const std::string_view kRandom[] = {"seed", "secure", "only"};
const std::string_view kForm[] = {"part"};
const std::string_view kMold[] = {"only", "all", "flat", "part"};
const std::string_view kRound[] = {"to", "even", "down", "half-down", "floor", "ceiling", "half-ceiling"};
const std::string_view kAppend[] = {"part", "only", "dup"};
const std::string_view kCopy[] = {"part", "deep", "types"};
const std::string_view kFind[] = {"part", "only", "case", "same", "any", "with", "skip", "last", "reverse", "tail", "match"};
const std::string_view kPart[] = {"part"};
const std::string_view kCase[] = {"case"};
const std::string_view kRemove[] = {"part", "key"};
const std::string_view kReverse[] = {"part", "skip"};
const std::string_view kSelect[] = {"part", "only", "case", "same", "any", "with", "skip", "last", "reverse"};
const std::string_view kSort[] = {"case", "skip", "compare", "part", "all", "reverse", "stable"};
const std::string_view kTake[] = {"part", "deep", "last"};
const std::string_view kTrim[] = {"head", "tail", "auto", "lines", "all", "with"};
const std::string_view kOpen[] = {"new", "read", "write", "seek", "allow"};
const std::string_view kRead[] = {"part", "seek", "binary", "lines", "info", "as"};
const std::string_view kWrite[] = {"binary", "lines", "info", "append", "part", "seek", "allow", "as"};
// clang-format on

std::span<const std::string_view> names_of(ActionIndex a) {
  switch (a) {
    case A::random: return kRandom;
    case A::form: return kForm;
    case A::mold: return kMold;
    case A::round: return kRound;
    case A::append:
    case A::change:
    case A::insert: return kAppend;
    case A::copy: return kCopy;
    case A::find: return kFind;
    case A::move: return kPart;
    case A::put:
    case A::modify: return kCase;
    case A::remove: return kRemove;
    case A::reverse: return kReverse;
    case A::select: return kSelect;
    case A::sort: return kSort;
    case A::take: return kTake;
    case A::trim: return kTrim;
    case A::open: return kOpen;
    case A::read: return kRead;
    case A::write: return kWrite;
    default: return {};
  }
}

bool is_series_type(TypeId t) {
  switch (t) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
    case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_VECTOR: case TYPE_HASH: case TYPE_BINARY: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF: case TYPE_IMAGE:
      return true;
    default:
      return false;
  }
}

// The n-th argument word (word!, lit-word! or get-word!) of a spec block, or null.
const Cell* nth_param(NodeId spec, uint32_t n) {
  if (!spec) return nullptr;
  for (Cell* c = block_head(spec); c < block_tail(spec); c++)
    if ((c->is(TYPE_WORD) || c->is(TYPE_LIT_WORD) || c->is(TYPE_GET_WORD)) && n-- == 0) return c;
  return nullptr;
}

const Cell* first_param(NodeId spec) { return nth_param(spec, 0); }

// The spec of the action that the current call's word names (its op! too), or 0: called through
// the entry table, the handler has no spec at hand.
NodeId spec_of_call(const Cell& word) {
  if (!word.word_context() || word.word_symbol() == stack_state.not_found_symbol) return 0;
  Cell fn = word::get_any(word::value_or_global(word.word_context(), word.word_symbol()));
  bool action = fn.is(TYPE_ACTION) || (fn.is(TYPE_OP) && fn.op_source() == TYPE_ACTION);
  return action ? fn.fn_spec() : 0;
}

Cell string_from_utf8(const std::string& text) {
  uint32_t count = 0;
  NodeId node = unicode::load_utf8_series(reinterpret_cast<const uint8_t*>(text.data()),
                                          text.size(), 0, false, &count);
  Cell c{};
  c.set_header(TYPE_STRING);
  c.set_node(node);
  return c;
}

// The UTF-8 text cut to `part` code points (part < 0: whole).
std::string cut(std::string text, int32_t part) {
  if (part < 0) return text;
  auto* b = reinterpret_cast<const uint8_t*>(text.data());
  const uint8_t* e = unicode::skip_utf8_chars(b, b + text.size(), static_cast<size_t>(part));
  text.resize(static_cast<size_t>(e - b));
  return text;
}

int32_t part_count(const Cell& part) {
  if (part.is(TYPE_INTEGER)) return part.int_value();
  if (part.is(TYPE_FLOAT) || part.is(TYPE_PERCENT)) return float_to_int_checked(part);
  return kNoLimit;
}

// append, insert and change: a series /part argument becomes the count up to it.
void check_part_argument(const int32_t* refs) {
  Cell* base = stack::base();
  if (refs[0] < 0) return;
  Cell& value = base[1];
  Cell& part = base[refs[0]];
  if (!is_series_type(part.type())) return;
  if (!is_series_type(value.type())) fire(Err::script_invalid_part, &part);
  if (!base[0].is(TYPE_PORT) && (part.type() != value.type() || part.node() != value.node())) {
    Cell w = make_word_cell(stack_state.part_symbol, 0);
    fire(Err::script_invalid_refine_arg, &w, &part);
  }
  uint32_t len = series_buffer(value.node())->tail / series_buffer(value.node())->unit();
  int64_t from = std::min<int64_t>(value.head_index(), len);
  int64_t to = std::min<int64_t>(part.head_index(), len);
  int64_t count = to - from;
  if (count < 0) {
    value.set_head_index(static_cast<uint32_t>(std::max<int64_t>(0, from + count)));
    count = from - value.head_index();
  }
  part = make_integer(static_cast<int32_t>(count));
}

void form_stack(const int32_t* refs) {
  Cell* base = stack::base();
  int32_t part = refs[0] >= 0 ? part_count(base[refs[0]]) : -1;
  Cell result = refs[0] >= 0 && part < 1 ? string_from_utf8("") : form_value(base[0], part);
  stack::set_single_result(result);
}

void mold_stack(const int32_t* refs) {
  Cell* base = stack::base();
  MoldFlags flags{refs[0] >= 0, refs[1] >= 0, refs[2] >= 0};
  int32_t part = refs[3] >= 0 ? part_count(base[refs[3]]) : -1;
  Cell result =
      refs[3] >= 0 && part < 1 ? string_from_utf8("") : mold_value(base[0], flags, part);
  stack::set_single_result(result);
}

template <ActionIndex X>
void stack_form(const int32_t* refs) {
  call(X, refs);
}

template <std::size_t... I>
constexpr std::array<ActionEntry, kActionCount> make_entries(std::index_sequence<I...>) {
  return {&stack_form<static_cast<ActionIndex>(I + 1)>...};
}

}  // namespace

void init() {
  static constexpr auto entries = make_entries(std::make_index_sequence<kActionCount>{});
  for (int i = 0; i < kActionCount; i++) action_entry_table.entries[i] = entries[i];
  action_entry_table.entries[static_cast<int>(A::form) - 1] = form_stack;
  action_entry_table.entries[static_cast<int>(A::mold) - 1] = mold_stack;
  action_entry_table.entries[static_cast<int>(A::set_path) - 1] = nullptr;
}

ActionEntry entry(uint32_t slot) {
  return slot >= 1 && slot <= kActionCount ? action_entry_table.entries[slot - 1] : nullptr;
}

std::span<const std::string_view> refinement_names(ActionIndex a) { return names_of(a); }

void set_port_actor_lookup(bool (*fn)(const Cell&, ActionIndex, ActionHandler&)) {
  g_dispatch.port_actor = fn;
}

ActionHandler handler_of_value(TypeId t, const Cell& value, ActionIndex a, const Cell* param) {
  if (t == TYPE_PORT && a >= A::append && g_dispatch.port_actor) {
    ActionHandler h = nullptr;
    if (g_dispatch.port_actor(value, a, h)) {
      if (!h) fire(Err::access_no_port_action);
      return h;
    }
  }
  if (ActionHandler h = action_handler(t, a)) return h;
  Cell word = stack::current_call_word();
  Cell type = datatype_cell(t);
  if (!param) param = first_param(spec_of_call(word));
  fire(Err::script_expect_arg, &word, &type, param);
}

void fire_expect_arg(uint32_t arg, TypeId t) {
  Cell word = stack::current_call_word();
  Cell type = datatype_cell(t);
  fire(Err::script_expect_arg, &word, &type, nth_param(spec_of_call(word), arg));
}

PathHandler handler_by_type(const Cell& value, const Cell* path, const Cell& element,
                            int32_t depth) {
  if (PathHandler h = path_handler(value.type())) return h;
  Cell type = datatype_cell(value.type());
  if (path) {
    // The path up to the failing element.
    Cell so_far = *path;
    NodeId copy = alloc::make_cells(depth > 0 ? depth : 1);
    SeriesBuffer* src = series_buffer(path->node());
    uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(std::max(depth, 0)),
                                    (src->tail / 16) - std::min(path->head_index(), src->tail / 16));
    Cell* from = src->cells_head() + path->head_index();
    Cell* to = block_head(copy);
    for (uint32_t i = 0; i < n; i++) to[i] = from[i];
    series_buffer(copy)->set_length(n);
    so_far.set_series(0, copy);
    fire(Err::script_bad_path_type, &so_far, &type, &element);
  }
  fire(Err::script_bad_path_type2, &element, &type);
}

int32_t refinement_int() {
  const Cell& c = stack::base()[1];
  switch (c.type()) {
    case TYPE_INTEGER:
    case TYPE_CHAR: return c.int_value();
    case TYPE_LOGIC: return logic_flag(c) ? 1 : 2;
    default: return 0;
  }
}

void call(ActionIndex a, const int32_t* refs, NodeId spec) {
  Cell* base = stack::base();
  // make and to name their target by a datatype! (or a prototype value): they dispatch on it.
  TypeId t = base[0].type();
  if (t == TYPE_DATATYPE && (a == A::make || a == A::to) && base[0].datatype_id() < kTypeCount &&
      base[0].datatype_id() != TYPE_NONE_ID)
    t = base[0].datatype_id();
  // A port may answer through its actor; every other type has its handler in the table, and the
  // spec's first parameter is looked up only for the error of an empty slot.
  ActionHandler h = t == TYPE_PORT ? nullptr : action_handler(t, a);
  if (!h) h = handler_of_value(t, base[0], a, first_param(spec));
  uint32_t count = static_cast<uint32_t>(names_of(a).size());
  switch (a) {
    case A::append:
    case A::insert:
    case A::change: {
      check_part_argument(refs);
      // Nothing to add: the series itself is the result.
      if ((refs[2] >= 0 && part_count(base[refs[2]]) < 1) ||
          (refs[0] >= 0 && base[refs[0]].is(TYPE_INTEGER) && base[refs[0]].int_value() == 0)) {
        stack::keep_one_result();
        return;
      }
      break;
    }
    case A::copy:
      if (refs[2] >= 0) {
        const Cell& types = base[refs[2]];
        if (!types.is(TYPE_DATATYPE) && !types.is(TYPE_TYPESET)) {
          Cell word = stack::current_call_word();
          Cell type = datatype_cell(types.type());
          fire(Err::script_expect_arg, &word, &type, &types);
        }
      }
      break;
    default:
      break;
  }
  ActionCall call;
  call.args = base;
  call.arg_count = static_cast<uint32_t>(stack::top() - base);
  call.refinements = refs;
  call.refinement_count = count;
  call.action = a;
  Cell* result = h(call);
  base = stack::base();
  if (result != base) *base = *result;
}

int32_t compare_raw(const Cell& a, const Cell& b, CompareOp op) {
  CompareHandler h = compare_handler(a.type());
  if (!h) return kCannotCompare;
  return h(a, b, op);
}

bool compare(const Cell& a, const Cell& b, CompareOp op) {
  int32_t r = compare_raw(a, b, op);
  if (r == kCannotCompare) {
    if (op >= COMP_LESSER && op <= COMP_GREATER_EQUAL) {
      Cell x = a, y = b;
      fire(Err::script_invalid_compare, &x, &y);
    }
    return op == COMP_NOT_EQUAL;
  }
  switch (op) {
    case COMP_EQUAL:
    case COMP_STRICT_EQUAL:
    case COMP_SAME:
    case COMP_PARSE_CASE:
    case COMP_PARSE:
    case COMP_FIND: return r == 0;
    case COMP_NOT_EQUAL: return r != 0;
    case COMP_LESSER: return r < 0;
    case COMP_LESSER_EQUAL: return r <= 0;
    case COMP_GREATER: return r > 0;
    case COMP_GREATER_EQUAL: return r >= 0;
    default: break;
  }
  crash_report(CRASH_NO_SWITCH_MATCH, 0);
}

void compare_to_logic(CompareOp op) {
  Cell* base = stack::base();
  bool r = compare(base[0], base[1], op);
  stack::set_single_result(make_logic(r));
}

std::string form_text(const Cell& value) {
  FormHandler h = form_handler(value.type());
  if (!h) return {};
  StdStringOut out;
  h(value, out, nullptr, kNoLimit);
  return out.text();
}

std::string mold_text(const Cell& value, MoldFlags flags) {
  MoldHandler h = mold_handler(value.type());
  if (!h) return {};
  StdStringOut out;
  h(value, out, flags, nullptr, kNoLimit, 0);
  return out.text();
}

Cell form_value(const Cell& value, int32_t part) {
  FormHandler h = form_handler(value.type());
  StdStringOut out;
  if (h) {
    Cell p = make_integer(part);
    h(value, out, part >= 0 ? &p : nullptr, part >= 0 ? part : kNoLimit);
  }
  return string_from_utf8(cut(out.text(), part));
}

Cell mold_value(const Cell& value, MoldFlags flags, int32_t part) {
  MoldHandler h = mold_handler(value.type());
  StdStringOut out;
  if (h) {
    Cell p = make_integer(part);
    h(value, out, flags, part >= 0 ? &p : nullptr, part >= 0 ? part : kNoLimit, 0);
  }
  return string_from_utf8(cut(out.text(), part));
}

}  // namespace actions
}  // namespace zem
