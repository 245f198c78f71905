// Series ownership: the owner table and the change notices sent to owners.
#include "runtime/ownership.h"

#include <unordered_map>

#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/support.h"
#include "runtime/wiring.h"

namespace zem::ownership {

namespace {

// The fields of an image! cell header and of an object's context that mark ownership.

struct Record {
  Cell value;  // the owned value as it was when ownership was set
  Cell owner;  // the owner object
  Cell word;   // the owner's field through which the value is owned
};

// Records are keyed by the node of a series or object context, or by an image's table id, kept
// apart in the high half of the key.
using Key = uint64_t;
constexpr Key kImageKey = Key{1} << 32;
inline bool is_image_key(Key k) { return (k & kImageKey) != 0; }

struct OwnershipState {
  std::unordered_map<Key, Record> records;
  bool registered = false;
};
OwnershipState S;

constexpr std::string_view kWords[] = {
    "clear", "cleared", "poke",   "poked",      "remove", "removed", "reverse", "reversed",
    "take",  "taken",   "move",   "moved",      "random", "randomized", "sort", "sorted",
    "swap",  "swaped",  "put",    "put-ed",     "trim",   "trimmed", "change",  "changed",
    "append", "appended", "insert", "inserted",
};
static_assert(std::size(kWords) == static_cast<size_t>(Change::inserted) + 1);

bool has_buffer_flag(TypeId t) {
  switch (t) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: case TYPE_PATH: case TYPE_LIT_PATH:
    case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
    case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: case TYPE_BINARY: case TYPE_VECTOR:
    case TYPE_BITSET:
      return true;
    default:
      return false;
  }
}

bool is_any_block(TypeId t) {
  return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || t == TYPE_PATH ||
         t == TYPE_LIT_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH;
}

// The record key of a value, or 0 when the value does not take part.
Key key_of(const Cell& v) {
  TypeId t = v.type();
  if (t == TYPE_IMAGE) return v.image_id() != 0 ? kImageKey | v.image_id() : 0;
  if (has_buffer_flag(t)) return v.node();
  if (t == TYPE_OBJECT && wiring.objects.context_node) return wiring.objects.context_node(v);
  return 0;
}

void set_flag(const Cell& v, bool on) {
  TypeId t = v.type();
  if (has_buffer_flag(t)) {
    SeriesBuffer* b = series_buffer(v.node());
    b->flags = on ? (b->flags | kSeriesOwned) : (b->flags & ~kSeriesOwned);
  } else if (t == TYPE_OBJECT && wiring.objects.set_flag) {
    wiring.objects.set_flag(v, on);
  }
}

// Marks the cells of the records whose series and owner both live; drops the others, clearing the
// owned flag of a series that outlives its owner.
void weak_pass() {
  for (auto it = S.records.begin(); it != S.records.end();) {
    Record& r = it->second;
    bool key_alive = is_image_key(it->first)
                         ? wiring.image_alive && wiring.image_alive(static_cast<uint32_t>(it->first))
                         : gc::is_marked(static_cast<NodeId>(it->first));
    NodeId owner_node = walk_node(r.owner);
    bool owner_alive = owner_node == 0 || gc::is_marked(owner_node);
    if (key_alive && owner_alive) {
      gc::mark_value(r.value);
      gc::mark_value(r.owner);
      gc::mark_value(r.word);
      ++it;
      continue;
    }
    if (key_alive && has_buffer_flag(r.value.type())) {
      SeriesBuffer* b = series_buffer(static_cast<NodeId>(it->first));
      b->flags &= ~kSeriesOwned;
    }
    it = S.records.erase(it);
  }
}

void set_owner_walk(const Cell& value, const Cell& owner, const Cell& word);

void own_cells(const Cell& block, const Cell& owner, const Cell& word) {
  NodeId node = block.node();
  if (ptrstack::contains(node)) return;
  PointerStackGuard guard(node);
  // Index walk: nothing here allocates series, but the owner's cells may sit in this block.
  for (uint32_t i = block.head_index(); i < series_buffer(node)->length(); i++) {
    Cell c = series_buffer(node)->cells_head()[i];
    set_owner_walk(c, owner, word);
  }
}

void set_owner_walk(const Cell& value, const Cell& owner, const Cell& word) {
  Key key = key_of(value);
  if (key == 0) return;
  TypeId t = value.type();
  if (t == TYPE_OBJECT) {
    if (wiring.objects.flagged && wiring.objects.flagged(value)) return;
    if (walk_node(value) == walk_node(owner) || ptrstack::contains(static_cast<NodeId>(key))) return;
    if (!is_owned(value)) {
      set_flag(value, true);
      S.records[key] = Record{value, owner, word};
    }
    if (wiring.objects.for_each_field) {
      PointerStackGuard guard(static_cast<NodeId>(key));
      struct Ctx {
        const Cell* owner;
      } ctx{&owner};
      wiring.objects.for_each_field(
          value,
          [](Cell& field, const Cell& field_word, void* user) {
            const Cell& o = *static_cast<Ctx*>(user)->owner;
            if (field.is(TYPE_OBJECT) && walk_node(field) == walk_node(o)) return;
            set_owner_walk(field, o, field_word);
          },
          &ctx);
    }
    return;
  }
  if (!is_owned(value)) {
    if (t == TYPE_IMAGE) {
      // The image's flag lives in the cell: the record keeps the flagged copy.
      Cell flagged = value;
      flagged.header |= kImageOwnedFlag;
      S.records[key] = Record{flagged, owner, word};
      return;
    }
    set_flag(value, true);
    S.records[key] = Record{value, owner, word};
  }
  if (is_any_block(t)) own_cells(value, owner, word);
}

void unbind_walk(const Cell& value);

void unbind_cells_walk(const Cell& block, uint32_t from, uint32_t count) {
  NodeId node = block.node();
  if (ptrstack::contains(node)) return;
  PointerStackGuard guard(node);
  for (uint32_t i = from; i < series_buffer(node)->length() && i - from < count; i++) {
    Cell c = series_buffer(node)->cells_head()[i];
    unbind_walk(c);
  }
}

void unbind_walk(const Cell& value) {
  Key key = key_of(value);
  if (key == 0) return;
  TypeId t = value.type();
  if (t == TYPE_OBJECT) {
    if (ptrstack::contains(static_cast<NodeId>(key)) || (wiring.objects.flagged && wiring.objects.flagged(value))) return;
    set_flag(value, false);
    S.records.erase(key);
    if (wiring.objects.for_each_field) {
      PointerStackGuard guard(static_cast<NodeId>(key));
      wiring.objects.for_each_field(
          value, [](Cell& field, const Cell&, void*) { unbind_walk(field); }, nullptr);
    }
    return;
  }
  set_flag(value, false);
  S.records.erase(key);
  if (is_any_block(t)) unbind_cells_walk(value, value.head_index(), UINT32_MAX);
}

}  // namespace

std::string_view change_word(Change c) { return kWords[static_cast<int>(c)]; }

void init() {
  S.records.clear();
  if (!S.registered) {
    S.registered = true;
  }
  gc::remove_weak_pass(&weak_pass);
  gc::add_weak_pass(&weak_pass);
}

bool is_owned(const Cell& value) {
  TypeId t = value.type();
  if (has_buffer_flag(t)) return (series_buffer(value.node())->flags & kSeriesOwned) != 0;
  if (t == TYPE_IMAGE) return value.image_id() != 0 && S.records.count(kImageKey | value.image_id()) != 0;
  if (t == TYPE_OBJECT) return wiring.objects.flagged && wiring.objects.context_node &&
                               S.records.count(wiring.objects.context_node(value)) != 0;
  return false;
}

void set_owner(const Cell& value, const Cell& owner, const Cell& word) {
  set_owner_walk(value, owner, word);
}

void set_owner_deep(const Cell& value, const Cell& owner, const Cell& word) {
  set_owner_walk(value, owner, word);
  if (wiring.objects.set_flag) wiring.objects.set_flag(owner, true);
}

void unbind(const Cell& value) { unbind_walk(value); }

void unbind_cells(const Cell& block, uint32_t index, uint32_t count) {
  unbind_cells_walk(block, index, count);
}

const Cell* lookup(NodeId node) {
  auto it = S.records.find(node);
  return it == S.records.end() ? nullptr : &it->second.owner;
}

bool check(const Cell& value, Change action, const Cell* new_value, int32_t index, int32_t part) {
  Key key = key_of(value);
  if (key == 0 || !wiring.deep_change) return false;
  auto it = S.records.find(key);
  if (it == S.records.end() || it->second.owner.object_record() == 0) return false;
  // Copies: the handler runs user code that may change the table.
  Cell owner = it->second.owner;
  Cell word = it->second.word;
  Cell target = value;
  Cell nv{};
  if (new_value) nv = *new_value;
  wiring.deep_change(owner, word, target, action, new_value ? &nv : nullptr, index, part);
  return true;
}

uint32_t record_count() { return static_cast<uint32_t>(S.records.size()); }

}  // namespace zem::ownership
