// error!: an object (the object! payload, type error!) with the fields of the error prototype, and
// the error catalogue the messages come from.
//
// The catalogue is the `errors` object: one object per category in category-number order, whose
// words are `code`, `type` (the category title), then one word per id holding its message template
// (a string!, or a block! of strings and get-words naming error fields). Error codes are
// category * 100 + the position of the id word (the first id has position 2).
#pragma once

#include <cstdint>

#include "datatypes/registry.h"
#include "runtime/error.h"

namespace zem {

// The fields of an error, in order.
enum ErrorField : uint32_t {
  ERR_CODE = 0,
  ERR_TYPE,
  ERR_ID,
  ERR_ARG1,
  ERR_ARG2,
  ERR_ARG3,
  ERR_NEAR,
  ERR_WHERE,
  ERR_STACK,
  ERR_FILES,
  ERR_FIELD_COUNT,
};

struct ErrorValueState {
  NodeId errors = 0;                           // context of the `errors` object
  NodeId categories[kErrCategoryCount] = {};  // context of each category object
  NodeId prototype = 0;                        // context of the error prototype
  int32_t trace_level = 0;                     // above 0: forms show the stack and files
};
extern ErrorValueState error_value_state;

namespace error_value {

// Makes the catalogue from the generated table of library/errors.zem, the error prototype, and
// installs the error-value builder of `fire`.
void init();
// Makes the pending error's error! value (the wiring table's `build_error_value`).
void build_pending_error(PendingExit& p);
// Replaces the catalogue by an `errors` object loaded from the library source. Its categories and
// ids must be those of runtime/error_ids.def (the codes depend on them); answers false (and keeps
// the catalogue) when they differ.
bool install_catalogue(const Cell& errors);
// The `errors` object.
Cell catalogue();

// The error of a code with up to three arguments (null: not given).
Cell create(Err code, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);
// make error! from a spec: integer! code, block! [category id args...] or an object spec block.
Cell make(const Cell& spec);

// A field of an error value (valid until the next allocation of its values).
Cell* field(const Cell& error, ErrorField f);
// Stores the value into `where` when `where` is still none.
void set_where(const Cell& error, const Cell& value);
constexpr uint32_t stack_field_index() { return ERR_STACK; }
// With the trace level above 0: the raise position in `stack` becomes the block of the named
// calls there, which stays true after the stack has moved on.
void set_stack_info(const Cell& error);

// The "*** " message of an error, as the console prints it.
int32_t form(const Cell& error, TextOut& out, const Cell* part, int32_t limit);

}  // namespace error_value

void register_error_type();

}  // namespace zem
