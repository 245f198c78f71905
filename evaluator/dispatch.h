// Action dispatch: the actions' stack forms, the handler lookup by the first argument's type, and
// the typed entries that runtime code calls with cells.
//
// A stack form works on the current frame of the argument stack (cell 0 the value acted on and
// the result slot, cells 1.. the further arguments in spec order) and takes one integer per
// refinement in spec order: -1 when absent, else the frame index of its first argument cell.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace zem {

using ActionEntry = void (*)(const int32_t* refinements);

// The stack forms in action order; slot 8 (set-path) is empty.
struct ActionEntryTable {
  ActionEntry entries[kActionCount] = {};
};
extern ActionEntryTable action_entry_table;

namespace actions {

void init();

// The stack form of the 1-based slot, or null (slot 8, or out of range).
ActionEntry entry(uint32_t slot);
// Refinement names of an action in spec order ("part", "only", ...).
std::span<const std::string_view> refinement_names(ActionIndex a);

// The handler of action `a` for `value` (of type `t`): a port whose actor holds a handler table
// answers the actions from append on through it. An empty slot raises script `expect-arg` with
// the word of the current call, the datatype and `param` (the first argument's word, or null).
ActionHandler handler_of_value(TypeId t, const Cell& value, ActionIndex a,
                               const Cell* param = nullptr);
inline ActionHandler get_handler_of(const Cell& value, ActionIndex a) {
  return handler_of_value(value.type(), value, a);
}
// Script `expect-arg` for argument `arg` (0-based, spec order) of the action being called, of
// type `t`: named by the current call's word and the parameter's word from that action's spec.
[[noreturn]] void fire_expect_arg(uint32_t arg, TypeId t);
// The path handler of the value's type; raises `bad-path-type` (path given: the path up to
// `depth` elements, the datatype and the element) or `bad-path-type2` (element, datatype).
PathHandler handler_by_type(const Cell& value, const Cell* path, const Cell& element,
                            int32_t depth);
// Slot 1 of the current frame read as an index: integer! as is, char! its code point, logic! 1
// for true and 2 for false, anything else 0.
int32_t refinement_int();

// Runs action `a` on the current frame: the handler of slot 0's type with the refinements, the
// result copied into slot 0. `spec` (or 0) is the action value's spec, for error messages.
void call(ActionIndex a, const int32_t* refinements, NodeId spec = 0);

// The compare answer of a handler: -1, 0, 1, or kCannotCompare.
int32_t compare_raw(const Cell& a, const Cell& b, CompareOp op);
// The truth of `a op b`; raises `invalid-compare` for an ordering of values that do not compare.
bool compare(const Cell& a, const Cell& b, CompareOp op);
// Slots 0 and 1 of the current frame compared; the logic! result in slot 0.
void compare_to_logic(CompareOp op);

// Form and mold into a new string! value (`part` < 0: no limit).
Cell form_value(const Cell& value, int32_t part = -1);
Cell mold_value(const Cell& value, MoldFlags flags = {}, int32_t part = -1);
// As UTF-8, for diagnostics and tests.
std::string form_text(const Cell& value);
std::string mold_text(const Cell& value, MoldFlags flags = {});

// A port's actor table (the port machinery installs the lookup): answers true and sets `h` when
// the port takes the action from its actor; `h` null then means the actor lacks it.
void set_port_actor_lookup(bool (*fn)(const Cell& port, ActionIndex a, ActionHandler& h));

}  // namespace actions
}  // namespace zem
