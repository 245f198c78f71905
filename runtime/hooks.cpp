// The output hook lists: adding, removing and calling the callbacks.
#include "runtime/hooks.h"

#include <cstring>

#include "runtime/c_heap.h"

namespace zem::hooks {

HookState hook_state;

namespace {

void reset(HookList& list) {
  if (list.entries) cheap::free(list.entries);
  list.entries = static_cast<void**>(cheap::alloc(kGrowBy * sizeof(void*)));
  list.count = 0;
  list.capacity = kGrowBy;
}

void append(HookList& list, void* hook) {
  if (list.count == list.capacity) {
    auto* grown = static_cast<void**>(cheap::alloc((list.capacity + kGrowBy) * sizeof(void*)));
    if (list.count) std::memcpy(grown, list.entries, list.count * sizeof(void*));
    cheap::free(list.entries);
    list.entries = grown;
    list.capacity += kGrowBy;
  }
  list.entries[list.count++] = hook;
}

void erase(HookList& list, void* hook) {
  for (int32_t i = 0; i < list.count; ++i) {
    if (list.entries[i] == hook) {
      std::memmove(&list.entries[i], &list.entries[i + 1], (list.count - i - 1) * sizeof(void*));
      --list.count;
      return;
    }
  }
}

}  // namespace

void init() {
  reset(hook_state.list1);
  reset(hook_state.list2);
  hook_state.initialized = true;
}

void add(List1Hook h1, List2Hook h2) {
  if (h1) append(hook_state.list1, reinterpret_cast<void*>(h1));
  if (h2) append(hook_state.list2, reinterpret_cast<void*>(h2));
}

void remove(List1Hook h1, List2Hook h2) {
  if (h1) erase(hook_state.list1, reinterpret_cast<void*>(h1));
  if (h2) erase(hook_state.list2, reinterpret_cast<void*>(h2));
}

// The list is re-read at every step: a callback that (against the rules) adds a hook must not
// leave the walk on a freed array.
void call_list1(const Cell* value, int32_t line_feed) {
  const HookList& list = hook_state.list1;
  for (int32_t i = 0; i < list.count; ++i) {
    reinterpret_cast<List1Hook>(list.entries[i])(value, line_feed);
  }
}

void call_list2(const char* text, int32_t length, int32_t flag) {
  const HookList& list = hook_state.list2;
  for (int32_t i = 0; i < list.count; ++i) {
    reinterpret_cast<List2Hook>(list.entries[i])(text, length, flag);
  }
}

}  // namespace zem::hooks
