// port!: an object standing for an external resource reached through a scheme. The port itself
// does nothing: its series and port actions are forwarded to the scheme's actor, an object whose
// functions run through the interpreter, or a handle! naming a native actor table that the action
// dispatcher consults directly.
#pragma once

#include <cstdint>
#include <vector>

#include "datatypes/registry.h"

namespace zem::port {

// A native actor: a handler per action slot (null: the actor lacks the action). The dispatcher
// asks it for the actions from append on.
struct NativeActorTable {
  ActionHandler handlers[kActionCount] = {};
};
// Registers a table (kept for the process's life); answers the handle! that names it, to be put
// in a scheme's `actor` field.
Cell add_native_actor(const NativeActorTable* table);

// Calls the actor function named by the action with the port and `args`, marshalled as the
// action's spec orders them (each refinement a logic! followed by its arguments or none). The
// port and the arguments must be rooted; the result is not.
Cell call_actor(const Cell& port, ActionIndex action, const std::vector<Cell>& args);
// The marshalled arguments (after the port) of an action call's frame.
std::vector<Cell> marshal(ActionCall& call);

void register_type();

}  // namespace zem::port
