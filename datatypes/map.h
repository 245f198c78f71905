// map!: keys and values in one block of cells (key, value, key, value ...), indexed by a kind-1
// hash table over the keys (see runtime/layout.h for the cell).
//
// Keys are of the types valid_key accepts; words are stored as set-words and string-like keys as
// copies, so later changes to the caller's series never reach the map. Removal leaves a tombstone
// (a value cell of type 0) whose key keeps its place, so that putting the key again revives the
// entry where it was; tombstones are purged (live entries keep their order) once they outnumber
// the live entries. Float, percent, time and point keys are looked up by exact value, 0.0 and -0.0
// being one key.
//
// Look-up is case-insensitive by default (words by canonical symbol, text folded); with /case it is
// case-sensitive. When several keys match case-insensitively (put/case made them), the live entry
// first in the block wins.
#pragma once

#include <cstdint>

#include "datatypes/registry.h"

namespace zem::map {

bool valid_key(TypeId t);
// Prepares a key for insertion in place: copies string-like keys from their head, turns word kinds
// into set-words; another type raises script `invalid-path` with the key and its datatype.
void prepare_key(Cell& key);

// A new map over the key/value cells of a block kind (even count, else script `invalid-arg`): keys
// prepared, new-line markers cleared, one entry per key at its first position with the last value.
Cell make_from_block(const Cell& block);
// An empty map with room for `entries` entries.
Cell make_empty(uint32_t entries);
// Makes `target` the map of the first `count` cells of `block` (the lexer's map literals).
void make_at(Cell& target, const Cell& block, uint32_t count);

// Adds or overwrites the pairs of a block, hash! or map! spec; an odd block raises `invalid-arg`
// and a bad key `invalid-path`, in both cases before the map changes.
void extend(Cell& map, const Cell& spec, bool case_sensitive);
// Adds or overwrites one entry (the path setter and put).
void put(const Cell& map, const Cell& key, const Cell& value, bool case_sensitive);
// The value of a live key, or null.
const Cell* select(const Cell& map, const Cell& key, bool case_sensitive);
// Makes the key's live entry a tombstone; false when there is none.
bool remove(const Cell& map, const Cell& key, bool case_sensitive);

// Pushes a copy of the map cell (the same entries) on the argument stack.
Cell* push_copy(const Cell& map);
// The live entry count.
uint32_t table_field(const Cell& map);
// Cells in the entry block, tombstones included.
uint32_t block_cells(const Cell& map);
// A block of key and value for each live entry (set-word keys kept), each key on a new line.
void body(const Cell& map, Cell& result);

// One step of foreach: from the map cell's position (w1, in cells) the words take the keys and
// values of the next live entries alternately (set-word keys as words; none for words left over)
// and the position moves past the entries taken. False at the end, when no word was set.
bool foreach_step(const Cell& words, Cell& map, uint32_t count);

void register_type();

}  // namespace zem::map
