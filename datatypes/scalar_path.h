// Values held entirely in their cell (tuple!, pair!, the points) are copied onto the stack when a
// path reaches them, so a set-path that changes one component must store the changed value back
// where it came from: the container one step back, or the word at the head of the path.
#pragma once

#include "datatypes/registry.h"

namespace zem {

// Stores *step.value (already changed in place) into its holder: through the previous container's
// own set-path step (so an object field calls the object's change handler and a block reports the
// change to its owner), or into the head word's value slot (with the notification a set-word gives).
void write_back_scalar(PathStep& step);

}  // namespace zem
