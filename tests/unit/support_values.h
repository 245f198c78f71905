// Helpers for tests of datatype handlers: frames for action calls, molding to UTF-8, caught errors.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "datatypes/registry.h"
#include "runtime/error.h"

namespace zem::test {

Cell int_cell(int32_t v);
// A cell of the type with every payload word 0.
Cell typed_cell(TypeId type);
Cell float_cell(double v);

// The frame of one action call: cells in order, no refinements.
struct Frame {
  std::vector<Cell> cells;
  ActionCall call;
  Frame(ActionIndex a, std::initializer_list<Cell> args);
  // Calls the handler of slot 0's type (or of `type` when given) and answers a copy of its result.
  Cell run(TypeId type = TYPE_NONE_ID);
};

std::string form_text(const Cell& value, int32_t* limit_left = nullptr);
std::string mold_text(const Cell& value, MoldFlags flags = {}, int32_t* limit_left = nullptr);

// Evaluates the text as user code (the boot library must be up); answers its value, or sets
// `failed` (and `error`, the error raised, when given) and answers an empty cell when it raises or
// exits.
Cell eval_text(const std::string& text, bool* failed = nullptr, Err* error = nullptr);

// Runs `body`, which must raise; answers the error it raised (Err{} when it did not raise).
Err raised(const std::function<void()>& body);

}  // namespace zem::test
