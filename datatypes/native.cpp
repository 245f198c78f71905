// native!, action! and op!: making them from specs, their call shapes, the entry tables and their
// action handlers.
#include "datatypes/native.h"

#include <array>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/boot_state.h"
#include "runtime/memory.h"

namespace zem {

NativesTable natives_table;
RoutineRegistry routine_registry;

namespace native {

namespace {

bool canonical_is(uint32_t sym, std::string_view name) {
  std::string_view text = stack::symbol_text(sym);
  if (text.size() != name.size()) return false;
  for (size_t i = 0; i < text.size(); i++) {
    char a = text[i], b = name[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

[[noreturn]] void bad_make(TypeId t, const Cell& spec) {
  Cell type = datatype_cell(t), s = spec;
  fire(Err::script_bad_make_arg, &type, &s);
}

// What an entry reads from its frame: the accepted types of the plain arguments (group 0), then
// of each refinement's arguments, one group per refinement in spec order.
using Shape = std::vector<std::vector<Cell>>;

// The action specs of the boot library, by slot: an action made later must fit its slot's.
std::array<Shape, kActionCount + 1> g_action_shapes;

// The shape that a call of the value reads, from its argument cache (built here if needed).
Shape shape_of_value(const Cell& v) {
  NodeId cache = interp::arg_cache(v);
  Shape shape(1);
  uint32_t n = series_buffer(cache)->used() / sizeof(Cell);
  for (uint32_t i = 0; i < n; i++) {
    const Cell e = block_head(cache)[i];
    if (e.is(TYPE_TYPESET)) {
      if (e.fetch_kind() != FETCH_RETURN) shape.back().push_back(e);
      i++;  // the argument's word
    } else if (e.is(TYPE_REFINEMENT)) {
      shape.emplace_back();
    }
  }
  return shape;
}

Shape shape_of_native(uint32_t number) {
  const NativeSpec& spec = natives::spec(number);
  Shape shape(1);
  for (uint32_t i = 0; i < spec.plain_args; i++) shape[0].push_back(spec.args[i].types);
  for (const NativeRefinement& r : spec.refinements) {
    shape.emplace_back();
    for (uint32_t k = 0; k < r.arg_count; k++) shape.back().push_back(spec.args[r.first_arg + k].types);
  }
  return shape;
}

// The entries read their arguments by position and trust their types: a value whose spec asks
// for other arguments (fewer, more, or of other types) would have them read stale cells.
bool fits(const Shape& given, const Shape& entry) {
  if (given.size() != entry.size()) return false;
  for (size_t g = 0; g < given.size(); g++) {
    if (given[g].size() != entry[g].size()) return false;
    for (size_t k = 0; k < given[g].size(); k++) {
      const Cell& a = given[g][k];
      const Cell& b = entry[g][k];
      for (uint32_t w = 0; w < 3; w++)
        if (a.typeset_word(w) & ~b.typeset_word(w)) return false;
    }
  }
  return true;
}

Cell* native_make(ActionCall& call) {
  TypeId t = call.arg(0).is(TYPE_DATATYPE) ? call.arg(0).datatype_id()
                                           : call.arg(0).type();
  const Cell spec = call.arg(1);
  if (!spec.is(TYPE_BLOCK)) bad_make(t, spec);
  SeriesBuffer* b = series_buffer(spec.node());
  uint32_t len = b->used() / sizeof(Cell);
  if (len < spec.head_index() || len - spec.head_index() != 2) bad_make(t, spec);
  Cell fspec = b->cells_head()[spec.head_index()];
  Cell index = b->cells_head()[spec.head_index() + 1];
  if (!fspec.is(TYPE_BLOCK) || !index.is(TYPE_INTEGER)) bad_make(t, spec);
  int32_t n = index.int_value();
  // An index must name a slot that holds an entry; an action slot also needs an action word
  // (slots 7 to 9 are the dispatcher's own: no spec says what a call of them must pass).
  bool ok = t == TYPE_ACTION
                ? n >= 1 && n <= kActionCount && actions::entry(static_cast<uint32_t>(n)) &&
                      !action_word(static_cast<ActionIndex>(n)).empty()
                : n >= 1 && n <= static_cast<int32_t>(kNativeSlots) && natives_table.entries[n - 1];
  if (!ok) bad_make(t, spec);
  NodeId ctx = context::make_from_spec(block::value_of(fspec.node()), true, false, CONTEXT_FUNCTION);
  Cell v = make_value(t, static_cast<uint32_t>(n - 1), fspec.node(), ctx);
  call.result() = v;
  // The boot library's action specs are the actions' shapes; natives have theirs in the list.
  Shape shape = shape_of_value(v);
  if (t == TYPE_ACTION) {
    Shape& known = g_action_shapes[n];
    if (boot_state.loading && known.empty()) known = shape;
    else if (!known.empty() && !fits(shape, known)) bad_make(t, spec);
  } else if (static_cast<uint32_t>(n) <= kNativeCount && !natives::spec(n).word.empty()) {
    if (!fits(shape, shape_of_native(static_cast<uint32_t>(n)))) bad_make(t, spec);
  }
  return &call.result();
}

Cell* native_reflect(ActionCall& call) {
  Cell value = call.arg(0);
  const Cell& field = call.arg(1);
  if (field.is(TYPE_WORD) && canonical_is(field.word_symbol(), "spec")) {
    Cell spec{};
    spec.set_header(TYPE_BLOCK);
    spec.set_node(value.fn_spec());
    call.result() = spec;
    return &call.result();
  }
  if (field.is(TYPE_WORD) && canonical_is(field.word_symbol(), "body")) {
    TypeId source = value.is(TYPE_OP) ? op_source_type(value) : value.type();
    if (source == TYPE_FUNCTION || source == TYPE_ROUTINE) {
      call.result() = block_head(value.fn_more())[MORE_BODY];
    } else {
      Cell n{};
      n.set_header(TYPE_INTEGER);
      n.set_int_value(static_cast<int32_t>(value.fn_entry() + 1));
      call.result() = n;
    }
    return &call.result();
  }
  Cell f = field;
  fire(Err::internal_not_done, &f);
}

int32_t write_ascii(TextOut& out, std::string_view text, int32_t limit) {
  out.append_ascii(text);
  return limit - static_cast<int32_t>(text.size());
}

int32_t native_form(const Cell&, TextOut& out, const Cell*, int32_t limit) {
  return write_ascii(out, "?native?", limit);
}
int32_t action_form(const Cell&, TextOut& out, const Cell*, int32_t limit) {
  return write_ascii(out, "?action?", limit);
}
int32_t op_form(const Cell&, TextOut& out, const Cell*, int32_t limit) {
  return write_ascii(out, "?op?", limit);
}

int32_t mold_block_node(NodeId node, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                        int32_t indent) {
  Cell b{};
  b.set_header(TYPE_BLOCK);
  b.set_node(node);
  MoldHandler h = mold_handler(TYPE_BLOCK);
  if (!h) return write_ascii(out, "[]", limit);
  flags.only = false;
  return h(b, out, flags, part, limit, indent);
}

int32_t native_mold_as(const Cell& v, std::string_view head, TextOut& out, MoldFlags flags,
                       const Cell* part, int32_t limit, int32_t indent) {
  limit = write_ascii(out, head, limit);
  limit = mold_block_node(v.fn_spec(), out, flags, part, limit, indent);
  return write_ascii(out, "]", limit);
}

int32_t native_mold(const Cell& v, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                    int32_t indent) {
  return native_mold_as(v, "make native! [", out, flags, part, limit, indent);
}
int32_t action_mold(const Cell& v, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                    int32_t indent) {
  return native_mold_as(v, "make action! [", out, flags, part, limit, indent);
}
int32_t op_mold(const Cell& v, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                int32_t indent) {
  limit = write_ascii(out, "make op! ", limit);
  if (op_source_type(v) == TYPE_FUNCTION) {
    limit = write_ascii(out, "func ", limit);
    limit = mold_block_node(v.fn_spec(), out, flags, part, limit, indent);
    Cell body = block_head(v.fn_more())[MORE_BODY];
    if (body.is(TYPE_BLOCK)) {
      MoldHandler h = mold_handler(TYPE_BLOCK);
      flags.only = false;
      if (h) limit = h(body, out, flags, part, limit, indent);
    }
    return limit;
  }
  limit = write_ascii(out, "[", limit);
  limit = mold_block_node(v.fn_spec(), out, flags, part, limit, indent);
  return write_ascii(out, "]", limit);
}

int32_t native_compare(const Cell& a, const Cell& b, CompareOp op) {
  if (a.type() != b.type()) return kCannotCompare;
  switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_STRICT_EQUAL:
    case COMP_SORT:
    case COMP_CASE_SORT:
    case COMP_SAME:
    case COMP_FIND:
      break;
    default:
      return kCannotCompare;
  }
  // Ops keep indexes of different tables (natives, actions, function contexts): an op of `at`
  // and one of `not-equal?` share an index but not an entry, so the table orders first.
  if (a.is(TYPE_OP) && op_source_type(a) != op_source_type(b))
    return op_source_type(a) < op_source_type(b) ? -1 : 1;
  return a.fn_entry() == b.fn_entry() ? 0 : (a.fn_entry() < b.fn_entry() ? -1 : 1);
}

Cell* op_make(ActionCall& call) {
  Cell spec = call.arg(1);
  TypeId t = spec.type();
  if (t != TYPE_ACTION && t != TYPE_NATIVE && t != TYPE_FUNCTION && t != TYPE_ROUTINE) {
    Cell type = datatype_cell(t);
    fire(Err::script_invalid_type, &type);
  }
  if (!op_spec_ok(spec.fn_spec())) fire(Err::script_bad_op_spec);
  Cell op = spec;
  // Keep the source's own flags (a routine's result kind and calling convention): the infix
  // call turns the op back into its source type and calls it with them.
  op.set_type(TYPE_OP);
  op.set_new_line(false);
  op.set_op_source(t);
  if (t == TYPE_FUNCTION || t == TYPE_ROUTINE) block_head(spec.fn_more())[MORE_OP] = op;
  call.result() = op;
  return &call.result();
}

}  // namespace

void learn_action_shape(const Cell& action) {
  Shape& known = g_action_shapes[action.fn_entry() + 1];
  if (known.empty()) known = shape_of_value(action);
}

void set_entry(uint32_t number, NativeEntry entry) {
  if (number >= 1 && number <= kNativeSlots) natives_table.entries[number - 1] = entry;
}

uint32_t add_routine(const char* name, RoutineEntry entry) {
  RoutineRegistry& r = routine_registry;
  if (r.count >= RoutineRegistry::kCapacity) fire(Err::internal_no_memory);
  r.entries[r.count] = entry;
  r.names[r.count] = name;
  return r.count++;
}

bool op_spec_ok(NodeId spec) {
  SeriesBuffer* b = series_buffer(spec);
  const Cell* c = b->cells_head();
  uint32_t n = b->used() / sizeof(Cell);
  uint32_t args = 0;
  bool plain = false;
  for (uint32_t i = 0; i < n; i++) {
    switch (c[i].type()) {
      case TYPE_WORD:
        args++;
        plain = true;
        break;
      case TYPE_LIT_WORD:
      case TYPE_GET_WORD:
        if (!plain) return false;
        args++;
        break;
      case TYPE_SET_WORD:
        return args == 2;
      case TYPE_REFINEMENT:
        return (canonical_is(c[i].word_symbol(), "local") || canonical_is(c[i].word_symbol(), "extern")) &&
               args == 2;
      default:
        break;  // doc strings and type blocks
    }
  }
  return args == 2;
}

Cell make_value(TypeId type, uint32_t index, NodeId spec, NodeId context) {
  NodeId more = alloc::make_cells(2);
  SeriesBuffer* b = series_buffer(more);
  b->cells_head()[0] = context ? *block_head(context) : shared_cells.none;
  b->cells_head()[1] = shared_cells.none;
  b->set_length(2);
  Cell v{};
  v.set_header(type);
  v.set_fn(index, spec, more);
  return v;
}

void register_native() {
  register_type(TYPE_NATIVE, TYPE_NONE_ID, "native!",
                HandlerRow()
                    .set(ActionIndex::make, &native_make)
                    .set(ActionIndex::reflect, &native_reflect)
                    .set(ActionIndex::form, &native_form)
                    .set(ActionIndex::mold, &native_mold)
                    .set(ActionIndex::compare, &native_compare));
}

void register_action() {
  register_type(TYPE_ACTION, TYPE_NATIVE, "action!",
                HandlerRow(kInherit)
                    .set(ActionIndex::make, &native_make)
                    .set(ActionIndex::form, &action_form)
                    .set(ActionIndex::mold, &action_mold)
                    .set(ActionIndex::compare, &native_compare));
}

void register_op() {
  register_type(TYPE_OP, TYPE_NATIVE, "op!",
                HandlerRow(kInherit)
                    .set(ActionIndex::make, &op_make)
                    .set(ActionIndex::form, &op_form)
                    .set(ActionIndex::mold, &op_mold)
                    .set(ActionIndex::compare, &native_compare));
}

}  // namespace native
}  // namespace zem
