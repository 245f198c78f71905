// Two in-place sorts of arrays of fixed-size records driven by a compare callback: a stable merge
// sort over natural runs (sort/stable) and a quick sort (the default).
//
// The callback answers > 0 when record a sorts after record b. It may raise (unwind with a C++
// exception): both sorts then leave every record in the array exactly once, in some order, and free
// what they took.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "runtime/cell.h"

namespace zem::sort {

using Compare = int32_t (*)(const uint8_t* a, const uint8_t* b, void* user1, intptr_t user2);

// Stable: equal records keep their order. Does nothing for n < 2. The temporary buffer holds n / 2
// records: a size beyond 32 bits raises script `invalid-arg`, a refused allocation internal
// `no-memory`.
void merge_sort(uint8_t* base, size_t n, size_t size, void* user1, intptr_t user2, Compare cmp);
// The same with the caller's buffer of n / 2 records for the merges.
void merge_sort_into(uint8_t* base, size_t n, size_t size, uint8_t* tmp, void* user1,
                     intptr_t user2, Compare cmp);
// Unstable, in place, no extra memory; recursion depth bounded (deep ranges fall back to a heap
// sort).
void quick_sort(uint8_t* base, size_t n, size_t size, void* user1, intptr_t user2, Compare cmp);
// Exchanges two records, word by word unless `bytewise`.
void swap(uint8_t* a, uint8_t* b, size_t size, bool bytewise);

// Sorting cells when the comparison runs user code (which may collect and may change the series):
// the records (`skip` cells each) are copied into C++ memory that a root callback marks, sorted
// there, and written back through the node. When the series' length changed meanwhile, script
// `invalid-arg` is raised and the series is left as the user code made it.
using CellCompare = std::function<int32_t(const Cell* a, const Cell* b)>;
void sort_cells_rooted(NodeId node, uint32_t start, uint32_t records, uint32_t skip, bool stable,
                       const CellCompare& cmp);

}  // namespace zem::sort
