// The fixed names of the runtime: symbols, global words and words that runtime code compares by
// identity, the function-spec refinements, the issue #ooo, and the words of the type names. Made
// once at start-up (after the symbol table and the global context) and never changed afterwards.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zem {

struct FixedWords {
  struct Symbols {
#define ZEM_FIXED_SYMBOL(id, name) uint32_t id = 0;
#define ZEM_FIXED_GLOBAL_WORD(id, name)
#define ZEM_FIXED_WORD(id, name)
#define ZEM_FIXED_AGAIN(kind, id, name)
#include "datatypes/fixed_words.def"
#undef ZEM_FIXED_SYMBOL
#undef ZEM_FIXED_GLOBAL_WORD
#undef ZEM_FIXED_WORD
#undef ZEM_FIXED_AGAIN
  } sym;
  struct GlobalWords {
#define ZEM_FIXED_SYMBOL(id, name)
#define ZEM_FIXED_GLOBAL_WORD(id, name) Cell id{};
#define ZEM_FIXED_WORD(id, name)
#define ZEM_FIXED_AGAIN(kind, id, name)
#include "datatypes/fixed_words.def"
#undef ZEM_FIXED_SYMBOL
#undef ZEM_FIXED_GLOBAL_WORD
#undef ZEM_FIXED_WORD
#undef ZEM_FIXED_AGAIN
  } global;
  struct Words {
#define ZEM_FIXED_SYMBOL(id, name)
#define ZEM_FIXED_GLOBAL_WORD(id, name)
#define ZEM_FIXED_WORD(id, name) Cell id{};
#define ZEM_FIXED_AGAIN(kind, id, name)
#include "datatypes/fixed_words.def"
#undef ZEM_FIXED_SYMBOL
#undef ZEM_FIXED_GLOBAL_WORD
#undef ZEM_FIXED_WORD
#undef ZEM_FIXED_AGAIN
  } word;
  // Refinements (unbound) the runtime compares function specs and action calls against.
  struct Refinements {
    Cell local{}, extern_{}, compare{}, part{}, skip{}, with{};
  } ref;
  Cell issue_ooo{};
  bool made = false;
};
extern FixedWords fixed;

namespace fixed_words {

// The type-name table's words: `word!`, `integer!` ... for every registered type id.
void fill_type_name_words();
// The symbols, global words and words of the fixed list, in its order.
void intern_runtime_words();
// /local, /extern, /compare, /part, /skip, /with.
void intern_func_words();
void intern_misc_word();
// All four in that order; roots the cells with the collector.
void init();

}  // namespace fixed_words
}  // namespace zem
