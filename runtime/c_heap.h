// The C heap: runtime tables and platform records that are not language values.
// Every block is tracked in one list so that the whole heap can be released at exit.
#pragma once

#include <cstddef>

namespace zem::cheap {

// Header in front of every tracked block; the caller gets the address just after it.
// Two pointers, the size and padding keep the payload 16-byte aligned.
struct BlockHeader {
  BlockHeader* prev;
  BlockHeader* next;
  size_t size;  // requested bytes
  size_t reserved;
};
static_assert(sizeof(BlockHeader) % 16 == 0, "payload keeps malloc's alignment");
constexpr size_t kHeaderSize = sizeof(BlockHeader);

struct HeapState {
  BlockHeader* first = nullptr;
  BlockHeader* last = nullptr;
};
extern HeapState heap_state;

// A failed allocation ends the process with the crash report "out of memory".
void* alloc(size_t size);
void* alloc_zeroed(size_t size);
// A null address allocates; size 0 frees and answers null.
void* realloc(void* address, size_t size);
// An address not on the list is ignored.
void free(void* address);
void free_all();
// Prints every tracked block with the low-level printer.
void dump_report();

// Introspection for statistics and tests.
size_t block_count();
size_t block_size(const void* address);  // requested size; 0 when not tracked

}  // namespace zem::cheap
