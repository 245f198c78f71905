// The value-slot pool: value cells addressed by small integers, so that code outside the value
// world (the GUI back end keeps one per native window) can hold a value alive and find it again.
// Slot numbers are 1-based; 0 means no slot. The pool's block is a collector root.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace zem::slot_pool {

constexpr uint32_t kInitialSlots = 100;

struct SlotPoolState {
  NodeId block = 0;          // tail kept at the end of the capacity
  uint32_t capacity = kInitialSlots;
  int32_t free_head = -1;    // 0-based index of the first free slot, -1 when full
  std::vector<bool> is_free; // by 0-based index: a free slot is never released twice
};
extern SlotPoolState slot_pool_state;

// Makes the pool block with the current capacity, every slot free, and registers it as a root.
void reset();
// Copies the value into the first free slot (doubling the pool when none is free); answers its number.
uint32_t acquire(const Cell& value);
// 0 does nothing; a number out of range or of a free slot raises internal `wrong-mem`.
void release(uint32_t slot);
// The slot's cell; valid until the next safe point or acquire.
Cell* slot_at(uint32_t slot);

}  // namespace zem::slot_pool
