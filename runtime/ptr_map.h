// The pointer map: an open-addressing map from 32-bit keys to 32-bit values kept in the C heap, for
// runtime tables that must not live in collectable series.
#pragma once

#include <cstdint>

namespace zem::hashtab {

struct PtrMap {
  uint32_t count;    // live keys
  uint8_t* flags;    // 2 bits per bucket (see hashtab_probe.h)
  uint32_t* pairs;   // {key, value} per bucket
  uint32_t used;     // live or deleted buckets
  uint32_t buckets;  // power of two
  uint32_t bound;    // used count at which the map grows
};

// Raises internal no-memory when the map cannot be allocated.
PtrMap* make_ptr_map(uint32_t n);
// Inserts or updates. A map that cannot grow and has no free bucket left raises internal no-memory
// rather than overwrite a live entry.
void ptr_map_put(PtrMap* map, uint32_t key, uint32_t value);
uint32_t* ptr_map_get(PtrMap* map, uint32_t key);  // address of the value, or nullptr
void ptr_map_remove(PtrMap* map, uint32_t key);
// Rebuilds for n keys; 0 on success, 1 when count does not fit under the new bound (unchanged),
// -1 when the new arrays cannot be had (unchanged).
int resize_ptr_map(PtrMap* map, uint32_t n);
void free_ptr_map(PtrMap* map);  // nullptr allowed
void reset_ptr_map(PtrMap* map);
// The bucket index of the next live pair after `pos` (start with -1), or -1 at the end.
int64_t ptr_map_next(const PtrMap* map, int64_t pos);

}  // namespace zem::hashtab
