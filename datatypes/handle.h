// handle!: a platform object (window, monitor, font, text layout, file descriptor) held as a value.
// The cell keeps a 32-bit index into the handle table; the table maps it to the object's pointer or
// descriptor and its kind. An index carries the generation of its entry, so an index kept after its
// entry was released (and the entry reused) resolves to nothing instead of to the new object.
//
// Ownership: whoever creates the platform object adds its entry and releases it when it destroys the
// object (the GUI back end when a view is destroyed, a resource's release callback, a port when it
// closes). Values that still hold the index then read as a stale handle: `resolve` answers null.
#pragma once

#include <cstdint>

#include "datatypes/registry.h"

namespace zem {
namespace handle {

enum Kind : uint32_t {
  KIND_NONE = 0,
  KIND_FD = 1,
  KIND_MONITOR = 2,
  KIND_WINDOW = 3,
  KIND_FONT = 4,
  KIND_RICH_TEXT = 5,
};
// "fd", "monitor", ...; empty for kind 0 and unknown kinds.
const char* kind_name(uint32_t kind);

// The table. Index 0 is the null handle and never names an entry.
uint32_t add(uintptr_t target, uint32_t kind);
// The entry's target, or 0 for index 0, a released entry or a stale generation.
uintptr_t resolve(uint32_t index);
// The entry's kind, or KIND_NONE when `resolve` would answer 0.
uint32_t kind_of(uint32_t index);
// Frees the entry; the index (and every copy of it) resolves to 0 from then on. Releasing index 0
// or a stale index does nothing.
void release(uint32_t index);
// Live entries (for tests and statistics).
uint32_t live_count();
// Empties the table (start-up).
void reset_table();

// Values.
void set_cell(Cell& target, uint32_t index, uint32_t kind);
Cell make(uint32_t index, uint32_t kind);
inline Cell null_handle() { return make(0, KIND_NONE); }

int32_t compare(const Cell& a, const Cell& b, CompareOp op);

void register_type();

}  // namespace handle
}  // namespace zem
