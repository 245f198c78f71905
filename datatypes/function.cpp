// function! and routine!: spec checks, making functions, their locals, and their action handlers.
#include "datatypes/function.h"

#include <string_view>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "runtime/boot_state.h"
#include "runtime/memory.h"

namespace zem::function {

namespace {

inline uint32_t len_of(NodeId n) { return series_buffer(n)->used() / sizeof(Cell); }

uint32_t canonical(uint32_t sym) { return symbol::canonical_id(sym); }

bool name_is(uint32_t sym, std::string_view name) {
  std::string_view t = stack::symbol_text(sym);
  if (t.size() != name.size()) return false;
  for (size_t i = 0; i < t.size(); i++) {
    char a = t[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != name[i]) return false;
  }
  return true;
}

Cell block_cell(NodeId node, TypeId t = TYPE_BLOCK) {
  Cell c{};
  c.set_header(t);
  c.set_node(node);
  return c;
}

bool block_kind(TypeId t) {
  return t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH);
}

// A deep copy of a block-kind value from its position (nested blocks, parens and paths copied).
// The body of a function is copied only here, before anything can run.
Cell copy_deep(const Cell& v, uint32_t depth = 0) {
  if (depth >= kPointerStackSize) fire(Err::internal_too_deep);
  uint32_t len = len_of(v.node());
  uint32_t from = std::min(v.head_index(), len);
  std::vector<Cell> cells(block_head(v.node()) + from, block_head(v.node()) + len);
  for (Cell& c : cells)
    if (block_kind(c.type())) c = copy_deep(c, depth + 1);
  NodeId copy = alloc::make_cells(cells.empty() ? 1 : static_cast<int64_t>(cells.size()));
  SeriesBuffer* b = series_buffer(copy);
  for (size_t i = 0; i < cells.size(); i++) b->cells_head()[i] = cells[i];
  b->set_length(static_cast<uint32_t>(cells.size()));
  Cell r = v;
  r.set_series(0, copy);
  return r;
}

// While set (spec_valid), a spec fault ends the check with SpecFault instead of raising: a caller
// that must report it its own way never sees the stacks unwound.
bool g_quiet_spec = false;
struct SpecFault {};

[[noreturn]] void spec_fault(Err id, const Cell& arg) {
  if (g_quiet_spec) throw SpecFault{};
  Cell a = arg;
  fire(id, &a);
}

[[noreturn]] void bad_def(const Cell& spec) { spec_fault(Err::script_bad_func_def, spec); }

bool word_like(TypeId t) { return t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD; }

void check_type_block(const Cell& types) {
  uint32_t n = len_of(types.node());
  for (uint32_t i = types.head_index(); i < n; i++) {
    Cell e = block_head(types.node())[i];
    // Reading a word of another context may raise: the quiet check takes global words only.
    if (g_quiet_spec && e.is(TYPE_WORD) && e.word_context() != context::global()) throw SpecFault{};
    Cell v = e.is(TYPE_WORD) ? *interp::word_value(e) : e;
    if (e.is(TYPE_WORD) && v.is(TYPE_UNSET)) spec_fault(Err::script_no_value, e);
    if (!v.is(TYPE_DATATYPE) && !v.is(TYPE_TYPESET) && !v.is(TYPE_WORD))
      spec_fault(Err::script_invalid_type_spec, v);
  }
}

Cell* function_make(ActionCall& call) {
  Cell spec = call.arg(1);
  if (!spec.is(TYPE_BLOCK)) bad_def(spec);
  uint32_t n = len_of(spec.node());
  if (n < spec.head_index() || n - spec.head_index() != 2) bad_def(spec);
  Cell s = block_head(spec.node())[spec.head_index()];
  Cell b = block_head(spec.node())[spec.head_index() + 1];
  if (!s.is(TYPE_BLOCK) || !b.is(TYPE_BLOCK)) bad_def(spec);
  uint32_t flags = check_spec(s);
  Cell v = build_value(s, b, 0, -1, 0, flags);
  stack::drop_values(1);
  call.result() = v;
  return &call.result();
}

Cell* function_reflect(ActionCall& call) {
  Cell value = call.arg(0);
  Cell field = call.arg(1);
  if (field.is(TYPE_WORD) && name_is(field.word_symbol(), "spec")) {
    call.result() = block_cell(value.fn_spec());
  } else if (field.is(TYPE_WORD) && name_is(field.word_symbol(), "body")) {
    call.result() = block_head(value.fn_more())[MORE_BODY];
  } else if (field.is(TYPE_WORD) && name_is(field.word_symbol(), "words")) {
    // The table's words are bound to the function's context at their own positions already.
    NodeId ctx = value.fn_context();
    uint32_t n = context::word_count(ctx);
    Cell words = block::make(n);
    for (uint32_t i = 0; i < n; i++) {
      Cell w = *context::word_at(ctx, i);
      w.set_header(TYPE_WORD);
      block::append_cell(words, w);
    }
    call.result() = words;
  } else {
    fire(Err::internal_not_done, &field);
  }
  return &call.result();
}

int32_t ascii(TextOut& out, std::string_view t, int32_t limit) {
  out.append_ascii(t);
  return limit - static_cast<int32_t>(t.size());
}

int32_t function_form(const Cell&, TextOut& out, const Cell*, int32_t limit) {
  return ascii(out, "?function?", limit);
}
int32_t routine_form(const Cell&, TextOut& out, const Cell*, int32_t limit) {
  return ascii(out, "?routine?", limit);
}

int32_t mold_as(const Cell& v, std::string_view head, TextOut& out, MoldFlags flags,
                const Cell* part, int32_t limit, int32_t indent) {
  limit = ascii(out, head, limit);
  MoldHandler h = mold_handler(TYPE_BLOCK);
  flags.only = false;
  if (h) limit = h(block_cell(v.fn_spec()), out, flags, part, limit, indent);
  Cell body = block_head(v.fn_more())[MORE_BODY];
  if (!body.is(TYPE_BLOCK)) return ascii(out, " none", limit);
  if (h) limit = h(body, out, flags, part, limit, indent);
  return limit;
}

int32_t function_mold(const Cell& v, TextOut& out, MoldFlags flags, const Cell* part,
                      int32_t limit, int32_t indent) {
  return mold_as(v, "func ", out, flags, part, limit, indent);
}
int32_t routine_mold(const Cell& v, TextOut& out, MoldFlags flags, const Cell* part,
                     int32_t limit, int32_t indent) {
  return mold_as(v, "routine ", out, flags, part, limit, indent);
}

int32_t function_compare(const Cell& a, const Cell& b, CompareOp op) {
  if (a.type() != b.type()) return kCannotCompare;
  switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_STRICT_EQUAL:
    case COMP_SORT:
    case COMP_CASE_SORT:
    case COMP_SAME:
    case COMP_FIND:
      return a.fn_more() == b.fn_more() ? 0 : (a.fn_more() < b.fn_more() ? -1 : 1);
    default:
      return kCannotCompare;
  }
}

NodeId make_more(const Cell& body, int32_t entry, int32_t object) {
  NodeId more = alloc::make_cells(5);
  SeriesBuffer* b = series_buffer(more);
  Cell* m = b->cells_head();
  for (int i = 0; i < 5; i++) m[i] = shared_cells.unset;
  m[MORE_BODY] = body;
  if (entry >= 0) {
    m[MORE_ENTRY].set_header(TYPE_INTEGER);
    m[MORE_ENTRY].set_int_value(entry);
  }
  if (object) {
    m[MORE_CONTEXT].set_header(TYPE_INTEGER);
    m[MORE_CONTEXT].set_int_value(object);
  }
  b->set_length(5);
  return more;
}

}  // namespace

uint32_t check_spec(const Cell& spec) {
  NodeId node = spec.node();
  uint32_t n = len_of(node);
  uint32_t i = spec.head_index();
  uint32_t flags = 0;
  auto cell = [&](uint32_t k) { return block_head(node)[k]; };
  if (i < n && cell(i).is(TYPE_BLOCK)) {
    Cell attrs = cell(i);
    for (uint32_t k = attrs.head_index(); k < len_of(attrs.node()); k++) {
      Cell a = block_head(attrs.node())[k];
      if (!a.is(TYPE_WORD)) bad_def(spec);
      if (name_is(a.word_symbol(), "trace")) flags |= kFunctionTrace;
      if (name_is(a.word_symbol(), "no-trace")) flags |= kFunctionNoTrace;
    }
    i++;
  }
  bool after_return = false, in_locals = false;
  for (; i < n; i++) {
    Cell v = cell(i);
    switch (v.type()) {
      case TYPE_WORD:
      case TYPE_GET_WORD:
      case TYPE_LIT_WORD:
        if (in_locals && !v.is(TYPE_WORD)) bad_def(spec);
        if (after_return && !in_locals) bad_def(spec);
        if (i + 2 < n && cell(i + 1).is(TYPE_STRING) && cell(i + 2).is(TYPE_BLOCK)) bad_def(spec);
        if (i + 1 < n && cell(i + 1).is(TYPE_BLOCK)) {
          check_type_block(cell(i + 1));
          i++;
        }
        break;
      case TYPE_SET_WORD: {
        if (!name_is(v.word_symbol(), "return") || after_return || in_locals) bad_def(spec);
        if (i + 1 >= n || !cell(i + 1).is(TYPE_BLOCK)) bad_def(spec);
        if (i + 2 < n && !cell(i + 2).is(TYPE_REFINEMENT) && !cell(i + 2).is(TYPE_STRING))
          bad_def(spec);
        after_return = true;
        i++;
        break;
      }
      case TYPE_REFINEMENT: {
        if (name_is(v.word_symbol(), "local")) {
          in_locals = true;
          break;
        }
        if (in_locals || after_return) bad_def(spec);
        if (i + 1 < n) {
          TypeId t = cell(i + 1).type();
          if (!word_like(t) && t != TYPE_REFINEMENT && t != TYPE_SET_WORD && t != TYPE_STRING)
            bad_def(spec);
        }
        break;
      }
      case TYPE_STRING:
        break;
      default:
        bad_def(spec);
    }
  }
  // Duplicates, case-insensitively.
  for (uint32_t a = spec.head_index(); a < n; a++) {
    Cell x = cell(a);
    if (!word_like(x.type()) && !x.is(TYPE_REFINEMENT)) continue;
    for (uint32_t b = a + 1; b < n; b++) {
      Cell y = cell(b);
      if ((word_like(y.type()) || y.is(TYPE_REFINEMENT)) &&
          canonical(x.word_symbol()) == canonical(y.word_symbol()))
        spec_fault(Err::script_dup_vars, y);
    }
  }
  return flags;
}

bool spec_valid(const Cell& spec, uint32_t& flags) {
  struct Quiet {
    Quiet() { g_quiet_spec = true; }
    ~Quiet() { g_quiet_spec = false; }
  } quiet;
  try {
    flags = check_spec(spec);
    return true;
  } catch (const SpecFault&) {
    return false;
  }
}

// Whether a word `return` or `exit` occurs anywhere in the block, nested blocks and paths included.
// (Symbols are looked up per call: a restarted runtime has a new symbol table.)
bool mentions_exit(const Cell& block, uint32_t ret, uint32_t ex) {
  NodeId node = block.node();
  for (uint32_t k = block.head_index(); k < len_of(node); k++) {
    Cell v = block_head(node)[k];
    TypeId t = v.type();
    if (t >= TYPE_WORD && t <= TYPE_GET_WORD) {
      uint32_t c = canonical(v.word_symbol());
      if (c == ret || c == ex) return true;
    } else if (block_kind(t) && mentions_exit(v, ret, ex)) {
      return true;
    }
  }
  return false;
}

Cell build_value(const Cell& spec_in, const Cell& body_in, NodeId context, int32_t entry,
                 NodeId object, uint32_t flags) {
  Cell spec = spec_in;
  if (spec.head_index() != 0) spec = copy_deep(spec);
  bool made = context == 0;
  if (made) context = context::make_from_spec(block::value_of(spec.node()), true, false, CONTEXT_FUNCTION);
  Cell body = body_in.is(TYPE_BLOCK) ? copy_deep(body_in) : shared_cells.none;
  Cell v{};
  v.set_header(TYPE_FUNCTION);
  if (boot_state.loading) {
    flags |= kFunctionLibrary;
    if (body.is(TYPE_BLOCK) && !mentions_exit(body, canonical(symbol::intern("return")),
                                               canonical(symbol::intern("exit"))))
      flags |= kFunctionPassesExits;
  }
  v.set_flag(flags, true);
  v.set_fn(context, spec.node(), make_more(body, entry, static_cast<int32_t>(object)));
  if (len_of(context) > 1) block_head(context)[1] = v;
  if (made && body.is(TYPE_BLOCK)) context::bind_block(body, context, false);
  stack::push_value(v);
  return v;
}

Cell assemble(NodeId context, NodeId spec, const Cell& body, uint32_t flags) {
  Cell v{};
  v.set_header(TYPE_FUNCTION);
  v.set_flag(flags, true);
  v.set_fn(context, spec, make_more(body, -1, 0));
  if (len_of(context) > 1) block_head(context)[1] = v;
  return v;
}

Cell make_routine(const Cell& spec, int32_t entry, int32_t result_type, bool cell_convention) {
  NodeId context = context::make_from_spec(block::value_of(spec.node()), true, false, CONTEXT_FUNCTION);
  Cell v{};
  v.set_header(TYPE_ROUTINE);
  v.set_flag(kRoutineCellConvention, cell_convention);
  v.set_fn(context, spec.node(), make_more(shared_cells.none, entry, 0));
  Cell* more = block_head(v.fn_more());
  more[MORE_CONTEXT].set_header(TYPE_INTEGER);
  more[MORE_CONTEXT].set_int_value(result_type);
  uint32_t words = 0;
  for (uint32_t i = 0; i < len_of(spec.node()); i++)
    if (block_head(spec.node())[i].is(TYPE_WORD)) words++;
  v.set_routine_words(words);
  stack::push_value(v);
  return v;
}

namespace {

struct LocalsWalk {
  std::vector<uint32_t> names;  // canonical ids to leave alone
  std::vector<Cell> found;      // words to add, in order of discovery

  bool known(uint32_t sym) const {
    uint32_t c = symbol::canonical_id(sym);
    for (uint32_t n : names)
      if (n == c) return true;
    return false;
  }
  void add(const Cell& w) {
    if (known(w.word_symbol())) return;
    names.push_back(symbol::canonical_id(w.word_symbol()));
    Cell word = w;
    word.set_header(TYPE_WORD);
    word.set_word_context(0);
    word.set_word_index(0xFFFFFFFFu);
    found.push_back(word);
  }
  void walk(const Cell& block, uint32_t depth) {
    if (depth >= kPointerStackSize) fire(Err::internal_too_deep);
    NodeId node = block.node();
    for (uint32_t i = block.head_index(); i < len_of(node); i++) {
      Cell v = block_head(node)[i];
      if (v.is(TYPE_SET_WORD)) {
        add(v);
      } else if (v.is(TYPE_WORD) && i + 1 < len_of(node)) {
        Cell next = block_head(node)[i + 1];
        if (name_is(v.word_symbol(), "repeat") && next.is(TYPE_WORD)) {
          add(next);
        } else if (name_is(v.word_symbol(), "foreach") || name_is(v.word_symbol(), "remove-each")) {
          if (next.is(TYPE_WORD)) {
            add(next);
          } else if (next.is(TYPE_BLOCK)) {
            for (uint32_t k = next.head_index(); k < len_of(next.node()); k++) {
              Cell w = block_head(next.node())[k];
              if (w.is(TYPE_WORD)) add(w);
            }
          }
        }
      } else if (v.is(TYPE_BLOCK) || v.is(TYPE_PAREN)) {
        walk(v, depth + 1);
      }
    }
  }
};

}  // namespace

void collect_locals(const Cell& spec, const Cell& body) {
  NodeId node = spec.node();
  LocalsWalk walk;
  uint32_t n = len_of(node);
  uint32_t cut = n;
  bool has_local = false;
  for (uint32_t i = spec.head_index(); i < n; i++) {
    Cell v = block_head(node)[i];
    switch (v.type()) {
      case TYPE_WORD:
      case TYPE_SET_WORD:
      case TYPE_LIT_WORD:
      case TYPE_GET_WORD:
      case TYPE_REFINEMENT:
        walk.names.push_back(symbol::canonical_id(v.word_symbol()));
        if (v.is(TYPE_REFINEMENT) && name_is(v.word_symbol(), "extern") && cut == n) cut = i;
        if (v.is(TYPE_REFINEMENT) && name_is(v.word_symbol(), "local") && cut == n) has_local = true;
        break;
      case TYPE_BLOCK:
      case TYPE_STRING:
        break;
      default:
        fire(Err::script_bad_func_extern, &v);
    }
  }
  if (cut < n) block::truncate_at(node, cut);
  walk.walk(body, 0);
  std::vector<Cell> add;
  for (const Cell& w : walk.found)
    if (!name_is(w.word_symbol(), "local")) add.push_back(w);
  if (add.empty()) return;
  if (!has_local) {
    Cell local = make_word_cell(symbol::intern("local"), 0, TYPE_REFINEMENT);
    block::append_cell(spec, local);
  }
  for (const Cell& w : add) block::append_cell(spec, w);
}

int32_t count_locals(NodeId spec, uint32_t start, bool require) {
  uint32_t n = len_of(spec);
  for (uint32_t i = start; i < n; i++) {
    Cell v = block_head(spec)[i];
    if (v.is(TYPE_REFINEMENT) && name_is(v.word_symbol(), "local")) {
      int32_t count = 1;
      for (uint32_t k = i + 1; k < n; k++)
        if (block_head(spec)[k].is(TYPE_WORD)) count++;
      return count;
    }
  }
  return require ? -1 : 0;
}

void push_unused_refinement(uint32_t n) {
  stack::push_value(shared_cells.false_value);
  for (uint32_t i = 1; i < n; i++) stack::push_value(shared_cells.none);
}

void register_function() {
  register_type(TYPE_FUNCTION, TYPE_CONTEXT, "function!",
                HandlerRow()
                    .set(ActionIndex::make, &function_make)
                    .set(ActionIndex::reflect, &function_reflect)
                    .set(ActionIndex::form, &function_form)
                    .set(ActionIndex::mold, &function_mold)
                    .set(ActionIndex::compare, &function_compare));
}

void register_routine() {
  register_type(TYPE_ROUTINE, TYPE_FUNCTION, "routine!",
                HandlerRow()
                    .set(ActionIndex::reflect, &function_reflect)
                    .set(ActionIndex::form, &routine_form)
                    .set(ActionIndex::mold, &routine_mold)
                    .set(ActionIndex::compare, &function_compare));
}

}  // namespace zem::function
