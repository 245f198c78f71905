// object!: a context whose values live in a block (kind 2, with self), a class id and an optional
// change-notification record. error! and port! share the payload (runtime/layout.h): the context
// node, the class id (0: a plain empty object) and the node of the change record or 0.
// The context's owner cell holds a copy of the object value.
//
// The change record is a block of two pair! cells, [0] for `on-change*` and [1] for
// `on-deep-change*`, each holding the handler's field index (0xFFFF: absent), its /local slot count
// and its spec node (to notice that the field was given another function); see Cell::set_handler.
#pragma once

#include <cstdint>

#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "runtime/ownership.h"

namespace zem {

struct ObjectState {
  uint32_t class_counter = 0;
};
extern ObjectState object_state;

namespace object {

constexpr uint32_t kNoHandler = 0xFFFF;

inline Cell value_of(NodeId ctx, uint32_t class_id, NodeId record = 0, TypeId type = TYPE_OBJECT) {
  Cell c{};
  c.set_header(type);
  c.set_object(ctx, class_id, record);
  return c;
}
uint32_t new_class_id();

// An empty object with room for `slots` fields, class id 0.
Cell make_empty(uint32_t slots, TypeId type = TYPE_OBJECT);
// The object of an existing context; its owner cell gets the value.
Cell from_context(NodeId ctx, uint32_t class_id, TypeId type = TYPE_OBJECT);

// The value of the field named by the word (case-insensitive), or the shared none cell.
const Cell* find_field_value(const Cell& object, const Cell& word);
// Index of a field by symbol (case-insensitive), or -1.
int32_t field_index(const Cell& object, uint32_t sym);

// Builds the change record from the fields `on-change*` and `on-deep-change*` (each must hold a
// function!, else script `bad-field-set`); the object's series become owned by it when it has
// `on-deep-change*`. Stores the object into its context's owner cell.
void build_change_record(Cell& object);

// The notifications. The old value is kept by the caller for the duration of the call.
void call_change_handler(const Cell& object, const Cell& word, const Cell& old_value,
                         const Cell& new_value);
void call_deep_change_handler(const Cell& owner, const Cell& word, const Cell& target,
                              const Cell& action, const Cell* new_value, int32_t index, int32_t part);

// A copy with its own context: same words and flags, values copied (deep: series copied too);
// function fields rebuilt for the copy; change record rebuilt.
Cell copy(const Cell& object, bool deep, TypeId type = TYPE_OBJECT);
// make: prototype (an object, or anything else for none), spec an object or a block.
Cell make(const Cell& prototype, const Cell& spec, TypeId type = TYPE_OBJECT);
// construct: a copy of the prototype (or a new empty object with a new class id) whose fields are
// set from the spec without evaluation.
Cell construct(const Cell* prototype, const Cell& spec);
// set on an object target (the `set` native).
void set_from_value(const Cell& object, const Cell& value, bool any, bool only, bool some);

// The field lines of object!, error! and port! molds: "\n", indentation, word, ": ", value.
int32_t mold_fields(NodeId ctx, TextOut& out, MoldFlags flags, int32_t limit, int32_t indent,
                    bool form);
// Molds any value through its type's handler.
int32_t mold_value(const Cell& value, TextOut& out, MoldFlags flags, int32_t limit, int32_t indent);
int32_t form_value(const Cell& value, TextOut& out, int32_t limit);

// Handlers shared with error! and port!.
int32_t compare(const Cell& a, const Cell& b, CompareOp op);
Cell* eval_path(PathStep& step);

// Module start (nothing to make yet).
void init();
// A field of an object with a change record was set (the wiring table's `field_changed`).
void notify_from_context(const Cell& owner, const Cell& word, const Cell& old_value, const Cell& new_value);
// What the owner table asks of objects (the wiring table's `deep_change` and `objects`): the
// deep-change handler runs the owner's on-deep-change* with the action's word.
void deep_change_from_owner(const Cell& owner, const Cell& word, const Cell& target,
                            ownership::Change action, const Cell* value, int32_t index, int32_t part);
ownership::ObjectAccess ownership_access();

}  // namespace object

void register_object_type();

}  // namespace zem
