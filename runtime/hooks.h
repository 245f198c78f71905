// The two output hook lists: list 1 receives language-level print/prin output as a string value,
// list 2 every low-level output of the standard output writer as UTF-8 bytes.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zem::hooks {

// (string value, line-feed flag: 1 when the output ends a line, 0 for prin)
using List1Hook = void (*)(const Cell* value, int32_t line_feed);
// (UTF-8 bytes, length in bytes (negative: NUL-terminated), flag)
using List2Hook = void (*)(const char* text, int32_t length, int32_t flag);

constexpr int32_t kGrowBy = 5;

struct HookList {
  void** entries = nullptr;  // on the C heap
  int32_t count = 0;
  int32_t capacity = 0;
};

struct HookState {
  HookList list1;
  HookList list2;
  bool initialized = false;
};
extern HookState hook_state;

// Both lists empty with room for 5 entries each.
void init();
// Appends each non-null callback to its list.
void add(List1Hook h1, List2Hook h2);
// Removes the first entry equal to each non-null callback; an absent one changes nothing.
void remove(List1Hook h1, List2Hook h2);
// Call every callback of the list in registration order.
void call_list1(const Cell* value, int32_t line_feed);
void call_list2(const char* text, int32_t length, int32_t flag);

}  // namespace zem::hooks
