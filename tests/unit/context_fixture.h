// A runtime started through the word layer (memory, registry, symbols, the global context and the
// fixed words), for the tests of words, contexts, objects and errors; helpers that build blocks of
// words.
#pragma once

#include <initializer_list>
#include <string_view>

#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "runtime/casefold.h"
#include "datatypes/fixed_words.h"
#include "runtime/hashtab.h"
#include "runtime/support.h"
#include "tests/unit/memory_fixture.h"

namespace zem::testing {

class ContextTest : public RuntimeTest<StartLayer::words> {
 protected:

  static uint32_t sym(std::string_view name) { return symbol::intern(name); }
  // An unbound-looking word of a kind: the global context, index -1.
  static Cell w(std::string_view name, TypeId t = TYPE_WORD) {
    return context::word_cell(t, context::global(), sym(name), -1);
  }
  static Cell block_of(std::initializer_list<Cell> cells, TypeId t = TYPE_BLOCK) {
    NodeId node = alloc::make_cells(cells.size() + 1);
    for (const Cell& c : cells) append_cell(node, c);
    return block_cell(node, t);
  }
  static Cell& at(const Cell& block, uint32_t i) { return block_head(block.node())[i]; }
};

}  // namespace zem::testing
