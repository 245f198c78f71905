// Contexts: word tables and value blocks, word lookup and binding of blocks to a context.
#include "datatypes/context.h"

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/hashtab.h"
#include "runtime/support.h"
#include "runtime/wiring.h"

namespace zem {

ContextState context_state;

namespace context {

namespace {

Cell unset_cell() {
  Cell c{};
  c.set_header(TYPE_UNSET);
  return c;
}

Cell* append_raw(NodeId block, const Cell& value) { return block::append_cell(block, value); }

// Appends a word of the symbol bound to ctx at the new position; answers the position.
int32_t append_word(NodeId ctx, uint32_t sym) {
  NodeId table = word_table(ctx);
  NodeId words = hashtab::data_block(table);
  int32_t pos = static_cast<int32_t>(series_length(words));
  append_raw(words, word_cell(TYPE_WORD, ctx, sym, pos));
  hashtab::insert(table, static_cast<uint32_t>(pos));
  return pos;
}

void append_value(NodeId ctx, const Cell& value) {
  if (!on_stack(ctx)) append_raw(cell(ctx).context_values(), value);
}

bool is_bindable_word(TypeId t) {
  return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD ||
         t == TYPE_REFINEMENT;
}

bool is_bindable_block(TypeId t) {
  return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || t == TYPE_PATH ||
         t == TYPE_LIT_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH;
}

void mark_global(void*) {
  if (context_state.global) gc::mark_context(context_state.global);
  if (context_state.root_copy_block) gc::mark_block(context_state.root_copy_block);
}

}  // namespace

NodeId words_block(NodeId ctx) { return hashtab::data_block(word_table(ctx)); }

uint32_t word_count(NodeId ctx) { return series_length(words_block(ctx)); }

Cell* word_at(NodeId ctx, uint32_t i) { return block_head(words_block(ctx)) + i; }

Cell* values(NodeId ctx) {
  const Cell& c = cell(ctx);
  if (c.has_flag(kContextOnStack)) {
    return stack::values_of_ref(c.context_values());
  }
  return block_head(c.context_values());
}

Cell* value_at(NodeId ctx, uint32_t n) {
  Cell* v = values(ctx);
  return v ? v + n : nullptr;
}

NodeId allocate(uint32_t slots, bool stack, bool self, NodeId source, ContextKind kind) {
  if (slots == 0) slots = 1;
  NodeId ctx = alloc::make_cells(2);
  SeriesBuffer* b = series_buffer(ctx);
  b->cells_head()[0] = unset_cell();
  b->cells_head()[1] = unset_cell();
  b->set_length(2);
  NodeId table;
  uint32_t words = 0;
  if (source) {
    table = hashtab::copy(word_table(source));
    words = series_length(hashtab::data_block(table));
    Cell* w = block_head(hashtab::data_block(table));
    for (uint32_t i = 0; i < words; i++) w[i].set_word_context(ctx);
  } else {
    table = hashtab::create(slots, 0, hashtab::KIND_WORDS);
  }
  NodeId values_node = 0;
  if (!stack) {
    values_node = alloc::make_unset_cells(slots > words ? slots : words);
    series_buffer(values_node)->set_length(words);
  }
  Cell& c = block_head(ctx)[0];
  c.set_header(TYPE_CONTEXT);
  c.set_context_kind(kind);
  c.set_flag(kContextOnStack, stack);
  c.set_flag(kContextSelf, self);
  c.set_raw_words(0, 0, 0);  // the third word is unused
  c.set_context_words(table);
  c.set_context_values(values_node);
  return ctx;
}

NodeId make_from_spec(const Cell& spec, bool stack, bool self, ContextKind kind) {
  NodeId spec_node = spec.node();
  uint32_t n = series_length(spec_node);
  NodeId ctx = allocate(n, stack, self, 0, kind);
  for (uint32_t i = 0; i < n; i++) {
    const Cell item = block_head(spec_node)[i];
    TypeId t = item.type();
    if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT)
      add_symbol(ctx, item.word_symbol());
  }
  return ctx;
}

NodeId clone_for_function(Cell& value, ContextKind kind) {
  NodeId source = value.fn_context();
  const Cell& sc = cell(source);
  NodeId ctx = allocate(word_count(source), sc.has_flag(kContextOnStack), sc.has_flag(kContextSelf),
                        source, kind);
  value.set_fn_context(ctx);
  return ctx;
}

int32_t find_symbol_index(NodeId ctx, uint32_t sym, bool case_insensitive) {
  return static_cast<int32_t>(hashtab::find_word(word_table(ctx), sym, case_insensitive));
}

int32_t find_symbol_index_ex(NodeId ctx, uint32_t sym, bool case_insensitive, int32_t* added) {
  int32_t i = find_symbol_index(ctx, sym, case_insensitive);
  if (i >= 0) return i;
  *added = append_word(ctx, sym);
  return -1;
}

int32_t add_symbol(NodeId ctx, uint32_t sym) {
  int32_t added = -1;
  int32_t i = find_symbol_index_ex(ctx, sym, true, &added);
  if (i >= 0) return i;
  append_value(ctx, unset_cell());
  return added;
}

Cell* add_word_if_absent(NodeId ctx, const Cell& word, const Cell& value) {
  if (find_symbol_index(ctx, word.word_symbol(), true) >= 0) return nullptr;
  Cell copy = value;
  int32_t i = add_symbol(ctx, word.word_symbol());
  Cell* slot = value_at(ctx, static_cast<uint32_t>(i));
  if (slot) *slot = copy;
  return slot;
}

void set_or_add_word(NodeId ctx, const Cell& word, const Cell& value) {
  Cell copy = value;
  int32_t i = add_symbol(ctx, word.word_symbol());
  Cell* slot = value_at(ctx, static_cast<uint32_t>(i));
  if (slot) *slot = copy;
}

NodeId global() { return context_state.global; }

void record_root_copy(const Cell& value) {
  if (context_state.root_copy_block) append_raw(context_state.root_copy_block, value);
}

Cell find_or_add_global(uint32_t sym, bool case_insensitive, bool copy_variant) {
  NodeId g = context_state.global;
  int32_t added = -1;
  int32_t i = find_symbol_index_ex(g, sym, case_insensitive, &added);
  if (i >= 0) {
    Cell found = *word_at(g, static_cast<uint32_t>(i));
    if (case_insensitive && copy_variant && found.word_symbol() != sym) {
      // A case variant matched: the asked spelling, sharing the found word's slot.
      found.set_word_symbol(sym);
      record_root_copy(found);
    }
    return found;
  }
  if (symbol::alias_of(sym) > 0) {
    int32_t first = find_symbol_index(g, sym, true);
    if (first >= 0 && first != added)
      word_at(g, static_cast<uint32_t>(added))->set_word_index(static_cast<uint32_t>(first));
  }
  append_value(g, unset_cell());
  return *word_at(g, static_cast<uint32_t>(added));
}

Cell add_global_word(uint32_t sym) {
  Cell w = find_or_add_global(sym, false, true);
  record_root_copy(w);
  return w;
}

Cell* symbol_value_cell(uint32_t sym, NodeId ctx) {
  if (on_stack(ctx)) ctx = context_state.global;
  int32_t i = find_symbol_index(ctx, sym, true);
  if (i < 0) return nullptr;
  return value_at(ctx, static_cast<uint32_t>(word_at(ctx, static_cast<uint32_t>(i))->word_index()));
}

Cell* word_value_cell(const Cell& word) {
  int32_t index = word_index(word);
  NodeId ctx = word.word_context();
  if (index < 0 || ctx == 0) {
    if (ctx != 0 && word.word_symbol() == context_state.self_symbol) return &owner(ctx);
    // A fresh global word finds the slot that another cell of its name has made since it was
    // loaded: `f: func [] [g]  g: 1  f` reads the g that the set-word added.
    if (ctx == context_state.global && ctx != 0) {
      int32_t pos = find_symbol_index(ctx, word.word_symbol(), false);
      if (pos >= 0) index = word_index(*word_at(ctx, static_cast<uint32_t>(pos)));
    }
    if (index < 0) fire(Err::script_no_value, &word);
  }
  Cell* v = values(ctx);
  if (v == nullptr) fire(Err::script_not_in_context, &word);
  if (!on_stack(ctx) && static_cast<uint32_t>(index) >= series_length(cell(ctx).context_values()))
    fire(Err::script_no_value, &word);
  return v + index;
}

Cell* set_in(Cell& word, const Cell& value, NodeId ctx, bool notify) {
  const Cell new_value = value;
  if (ctx == 0) fire(Err::script_not_defined, &word);  // a word bound to no context
  int32_t index = word_index(word);
  if (index < 0) {
    int32_t pos = find_symbol_index(ctx, word.word_symbol(), false);
    index = pos >= 0 ? word_index(*word_at(ctx, static_cast<uint32_t>(pos)))
                     : add_symbol(ctx, word.word_symbol());
    word.set_word_index(static_cast<uint32_t>(index));
  }
  Cell* v = values(ctx);
  if (v == nullptr) fire(Err::script_not_defined, &word);
  if (on_stack(ctx)) return &(v[index] = new_value);
  if (kind(ctx) == CONTEXT_OBJECT) {
    word_at(ctx, static_cast<uint32_t>(index))->set_flag(kWordSetMark, true);
    const Cell own = owner(ctx);
    if (notify && own.object_record() != 0 && wiring.field_changed) {
      const Cell old_value = v[index];
      const Cell w = word;
      v[index] = new_value;
      wiring.field_changed(own, w, old_value, new_value);
      return value_at(ctx, static_cast<uint32_t>(index));
    }
  }
  return &(v[index] = new_value);
}

bool collect_set_words(NodeId ctx, const Cell& block) {
  NodeId node = block.node();
  uint32_t before = word_count(ctx);
  uint32_t len = series_length(node);
  for (uint32_t i = block.head_index() < len ? block.head_index() : len; i < len; i++) {
    const Cell item = block_head(node)[i];
    if (item.is(TYPE_SET_WORD)) add_symbol(ctx, item.word_symbol());
  }
  return word_count(ctx) != before;
}

int32_t bind_word(NodeId ctx, Cell& word) {
  int32_t i = find_symbol_index(ctx, word.word_symbol(), true);
  if (i >= 0) {
    word.set_word_context(ctx);
    word.set_word_index(static_cast<uint32_t>(i));
  }
  return i;
}

void bind_block(const Cell& block, NodeId ctx, bool self) {
  NodeId node = block.node();
  if (node == 0 || ptrstack::contains(node)) return;
  PointerStackGuard guard(node);
  // Binding allocates nothing, so the buffer stays where it is for the whole walk.
  SeriesBuffer* b = series_buffer(node);
  Cell* end = b->cells_tail();
  for (Cell* c = b->cells_head() + block.head_index(); c < end; c++) {
    TypeId t = c->type();
    if (is_bindable_word(t)) {
      if (self && t == TYPE_WORD && c->word_symbol() == context_state.self_symbol) {
        c->set_word_context(ctx);
        c->set_word_index(0xFFFFFFFFu);
      } else {
        bind_word(ctx, *c);
      }
    } else if (is_bindable_block(t)) {
      bind_block(*c, ctx, self);
    }
  }
}

void init() {
  // The hooks stay as installed; the rest starts afresh.
  context_state = ContextState{};
  context_state.self_symbol = symbol::intern_c_name("self");
  context_state.global = allocate(kGlobalContextSize, false, false, 0, CONTEXT_GLOBAL);
  gc::set_fixed_root(gc::RootSlot::global_context, &mark_global);
}

}  // namespace context

void register_context_type() { register_type(TYPE_CONTEXT, TYPE_NONE_ID, "context!", HandlerRow()); }

}  // namespace zem
