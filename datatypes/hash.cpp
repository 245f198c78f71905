// hash!: construction, copying and molding of indexed blocks, and the index upkeep that the block
// and series handlers call after they change a hash!'s cells.
#include "datatypes/hash.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/type_hooks.h"
#include "runtime/hashtab.h"
#include "runtime/typed_buffer.h"

namespace zem::hashes {

namespace {

// Above this many positions the index is rebuilt rather than kept up cell by cell (the table's
// own shift limit).
constexpr uint32_t kUpkeepLimit = 30000;

uint32_t buffer_length(const Cell& hash) { return block::buffer_length(hash.node()); }

void rebuild(const Cell& hash) { hashtab::clear(hash.hash_table(), buffer_length(hash)); }

// Indexes the positions [from, to); stops once the table rebuilt itself from the whole block.
void index_positions(NodeId table, uint32_t from, uint32_t to) {
  for (uint32_t p = from; p < to; p++)
    if (hashtab::insert(table, p) == 2) return;
}

// Types whose table hash agrees with find's equality, so that a look-up finds every equal value.
// Others (block kinds compared by content, pairs equal to points, tuples equal across lengths,
// money across currencies, dates across zones, objects...) are searched cell by cell.
bool indexed_type(TypeId t) {
  switch (t) {
    case TYPE_UNSET: case TYPE_NONE: case TYPE_LOGIC: case TYPE_INTEGER: case TYPE_CHAR:
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
    case TYPE_BINARY:
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
    case TYPE_ISSUE:
      return true;
    default:
      return false;
  }
}

// Under find's equality these word kinds match one another (issue! only itself).
constexpr TypeId kMatchingWordKinds[] = {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD,
                                         TYPE_REFINEMENT};

bool matching_word_kind(TypeId t) {
  return std::find(std::begin(kMatchingWordKinds), std::end(kMatchingWordKinds), t) !=
         std::end(kMatchingWordKinds);
}

int32_t scan(const Cell& hash, const Cell& value, CompareOp op, uint32_t from, uint32_t len) {
  for (uint32_t p = from; p < len; p++)
    if (block::cell_compare(*block::cell_at_index(hash, p), value, op) == 0) return static_cast<int32_t>(p);
  return -1;
}

}  // namespace

void new_index(Cell& hash) {
  uint32_t len = buffer_length(hash);
  hash.set_hash_table(hashtab::create(std::max<uint32_t>(len, 1), hash.node(), hashtab::KIND_HASH));
}

int32_t find(const Cell& hash, const Cell& value, CompareOp op) {
  NodeId table = hash.hash_table();
  uint32_t len = buffer_length(hash);
  uint32_t head = std::min(hash.head_index(), len);
  if (!table || !indexed_type(value.type())) return scan(hash, value, op, head, len);
  // Values equal under find share one bucket, a single position or a list of them in insertion
  // order: the answer is the least position at or after the head among the list's matches, and no
  // other bucket needs a walk.
  int64_t best = -1;
  auto consider = [&](int64_t p) {
    if (p >= head && p < len && (best < 0 || p < best)) best = p;
  };
  auto probe = [&](const Cell& key) {
    hashtab::FindState st;
    consider(hashtab::find(table, key, static_cast<uint32_t>(op), &st));
    if (!st.list) return;
    for (uint32_t i = st.next + 1, n = array::length(st.list); i <= n; i++) {
      uint32_t p = array::pick_u32(st.list, i);
      if (p >= len) continue;
      const Cell& cell = *block::cell_at_index(hash, p);
      if (cell.type() == key.type() && block::cell_compare(cell, key, op) == 0) consider(p);
    }
  };
  if (op == COMP_FIND && matching_word_kind(value.type())) {
    for (TypeId kind : kMatchingWordKinds) {
      Cell key = value;
      key.set_type(kind);
      probe(key);
    }
  } else {
    probe(value);
  }
  return static_cast<int32_t>(best);
}

void spliced(const Cell& hash, uint32_t at, uint32_t removed, uint32_t inserted) {
  NodeId table = hash.hash_table();
  if (!table || (removed == 0 && inserted == 0)) return;
  uint32_t len = buffer_length(hash);
  if (removed > kUpkeepLimit || inserted > kUpkeepLimit) return rebuild(hash);
  for (uint32_t p = at; p < at + removed; p++) hashtab::unindex_position(table, p);
  int32_t delta = static_cast<int32_t>(inserted) - static_cast<int32_t>(removed);
  uint32_t after = len > at + inserted ? len - at - inserted : 0;
  // Shifting walks every bucket: skipped when no position lies after the splice (appends).
  if (delta != 0 && after > 0 && hashtab::shift_index(table, delta, at + removed, after) != 0) return rebuild(hash);
  index_positions(table, at, std::min(at + inserted, len));
}

void changed(const Cell& hash, uint32_t at, uint32_t count) {
  NodeId table = hash.hash_table();
  if (!table || count == 0) return;
  if (count > kUpkeepLimit) return rebuild(hash);
  for (uint32_t p = at; p < at + count; p++) hashtab::unindex_position(table, p);
  index_positions(table, at, std::min(at + count, buffer_length(hash)));
}

namespace {

void moved(const Cell& hash, uint32_t from, uint32_t count, uint32_t to) {
  if (!hash.hash_table() || count == 0 || from == to) return;
  if (std::max(from, to) - std::min(from, to) + count > kUpkeepLimit) return rebuild(hash);
  hashtab::move_range(hash.hash_table(), from, to, count);
}

Cell* block_action(ActionIndex a, ActionCall& call) { return action_handler(TYPE_BLOCK, a)(call); }

// Copy: the whole series from a head at 0 shares nothing with its source but the index's layout,
// so the index is duplicated; any other copy is indexed afresh over its own cells.
Cell* copy_fn(ActionCall& call) {
  Cell source = call.result();
  bool whole = !call.has(series::COPY_PART) && !call.has(series::COPY_DEEP) && !call.has(series::COPY_TYPES);
  if (whole && source.head_index() == 0 && source.hash_table()) {
    Cell plain = source;
    plain.set_type(TYPE_BLOCK);
    Cell out = series::copy_range(plain, 0, buffer_length(source));
    out.set_type(TYPE_HASH);
    out.set_hash_table(hashtab::copy(source.hash_table(), out.node()));
    return series::answer(call, out);
  }
  Cell* out = block_action(ActionIndex::copy, call);
  // A deep copy replaced nested values after the copied cells were indexed.
  if (out->is(TYPE_HASH) && (call.has(series::COPY_DEEP) || call.has(series::COPY_TYPES))) new_index(*out);
  return out;
}

Cell* to_fn(ActionCall& call) {
  if (call.arg(1).is(TYPE_HASH)) {
    call.result() = call.arg(1);
    return copy_fn(call);
  }
  return block_action(ActionIndex::to, call);
}

Cell* make_fn(ActionCall& call) {
  const Cell& spec = call.arg(1);
  if (spec.is(TYPE_INTEGER) || spec.is(TYPE_FLOAT) || spec.is(TYPE_BLOCK))
    return block_action(ActionIndex::make, call);
  return to_fn(call);
}

int32_t mold_fn(const Cell& value, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit, int32_t indent) {
  if (!flags.only) {
    out.append_ascii("make hash! ");
    limit -= 11;
  }
  return mold_handler(TYPE_BLOCK)(value, out, flags, part, limit, indent);
}

}  // namespace

void register_type() {
  HandlerRow row(kInherit);
  row.set(ActionIndex::make, &make_fn)
      .set(ActionIndex::to, &to_fn)
      .set(ActionIndex::mold, &mold_fn)
      .set(ActionIndex::copy, &copy_fn);
  // Sort and trim are the block's: they report the reordered range through the hooks below. No
  // arithmetic and no port actions.
  for (int slot = static_cast<int>(ActionIndex::absolute); slot <= static_cast<int>(ActionIndex::write); slot++) {
    bool arithmetic = slot <= static_cast<int>(ActionIndex::xor_t);
    bool port = slot >= static_cast<int>(ActionIndex::create) && slot != static_cast<int>(ActionIndex::modify);
    if (arithmetic || port) row.set(static_cast<ActionIndex>(slot), kEmpty);
  }
  register_type(TYPE_HASH, TYPE_BLOCK, "hash!", row);

  FurtherTypeHooks& hooks = further_type_hooks();
  hooks.hash_inserted.fn = [](const Cell& h, uint32_t at, uint32_t n) { spliced(h, at, 0, n); };
  hooks.hash_removed.fn = [](const Cell& h, uint32_t at, uint32_t n) { spliced(h, at, n, 0); };
  hooks.hash_replaced.fn = &spliced;
  hooks.hash_changed.fn = &changed;
  hooks.hash_moved.fn = &moved;
  hooks.hash_new_index.fn = &new_index;
  hooks.hash_find.fn = &find;
}

}  // namespace zem::hashes
