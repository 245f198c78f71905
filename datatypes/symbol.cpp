// The symbol table: interning names, canonical ids, and the name strings made on demand.
#include "datatypes/symbol.h"

#include <cstring>
#include <string>

#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/hashtab.h"
#include "runtime/mem_stats.h"
#include "runtime/memory.h"
#include "runtime/typed_buffer.h"
#include "runtime/unicode.h"

namespace zem {

SymbolState symbol_state;

namespace symbol {

namespace {

void mark_symbols(void*) { gc::mark_hashtab(symbol_state.index); }

// Appends a new symbol and stores its position in the empty bucket the look-up ended on.
uint32_t make_symbol(const uint8_t* bytes, uint32_t len, uint32_t hash, int32_t alias, uint32_t bucket) {
  NodeId name = alloc::make_bytes(int64_t(len) + 1);
  SeriesBuffer* nb = series_buffer(name);
  if (len) std::memcpy(nb->head_ptr(), bytes, len);
  nb->head_ptr()[len] = 0;
  nb->set_length(len);  // the tail sits on the NUL
  auto* cell = reinterpret_cast<Cell*>(array::alloc_tail_bytes(symbol_state.block, sizeof(Cell)));
  Cell sym{};
  sym.set_header(TYPE_SYMBOL);
  sym.set_symbol_alias(alias);
  sym.set_symbol_utf8(name);
  *cell = sym;
  uint32_t pos = series_length(symbol_state.block) - 1;
  hashtab::add_at_bucket(symbol_state.index, bucket, pos, hash);
  return pos + 1;
}

uint32_t intern_impl(const uint8_t* bytes, uint32_t len, bool case_insensitive) {
  hashtab::grow_if_full(symbol_state.index);
  uint32_t hash = hashtab::hash_name(bytes, len);
  uint32_t end = hashtab::kNoBucket;
  int64_t variant = -1;
  int64_t pos = hashtab::find_string(symbol_state.index, bytes, len, hash, case_insensitive, &end, &variant);
  if (pos >= 0) return static_cast<uint32_t>(pos) + 1;
  // The alias names the canonical symbol itself, whichever variant the walk met first.
  int32_t alias = variant < 0 ? -1 : static_cast<int32_t>(canonical_id(static_cast<uint32_t>(variant) + 1));
  return make_symbol(bytes, len, hash, alias, end);
}

}  // namespace

void init() {
  symbol_state.block = alloc::make_cells(kInitialSize);
  symbol_state.index = hashtab::create(kInitialSize, symbol_state.block, hashtab::KIND_WORDS, 1);
  gc::set_fixed_root(gc::RootSlot::symbol_table, &mark_symbols);
}

uint32_t intern_bytes(const uint8_t* bytes, uint32_t len) { return intern_impl(bytes, len, false); }
uint32_t intern_c_name(const char* name) {
  return intern_impl(reinterpret_cast<const uint8_t*>(name), static_cast<uint32_t>(std::strlen(name)), false);
}
uint32_t intern_bytes_nocase(const uint8_t* bytes, uint32_t len) { return intern_impl(bytes, len, true); }
uint32_t intern_c_name_nocase(const char* name) {
  return intern_impl(reinterpret_cast<const uint8_t*>(name), static_cast<uint32_t>(std::strlen(name)), true);
}

uint32_t intern_string(const Cell& value) {
  std::string utf8;
  if (value.node()) {
    const SeriesBuffer* b = series_buffer(value.node());
    uint32_t len = b->length();
    uint32_t at = value.head_index() < len ? value.head_index() : len;
    unicode::encode_utf8_units(b->head_ptr() + size_t(at) * b->unit(), len - at, int(b->unit()), false, utf8);
  }
  return intern(utf8);
}

uint32_t find(std::string_view name) {
  auto* bytes = reinterpret_cast<const uint8_t*>(name.data());
  auto len = static_cast<uint32_t>(name.size());
  uint32_t end;
  int64_t pos = hashtab::find_string(symbol_state.index, bytes, len, hashtab::hash_name(bytes, len), false, &end);
  return pos < 0 ? 0 : static_cast<uint32_t>(pos) + 1;
}

uint32_t count() { return series_length(symbol_state.block); }

Cell* cell(uint32_t id) { return block_head(symbol_state.block) + (id - 1); }

uint32_t canonical_id(uint32_t id) {
  int32_t alias = cell(id)->symbol_alias();
  return alias > 0 ? static_cast<uint32_t>(alias) : id;
}

int32_t alias_of(uint32_t id) { return cell(id)->symbol_alias(); }

std::string_view name(uint32_t id) {
  const SeriesBuffer* b = series_buffer(cell(id)->symbol_utf8());
  return {reinterpret_cast<const char*>(b->head_ptr()), b->used()};
}

NodeId ensure_name_string(uint32_t id) {
  if (cell(id)->symbol_string()) return cell(id)->symbol_string();
  std::string_view n = name(id);
  uint32_t chars = 0;
  NodeId s = unicode::load_utf8_series(reinterpret_cast<const uint8_t*>(n.data()), n.size(), 0, false, &chars);
  cell(id)->set_symbol_string(s);
  return s;
}

Cell* cell_for_id(uint32_t id) {
  ensure_name_string(id);
  return cell(id);
}

Cell name_string_of(const Cell& symbol) {
  Cell s{};
  s.set_header(TYPE_STRING);
  const Cell* first = block_head(symbol_state.block);
  uint32_t id = 0;
  if (&symbol >= first && &symbol < first + count()) {
    id = static_cast<uint32_t>(&symbol - first) + 1;
  } else {
    const SeriesBuffer* b = series_buffer(symbol.symbol_utf8());
    id = find({reinterpret_cast<const char*>(b->head_ptr()), b->used()});
  }
  if (id) {
    s.set_node(ensure_name_string(id));
  } else {  // not one of the table's names: its text, kept by no one
    const SeriesBuffer* b = series_buffer(symbol.symbol_utf8());
    uint32_t chars = 0;
    s.set_node(unicode::load_utf8_series(b->head_ptr(), b->used(), 0, false, &chars));
  }
  return s;
}

int32_t compare(const Cell& a, const Cell& b, CompareOp op) {
  return b.is(TYPE_SYMBOL) ? strings::compare_values(a, b, op) : kCannotCompare;
}

void register_symbol_type() {
  register_type(TYPE_SYMBOL, TYPE_NONE_ID, "symbol!",
                HandlerRow().set(ActionIndex::compare, &compare));
}

}  // namespace symbol
}  // namespace zem
