// string!: the text action handlers (make, to, find, insert, change, sort, trim, mold...) shared by
// the string kinds.
#include "datatypes/string.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "runtime/casefold.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/sort.h"
#include "runtime/support.h"
#include "runtime/unicode.h"
#include "runtime/wiring.h"

namespace zem::strings {

using ownership::Change;
using ownership::ChangeNotice;

namespace {

Cell char_cell(uint32_t cp) {
  Cell c{};
  c.set_header(TYPE_CHAR);
  c.set_char_value(cp);
  return c;
}

Cell* answer(ActionCall& call, const Cell& value) {
  call.result() = value;
  return &call.result();
}

inline uint32_t units(NodeId node) { return series_buffer(node)->length(); }
inline uint32_t unit_of(NodeId node) { return series_buffer(node)->unit(); }
inline uint8_t* unit_ptr(NodeId node, uint64_t index) {
  SeriesBuffer* b = series_buffer(node);
  return b->head_ptr() + index * b->unit();
}
inline uint32_t cp_at(NodeId node, uint64_t index) {
  return str::get_char(unit_ptr(node, index), unit_of(node));
}

// The unit a code point needs when it is added as a char! (unit 1 keeps ASCII only).
inline uint32_t unit_for_char(uint32_t cp) { return cp < 0x80 ? 1 : cp <= 0xFFFF ? 2 : 4; }

// A size computed for a change or an append that no series can hold.
uint32_t checked_size(uint64_t n) {
  if (n > static_cast<uint64_t>(kMaxSeriesBytes)) fire(Err::internal_no_memory);
  return static_cast<uint32_t>(n);
}

// A count argument: integer!, or a float! truncated.
int32_t count_arg(const Cell& c) {
  if (c.is(TYPE_INTEGER)) return c.int_value();
  if (c.is(TYPE_FLOAT) || c.is(TYPE_PERCENT)) return float_to_int_checked(c);
  fire(Err::script_invalid_arg, &c);
}

inline bool is_string_family(TypeId t) { return str::is_text_type(t); }
inline bool is_plain_text(TypeId t) { return str::is_text_type(t) && t != TYPE_TAG; }

}  // namespace

// A word naming a refinement, for error arguments (none before the symbol table exists).
Cell refinement_word(std::string_view name) {
  if (symbol_state.block == 0) return shared_cells.none;
  Cell w{};
  w.set_header(TYPE_WORD);
  w.set_word(0, symbol::intern(name), Cell::kNoIndex);
  return w;
}

[[noreturn]] void fire_refine_arg(std::string_view refinement, const Cell& arg) {
  Cell w = refinement_word(refinement);
  fire(Err::script_invalid_refine_arg, &w, &arg);
}

uint32_t fold(uint32_t cp) { return casefold::map_char(cp, true); }

// ---- Comparison ----------------------------------------------------------------------------------

namespace {

// Code points of a value's text: a string-family value's units from its head, or a word's name.
struct TextView {
  const uint8_t* p = nullptr;
  uint32_t unit = 4;
  uint32_t n = 0;
  std::vector<uint32_t> own;

  uint32_t at(uint32_t i) const { return str::get_char(p + static_cast<size_t>(i) * unit, unit); }
};

void decode_name(std::string_view utf8, std::vector<uint32_t>& out) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
  const uint8_t* end = p + utf8.size();
  while (p < end) {
    size_t len = static_cast<size_t>(end - p);
    int32_t cp = unicode::decode_utf8_checked(p, len);
    if (cp < 0) break;
    out.push_back(static_cast<uint32_t>(cp));
    p += len;
  }
}

// Valid until the next allocation or write into the value's buffer.
void view_of(const Cell& v, TextView& view) {
  if (block::is_word_kind(v.type())) {
    view.own.clear();
    decode_name(symbol::name(v.word_symbol()), view.own);
    view.p = reinterpret_cast<const uint8_t*>(view.own.data());
    view.unit = 4;
    view.n = static_cast<uint32_t>(view.own.size());
    return;
  }
  SeriesBuffer* b = series_buffer(v.node());
  view.unit = b->unit();
  view.n = str::count_from_head(v);
  view.p = b->head_ptr() + static_cast<size_t>(std::min(v.head_index(), b->length())) * view.unit;
}

bool is_exact(CompareOp op) {
  return op == COMP_STRICT_EQUAL || op == COMP_CASE_SORT || op == COMP_PARSE_CASE;
}

int32_t compare_handler(const Cell& a, const Cell& b, CompareOp op) {
  if (op == COMP_SAME)
    return a.type() == b.type() && a.node() == b.node() && a.head_index() == b.head_index() ? 0 : -1;
  if (a.type() != b.type()) {
    if (!(is_string_family(a.type()) && is_string_family(b.type()))) return kCannotCompare;
    if (op != COMP_EQUAL && op != COMP_NOT_EQUAL) return kCannotCompare;
  }
  return compare_values(a, b, op);
}

}  // namespace

int32_t compare_values(const Cell& a, const Cell& b, CompareOp op, bool match_at_head) {
  if (a.is(TYPE_SYMBOL) || b.is(TYPE_SYMBOL)) {
    Cell na = a.is(TYPE_SYMBOL) ? symbol::name_string_of(a) : a;
    Cell nb = b.is(TYPE_SYMBOL) ? symbol::name_string_of(b) : b;
    return compare_values(na, nb, op, match_at_head);
  }
  if (op == COMP_SAME) return a.node() == b.node() && a.head_index() == b.head_index() ? 0 : -1;
  bool equality = is_equality_op(op);
  if (equality && !block::is_word_kind(a.type()) && !block::is_word_kind(b.type()) &&
      a.node() == b.node() && a.head_index() == b.head_index())
    return 0;
  TextView va, vb;
  view_of(a, va);
  view_of(b, vb);
  uint32_t n;
  if (match_at_head) {
    if (vb.n > va.n) return 1;
    if (vb.n == 0) return op == COMP_FIND ? 1 : 0;
    n = vb.n;
  } else {
    if (equality && va.n != vb.n) return 1;
    n = std::min(va.n, vb.n);
  }
  if (int32_t d = first_difference(va.p, va.unit, vb.p, vb.unit, n, is_exact(op))) return d;
  if (match_at_head || va.n == vb.n) return 0;
  return va.n < vb.n ? -1 : 1;
}

namespace {

// How many leading units of two texts of one width have the same bytes: such units are equal under
// every comparison, so only the rest needs decoding and case folding.
uint32_t same_units(const uint8_t* a, const uint8_t* b, uint32_t n, uint32_t unit) {
  size_t bytes = static_cast<size_t>(n) * unit, i = 0;
  for (; i + 8 <= bytes; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) {
      i += static_cast<size_t>(__builtin_ctzll(x ^ y)) / 8;
      return static_cast<uint32_t>(i / unit);
    }
  }
  while (i < bytes && a[i] == b[i]) i++;
  return static_cast<uint32_t>(i / unit);
}

}  // namespace

int32_t first_difference(const uint8_t* a, uint32_t unit_a, const uint8_t* b, uint32_t unit_b,
                         uint32_t n, bool exact) {
  uint32_t from = unit_a == unit_b ? same_units(a, b, n, unit_a) : 0;
  for (uint32_t i = from; i < n; i++) {
    uint32_t ca = str::get_char(a + static_cast<size_t>(i) * unit_a, unit_a);
    uint32_t cb = str::get_char(b + static_cast<size_t>(i) * unit_b, unit_b);
    if (ca == cb) continue;
    if (!exact) {
      ca = fold(ca);
      cb = fold(cb);
      if (ca == cb) continue;
    }
    return ca < cb ? -1 : 1;
  }
  return 0;
}

// ---- Form and mold -------------------------------------------------------------------------------

int32_t form(const Cell& value, TextOut& out, const Cell* part, int32_t limit) {
  uint32_t n = str::count_from_head(value);
  if (part) n = limit < 1 ? 0 : std::min<uint32_t>(n, static_cast<uint32_t>(limit));
  if (auto* so = dynamic_cast<str::StringOut*>(&out)) {
    Cell target{};
    target.set_header(TYPE_STRING);
    target.set_node(so->node());
    str::concatenate(target, value, static_cast<int32_t>(n), 0, true, str::ConcatMode::append);
  } else {
    for (uint32_t i = 0; i < n; i++) out.append_code_point(str::code_point_at(value, i));
  }
  return limit - static_cast<int32_t>(n);
}

void form_onto(NodeId node, const Cell& value) {
  str::StringOut out(node);
  block::form_value(value, out, nullptr, kNoLimit);
}

namespace {

// Counts what it passes on, for the limit that mold answers.
class CountingOut final : public TextOut {
 public:
  explicit CountingOut(TextOut& inner) : inner_(inner) {}
  void append_ascii(std::string_view text) override {
    count_ += static_cast<int64_t>(text.size());
    inner_.append_ascii(text);
  }
  void append_code_point(uint32_t cp) override {
    count_++;
    inner_.append_code_point(cp);
  }
  int64_t count() const { return count_; }

 private:
  TextOut& inner_;
  int64_t count_ = 0;
};

// Characters of "^X" for the control codes 0x00-0x1F (0x1E has its own form).
constexpr char kControlEscapes[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";

void append_hex_escape(TextOut& out, uint32_t cp) {
  out.append_ascii("^(");
  out.append_ascii(str::int_to_hex(static_cast<int32_t>(cp), true));
  out.append_ascii(")");
}

}  // namespace

void append_escaped_char(TextOut& out, uint32_t cp, bool all) {
  if (cp == 0x1E || (cp >= 0x80 && cp <= 0x9F) || (cp > 0x7F && all)) {
    append_hex_escape(out, cp);
  } else if (cp < 0x20) {
    char esc[3] = {'^', kControlEscapes[cp], 0};
    out.append_ascii(esc);
  } else if (cp == '"' || cp == '^') {
    char esc[3] = {'^', static_cast<char>(cp), 0};
    out.append_ascii(esc);
  } else if (cp == 0x7F) {
    out.append_ascii("^~");
  } else {
    out.append_code_point(cp);
  }
}

int32_t mold(const Cell& value, TextOut& sink, MoldFlags flags, const Cell* part, int32_t limit,
             int32_t) {
  uint32_t total = str::count_from_head(value);
  uint32_t n = total;
  if (part) n = limit < 1 ? 0 : std::min<uint32_t>(n, static_cast<uint32_t>(limit));
  // The text is copied first: the output may be the value's own buffer.
  std::vector<uint32_t> text(n);
  uint32_t line_feeds = 0;
  bool quote = false;
  for (uint32_t i = 0; i < n; i++) {
    text[i] = str::code_point_at(value, i);
    line_feeds += text[i] == '\n';
    quote |= text[i] == '"';
  }
  CountingOut out(sink);
  if (line_feeds < 3 && !quote && total < 50) {
    out.append_ascii("\"");
    for (uint32_t cp : text) append_escaped_char(out, cp, flags.all);
    out.append_ascii("\"");
  } else {
    // A "{" stays as it is while it has a matching "}" and no unmatched "{" came before it; an
    // escaped "{" opens nothing, so a "}" is escaped whenever no plain "{" is open.
    uint32_t first_unmatched = n;
    std::vector<uint32_t> open;
    for (uint32_t i = 0; i < n; i++) {
      if (text[i] == '{') {
        open.push_back(i);
      } else if (text[i] == '}' && !open.empty()) {
        open.pop_back();
      }
    }
    if (!open.empty()) first_unmatched = open.front();
    uint32_t depth = 0;
    out.append_ascii("{");
    for (uint32_t i = 0; i < n; i++) {
      uint32_t cp = text[i];
      if (cp == '{') {
        if (i < first_unmatched) {
          out.append_ascii("{");
          depth++;
        } else {
          out.append_ascii("^{");
        }
      } else if (cp == '}') {
        if (depth > 0) {
          out.append_ascii("}");
          depth--;
        } else {
          out.append_ascii("^}");
        }
      } else if (cp == '"') {
        out.append_ascii("\"");
      } else {
        append_escaped_char(out, cp, flags.all);
      }
    }
    out.append_ascii("}");
  }
  int64_t left = static_cast<int64_t>(limit) - out.count();
  return static_cast<int32_t>(std::max<int64_t>(left, INT32_MIN));
}

// ---- Append and insert ---------------------------------------------------------------------------

void append_text(const Cell& series, const Cell& value, int32_t part, int32_t dup) {
  NodeId node = series.node();
  uint32_t start = units(node);
  TypeId t = value.type();
  if (is_plain_text(t)) {
    Cell target = series;
    str::concatenate(target, value, part, 0, true, str::ConcatMode::append);
  } else if (t == TYPE_CHAR) {
    str::append_code_point(node, value.char_value());
  } else if (t == TYPE_TAG) {
    int64_t budget = part < 0 ? INT64_MAX : part;
    if (budget-- > 0) str::append_code_point(node, '<');
    if (budget > 0) {
      uint32_t n = str::count_from_head(value);
      Cell target = series;
      str::concatenate(target, value, static_cast<int32_t>(std::min<int64_t>(budget, n)), 0, true,
                       str::ConcatMode::append);
      budget -= n;
    }
    if (budget > 0) str::append_code_point(node, '>');
  } else if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) {
    uint32_t n = block::length(value);
    if (part >= 0) n = std::min<uint32_t>(n, static_cast<uint32_t>(part));
    for (uint32_t i = 0; i < n && i < block::length(value); i++) {
      Cell v = block::head_of(value)[i];
      form_onto(node, v);
    }
  } else {
    form_onto(node, value);
    if (part >= 0 && units(node) > start + static_cast<uint32_t>(part))
      series_buffer(node)->set_length(start + static_cast<uint32_t>(part));
  }
  if (dup <= 1) return;
  SeriesBuffer* b = series_buffer(node);
  uint32_t added = b->length() - start;
  uint32_t unit = b->unit();
  uint64_t need = (static_cast<uint64_t>(added) * static_cast<uint64_t>(dup) + start) * unit;
  if (need > static_cast<uint64_t>(kMaxSeriesBytes)) {
    b->set_length(start);  // nothing of the failed append stays
    fire(Err::internal_no_memory);
  }
  if (added == 0) return;
  uint32_t bytes = added * unit;
  b = str::reserve_bytes(node, static_cast<uint64_t>(bytes) * (dup - 1));
  replicate_bytes(b->head_ptr() + static_cast<size_t>(start) * unit, bytes,
                  static_cast<uint32_t>(dup));
  b->tail += bytes * static_cast<uint32_t>(dup - 1);
}

namespace {

struct AddArgs {
  int32_t part = -1;
  int32_t dup = 1;
};

AddArgs add_args(ActionCall& call) {
  AddArgs a;
  if (Cell* p = call.refinement_arg(APPEND_PART)) a.part = std::max(count_arg(*p), 0);
  if (Cell* d = call.refinement_arg(APPEND_DUP)) a.dup = count_arg(*d);
  return a;
}

Cell* append_handler(ActionCall& call) {
  AddArgs a = add_args(call);
  Cell s = call.result();
  Cell value = call.arg(1);
  if (a.dup >= 1 && a.part != 0) {
    int32_t at = static_cast<int32_t>(units(s.node()));
    ChangeNotice notice(s, Change::append, &value, at, -1);
    append_text(s, value, a.part, a.dup);
    notice.done(s, &value, at, static_cast<int32_t>(units(s.node())) - at);
  }
  call.result().set_head_index(0);
  return &call.result();
}

Cell* insert_handler(ActionCall& call) {
  AddArgs a = add_args(call);
  Cell s = call.result();
  Cell value = call.arg(1);
  if (a.dup < 1 || a.part == 0) return &call.result();
  NodeId node = s.node();
  uint32_t h = std::min(s.head_index(), units(node));
  ChangeNotice notice(s, Change::insert, &value, static_cast<int32_t>(h), -1);
  uint32_t len = units(node);
  h = std::min(h, len);
  append_text(s, value, a.part, a.dup);
  SeriesBuffer* b = series_buffer(node);
  uint32_t added = b->length() - len;
  if (h < len) {
    uint32_t unit = b->unit();
    str::rotate_bytes(b->head_ptr() + static_cast<size_t>(h) * unit,
                      static_cast<size_t>(len - h) * unit, static_cast<size_t>(added) * unit);
  }
  notice.done(s, &value, static_cast<int32_t>(h), static_cast<int32_t>(added));
  call.result().set_head_index(std::min(h + added, units(node)));
  return &call.result();
}

Cell* take_handler(ActionCall& call) {
  bool counted = call.has(TAKE_PART);
  Cell taken = series::take_core(call);
  if (!counted && !taken.is(TYPE_NONE) && units(taken.node()) == 1) {
    const uint8_t* p = unit_ptr(taken.node(), 0);
    if (taken.is(TYPE_BINARY)) return answer(call, make_integer(*p));
    if (taken.is(TYPE_VECTOR)) return answer(call, further_type_hooks().vector_element(taken, p));
    return answer(call, char_cell(str::get_char(p, unit_of(taken.node()))));
  }
  return answer(call, taken);
}

}  // namespace

// ---- make and to ---------------------------------------------------------------------------------

namespace {

TypeId target_type(const Cell& c) {
  return c.is(TYPE_DATATYPE) ? c.datatype_id() : c.type();
}

Cell to_value(TypeId target, const Cell& source) {
  Cell result;
  TypeId t = source.type();
  if (t == TYPE_NONE) {
    Cell type = datatype_cell(target);
    fire(Err::script_bad_to_arg, &type, &source);
  } else if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) {
    result = str::make_string(block::length(source));
    append_text(result, source, -1, 1);
  } else if (is_string_family(t)) {
    uint32_t len = units(source.node());
    uint32_t h = std::min(source.head_index(), len);
    result = series::copy_range(source, h, len - h);
  } else if (t == TYPE_BINARY) {
    SeriesBuffer* b = series_buffer(source.node());
    uint32_t h = std::min(source.head_index(), b->length());
    result = str::load_utf8_bytes(b->head_ptr() + h, b->length() - h);
  } else if (t == TYPE_REFINEMENT && target != TYPE_STRING) {
    result = str::make_string(16);
    str::StringOut out(result.node());
    block::mold_value(source, out, MoldFlags{}, nullptr, kNoLimit, 0);
  } else {
    result = str::make_string(16);
    form_onto(result.node(), source);
  }
  result.set_header(target);
  return result;
}

}  // namespace

Cell* make_handler(ActionCall& call) {
  TypeId target = target_type(call.arg(0));
  const Cell& spec = call.arg(1);
  if (spec.is(TYPE_INTEGER) || spec.is(TYPE_FLOAT)) {
    int32_t n = spec.is(TYPE_INTEGER) ? spec.int_value() : float_to_int_checked(spec);
    if (n < 0) fire(Err::script_out_of_range, &spec);
    return answer(call, str::make_string(static_cast<uint32_t>(n), target));
  }
  return answer(call, to_value(target, spec));
}

Cell* to_handler(ActionCall& call) {
  return answer(call, to_value(target_type(call.arg(0)), call.arg(1)));
}

// ---- change --------------------------------------------------------------------------------------

namespace {

// change's cores after the notification; answers the units inserted.
uint32_t change_text(Cell& s, const Cell& value, int32_t part, int32_t dup) {
  NodeId node = s.node();
  uint32_t total = units(node);
  uint32_t h = std::min(s.head_index(), total);
  uint32_t avail = total - h;
  TypeId t = value.type();

  if (h == total) {
    append_text(s, value, -1, dup);
    return units(node) - total;
  }

  // The inserted text: formed onto the tail of the series itself, or gathered aside.
  bool formed = !(str::is_text_type(t) || t == TYPE_CHAR);
  std::vector<uint32_t> gathered;
  uint32_t value_unit = 1;
  uint32_t L;
  if (formed) {
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH)
      append_text(s, value, -1, 1);
    else
      form_onto(node, value);
    L = units(node) - total;
    value_unit = unit_of(node);
  } else if (t == TYPE_CHAR) {
    gathered.push_back(value.char_value());
    value_unit = unit_for_char(value.char_value());
    L = 1;
  } else {
    uint32_t n = str::count_from_head(value);
    gathered.reserve(n + 2);
    if (t == TYPE_TAG) gathered.push_back('<');
    for (uint32_t i = 0; i < n; i++) gathered.push_back(str::code_point_at(value, i));
    if (t == TYPE_TAG) gathered.push_back('>');
    value_unit = unit_of(value.node());
    L = static_cast<uint32_t>(gathered.size());
  }

  uint32_t unit = std::max(unit_of(node), value_unit);
  uint64_t inserted = static_cast<uint64_t>(L) * static_cast<uint64_t>(dup);
  uint32_t I = checked_size(inserted);
  uint32_t R = part >= 0 ? std::min<uint32_t>(static_cast<uint32_t>(part), avail) : std::min(I, avail);
  uint32_t rest = avail - R;
  uint64_t new_units = static_cast<uint64_t>(total) + I - R;
  checked_size(new_units * unit);
  if (L == 0) {  // nothing to write: the replaced units go
    if (formed) series_buffer(node)->set_length(total);
    Cell at = s;
    at.set_series(h, node);
    at.set_text_cache(0);
    str::remove_units(at, 0, R);
    return 0;
  }

  SeriesBuffer* b = str::widen_to(node, unit);
  if (formed) {
    // [head][replaced R][rest][T]: drop the replaced units, make room for the further copies,
    // then one rotation brings T to the head position.
    uint8_t* p = b->head_ptr() + static_cast<size_t>(h) * unit;
    std::memmove(p, p + static_cast<size_t>(R) * unit, static_cast<size_t>(rest + L) * unit);
    b->tail -= R * unit;
    uint64_t extra = static_cast<uint64_t>(L) * (dup - 1) * unit;
    b = str::reserve_bytes(node, extra);
    p = b->head_ptr() + static_cast<size_t>(h) * unit;
    str::rotate_bytes(p, static_cast<size_t>(rest) * unit, static_cast<size_t>(L) * unit);
    if (dup > 1) {
      std::memmove(p + static_cast<size_t>(I) * unit, p + static_cast<size_t>(L) * unit,
                   static_cast<size_t>(rest) * unit);
      replicate_bytes(p, L * unit, static_cast<uint32_t>(dup));
      b->tail += static_cast<uint32_t>(extra);
    }
    return I;
  }
  uint64_t need = new_units * unit;
  if (need > b->capacity - b->head) b = alloc::expand_copy(node, static_cast<int64_t>(need));
  uint8_t* p = b->head_ptr() + static_cast<size_t>(h) * unit;
  std::memmove(p + static_cast<size_t>(I) * unit, p + static_cast<size_t>(R) * unit,
               static_cast<size_t>(rest) * unit);
  b->set_length(static_cast<uint32_t>(new_units));
  for (uint32_t i = 0; i < L; i++) str::put_char(p + static_cast<size_t>(i) * unit, unit, gathered[i]);
  if (dup > 1) replicate_bytes(p, L * unit, static_cast<uint32_t>(dup));
  return I;
}

Cell* change_handler(ActionCall& call) {
  AddArgs a = add_args(call);
  Cell& s = call.result();
  Cell value = call.arg(1);
  if (a.dup < 1) return &s;
  Cell* part_cell = call.refinement_arg(APPEND_PART);
  int32_t part = part_cell ? a.part : -1;
  uint32_t len = units(s.node());
  s.set_head_index(std::min(s.head_index(), len));
  uint32_t avail = len - s.head_index();
  if (part >= 0) part = std::min<int32_t>(part, static_cast<int32_t>(avail));
  int64_t announced = part;
  if (part < 0) {
    int64_t values = block::is_block_kind(value.type()) ? block::length(value) : 1;
    announced = std::min<int64_t>(values * a.dup, avail);
  }
  Cell target = s;
  ChangeNotice notice(target, Change::change, &value, static_cast<int32_t>(target.head_index()),
                      static_cast<int32_t>(announced));
  uint32_t I = change_text(target, value, part, a.dup);
  uint32_t h = std::min(target.head_index(), units(target.node()));
  notice.done(target, &value, static_cast<int32_t>(h), static_cast<int32_t>(I));
  Cell& result = call.result();
  result = target;
  result.set_head_index(std::min(h + I, units(target.node())));
  return &result;
}

// ---- swap ----------------------------------------------------------------------------------------

Cell* swap_handler(ActionCall& call) {
  Cell s1 = call.result();
  Cell s2 = call.arg(1);
  if (!str::is_text_type(s2.type()) && !s2.is(TYPE_BINARY)) fire(Err::script_invalid_arg, &s2);
  if (series::head_past_tail(s1) || series::head_past_tail(s2)) return &call.result();
  ChangeNotice n1(s1, Change::swap, nullptr, static_cast<int32_t>(s1.head_index()), 1);
  ChangeNotice n2(s2, Change::swap, nullptr, static_cast<int32_t>(s2.head_index()), 1);
  if (series::head_past_tail(s1) || series::head_past_tail(s2)) return &call.result();
  uint32_t c1 = cp_at(s1.node(), s1.head_index());
  uint32_t c2 = cp_at(s2.node(), s2.head_index());
  str::overwrite_code_point(s1.node(), s1.head_index(), c2);
  str::overwrite_code_point(s2.node(), s2.head_index(), c1);
  n1.done(s1, nullptr, static_cast<int32_t>(s1.head_index()), 1);
  n2.done(s2, nullptr, static_cast<int32_t>(s2.head_index()), 1);
  return &call.result();
}

// ---- trim ----------------------------------------------------------------------------------------

bool in_common_wide_list(uint32_t c) {
  return c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}
// Every control code, space and the Unicode blanks (NUL excluded).
bool is_wide_space(uint32_t c) { return (c >= 1 && c <= 0x20) || in_common_wide_list(c); }
// Blanks within a line: space, tab and the Unicode blanks (no line ends).
bool is_inline_space(uint32_t c) { return c == ' ' || c == '\t' || in_common_wide_list(c); }

// The text from the head as a window of units to rewrite in place.
struct Window {
  uint8_t* p;
  uint32_t unit;
  uint32_t n;
  uint32_t get(uint32_t i) const { return str::get_char(p + static_cast<size_t>(i) * unit, unit); }
  void put(uint32_t i, uint32_t cp) { str::put_char(p + static_cast<size_t>(i) * unit, unit, cp); }
};

Window window_of(const Cell& s) {
  SeriesBuffer* b = series_buffer(s.node());
  uint32_t h = std::min(s.head_index(), b->length());
  return {b->head_ptr() + static_cast<size_t>(h) * b->unit(), b->unit(), b->length() - h};
}

void set_length_from_head(const Cell& s, uint32_t n) {
  SeriesBuffer* b = series_buffer(s.node());
  b->set_length(std::min(s.head_index(), b->length()) + n);
}

}  // namespace

void trim_chars(const Cell& s, const Cell* with) {
  std::vector<uint32_t> set;
  if (!with) {
    set = {'\t', '\n', '\r', ' '};
  } else if (str::is_text_type(with->type()) || with->is(TYPE_BINARY)) {
    SeriesBuffer* b = series_buffer(with->node());
    uint32_t h = std::min(with->head_index(), b->length());
    for (uint32_t i = h; i < b->length(); i++)
      set.push_back(str::get_char(b->head_ptr() + static_cast<size_t>(i) * b->unit(), b->unit()));
  } else if (with->is(TYPE_CHAR) || with->is(TYPE_INTEGER)) {
    set.push_back(with->char_value());  // an integer's value as the code point
  } else {
    fire(Err::script_invalid_arg, with);
  }
  std::sort(set.begin(), set.end());
  Window w = window_of(s);
  uint32_t out = 0;
  for (uint32_t i = 0; i < w.n; i++) {
    uint32_t c = w.get(i);
    if (std::binary_search(set.begin(), set.end(), c)) continue;
    if (out != i) w.put(out, c);
    out++;
  }
  set_length_from_head(s, out);
}

void trim_lines(const Cell& s) {
  Window w = window_of(s);
  enum { NOTHING, TEXT, BLANK } last = NOTHING;
  uint32_t out = 0;
  for (uint32_t i = 0; i < w.n; i++) {
    uint32_t c = w.get(i);
    if (is_wide_space(c)) {
      if (last == TEXT) {
        w.put(out++, ' ');
        last = BLANK;
      }
      continue;
    }
    w.put(out++, c);
    last = TEXT;
  }
  if (last == BLANK) out--;
  set_length_from_head(s, out);
}

void trim_ends(const Cell& s, bool head, bool tail) {
  Window w = window_of(s);
  uint32_t r = 0, end = w.n;
  if (head || !tail)
    while (r < end && is_wide_space(w.get(r))) r++;
  bool line_feed = false;
  if (tail || !head) {
    while (end > r && is_wide_space(w.get(end - 1))) {
      if (w.get(end - 1) == '\n') line_feed = true;
      end--;
    }
  }
  uint32_t out = 0;
  if (!head && !tail) {
    bool line_start = false;
    int64_t run = -1;  // where the present run of blanks began in the output
    for (uint32_t i = r; i < end; i++) {
      uint32_t c = w.get(i);
      if (c == '\n') {
        if (run >= 0) out = static_cast<uint32_t>(run);
        w.put(out++, c);
        line_start = true;
        run = -1;
      } else if (is_inline_space(c)) {
        if (line_start) continue;
        if (run < 0) run = out;
        w.put(out++, c);
      } else {
        w.put(out++, c);
        line_start = false;
        run = -1;
      }
    }
  } else {
    std::memmove(w.p, w.p + static_cast<size_t>(r) * w.unit, static_cast<size_t>(end - r) * w.unit);
    out = end - r;
  }
  if (line_feed && !tail) w.put(out++, '\n');
  set_length_from_head(s, out);
}

namespace {

Cell* trim_handler(ActionCall& call) {
  Cell s = call.result();
  ChangeNotice notice(s, Change::trim, nullptr, static_cast<int32_t>(s.head_index()), 0);
  if (call.has(TRIM_ALL) || call.has(TRIM_WITH)) {
    trim_chars(s, call.refinement_arg(TRIM_WITH));
  } else if (call.has(TRIM_AUTO)) {
    fire(Err::internal_not_done);
  } else if (call.has(TRIM_LINES)) {
    trim_lines(s);
  } else {
    trim_ends(s, call.has(TRIM_HEAD), call.has(TRIM_TAIL));
  }
  notice.done(s, nullptr, static_cast<int32_t>(s.head_index()), 0);
  return &call.result();
}

}  // namespace

// ---- Set operations ------------------------------------------------------------------------------

Cell set_operation(MathOp op, const Cell& set1_in, const Cell& set2_in, bool case_sensitive,
                   const Cell* skip, const Cell* skip_word) {
  int32_t r = 1;
  if (skip) {
    r = skip->is(TYPE_INTEGER) ? skip->int_value() : 0;
    if (r < 1) {
      Cell w = skip_word ? *skip_word : refinement_word("skip");
      fire(Err::script_invalid_refine_arg, &w, skip);
    }
  }
  Cell set1 = set1_in, set2 = set2_in;
  set1.set_head_index(std::min(set1.head_index(), units(set1.node())));
  if (op != OP_UNIQUE) set2.set_head_index(std::min(set2.head_index(), units(set2.node())));
  uint64_t capacity = str::count_from_head(set1);
  if (op == OP_UNION) capacity += str::count_from_head(set2);
  Cell result = str::make_string(checked_size(capacity));
  uint32_t step = static_cast<uint32_t>(r);

  enum class Keep { all, found, missing };
  auto pass = [&](const Cell& source, const Cell* other, Keep keep) {
    uint32_t n = str::count_from_head(source);
    for (uint32_t i = 0; i < n; i += step) {
      uint32_t key = str::code_point_at(source, i);
      if (keep != Keep::all) {
        bool found = str::contains_code_point(*other, key, step, case_sensitive);
        if (found != (keep == Keep::found)) continue;
      }
      if (str::contains_code_point(result, key, step, case_sensitive)) continue;
      uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(i) + step, n));
      for (uint32_t j = i; j < end; j++) str::append_code_point(result.node(), str::code_point_at(source, j));
    }
  };
  switch (op) {
    case OP_UNIQUE:
      pass(set1, nullptr, Keep::all);
      break;
    case OP_UNION:
      pass(set1, nullptr, Keep::all);
      pass(set2, nullptr, Keep::all);
      break;
    case OP_INTERSECT:
      pass(set1, &set2, Keep::found);
      break;
    case OP_EXCLUDE:
      pass(set1, &set2, Keep::missing);
      break;
    case OP_DIFFERENCE:
      pass(set1, &set2, Keep::missing);
      pass(set2, &set1, Keep::missing);
      break;
    default:
      fire(Err::internal_not_done);
  }
  return result;
}

// ---- Sort ----------------------------------------------------------------------------------------

int32_t compare_records(const uint8_t* a, const uint8_t* b, uint32_t unit, bool exact,
                        uint32_t flags) {
  uint32_t first = 0, n = 1;
  if (flags & 2)
    n = flags >> 2;
  else
    first = flags >> 2;
  int32_t d = 0;
  for (uint32_t i = first; i < first + n; i++) {
    uint32_t ca = str::get_char(a + static_cast<size_t>(i) * unit, unit);
    uint32_t cb = str::get_char(b + static_cast<size_t>(i) * unit, unit);
    if (ca == cb) continue;
    if (!exact) {
      ca = fold(ca);
      cb = fold(cb);
    }
    d = static_cast<int32_t>(ca) - static_cast<int32_t>(cb);
    if (d != 0) break;
  }
  return (flags & 1) ? -d : d;
}

namespace {

struct SortCodes {
  uint32_t unit;
  bool exact;
  uint32_t flags;
};

int32_t sort_records_callback(const uint8_t* a, const uint8_t* b, void* user1, intptr_t) {
  const SortCodes& c = *static_cast<const SortCodes*>(user1);
  return compare_records(a, b, c.unit, c.exact, c.flags);
}

int32_t float_callback(const uint8_t* a, const uint8_t* b, void* user1, intptr_t) {
  const SortCodes& c = *static_cast<const SortCodes*>(user1);
  double x, y;
  if (c.unit == 4) {
    float fx, fy;
    std::memcpy(&fx, a, 4);
    std::memcpy(&fy, b, 4);
    x = fx;
    y = fy;
  } else {
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
  }
  int32_t d = x < y ? -1 : x == y ? 0 : 1;  // an unordered pair counts as greater
  return (c.flags & 1) ? -d : d;
}

// integer! vector elements are signed.
int32_t signed_callback(const uint8_t* a, const uint8_t* b, void* user1, intptr_t) {
  const SortCodes& c = *static_cast<const SortCodes*>(user1);
  auto read = [&](const uint8_t* p) -> int32_t {
    uint32_t u = str::get_char(p, c.unit);
    return c.unit == 1 ? static_cast<int8_t>(u) : c.unit == 2 ? static_cast<int16_t>(u) : static_cast<int32_t>(u);
  };
  size_t offset = (c.flags & 2) ? 0 : static_cast<size_t>(c.flags >> 2) * c.unit;
  int32_t x = read(a + offset), y = read(b + offset);
  int32_t d = x < y ? -1 : x == y ? 0 : 1;
  return (c.flags & 1) ? -d : d;
}

// A function! comparator: the records are sorted in a C++ copy (user code may collect or change
// the series) and written back through the node afterwards.
struct UserSort {
  Cell function;
  Cell series;
  uint32_t unit;
  uint32_t record;  // units per record
  bool whole;       // records passed as strings
  bool reverse;
};

Cell record_value(const UserSort& u, const uint8_t* p) {
  if (!u.whole) {
    if (u.series.is(TYPE_VECTOR)) return further_type_hooks().vector_element(u.series, p);
    uint32_t cp = str::get_char(p, u.unit);
    if (u.series.is(TYPE_BINARY)) return make_integer(static_cast<int32_t>(cp));
    return char_cell(cp);
  }
  Cell s;
  str::init_with_unit(s, u.record, u.unit);
  s.set_header(u.series.is(TYPE_BINARY) ? TYPE_BINARY : TYPE_STRING);
  SeriesBuffer* b = series_buffer(s.node());
  std::memcpy(b->head_ptr(), p, static_cast<size_t>(u.record) * u.unit);
  b->set_length(u.record);
  return s;
}

int32_t user_callback(const uint8_t* a, const uint8_t* b, void* user1, intptr_t) {
  const UserSort& u = *static_cast<const UserSort*>(user1);
  if (u.reverse) std::swap(a, b);
  Cell va = record_value(u, a);
  Cell vb = record_value(u, b);
  return wiring.sort_compare(u.function, va, vb);
}

Cell* sort_handler(ActionCall& call) {
  Cell& s = call.result();
  NodeId node = s.node();
  uint32_t len = units(node);
  s.set_head_index(std::min(s.head_index(), len));
  int64_t count = len - s.head_index();
  if (Cell* part = call.refinement_arg(SORT_PART)) {
    int64_t p;
    if (part->is(TYPE_INTEGER))
      p = part->int_value();
    else if (part->type() == s.type() && part->node() == node)
      p = static_cast<int64_t>(std::min(part->head_index(), len)) - s.head_index();
    else
      fire_refine_arg("part", *part);
    if (p < 0) {
      if (static_cast<int64_t>(s.head_index()) + p < 0) {
        s.set_head_index(0);
        return &s;
      }
      s.set_head_index(static_cast<uint32_t>(s.head_index() + p));
      count = -p;
    } else if (p < count) {
      count = p;
    }
  }
  if (count == 0) return &s;
  Cell* skip = call.refinement_arg(SORT_SKIP);
  bool all = call.has(SORT_ALL);
  int64_t r = 1;
  if (skip) {
    r = skip->is(TYPE_INTEGER) ? skip->int_value() : 0;
    if (r < 1 || r > count || count % r != 0) fire_refine_arg("skip", *skip);
    count /= r;
  } else if (all) {
    fire(Err::script_bad_refines);
  }
  uint32_t unit = unit_of(node);
  bool is_vector = s.is(TYPE_VECTOR);
  bool float_vector = is_vector && (s.vector_type() == TYPE_FLOAT || s.vector_type() == TYPE_PERCENT);
  bool signed_vector = is_vector && s.vector_type() == TYPE_INTEGER;
  SortCodes codes{unit, is_vector || call.has(SORT_CASE), call.has(SORT_REVERSE) ? 1u : 0u};
  const Cell* compare = call.refinement_arg(SORT_COMPARE);
  bool user = false;
  if (compare) {
    if (compare->is(TYPE_FUNCTION)) {
      user = true;
    } else if (compare->is(TYPE_INTEGER)) {
      if (!skip || all) fire(Err::script_bad_refines);
      int32_t k = compare->int_value();
      if (k < 1 || k > r) fire(Err::script_out_of_range, compare);
      codes.flags |= static_cast<uint32_t>(k - 1) << 2;
    } else {
      fire_refine_arg("compare", *compare);
    }
  } else if (all && skip) {
    codes.flags |= 2u | static_cast<uint32_t>(r) << 2;
  }
  bool stable = call.has(SORT_STABLE);
  uint32_t start = s.head_index();
  uint32_t record_bytes = static_cast<uint32_t>(r) * unit;
  ChangeNotice notice(s, Change::sort, nullptr, static_cast<int32_t>(start), 0);
  if (static_cast<uint64_t>(start) + static_cast<uint64_t>(count) * r > units(node))
    fire(Err::script_invalid_arg, &s);  // the change handler shortened the series
  if (user) {
    UserSort u{*compare, s, unit, static_cast<uint32_t>(r), all && skip,
               (codes.flags & 1) != 0};
    size_t bytes = static_cast<size_t>(count) * record_bytes;
    std::vector<uint8_t> copy(unit_ptr(node, start), unit_ptr(node, start) + bytes);
    if (stable)
      sort::merge_sort(copy.data(), static_cast<size_t>(count), record_bytes, &u, 0, &user_callback);
    else
      sort::quick_sort(copy.data(), static_cast<size_t>(count), record_bytes, &u, 0, &user_callback);
    if (unit_of(node) != unit || static_cast<uint64_t>(start) * unit + bytes >
                                      static_cast<uint64_t>(units(node)) * unit)
      fire(Err::script_invalid_arg, &s);  // user code changed the series under the sort
    std::memcpy(unit_ptr(node, start), copy.data(), bytes);
  } else {
    sort::Compare cmp = float_vector    ? &float_callback
                        : signed_vector ? &signed_callback
                                        : &sort_records_callback;
    uint8_t* base = unit_ptr(node, start);
    if (stable)
      sort::merge_sort(base, static_cast<size_t>(count), record_bytes, &codes, 0, cmp);
    else
      sort::quick_sort(base, static_cast<size_t>(count), record_bytes, &codes, 0, cmp);
  }
  notice.done(s, nullptr, static_cast<int32_t>(start), 0);
  return &call.result();
}

}  // namespace

// ---- Path access ---------------------------------------------------------------------------------

namespace {

Cell run_action(ActionIndex a, std::initializer_list<Cell> args) {
  Cell frame[3];
  uint32_t n = 0;
  for (const Cell& c : args) frame[n++] = c;
  ActionHandler h = action_handler(frame[0].type(), a);
  if (!h) fire_not_done(frame[0].type());
  ActionCall call;
  call.args = frame;
  call.arg_count = n;
  call.action = a;
  return *h(call);
}

}  // namespace

Cell* path_handler(PathStep& step) {
  Cell s = *step.value;
  const Cell& element = *step.element;
  Cell result;
  if (element.is(TYPE_INTEGER)) {
    if (step.set_value)
      result = run_action(ActionIndex::poke, {s, element, *step.set_value});
    else
      result = run_action(ActionIndex::pick, {s, element});
  } else if (element.is(TYPE_WORD)) {
    fire(Err::script_invalid_path, step.path, &element);
  } else if (!step.set_value) {
    result = select(s, element, FindOptions{});
  } else {
    Cell found = find(s, element, FindOptions{});
    if (found.is(TYPE_NONE)) fire(Err::script_bad_path_set, step.path, &element);
    result = run_action(ActionIndex::poke, {found, make_integer(2), *step.set_value});
  }
  *step.value = result;
  return step.value;
}

// ---- Registration --------------------------------------------------------------------------------

void register_string_type() {
  HandlerRow row(kInherit);
  row.set(ActionIndex::make, make_handler)
      .set(ActionIndex::to, to_handler)
      .set(ActionIndex::form, &form)
      .set(ActionIndex::mold, &mold)
      .set(ActionIndex::eval_path, &path_handler)
      .set(ActionIndex::set_path, kEmpty)
      .set(ActionIndex::compare, &compare_handler)
      .set(ActionIndex::append, append_handler)
      .set(ActionIndex::change, change_handler)
      .set(ActionIndex::find, find_handler)
      .set(ActionIndex::insert, insert_handler)
      .set(ActionIndex::select, select_handler)
      .set(ActionIndex::sort, sort_handler)
      .set(ActionIndex::swap, swap_handler)
      .set(ActionIndex::take, take_handler)
      .set(ActionIndex::trim, trim_handler);
  for (int a = static_cast<int>(ActionIndex::absolute); a <= static_cast<int>(ActionIndex::xor_t); a++)
    row.set(static_cast<ActionIndex>(a), kEmpty);
  for (ActionIndex a : {ActionIndex::put, ActionIndex::create, ActionIndex::close, ActionIndex::delete_,
                        ActionIndex::open, ActionIndex::open_q, ActionIndex::query, ActionIndex::read,
                        ActionIndex::rename, ActionIndex::update, ActionIndex::write})
    row.set(a, kEmpty);
  register_type(TYPE_STRING, TYPE_SERIES, "string!", row);
}

}  // namespace zem::strings
