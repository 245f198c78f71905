// error!: the error catalogue, building error values from ids and arguments, and their form and mold.
#include "datatypes/error_value.h"

#include <string_view>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "datatypes/fixed_words.h"

namespace zem {

ErrorValueState error_value_state;

namespace error_value {

namespace {

struct CatalogueEntry {
  bool category;
  std::string_view word;
  std::string_view text;  // the title, or the template's source
};

constexpr CatalogueEntry kCatalogue[] = {
#define ZEM_CATALOG_CATEGORY(word, title) {true, word, title},
#define ZEM_CATALOG_ID(word, source) {false, word, source},
#include "datatypes/error_catalog.inc"
#undef ZEM_CATALOG_CATEGORY
#undef ZEM_CATALOG_ID
};

// The generated table must list the ids of error_ids.def in the same order: codes depend on it.
constexpr std::string_view kIdWords[] = {
#define ZEM_ERROR_CATEGORY(num, cat, word, title) "@" word,
#define ZEM_ERROR(cat, id, word) word,
#define ZEM_ERROR_CATEGORY_END(cat)
#include "runtime/error_ids.def"
#undef ZEM_ERROR_CATEGORY
#undef ZEM_ERROR
#undef ZEM_ERROR_CATEGORY_END
};
constexpr bool catalogue_matches_ids() {
  if (std::size(kCatalogue) != std::size(kIdWords)) return false;
  for (size_t i = 0; i < std::size(kCatalogue); i++) {
    std::string_view w = kIdWords[i];
    if (kCatalogue[i].category != (w[0] == '@')) return false;
    if (kCatalogue[i].word != (kCatalogue[i].category ? w.substr(1) : w)) return false;
  }
  return true;
}
static_assert(catalogue_matches_ids(), "library/errors.zem and runtime/error_ids.def list different ids");

constexpr const char* kFieldNames[ERR_FIELD_COUNT] = {"code", "type", "id",  "arg1",  "arg2",
                                                      "arg3", "near", "where", "stack", "files"};

ErrorValueState& S = error_value_state;

void mark_catalogue(void*) {
  if (S.errors) gc::mark_context(S.errors);
  if (S.prototype) gc::mark_context(S.prototype);
}

// ---- Template sources: a string, or a block of strings, get-words and words ----

struct TemplateReader {
  std::string_view src;
  size_t pos = 0;

  void skip_blanks() {
    while (pos < src.size() && (src[pos] == ' ' || src[pos] == '\t' || src[pos] == '\n')) pos++;
  }
  Cell string() {
    std::string text;
    for (pos++; pos < src.size() && src[pos] != '"'; pos++) {
      char c = src[pos];
      if (c == '^' && pos + 1 < src.size()) {
        c = src[++pos];
        if (c == '/') c = '\n';
        else if (c == '-') c = '\t';
      }
      text.push_back(c);
    }
    pos++;
    return str::make_from_utf8(text);
  }
  Cell word() {
    TypeId t = TYPE_WORD;
    if (src[pos] == ':') {
      t = TYPE_GET_WORD;
      pos++;
    }
    size_t start = pos;
    while (pos < src.size() && src[pos] != ' ' && src[pos] != ']') pos++;
    return word::retyped(word::make_from_name(src.substr(start, pos - start)), t);
  }
  Cell value() {
    skip_blanks();
    if (src[pos] == '"') return string();
    if (src[pos] != '[') return word();
    pos++;
    Cell blk = block::make(4);
    for (skip_blanks(); pos < src.size() && src[pos] != ']'; skip_blanks()) block::append_cell(blk, value());
    pos++;
    return blk;
  }
};

void add_field(const Cell& object, std::string_view name, const Cell& value) {
  Cell w = word::make_from_name(name);
  context::set_or_add_word(object.object_context(), w, value);
}

Cell make_catalogue() {
  Cell errors = object::make_empty(kErrCategoryCount);
  Cell category{};
  for (const CatalogueEntry& e : kCatalogue) {
    if (e.category) {
      category = object::make_empty(4);
      add_field(category, "code", make_none());
      add_field(category, "type", str::make_from_utf8(e.text));
      add_field(errors, e.word, category);
    } else {
      TemplateReader reader{e.text};
      add_field(category, e.word, reader.value());
    }
  }
  return errors;
}

NodeId category_context(uint32_t n) { return n < kErrCategoryCount ? S.categories[n] : 0; }

// The category number named by a word, or -1.
int32_t category_of_word(const Cell& w) {
  if (!word::is_any_word(w.type())) return -1;
  int32_t i = context::find_symbol_index(S.errors, w.word_symbol(), true);
  return i >= 0 && i < static_cast<int32_t>(kErrCategoryCount) ? i : -1;
}

// The position of an id word in a category object (2 and up), or -1.
int32_t position_of_id(uint32_t category, const Cell& w) {
  if (!word::is_any_word(w.type())) return -1;
  int32_t i = context::find_symbol_index(category_context(category), w.word_symbol(), true);
  return i >= 2 ? i : -1;
}

// Fills code, type and id for category number and position.
void set_identity(const Cell& error, uint32_t category, uint32_t position) {
  Cell type = *context::word_at(S.errors, category);
  Cell id = *context::word_at(category_context(category), position);
  type.set_header(TYPE_WORD);
  id.set_header(TYPE_WORD);
  *field(error, ERR_CODE) = make_integer(static_cast<int32_t>(category * 100 + position));
  *field(error, ERR_TYPE) = type;
  *field(error, ERR_ID) = id;
}

Cell new_error() { return object::copy(object::value_of(S.prototype, 0), false, TYPE_ERROR); }

// Counts the code points written through it and, with a cap, drops those past it.
class CountingOut final : public TextOut {
 public:
  CountingOut(TextOut& out, int32_t cap = -1) : out_(out), cap_(cap) {}
  void append_ascii(std::string_view text) override {
    for (char c : text) append_code_point(static_cast<unsigned char>(c));
  }
  void append_code_point(uint32_t cp) override {
    if (cap_ >= 0 && count_ >= cap_) return;
    out_.append_code_point(cp);
    count_++;
  }
  int32_t count() const { return count_; }

 private:
  TextOut& out_;
  int32_t cap_;
  int32_t count_ = 0;
};

void write_string(const Cell& s, TextOut& out) {
  uint32_t n = str::count_from_head(s);
  for (uint32_t i = 0; i < n; i++) out.append_code_point(str::code_point_at(s, s.head_index() + i));
}

// A cap is also given to the handlers as a part limit: they stop walking the value once the text
// shown is full, so a value nested deeper than the walk allows still prints.
void write_molded(const Cell& v, TextOut& out, int32_t cap) {
  CountingOut capped(out, cap);
  MoldFlags flat;
  flat.flat = true;
  MoldHandler h = cap >= 0 ? mold_handler(v.type()) : nullptr;
  if (!h) {
    object::mold_value(v, capped, flat, kNoLimit, 0);
    return;
  }
  Cell part = make_integer(cap);
  h(v, capped, flat, &part, cap, 0);
}

void write_formed(const Cell& v, TextOut& out, int32_t cap) {
  CountingOut capped(out, cap);
  FormHandler h = cap >= 0 ? form_handler(v.type()) : nullptr;
  if (str::is_text_type(v.type())) {
    write_string(v, capped);
  } else if (h) {
    Cell part = make_integer(cap);
    h(v, capped, &part, cap);
  } else {
    object::form_value(v, capped, kNoLimit);
  }
}

// The value of the error field a word names, or none.
Cell field_named(const Cell& error, const Cell& w) {
  int32_t i = context::find_symbol_index(error.object_context(), w.word_symbol(), true);
  return i < 0 ? make_none() : context::values(error.object_context())[i];
}

void write_message(const Cell& error, const Cell& message, uint32_t category, const Cell* arg1_override,
                   TextOut& out) {
  if (message.is(TYPE_STRING)) {
    write_string(message, out);
    return;
  }
  if (!message.is(TYPE_BLOCK)) return;
  bool first = true;
  uint32_t n = block::length(message);
  for (uint32_t i = 0; i < n; i++) {
    Cell item = block::head_of(message)[i];
    if (!item.is(TYPE_STRING) && !item.is(TYPE_WORD) && !item.is(TYPE_GET_WORD)) continue;
    if (!first) out.append_ascii(" ");
    first = false;
    if (item.is(TYPE_STRING)) {
      write_string(item, out);
      continue;
    }
    Cell v = field_named(error, item);
    if (arg1_override &&
        symbol::canonical_id(item.word_symbol()) == symbol::canonical_id(symbol::intern("arg1")))
      v = *arg1_override;
    if (category == 2) write_formed(v, out, 80);
    else write_molded(v, out, 80);
  }
}

// ---- Handlers ----

Cell* make_handler(ActionCall& call) {
  Cell result = make(call.arg(1));
  call.result() = result;
  return &call.result();
}

int32_t form_handler(const Cell& value, TextOut& out, const Cell* part, int32_t limit) {
  return form(value, out, part, limit);
}

int32_t mold_handler(const Cell& value, TextOut& out, MoldFlags flags, const Cell*, int32_t limit,
                     int32_t indent) {
  if (mold_cycle_guard(value, out, limit, true)) return limit;
  PointerStackGuard guard(value.object_context());
  out.append_ascii("make error! [");
  limit = object::mold_fields(value.object_context(), out, flags, limit - 13, indent, false);
  if (!flags.flat) {
    out.append_ascii("\n");
    limit = mold_indent(out, indent, limit - 1);
  }
  out.append_ascii("]");
  return limit - 1;
}

int32_t compare_handler(const Cell& a, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_ERROR)) return kCannotCompare;
  return object::compare(a, b, op);
}

}  // namespace

void build_pending_error(PendingExit& p) {
  const Cell* args[3];
  for (int i = 0; i < 3; i++) args[i] = p.args[i].type() == TYPE_NONE_ID ? nullptr : &p.args[i];
  p.value = create(p.error, args[0], args[1], args[2]);
}

void init() {
  Cell errors = make_catalogue();
  S = ErrorValueState{};
  S.errors = errors.object_context();
  for (uint32_t i = 0; i < kErrCategoryCount; i++)
    S.categories[i] = context::values(S.errors)[i].object_context();
  Cell proto = object::make_empty(ERR_FIELD_COUNT);
  for (const char* name : kFieldNames) add_field(proto, name, make_none());
  S.prototype = proto.object_context();
  gc::remove_root(&mark_catalogue);
  gc::add_root(&mark_catalogue);
}

bool install_catalogue(const Cell& errors) {
  if (!errors.is(TYPE_OBJECT)) return false;
  NodeId ctx = errors.object_context();
  if (context::word_count(ctx) != kErrCategoryCount) return false;
  size_t k = 0;
  NodeId categories[kErrCategoryCount];
  for (uint32_t c = 0; c < kErrCategoryCount; c++) {
    const Cell cat = context::values(ctx)[c];
    if (!cat.is(TYPE_OBJECT) || symbol::name(context::word_at(ctx, c)->word_symbol()) != kCatalogue[k].word)
      return false;
    categories[c] = cat.object_context();
    uint32_t n = context::word_count(cat.object_context());
    k++;
    for (uint32_t i = 2; i < n; i++, k++)
      if (k >= std::size(kCatalogue) || kCatalogue[k].category ||
          symbol::name(context::word_at(cat.object_context(), i)->word_symbol()) != kCatalogue[k].word)
        return false;
  }
  if (k != std::size(kCatalogue)) return false;
  S.errors = ctx;
  for (uint32_t c = 0; c < kErrCategoryCount; c++) S.categories[c] = categories[c];
  return true;
}

Cell catalogue() { return context::owner(S.errors); }

Cell* field(const Cell& error, ErrorField f) { return context::values(error.object_context()) + f; }

void set_where(const Cell& error, const Cell& value) {
  if (field(error, ERR_WHERE)->is(TYPE_NONE)) *field(error, ERR_WHERE) = value;
}

void set_stack_info(const Cell& error) {
  if (S.trace_level <= 0 || !field(error, ERR_STACK)->is(TYPE_INTEGER)) return;
  std::vector<Cell> words =
      stack::trace_words(S.trace_level, static_cast<uint32_t>(field(error, ERR_STACK)->int_value()));
  Cell calls = block::make(static_cast<uint32_t>(words.size()));
  for (const Cell& w : words)
    block::append_cell(calls, context::find_or_add_global(w.word_symbol(), true, true));
  *field(error, ERR_STACK) = calls;
}

Cell create(Err code, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  const Cell* given[3] = {arg1, arg2, arg3};
  Cell args[3];
  for (int i = 0; i < 3; i++) args[i] = given[i] ? *given[i] : make_none();
  Cell error = new_error();
  uint32_t c = static_cast<uint32_t>(code);
  set_identity(error, c / 100, c % 100);
  for (int i = 0; i < 3; i++) *field(error, static_cast<ErrorField>(ERR_ARG1 + i)) = args[i];
  return error;
}

Cell make(const Cell& spec) {
  if (spec.is(TYPE_INTEGER)) {
    int32_t code = spec.int_value();
    uint32_t category = static_cast<uint32_t>(code / 100), position = static_cast<uint32_t>(code % 100);
    // Codes outside the catalogue name no error: refused rather than read past its tables.
    if (code < 0 || category >= kErrCategoryCount || position < 2 ||
        position >= context::word_count(category_context(category)))
      fire(Err::script_out_of_range, &spec);
    Cell error = new_error();
    set_identity(error, category, position);
    return error;
  }
  // A text is a user's own error: category user, id message, the text its argument (the data
  // format codecs answer their failures this way).
  if (spec.is(TYPE_STRING)) return create(Err::user_message, &spec);
  if (!spec.is(TYPE_BLOCK)) {
    Cell type = datatype_cell(TYPE_ERROR);
    fire(Err::script_bad_make_arg, &type, &spec);
  }
  uint32_t n = block::length(spec);
  Cell first = n ? block::head_of(spec)[0] : make_none();
  if (first.is(TYPE_SET_WORD)) {
    Cell error = object::make(object::value_of(S.prototype, 0, 0, TYPE_ERROR), spec, TYPE_ERROR);
    int32_t category = category_of_word(*field(error, ERR_TYPE));
    int32_t position = category < 0 ? -1 : position_of_id(static_cast<uint32_t>(category), *field(error, ERR_ID));
    if (position >= 0) set_identity(error, static_cast<uint32_t>(category), static_cast<uint32_t>(position));
    return error;
  }
  if (!first.is(TYPE_WORD)) fire(Err::internal_invalid_error, &first);
  int32_t category = category_of_word(first);
  if (category < 0) {
    Cell w = word::make_from_name("type");
    fire(Err::script_invalid_spec_field, &w);
  }
  Cell id = n > 1 ? block::head_of(spec)[1] : make_none();
  if (!id.is(TYPE_WORD)) fire(Err::script_invalid_arg, &id);
  int32_t position = position_of_id(static_cast<uint32_t>(category), id);
  if (position < 0) {
    Cell w = word::make_from_name("id");
    fire(Err::script_invalid_spec_field, &w);
  }
  Cell error = new_error();
  set_identity(error, static_cast<uint32_t>(category), static_cast<uint32_t>(position));
  for (uint32_t i = 2; i < n && i < 5; i++)
    *field(error, static_cast<ErrorField>(ERR_ARG1 + i - 2)) = block::head_of(spec)[i];
  return error;
}

int32_t form(const Cell& error, TextOut& target, const Cell*, int32_t limit) {
  CountingOut out(target);
  out.append_ascii("*** ");
  // An error that names no category or id of the catalogue prints as internal invalid-error.
  Cell bad{};
  bool invalid = false;
  int32_t category = category_of_word(*field(error, ERR_TYPE));
  Cell message{};
  if (category < 0) {
    bad = *field(error, ERR_TYPE);
    invalid = true;
  } else {
    int32_t position = position_of_id(static_cast<uint32_t>(category), *field(error, ERR_ID));
    if (position < 0) {
      bad = *field(error, ERR_ID);
      invalid = true;
    } else {
      message = context::values(category_context(static_cast<uint32_t>(category)))[position];
    }
  }
  if (invalid) {
    category = 9;
    NodeId internal = category_context(9);
    message = context::values(internal)[static_cast<uint32_t>(Err::internal_invalid_error) % 100];
  }
  if (word::is_any_word(message.type())) message = field_named(error, message);
  // The title is the category's type field, which a script may have set to any value.
  write_formed(context::values(category_context(static_cast<uint32_t>(category)))[1], out, 80);
  out.append_ascii(": ");
  write_message(error, message, static_cast<uint32_t>(category), invalid ? &bad : nullptr, out);

  out.append_ascii("\n*** Where: ");
  Cell where = *field(error, ERR_WHERE);
  if (word::is_any_word(where.type())) word::write_name(where.word_symbol(), out, kNoLimit);
  else if (where.is(TYPE_STRING)) write_string(where, out);
  else out.append_ascii("???");

  out.append_ascii("\n*** Near : ");
  write_molded(*field(error, ERR_NEAR), out, 40);

  if (S.trace_level > 0) {
    Cell st = *field(error, ERR_STACK);
    if (st.is(TYPE_INTEGER)) {
      out.append_ascii("\n*** Stack: ");
      stack::form_trace(S.trace_level, st, out, kNoLimit);
    } else if (st.is(TYPE_BLOCK)) {
      out.append_ascii("\n*** Stack: ");
      write_formed(st, out, -1);
    }
  }
  Cell files = *field(error, ERR_FILES);
  if (files.is(TYPE_BLOCK)) {
    out.append_ascii("\n*** Files: ");
    write_molded(files, out, 40);
  }
  return limit - out.count();
}

}  // namespace error_value

void register_error_type() {
  HandlerRow row;
  for (ActionIndex a : {ActionIndex::reflect, ActionIndex::copy, ActionIndex::find, ActionIndex::select})
    row.set(a, kInherit);
  register_type(TYPE_ERROR, TYPE_OBJECT, "error!",
                row.set(ActionIndex::make, &error_value::make_handler)
                    .set(ActionIndex::form, &error_value::form_handler)
                    .set(ActionIndex::mold, &error_value::mold_handler)
                    .set(ActionIndex::eval_path, &object::eval_path)
                    .set(ActionIndex::compare, &error_value::compare_handler));
}

}  // namespace zem
