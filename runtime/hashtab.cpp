// Hash tables kept in series: hashing keys, building, probing and updating the five table kinds.
#include "runtime/hashtab.h"

#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/murmur.h"
#include "runtime/typed_buffer.h"
#include "runtime/wiring.h"

namespace zem::hashtab {

HashState hash_state;

namespace {

uint32_t canonical_id(uint32_t symbol) {
  return wiring.canonical_symbol ? wiring.canonical_symbol(symbol) : symbol;
}

constexpr uint32_t kShiftLimit = 30000;

// ---- Hashes of cells ----------------------------------------------------------------------------

// Hash of n bytes of the cell starting at word w.
uint32_t hash_cell_bytes(const Cell& c, int w, uint32_t n) {
  return hash_bytes(reinterpret_cast<const uint8_t*>(&c) + w * 4, n);
}

bool is_word_kind(TypeId t) {
  return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD ||
         t == TYPE_REFINEMENT || t == TYPE_ISSUE;
}

// Map keys: word!, lit-word! and get-word! are looked up as the set-word! they are stored as.
Cell map_key(const Cell& key) {
  Cell k = key;
  TypeId t = key.type();
  if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD)
    k.set_type(TYPE_SET_WORD);
  return k;
}

// Equality when no compare action is installed: words by symbol, everything else by payload.
bool default_equal(const Cell& a, const Cell& b, uint32_t op) {
  if (is_word_kind(a.type())) {
    if (op == OP_SAME) return a.word_context() == b.word_context() && a.word_symbol() == b.word_symbol();
    if (op == OP_STRICT) return a.word_symbol() == b.word_symbol();
    return canonical_id(a.word_symbol()) == canonical_id(b.word_symbol());
  }
  return a.same_payload(b);
}

// Float kinds with -0.0 read as 0.0 in every component, so that both zeros hash and match alike.
Cell zero_normalized(const Cell& c) {
  Cell n = c;
  if (c.is(TYPE_POINT2D) || c.is(TYPE_POINT3D)) {
    auto fix = [](float f) { return f == 0.0f ? 0.0f : f; };
    n.set_point_xyz(fix(c.point_x()), fix(c.point_y()), fix(c.point_z()));
  } else if (n.float_low_word() == 0 && n.float_high_word() == 0x80000000u) {
    n.set_float_words(0, 0);
  }
  return n;
}

// Map keys of the float kinds match by exact value: nearly-equal is not transitive, so no hash
// could agree with it.
bool is_exact_map_key(TypeId t) {
  return t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME || t == TYPE_POINT2D || t == TYPE_POINT3D;
}

// Word tables compare symbols themselves; the other kinds use the installed equality.
bool keys_equal(const TableRecord* r, const Cell& stored, const Cell& key, uint32_t op) {
  if (stored.type() != key.type()) return false;
  if (r->kind == KIND_MAP && is_exact_map_key(key.type()))
    return zero_normalized(stored).same_payload(zero_normalized(key));
  if (r->kind == KIND_WORDS || !wiring.key_equal) return default_equal(stored, key, op);
  return wiring.key_equal(stored, key, op);
}

// ---- Table parts --------------------------------------------------------------------------------

uint8_t* flags_of(const TableRecord* r) { return series_head(r->flags); }
uint32_t* keys_of(const TableRecord* r) { return reinterpret_cast<uint32_t*>(series_head(r->keys)); }
Cell* cells_of(const TableRecord* r) { return block_head(r->data); }
uint32_t block_len(const TableRecord* r) { return series_length(r->data); }
int32_t* reverse_of(const TableRecord* r) { return reinterpret_cast<int32_t*>(series_head(r->aux1)); }
uint32_t reverse_len(const TableRecord* r) { return series_buffer(r->aux1)->used() / 4; }
// Duplicate list k (1-based).
NodeId list_node(const TableRecord* r, uint32_t k) { return array::pick_u32(r->aux2, k); }
// Kind-2 tables made with a last parameter of 1 (the symbol table) and map key tables keep each
// bucket's hash in aux2, so that walks and rebuilds need not reach the key cells.
bool keeps_hashes(const TableRecord* r) {
  return (r->kind == KIND_WORDS || r->kind == KIND_MAP) && r->aux2 != 0;
}
uint32_t* hashes_of(const TableRecord* r) { return reinterpret_cast<uint32_t*>(series_head(r->aux2)); }
RecordHead* record_at(const TableRecord* r, uint32_t offset) {
  return reinterpret_cast<RecordHead*>(series_head(r->data) + offset);
}

NodeId make_flags(uint32_t buckets) {
  uint32_t n = flag_bytes(buckets);
  NodeId f = alloc::make_bytes(n);
  SeriesBuffer* b = series_buffer(f);
  b->set_length(n);
  std::memset(b->head_ptr(), kFlagsEmptyByte, n);
  return f;
}

NodeId make_words(uint32_t n, uint8_t fill) {
  NodeId k = alloc::make_series(n, 4);
  SeriesBuffer* b = series_buffer(k);
  b->set_length(n);
  std::memset(b->head_ptr(), fill, size_t(n) * 4);
  return k;
}

void check_buckets(uint64_t buckets) {
  if (buckets > kMaxBuckets) fire(Err::internal_no_memory);
}

// The first cell of a kind-0 bucket's entry (the first position of its duplicate list).
int64_t entry_first_pos(const TableRecord* r, uint32_t v) {
  if (int32_t(v) >= 0) return v;
  NodeId list = list_node(r, -int32_t(v));
  return array::length(list) ? array::pick_u32(list, 1) : -1;
}

uint32_t entry_hash(const TableRecord* r, uint32_t v) {
  if (r->kind >= KIND_RECORDS) return hash_u32(record_at(r, v)->key);
  int64_t pos = r->kind == KIND_HASH ? entry_first_pos(r, v) : int64_t(v);
  return hash_value(cells_of(r)[pos]);
}

void set_reverse(NodeId table, uint32_t pos, int32_t bucket) {
  TableRecord* r = record(table);
  uint32_t old_len = reverse_len(r);
  if (pos >= old_len) {
    uint64_t n = (uint64_t(pos) + 1) * 2;
    SeriesBuffer* b = alloc::expand_copy(r->aux1, int64_t(n) * 4);
    std::memset(b->head_ptr() + size_t(old_len) * 4, 0xFF, size_t(n - old_len) * 4);
    b->set_length(static_cast<uint32_t>(n));
    r = record(table);
  }
  reverse_of(r)[pos] = bucket;
}

// Rebuilds kinds 1-4 into new flags and keys for `s` (kinds 3 and 4 also compact their records
// into a new data block, so removed records do not pile up).
void rebuild(NodeId table, Sizing s) {
  TableRecord* r = record(table);
  check_buckets(s.buckets);
  NodeId nf = make_flags(s.buckets);
  NodeId nk = make_words(s.buckets, 0);
  NodeId nh = keeps_hashes(r) ? make_words(s.buckets, 0) : 0;
  NodeId nd = 0;
  uint32_t rec_size = r->aux1;
  if (r->kind >= KIND_RECORDS) nd = alloc::make_series(int64_t(r->count + 1) * rec_size / 16, 16);
  uint8_t* of = flags_of(r);
  uint32_t* ok = keys_of(r);
  uint8_t* f = series_head(nf);
  uint32_t* k = reinterpret_cast<uint32_t*>(series_head(nk));
  uint32_t* oh = nh ? hashes_of(r) : nullptr;
  uint32_t* h = nh ? reinterpret_cast<uint32_t*>(series_head(nh)) : nullptr;
  uint32_t placed = 0;
  for (uint32_t i = 0; i < r->buckets; i++) {
    if (!bucket_live(of, i)) continue;
    uint32_t v = ok[i];
    uint32_t hash = oh ? oh[i] : entry_hash(r, v);
    Probe p(hash, s.buckets);
    while (!bucket_empty(f, p.bucket())) p.next();
    uint32_t b = p.bucket();
    set_bucket_live(f, b);
    if (h) h[b] = hash;
    if (nd) {
      SeriesBuffer* db = series_buffer(nd);
      std::memcpy(db->tail_ptr(), record_at(r, v), rec_size);
      k[b] = db->used();
      db->tail += rec_size;
    } else {
      k[b] = v;
    }
    placed++;
  }
  r->flags = nf;
  r->keys = nk;
  if (nd) r->data = nd;
  if (nh) r->aux2 = nh;
  r->buckets = s.buckets;
  r->bound = s.bound;
  r->used = placed;
}

void index_block(NodeId table);

// Empties a table to the given size, then indexes its block again (kinds 0-2).
void empty_to(NodeId table, Sizing s) {
  check_buckets(s.buckets);
  TableRecord* r = record(table);
  if (s.buckets == r->buckets) {
    fill_flags_empty(flags_of(r), r->buckets);
    std::memset(keys_of(r), 0, size_t(r->buckets) * 4);
  } else {
    NodeId nf = make_flags(s.buckets);
    NodeId nk = make_words(s.buckets, 0);
    NodeId nh = keeps_hashes(r) ? make_words(s.buckets, 0) : 0;
    r = record(table);
    r->flags = nf;
    r->keys = nk;
    if (nh) r->aux2 = nh;
  }
  r->buckets = s.buckets;
  r->bound = s.bound;
  r->count = 0;
  r->used = 0;
  if (r->kind == KIND_HASH) {
    std::memset(reverse_of(r), 0xFF, size_t(reverse_len(r)) * 4);
    array::clear(r->aux2);
  }
  if (r->kind >= KIND_RECORDS)
    series_buffer(r->data)->set_length(0);
  else
    index_block(table);
}

// Kind 0 grows by re-indexing its whole block.
void rebuild_hash_index(NodeId table) {
  TableRecord* r = record(table);
  empty_to(table, sizing_for_clear(block_len(r)));
}

// Grows (or rebuilds at the same size, dropping deleted buckets) when used reached the bound.
// Answers true for a kind-0 table, which was re-indexed from its block.
bool grow(NodeId table) {
  TableRecord* r = record(table);
  if (r->used < r->bound) return false;
  if (r->kind == KIND_HASH) {
    rebuild_hash_index(table);
    return true;
  }
  uint64_t target = grow_target(r->count, r->buckets, r->kind == KIND_MAP);
  if (r->kind >= KIND_RECORDS) {
    Sizing s = sizing_for_records(target);
    if (r->count < s.bound) rebuild(table, s);
  } else {
    Sizing s = sizing_for_resize(target);
    if (r->count < s.bound) rebuild(table, s);
  }
  return false;
}

// Stores a value in a bucket found free by a walk: empty (used grows) or deleted.
void take_bucket(TableRecord* r, uint32_t b, uint32_t v, uint32_t hash) {
  if (keeps_hashes(r)) hashes_of(r)[b] = hash;
  uint8_t* f = flags_of(r);
  if (bucket_empty(f, b)) r->used++;
  set_bucket_live(f, b);
  keys_of(r)[b] = v;
  r->count++;
}

// Insertion into kinds 0-2 without the growth check.
void insert_at(NodeId table, uint32_t pos) {
  TableRecord* r = record(table);
  if (r->kind == KIND_HASH && pos < reverse_len(r) && reverse_of(r)[pos] >= 0) return;  // already indexed
  Cell key = cells_of(r)[pos];
  if (r->kind == KIND_MAP) key = map_key(key);
  uint8_t* f = flags_of(r);
  uint32_t* k = keys_of(r);
  uint32_t hash = hash_value(key);
  Probe p(hash, r->buckets);
  int64_t deleted = -1;
  int64_t target = -1;
  do {
    uint32_t b = p.bucket();
    if (bucket_empty(f, b)) {
      target = b;
      break;
    }
    if (bucket_deleted(f, b)) {
      if (deleted < 0) deleted = b;
      continue;
    }
    uint32_t v = k[b];
    if (keeps_hashes(r) && hashes_of(r)[b] != hash) continue;
    if (r->kind == KIND_HASH) {
      int64_t first = entry_first_pos(r, v);
      if (first < 0 || !keys_equal(r, cells_of(r)[first], key, OP_FIND)) continue;
      // An equal key: the position joins the bucket's duplicate list.
      if (int32_t(v) >= 0) {
        NodeId list = array::make(4, 4);
        array::append_u32(list, v);
        array::append_u32(list, pos);
        r = record(table);
        array::append_u32(r->aux2, list);
        keys_of(r)[b] = uint32_t(-int32_t(array::length(r->aux2)));
      } else {
        array::append_u32(list_node(r, -int32_t(v)), pos);
      }
      set_reverse(table, pos, int32_t(b));
      return;
    }
    const Cell& stored = cells_of(r)[v];
    if (v == pos) return;  // already indexed
    if (keys_equal(r, r->kind == KIND_MAP ? map_key(stored) : stored, key, OP_STRICT))
      return;  // an equal key keeps its stored position
  } while (p.next());
  if (deleted >= 0) target = deleted;
  if (target < 0) fire(Err::internal_no_memory);  // full: never overwrite a live bucket
  take_bucket(r, uint32_t(target), pos, hash);
  if (r->kind == KIND_HASH) set_reverse(table, pos, int32_t(target));
}

void index_block(NodeId table) {
  TableRecord* r = record(table);
  uint32_t step = r->kind == KIND_MAP ? 2 : 1;
  for (uint32_t pos = 0, n = block_len(r); pos < n; pos += step) insert_at(table, pos);
}

// Walks on from the state's bucket to the next key equal under the state's op; `pos_out` receives
// its position. In a kind-0 duplicate list the state is left to continue through the list.
bool walk_to_match(FindState& st, int64_t& pos_out) {
  TableRecord* r = record(st.table);
  uint8_t* f = flags_of(r);
  uint32_t* k = keys_of(r);
  do {
    uint32_t b = st.probe.bucket();
    if (bucket_empty(f, b)) return false;
    if (bucket_deleted(f, b)) continue;
    uint32_t v = k[b];
    if (r->kind == KIND_HASH && int32_t(v) < 0) {
      NodeId list = list_node(r, -int32_t(v));
      uint32_t n = array::length(list);
      if (n == 0 || !keys_equal(r, cells_of(r)[array::pick_u32(list, 1)], st.key, OP_FIND)) continue;
      for (uint32_t i = 0; i < n; i++) {
        uint32_t pos = array::pick_u32(list, i + 1);
        if (keys_equal(r, cells_of(r)[pos], st.key, st.op)) {
          st.list = list;
          st.next = i + 1;
          pos_out = pos;
          return true;
        }
      }
      continue;
    }
    if (keeps_hashes(r) && hashes_of(r)[b] != st.hash) continue;
    const Cell& stored = r->kind == KIND_MAP ? map_key(cells_of(r)[v]) : cells_of(r)[v];
    if (keys_equal(r, stored, st.key, st.op)) {
      st.list = 0;
      pos_out = v;
      return true;
    }
  } while (st.probe.next());
  return false;
}

int64_t advance(FindState& st) {
  int64_t pos = -1;
  if (st.done) return -1;
  if (st.list) {
    TableRecord* r = record(st.table);
    for (uint32_t n = array::length(st.list); st.next < n; st.next++) {
      uint32_t p = array::pick_u32(st.list, st.next + 1);
      if (keys_equal(r, cells_of(r)[p], st.key, st.op)) {
        st.next++;
        return p;
      }
    }
    st.list = 0;
  }
  if (!st.probe.next() || !walk_to_match(st, pos)) {
    st.done = true;
    return -1;
  }
  return pos;
}

// The bucket holding the record of `key`, or -1.
int64_t find_record_bucket(const TableRecord* r, NodeId key) {
  const uint8_t* f = flags_of(r);
  const uint32_t* k = keys_of(r);
  Probe p(hash_u32(key), r->buckets);
  do {
    uint32_t b = p.bucket();
    if (bucket_empty(f, b)) return -1;
    if (bucket_live(f, b) && record_at(r, k[b])->key == key) return b;
  } while (p.next());
  return -1;
}

bool ascii_equal_nocase(const uint8_t* a, const uint8_t* b, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    uint8_t x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

Cell* record_data(const TableRecord* r, uint32_t offset) { return reinterpret_cast<Cell*>(record_at(r, offset) + 1); }

}  // namespace

// ---- Hashes -------------------------------------------------------------------------------------

void init(uint32_t seed) {
  hash_state.seed = seed;
  gc::set_hashtab_scan(&scan);
}

uint32_t hash_bytes(const void* data, uint32_t len) { return murmur::hash_bytes(data, len, hash_state.seed); }
uint32_t hash_u32(uint32_t x) { return murmur::fmix32(x); }

uint32_t hash_name(const uint8_t* bytes, uint32_t len) {
  murmur::Hasher h(hash_state.seed);
  auto lower = [](uint8_t c) -> uint32_t { return (c >= 'A' && c <= 'Z') ? c + 32u : c; };
  uint32_t i = 0;
  for (; i + 4 <= len; i += 4)
    h.block(lower(bytes[i]) | lower(bytes[i + 1]) << 8 | lower(bytes[i + 2]) << 16 | lower(bytes[i + 3]) << 24);
  uint32_t k = 0;
  for (uint32_t j = 0; i + j < len; j++) k |= lower(bytes[i + j]) << (8 * j);
  if (len & 3) h.tail(k);
  return h.finish(len);
}

uint32_t hash_value(const Cell& c, bool case_sensitive) {
  switch (c.type()) {
    case TYPE_UNSET:
      return uint32_t(-2);
    case TYPE_NONE:
      return uint32_t(-1);
    case TYPE_DATATYPE:
    case TYPE_LOGIC:
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_PORT:
      return hash_u32(c.raw_words()[0]);
    case TYPE_INTEGER:
    case TYPE_CHAR:
    case TYPE_MAP:
    case TYPE_HANDLE:
    case TYPE_EVENT:
      return hash_u32(c.raw_words()[1]);
    case TYPE_NATIVE:
    case TYPE_ACTION:
      return hash_u32(c.fn_more());
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE:
      return hash_u32(canonical_id(c.word_symbol()));
    case TYPE_SYMBOL: {
      SeriesBuffer* b = series_buffer(c.symbol_utf8());
      return hash_name(b->head_ptr(), b->used());
    }
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
      return hash_string(c, case_sensitive);
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:  // -0.0 equals 0.0: both hash as 0.0
      return hash_cell_bytes(zero_normalized(c), 2, 8);
    case TYPE_PAIR:
      return hash_cell_bytes(c, 2, 8);
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
    case TYPE_HASH:
    case TYPE_IMAGE:
      return hash_cell_bytes(c, 1, 8);
    case TYPE_POINT2D:
      return hash_cell_bytes(zero_normalized(c), 1, 8);
    case TYPE_POINT3D:
      return hash_cell_bytes(zero_normalized(c), 1, 12);
    case TYPE_OP:
    case TYPE_FUNCTION:
    case TYPE_TRIPLE:
    case TYPE_TYPESET:
    case TYPE_DATE:
      return hash_cell_bytes(c, 1, 12);
    case TYPE_TUPLE: {
      uint32_t len = c.tuple_count();
      return hash_cell_bytes(c, 1, len > 12 ? 12 : len);
    }
    case TYPE_BINARY: {
      if (!c.node()) return 0;
      SeriesBuffer* b = series_buffer(c.node());
      uint32_t len = b->used();
      uint32_t at = c.head_index() < len ? c.head_index() : len;
      return hash_bytes(b->head_ptr() + at, len - at);
    }
    case TYPE_MONEY: {
      Cell m = c;
      m.header &= kTypeMask | kMoneySign;  // the type and the sign
      return hash_cell_bytes(m, 0, 16);
    }
    default:
      return 0;
  }
}

// ---- Tables -------------------------------------------------------------------------------------

TableRecord* record(NodeId table) { return reinterpret_cast<TableRecord*>(series_head(table)); }

NodeId create(uint32_t size, NodeId block, Kind kind, uint32_t record_cells) {
  uint64_t n = size;
  if (kind == KIND_WORDS && n >= 4000) n *= 2;
  Sizing s = sizing_for_create(n);
  check_buckets(s.buckets);
  NodeId table = alloc::make_bytes(sizeof(TableRecord));
  series_buffer(table)->set_length(sizeof(TableRecord));
  NodeId flags = make_flags(s.buckets);
  NodeId keys = make_words(s.buckets, 0);
  TableRecord rec{};
  rec.flags = flags;
  rec.keys = keys;
  rec.buckets = s.buckets;
  rec.bound = s.bound;
  rec.kind = kind;
  if (kind >= KIND_RECORDS) {
    rec.aux1 = 16 * (record_cells + 1);
    rec.data = alloc::make_series(int64_t(size < 4 ? 4 : size) * (record_cells + 1), 16);
  } else {
    rec.data = block ? block : alloc::make_cells(size < 1 ? 1 : size);
    if (kind == KIND_HASH) {
      rec.aux1 = make_words(size < 1 ? 1 : size, 0xFF);
      rec.aux2 = array::make(4, 4);
    } else if ((kind == KIND_WORDS && record_cells == 1) || kind == KIND_MAP) {
      rec.aux2 = make_words(s.buckets, 0);
    }
  }
  *record(table) = rec;
  if (kind < KIND_RECORDS) index_block(table);
  return table;
}

int insert(NodeId table, uint32_t pos) {
  if (grow(table)) return 2;
  insert_at(table, pos);
  return 0;
}

int64_t find(NodeId table, const Cell& key, uint32_t op, FindState* state) {
  FindState local;
  FindState& st = state ? *state : local;
  TableRecord* r = record(table);
  st.table = table;
  st.key = r->kind == KIND_MAP ? map_key(key) : key;
  st.op = op;
  st.hash = hash_value(st.key);
  st.probe = Probe(st.hash, r->buckets);
  st.list = 0;
  st.next = 0;
  st.done = false;
  int64_t pos = -1;
  if (!walk_to_match(st, pos)) {
    st.done = true;
    return -1;
  }
  return pos;
}

int64_t find_next(FindState& st) { return advance(st); }

bool grow_if_full(NodeId table) { return grow(table); }

bool remove_key(NodeId table, const Cell& key, uint32_t op) {
  TableRecord* r = record(table);
  FindState st;
  int64_t pos = find(table, key, op, &st);
  if (pos < 0) return false;
  switch (r->kind) {
    case KIND_HASH: {
      std::vector<uint32_t> found;
      for (; pos >= 0; pos = find_next(st)) found.push_back(uint32_t(pos));
      for (uint32_t p : found) unindex_position(table, p);
      return true;
    }
    case KIND_MAP: {
      if (uint64_t(pos) + 1 >= block_len(r)) return false;  // a key without its value cell
      Cell& value = cells_of(r)[pos + 1];
      if (value.type() == TYPE_NONE_ID) return false;  // already removed
      value.header = TYPE_NONE_ID;
      r->count--;
      return true;
    }
    default:
      set_bucket_deleted(flags_of(r), st.probe.bucket());
      r->count--;
      return true;
  }
}

int64_t find_word(NodeId table, uint32_t sym, bool case_insensitive) {
  TableRecord* r = record(table);
  uint32_t canon = canonical_id(sym);
  const uint8_t* f = flags_of(r);
  const uint32_t* k = keys_of(r);
  Probe p(hash_u32(canon), r->buckets);
  do {
    uint32_t b = p.bucket();
    if (bucket_empty(f, b)) return -1;
    if (!bucket_live(f, b)) continue;
    uint32_t stored = cells_of(r)[k[b]].word_symbol();
    if (case_insensitive ? canonical_id(stored) == canon : stored == sym) return k[b];
  } while (p.next());
  return -1;
}

int64_t find_string(NodeId table, const uint8_t* bytes, uint32_t len, uint32_t hash, bool case_insensitive,
                    uint32_t* end_bucket, int64_t* variant) {
  TableRecord* r = record(table);
  const uint8_t* f = flags_of(r);
  const uint32_t* k = keys_of(r);
  const uint32_t* h = keeps_hashes(r) ? hashes_of(r) : nullptr;
  Probe p(hash, r->buckets);
  *end_bucket = kNoBucket;
  if (variant) *variant = -1;
  do {
    uint32_t b = p.bucket();
    if (bucket_empty(f, b)) {
      *end_bucket = b;
      return -1;
    }
    if (!bucket_live(f, b) || (h && h[b] != hash)) continue;
    const SeriesBuffer* name = series_buffer(cells_of(r)[k[b]].symbol_utf8());
    if (name->used() != len) continue;
    const uint8_t* s = name->head_ptr();
    if (case_insensitive) {
      if (ascii_equal_nocase(s, bytes, len)) return k[b];
    } else if (std::memcmp(s, bytes, len) == 0) {
      return k[b];
    } else if (variant && *variant < 0 && ascii_equal_nocase(s, bytes, len)) {
      *variant = k[b];
    }
  } while (p.next());
  return -1;
}

void add_at_bucket(NodeId table, uint32_t bucket, uint32_t pos, uint32_t hash) {
  TableRecord* r = record(table);
  if (bucket >= r->buckets || !bucket_empty(flags_of(r), bucket)) fire(Err::internal_no_memory);
  take_bucket(r, bucket, pos, hash);
}

Cell* put_ptr_record(NodeId table, NodeId key) {
  grow(table);
  TableRecord* r = record(table);
  uint8_t* f = flags_of(r);
  uint32_t* k = keys_of(r);
  Probe p(hash_u32(key), r->buckets);
  int64_t deleted = -1;
  int64_t target = -1;
  do {
    uint32_t b = p.bucket();
    if (bucket_empty(f, b)) {
      target = b;
      break;
    }
    if (bucket_deleted(f, b)) {
      if (deleted < 0) deleted = b;
    } else if (record_at(r, k[b])->key == key) {
      return record_data(r, k[b]);
    }
  } while (p.next());
  uint32_t size = r->aux1;
  uint32_t offset;
  if (deleted >= 0) {
    // A deleted bucket still names the removed record it held: the new record takes its place.
    target = deleted;
    offset = k[deleted];
  } else {
    if (target < 0) fire(Err::internal_no_memory);
    uint8_t* at = array::alloc_tail_bytes(r->data, size);
    r = record(table);
    offset = static_cast<uint32_t>(at - series_head(r->data));
  }
  auto* head = record_at(r, offset);
  *head = RecordHead{kRecordLive, key, 0, 0};
  Cell* cells = reinterpret_cast<Cell*>(head + 1);
  for (uint32_t i = 0; i < size / 16 - 1; i++) cells[i] = Cell{TYPE_UNSET, 0, 0, 0};
  take_bucket(r, uint32_t(target), offset, 0);
  return cells;
}

Cell* find_ptr(NodeId table, NodeId key) {
  TableRecord* r = record(table);
  int64_t b = find_record_bucket(r, key);
  return b < 0 ? nullptr : record_data(r, keys_of(r)[b]);
}

Cell* remove_ptr_record(NodeId table, NodeId key) {
  TableRecord* r = record(table);
  int64_t b = find_record_bucket(r, key);
  if (b < 0) return nullptr;
  set_bucket_deleted(flags_of(r), uint32_t(b));
  r->count--;
  RecordHead* head = record_at(r, keys_of(r)[b]);
  head->state = 0;
  return reinterpret_cast<Cell*>(head + 1);
}

void clear(NodeId table, uint32_t n) { empty_to(table, sizing_for_clear(n)); }

void reset(NodeId table) {
  TableRecord* r = record(table);
  r->count = 0;
  r->used = 0;
  std::memset(keys_of(r), 0, size_t(r->buckets) * 4);
  fill_flags_empty(flags_of(r), r->buckets);
  if (r->kind == KIND_HASH) {
    std::memset(reverse_of(r), 0xFF, size_t(reverse_len(r)) * 4);
    array::clear(r->aux2);
  }
  if (r->kind >= KIND_RECORDS) series_buffer(r->data)->set_length(0);
}

NodeId copy(NodeId table, NodeId block) {
  NodeId t = alloc::copy_series(table);
  TableRecord* src = record(table);
  TableRecord rec = *src;
  rec.flags = alloc::copy_series(src->flags);
  rec.keys = alloc::copy_series(src->keys);
  rec.data = block && src->kind < KIND_RECORDS ? block : alloc::copy_series(src->data);
  if (keeps_hashes(src)) rec.aux2 = alloc::copy_series(src->aux2);
  if (src->kind == KIND_HASH) {
    rec.aux1 = alloc::copy_series(src->aux1);
    rec.aux2 = alloc::copy_series(src->aux2);
    for (uint32_t i = 1, n = array::length(rec.aux2); i <= n; i++)
      array::poke_u32(rec.aux2, i, alloc::copy_series(array::pick_u32(rec.aux2, i)));
  }
  *record(t) = rec;
  return t;
}

// ---- Kind-0 upkeep ------------------------------------------------------------------------------

void unindex_position(NodeId table, uint32_t pos) {
  TableRecord* r = record(table);
  if (pos >= reverse_len(r)) return;
  int32_t b = reverse_of(r)[pos];
  if (b < 0) return;
  reverse_of(r)[pos] = -1;
  uint32_t v = keys_of(r)[b];
  if (int32_t(v) < 0) {
    NodeId list = list_node(r, -int32_t(v));
    array::remove_u32(list, pos);
    if (array::length(list) > 0) return;
  } else if (v != pos) {
    return;
  }
  set_bucket_deleted(flags_of(r), uint32_t(b));
  r->count--;
}

int shift_index(NodeId table, int32_t delta, uint32_t first, uint32_t count) {
  if (count > kShiftLimit) return 1;
  if (delta == 0) return 0;
  TableRecord* r = record(table);
  if (delta < 0) {
    uint32_t from = uint32_t(-delta) > first ? 0 : first + delta;
    for (uint32_t p = from; p < first; p++) unindex_position(table, p);
  }
  auto moved = [&](uint32_t p) { return p >= first ? uint32_t(int64_t(p) + delta) : p; };
  uint8_t* f = flags_of(r);
  uint32_t* k = keys_of(r);
  for (uint32_t b = 0; b < r->buckets; b++)
    if (bucket_live(f, b) && int32_t(k[b]) >= 0) k[b] = moved(k[b]);
  // Each list belongs to one bucket, so walking the list buffer visits every list once.
  for (uint32_t i = 1, n = array::length(r->aux2); i <= n; i++) {
    NodeId list = list_node(r, i);
    for (uint32_t j = 1, m = array::length(list); j <= m; j++) array::poke_u32(list, j, moved(array::pick_u32(list, j)));
  }
  uint32_t len = reverse_len(r);
  if (delta > 0) {
    // Only the stretch up to the last indexed position moves (entries beyond it are all -1).
    const int32_t* rev0 = reverse_of(r);
    while (len > first && rev0[len - 1] < 0) len--;
    if (first >= len) return 0;
    set_reverse(table, len - 1 + uint32_t(delta), -1);  // grows the reverse index when needed
    r = record(table);
    int32_t* rev = reverse_of(r);
    std::memmove(rev + first + delta, rev + first, size_t(len - first) * 4);
    for (uint32_t p = first; p < first + uint32_t(delta); p++) rev[p] = -1;
  } else if (first < len) {
    int32_t* rev = reverse_of(r);
    uint32_t to = uint32_t(-delta) > first ? 0 : first + delta;
    std::memmove(rev + to, rev + first, size_t(len - first) * 4);
    for (uint32_t p = len - (first - to); p < len; p++) rev[p] = -1;
  }
  return 0;
}

void remove_range(NodeId table, uint32_t pos, uint32_t n) {
  TableRecord* r = record(table);
  uint32_t len = block_len(r);
  if (pos >= len || n == 0) return;
  if (n > len - pos) n = len - pos;
  bool rebuild_after = shift_index(table, -int32_t(n), pos + n, len - pos) != 0;
  r = record(table);
  SeriesBuffer* b = series_buffer(r->data);
  Cell* cells = b->cells_head();
  std::memmove(cells + pos, cells + pos + n, size_t(len - pos - n) * sizeof(Cell));
  b->set_length(len - n);
  if (rebuild_after) clear(table, len - n);
}

void move_range(NodeId table, uint32_t from, uint32_t to, uint32_t n) {
  uint32_t lo = from < to ? from : to;
  uint32_t hi = (from < to ? to : from) + n;
  uint32_t len = block_len(record(table));
  if (hi > len) hi = len;
  for (uint32_t p = lo; p < hi; p++) unindex_position(table, p);
  for (uint32_t p = lo; p < hi; p++)
    if (insert(table, p) == 2) return;
}

// ---- Collector ----------------------------------------------------------------------------------

void scan(NodeId table) {
  TableRecord* r = record(table);
  gc::mark_node(r->flags);
  gc::mark_node(r->keys);
  switch (r->kind) {
    case KIND_HASH:
      gc::mark_block(r->data);
      gc::mark_node(r->aux1);
      gc::mark_node(r->aux2);
      for (uint32_t i = 1, n = array::length(r->aux2); i <= n; i++) gc::mark_node(list_node(r, i));
      break;
    case KIND_MAP:
    case KIND_WORDS:
      gc::mark_node(r->aux2);
      gc::mark_block(r->data);
      break;
    case KIND_RECORDS: {
      gc::mark_node(r->data);
      const uint8_t* f = flags_of(r);
      uint32_t cells = r->aux1 / 16 - 1;
      for (uint32_t b = 0; b < r->buckets; b++) {
        if (!bucket_live(f, b)) continue;
        RecordHead* head = record_at(r, keys_of(r)[b]);
        if (series_buffer(head->key)->unit() == 16)
          gc::mark_block(head->key);
        else
          gc::mark_node(head->key);
        gc::mark_node(head->owner);
        Cell* data = reinterpret_cast<Cell*>(head + 1);
        gc::mark_values(data, data + cells);
      }
      break;
    }
    default:  // owner records are weak: purge_dead_records keeps the live ones
      gc::mark_node(r->data);
      break;
  }
}

void purge_dead_records(NodeId table) {
  TableRecord* r = record(table);
  uint8_t* f = flags_of(r);
  uint32_t cells = r->aux1 / 16 - 1;
  for (uint32_t b = 0; b < r->buckets; b++) {
    if (!bucket_live(f, b)) continue;
    RecordHead* head = record_at(r, keys_of(r)[b]);
    if (gc::is_marked(head->key) && (head->owner == 0 || gc::is_marked(head->owner))) {
      Cell* data = reinterpret_cast<Cell*>(head + 1);
      gc::mark_values(data, data + cells);
      continue;
    }
    set_bucket_deleted(f, b);
    r->count--;
    head->state = 0;
    head->key = 0;
  }
}

}  // namespace zem::hashtab
