// Time of a full collection with about 100 MB live: blocks of integers and strings, nested under one
// root block. Also the time of a collection that frees half of it and compacts the rest.
//
// usage: bench_gc_full [MB live]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/collector.h"
#include "runtime/memory.h"

using namespace zem;

namespace {

NodeId g_root;

void push(NodeId block, const Cell& cell) {
  SeriesBuffer* b = series_buffer(block);
  if (b->room() < sizeof(Cell)) b = alloc::expand_copy(block, 0);
  *b->cells_tail() = cell;
  b->tail += sizeof(Cell);
}

double collect_ms() {
  auto start = std::chrono::steady_clock::now();
  gc::collect();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t target = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100) << 20;
  alloc::init();
  gc::init();
  gc::set_stress(0);
  g_root = alloc::make_heap_series(4096, sizeof(Cell));
  gc::set_fixed_root(gc::RootSlot::root_block, [](void*) { gc::mark_block(g_root); });

  // Blocks of 10000 cells: nine integers, then a string of 32 bytes.
  uint64_t blocks = 0;
  while (memory_state.live_bytes + memory_state.bytes_since_collect < target) {
    NodeId block = alloc::make_cells(10000);
    for (uint32_t i = 0; i < 10000; ++i) {
      if (i % 10 == 9) {
        NodeId text = alloc::make_unit_series(32, 1);
        std::memset(series_head(text), 'a' + i % 26, 32);
        series_buffer(text)->tail = 32;
        push(block, Cell{TYPE_STRING, 0, text, 0});
      } else {
        push(block, Cell{TYPE_INTEGER, 0, i, 0});
      }
    }
    push(g_root, Cell{TYPE_BLOCK, 0, block, 0});
    ++blocks;
  }
  double first = collect_ms();
  double best = first;
  for (int i = 0; i < 5; ++i) {
    double t = collect_ms();
    if (t < best) best = t;
  }
  std::printf("live: %.1f MB in %llu blocks, %llu nodes\n", memory_state.live_bytes / 1048576.0,
              static_cast<unsigned long long>(blocks), static_cast<unsigned long long>(alloc::live_node_count()));
  std::printf("full collection, nothing to free: first %.1f ms, best %.1f ms\n", first, best);

  // Drop every other block: half the memory is freed and the rest slides down.
  SeriesBuffer* root = series_buffer(g_root);
  Cell* cells = root->cells_head();
  uint32_t n = root->length();
  for (uint32_t i = 0; i < n; i += 2) cells[i] = Cell{TYPE_NONE, 0, 0, 0};
  double half = collect_ms();
  std::printf("collection freeing half and compacting: %.1f ms, live now %.1f MB\n", half,
              memory_state.live_bytes / 1048576.0);
  return 0;
}
