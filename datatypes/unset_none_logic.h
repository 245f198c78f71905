// unset!, none! and logic!: the shared constant cells, the constructors and the truth rules.
#pragma once

#include "runtime/cell.h"

namespace zem {

// One unset, one none, one true and one false cell for the whole process. Handlers answer them;
// callers copy them and never write into them.
struct SharedCells {
  Cell unset{};
  Cell none{};
  Cell true_value{};
  Cell false_value{};
};
extern SharedCells shared_cells;

inline Cell make_unset() {
  Cell c{};
  c.set_header(TYPE_UNSET);
  return c;
}
inline Cell make_none() {
  Cell c{};
  c.set_header(TYPE_NONE);
  return c;
}
inline Cell make_logic(bool flag) {
  Cell c{};
  c.set_header(TYPE_LOGIC);
  c.set_logic_value(flag);
  return c;
}
// Only a logic word of exactly 1 is true, whatever else a logic cell holds.
inline bool logic_flag(const Cell& c) { return c.logic_value(); }

// The truth rule: none! and logic! other than true are false; every other value, unset! included,
// is true.
inline bool is_true(const Cell& c) {
  if (c.is(TYPE_NONE)) return false;
  if (c.is(TYPE_LOGIC)) return logic_flag(c);
  return true;
}

// Condition of interpreted code: with `check`, unset! raises script `no-value` with the word that
// produced the value (left out when null); without it unset! is true.
bool cell_is_true(const Cell& c, bool check, const Cell* word);
// Condition of compiled code on the result slot: unset! raises script `no-return`.
bool result_is_true_checked(const Cell& result);

void register_unset();
void register_none();
void register_logic();

}  // namespace zem
