// The symbol table: one interned entry per distinct name, ids from 1, each with the id of its
// canonical symbol (the first form of the name, ignoring ASCII case, ever interned). Words name their
// text by symbol id; case-insensitive comparisons compare canonical ids.
//
// Symbol id i is cell i - 1 of the symbol block, a symbol! cell (layout in runtime/layout.h): the
// alias (-1 for a canonical symbol, else the canonical symbol's id), the node of the name as a
// string! (0 until first asked for) and the node of a byte series with the name's UTF-8 bytes and
// a NUL after the tail.
// The name index is a kind-2 hash table over the symbol block, hashed on the name with ASCII A-Z
// lowered, so every ASCII case variant of a name shares one probe walk.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace zem {

struct SymbolState {
  NodeId block = 0;  // the symbol block
  NodeId index = 0;  // the name index
};
extern SymbolState symbol_state;

namespace symbol {

constexpr uint32_t kInitialSize = 4000;

// Makes the symbol block and its index and roots them with the collector.
void init();

// Exact interning: a name met for the first time becomes a new symbol, aliased to its canonical
// symbol when a case variant exists.
uint32_t intern_bytes(const uint8_t* bytes, uint32_t len);
uint32_t intern_c_name(const char* name);
inline uint32_t intern(std::string_view name) {
  return intern_bytes(reinterpret_cast<const uint8_t*>(name.data()), static_cast<uint32_t>(name.size()));
}
// Case-insensitive interning: any existing case variant is answered as it is; otherwise the name
// becomes a new canonical symbol.
uint32_t intern_c_name_nocase(const char* name);
uint32_t intern_bytes_nocase(const uint8_t* bytes, uint32_t len);

// Exact interning of a string-family value's text from its head.
uint32_t intern_string(const Cell& value);

// The symbol with exactly this name, or 0 (no symbol is made).
uint32_t find(std::string_view name);

// Number of symbols (the highest id).
uint32_t count();
// The symbol's cell (valid until the next allocation of the symbol block).
Cell* cell(uint32_t id);
// The alias when it is above 0, else the id itself.
uint32_t canonical_id(uint32_t id);
// The raw alias field: -1 for a canonical symbol.
int32_t alias_of(uint32_t id);
// The name's UTF-8 bytes (valid until the next collection).
std::string_view name(uint32_t id);
// The name as text in string storage (code points in 1-, 2- or 4-byte units), decoded on first use
// and kept in the symbol's cell; answers its node.
NodeId ensure_name_string(uint32_t id);
// The symbol's cell with its name string made.
Cell* cell_for_id(uint32_t id);
// The name of a symbol! cell (the table's own or a copy of one) as a string! value at head 0, made
// on demand and kept by the table.
Cell name_string_of(const Cell& symbol);

// symbol!'s one handler: the names compared as text under the code (kCannotCompare against any
// other type).
int32_t compare(const Cell& a, const Cell& b, CompareOp op);
void register_symbol_type();

}  // namespace symbol
}  // namespace zem
