// The calls the runtime makes up into the language core. The runtime sits below the core (see
// tools/check_layers.py) yet needs a few of its answers, each a real cycle: the hash tables compare
// word keys through the symbol table, which is itself a hash table; `fire` unwinds the call stack;
// the owner table walks object fields. Each call is one entry here, and start-up fills them all, in
// init_through, as the module that answers comes up. Unit tests may replace an entry to watch calls.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/error.h"
#include "runtime/hashtab.h"
#include "runtime/ownership.h"

namespace zem {

struct Wiring {
  // Hash tables: the canonical (case-folded) symbol id of a word key (nullptr: the id itself).
  uint32_t (*canonical_symbol)(uint32_t symbol) = nullptr;
  // Hash tables: key equality of kinds 0 and 1 for cells of one type (nullptr: the payload words).
  hashtab::KeyEquality key_equal = nullptr;
  // fire(): makes the pending error's value and unwinds the call stack (nullptr: fire only throws).
  ErrorRaiser raise_error = nullptr;
  // The low-level printer: a symbol's name (nullptr: words print nothing).
  std::string_view (*symbol_name)(uint32_t symbol) = nullptr;
  // The owner table: the deep-change handler and the access to object fields.
  ownership::DeepChangeFn deep_change = nullptr;
  ownership::ObjectAccess objects;
  // The owner table: whether the image with that table id was reached by the collection in progress
  // (nullptr: none was; their records are dropped).
  bool (*image_alive)(uint32_t image_id) = nullptr;
};
extern Wiring wiring;

}  // namespace zem
