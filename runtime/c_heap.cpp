// The C heap: tracked allocations of runtime tables, all released together at exit.
#include "runtime/c_heap.h"

#include <cstdlib>
#include <cstring>

#include "runtime/low_print.h"
#include "runtime/platform.h"

namespace zem::cheap {

HeapState heap_state;

namespace {

void append(BlockHeader* h) {
  h->prev = heap_state.last;
  h->next = nullptr;
  if (heap_state.last) {
    heap_state.last->next = h;
  } else {
    heap_state.first = h;
  }
  heap_state.last = h;
}

void unlink(BlockHeader* h) {
  if (h->prev) {
    h->prev->next = h->next;
  } else {
    heap_state.first = h->next;
  }
  if (h->next) {
    h->next->prev = h->prev;
  } else {
    heap_state.last = h->prev;
  }
}

BlockHeader* find(const void* address) {
  if (!address) return nullptr;
  for (BlockHeader* h = heap_state.first; h; h = h->next) {
    if (h + 1 == address) return h;
  }
  return nullptr;
}

size_t total_size(size_t size) {
  if (size > SIZE_MAX - kHeaderSize) crash_report(CRASH_OUT_OF_MEMORY, 0);
  return size + kHeaderSize;
}

}  // namespace

void* alloc(size_t size) {
  auto* h = static_cast<BlockHeader*>(std::malloc(total_size(size)));
  if (!h) crash_report(CRASH_OUT_OF_MEMORY, 0);
  h->size = size;
  h->reserved = 0;
  append(h);
  return h + 1;
}

void* alloc_zeroed(size_t size) {
  void* p = alloc(size);
  std::memset(p, 0, size);
  return p;
}

void* realloc(void* address, size_t size) {
  if (!address) return alloc(size);
  if (size == 0) {
    free(address);
    return nullptr;
  }
  // Only tracked blocks may be resized: anything else would corrupt the list.
  BlockHeader* old = find(address);
  if (!old) crash_report(CRASH_ASSERTION_FAILED, reinterpret_cast<uintptr_t>(address));
  auto* h = static_cast<BlockHeader*>(std::realloc(old, total_size(size)));
  if (!h) crash_report(CRASH_OUT_OF_MEMORY, 0);
  h->size = size;
  if (h->prev) {
    h->prev->next = h;
  } else {
    heap_state.first = h;
  }
  if (h->next) {
    h->next->prev = h;
  } else {
    heap_state.last = h;
  }
  return h + 1;
}

void free(void* address) {
  BlockHeader* h = find(address);
  if (!h) return;
  unlink(h);
  std::free(h);
}

void free_all() {
  BlockHeader* h = heap_state.first;
  heap_state.first = heap_state.last = nullptr;
  while (h) {
    BlockHeader* next = h->next;
    std::free(h);
    h = next;
  }
}

void dump_report() {
  print::list_line({"-- Heap-allocations --"});
  print::list_line({"Asked   Real"});
  uint64_t sum = 0;
  for (BlockHeader* h = heap_state.first; h; h = h->next) {
    uint64_t real = h->size + kHeaderSize;
    sum += real;
    print::list_line({print::Item::u64(h->size), '\t', print::Item::u64(real)});
  }
  print::list_line({"-- Sum: ", print::Item::u64(sum), " --"});
}

size_t block_count() {
  size_t n = 0;
  for (BlockHeader* h = heap_state.first; h; h = h->next) ++n;
  return n;
}

size_t block_size(const void* address) {
  BlockHeader* h = find(address);
  return h ? h->size : 0;
}

}  // namespace zem::cheap
