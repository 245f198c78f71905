// Memory statistics for `stats` and the debugging print of word names.
#include "runtime/mem_stats.h"

#include <cstring>
#include <vector>

#include "runtime/c_heap.h"
#include "runtime/low_print.h"
#include "runtime/memory.h"
#include "runtime/wiring.h"

namespace zem::debug {

namespace {

void append(NodeId block, Cell cell) {
  cell.set_new_line(true);
  SeriesBuffer* b = series_buffer(block);
  if (b->room() < sizeof(Cell)) b = alloc::expand_copy(block, 0);
  *b->cells_tail() = cell;
  b->tail += sizeof(Cell);
}

Cell number(uint64_t n) {
  if (n <= 0x7FFFFFFF) return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(n), 0};
  double d = static_cast<double>(n);
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return Cell{TYPE_FLOAT, 0, static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32)};
}

NodeId triple_block(NodeId into, uint64_t a, uint64_t b, uint64_t c) {
  NodeId n = alloc::make_cells(3);
  for (uint64_t v : {a, b, c}) {
    Cell cell = number(v);
    *series_buffer(n)->cells_tail() = cell;
    series_buffer(n)->tail += sizeof(Cell);
  }
  append(into, Cell{TYPE_BLOCK, 0, n, 0});
  return n;
}

}  // namespace

double memory_stats(NodeId block, int mode) {
  const MemoryState& M = memory_state;
  uint64_t in_use = 0, reserved = 0;
  for (const NodeFrame& f : M.node_frames) {
    if (!f.present) continue;
    in_use += uint64_t{f.used} * sizeof(SeriesBuffer*);
    reserved += uint64_t{kNodeFrameCapacity} * sizeof(SeriesBuffer*) + sizeof(NodeFrame);
  }
  for (const SeriesFrame& f : M.series_frames) {
    in_use += static_cast<uint64_t>(f.heap - f.base);
    reserved += f.size() + sizeof(SeriesFrame);
  }
  for (const BigSeries& b : M.big) {
    in_use += b.block_size;
    reserved += b.block_size + sizeof(BigSeries);
  }
  if (mode < 2 || block == 0) return static_cast<double>(in_use);

  uint64_t c_heap = 0;
  for (const cheap::BlockHeader* h = cheap::heap_state.first; h != nullptr; h = h->next)
    c_heap += h->size + cheap::kHeaderSize;
  // Every block is made before the list it describes is read again, so the figures are those of
  // the memory before this call added to it.
  NodeId nodes = alloc::make_cells(M.node_frames.size());
  append(block, Cell{TYPE_BLOCK, 0, nodes, 0});
  NodeId frames = alloc::make_cells(M.series_frames.size());
  append(block, Cell{TYPE_BLOCK, 0, frames, 0});
  NodeId bigs = alloc::make_cells(M.big.size());
  append(block, Cell{TYPE_BLOCK, 0, bigs, 0});
  struct Row {
    uint64_t a, b, c;
  };
  std::vector<Row> node_rows, frame_rows;
  std::vector<uint64_t> big_rows;
  for (const NodeFrame& f : M.node_frames)
    if (f.present) node_rows.push_back({kNodeFrameCapacity - f.used, f.used, kNodeFrameCapacity});
  for (const SeriesFrame& f : M.series_frames)
    frame_rows.push_back({static_cast<uint64_t>(f.end - f.heap), static_cast<uint64_t>(f.heap - f.base), f.size()});
  for (const BigSeries& b : M.big) big_rows.push_back(b.block_size);
  for (const Row& r : node_rows) triple_block(nodes, r.a, r.b, r.c);
  for (const Row& r : frame_rows) triple_block(frames, r.a, r.b, r.c);
  for (uint64_t size : big_rows) append(bigs, number(size));
  append(block, number(reserved + c_heap));
  append(block, number(c_heap));
  return static_cast<double>(in_use);
}

void print_word_name(const Cell& word) {
  if (wiring.symbol_name == nullptr) return;
  std::string_view name = wiring.symbol_name(word.word_symbol());
  print::bytes(name.data(), static_cast<int64_t>(name.size()));
}

}  // namespace zem::debug
