// The value-slot pool: acquiring, reading and releasing value cells by small integers.
#include "runtime/slot_pool.h"

#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zem::slot_pool {

SlotPoolState slot_pool_state;

namespace {

SlotPoolState& P = slot_pool_state;

// A free slot is an integer! cell whose third word holds the next free index (-1 ends the list).
void thread_free(uint32_t first) {
  Cell* cells = block_head(P.block);
  for (uint32_t i = first; i < P.capacity; ++i) {
    uint32_t next = i + 1 < P.capacity ? i + 1 : 0xFFFFFFFFu;
    cells[i] = Cell{TYPE_INTEGER, 0, next, 0};
    P.is_free[i] = true;
  }
  P.free_head = static_cast<int32_t>(first);
  SeriesBuffer* b = series_buffer(P.block);
  b->tail = b->capacity;
}

void mark_pool(void*) { gc::mark_block(P.block); }

}  // namespace

void reset() {
  P.block = alloc::make_cells(P.capacity);
  P.is_free.assign(P.capacity, true);
  thread_free(0);
  gc::set_fixed_root(gc::RootSlot::slot_pool, mark_pool);
}

uint32_t acquire(const Cell& value) {
  if (P.block == 0) reset();
  if (P.free_head < 0) {
    uint32_t old = P.capacity;
    alloc::expand_copy(P.block, int64_t{old} * 2 * sizeof(Cell));
    P.capacity = old * 2;
    P.is_free.resize(P.capacity, true);
    thread_free(old);
  }
  uint32_t index = static_cast<uint32_t>(P.free_head);
  Cell* cell = block_head(P.block) + index;
  P.free_head = cell->int_value();
  *cell = value;
  P.is_free[index] = false;
  return index + 1;
}

void release(uint32_t slot) {
  if (slot == 0) return;
  uint32_t index = slot - 1;
  if (P.block == 0 || index >= P.capacity || P.is_free[index]) fire(Err::internal_wrong_mem);
  block_head(P.block)[index] = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(P.free_head), 0};
  P.free_head = static_cast<int32_t>(index);
  P.is_free[index] = true;
}

Cell* slot_at(uint32_t slot) {
  if (slot == 0 || slot > P.capacity || P.block == 0) return nullptr;
  return block_head(P.block) + (slot - 1);
}

}  // namespace zem::slot_pool
