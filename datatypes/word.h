// The word kinds (word!, set-word!, lit-word!, get-word!, refinement!) and issue!: one payload, the
// binding context (0: unbound), the symbol id and the index in the context (-1 until resolved); see
// runtime/layout.h. Converting between the kinds keeps the binding.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/context.h"
#include "datatypes/registry.h"

namespace zem {

namespace word {

constexpr bool is_any_word(TypeId t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }
// word!, set-word!, get-word!, lit-word!: the kinds the lexer makes from a plain name.
constexpr bool is_plain_kind(TypeId t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }

// The global word of a name: interned exactly, found case-insensitively (a case variant answers a
// copy with the asked spelling). Callers copy the cell and never change it in place. While start-up
// records, a copy also goes to the root-copy block.
Cell make_from_c_name(const char* name);
Cell make_from_name(std::string_view name);
// Makes `cell` a word! bound to the global context with the index that adding the symbol gives.
Cell& init_global(uint32_t sym, Cell& cell);
// A refinement! of the name, unbound (context 0); recorded in the root-copy block.
Cell refinement_from_c_name(const char* name);
// An issue! of the name, bound to the global context with index -1; recorded in the root-copy
// block.
Cell issue_from_c_name(const char* name);
Cell& init_issue(Cell& cell, std::string_view name);
// A copy of the word with another type (the binding stays).
inline Cell retyped(const Cell& word, TypeId t) {
  Cell c = word;
  c.set_type(t);
  return c;
}

// The word's value; unset! raises script `no-value` with the word.
Cell get(const Cell& word);
// The word's value with no unset! check.
Cell get_any(const Cell& word);
// Sets the word (with change notification); an unset! value raises script `need-value` with the word
// before anything is set.
void set_checked(Cell& word, const Cell& value);
// The word of the symbol in the context (exact), else the global word of the symbol (added when
// absent); names calls in traces.
Cell value_or_global(NodeId ctx, uint32_t sym);

// The name's text, written as code points; answers limit reduced by the characters written.
int32_t write_name(uint32_t sym, TextOut& out, int32_t limit);

// The handlers, for the modules that dispatch to them directly.
int32_t compare(const Cell& a, const Cell& b, CompareOp op);
int32_t form(const Cell& value, TextOut& out, const Cell* part, int32_t limit);
int32_t mold(const Cell& value, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
             int32_t indent);
// The word made from a spec for a target word type (the body of make and to).
Cell make_value(TypeId target, const Cell& spec);
Cell make_issue(const Cell& spec);

}  // namespace word

void register_word();
void register_lit_word();
void register_set_word();
void register_get_word();
void register_refinement();
void register_issue_type();

}  // namespace zem
