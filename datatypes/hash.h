// hash!: a block whose values are indexed by a kind-0 hash table (the cell's third payload word),
// so that find and select cost a look-up. The block handlers it inherits keep the index current
// through the hash hooks (datatypes/type_hooks.h), installed by register_type.
#pragma once

#include <cstdint>

#include "datatypes/registry.h"

namespace zem::hashes {

// Gives the hash (a block kind cell of type hash!) a new index over every cell of its buffer.
void new_index(Cell& hash);
// Position (from the buffer's first cell) of the first cell at or after the head equal to the
// value under `op`, or -1.
int32_t find(const Cell& hash, const Cell& value, CompareOp op);

// Index upkeep after the block's cells changed (positions from the buffer's first cell): `removed`
// cells at `at` were replaced by `inserted` ones; the buffer already holds its new cells.
void spliced(const Cell& hash, uint32_t at, uint32_t removed, uint32_t inserted);
// The cells [at, at + count) were rewritten in place (some may lie past a tail that moved down).
void changed(const Cell& hash, uint32_t at, uint32_t count);

void register_type();

}  // namespace zem::hashes
