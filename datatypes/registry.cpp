// The datatype registry: type names, the handler table filled at registration, and the registration
// of every built datatype in parent order.
#include "datatypes/registry.h"

#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/native.h"
#include "datatypes/paren.h"
#include "datatypes/path.h"
#include "datatypes/money.h"
#include "datatypes/percent.h"
#include "datatypes/triple.h"

#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error_value.h"
#include "datatypes/float.h"
#include "datatypes/hash.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/port.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/symbol.h"
#include "datatypes/text_kinds.h"
#include "datatypes/tuple.h"
#include "datatypes/type_hooks.h"
#include "datatypes/typeset.h"
#include "datatypes/url.h"
#include "datatypes/vector.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "evaluator/dispatch.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/low_print.h"
#include "runtime/startup.h"

namespace zem {

namespace {

constexpr std::string_view kActionWords[kActionCount] = {
#define ZEM_ACTION(slot, name, word, spec) word,
#include "datatypes/actions.def"
#undef ZEM_ACTION
};

// The list's slots run 1, 2, 3... in order, so that a slot is its place in the list.
static_assert([] {
  int expected = 1;
#define ZEM_ACTION(slot, name, word, spec) \
  if (slot != expected++) return false;
#include "datatypes/actions.def"
#undef ZEM_ACTION
  return true;
}(), "actions.def numbers the actions 1, 2, 3... in order");

struct RegistryState {
  std::array<TypeNameRecord, kTypeCount> names{};
  ActionHandlerTable handlers{};
  TypeId highest = TYPE_NONE_ID;
  std::array<bool, kTypeCount> built{};
};
RegistryState g_registry;

// Printed through the low-level printer: this runs while the runtime is being set up. The status is
// not 0, so a broken build never reads as a successful run.
[[noreturn]] void malformed_registration(TypeId id, uint32_t found) {
  print::list_line({"*** Datatype Error: invalid actions count for type: ", static_cast<int32_t>(id)});
  print::list_line({"*** Found: ", static_cast<int32_t>(found)});
  print::list_line({"*** Expected: ", static_cast<int32_t>(kActionCount)});
  runtime_exit(1);
}

[[noreturn]] void misplaced_handler(TypeId id, int slot) {
  print::list_line({"*** Datatype Error: handler of the wrong kind for action ",
                    static_cast<int32_t>(slot), " of type: ", static_cast<int32_t>(id)});
  runtime_exit(1);
}

}  // namespace

bool HandlerEntry::operator==(const HandlerEntry& o) const {
  if (kind != o.kind) return false;
  switch (kind) {
    case Kind::action:
      return action == o.action;
    case Kind::form:
      return form == o.form;
    case Kind::mold:
      return mold == o.mold;
    case Kind::path:
      return path == o.path;
    case Kind::compare:
      return compare == o.compare;
    default:
      return true;
  }
}

void register_default(TypeId id, TypeId parent, const char* name) {
  register_type(id, parent, name, HandlerRow(parent == TYPE_NONE_ID ? kEmpty : kInherit));
  g_registry.built[id] = false;
}

bool type_built(TypeId t) { return t < kTypeCount && g_registry.built[t]; }

std::string_view action_word(ActionIndex a) { return kActionWords[static_cast<int>(a) - 1]; }

HandlerEntry::Kind slot_kind(ActionIndex a) {
  switch (a) {
    case ActionIndex::form:
      return HandlerEntry::Kind::form;
    case ActionIndex::mold:
      return HandlerEntry::Kind::mold;
    case ActionIndex::eval_path:
      return HandlerEntry::Kind::path;
    case ActionIndex::set_path:
      return HandlerEntry::Kind::empty;
    case ActionIndex::compare:
      return HandlerEntry::Kind::compare;
    default:
      return HandlerEntry::Kind::action;
  }
}

void register_type(const DatatypeSpec& spec) {
  if (spec.id > g_registry.highest) g_registry.highest = spec.id;
  g_registry.built[spec.id] = true;
  TypeNameRecord& rec = g_registry.names[spec.id];
  rec.name = spec.name;
  rec.length = static_cast<int32_t>(std::strlen(spec.name)) - 1;
  rec.parent = spec.parent;

  if (spec.handler_count != kActionCount) malformed_registration(spec.id, spec.handler_count);
  // A handler in a slot of another kind would be called with the wrong arguments.
  for (int i = 0; i < kActionCount; i++) {
    HandlerEntry::Kind k = spec.handlers[i].kind;
    if (k != HandlerEntry::Kind::empty && k != HandlerEntry::Kind::inherit &&
        k != slot_kind(static_cast<ActionIndex>(i + 1)))
      misplaced_handler(spec.id, i + 1);
  }

  auto& row = g_registry.handlers[spec.id];
  const auto& parent_row = g_registry.handlers[spec.parent];
  for (int i = 0; i < kActionCount; i++) {
    const HandlerEntry& e = spec.handlers[i];
    if (e.kind == HandlerEntry::Kind::inherit)
      row[i] = spec.parent != TYPE_NONE_ID ? parent_row[i] : kEmpty;
    else
      row[i] = e;
  }
}

namespace {

// The registration order: each parent before its children. A type whose module is not built yet
// registers with no handlers of its own and its parent's through inheritance; its module replaces
// the null with its registration function.
struct OrderEntry {
  TypeId id;
  TypeId parent;
  const char* name;
  void (*register_fn)();
};
constexpr OrderEntry kOrder[] = {
    {TYPE_DATATYPE, TYPE_NONE_ID, "datatype!", &register_datatype_type},
    {TYPE_UNSET, TYPE_NONE_ID, "unset!", &register_unset},
    {TYPE_NONE, TYPE_NONE_ID, "none!", &register_none},
    {TYPE_LOGIC, TYPE_NONE_ID, "logic!", &register_logic},
    {TYPE_SERIES, TYPE_NONE_ID, "series!", &series::register_series_type},
    {TYPE_BLOCK, TYPE_SERIES, "block!", &block::register_block_type},
    {TYPE_STRING, TYPE_SERIES, "string!", &strings::register_string_type},
    {TYPE_BINARY, TYPE_STRING, "binary!", &binary::register_binary_type},
    {TYPE_INTEGER, TYPE_NONE_ID, "integer!", &register_integer},
    {TYPE_SYMBOL, TYPE_NONE_ID, "symbol!", &symbol::register_symbol_type},
    {TYPE_CONTEXT, TYPE_NONE_ID, "context!", &register_context_type},
    {TYPE_WORD, TYPE_SYMBOL, "word!", &register_word},
    {TYPE_LIT_WORD, TYPE_WORD, "lit-word!", &register_lit_word},
    {TYPE_SET_WORD, TYPE_WORD, "set-word!", &register_set_word},
    {TYPE_GET_WORD, TYPE_WORD, "get-word!", &register_get_word},
    {TYPE_REFINEMENT, TYPE_WORD, "refinement!", &register_refinement},
    {TYPE_CHAR, TYPE_INTEGER, "char!", &register_char},
    {TYPE_NATIVE, TYPE_NONE_ID, "native!", &native::register_native},
    {TYPE_ACTION, TYPE_NATIVE, "action!", &native::register_action},
    {TYPE_OP, TYPE_NATIVE, "op!", &native::register_op},
    {TYPE_PATH, TYPE_BLOCK, "path!", &path::register_path},
    {TYPE_LIT_PATH, TYPE_PATH, "lit-path!", &path::register_lit_path},
    {TYPE_SET_PATH, TYPE_PATH, "set-path!", &path::register_set_path},
    {TYPE_GET_PATH, TYPE_PATH, "get-path!", &path::register_get_path},
    {TYPE_FUNCTION, TYPE_CONTEXT, "function!", &function::register_function},
    {TYPE_ROUTINE, TYPE_FUNCTION, "routine!", &function::register_routine},
    {TYPE_PAREN, TYPE_BLOCK, "paren!", &paren::register_paren},
    {TYPE_ISSUE, TYPE_WORD, "issue!", &register_issue_type},
    {TYPE_URL, TYPE_STRING, "url!", &url::register_url_type},
    {TYPE_FILE, TYPE_URL, "file!", &url::register_file_type},
    {TYPE_OBJECT, TYPE_NONE_ID, "object!", &register_object_type},
    {TYPE_BITSET, TYPE_NONE_ID, "bitset!", &register_bitset},
    {TYPE_TRIPLE, TYPE_NONE_ID, "triple!", &triple::register_type},
    {TYPE_FLOAT, TYPE_NONE_ID, "float!", &register_float},
    {TYPE_TYPESET, TYPE_NONE_ID, "typeset!", &register_typeset},
    {TYPE_ERROR, TYPE_OBJECT, "error!", &register_error_type},
    {TYPE_VECTOR, TYPE_STRING, "vector!", &vector::register_vector_type},
    {TYPE_MAP, TYPE_NONE_ID, "map!", &map::register_type},
    {TYPE_HASH, TYPE_BLOCK, "hash!", &hashes::register_type},
    {TYPE_PAIR, TYPE_NONE_ID, "pair!", &pair::register_type},
    {TYPE_PERCENT, TYPE_FLOAT, "percent!", &percent::register_type},
    {TYPE_TUPLE, TYPE_NONE_ID, "tuple!", &tuple::register_type},
    {TYPE_TIME, TYPE_FLOAT, "time!", &times::register_time},
    {TYPE_TAG, TYPE_STRING, "tag!", &text_kinds::register_tag_type},
    {TYPE_EMAIL, TYPE_STRING, "email!", &text_kinds::register_email_type},
    {TYPE_HANDLE, TYPE_INTEGER, "handle!", &handle::register_type},
    {TYPE_DATE, TYPE_NONE_ID, "date!", &dates::register_date},
    {TYPE_PORT, TYPE_OBJECT, "port!", &port::register_type},
    {TYPE_MONEY, TYPE_NONE_ID, "money!", &money::register_type},
    {TYPE_REF, TYPE_STRING, "ref!", &text_kinds::register_ref_type},
    {TYPE_POINT2D, TYPE_NONE_ID, "point2D!", &point::register_2d},
    {TYPE_POINT3D, TYPE_NONE_ID, "point3D!", &point::register_3d},
    {TYPE_IMAGE, TYPE_SERIES, "image!", &image::register_image_type},
};

}  // namespace

std::span<const TypeId> registration_order() {
  static const auto ids = [] {
    std::array<TypeId, std::size(kOrder)> a{};
    for (size_t i = 0; i < std::size(kOrder); i++) a[i] = kOrder[i].id;
    return a;
  }();
  return ids;
}

void register_all_types() {
  for (const OrderEntry& e : kOrder) {
    // The platform imaging service comes up just before image!, which needs it.
    if (e.id == TYPE_IMAGE) further_type_hooks().make_imaging_factory();
    if (e.register_fn)
      e.register_fn();
    else
      register_default(e.id, e.parent, e.name);
  }
}

// A type id read from a damaged cell can lie beyond the table: it names no type and has no handlers.
const TypeNameRecord& type_record(TypeId t) {
  static const TypeNameRecord kNoType;
  return t < kTypeCount ? g_registry.names[t] : kNoType;
}

std::string_view type_name(TypeId t) {
  const char* n = type_record(t).name;
  return n ? std::string_view(n) : std::string_view();
}

std::string_view type_name_bare(TypeId t) {
  std::string_view n = type_name(t);
  return n.empty() ? n : n.substr(0, n.size() - 1);
}

TypeId highest_type_id() { return g_registry.highest; }

void set_type_name_word(TypeId t, const Cell& word) { g_registry.names[t].word = word; }

void mark_type_name_words(void (*mark)(Cell&, void*), void* user) {
  for (TypeNameRecord& rec : g_registry.names)
    if (rec.word.type() != TYPE_NONE_ID) mark(rec.word, user);
}

const HandlerEntry& handler_entry(TypeId t, ActionIndex a) {
  if (t >= kTypeCount) return kEmpty;
  return g_registry.handlers[t][static_cast<int>(a) - 1];
}

ActionHandler action_handler(TypeId t, ActionIndex a) {
  const HandlerEntry& e = handler_entry(t, a);
  return e.kind == HandlerEntry::Kind::action ? e.action : nullptr;
}

FormHandler form_handler(TypeId t) {
  const HandlerEntry& e = handler_entry(t, ActionIndex::form);
  return e.kind == HandlerEntry::Kind::form ? e.form : nullptr;
}

MoldHandler mold_handler(TypeId t) {
  const HandlerEntry& e = handler_entry(t, ActionIndex::mold);
  return e.kind == HandlerEntry::Kind::mold ? e.mold : nullptr;
}

CompareHandler compare_handler(TypeId t) {
  const HandlerEntry& e = handler_entry(t, ActionIndex::compare);
  return e.kind == HandlerEntry::Kind::compare ? e.compare : nullptr;
}

PathHandler path_handler(TypeId t) {
  const HandlerEntry& e = handler_entry(t, ActionIndex::eval_path);
  return e.kind == HandlerEntry::Kind::path ? e.path : nullptr;
}

void fire_expect_arg(const ActionCall& call, uint32_t arg) {
  if (!call.word) actions::fire_expect_arg(arg, call.args[arg].type());
  Cell type = datatype_cell(call.args[arg].type());
  const Cell* param = call.param_words && arg < call.param_count ? &call.param_words[arg] : nullptr;
  fire(Err::script_expect_arg, call.word, &type, param);
}

void fire_not_done(TypeId t) {
  Cell type = datatype_cell(t);
  fire(Err::internal_not_done, &type);
}

namespace {
void mark_type_name_words_root(void*) {
  mark_type_name_words([](Cell& word, void*) { gc::mark_value(word); }, nullptr);
}
}  // namespace

void registry_init() {
  gc::remove_root(&mark_type_name_words_root);
  gc::add_root(&mark_type_name_words_root);
  g_registry.names.fill(TypeNameRecord{});
  g_registry.built.fill(false);
  for (auto& row : g_registry.handlers) row.fill(kEmpty);
  g_registry.highest = TYPE_NONE_ID;
  register_all_types();
}

}  // namespace zem
