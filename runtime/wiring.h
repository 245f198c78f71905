// Every call one module makes into another through a pointer instead of by name: the calls that
// close a real cycle. The runtime sits below the core (see tools/check_layers.py) yet needs a few of
// the core's answers: the hash tables compare word keys through the symbol table, itself a hash
// table; `fire` unwinds the call stack; the owner table walks object fields. Inside the core, the
// datatypes that run user code (objects, sort, parse) reach the interpreter, which is built on them.
// Start-up fills every entry, in init_through, as the module that answers comes up; unit tests may
// replace an entry to watch or stand in for the calls.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
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

  // ---- Inside the core ----
  // The call stack: makes the pending error's error! value; the code at the expression being
  // evaluated, for an error's `near` (unset: none).
  void (*build_error_value)(PendingExit& pending) = nullptr;
  Cell (*near_source)() = nullptr;
  // Objects: evaluates a block bound to a new object (make with a block spec), raising an exit that
  // leaves it; calls a handler function in a function frame named `name` with `count` argument
  // cells, then `locals` local slots (logic false, then none!).
  void (*eval_object_block)(const Cell& block) = nullptr;
  void (*run_handler)(const Cell& function, const Cell& name, const Cell* args, uint32_t count,
                      uint32_t locals) = nullptr;
  // Contexts: a field of an object with a change record was set through its word; the old value is
  // on the argument stack for the duration of the call.
  void (*field_changed)(const Cell& owner, const Cell& word, const Cell& old_value,
                        const Cell& new_value) = nullptr;
  // Words and times: scans text as source and answers its first value: none! when the scan stopped
  // before the end, unset! when the text holds no value (nullptr: every text gives none).
  Cell (*load_first)(std::string_view utf8) = nullptr;
  // Typesets: the value of a word (nullptr: internal not-done).
  const Cell* (*word_value)(const Cell& word) = nullptr;
  // Series: whether a word of reflect and modify names the field `name`.
  bool (*word_is)(const Cell& word, std::string_view name) = nullptr;
  // Sort: calls a function! comparator (answers > 0 when a sorts after b); runs user code.
  int32_t (*sort_compare)(const Cell& function, const Cell& a, const Cell& b) = nullptr;
  // Parse: evaluates a paren, leaving its value as the newest argument-stack cell; calls the trace
  // callback with the five event arguments and `locals` unused local slots, `answer` receiving the
  // truth of its value; the number of /local slots of the callback's spec. Each answers an exit
  // code (0: none).
  uint32_t (*parse_eval_paren)(const Cell& paren) = nullptr;
  uint32_t (*parse_call_callback)(const Cell& callback, const Cell* args, uint32_t locals,
                                  bool& answer) = nullptr;
  uint32_t (*parse_count_locals)(const Cell& callback) = nullptr;
};
extern Wiring wiring;

}  // namespace zem
