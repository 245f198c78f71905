// In-place record sorts: a stable natural merge sort and a quick sort.
#include "runtime/sort.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zem::sort {

namespace {

struct Ctx {
  size_t size;
  bool bytewise;
  void* user1;
  intptr_t user2;
  Compare cmp;
  int32_t operator()(const uint8_t* a, const uint8_t* b) const { return cmp(a, b, user1, user2); }
  uint8_t* at(uint8_t* base, size_t i) const { return base + i * size; }
};

constexpr size_t kMinRun = 24;
constexpr size_t kInsertionLimit = 8;

// Each further record is swapped backwards while its predecessor sorts after it.
void insertion(uint8_t* base, size_t from, size_t to, const Ctx& c) {
  for (size_t i = from; i < to; i++)
    for (size_t j = i; j > 0 && c(c.at(base, j - 1), c.at(base, j)) > 0; j--)
      swap(c.at(base, j - 1), c.at(base, j), c.size, c.bytewise);
}

void reverse(uint8_t* base, size_t from, size_t to, const Ctx& c) {
  for (size_t i = from, j = to - 1; i < j; i++, j--) swap(c.at(base, i), c.at(base, j), c.size, c.bytewise);
}

// The natural run at `start`, made ascending (a strictly descending run is reversed) and extended to
// kMinRun records by insertion. Answers its end.
size_t count_run(uint8_t* base, size_t start, size_t n, const Ctx& c) {
  size_t end = start + 1;
  if (end < n) {
    // The first pair decides the direction; each further pair is compared once.
    if (c(c.at(base, start), c.at(base, end)) <= 0) {
      end++;
      while (end < n && c(c.at(base, end - 1), c.at(base, end)) <= 0) end++;
    } else {
      end++;
      while (end < n && c(c.at(base, end - 1), c.at(base, end)) > 0) end++;
      reverse(base, start, end, c);
    }
  }
  size_t want = std::min(n, start + kMinRun);
  if (end < want) {
    insertion(base + start * c.size, end - start, want - start, c);
    end = want;
  }
  return end;
}

// Merges the sorted runs [a, m) and [m, e) through `tmp`, copying the shorter run there: the left
// run merges forward, the right run backward, so the buffer of n / 2 records always suffices. If the
// callback raises, the records still in `tmp` are copied into the gap they left, so no record is lost
// or doubled.
void merge_runs(uint8_t* base, size_t a, size_t m, size_t e, uint8_t* tmp, const Ctx& c) {
  const size_t s = c.size;
  if (a == m || m == e) return;
  // Already in order: nothing to do.
  if (c(c.at(base, m - 1), c.at(base, m)) <= 0) return;
  size_t left = m - a, right = e - m;
  if (left <= right) {
    std::memcpy(tmp, c.at(base, a), left * s);
    size_t i = 0, j = m, k = a;  // tmp[i..left), base[j..e) -> base[k..)
    try {
      while (i < left && j < e) {
        if (c(tmp + i * s, c.at(base, j)) <= 0) {
          std::memcpy(c.at(base, k++), tmp + (i++) * s, s);
        } else {
          std::memcpy(c.at(base, k++), c.at(base, j++), s);
        }
      }
    } catch (...) {
      std::memcpy(c.at(base, k), tmp + i * s, (left - i) * s);
      throw;
    }
    std::memcpy(c.at(base, k), tmp + i * s, (left - i) * s);
  } else {
    std::memcpy(tmp, c.at(base, m), right * s);
    // tmp[0..j) and base[a..i) still to merge, written backwards from k.
    size_t i = m, j = right, k = e;
    try {
      while (i > a && j > 0) {
        if (c(c.at(base, i - 1), tmp + (j - 1) * s) > 0) {
          std::memcpy(c.at(base, --k), c.at(base, --i), s);
        } else {
          std::memcpy(c.at(base, --k), tmp + (--j) * s, s);
        }
      }
    } catch (...) {
      std::memcpy(c.at(base, k - j), tmp, j * s);
      throw;
    }
    std::memcpy(c.at(base, k - j), tmp, j * s);
  }
}

// The power of the boundary between the runs [a, m) and [m, e) of n records.
int boundary_power(size_t a, size_t m, size_t e, size_t n) {
  uint64_t l = static_cast<uint64_t>(a) + m, r = static_cast<uint64_t>(m) + e;
  int power = 1;
  for (;;) {
    if (l >= n && r >= n) {
      l -= n;
      r -= n;
    } else if ((l >= n) != (r >= n)) {
      break;
    }
    l *= 2;
    r *= 2;
    power++;
  }
  return power;
}

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

// Heap sort of [lo, hi): the quick sort's fallback once it has recursed too deep.
void sift_down(uint8_t* base, size_t root, size_t count, const Ctx& c) {
  for (;;) {
    size_t child = 2 * root + 1;
    if (child >= count) return;
    if (child + 1 < count && c(c.at(base, child), c.at(base, child + 1)) < 0) child++;
    if (c(c.at(base, root), c.at(base, child)) >= 0) return;
    swap(c.at(base, root), c.at(base, child), c.size, c.bytewise);
    root = child;
  }
}

void heap_sort(uint8_t* base, size_t count, const Ctx& c) {
  for (size_t i = count / 2; i-- > 0;) sift_down(base, i, count, c);
  for (size_t end = count; end-- > 1;) {
    swap(c.at(base, 0), c.at(base, end), c.size, c.bytewise);
    sift_down(base, 0, end, c);
  }
}

void quick(uint8_t* base, size_t n, int depth, const Ctx& c) {
  while (n >= kInsertionLimit) {
    if (depth-- <= 0) {
      heap_sort(base, n, c);
      return;
    }
    // Median of the first, middle and last records, moved to the front as the pivot.
    size_t lo = 0, mid = n / 2, hi = n - 1;
    if (c(c.at(base, lo), c.at(base, mid)) > 0) swap(c.at(base, lo), c.at(base, mid), c.size, c.bytewise);
    if (c(c.at(base, mid), c.at(base, hi)) > 0) swap(c.at(base, mid), c.at(base, hi), c.size, c.bytewise);
    if (c(c.at(base, lo), c.at(base, mid)) > 0) swap(c.at(base, lo), c.at(base, mid), c.size, c.bytewise);
    swap(c.at(base, 0), c.at(base, mid), c.size, c.bytewise);
    // Hoare partition around the pivot at 0.
    size_t i = 0, j = n;
    for (;;) {
      do i++;
      while (i < n && c(c.at(base, i), c.at(base, 0)) < 0);
      do j--;
      while (j > 0 && c(c.at(base, j), c.at(base, 0)) > 0);
      if (i >= j) break;
      swap(c.at(base, i), c.at(base, j), c.size, c.bytewise);
    }
    swap(c.at(base, 0), c.at(base, j), c.size, c.bytewise);
    // Recurse into the smaller side, loop on the larger.
    size_t left = j, right = n - j - 1;
    if (left < right) {
      quick(base, left, depth, c);
      base = c.at(base, j + 1);
      n = right;
    } else {
      quick(c.at(base, j + 1), right, depth, c);
      n = left;
    }
  }
  insertion(base, 1, n, c);
}

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
  if (n < 2) return;
  Ctx c{size, size % 4 != 0, user1, user2, cmp};

  struct Run {
    size_t start;
    int power;
  };
  std::vector<Run> stack;
  size_t prev_start = 0;
  size_t prev_end = count_run(base, 0, n, c);
  while (prev_end < n) {
    size_t e = count_run(base, prev_end, n, c);
    int p = boundary_power(prev_start, prev_end, e, n);
    while (!stack.empty() && stack.back().power >= p) {
      merge_runs(base, stack.back().start, prev_start, prev_end, tmp, c);
      prev_start = stack.back().start;
      stack.pop_back();
    }
    stack.push_back({prev_start, p});
    prev_start = prev_end;
    prev_end = e;
  }
  while (!stack.empty()) {
    merge_runs(base, stack.back().start, prev_start, prev_end, tmp, c);
    prev_start = stack.back().start;
    stack.pop_back();
  }
}

void quick_sort(uint8_t* base, size_t n, size_t size, void* user1, intptr_t user2, Compare cmp) {
  if (n < 2) return;
  Ctx c{size, size % 4 != 0, user1, user2, cmp};
  int depth = 2;
  for (size_t k = n; k > 1; k >>= 1) depth += 2;
  quick(base, n, depth, c);
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
