// native!, action! and op!: function values whose bodies are runtime entries, and the tables those
// entries live in (natives by number, routines by index).
//
// Cells (layout in runtime/layout.h): the 0-based entry index (natives table or action entry
// table), the spec block's node and the node of a two-cell block: the spec's argument context (a
// context cell) and the argument cache (none until the first interpreted call). An op! keeps the
// type id of the value it was made from in its header and that value's payload.
#pragma once

#include <cstdint>

#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace zem {

// A native reads its arguments from the current frame and leaves its result in slot 0. `check`
// is non-zero when the caller has not type-checked the arguments; each refinement arrives as -1
// (absent) or the frame index of its first argument. Natives that run code answer the exit status
// of that code (EXIT_NONE when it ended normally); the others answer EXIT_NONE.
using NativeEntry = uint32_t (*)(int32_t check, const int32_t* refinements);

constexpr uint32_t kNativeSlots = 120;

struct NativesTable {
  NativeEntry entries[kNativeSlots] = {};
};
extern NativesTable natives_table;

// A routine's machine entry. The cells are its arguments in spec order (for the cell convention,
// every argument; for the machine convention, the checked word arguments). It answers the result
// cell (read before anything else runs), or null for a routine called for its effect.
using RoutineEntry = const Cell* (*)(Cell* args, uint32_t count);

// Routines by index: a routine! value's entry is an index into this table (filled at start-up).
struct RoutineRegistry {
  static constexpr uint32_t kCapacity = 512;
  RoutineEntry entries[kCapacity] = {};
  const char* names[kCapacity] = {};
  uint32_t count = 0;
};
extern RoutineRegistry routine_registry;

namespace native {

// Installs the entry of the native numbered `number` (1-based).
void set_entry(uint32_t number, NativeEntry entry);
// Adds a routine; answers its index.
uint32_t add_routine(const char* name, RoutineEntry entry);

inline TypeId op_source_type(const Cell& op) { return op.op_source(); }

// Spec check of op!: exactly two arguments, the first a plain word.
bool op_spec_ok(NodeId spec);

// Makes a native! or action! value for the entry index (0-based), spec node and argument context.
Cell make_value(TypeId type, uint32_t index, NodeId spec, NodeId context);

// An action of the boot library loaded from the boot image: its spec becomes its slot's shape, as
// when the library makes it.
void learn_action_shape(const Cell& action);

void register_native();
void register_action();
void register_op();

}  // namespace native
}  // namespace zem
