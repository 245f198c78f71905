// The native-resource registry: classes, entries and their release after collection.
#include "runtime/resources.h"

namespace zem::resources {

ResourceState resource_state;

namespace {

ResourceState& R = resource_state;

void thread_free(uint32_t first, uint32_t end) {
  for (uint32_t i = first; i < end; ++i) R.entries[i] = {kFreeFlag, nullptr, static_cast<int32_t>(i + 1)};
  R.entries[end - 1].next = -1;
}

bool valid_used(int32_t index) {
  return index >= 0 && static_cast<size_t>(index) < R.entries.size() && !(R.entries[index].header & kFreeFlag);
}

void release(const ResourceEntry& e) {
  uint32_t id = e.header & kClassMask;
  if (id == 0 || id > R.classes.size()) return;
  ReleaseFn fn = R.classes[id - 1].release;
  if (fn != nullptr) fn(e.data);
}

// Unlinks a used entry and puts it on the free list.
void free_entry(int32_t index) {
  if (R.used_head == index) {
    R.used_head = R.entries[index].next;
  } else {
    int32_t i = R.used_head;
    while (i != -1 && R.entries[i].next != index) i = R.entries[i].next;
    if (i != -1) R.entries[i].next = R.entries[index].next;
  }
  R.entries[index] = {kFreeFlag, nullptr, R.free_head};
  R.free_head = index;
}

}  // namespace

void init() {
  R = ResourceState{};
  R.classes.reserve(20);
  R.entries.resize(kInitialEntries);
  thread_free(0, kInitialEntries);
  R.free_head = 0;
}

uint32_t register_class(const char* name, ReleaseFn release) {
  R.classes.push_back({name, release});
  return static_cast<uint32_t>(R.classes.size());
}

int32_t add(void* data, uint32_t class_id) {
  if (R.entries.empty()) init();
  // Taking the last free entry doubles the table first, so the free list never runs dry.
  if (R.entries[R.free_head].next == -1) {
    uint32_t old = capacity();
    R.entries.resize(size_t{old} * 2);
    thread_free(old, old * 2);
    R.entries[R.free_head].next = static_cast<int32_t>(old);
  }
  int32_t index = R.free_head;
  R.free_head = R.entries[index].next;
  R.entries[index] = {class_id & kClassMask, data, R.used_head};
  R.used_head = index;
  return index;
}

void set_data(int32_t index, void* data) {
  if (!valid_used(index)) return;
  ResourceEntry& e = R.entries[index];
  if (e.data == data) return;
  ResourceEntry old = e;
  e.data = data;
  release(old);
}

int32_t remove(int32_t index, bool release_data) {
  if (!valid_used(index)) return -1;
  ResourceEntry e = R.entries[index];
  free_entry(index);
  if (release_data) release(e);
  return -1;
}

bool mark(int32_t index, void* new_data) {
  if (!valid_used(index)) return false;
  ResourceEntry& e = R.entries[index];
  if (new_data != nullptr) e.data = new_data;
  if (e.header & kMarkFlag) return false;
  e.header |= kMarkFlag;
  return true;
}

void for_each_of_class(uint32_t class_id, void (*fn)(void* data)) {
  for (int32_t i = R.used_head; i != -1;) {
    int32_t next = R.entries[i].next;
    if ((R.entries[i].header & kClassMask) == class_id) fn(R.entries[i].data);
    i = next;
  }
}

void sweep() {
  // Unmarked entries leave the used list first; their callbacks run after, so a callback that
  // adds or removes entries finds the lists consistent.
  std::vector<ResourceEntry> dead;
  int32_t prev = -1;
  for (int32_t i = R.used_head; i != -1;) {
    ResourceEntry& e = R.entries[i];
    int32_t next = e.next;
    if (e.header & kMarkFlag) {
      e.header &= ~kMarkFlag;
      prev = i;
    } else {
      dead.push_back(e);
      if (prev == -1) {
        R.used_head = next;
      } else {
        R.entries[prev].next = next;
      }
      R.entries[i] = {kFreeFlag, nullptr, R.free_head};
      R.free_head = i;
    }
    i = next;
  }
  for (const ResourceEntry& e : dead) release(e);
}

}  // namespace zem::resources
