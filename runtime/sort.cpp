// In-place record sorts: a stable natural merge sort and a quick sort.
#include "runtime/sort.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/sort_algo.h"

namespace zem::sort {

namespace {

struct Ctx {
  size_t bytes;
  bool bytewise;
  void* user1;
  intptr_t user2;
  Compare cmp;
  size_t size() const { return bytes; }
  int32_t operator()(const uint8_t* a, const uint8_t* b) const { return cmp(a, b, user1, user2); }
  uint8_t* at(uint8_t* base, size_t i) const { return base + i * bytes; }
  void swap(uint8_t* a, uint8_t* b) const { sort::swap(a, b, bytes, bytewise); }
};

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

}  // namespace

void swap(uint8_t* a, uint8_t* b, size_t size, bool bytewise) {
  if (!bytewise) {
    for (size_t i = 0; i < size; i += 4) {
      uint32_t x, y;
      std::memcpy(&x, a + i, 4);
      std::memcpy(&y, b + i, 4);
      std::memcpy(a + i, &y, 4);
      std::memcpy(b + i, &x, 4);
    }
    return;
  }
  for (size_t i = 0; i < size; i++) std::swap(a[i], b[i]);
}

void merge_sort(uint8_t* base, size_t n, size_t size, void* user1, intptr_t user2, Compare cmp) {
  if (n < 2) return;
  uint64_t bytes = static_cast<uint64_t>(n / 2) * size;
  if (bytes > 0xFFFFFFFFu) fire(Err::script_invalid_arg);
  std::unique_ptr<uint8_t, FreeDeleter> tmp(static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1)));
  if (!tmp) fire(Err::internal_no_memory);
  merge_sort_into(base, n, size, tmp.get(), user1, user2, cmp);
}

void merge_sort_into(uint8_t* base, size_t n, size_t size, uint8_t* tmp, void* user1,
                     intptr_t user2, Compare cmp) {
  algo::merge_sort_into(base, n, tmp, Ctx{size, size % 4 != 0, user1, user2, cmp});
}

void quick_sort(uint8_t* base, size_t n, size_t size, void* user1, intptr_t user2, Compare cmp) {
  algo::quick_sort(base, n, Ctx{size, size % 4 != 0, user1, user2, cmp});
}

// ---- Rooted cell sort ----------------------------------------------------------------------------

namespace {

// The records and, for a stable sort, the merge's scratch records: while a merge runs, some
// records are only there.
struct RootedCopy {
  std::vector<Cell> cells;
  std::vector<Cell> scratch;
};

void mark_copy(void* context) {
  const auto* copy = static_cast<const RootedCopy*>(context);
  for (const std::vector<Cell>* v : {&copy->cells, &copy->scratch})
    if (!v->empty()) gc::mark_values(v->data(), v->data() + v->size());
}

struct CellCtx {
  const CellCompare* cmp;
};

int32_t call_cell_compare(const uint8_t* a, const uint8_t* b, void* user1, intptr_t) {
  const auto* ctx = static_cast<const CellCtx*>(user1);
  return (*ctx->cmp)(reinterpret_cast<const Cell*>(a), reinterpret_cast<const Cell*>(b));
}

}  // namespace

void sort_cells_rooted(NodeId node, uint32_t start, uint32_t records, uint32_t skip, bool stable,
                       const CellCompare& cmp) {
  if (records < 2) return;
  RootedCopy copy;
  size_t count = static_cast<size_t>(records) * skip;
  SeriesBuffer* b = series_buffer(node);
  uint32_t length_before = b->length();
  copy.cells.assign(b->cells_head() + start, b->cells_head() + start + count);
  gc::ScopedRoot root(&mark_copy, &copy);
  CellCtx ctx{&cmp};
  uint8_t* base = reinterpret_cast<uint8_t*>(copy.cells.data());
  if (stable) {
    copy.scratch.assign(static_cast<size_t>(records / 2) * skip, Cell{});
    merge_sort_into(base, records, skip * sizeof(Cell),
                    reinterpret_cast<uint8_t*>(copy.scratch.data()), &ctx, 0, &call_cell_compare);
  }
  else
    quick_sort(base, records, skip * sizeof(Cell), &ctx, 0, &call_cell_compare);
  SeriesBuffer* nb = series_buffer(node);
  if (nb->length() != length_before || start + count > nb->length()) {
    Cell series{};
    series.set_header(TYPE_BLOCK);
    series.set_node(node);
    fire(Err::script_invalid_arg, &series);
  }
  std::memcpy(nb->cells_head() + start, copy.cells.data(), count * sizeof(Cell));
}

}  // namespace zem::sort
