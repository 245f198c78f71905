// The pointer map: open addressing from 32-bit keys to 32-bit values in the C heap.
#include "runtime/ptr_map.h"

#include <cstdlib>

#include "runtime/error.h"
#include "runtime/hashtab_probe.h"
#include "runtime/murmur.h"

namespace zem::hashtab {

namespace {

struct Arrays {
  uint8_t* flags;
  uint32_t* pairs;
};

bool alloc_arrays(uint32_t buckets, Arrays& out) {
  out.flags = static_cast<uint8_t*>(std::malloc(flag_bytes(buckets)));
  out.pairs = static_cast<uint32_t*>(std::calloc(size_t(buckets) * 2, sizeof(uint32_t)));
  if (!out.flags || !out.pairs) {
    std::free(out.flags);
    std::free(out.pairs);
    return false;
  }
  fill_flags_empty(out.flags, buckets);
  return true;
}

// Places a key known to be absent into the first empty bucket of its walk.
void place_new(uint8_t* flags, uint32_t* pairs, uint32_t buckets, uint32_t key, uint32_t value) {
  Probe p(murmur::fmix32(key), buckets);
  while (!bucket_empty(flags, p.bucket())) p.next();
  uint32_t i = p.bucket();
  set_bucket_live(flags, i);
  pairs[i * 2] = key;
  pairs[i * 2 + 1] = value;
}

// The bucket holding the key, or -1.
int64_t find_bucket(const PtrMap* m, uint32_t key) {
  Probe p(murmur::fmix32(key), m->buckets);
  do {
    uint32_t i = p.bucket();
    if (bucket_empty(m->flags, i)) return -1;
    if (bucket_live(m->flags, i) && m->pairs[i * 2] == key) return i;
  } while (p.next());
  return -1;
}

}  // namespace

PtrMap* make_ptr_map(uint32_t n) {
  Sizing s = sizing_for_create(n);
  auto* m = static_cast<PtrMap*>(std::malloc(sizeof(PtrMap)));
  Arrays a{};
  if (!m || s.buckets > kMaxBuckets || !alloc_arrays(s.buckets, a)) {
    std::free(m);
    fire(Err::internal_no_memory);
  }
  *m = PtrMap{0, a.flags, a.pairs, 0, s.buckets, s.bound};
  return m;
}

int resize_ptr_map(PtrMap* m, uint32_t n) {
  Sizing s = sizing_for_resize(n);
  if (m->count >= s.bound) return 1;
  Arrays a{};
  if (s.buckets > kMaxBuckets || !alloc_arrays(s.buckets, a)) return -1;
  for (uint32_t i = 0; i < m->buckets; i++)
    if (bucket_live(m->flags, i)) place_new(a.flags, a.pairs, s.buckets, m->pairs[i * 2], m->pairs[i * 2 + 1]);
  std::free(m->flags);
  std::free(m->pairs);
  m->flags = a.flags;
  m->pairs = a.pairs;
  m->buckets = s.buckets;
  m->bound = s.bound;
  m->used = m->count;
  return 0;
}

void ptr_map_put(PtrMap* m, uint32_t key, uint32_t value) {
  if (m->used >= m->bound) {
    uint64_t target = grow_target(m->count, m->buckets, false);
    resize_ptr_map(m, static_cast<uint32_t>(target > kMaxBuckets ? kMaxBuckets : target));
  }
  Probe p(murmur::fmix32(key), m->buckets);
  int64_t deleted = -1;
  int64_t target = -1;
  do {
    uint32_t i = p.bucket();
    if (bucket_empty(m->flags, i)) {
      target = i;
      break;
    }
    if (bucket_deleted(m->flags, i)) {
      if (deleted < 0) deleted = i;
    } else if (m->pairs[i * 2] == key) {
      m->pairs[i * 2 + 1] = value;
      return;
    }
  } while (p.next());
  if (deleted >= 0) {
    target = deleted;
  } else if (target < 0) {
    fire(Err::internal_no_memory);  // full and unable to grow: never overwrite a live entry
  } else {
    m->used++;
  }
  set_bucket_live(m->flags, static_cast<uint32_t>(target));
  m->pairs[target * 2] = key;
  m->pairs[target * 2 + 1] = value;
  m->count++;
}

uint32_t* ptr_map_get(PtrMap* m, uint32_t key) {
  int64_t i = find_bucket(m, key);
  return i < 0 ? nullptr : &m->pairs[i * 2 + 1];
}

void ptr_map_remove(PtrMap* m, uint32_t key) {
  int64_t i = find_bucket(m, key);
  if (i < 0) return;
  set_bucket_deleted(m->flags, static_cast<uint32_t>(i));
  m->count--;
}

void free_ptr_map(PtrMap* m) {
  if (!m) return;
  std::free(m->flags);
  std::free(m->pairs);
  std::free(m);
}

void reset_ptr_map(PtrMap* m) {
  m->count = 0;
  m->used = 0;
  fill_flags_empty(m->flags, m->buckets);
}

int64_t ptr_map_next(const PtrMap* m, int64_t pos) {
  for (int64_t i = pos + 1; i < int64_t(m->buckets); i++)
    if (bucket_live(m->flags, static_cast<uint32_t>(i))) return i;
  return -1;
}

}  // namespace zem::hashtab
