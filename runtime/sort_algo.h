// The algorithms of the record sorts, as templates over the records' context `C`: its size(), at(base,
// i), swap(a, b) and the comparison c(a, b) (> 0 when a sorts after b). The callback sorts of sort.h
// and the sorts of typed keys below share them, so both give the same order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace zem::sort::algo {

inline constexpr size_t kMinRun = 24;
inline constexpr size_t kInsertionLimit = 8;

// Each further record is swapped backwards while its predecessor sorts after it.
template <typename C>
void insertion(uint8_t* base, size_t from, size_t to, const C& c) {
  for (size_t i = from; i < to; i++)
    for (size_t j = i; j > 0 && c(c.at(base, j - 1), c.at(base, j)) > 0; j--)
      c.swap(c.at(base, j - 1), c.at(base, j));
}

template <typename C>
void reverse(uint8_t* base, size_t from, size_t to, const C& c) {
  for (size_t i = from, j = to - 1; i < j; i++, j--) c.swap(c.at(base, i), c.at(base, j));
}

// The natural run at `start`, made ascending (a strictly descending run is reversed) and extended to
// kMinRun records by insertion. Answers its end.
template <typename C>
size_t count_run(uint8_t* base, size_t start, size_t n, const C& c) {
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
    insertion(base + start * c.size(), end - start, want - start, c);
    end = want;
  }
  return end;
}

// Merges the sorted runs [a, m) and [m, e) through `tmp`, copying the shorter run there: the left
// run merges forward, the right run backward, so the buffer of n / 2 records always suffices. If the
// callback raises, the records still in `tmp` are copied into the gap they left, so no record is lost
// or doubled.
template <typename C>
void merge_runs(uint8_t* base, size_t a, size_t m, size_t e, uint8_t* tmp, const C& c) {
  const size_t s = c.size();
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
inline int boundary_power(size_t a, size_t m, size_t e, size_t n) {
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

// Heap sort of [lo, hi): the quick sort's fallback once it has recursed too deep.
template <typename C>
void sift_down(uint8_t* base, size_t root, size_t count, const C& c) {
  for (;;) {
    size_t child = 2 * root + 1;
    if (child >= count) return;
    if (child + 1 < count && c(c.at(base, child), c.at(base, child + 1)) < 0) child++;
    if (c(c.at(base, root), c.at(base, child)) >= 0) return;
    c.swap(c.at(base, root), c.at(base, child));
    root = child;
  }
}

template <typename C>
void heap_sort(uint8_t* base, size_t count, const C& c) {
  for (size_t i = count / 2; i-- > 0;) sift_down(base, i, count, c);
  for (size_t end = count; end-- > 1;) {
    c.swap(c.at(base, 0), c.at(base, end));
    sift_down(base, 0, end, c);
  }
}

template <typename C>
void quick(uint8_t* base, size_t n, int depth, const C& c) {
  while (n >= kInsertionLimit) {
    if (depth-- <= 0) {
      heap_sort(base, n, c);
      return;
    }
    // Median of the first, middle and last records, moved to the front as the pivot.
    size_t lo = 0, mid = n / 2, hi = n - 1;
    if (c(c.at(base, lo), c.at(base, mid)) > 0) c.swap(c.at(base, lo), c.at(base, mid));
    if (c(c.at(base, mid), c.at(base, hi)) > 0) c.swap(c.at(base, mid), c.at(base, hi));
    if (c(c.at(base, lo), c.at(base, mid)) > 0) c.swap(c.at(base, lo), c.at(base, mid));
    c.swap(c.at(base, 0), c.at(base, mid));
    // Hoare partition around the pivot at 0.
    size_t i = 0, j = n;
    for (;;) {
      do i++;
      while (i < n && c(c.at(base, i), c.at(base, 0)) < 0);
      do j--;
      while (j > 0 && c(c.at(base, j), c.at(base, 0)) > 0);
      if (i >= j) break;
      c.swap(c.at(base, i), c.at(base, j));
    }
    c.swap(c.at(base, 0), c.at(base, j));
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

template <typename C>
void merge_sort_into(uint8_t* base, size_t n, uint8_t* tmp, const C& c) {
  if (n < 2) return;

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

template <typename C>
void quick_sort(uint8_t* base, size_t n, const C& c) {
  if (n < 2) return;
  int depth = 2;
  for (size_t k = n; k > 1; k >>= 1) depth += 2;
  quick(base, n, depth, c);
}

// Records of a C++ type compared inline.
template <typename Rec, typename Cmp>
struct Typed {
  Cmp cmp;
  static constexpr size_t size() { return sizeof(Rec); }
  uint8_t* at(uint8_t* base, size_t i) const { return base + i * sizeof(Rec); }
  void swap(uint8_t* a, uint8_t* b) const { std::swap(*reinterpret_cast<Rec*>(a), *reinterpret_cast<Rec*>(b)); }
  int32_t operator()(const uint8_t* a, const uint8_t* b) const {
    return cmp(*reinterpret_cast<const Rec*>(a), *reinterpret_cast<const Rec*>(b));
  }
};

}  // namespace zem::sort::algo

namespace zem::sort {

// The two sorts of sort.h over trivially copyable records compared by `cmp(a, b)` inline (< 0, 0,
// > 0): the same algorithms, without a call per comparison.
template <typename Rec, typename Cmp>
void merge_sort_records(Rec* base, size_t n, Cmp cmp) {
  if (n < 2) return;
  std::vector<Rec> tmp(n / 2);
  algo::merge_sort_into(reinterpret_cast<uint8_t*>(base), n, reinterpret_cast<uint8_t*>(tmp.data()),
                        algo::Typed<Rec, Cmp>{cmp});
}

template <typename Rec, typename Cmp>
void quick_sort_records(Rec* base, size_t n, Cmp cmp) {
  if (n < 2) return;
  algo::quick_sort(reinterpret_cast<uint8_t*>(base), n, algo::Typed<Rec, Cmp>{cmp});
}

}  // namespace zem::sort
