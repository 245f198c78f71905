// Hash tables kept in series, in five kinds:
//   0 the index of a hash! block (equal keys share one bucket through a duplicate list),
//   1 the keys of a map! key/value block,
//   2 symbol and context word tables,
//   3 records keyed by a node,
//   4 owner records (keyed by node, with an owner node; weak for the collector).
// Kinds 0-2 store the position of each key cell in a data block and never copy the cells; kinds 3
// and 4 keep their records in a cell block of their own.
//
// A table is a byte series whose head holds a TableRecord; its buckets and data are series too,
// so the collector moves and marks them like any other. A bucket keeps the key's hash beside the
// entry, so a walk passes other keys without reading their cells. Node indices never change, so hashes that
// use a node (blocks, objects, record keys) stay valid across collections.
//
// Addresses returned here (record data, TableRecord*) are valid until the next allocation of the
// series they point into, or the next collection.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/hashtab_probe.h"

namespace zem::hashtab {

enum Kind : uint32_t {
  KIND_HASH = 0,
  KIND_MAP = 1,
  KIND_WORDS = 2,
  KIND_RECORDS = 3,
  KIND_OWNERS = 4,
};

struct TableRecord {
  uint32_t count;    // live keys (kind 1: live entries; its removed keys keep their buckets)
  uint32_t aux1;     // kind 0: node of the reverse index; kinds 3, 4: record size in bytes
  uint32_t aux2;     // kind 0: node of the buffer of duplicate lists; other kinds 0
  uint32_t spare;    // 0
  uint32_t keys;     // node: the buckets, two 32-bit words each (the key's tag, the entry)
  uint32_t data;     // node of the data block
  uint32_t used;     // live or deleted buckets
  uint32_t buckets;  // power of two, at least 4
  uint32_t bound;    // used count at which the table grows
  uint32_t kind;
  uint32_t stamp;    // always 0: node indices never move, so no table needs re-hashing
};
static_assert(sizeof(TableRecord) == 44, "eleven 32-bit fields");

// Head of a record of kinds 3 and 4; its data cells follow.
struct RecordHead {
  uint32_t state;  // kRecordLive, or 0 once removed
  NodeId key;
  NodeId owner;    // kind 4: the owner's node (0: none)
  uint32_t spare;
};
static_assert(sizeof(RecordHead) == 16, "a record head takes one cell");
constexpr uint32_t kRecordLive = 2;

// Comparison codes used as key equality modes (the compare action's codes).
enum EqualityOp : uint32_t {
  OP_EQUAL = 0,    // case-insensitive
  OP_STRICT = 2,   // case-sensitive
  OP_SAME = 9,     // identity
  OP_FIND = 12,    // the equality of find and select (case-insensitive)
};

// Key equality of kinds 0 and 1, called only for cells of the same type.
using KeyEquality = bool (*)(const Cell& stored, const Cell& key, uint32_t op);

struct HashState {
  uint32_t seed = 0;
};
extern HashState hash_state;

// Sets the hash seed and registers the table scan with the collector. Key equality and word
// folding come through the runtime's wiring table (runtime/wiring.h).
void init(uint32_t seed);

// ---- Hashes ------------------------------------------------------------------------------------

uint32_t hash_bytes(const void* data, uint32_t len);
uint32_t hash_u32(uint32_t x);
// A string-family cell (or a slice: type id 56 with a character count in w3) from its head to its
// tail, one 32-bit block per character, folded to upper case unless case_sensitive.
uint32_t hash_string(const Cell& cell, bool case_sensitive);
// A name's UTF-8 bytes with ASCII A-Z lowered.
uint32_t hash_name(const uint8_t* bytes, uint32_t len);
// Any value; equal values under find/select equality hash alike.
uint32_t hash_value(const Cell& cell, bool case_sensitive = false);

// ---- Tables ------------------------------------------------------------------------------------

// A table for `size` keys. Kinds 0-2 index `block` (or a new block of `size` cells when 0): kind 1
// steps 2 (keys only). Kinds 3 and 4 make records of `record_cells` data cells (kinds 0-2 ignore it).
NodeId create(uint32_t size, NodeId block, Kind kind, uint32_t record_cells = 0);
TableRecord* record(NodeId table);
inline NodeId data_block(NodeId table) { return record(table)->data; }

// Kinds 0-2: indexes the cell at `pos` of the data block (0-based from the block's head). Answers
// 2 when a kind-0 table was rebuilt on the way: the rebuild indexed every cell of the block,
// this one included, so a caller indexing a run of new cells stops there. Otherwise 0.
int insert(NodeId table, uint32_t pos);
inline void put(NodeId table, uint32_t pos) { insert(table, pos); }

// The search through the equal keys of a kind-0 table.
struct FindState {
  NodeId table = 0;
  Cell key{};       // kind 1: word kinds already turned into set-word!
  uint32_t op = OP_FIND;
  uint32_t hash = 0;  // the key's tag (its hash as buckets keep it)
  Probe probe;      // the walk, at the bucket last matched
  NodeId list = 0;  // the duplicate list being walked (0: none)
  uint32_t next = 0;  // 0-based position in it
  bool done = false;
};
// Kinds 0-2: position of the first cell equal to `key` under `op`, or -1. Kind 1 matches word keys
// as set-words. With a state, find_next continues over further equal keys (kind 0).
int64_t find(NodeId table, const Cell& key, uint32_t op = OP_FIND, FindState* state = nullptr);
int64_t find_next(FindState& state);
// Kind 0: forgets the key's bucket with all its positions. Kind 1: the entry becomes removed (its
// value cell gets type 0) and the count drops; the key keeps its bucket so that the entry can be
// revived in place. Kind 2: forgets the bucket. Answers false when the key is absent.
bool remove_key(NodeId table, const Cell& key, uint32_t op = OP_STRICT);

// Grows the table (or rebuilds it at the same size, dropping deleted buckets) when its used count
// reached the bound. Answers true when a kind-0 table was re-indexed from its block.
bool grow_if_full(NodeId table);

// Kind 2 over symbol cells (the symbol table): the position of the symbol whose name is the bytes,
// exactly or ignoring ASCII case, or -1. `hash` is hash_name of the bytes. `end_bucket` receives the
// empty bucket where the walk ended (kNoBucket when it met none). An exact walk that finds no match
// gives in `variant` the first position whose name matches ignoring ASCII case (or -1).
constexpr uint32_t kNoBucket = 0xFFFFFFFF;
int64_t find_string(NodeId table, const uint8_t* bytes, uint32_t len, uint32_t hash, bool case_insensitive,
                    uint32_t* end_bucket, int64_t* variant = nullptr);
// Stores position `pos` with its hash in an empty bucket found by find_string (count and used grow).
void add_at_bucket(NodeId table, uint32_t bucket, uint32_t pos, uint32_t hash);

// Kind 2 word tables (data block of word cells): the position of the word whose symbol is `sym`
// (or, case-insensitively, shares its canonical symbol), or -1.
int64_t find_word(NodeId table, uint32_t sym, bool case_insensitive);

// Kinds 3 and 4: the data cells of the key's record, made (cells unset!) when absent.
Cell* put_ptr_record(NodeId table, NodeId key);
Cell* find_ptr(NodeId table, NodeId key);
// Removes the record; answers its data cells (valid until the next allocation), or nullptr.
Cell* remove_ptr_record(NodeId table, NodeId key);
inline RecordHead* record_head(Cell* data) { return reinterpret_cast<RecordHead*>(data) - 1; }

// Empties the table, sizes it for n keys and indexes its block again (kinds 0-2; kinds 3, 4 drop
// every record).
void clear(NodeId table, uint32_t n);
// count 0, used 0, every bucket empty; sizes kept (kinds 3, 4 drop every record).
void reset(NodeId table);
// A new table with copies of the record and the buckets and data series (kind 0 also the
// reverse index and duplicate lists). A kind 0-2 copy may index `block` instead of a data copy.
NodeId copy(NodeId table, NodeId block = 0);

// Kind 0 upkeep after the block changed. Positions here are 0-based from the block's head.
// shift_index: every indexed position at or after `first` moves by delta; with a negative delta the
// positions [first + delta, first) are forgotten first. Answers 1 without doing anything when count
// (the positions affected) is above 30000: the caller rebuilds with clear.
int shift_index(NodeId table, int32_t delta, uint32_t first, uint32_t count);
// Removes n cells at pos from the block and the index.
void remove_range(NodeId table, uint32_t pos, uint32_t n);
// The block's cells [from, from + n) were moved to start at `to`: re-indexes the stretch between.
void move_range(NodeId table, uint32_t from, uint32_t to, uint32_t n);
// Forgets / learns one position (a poke, a swap).
void unindex_position(NodeId table, uint32_t pos);

// ---- Collector ---------------------------------------------------------------------------------

// The table's scan (registered by init): its series, the data block with its cells, kind 0 its
// lists, kind 3 each live record's key (and its cells) and data cells. Kind 4 records are weak:
// only the table's own series are marked here, so whoever keeps a kind-4 table runs
// purge_dead_records on it as a weak pass of the collector (it marks the records that stay).
void scan(NodeId table);
// Kinds 3, 4, after marking: removes every live record whose key died or (kind 4) whose owner
// died. Then marks the data cells of the records that stay.
void purge_dead_records(NodeId table);

}  // namespace zem::hashtab
