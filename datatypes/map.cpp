// map!: the entry block with its kind-1 hash table, the handlers and the hooks the core calls.
#include "datatypes/map.h"

#include <algorithm>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string_storage.h"
#include "datatypes/type_hooks.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/hashtab.h"
#include "runtime/memory.h"
#include "runtime/support.h"

namespace zem::map {

namespace {

using series::answer;

Cell* entries(const Cell& m) { return series_buffer(m.node())->cells_head(); }
uint32_t cell_count(const Cell& m) { return series_buffer(m.node())->length(); }
bool is_tombstone(const Cell& value) { return value.type() == TYPE_NONE_ID; }
hashtab::TableRecord* table(const Cell& m) { return hashtab::record(m.hash_table()); }

bool live_at(const Cell& m, int64_t pos) {
  return pos >= 0 && uint64_t(pos) + 1 < cell_count(m) && !is_tombstone(entries(m)[pos + 1]);
}

Cell map_value(NodeId block, NodeId tab) {
  Cell c{};
  c.set_header(TYPE_MAP);
  c.set_series(0, block);
  c.set_hash_table(tab);
  return c;
}

// The stored form of a key as the user sees it: set-words read back as words.
Cell key_as_word(const Cell& key) {
  Cell k = key;
  if (k.is(TYPE_SET_WORD)) k.set_type(TYPE_WORD);
  k.set_new_line(false);
  return k;
}

uint32_t lookup_op(bool case_sensitive) { return case_sensitive ? hashtab::OP_STRICT : hashtab::OP_FIND; }

// Keys whose default look-up folds case: several stored keys may match one of them.
bool folds_case(TypeId t) { return block::is_word_kind(t) || str::is_text_type(t); }

// The key cell's position of the entry the key names, or -1: among several matches the live one
// first in the block, else the first tombstone.
int64_t locate(const Cell& m, const Cell& key, uint32_t op) {
  hashtab::FindState st;
  int64_t pos = hashtab::find(m.hash_table(), key, op, &st);
  if (pos < 0 || op != hashtab::OP_FIND || !folds_case(key.type())) return pos;
  bool live = live_at(m, pos);
  for (int64_t p = hashtab::find_next(st); p >= 0; p = hashtab::find_next(st)) {
    bool l = live_at(m, p);
    if ((l && !live) || (l == live && p < pos)) {
      pos = p;
      live = l;
    }
  }
  return pos;
}

// A new series holding the value's units from its head to its tail.
Cell copy_from_head(const Cell& v) {
  uint32_t len = series::units_in_buffer(v.node());
  uint32_t head = std::min(v.head_index(), len);
  return series::copy_range(v, head, len - head);
}

[[noreturn]] void fire_bad_key(const Cell& key) {
  Cell type = datatype_cell(key.type());
  fire(Err::script_invalid_path, &key, &type);
}

// Rebuilds block and table without the tombstones once they outnumber the live entries; live
// entries keep their order.
void purge_if_sparse(const Cell& m) {
  uint32_t live = table(m)->count;
  uint32_t total = cell_count(m) / 2;
  if (total - live <= live) return;
  SeriesBuffer* b = series_buffer(m.node());
  Cell* c = b->cells_head();
  uint32_t w = 0;
  for (uint32_t i = 0; i + 1 < total * 2; i += 2) {
    if (is_tombstone(c[i + 1])) continue;
    c[w] = c[i];
    c[w + 1] = c[i + 1];
    w += 2;
  }
  b->set_length(w);
  hashtab::clear(m.hash_table(), w / 2);
}

void put_op(const Cell& m, const Cell& key, const Cell& value, uint32_t op) {
  Cell v = value;
  v.set_new_line(false);
  int64_t pos = locate(m, key, op);
  if (pos >= 0) {
    Cell& slot = entries(m)[pos + 1];
    if (is_tombstone(slot)) table(m)->count++;
    slot = v;
    return;
  }
  Cell k = key;
  prepare_key(k);
  uint32_t at = cell_count(m);
  block::append_cell(m.node(), k);
  block::append_cell(m.node(), make_unset());
  hashtab::insert(m.hash_table(), at);
  entries(m)[at + 1] = v;
}

// The cells of a key/value spec, copied out (the spec may be the map's own), keys checked.
std::vector<Cell> spec_pairs(const Cell& spec) {
  std::vector<Cell> pairs;
  if (spec.is(TYPE_MAP)) {
    const Cell* c = entries(spec);
    for (uint32_t i = 0, n = cell_count(spec); i + 1 < n; i += 2)
      if (!is_tombstone(c[i + 1])) pairs.insert(pairs.end(), {c[i], c[i + 1]});
    return pairs;
  }
  uint32_t n = block::length(spec);
  if (n % 2) fire(Err::script_invalid_arg, &spec);
  const Cell* c = block::head_of(spec);
  pairs.assign(c, c + n);
  for (uint32_t i = 0; i < n; i += 2)
    if (!valid_key(pairs[i].type())) fire_bad_key(pairs[i]);
  return pairs;
}

Cell copy_map(const Cell& m, bool deep, const Cell* types) {
  Cell blk = block::value_of(m.node());
  Cell copy = deep ? block::copy_cells(blk, true, types) : series::copy_range(blk, 0, cell_count(m));
  if (types && !deep) {
    for (uint32_t i = 1, n = cell_count(m); i < n; i += 2) {
      Cell v = *block::cell_at_index(copy, i);
      TypeId t = v.type();
      bool selected = types->is(TYPE_DATATYPE) ? types->datatype_id() == t : typeset_has(*types, t);
      if (!selected) continue;
      Cell c = v;
      if (block::is_block_kind(t)) c = block::copy_cells(v, false);
      else if (str::is_text_type(t) || t == TYPE_BINARY || t == TYPE_VECTOR) c = copy_from_head(v);
      else if (t == TYPE_MAP) c = copy_map(v, false, nullptr);
      else continue;
      c.header = v.header;
      *block::cell_at_index(copy, i) = c;
    }
  }
  return map_value(copy.node(), hashtab::copy(m.hash_table(), copy.node()));
}

// ---- Handlers ------------------------------------------------------------------------------------

Cell* mp_make(ActionCall& call) {
  const bool to = call.action == ActionIndex::to;
  const Cell spec = call.arg(1);
  TypeId t = spec.type();
  if (block::is_block_kind(t) && !block::is_path_kind(t)) return answer(call, make_from_block(spec));
  if (t == TYPE_MAP) return answer(call, copy_map(spec, false, nullptr));
  if (!to && (t == TYPE_INTEGER || t == TYPE_FLOAT)) {
    int32_t n = float_to_int_checked(spec);
    if (n < 0) fire(Err::script_out_of_range, &spec);
    return answer(call, make_empty(uint32_t(n)));
  }
  Cell type = datatype_cell(TYPE_MAP);
  fire(Err::script_bad_to_arg, &type, &spec);
}

Cell* mp_reflect(ActionCall& call) {
  const Cell m = call.result();
  const Cell field = call.arg(1);
  if (series::word_named(field, "body")) {
    Cell out;
    body(m, out);
    return answer(call, out);
  }
  bool keys = series::word_named(field, "words");
  if (!keys && !series::word_named(field, "values")) fire(Err::internal_not_done, &field);
  Cell out = block::make(table_field(m));
  for (uint32_t i = 0; i + 1 < cell_count(m); i += 2) {
    if (is_tombstone(entries(m)[i + 1])) continue;
    Cell v = keys ? key_as_word(entries(m)[i]) : entries(m)[i + 1];
    block::append_cell(out.node(), v);
  }
  return answer(call, out);
}

// Molds the live entries: each key and value molded, `sep` before every entry but the first
// (before the first too with `lead`), `indent` levels of blanks after each separator.
int32_t mold_entries(const Cell& m, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                     int32_t indent, bool lines, bool lead, bool trail) {
  MoldFlags sub = flags;
  sub.only = false;
  bool first = true;
  for (uint32_t i = 0; i + 1 < cell_count(m); i += 2) {
    if (part && limit < 1) break;
    Cell k = entries(m)[i];
    Cell v = entries(m)[i + 1];
    if (is_tombstone(v)) continue;
    if (!first || lead) {
      out.append_ascii(lines ? "\n" : " ");
      limit--;
    }
    first = false;
    if (lines && indent > 0) limit = mold_indent(out, indent, limit);
    k.set_new_line(false);
    limit = block::mold_value(k, out, sub, part, limit, indent);
    out.append_ascii(" ");
    limit--;
    limit = block::mold_value(v, out, sub, part, limit, indent);
  }
  if (trail && !first) {
    out.append_ascii("\n");
    limit--;
  }
  return limit;
}

int32_t mp_mold(const Cell& m, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit, int32_t indent) {
  if (mold_cycle_guard(m, out, limit, true)) return limit;
  PointerStackGuard guard(m.node());
  if (flags.only) return mold_entries(m, out, flags, part, limit, 0, !flags.flat, false, !flags.flat);
  out.append_ascii("#[");
  limit -= 2;
  bool any = table_field(m) > 0;
  if (flags.flat) {
    limit = mold_entries(m, out, flags, part, limit, indent + 1, false, false, false);
  } else {
    limit = mold_entries(m, out, flags, part, limit, indent + 1, true, true, any);
    if (any && indent > 0) limit = mold_indent(out, indent, limit);
  }
  out.append_ascii("]");
  return limit - 1;
}

int32_t mp_form(const Cell& m, TextOut& out, const Cell* part, int32_t limit) {
  if (mold_cycle_guard(m, out, limit, false)) return limit;
  PointerStackGuard guard(m.node());
  return mold_entries(m, out, MoldFlags{}, part, limit, 0, true, false, false);
}

Cell* mp_eval_path(PathStep& step) {
  const Cell m = *step.value;
  const Cell key = *step.element;
  if (step.set_value) {
    put(m, key, *step.set_value, false);
    return const_cast<Cell*>(step.set_value);
  }
  const Cell* v = select(m, key, false);
  return v ? const_cast<Cell*>(v) : &shared_cells.none;
}

// The key's value in `other` equals `value`: every key of `other` matching under `op` is tried.
bool has_equal_entry(const Cell& other, const Cell& key, const Cell& value, bool strict) {
  hashtab::FindState st;
  uint32_t op = strict ? hashtab::OP_STRICT : hashtab::OP_FIND;
  CompareOp cmp = strict ? COMP_STRICT_EQUAL : COMP_EQUAL;
  for (int64_t p = hashtab::find(other.hash_table(), key, op, &st); p >= 0; p = hashtab::find_next(st)) {
    if (!live_at(other, p)) continue;
    if (block::cell_compare(entries(other)[p + 1], value, cmp) == 0) return true;
    if (strict) return false;
  }
  return false;
}

int32_t mp_compare(const Cell& a, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_MAP)) return kCannotCompare;
  if (!(op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND))
    return kCannotCompare;
  if (a.node() == b.node()) return 0;
  if (op == COMP_SAME) return -1;
  bool ca = ptrstack::contains(a.node()), cb = ptrstack::contains(b.node());
  if (ca || cb) return ca && cb ? 0 : 1;
  if (table_field(a) != table_field(b)) return 1;
  PointerStackGuard ga(a.node());
  PointerStackGuard gb(b.node());
  bool strict = op == COMP_STRICT_EQUAL;
  for (uint32_t i = 0; i + 1 < cell_count(a); i += 2) {
    Cell k = entries(a)[i];
    Cell v = entries(a)[i + 1];
    if (is_tombstone(v)) continue;
    if (!has_equal_entry(b, k, v, strict)) return 1;
  }
  return 0;
}

Cell* mp_clear(ActionCall& call) {
  const Cell m = call.result();
  series_buffer(m.node())->set_length(0);
  hashtab::reset(m.hash_table());
  return &call.result();
}

Cell* mp_copy(ActionCall& call) {
  const Cell* types = call.refinement_arg(series::COPY_TYPES);
  if (types && !types->is(TYPE_DATATYPE) && !types->is(TYPE_TYPESET))
    series::bad_refine_arg(call, series::COPY_TYPES, *types);
  return answer(call, copy_map(call.result(), call.has(series::COPY_DEEP), types));
}

uint32_t find_op(const ActionCall& call) {
  if (call.has(block::FIND_SAME)) return hashtab::OP_SAME;
  return lookup_op(call.has(block::FIND_CASE));
}

Cell* mp_find(ActionCall& call) {
  const Cell m = call.result();
  int64_t pos = locate(m, call.arg(1), find_op(call));
  if (!live_at(m, pos)) return answer(call, shared_cells.none);
  return answer(call, key_as_word(entries(m)[pos]));
}

Cell* mp_select(ActionCall& call) {
  const Cell m = call.result();
  int64_t pos = locate(m, call.arg(1), find_op(call));
  if (!live_at(m, pos)) return answer(call, shared_cells.none);
  return answer(call, entries(m)[pos + 1]);
}

Cell* mp_length(ActionCall& call) { return answer(call, make_integer(int32_t(table_field(call.result())))); }

Cell* mp_put(ActionCall& call) {
  const Cell value = call.arg(2);
  put(call.result(), call.arg(1), value, call.has(block::PUT_CASE));
  return answer(call, value);
}

Cell* mp_remove(ActionCall& call) {
  const Cell* key = call.refinement_arg(series::REMOVE_KEY);
  if (!key) fire(Err::script_missing_arg);
  remove(call.result(), *key, false);
  return &call.result();
}

}  // namespace

// ---- The map services ----------------------------------------------------------------------------

bool valid_key(TypeId t) {
  switch (t) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_CHAR: case TYPE_INTEGER:
    case TYPE_FLOAT: case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
    case TYPE_REFINEMENT: case TYPE_ISSUE: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TUPLE:
    case TYPE_BINARY: case TYPE_TIME: case TYPE_TAG: case TYPE_EMAIL: case TYPE_DATE:
    case TYPE_MONEY: case TYPE_REF: case TYPE_POINT2D: case TYPE_POINT3D:
      return true;
    default:
      return false;
  }
}

void prepare_key(Cell& key) {
  TypeId t = key.type();
  if (!valid_key(t)) fire_bad_key(key);
  key.set_new_line(false);
  if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD) {
    key.set_type(TYPE_SET_WORD);
  } else if (str::is_text_type(t) || t == TYPE_BINARY) {
    key = copy_from_head(key);
    key.set_new_line(false);
  }
}

Cell make_empty(uint32_t n) {
  NodeId blk = alloc::make_cells(int64_t(std::max<uint32_t>(n, 1)) * 2);
  return map_value(blk, hashtab::create(n, blk, hashtab::KIND_MAP));
}

Cell make_from_block(const Cell& block) {
  std::vector<Cell> pairs = spec_pairs(block);
  Cell m = make_empty(uint32_t(pairs.size() / 2));
  for (size_t i = 0; i < pairs.size(); i += 2) put_op(m, pairs[i], pairs[i + 1], hashtab::OP_FIND);
  return m;
}

void make_at(Cell& target, const Cell& block, uint32_t count) {
  Cell part = block;
  if (block::length(block) != count) part = series::copy_range(block, block.head_index(), count);
  target = make_from_block(part);
}

void extend(Cell& m, const Cell& spec, bool case_sensitive) {
  std::vector<Cell> pairs = spec_pairs(spec);
  for (size_t i = 0; i < pairs.size(); i += 2) put(m, pairs[i], pairs[i + 1], case_sensitive);
}

void put(const Cell& m, const Cell& key, const Cell& value, bool case_sensitive) {
  put_op(m, key, value, lookup_op(case_sensitive));
}

const Cell* select(const Cell& m, const Cell& key, bool case_sensitive) {
  int64_t pos = locate(m, key, lookup_op(case_sensitive));
  return live_at(m, pos) ? &entries(m)[pos + 1] : nullptr;
}

bool remove(const Cell& m, const Cell& key, bool case_sensitive) {
  int64_t pos = locate(m, key, lookup_op(case_sensitive));
  if (!live_at(m, pos)) return false;
  entries(m)[pos + 1] = Cell{};
  table(m)->count--;
  purge_if_sparse(m);
  return true;
}

Cell* push_copy(const Cell& m) { return stack::push_value(m); }

uint32_t table_field(const Cell& m) { return table(m)->count; }

uint32_t block_cells(const Cell& m) { return cell_count(m); }

void body(const Cell& m, Cell& result) {
  Cell out = block::make(table_field(m) * 2);
  for (uint32_t i = 0; i + 1 < cell_count(m); i += 2) {
    Cell k = entries(m)[i];
    Cell v = entries(m)[i + 1];
    if (is_tombstone(v)) continue;
    k.set_new_line(true);
    block::append_cell(out.node(), k);
    block::append_cell(out.node(), v);
  }
  result = out;
}

bool foreach_step(const Cell& words, Cell& m, uint32_t count) {
  std::vector<Cell> values;
  uint32_t p = m.head_index();
  bool any = false, have = false;
  for (uint32_t i = 0; i < count; i++) {
    if (i % 2 == 0) {
      uint32_t n = cell_count(m);
      while (p + 1 < n && is_tombstone(entries(m)[p + 1])) p += 2;
      have = p + 1 < n;
      if (have) {
        values.push_back(key_as_word(entries(m)[p]));
        p += 2;
        any = true;
        continue;
      }
    } else if (have) {
      values.push_back(entries(m)[p - 1]);
      continue;
    }
    values.push_back(make_none());
  }
  if (!any) return false;
  m.set_head_index(p);
  for (uint32_t i = 0; i < count; i++) {
    Cell w = block::head_of(words)[i];
    natives::set_word_any(w, values[i]);
  }
  return true;
}

void register_type() {
  register_type(TYPE_MAP, TYPE_NONE_ID, "map!",
                HandlerRow()
                    .set(ActionIndex::make, &mp_make)
                    .set(ActionIndex::reflect, &mp_reflect)
                    .set(ActionIndex::to, &mp_make)
                    .set(ActionIndex::form, &mp_form)
                    .set(ActionIndex::mold, &mp_mold)
                    .set(ActionIndex::eval_path, &mp_eval_path)
                    .set(ActionIndex::compare, &mp_compare)
                    .set(ActionIndex::clear, &mp_clear)
                    .set(ActionIndex::copy, &mp_copy)
                    .set(ActionIndex::find, &mp_find)
                    .set(ActionIndex::length_q, &mp_length)
                    .set(ActionIndex::put, &mp_put)
                    .set(ActionIndex::remove, &mp_remove)
                    .set(ActionIndex::select, &mp_select));
  FurtherTypeHooks& hooks = further_type_hooks();
  hooks.map_valid_key.fn = &valid_key;
  hooks.map_prepare_key.fn = &prepare_key;
  hooks.map_make_at.fn = &make_at;
  hooks.map_body.fn = &body;
  hooks.map_foreach_step.fn = &foreach_step;
  hooks.map_extend.fn = &extend;
}

}  // namespace zem::map
