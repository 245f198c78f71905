// The loading of script text into bound blocks.
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/context.h"
#include "datatypes/string_storage.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"

namespace zem::natives {

namespace {

// Adds every word of the block (deep) to the global context, so that binding finds them all.
void add_words_to_global(const Cell& block) {
  PointerStackGuard guard(block.node());
  for (uint32_t i = block.head_index(); i < series_tail(block); ++i) {
    const Cell v = *block::cell_at_index(block, i);
    if (v.type() >= TYPE_WORD && v.type() <= TYPE_REFINEMENT) {
      context::add_symbol(context::global(), v.word_symbol());
    } else if (block::is_block_kind(v.type()) || block::is_path_kind(v.type())) {
      if (!ptrstack::contains(v.node())) add_words_to_global(v);
    }
  }
}

Cell bound(const Cell& block) {
  stack::push_value(block);  // rooted while words are added
  add_words_to_global(block);
  context::bind_block(block, context::global(), false);
  stack::drop_values(1);
  return block;
}

}  // namespace

Cell load_utf8(std::string_view text) {
  Cell out{};
  uint32_t consumed = 0;
  lexer::scan_buffer(&out, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                     lexer::ScanMode{}, &consumed, nullptr, nullptr, nullptr);
  return bound(out);
}

Cell load_text(const Cell& text) {
  Cell out{};
  uint32_t consumed = 0;
  lexer::transcode_string(&out, text, -1, lexer::ScanMode{}, &consumed, nullptr, nullptr);
  return bound(out);
}

}  // namespace zem::natives
