// A runtime started through a layer for each test, its memory released after it; the memory layer
// (memory manager, collector and resource registry) is MemoryTest.
#pragma once

#include <gtest/gtest.h>

#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/resources.h"
#include "runtime/startup.h"

namespace zem::testing {

template <StartLayer layer>
class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override { init_through(layer); }
  void TearDown() override { release_runtime(); }
};
class MemoryTest : public RuntimeTest<StartLayer::memory> {};

inline Cell block_cell(NodeId node, TypeId type = TYPE_BLOCK) {
  Cell c{};
  c.set_header(type);
  c.set_series(0, node);
  return c;
}
inline Cell integer_cell(int32_t n) {
  Cell c{};
  c.set_header(TYPE_INTEGER);
  c.set_int_value(n);
  return c;
}

// Appends a cell to a block, growing it when full.
inline void append_cell(NodeId block, const Cell& cell) {
  SeriesBuffer* b = series_buffer(block);
  if (b->room() < sizeof(Cell)) b = alloc::expand_copy(block, 0);
  *b->cells_tail() = cell;
  b->tail += sizeof(Cell);
}

}  // namespace zem::testing
