// Contexts and binding.
//
// A context is the node of a two-cell series:
//   cell 0, the context! cell (layout in runtime/layout.h): the kind, kContextOnStack when the
//     values live on the argument stack, kContextSelf when words named `self` mean the owning
//     object; the word table (a kind-2 hash table whose data block holds one word! cell per word,
//     in insertion order, each bound to this context at its own position); the values block
//     (value i belongs to word i) or, for an on-stack context, the values reference of the running
//     call (0 when no call runs);
//   cell 1, the owner: the object (or function) value that owns the context, unset! until set.
//
// Addresses answered here (value cells, word cells) point into movable buffers: they are valid
// until the next allocation into that series or the next safe point.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

namespace zem {

enum ContextKind : uint32_t {
  CONTEXT_GLOBAL = 0,
  CONTEXT_FUNCTION = 1,
  CONTEXT_OBJECT = 2,
};

constexpr uint32_t kGlobalContextSize = 4000;

struct ContextState {
  NodeId global = 0;
  uint32_t self_symbol = 0;
  // While start-up records its words, global words made from names are also appended here.
  NodeId root_copy_block = 0;
};
extern ContextState context_state;

namespace context {

// ---- The context cell ---------------------------------------------------------------------------

inline Cell& cell(NodeId ctx) { return *block_head(ctx); }
inline Cell& owner(NodeId ctx) { return block_head(ctx)[1]; }
inline ContextKind kind(NodeId ctx) {
  return static_cast<ContextKind>(cell(ctx).context_kind());
}
inline bool on_stack(NodeId ctx) { return cell(ctx).has_flag(kContextOnStack); }
inline bool has_self(NodeId ctx) { return cell(ctx).has_flag(kContextSelf); }
inline NodeId word_table(NodeId ctx) { return cell(ctx).context_words(); }
// The word table's data block.
NodeId words_block(NodeId ctx);
uint32_t word_count(NodeId ctx);
// Word i of the table, in place (valid until the table grows).
Cell* word_at(NodeId ctx, uint32_t i);
// The values block of a heap context (0 for an on-stack one).
inline NodeId values_block(NodeId ctx) { return on_stack(ctx) ? 0 : cell(ctx).context_values(); }
// First value cell: the values block's head, the running call's cells, or null when an on-stack
// context has no call running.
Cell* values(NodeId ctx);

// ---- Making -------------------------------------------------------------------------------------

// A new context with room for `slots` words (0 counts as 1); the word table copies the source's
// when one is given (its values are not copied).
NodeId allocate(uint32_t slots, bool on_stack, bool self, NodeId source, ContextKind kind);
// A context sized by the spec block's length holding, case-insensitively, each word!, get-word!,
// lit-word! and refinement! of the spec's series (set-words, strings, blocks skipped). A heap
// context gets one unset! value per word.
NodeId make_from_spec(const Cell& spec, bool on_stack, bool self, ContextKind kind);
// A copy of the context of a function-like value: same flags, given kind, copied word table
// rebound to the copy; the value then names the copy.
NodeId clone_for_function(Cell& value, ContextKind kind);

// ---- Look-up and insertion ----------------------------------------------------------------------

// Index of the symbol (or, case-insensitively, of a case variant of it), or -1.
int32_t find_symbol_index(NodeId ctx, uint32_t sym, bool case_insensitive);
// The index when present. Otherwise appends the word (no value slot), writes its index to `added`
// and answers -1.
int32_t find_symbol_index_ex(NodeId ctx, uint32_t sym, bool case_insensitive, int32_t* added);
// Find-or-add case-insensitively; a heap context gets an unset! value for a new word.
int32_t add_symbol(NodeId ctx, uint32_t sym);
inline int32_t add_word(NodeId ctx, const Cell& word) { return add_symbol(ctx, word.word_symbol()); }
// Adds the word with a copy of value and answers the new slot, or null when the word is present.
Cell* add_word_if_absent(NodeId ctx, const Cell& word, const Cell& value);
void set_or_add_word(NodeId ctx, const Cell& word, const Cell& value);

NodeId global();
// The global word cell for the symbol. Found by a case variant with both flags on: a copy of the
// found word with the asked symbol, appended to the root-copy block when there is one. A new case
// variant shares the value slot of the first variant, and every addition appends an unset! value.
Cell find_or_add_global(uint32_t sym, bool case_insensitive, bool copy_variant);
// The exact global word of the symbol (added when absent).
Cell add_global_word(uint32_t sym);
// Appends a copy of a word to the root-copy block while start-up records (nothing otherwise).
void record_root_copy(const Cell& value);

// ---- Values -------------------------------------------------------------------------------------

// The value cell of the symbol (case-insensitive) in the context, or in the global context when the
// context's values are on the stack; null when the symbol is absent.
Cell* symbol_value_cell(uint32_t sym, NodeId ctx);
// The value cell of a word in its own context. Index -1: the owner of a self context for the word
// `self`, else script `no-value`; a function context that is not running: script `not-in-context`.
Cell* word_value_cell(const Cell& word);
// Writes the value through the word into ctx (an unresolved word is added and gets its index);
// answers the slot written. A function context that is not running raises script `not-defined`.
// In an object context the word gets the set mark and, with notify and a change record, the
// object's `on-change*` runs.
Cell* set_in(Cell& word, const Cell& value, NodeId ctx, bool notify);
inline Cell* set_word_value(Cell& word, const Cell& value) {
  return set_in(word, value, word.word_context(), true);
}
// Value slot n of a context; null for an on-stack context with no call running.
Cell* value_at(NodeId ctx, uint32_t n);

// Adds every set-word! of the block (from its head, clamped to the tail); true when words were added.
bool collect_set_words(NodeId ctx, const Cell& block);

// ---- Binding ------------------------------------------------------------------------------------

// Rebinds the word to ctx when ctx has its symbol (case-insensitive); answers the index or -1.
int32_t bind_word(NodeId ctx, Cell& word);
// Binds every word of the block and of the blocks, parens, hashes and paths in it, cycles
// included; with `self`, the word `self` binds to ctx with index -1.
void bind_block(const Cell& block, NodeId ctx, bool self);

// A word cell of a symbol bound to a context at an index.
inline Cell word_cell(TypeId type, NodeId ctx, uint32_t sym, int32_t index) {
  Cell c{};
  c.set_header(type);
  c.set_word(ctx, sym, static_cast<uint32_t>(index));
  return c;
}
inline int32_t word_index(const Cell& word) { return static_cast<int32_t>(word.word_index()); }

// Makes the global context and roots it.
void init();

}  // namespace context

// context! is registered with every action unsupported.
void register_context_type();

}  // namespace zem
