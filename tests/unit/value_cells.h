// Series values for tests of the number types: strings, binaries, blocks and words built directly
// in series storage (a fresh memory manager and symbol table must be set up).
#pragma once

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "datatypes/symbol.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "tests/unit/memory_fixture.h"

namespace zem::test {

inline Cell string_cell(const std::u32string& text, TypeId type = TYPE_STRING) {
  uint32_t unit = 1;
  for (char32_t c : text) unit = std::max<uint32_t>(unit, c > 0xFFFF ? 4 : c > 0xFF ? 2 : 1);
  NodeId node = alloc::make_unit_series(int64_t(text.size()), unit);
  SeriesBuffer* s = series_buffer(node);
  for (size_t i = 0; i < text.size(); i++)
    unicode::write_unit(s->head_ptr() + i * unit, int(unit), text[i]);
  s->set_length(uint32_t(text.size()));
  return testing::block_cell(node, type);
}

inline Cell binary_cell(const std::vector<uint8_t>& bytes) {
  NodeId node = alloc::make_bytes(int64_t(bytes.size()));
  SeriesBuffer* s = series_buffer(node);
  std::copy(bytes.begin(), bytes.end(), s->head_ptr());
  s->set_length(uint32_t(bytes.size()));
  return testing::block_cell(node, TYPE_BINARY);
}

inline Cell word_cell(const char* name, TypeId type = TYPE_WORD) {
  Cell w{};
  w.set_header(type);
  w.set_word(0, symbol::intern(name), Cell::kNoIndex);
  return w;
}

inline Cell block_of(std::initializer_list<Cell> cells) {
  NodeId node = alloc::make_cells(int64_t(cells.size()));
  for (const Cell& c : cells) testing::append_cell(node, c);
  return testing::block_cell(node);
}

}  // namespace zem::test
