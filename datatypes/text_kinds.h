// tag!, email! and ref!: string kinds that differ from string! in their text forms, in the actions
// they refuse and, for email!, in the path words `user` and `host`.
#pragma once

#include "runtime/cell.h"

namespace zem::text_kinds {

// Pushes a new cell of the value's type that refers to the same series (the text is shared).
Cell* push_copy(const Cell& value);

void register_tag_type();
void register_email_type();
void register_ref_type();

}  // namespace zem::text_kinds
