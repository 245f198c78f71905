// Set-paths into values held in their cell: the changed copy stored back where it came from.
#include "datatypes/scalar_path.h"

#include "datatypes/context.h"
#include "datatypes/word.h"

namespace zem {

void write_back_scalar(PathStep& step) {
  if (step.previous) {
    PathHandler h = path_handler(step.previous->type());
    if (!h || !step.previous_element) return;
    const Cell changed = *step.value;
    PathStep up;
    up.value = step.previous;
    up.element = step.previous_element;
    up.set_value = &changed;
    up.path = step.path;
    up.index = step.index - 1;
    up.last = true;
    h(up);
    return;
  }
  // Only the first element's holder is the head word; a walk resumed further on has lost its holder.
  if (step.index == 1 && step.previous_element && step.previous_element->is(TYPE_WORD)) {
    Cell word = *step.previous_element;
    context::set_word_value(word, *step.value);
  }
}

}  // namespace zem
