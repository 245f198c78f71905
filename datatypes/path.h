// The path kinds (path!, lit-path!, set-path!, get-path!): blocks with another type id, written with
// "/" between their elements.
#pragma once

#include "runtime/cell.h"

namespace zem::path {

// The cell becomes an empty path! with room for `capacity` cells.
void make_empty(Cell& cell, uint32_t capacity);

void register_path();
void register_lit_path();
void register_set_path();
void register_get_path();

}  // namespace zem::path
