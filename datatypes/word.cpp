// The word kinds and issue!: construction, conversion, comparison, mold and their action handlers.
#include "datatypes/word.h"

#include <cstring>

#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "runtime/casefold.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "runtime/wiring.h"

namespace zem {


namespace word {

namespace {

constexpr uint32_t kNoIndex = 0xFFFFFFFFu;

TypeId target_type(const Cell& proto) {
  return proto.is(TYPE_DATATYPE) ? proto.datatype_id() : proto.type();
}

[[noreturn]] void fire_bad_to_arg(TypeId target, const Cell& spec) {
  Cell type = datatype_cell(target);
  fire(Err::script_bad_to_arg, &type, &spec);
}

Cell load_first(std::string_view text) {
  if (wiring.load_first) return wiring.load_first(text);
  return make_none();
}

// Binds to the global context when it has the symbol; otherwise the binding stays.
void bind_global_if_present(Cell& w) {
  NodeId g = context::global();
  if (g) context::bind_word(g, w);
}

Cell from_loaded_text(TypeId target, std::string_view text) {
  Cell loaded = load_first(text);
  if (!is_any_word(loaded.type())) fire(Err::script_invalid_chars);
  return retyped(loaded, target);
}

std::string_view char_utf8(const Cell& c, uint8_t (&buf)[4]) {
  int n = unicode::encode_utf8_char(c.char_value(), buf);
  return {reinterpret_cast<const char*>(buf), static_cast<size_t>(n > 0 ? n : 0)};
}

// -1, 0 or 1 for the names' code points, case-folded unless `exact`.
int32_t compare_names(uint32_t a, uint32_t b, bool exact) {
  std::string_view x = symbol::name(a), y = symbol::name(b);
  const auto* p = reinterpret_cast<const uint8_t*>(x.data());
  const auto* pe = p + x.size();
  const auto* q = reinterpret_cast<const uint8_t*>(y.data());
  const auto* qe = q + y.size();
  while (p < pe && q < qe) {
    uint32_t c1 = static_cast<uint32_t>(unicode::fast_decode_utf8_char(p, pe));
    uint32_t c2 = static_cast<uint32_t>(unicode::fast_decode_utf8_char(q, qe));
    if (!exact) {
      c1 = casefold::to_upper(c1);
      c2 = casefold::to_upper(c2);
    }
    if (c1 != c2) return c1 < c2 ? -1 : 1;
  }
  if (p < pe) return 1;
  if (q < qe) return -1;
  return 0;
}

int32_t mold_marked(const Cell& value, TextOut& out, int32_t limit, const char* before,
                    const char* after) {
  if (*before) {
    out.append_ascii(before);
    limit -= 1;
  }
  limit = write_name(value.word_symbol(), out, limit);
  if (*after) {
    out.append_ascii(after);
    limit -= 1;
  }
  return limit;
}

int32_t mold_lit(const Cell& v, TextOut& o, MoldFlags, const Cell*, int32_t l, int32_t) {
  return mold_marked(v, o, l, "'", "");
}
int32_t mold_set(const Cell& v, TextOut& o, MoldFlags, const Cell*, int32_t l, int32_t) {
  return mold_marked(v, o, l, "", ":");
}
int32_t mold_get(const Cell& v, TextOut& o, MoldFlags, const Cell*, int32_t l, int32_t) {
  return mold_marked(v, o, l, ":", "");
}
int32_t mold_refinement(const Cell& v, TextOut& o, MoldFlags, const Cell*, int32_t l, int32_t) {
  return mold_marked(v, o, l, "/", "");
}
int32_t mold_issue(const Cell& v, TextOut& o, MoldFlags, const Cell*, int32_t l, int32_t) {
  return mold_marked(v, o, l, "#", "");
}

Cell* make_handler(ActionCall& call) {
  Cell result = make_value(target_type(call.arg(0)), call.arg(1));
  call.result() = result;
  return &call.result();
}

Cell* issue_make_handler(ActionCall& call) {
  Cell result = make_issue(call.arg(1));
  call.result() = result;
  return &call.result();
}

Cell* index_handler(ActionCall& call) {
  int32_t i = context::word_index(call.arg(0));
  call.result() = i < 0 ? make_none() : make_integer(i + 1);
  return &call.result();
}

int32_t issue_compare(const Cell& a, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_ISSUE)) return kCannotCompare;
  return compare(a, b, op);
}

}  // namespace

Cell make_from_name(std::string_view name) {
  uint32_t sym = symbol::intern(name);
  Cell w = context::find_or_add_global(sym, true, true);
  context::record_root_copy(w);
  return w;
}

Cell make_from_c_name(const char* name) { return make_from_name(name); }

Cell& init_global(uint32_t sym, Cell& cell) {
  int32_t i = context::add_symbol(context::global(), sym);
  cell = context::word_cell(TYPE_WORD, context::global(), sym, i);
  return cell;
}

Cell refinement_from_c_name(const char* name) {
  Cell r = context::word_cell(TYPE_REFINEMENT, 0, symbol::intern_c_name(name), -1);
  context::record_root_copy(r);
  return r;
}

Cell& init_issue(Cell& cell, std::string_view name) {
  cell = context::word_cell(TYPE_ISSUE, context::global(), symbol::intern(name), -1);
  return cell;
}

Cell issue_from_c_name(const char* name) {
  Cell i;
  init_issue(i, name);
  context::record_root_copy(i);
  return i;
}

Cell get(const Cell& word) {
  Cell v = *context::word_value_cell(word);
  if (v.is(TYPE_UNSET)) fire(Err::script_no_value, &word);
  return v;
}

Cell get_any(const Cell& word) { return *context::word_value_cell(word); }

void set_checked(Cell& word, const Cell& value) {
  if (value.is(TYPE_UNSET)) fire(Err::script_need_value, &word);
  context::set_word_value(word, value);
}

Cell value_or_global(NodeId ctx, uint32_t sym) {
  if (ctx) {
    int32_t i = context::find_symbol_index(ctx, sym, false);
    if (i >= 0) return *context::word_at(ctx, static_cast<uint32_t>(i));
  }
  return context::find_or_add_global(sym, false, false);
}

int32_t write_name(uint32_t sym, TextOut& out, int32_t limit) {
  std::string_view name = symbol::name(sym);
  const auto* p = reinterpret_cast<const uint8_t*>(name.data());
  const auto* end = p + name.size();
  bool ascii = true;
  for (const auto* q = p; q < end; q++) ascii = ascii && *q < 0x80;
  if (ascii) {
    out.append_ascii(name);
    return limit - static_cast<int32_t>(name.size());
  }
  while (p < end) {
    int32_t cp = unicode::fast_decode_utf8_char(p, end);
    out.append_code_point(static_cast<uint32_t>(cp));
    limit--;
  }
  return limit;
}

int32_t compare(const Cell& a, const Cell& b, CompareOp op) {
  TypeId ta = a.type(), tb = b.type();
  if (!is_any_word(tb) || (tb == TYPE_ISSUE && ta != TYPE_ISSUE)) return kCannotCompare;
  auto canon = [](uint32_t s) { return symbol::canonical_id(s); };
  auto lit_pair = [&] {
    return (ta == TYPE_WORD && tb == TYPE_LIT_WORD) || (ta == TYPE_LIT_WORD && tb == TYPE_WORD);
  };
  switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_FIND:
      return canon(a.word_symbol()) == canon(b.word_symbol()) ? 0 : 1;
    case COMP_STRICT_EQUAL:
      return ta == tb && a.word_symbol() == b.word_symbol() ? 0 : 1;
    case COMP_SAME:
      return ta == tb && a.word_symbol() == b.word_symbol() && a.word_context() == b.word_context()
                 ? 0
                 : 1;
    case COMP_PARSE_CASE:
      return (lit_pair() || ta == tb) && a.word_symbol() == b.word_symbol() ? 0 : 1;
    case COMP_PARSE:
      return (lit_pair() || ta == tb) && canon(a.word_symbol()) == canon(b.word_symbol()) ? 0 : 1;
    default:
      return compare_names(a.word_symbol(), b.word_symbol(), op == COMP_CASE_SORT);
  }
}

int32_t form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  return write_name(value.word_symbol(), out, limit);
}

int32_t mold(const Cell& value, TextOut& out, MoldFlags, const Cell*, int32_t limit, int32_t) {
  return write_name(value.word_symbol(), out, limit);
}

Cell make_value(TypeId target, const Cell& spec) {
  switch (spec.type()) {
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_GET_WORD:
    case TYPE_LIT_WORD: {
      Cell w = retyped(spec, target);
      if (target == TYPE_REFINEMENT) bind_global_if_present(w);
      return w;
    }
    case TYPE_ISSUE:
    case TYPE_REFINEMENT: {
      Cell loaded = load_first(symbol::name(spec.word_symbol()));
      if (!is_plain_kind(loaded.type())) fire_bad_to_arg(target, spec);
      Cell w = spec;
      bind_global_if_present(w);
      return retyped(w, target);
    }
    case TYPE_STRING: {
      Cell s = spec;
      int32_t len = -1;
      const char* text = unicode::string_to_utf8(s, &len);
      return from_loaded_text(target, std::string_view(text, static_cast<size_t>(len)));
    }
    case TYPE_CHAR: {
      uint8_t buf[4];
      return from_loaded_text(target, char_utf8(spec, buf));
    }
    case TYPE_DATATYPE: {
      const Cell& w = type_record(spec.datatype_id()).word;
      if (!is_any_word(w.type())) fire_bad_to_arg(target, spec);
      return retyped(w, target);
    }
    case TYPE_LOGIC:
      return retyped(make_from_c_name(logic_flag(spec) ? "true" : "false"), target);
    default:
      fire_bad_to_arg(target, spec);
  }
}

Cell make_issue(const Cell& spec) {
  Cell issue;
  switch (spec.type()) {
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_GET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE:
      return retyped(spec, TYPE_ISSUE);
    case TYPE_CHAR: {
      uint8_t buf[4];
      return init_issue(issue, char_utf8(spec, buf));
    }
    case TYPE_STRING:
      issue = context::word_cell(TYPE_ISSUE, context::global(), symbol::intern_string(spec), -1);
      return issue;
    default:
      return make_value(TYPE_ISSUE, spec);
  }
}

}  // namespace word

namespace {

HandlerRow word_row() {
  return HandlerRow()
      .set(ActionIndex::make, &word::make_handler)
      .set(ActionIndex::to, &word::make_handler)
      .set(ActionIndex::form, &word::form)
      .set(ActionIndex::mold, &word::mold)
      .set(ActionIndex::compare, &word::compare)
      .set(ActionIndex::index_q, &word::index_handler);
}

// A kind derived from word!: inherits everything word! supports but its own mold.
HandlerRow derived_row(MoldHandler mold, bool has_index) {
  HandlerRow row;
  for (ActionIndex a : {ActionIndex::make, ActionIndex::to, ActionIndex::form, ActionIndex::compare})
    row.set(a, kInherit);
  row.set(ActionIndex::mold, mold);
  if (has_index) row.set(ActionIndex::index_q, kInherit);
  return row;
}

}  // namespace

void register_word() { register_type(TYPE_WORD, TYPE_SYMBOL, "word!", word_row()); }
void register_lit_word() {
  register_type(TYPE_LIT_WORD, TYPE_WORD, "lit-word!", derived_row(&word::mold_lit, true));
}
void register_set_word() {
  register_type(TYPE_SET_WORD, TYPE_WORD, "set-word!", derived_row(&word::mold_set, true));
}
void register_get_word() {
  register_type(TYPE_GET_WORD, TYPE_WORD, "get-word!", derived_row(&word::mold_get, true));
}
void register_refinement() {
  register_type(TYPE_REFINEMENT, TYPE_WORD, "refinement!", derived_row(&word::mold_refinement, false));
}

void register_issue_type() {
  register_type(TYPE_ISSUE, TYPE_WORD, "issue!",
                HandlerRow()
                    .set(ActionIndex::make, &word::issue_make_handler)
                    .set(ActionIndex::to, &word::issue_make_handler)
                    .set(ActionIndex::form, kInherit)
                    .set(ActionIndex::mold, &word::mold_issue)
                    .set(ActionIndex::compare, &word::issue_compare));
}

}  // namespace zem
