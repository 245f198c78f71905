// handle!: the handle table (kinds, generations, release) and the datatype's actions.
#include "datatypes/handle.h"

#include <string>
#include <vector>

#include "datatypes/string_storage.h"

namespace zem {
namespace handle {

namespace {

// An index is the entry's slot in the low 20 bits and its generation (1..4095) above them.
constexpr uint32_t kSlotBits = 20;
constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;
constexpr uint32_t kMaxGeneration = 0xFFF;

struct Entry {
  uintptr_t target = 0;
  uint32_t kind = KIND_NONE;
  uint32_t generation = 0;
  bool live = false;
};

struct Table {
  std::vector<Entry> entries = std::vector<Entry>(1);  // slot 0 unused: the null handle
  std::vector<uint32_t> free_slots;
  uint32_t live = 0;
};
Table table;

const Entry* entry_of(uint32_t index) {
  const uint32_t slot = index & kSlotMask;
  if (slot == 0 || slot >= table.entries.size()) return nullptr;
  const Entry& e = table.entries[slot];
  return e.live && e.generation == (index >> kSlotBits) ? &e : nullptr;
}

}  // namespace

const char* kind_name(uint32_t kind) {
  static const char* const kNames[] = {"", "fd", "monitor", "window", "font", "rich-text"};
  return kind < std::size(kNames) ? kNames[kind] : "";
}

uint32_t add(uintptr_t target, uint32_t kind) {
  uint32_t slot;
  if (!table.free_slots.empty()) {
    slot = table.free_slots.back();
    table.free_slots.pop_back();
  } else {
    slot = uint32_t(table.entries.size());
    if (slot > kSlotMask) std::abort();  // a million live platform objects: a leak upstream
    table.entries.emplace_back();
  }
  Entry& e = table.entries[slot];
  e.generation = e.generation % kMaxGeneration + 1;
  e.target = target;
  e.kind = kind;
  e.live = true;
  table.live++;
  return (e.generation << kSlotBits) | slot;
}

uintptr_t resolve(uint32_t index) {
  const Entry* e = entry_of(index);
  return e ? e->target : 0;
}

uint32_t kind_of(uint32_t index) {
  const Entry* e = entry_of(index);
  return e ? e->kind : KIND_NONE;
}

void release(uint32_t index) {
  if (!entry_of(index)) return;
  Entry& e = table.entries[index & kSlotMask];
  e.live = false;
  e.target = 0;
  e.kind = KIND_NONE;
  table.free_slots.push_back(index & kSlotMask);
  table.live--;
}

uint32_t live_count() { return table.live; }

void reset_table() { table = Table{}; }

void set_cell(Cell& target, uint32_t index, uint32_t kind) {
  target.set_header(TYPE_HANDLE);
  target.set_handle(kind, index);
}

Cell make(uint32_t index, uint32_t kind) {
  Cell c{};
  set_cell(c, index, kind);
  return c;
}

int32_t compare(const Cell& a, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_HANDLE)) {
    // Not equal to anything else; ordering against another type is no answer at all.
    return is_equality_op(op) ? 1 : kCannotCompare;
  }
  const int32_t x = int32_t(a.handle_index()), y = int32_t(b.handle_index());
  return (x > y) - (x < y);
}

namespace {

std::string text_of(const Cell& h) { return std::string(str::int_to_hex(int32_t(h.handle_index()), false)) + "h"; }

int32_t hd_form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  std::string s = text_of(value);
  out.append_ascii(s);
  return limit - int32_t(s.size());
}

int32_t hd_mold(const Cell& value, TextOut& out, MoldFlags flags, const Cell*, int32_t limit, int32_t) {
  std::string s;
  if (!flags.all) {
    s = "handle!";
  } else {
    s = "#[handle! " + text_of(value);
    if (value.handle_kind() > KIND_NONE && *kind_name(value.handle_kind())) {
      s += ' ';
      s += kind_name(value.handle_kind());
    }
    s += "]";
  }
  out.append_ascii(s);
  return limit - int32_t(s.size());
}

}  // namespace

void register_type() {
  register_type(TYPE_HANDLE, TYPE_INTEGER, "handle!",
                HandlerRow()
                    .set(ActionIndex::form, &hd_form)
                    .set(ActionIndex::mold, &hd_mold)
                    .set(ActionIndex::compare, &compare));
}

}  // namespace handle
}  // namespace zem
