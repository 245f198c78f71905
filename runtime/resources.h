// The native-resource registry: operating-system objects (images, fonts...) that values refer to by
// entry index. The collector marks the entries of the values it reaches; after marking, every
// unmarked entry is released once through its class's callback and its index is reused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zem::resources {

using ReleaseFn = void (*)(void* data);

constexpr uint32_t kMarkFlag = 0x80000000;
constexpr uint32_t kFreeFlag = 0x40000000;
constexpr uint32_t kClassMask = 0xFF;
constexpr uint32_t kInitialEntries = 1000;

struct ResourceClass {
  std::string name;
  ReleaseFn release;
};

struct ResourceEntry {
  uint32_t header;  // class id in bits 0-7, kMarkFlag, kFreeFlag
  void* data;
  int32_t next;     // next index in the used or the free list, -1 at the end
};

struct ResourceState {
  std::vector<ResourceClass> classes;  // class id = position + 1
  std::vector<ResourceEntry> entries;
  int32_t used_head = -1;
  int32_t free_head = -1;
};
extern ResourceState resource_state;

// Both tables, every entry free.
void init();
// Answers the class id (from 1).
uint32_t register_class(const char* name, ReleaseFn release);
// A new entry holding `data`; answers its index.
int32_t add(void* data, uint32_t class_id);
// Replaces the data; the old data is released when it differs.
void set_data(int32_t index, void* data);
// Frees the entry (releasing its data first when `release`); answers -1. An index that is out of
// range or already free is left alone.
int32_t remove(int32_t index, bool release);
// Marks the entry; `new_data`, when not null, replaces its data without release. True on the first
// mark of a collection.
bool mark(int32_t index, void* new_data);
// Calls fn with the data of every used entry of the class.
void for_each_of_class(uint32_t class_id, void (*fn)(void* data));
// After marking: releases and frees every unmarked entry, clears the marks of the others.
void sweep();

inline uint32_t capacity() { return static_cast<uint32_t>(resource_state.entries.size()); }
inline void* data_of(int32_t index) { return resource_state.entries[index].data; }
// During a collection, before the sweep: the entry was marked.
inline bool is_marked(int32_t index) {
  return index >= 0 && static_cast<uint32_t>(index) < capacity() &&
         (resource_state.entries[index].header & (kMarkFlag | kFreeFlag)) == kMarkFlag;
}

}  // namespace zem::resources
