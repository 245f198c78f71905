// The datatype registry: the type-name table and the action handler table.
//
// Every datatype registers once at start-up with its id, its parent and one handler entry per
// action. An entry is a handler, empty (the type does not support the action: dispatch raises an
// error) or inherit (take the parent's entry as it stands at that moment: inheritance is a copy
// made at registration, so parents register before their children).
//
// Handlers have one C++ signature per kind:
//   form, mold, compare  - called directly by runtime code with cells (FormHandler, MoldHandler,
//                          CompareHandler);
//   eval-path            - one step of a path (PathHandler);
//   every other action   - ActionHandler, which works on the call's frame on the argument stack:
//                          cell 0 is the value acted on and the result slot, cells 1.. the further
//                          arguments in spec order; each refinement arrives as an index into the
//                          frame (-1 when absent). The evaluator fills an ActionCall for the frame.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/support.h"

namespace zem {

// The actions in slot order (1-based), from datatypes/actions.def. Slots 7 to 9 have no action word.
enum class ActionIndex : uint8_t {
#define ZEM_ACTION(slot, name, word, spec) name = slot,
#include "datatypes/actions.def"
#undef ZEM_ACTION
};
constexpr int kActionCount = 0
#define ZEM_ACTION(slot, name, word, spec) +1
#include "datatypes/actions.def"
#undef ZEM_ACTION
    ;
// The action's word ("make", "and~", "open?"); empty for slots 7 to 9.
std::string_view action_word(ActionIndex a);

// Comparison codes given to compare handlers.
enum CompareOp : int32_t {
  COMP_EQUAL = 0,
  COMP_NOT_EQUAL = 1,
  COMP_STRICT_EQUAL = 2,  // text compared case-sensitively
  COMP_LESSER = 3,
  COMP_LESSER_EQUAL = 4,
  COMP_GREATER = 5,
  COMP_GREATER_EQUAL = 6,
  COMP_SORT = 7,         // ordering for sort, text case-folded
  COMP_CASE_SORT = 8,    // ordering for sort/case
  COMP_SAME = 9,         // series: same node and same head index
  COMP_PARSE_CASE = 10,  // lit-word!/lit-path! rule under parse's case-sensitive mode
  COMP_PARSE = 11,       // lit-word!/lit-path! rule otherwise
  COMP_FIND = 12,        // find, select, put and the set operations
};
// Answer of a compare handler when the pair cannot be compared under the code.
constexpr int32_t kCannotCompare = -2;
// The equality codes: an answer of 0 means equal, anything else (including -2) different.
constexpr bool is_equality_op(CompareOp op) {
  return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME ||
         op == COMP_PARSE_CASE || op == COMP_PARSE || op == COMP_FIND;
}

// The codes under which most types answer plain equality (0 equal, 1 different): equal?,
// not-equal?, strict-equal?, same? and the equality of find.
constexpr bool is_value_equality_op(CompareOp op) {
  return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME ||
         op == COMP_FIND;
}
constexpr bool is_sort_op(CompareOp op) { return op == COMP_SORT || op == COMP_CASE_SORT; }

// Arithmetic and set operation codes shared by the number types and the set natives.
// clang-format off
enum MathOp : int32_t {
  OP_ADD = 0, OP_SUBTRACT = 1, OP_MULTIPLY = 2, OP_DIVIDE = 3, OP_REMAINDER = 4,
  OP_OR = 5, OP_AND = 6, OP_XOR = 7,
  OP_UNIQUE = 8, OP_UNION = 9, OP_INTERSECT = 10, OP_EXCLUDE = 11, OP_DIFFERENCE = 12,
};
// clang-format on

// Without /part a form or mold starts with this limit.
constexpr int32_t kNoLimit = 2147483647;

// The frame of one action call. Cell 0 is the value acted on and the result slot; args[1..] hold
// the further arguments in spec order, then the refinements' arguments.
struct ActionCall {
  Cell* args = nullptr;
  uint32_t arg_count = 0;  // cells of the frame
  // Per refinement in spec order: -1 absent, else the frame index of its first argument cell (a
  // refinement without arguments still gets an index, so that it reads as present).
  const int32_t* refinements = nullptr;
  uint32_t refinement_count = 0;
  ActionIndex action = ActionIndex::make;
  // For error messages: the word of the call and the words of its parameters in spec order (cell
  // 0's first); null when the caller has none (runtime code calling the handler itself).
  const Cell* word = nullptr;
  const Cell* param_words = nullptr;
  uint32_t param_count = 0;

  Cell& arg(uint32_t i) { return args[i]; }
  Cell& result() { return args[0]; }
  bool has(uint32_t r) const { return r < refinement_count && refinements[r] >= 0; }
  // First argument cell of refinement r, or null when it is absent.
  Cell* refinement_arg(uint32_t r) { return has(r) ? &args[refinements[r]] : nullptr; }
};

// Answers the result: slot 0, or a shared constant cell that the caller copies into slot 0.
// The machine answers of the typed forms are cells too: even?/odd? a logic!, length? an integer! or
// none (no length).
using ActionHandler = Cell* (*)(ActionCall& call);

// `part` is the /part argument cell, or null without /part. Each handler appends to `out` and
// answers `limit` reduced by the number of code points it appended; with /part, a handler that
// appends repeatedly stops once the limit has dropped below 1.
using FormHandler = int32_t (*)(const Cell& value, TextOut& out, const Cell* part, int32_t limit);

struct MoldFlags {
  bool only = false;
  bool all = false;
  bool flat = false;
};
using MoldHandler = int32_t (*)(const Cell& value, TextOut& out, MoldFlags flags, const Cell* part,
                                int32_t limit, int32_t indent);

// Answers -1, 0 or 1, or kCannotCompare.
using CompareHandler = int32_t (*)(const Cell& a, const Cell& b, CompareOp op);

// One step of a path: `value` is the current value, `element` the path element; `set_value` is the
// value to store for the last element of a set-path, else null.
struct PathStep {
  Cell* value = nullptr;
  const Cell* element = nullptr;
  const Cell* set_value = nullptr;
  const Cell* path = nullptr;  // the whole path, for error messages
  Cell* previous = nullptr;    // the container one step back, or null
  const Cell* previous_element = nullptr;
  int32_t index = 0;  // position of the element in the path
  bool last = false;
  bool notify_owner = false;  // the set must be reported to the owning object
};
using PathHandler = Cell* (*)(PathStep& step);

// One entry of a registration row.
struct HandlerEntry {
  enum class Kind : uint8_t { empty, inherit, action, form, mold, path, compare };
  Kind kind = Kind::empty;
  union {
    ActionHandler action;
    FormHandler form;
    MoldHandler mold;
    PathHandler path;
    CompareHandler compare;
    const void* any;
  };

  constexpr HandlerEntry() : any(nullptr) {}
  constexpr HandlerEntry(ActionHandler h) : kind(Kind::action), action(h) {}
  constexpr HandlerEntry(FormHandler h) : kind(Kind::form), form(h) {}
  constexpr HandlerEntry(MoldHandler h) : kind(Kind::mold), mold(h) {}
  constexpr HandlerEntry(PathHandler h) : kind(Kind::path), path(h) {}
  constexpr HandlerEntry(CompareHandler h) : kind(Kind::compare), compare(h) {}
  static constexpr HandlerEntry inherit() {
    HandlerEntry e;
    e.kind = Kind::inherit;
    return e;
  }
  bool operator==(const HandlerEntry& o) const;
};
constexpr HandlerEntry kEmpty{};
constexpr HandlerEntry kInherit = HandlerEntry::inherit();

// The entry kind that a slot holds: form, mold, eval-path and compare have their own signatures,
// set-path is always empty, every other slot takes an ActionHandler.
HandlerEntry::Kind slot_kind(ActionIndex a);

// A full row of 62 entries, built from one default and the type's own handlers.
struct HandlerRow {
  std::array<HandlerEntry, kActionCount> entries;
  explicit HandlerRow(HandlerEntry fill = kEmpty) { entries.fill(fill); }
  HandlerRow& set(ActionIndex a, HandlerEntry e) {
    entries[static_cast<int>(a) - 1] = e;
    return *this;
  }
};

// One row of kActionCount entries per type id, resolved at registration (no inherit markers left).
using ActionHandlerTable = std::array<std::array<HandlerEntry, kActionCount>, kTypeCount>;

struct DatatypeSpec {
  TypeId id;
  TypeId parent;     // TYPE_NONE_ID: none
  const char* name;  // with its "!", static storage
  const HandlerEntry* handlers;
  uint32_t handler_count;  // must be kActionCount
};

// Registers one type. A malformed spec (handler count not 62, or an entry whose kind does not fit
// its slot) is a start-up fault: the three-line report goes to standard output and the process ends
// with status 1.
void register_type(const DatatypeSpec& spec);
inline void register_type(TypeId id, TypeId parent, const char* name, const HandlerRow& row) {
  register_type({id, parent, name, row.entries.data(), kActionCount});
}

// Registers datatype! itself (its form, mold and compare handlers live in datatype.cpp).
void register_datatype_type();

// Registers every datatype but event! in the fixed order, parents first.
void register_all_types();
// The ids in that order.
std::span<const TypeId> registration_order();
// A type whose module is not built yet: no handlers of its own, its parent's through inheritance.
void register_default(TypeId id, TypeId parent, const char* name);
// True when the type was registered by a module of its own rather than by register_default.
bool type_built(TypeId t);

// The type-name table.
struct TypeNameRecord {
  const char* name = nullptr;  // with its "!"
  int32_t length = 0;          // without the "!"
  TypeId parent = TYPE_NONE_ID;
  Cell word = {};  // the word! for the name, once the symbol table exists (type 0 before)
};
const TypeNameRecord& type_record(TypeId t);
// "integer!"; empty for an id never registered.
std::string_view type_name(TypeId t);
// The name without its "!".
std::string_view type_name_bare(TypeId t);
// Highest id registered so far.
TypeId highest_type_id();
// Sets the word of a type name (the symbol table module fills them once words exist).
void set_type_name_word(TypeId t, const Cell& word);
// Calls `mark` on every type-name word that has been made.
void mark_type_name_words(void (*mark)(Cell&, void*), void* user);

// The one accessor to the handler table. The typed readers answer null for an empty slot.
const HandlerEntry& handler_entry(TypeId t, ActionIndex a);
ActionHandler action_handler(TypeId t, ActionIndex a);
FormHandler form_handler(TypeId t);
MoldHandler mold_handler(TypeId t);
CompareHandler compare_handler(TypeId t);
PathHandler path_handler(TypeId t);

// Values of datatype!: the cell holds the type id.
inline Cell datatype_cell(TypeId t) {
  Cell c{};
  c.set_header(TYPE_DATATYPE);
  c.set_datatype_id(t);
  return c;
}

// Raises script `expect-arg` for argument `arg` of the call: the call's word, the argument's
// datatype and the parameter's word; a call that carries no word is named by the current call
// and the spec of the action its word holds.
[[noreturn]] void fire_expect_arg(const ActionCall& call, uint32_t arg);

// Raises internal `not-done` naming the type (for hooks of datatypes not built yet).
[[noreturn]] void fire_not_done(TypeId t);

// Module initialisation: clears both tables, then registers every type.
void registry_init();

}  // namespace zem
