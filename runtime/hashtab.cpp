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

// A bucket holds the key's tag beside its entry (a position, a duplicate list, a record offset).
// Tag 0: empty; 1: deleted (the entry stays: put_ptr_record reuses a removed record's place); else
// live, the key's hash with 0 and 1 moved to 2 and 3. Walks start from the tag and pass buckets of
// another tag without reading their cells; rebuilds place buckets by tag without hashing again.
struct Bucket {
  uint32_t tag;
  uint32_t v;
};
static_assert(sizeof(Bucket) == 8, "two 32-bit words");
constexpr uint32_t kTagEmpty = 0;
constexpr uint32_t kTagDeleted = 1;
inline uint32_t tag_of(uint32_t hash) { return hash < 2 ? hash + 2 : hash; }
inline bool live(const Bucket& b) { return b.tag > kTagDeleted; }

Bucket* buckets_of(const TableRecord* r) { return reinterpret_cast<Bucket*>(series_head(r->keys)); }
Cell* cells_of(const TableRecord* r) { return block_head(r->data); }
uint32_t block_len(const TableRecord* r) { return series_length(r->data); }
int32_t* reverse_of(const TableRecord* r) { return reinterpret_cast<int32_t*>(series_head(r->aux1)); }
uint32_t reverse_len(const TableRecord* r) { return series_buffer(r->aux1)->used() / 4; }
// Duplicate list k (1-based).
NodeId list_node(const TableRecord* r, uint32_t k) { return array::pick_u32(r->aux2, k); }
RecordHead* record_at(const TableRecord* r, uint32_t offset) {
  return reinterpret_cast<RecordHead*>(series_head(r->data) + offset);
}

NodeId make_words(uint32_t n, uint8_t fill) {
  NodeId k = alloc::make_series(n, 4);
  SeriesBuffer* b = series_buffer(k);
  b->set_length(n);
  std::memset(b->head_ptr(), fill, size_t(n) * 4);
  return k;
}

// Every bucket empty.
NodeId make_buckets(uint32_t buckets) { return make_words(buckets * 2, 0); }

void check_buckets(uint64_t buckets) {
  if (buckets > kMaxBuckets) fire(Err::internal_no_memory);
}

// The first cell of a kind-0 bucket's entry (the first position of its duplicate list).
int64_t entry_first_pos(const TableRecord* r, uint32_t v) {
  if (int32_t(v) >= 0) return v;
  NodeId list = list_node(r, -int32_t(v));
  return array::length(list) ? array::pick_u32(list, 1) : -1;
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
  NodeId nk = make_buckets(s.buckets);
  NodeId nd = 0;
  uint32_t rec_size = r->aux1;
  if (r->kind >= KIND_RECORDS) nd = alloc::make_series(int64_t(r->count + 1) * rec_size / 16, 16);
  const Bucket* old = buckets_of(r);
  Bucket* k = reinterpret_cast<Bucket*>(series_head(nk));
  uint32_t placed = 0;
  for (uint32_t i = 0; i < r->buckets; i++) {
    if (!live(old[i])) continue;
    Probe p(old[i].tag, s.buckets);
    while (k[p.bucket()].tag != kTagEmpty) p.next();
    Bucket& b = k[p.bucket()];
    b.tag = old[i].tag;
    if (nd) {
      SeriesBuffer* db = series_buffer(nd);
      std::memcpy(db->tail_ptr(), record_at(r, old[i].v), rec_size);
      b.v = db->used();
      db->tail += rec_size;
    } else {
      b.v = old[i].v;
    }
    placed++;
  }
  r->keys = nk;
  if (nd) r->data = nd;
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
    std::memset(buckets_of(r), 0, size_t(r->buckets) * sizeof(Bucket));
  } else {
    NodeId nk = make_buckets(s.buckets);
    r = record(table);
    r->keys = nk;
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
  Bucket& bucket = buckets_of(r)[b];
  if (bucket.tag == kTagEmpty) r->used++;
  bucket.tag = tag_of(hash);
  bucket.v = v;
  r->count++;
}

// Insertion into kinds 0-2 without the growth check.
void insert_at(NodeId table, uint32_t pos) {
  TableRecord* r = record(table);
  if (r->kind == KIND_HASH && pos < reverse_len(r) && reverse_of(r)[pos] >= 0) return;  // already indexed
  Cell key = cells_of(r)[pos];
  if (r->kind == KIND_MAP) key = map_key(key);
  uint32_t hash = tag_of(hash_value(key));
  Probe p(hash, r->buckets);
  int64_t deleted = -1;
  int64_t target = -1;
  do {
    uint32_t b = p.bucket();
    const Bucket bucket = buckets_of(r)[b];
    if (bucket.tag == kTagEmpty) {
      target = b;
      break;
    }
    if (bucket.tag == kTagDeleted) {
      if (deleted < 0) deleted = b;
      continue;
    }
    if (bucket.tag != hash) continue;
    uint32_t v = bucket.v;
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
        buckets_of(r)[b].v = uint32_t(-int32_t(array::length(r->aux2)));
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
  const Bucket* k = buckets_of(r);
  do {
    const Bucket& bucket = k[st.probe.bucket()];
    if (bucket.tag != st.hash) {
      if (bucket.tag == kTagEmpty) return false;
      continue;
    }
    uint32_t v = bucket.v;
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
  const Bucket* k = buckets_of(r);
  uint32_t tag = tag_of(hash_u32(key));
  Probe p(tag, r->buckets);
  do {
    const Bucket& b = k[p.bucket()];
    if (b.tag == kTagEmpty) return -1;
    if (b.tag == tag && record_at(r, b.v)->key == key) return p.bucket();
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
    case TYPE_CHAR: {
      // Sixteen consecutive values start from sixteen neighbouring buckets: runs of keys share cache
      // lines; the runs themselves scatter as any hash.
      uint32_t x = c.raw_words()[1];
      return hash_u32(x >> 4) << 4 | (x & 15);
    }
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
  NodeId keys = make_buckets(s.buckets);
  TableRecord rec{};
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
  st.hash = tag_of(hash_value(st.key));
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
      buckets_of(r)[st.probe.bucket()].tag = kTagDeleted;
      r->count--;
      return true;
  }
}

int64_t find_word(NodeId table, uint32_t sym, bool case_insensitive) {
  TableRecord* r = record(table);
  uint32_t canon = canonical_id(sym);
  const Bucket* k = buckets_of(r);
  uint32_t tag = tag_of(hash_u32(canon));
  Probe p(tag, r->buckets);
  do {
    const Bucket& b = k[p.bucket()];
    if (b.tag != tag) {
      if (b.tag == kTagEmpty) return -1;
      continue;
    }
    uint32_t stored = cells_of(r)[b.v].word_symbol();
    if (case_insensitive ? canonical_id(stored) == canon : stored == sym) return b.v;
  } while (p.next());
  return -1;
}

int64_t find_string(NodeId table, const uint8_t* bytes, uint32_t len, uint32_t hash, bool case_insensitive,
                    uint32_t* end_bucket, int64_t* variant) {
  TableRecord* r = record(table);
  const Bucket* k = buckets_of(r);
  uint32_t tag = tag_of(hash);
  Probe p(tag, r->buckets);
  *end_bucket = kNoBucket;
  if (variant) *variant = -1;
  do {
    uint32_t b = p.bucket();
    if (k[b].tag != tag) {
      if (k[b].tag == kTagEmpty) {
        *end_bucket = b;
        return -1;
      }
      continue;
    }
    uint32_t v = k[b].v;
    const SeriesBuffer* name = series_buffer(cells_of(r)[v].symbol_utf8());
    if (name->used() != len) continue;
    const uint8_t* s = name->head_ptr();
    if (case_insensitive) {
      if (ascii_equal_nocase(s, bytes, len)) return v;
    } else if (std::memcmp(s, bytes, len) == 0) {
      return v;
    } else if (variant && *variant < 0 && ascii_equal_nocase(s, bytes, len)) {
      *variant = v;
    }
  } while (p.next());
  return -1;
}

void add_at_bucket(NodeId table, uint32_t bucket, uint32_t pos, uint32_t hash) {
  TableRecord* r = record(table);
  if (bucket >= r->buckets || buckets_of(r)[bucket].tag != kTagEmpty) fire(Err::internal_no_memory);
  take_bucket(r, bucket, pos, hash);
}

Cell* put_ptr_record(NodeId table, NodeId key) {
  grow(table);
  TableRecord* r = record(table);
  const Bucket* k = buckets_of(r);
  uint32_t hash = hash_u32(key);
  Probe p(tag_of(hash), r->buckets);
  int64_t deleted = -1;
  int64_t target = -1;
  do {
    uint32_t b = p.bucket();
    if (k[b].tag == kTagEmpty) {
      target = b;
      break;
    }
    if (k[b].tag == kTagDeleted) {
      if (deleted < 0) deleted = b;
    } else if (k[b].tag == tag_of(hash) && record_at(r, k[b].v)->key == key) {
      return record_data(r, k[b].v);
    }
  } while (p.next());
  uint32_t size = r->aux1;
  uint32_t offset;
  if (deleted >= 0) {
    // A deleted bucket still names the removed record it held: the new record takes its place.
    target = deleted;
    offset = k[deleted].v;
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
  take_bucket(r, uint32_t(target), offset, hash);
  return cells;
}

Cell* find_ptr(NodeId table, NodeId key) {
  TableRecord* r = record(table);
  int64_t b = find_record_bucket(r, key);
  return b < 0 ? nullptr : record_data(r, buckets_of(r)[b].v);
}

Cell* remove_ptr_record(NodeId table, NodeId key) {
  TableRecord* r = record(table);
  int64_t b = find_record_bucket(r, key);
  if (b < 0) return nullptr;
  buckets_of(r)[b].tag = kTagDeleted;
  r->count--;
  RecordHead* head = record_at(r, buckets_of(r)[b].v);
  head->state = 0;
  return reinterpret_cast<Cell*>(head + 1);
}

void clear(NodeId table, uint32_t n) { empty_to(table, sizing_for_clear(n)); }

void reset(NodeId table) {
  TableRecord* r = record(table);
  r->count = 0;
  r->used = 0;
  std::memset(buckets_of(r), 0, size_t(r->buckets) * sizeof(Bucket));
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
  rec.keys = alloc::copy_series(src->keys);
  rec.data = block && src->kind < KIND_RECORDS ? block : alloc::copy_series(src->data);
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
  uint32_t v = buckets_of(r)[b].v;
  if (int32_t(v) < 0) {
    NodeId list = list_node(r, -int32_t(v));
    array::remove_u32(list, pos);
    if (array::length(list) > 0) return;
  } else if (v != pos) {
    return;
  }
  buckets_of(r)[b].tag = kTagDeleted;
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
  Bucket* k = buckets_of(r);
  for (uint32_t b = 0; b < r->buckets; b++)
    if (live(k[b]) && int32_t(k[b].v) >= 0) k[b].v = moved(k[b].v);
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
      gc::mark_block(r->data);
      break;
    case KIND_RECORDS: {
      gc::mark_node(r->data);
      const Bucket* k = buckets_of(r);
      uint32_t cells = r->aux1 / 16 - 1;
      for (uint32_t b = 0; b < r->buckets; b++) {
        if (!live(k[b])) continue;
        RecordHead* head = record_at(r, k[b].v);
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
  Bucket* k = buckets_of(r);
  uint32_t cells = r->aux1 / 16 - 1;
  for (uint32_t b = 0; b < r->buckets; b++) {
    if (!live(k[b])) continue;
    RecordHead* head = record_at(r, k[b].v);
    if (gc::is_marked(head->key) && (head->owner == 0 || gc::is_marked(head->owner))) {
      Cell* data = reinterpret_cast<Cell*>(head + 1);
      gc::mark_values(data, data + cells);
      continue;
    }
    k[b].tag = kTagDeleted;
    r->count--;
    head->state = 0;
    head->key = 0;
  }
}

}  // namespace zem::hashtab
