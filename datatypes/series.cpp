// series!: the positional action handlers every series type shares.
#include "datatypes/integer.h"
#include "datatypes/char.h"
#include "datatypes/series.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "services/random.h"
#include "runtime/wiring.h"

namespace zem::series {

using ownership::Change;
using ownership::ChangeNotice;

bool word_named(const Cell& word, std::string_view name) {
  if (!block::is_word_kind(word.type())) return false;
  uint32_t id = symbol::find(name);
  return id != 0 && symbol::canonical_id(word.word_symbol()) == symbol::canonical_id(id);
}

namespace {

inline FurtherTypeHooks& hooks() { return further_type_hooks(); }

inline uint32_t unit_of(const Cell& s) { return series_buffer(s.node())->unit(); }
inline uint8_t* unit_ptr(const Cell& s, uint64_t index) {
  SeriesBuffer* b = series_buffer(s.node());
  return b->head_ptr() + index * b->unit();
}

// The integer argument of at, skip, pick and poke: integer!, char! (its code point), logic! (true 1,
// false 2); anything else raises script `invalid-arg` with the value.
int32_t index_arg(const Cell& v) {
  switch (v.type()) {
    case TYPE_INTEGER:
    case TYPE_CHAR:
      return v.int_value();
    case TYPE_LOGIC:
      return logic_flag(v) ? 1 : 2;
    default:
      fire(Err::script_invalid_arg, &v);
  }
}

// The absolute position of pick and poke, or -1 outside the buffer.
int64_t pick_position(const Cell& s, int32_t n) {
  if (n == 0) return -1;
  int64_t p = static_cast<int64_t>(s.head_index()) + (n > 0 ? n - 1 : n);
  if (p < 0 || p >= units_in_buffer(s.node())) return -1;
  return p;
}

// The element at absolute position p as a value.
Cell element_at(const Cell& s, uint32_t p) {
  TypeId t = s.type();
  if (block::is_block_kind(t) || t == TYPE_MAP) return *block::cell_at_index(s, p);
  if (str::is_text_type(t)) return make_char(str::get_char(unit_ptr(s, p), unit_of(s)));
  if (t == TYPE_BINARY) return make_integer(*unit_ptr(s, p));
  if (t == TYPE_VECTOR) return hooks().vector_element(s, unit_ptr(s, p));
  fire_not_done(t);
}

void swap_units(uint8_t* a, uint8_t* b, uint32_t size) {
  uint8_t tmp[16];
  while (size > 0) {
    uint32_t n = std::min<uint32_t>(size, sizeof tmp);
    std::memcpy(tmp, a, n);
    std::memcpy(a, b, n);
    std::memcpy(b, tmp, n);
    a += n;
    b += n;
    size -= n;
  }
}

uint32_t hash_of_bytes(const uint8_t* p, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; i++) h = (h ^ p[i]) * 16777619u;
  return h;
}

// Removes `n` units at absolute position `at` of the series' buffer (keeping a hash! index).
void cut_units(const Cell& s, uint32_t at, uint32_t n) {
  SeriesBuffer* b = series_buffer(s.node());
  uint32_t len = b->length();
  if (at >= len || n == 0) return;
  n = std::min(n, len - at);
  uint32_t unit = b->unit();
  uint8_t* p = b->head_ptr() + static_cast<size_t>(at) * unit;
  std::memmove(p, p + static_cast<size_t>(n) * unit, static_cast<size_t>(len - at - n) * unit);
  b->tail -= n * unit;
  if (s.is(TYPE_HASH)) hooks().hash_removed(s, at, n);
}

bool same_series(const Cell& a, const Cell& b) { return a.type() == b.type() && a.node() == b.node(); }

}  // namespace

// ---- Helpers -------------------------------------------------------------------------------------

void bad_refine_arg(const ActionCall& call, uint32_t r, const Cell& value) {
  const Cell* word = nullptr;
  if (call.param_words && r < call.refinement_count && call.refinements[r] >= 0 &&
      static_cast<uint32_t>(call.refinements[r]) < call.param_count)
    word = &call.param_words[call.refinements[r]];
  Cell named;
  if (!word) {  // a call without its spec's words: the refinement named from the action's list
    std::span<const std::string_view> names = actions::refinement_names(call.action);
    if (r < names.size() && (named = strings::refinement_word(names[r])).is(TYPE_WORD)) word = &named;
  }
  fire(Err::script_invalid_refine_arg, word, &value);
}

uint32_t units_in_buffer(NodeId node) { return series_buffer(node)->length(); }

bool head_past_tail(const Cell& series) { return series.head_index() >= units_in_buffer(series.node()); }

bool advance_head(Cell& series, int32_t n) {
  uint32_t len = units_in_buffer(series.node());
  int64_t h = static_cast<int64_t>(series.head_index()) + n;
  if (h >= 0 && h <= len) series.set_head_index(static_cast<uint32_t>(h));
  return series.head_index() >= len;
}

uint32_t count_from_head(Cell& series, bool from_start) {
  uint32_t len = units_in_buffer(series.node());
  if (from_start) return len;
  if (series.head_index() >= len) {
    series.set_head_index(len);
    return 0;
  }
  return len - series.head_index();
}

Cell copy_range(const Cell& source, uint32_t start, uint32_t count) {
  const SeriesBuffer* sb = series_buffer(source.node());
  uint32_t unit = sb->unit();
  NodeId node = alloc::make_series(std::max<uint32_t>(count, 1), unit);
  SeriesBuffer* nb = series_buffer(node);
  sb = series_buffer(source.node());
  nb->flags |= sb->flags & ~(kSeriesPlacementBits | kSeriesOwned | kSeriesLive);
  std::memcpy(nb->head_ptr(), sb->head_ptr() + static_cast<size_t>(start) * unit,
              static_cast<size_t>(count) * unit);
  nb->tail = nb->head + count * unit;
  Cell c{};
  c.set_header(source.type());
  c.set_new_line(source.new_line());
  c.set_series(0, node);
  // A vector keeps its element type; a hash! its source's index until hash_new_index replaces it.
  if (source.is(TYPE_VECTOR)) c.set_vector_type(source.vector_type());
  if (source.is(TYPE_HASH)) c.set_hash_table(source.hash_table());
  if (source.is(TYPE_HASH)) hooks().hash_new_index(c);
  return c;
}

Span part_span(const ActionCall& call, const Cell& series, const Cell& part, uint32_t refinement) {
  uint32_t len = units_in_buffer(series.node());
  int64_t h = std::min(series.head_index(), len);
  int64_t count;
  if (part.is(TYPE_INTEGER)) {
    count = part.int_value();
  } else if (same_series(part, series)) {
    count = static_cast<int64_t>(std::min(part.head_index(), len)) - h;
  } else {
    bad_refine_arg(call, refinement, part);
  }
  int64_t start = h;
  if (count < 0) {
    start = std::max<int64_t>(0, h + count);
    count = h - start;
  }
  count = std::min<int64_t>(count, len - start);
  return {static_cast<uint32_t>(start), static_cast<uint32_t>(count)};
}

// ---- Positioning and queries ---------------------------------------------------------------------

namespace {

Cell* at_handler(ActionCall& call) {
  Cell& s = call.result();
  if (!call.arg(1).is(TYPE_INTEGER)) fire(Err::script_invalid_arg, &call.arg(1));
  int64_t n = call.arg(1).int_value();
  int64_t h = static_cast<int64_t>(s.head_index()) + (n > 0 ? n - 1 : n);
  s.set_head_index(static_cast<uint32_t>(std::clamp<int64_t>(h, 0, units_in_buffer(s.node()))));
  return &s;
}

Cell* skip_handler(ActionCall& call) {
  Cell& s = call.result();
  if (!call.arg(1).is(TYPE_INTEGER)) fire(Err::script_invalid_arg, &call.arg(1));
  int64_t h = static_cast<int64_t>(s.head_index()) + call.arg(1).int_value();
  s.set_head_index(static_cast<uint32_t>(std::clamp<int64_t>(h, 0, units_in_buffer(s.node()))));
  return &s;
}

Cell* back_handler(ActionCall& call) {
  Cell& s = call.result();
  if (s.head_index() > 0) s.set_head_index(std::min(s.head_index(), units_in_buffer(s.node()) + 1) - 1);
  return &s;
}

Cell* next_handler(ActionCall& call) {
  Cell& s = call.result();
  if (s.head_index() + 1 <= units_in_buffer(s.node())) s.set_head_index(s.head_index() + 1);
  return &s;
}

Cell* head_handler(ActionCall& call) {
  call.result().set_head_index(0);
  return &call.result();
}

Cell* tail_handler(ActionCall& call) {
  call.result().set_head_index(units_in_buffer(call.result().node()));
  return &call.result();
}

Cell* head_q_handler(ActionCall& call) { return answer(call, make_logic(call.result().head_index() == 0)); }

Cell* tail_q_handler(ActionCall& call) { return answer(call, make_logic(head_past_tail(call.result()))); }

Cell* index_q_handler(ActionCall& call) {
  return answer(call, make_integer(static_cast<int32_t>(call.result().head_index() + 1)));
}

Cell* length_q_handler(ActionCall& call) {
  uint32_t n = count_from_head(call.result());
  return answer(call, make_integer(static_cast<int32_t>(n)));
}

// ---- Element access ------------------------------------------------------------------------------

Cell* pick_handler(ActionCall& call) {
  int64_t p = pick_position(call.result(), index_arg(call.arg(1)));
  if (p < 0) return answer(call, shared_cells.none);
  return answer(call, element_at(call.result(), static_cast<uint32_t>(p)));
}

Cell* poke_handler(ActionCall& call) {
  Cell s = call.result();
  int32_t n = index_arg(call.arg(1));
  int64_t p = pick_position(s, n);
  if (p < 0) {
    Cell idx = make_integer(n);
    fire(Err::script_out_of_range, &idx);
  }
  Cell value = call.arg(2);
  TypeId t = s.type();
  if (str::is_text_type(t) && !value.is(TYPE_CHAR)) fire(Err::script_invalid_arg, &value);
  ChangeNotice notice(s, Change::poke, &value, static_cast<int32_t>(p), 1);
  uint32_t at = static_cast<uint32_t>(p);
  if (at >= units_in_buffer(s.node())) {  // the handler shortened the series
    Cell idx = make_integer(n);
    fire(Err::script_out_of_range, &idx);
  }
  if (block::is_block_kind(t)) {
    *block::cell_at_index(s, at) = value;
    if (t == TYPE_HASH) hooks().hash_changed(s, at, 1);
  } else if (str::is_text_type(t)) {
    str::overwrite_code_point(s.node(), at, value.char_value());
  } else if (t == TYPE_BINARY) {
    uint8_t byte = hooks().binary_byte_of_arg(value);
    *unit_ptr(s, at) = byte;
  } else if (t == TYPE_VECTOR) {
    hooks().vector_set_element(s, unit_ptr(s, at), value);
  } else {
    fire_not_done(t);
  }
  notice.done(s, &value, static_cast<int32_t>(p), 1);
  return answer(call, value);
}

// ---- Structural actions --------------------------------------------------------------------------

Cell* clear_handler(ActionCall& call) {
  Cell s = call.result();
  if (head_past_tail(s)) return &call.result();
  ChangeNotice notice(s, Change::clear, nullptr, static_cast<int32_t>(s.head_index()), -1);
  uint32_t len = units_in_buffer(s.node());
  if (s.head_index() < len) {
    series_buffer(s.node())->set_length(s.head_index());
    if (s.is(TYPE_HASH)) hooks().hash_removed(s, s.head_index(), len - s.head_index());
  }
  notice.done(s, nullptr, static_cast<int32_t>(s.head_index()), -1);
  return &call.result();
}

// Runs the find action of the series' type on (series, key) with no refinements; answers the result.
Cell find_key(const Cell& s, const Cell& key) {
  Cell cells[2] = {s, key};
  ActionCall find{};
  find.args = cells;
  find.arg_count = 2;
  find.action = ActionIndex::find;
  ActionHandler h = action_handler(s.type(), ActionIndex::find);
  if (!h) fire_not_done(s.type());
  return *h(find);
}

Cell* remove_handler(ActionCall& call) {
  Cell s = call.result();
  int64_t count = 1;
  if (Cell* part = call.refinement_arg(REMOVE_PART)) {
    if (part->is(TYPE_INTEGER)) {
      count = part->int_value();
    } else if (same_series(*part, s)) {
      count = static_cast<int64_t>(part->head_index()) - s.head_index();
    } else {
      bad_refine_arg(call, REMOVE_PART, *part);
    }
  }
  if (count < 1) return &call.result();
  if (Cell* key = call.refinement_arg(REMOVE_KEY)) {
    Cell found = find_key(s, *key);
    if (found.is(TYPE_NONE)) return answer(call, shared_cells.none);
    s.set_head_index(found.head_index());
    count += 1;
    call.result() = s;
  }
  uint32_t len = units_in_buffer(s.node());
  if (s.head_index() >= len) return &call.result();
  ChangeNotice notice(s, Change::remove, nullptr, static_cast<int32_t>(s.head_index()),
                      static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX)));
  len = units_in_buffer(s.node());
  if (s.head_index() < len) {
    uint32_t n = static_cast<uint32_t>(std::min<int64_t>(count, len - s.head_index()));
    cut_units(s, s.head_index(), n);
  }
  notice.done(s, nullptr, static_cast<int32_t>(s.head_index()),
              static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX)));
  return &call.result();
}

}  // namespace

Cell take_core(ActionCall& call) {
  Cell s = call.result();
  bool last = call.has(TAKE_LAST);
  Cell* part = call.refinement_arg(TAKE_PART);
  uint32_t len = units_in_buffer(s.node());
  uint32_t h = std::min(s.head_index(), len);
  if (h >= len) return shared_cells.none;
  int64_t c = 1;
  if (part) {
    if (part->is(TYPE_INTEGER)) {
      c = part->int_value();
    } else if (same_series(*part, s)) {
      uint32_t ph = std::min(part->head_index(), len);
      if (last)
        c = len - ph;
      else
        c = ph < h ? 0 : static_cast<int64_t>(ph) - h;
    } else {
      bad_refine_arg(call, TAKE_PART, *part);
    }
  }
  uint32_t start, n;
  if (c > 0) {
    n = static_cast<uint32_t>(std::min<int64_t>(c, len - h));
    start = last ? len - n : h;
  } else if (last) {
    return copy_range(s, 0, 0);
  } else if (c < 0) {
    n = static_cast<uint32_t>(std::min<int64_t>(-c, h));
    start = h - n;
  } else {
    n = h > 0 ? 1 : 0;
    start = h - n;
  }
  ChangeNotice notice(s, Change::take, nullptr, static_cast<int32_t>(start), static_cast<int32_t>(n));
  len = units_in_buffer(s.node());
  if (start + n > len) n = start < len ? len - start : 0;  // the handler shortened the series
  Cell taken = copy_range(s, start, n);
  // The owner's handler runs user code: the new series is held only here until it returns.
  gc::ScopedRoot root([](void* cell) { gc::mark_value(*static_cast<const Cell*>(cell)); }, &taken);
  cut_units(s, start, n);
  notice.done(s, nullptr, static_cast<int32_t>(start), static_cast<int32_t>(n));
  return taken;
}

Cell* take_handler(ActionCall& call) { return answer(call, take_core(call)); }

Cell* copy_handler(ActionCall& call) {
  Cell s = call.result();
  uint32_t len = units_in_buffer(s.node());
  Span span{std::min(s.head_index(), len), len - std::min(s.head_index(), len)};
  if (Cell* part = call.refinement_arg(COPY_PART)) span = part_span(call, s, *part, COPY_PART);
  return answer(call, copy_range(s, span.start, span.count));
}

namespace {

Cell* move_handler(ActionCall& call) {
  Cell origin = call.result();
  Cell target = call.arg(1);
  auto is_series = [](TypeId t) {
    return block::is_block_kind(t) || str::is_text_type(t) || t == TYPE_BINARY || t == TYPE_VECTOR;
  };
  if (!is_series(origin.type())) fire_expect_arg(call, 0);
  if (!is_series(target.type())) fire_expect_arg(call, 1);
  uint32_t olen = units_in_buffer(origin.node());
  if (origin.head_index() >= olen) return answer(call, target);
  int64_t count = 1;
  if (Cell* part = call.refinement_arg(MOVE_PART)) {
    if (!part->is(TYPE_INTEGER)) bad_refine_arg(call, MOVE_PART, *part);
    count = part->int_value();
  }
  if (count < 1) return answer(call, target);
  uint32_t o = origin.head_index();
  uint32_t n = static_cast<uint32_t>(std::min<int64_t>(count, olen - o));

  if (origin.node() == target.node()) {
    uint32_t t = std::min(target.head_index(), olen);
    if (t >= o && t <= o + n) return answer(call, t == o ? target : origin);  // onto itself
    ChangeNotice notice(origin, Change::move, nullptr, static_cast<int32_t>(o), static_cast<int32_t>(n));
    olen = units_in_buffer(origin.node());
    if (o + n > olen || t > olen) return answer(call, target);  // the handler changed the series
    uint32_t unit = unit_of(origin);
    uint8_t* base = unit_ptr(origin, 0);
    // The moved units end up just before the unit that was at the target.
    if (t > o)
      str::rotate_bytes(base + static_cast<size_t>(o) * unit, static_cast<size_t>(n) * unit,
                        static_cast<size_t>(t - o - n) * unit);
    else
      str::rotate_bytes(base + static_cast<size_t>(t) * unit, static_cast<size_t>(o - t) * unit,
                        static_cast<size_t>(n) * unit);
    if (origin.is(TYPE_HASH)) hooks().hash_moved(origin, o, n, t > o ? t - n : t);
    notice.done(origin, nullptr, static_cast<int32_t>(o), static_cast<int32_t>(n));
    return answer(call, target);
  }

  TypeId ot = origin.type(), tt = target.type();
  bool oblock = block::is_block_kind(ot), tblock = block::is_block_kind(tt);
  bool otext = str::is_text_type(ot), ttext = str::is_text_type(tt);
  Cell ot_dt = datatype_cell(ot), tt_dt = datatype_cell(tt);
  if (oblock != tblock) fire(Err::script_move_bad, &ot_dt, &tt_dt);
  uint32_t ounit = unit_of(origin), tunit = unit_of(target);
  if (ounit != tunit && !(otext && ttext)) fire(Err::script_move_bad, &ot_dt, &tt_dt);

  ChangeNotice onotice(origin, Change::move, nullptr, static_cast<int32_t>(o), static_cast<int32_t>(n));
  ChangeNotice tnotice(target, Change::move, nullptr, static_cast<int32_t>(target.head_index()),
                       static_cast<int32_t>(n));
  olen = units_in_buffer(origin.node());
  if (o >= olen) return answer(call, target);
  n = std::min(n, olen - o);
  if (ounit != unit_of(target) || ounit != tunit) {
    Cell src = origin;
    str::move_head_units(src, target, n * unit_of(origin));
  } else {
    uint32_t unit = ounit;
    SeriesBuffer* tb = str::reserve_bytes(target.node(), static_cast<uint64_t>(n) * unit);
    uint32_t tlen = tb->length();
    uint32_t t = std::min(target.head_index(), tlen);
    uint8_t* at = tb->head_ptr() + static_cast<size_t>(t) * unit;
    std::memmove(at + static_cast<size_t>(n) * unit, at, static_cast<size_t>(tlen - t) * unit);
    std::memcpy(at, unit_ptr(origin, o), static_cast<size_t>(n) * unit);
    tb->tail += n * unit;
    if (target.is(TYPE_HASH)) hooks().hash_inserted(target, t, n);
    cut_units(origin, o, n);
  }
  onotice.done(origin, nullptr, static_cast<int32_t>(o), static_cast<int32_t>(n));
  tnotice.done(target, nullptr, static_cast<int32_t>(target.head_index()), static_cast<int32_t>(n));
  return answer(call, target);
}

Cell* reverse_handler(ActionCall& call) {
  Cell s = call.result();
  uint32_t len = units_in_buffer(s.node());
  uint32_t h = std::min(s.head_index(), len);
  int64_t count = len - h;
  if (Cell* part = call.refinement_arg(REVERSE_PART)) {
    if (part->is(TYPE_INTEGER))
      count = std::min<int64_t>(part->int_value(), len - h);
    else if (same_series(*part, s))
      count = static_cast<int64_t>(std::min(part->head_index(), len)) - h;
    else
      bad_refine_arg(call, REVERSE_PART, *part);
  }
  if (count < 1) return &call.result();
  int64_t skip = 1;
  if (Cell* sk = call.refinement_arg(REVERSE_SKIP)) {
    if (!sk->is(TYPE_INTEGER)) bad_refine_arg(call, REVERSE_SKIP, *sk);
    skip = sk->int_value();
    if (skip == count) return &call.result();
    if (skip < 1) fire(Err::script_out_of_range, sk);
    if (skip > count || count % skip != 0) bad_refine_arg(call, REVERSE_SKIP, *sk);
  }
  ChangeNotice notice(s, Change::reverse, nullptr, static_cast<int32_t>(h), static_cast<int32_t>(count));
  len = units_in_buffer(s.node());
  if (h + count > len) count = len > h ? (len - h) / skip * skip : 0;
  uint32_t unit = unit_of(s);
  uint32_t rec = static_cast<uint32_t>(skip) * unit;
  uint8_t* base = unit_ptr(s, h);
  int64_t records = count / skip;
  for (int64_t i = 0, j = records - 1; i < j; i++, j--)
    swap_units(base + i * rec, base + j * rec, rec);
  if (s.is(TYPE_HASH) && count > 0) hooks().hash_changed(s, h, static_cast<uint32_t>(count));
  notice.done(s, nullptr, static_cast<int32_t>(h), static_cast<int32_t>(count));
  return &call.result();
}

Cell* random_handler(ActionCall& call) {
  Cell s = call.result();
  bool secure = call.has(RANDOM_SECURE);
  if (call.has(RANDOM_SEED)) {
    uint32_t len = units_in_buffer(s.node());
    uint32_t h = std::min(s.head_index(), len);
    uint32_t unit = unit_of(s);
    random::seed(static_cast<int32_t>(hash_of_bytes(unit_ptr(s, h), static_cast<size_t>(len - h) * unit)));
    return answer(call, shared_cells.unset);
  }
  if (call.has(RANDOM_ONLY)) {
    uint32_t n = count_from_head(s);
    if (n < 1) return answer(call, shared_cells.none);
    uint32_t i = static_cast<uint32_t>(random::integer_upto(secure, static_cast<int32_t>(n))) - 1;
    return answer(call, element_at(s, s.head_index() + i));
  }
  ChangeNotice notice(s, Change::random, nullptr, static_cast<int32_t>(s.head_index()), -1);
  uint32_t len = units_in_buffer(s.node());
  uint32_t unit = unit_of(s);
  for (uint32_t i = s.head_index(); i + 1 < len; i++) {
    uint32_t j = i + static_cast<uint32_t>(random::integer_upto(secure, static_cast<int32_t>(len - i))) - 1;
    if (j != i) swap_units(unit_ptr(s, i), unit_ptr(s, j), unit);
  }
  if (s.is(TYPE_HASH) && s.head_index() < len) hooks().hash_changed(s, s.head_index(), len - s.head_index());
  notice.done(s, nullptr, static_cast<int32_t>(s.head_index()), -1);
  return &call.result();
}

}  // namespace

Cell* reflect_handler(ActionCall& call) {
  const Cell& field = call.arg(1);
  if (!wiring.word_is(field, "owned")) fire(Err::internal_not_done, &field);
  const Cell* owner = ownership::lookup(call.result().node());
  return answer(call, owner ? *owner : shared_cells.none);
}

Cell* modify_handler(ActionCall& call) {
  Cell s = call.result();
  Cell value = call.arg(2);
  if (wiring.word_is(call.arg(1), "owned")) {
    if (value.is(TYPE_NONE)) {
      ownership::unbind(s);
    } else if (value.is(TYPE_BLOCK) && block::length(value) >= 2) {
      Cell owner = block::head_of(value)[0];
      Cell word = block::head_of(value)[1];
      ownership::set_owner(s, owner, word);
    }
  }
  return answer(call, value);
}

void register_series_type() {
  HandlerRow row;
  row.set(ActionIndex::random, random_handler)
      .set(ActionIndex::reflect, reflect_handler)
      .set(ActionIndex::at, at_handler)
      .set(ActionIndex::back, back_handler)
      .set(ActionIndex::clear, clear_handler)
      .set(ActionIndex::copy, copy_handler)
      .set(ActionIndex::head, head_handler)
      .set(ActionIndex::head_q, head_q_handler)
      .set(ActionIndex::index_q, index_q_handler)
      .set(ActionIndex::length_q, length_q_handler)
      .set(ActionIndex::move, move_handler)
      .set(ActionIndex::next, next_handler)
      .set(ActionIndex::pick, pick_handler)
      .set(ActionIndex::poke, poke_handler)
      .set(ActionIndex::remove, remove_handler)
      .set(ActionIndex::reverse, reverse_handler)
      .set(ActionIndex::skip, skip_handler)
      .set(ActionIndex::tail, tail_handler)
      .set(ActionIndex::tail_q, tail_q_handler)
      .set(ActionIndex::take, take_handler)
      .set(ActionIndex::modify, modify_handler);
  register_type(TYPE_SERIES, TYPE_NONE_ID, "series!", row);
}

}  // namespace zem::series
