// object!: making and extending objects, field access, change notification and the object! actions.
#include "datatypes/object.h"

#include <array>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "datatypes/fixed_words.h"
#include "runtime/ownership.h"
#include "runtime/support.h"
#include "runtime/wiring.h"

namespace zem {

ObjectState object_state;

namespace object {

namespace {

constexpr bool is_object_kind(TypeId t) { return t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT; }

bool same_name(uint32_t a, uint32_t b) { return symbol::canonical_id(a) == symbol::canonical_id(b); }

// Marks the cells of a C++ vector while user code or allocations run.
void mark_cell_vector(void* v) {
  auto* cells = static_cast<std::vector<Cell>*>(v);
  gc::mark_values(cells->data(), cells->data() + cells->size());
}

// The /local slots of a spec: the refinement itself and each word! after it; 0 without one.
uint32_t count_locals(NodeId spec) {
  uint32_t n = series_length(spec), count = 0;
  bool in_locals = false;
  for (uint32_t i = 0; i < n; i++) {
    const Cell& c = block_head(spec)[i];
    if (!in_locals) {
      in_locals = c.is(TYPE_REFINEMENT) && same_name(c.word_symbol(), fixed.ref.local.word_symbol());
      count = in_locals ? 1 : 0;
    } else if (c.is(TYPE_WORD)) {
      count++;
    }
  }
  return count;
}

Cell record_entry(int32_t index, const Cell* handler) {
  Cell entry{};
  entry.set_header(TYPE_PAIR);
  if (index < 0) {
    entry.set_handler(kNoHandler, 0, 0);
  } else {
    entry.set_handler(static_cast<uint32_t>(index), count_locals(handler->fn_spec()), handler->fn_spec());
  }
  return entry;
}

void clear_set_marks(NodeId ctx) {
  uint32_t n = context::word_count(ctx);
  for (uint32_t i = 0; i < n; i++) context::word_at(ctx, i)->set_flag(kWordSetMark, false);
}

bool copies_deeply(TypeId t) {
  return block::is_block_kind(t) || t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL ||
         t == TYPE_TAG || t == TYPE_EMAIL || t == TYPE_REF;
}

// The copy/deep action on a series value (from its head, whole).
Cell copy_series_value(const Cell& value) {
  ActionHandler h = action_handler(value.type(), ActionIndex::copy);
  if (!h) return value;
  Cell frame[2] = {value, Cell{}};
  const int32_t refinements[3] = {-1, 1, -1};  // /deep
  ActionCall call;
  call.args = frame;
  call.arg_count = 1;
  call.refinements = refinements;
  call.refinement_count = 3;
  call.action = ActionIndex::copy;
  return *h(call);
}

// A function field rebuilt for the object of `ctx`: its body copied, bound to the object and then
// to a copy of the function's own context.
Cell rebuild_function(const Cell& fn, NodeId ctx) {
  NodeId more = fn.fn_more();
  Cell body = block_head(more)[0];
  if (!block::is_block_kind(body.type())) fire(Err::script_bad_func_def, &fn);
  std::vector<Cell> held = {fn, copy_series_value(body)};
  gc::ScopedRoot root(&mark_cell_vector, &held);
  context::bind_block(held[1], ctx, true);
  Cell result = held[0];
  NodeId fn_ctx = context::clone_for_function(result, CONTEXT_FUNCTION);
  context::bind_block(held[1], fn_ctx, false);
  NodeId new_more = alloc::copy_series(more);
  block_head(new_more)[0] = held[1];
  block_head(new_more)[4] = make_integer(static_cast<int32_t>(ctx));
  result.set_fn_more(new_more);
  context::owner(fn_ctx) = result;
  return result;
}

void own_fields(const Cell& object) {
  NodeId ctx = object.object_context();
  uint32_t n = context::word_count(ctx);
  for (uint32_t i = 0; i < n; i++) {
    Cell value = context::values(ctx)[i];
    Cell word = *context::word_at(ctx, i);
    ownership::set_owner(value, object, word);
  }
  context::cell(ctx).set_flag(kContextOwned, true);
}

const Cell& check_key_word(const Cell& key) {
  if (!word::is_plain_kind(key.type())) {
    Cell t = datatype_cell(key.type());
    fire(Err::script_invalid_type, &t);
  }
  return key;
}

// ---- Handlers ----

Cell* make_handler(ActionCall& call) {
  const Cell& proto = call.arg(0);
  TypeId type = proto.is(TYPE_DATATYPE) ? proto.datatype_id() : proto.type();
  Cell result = make(proto, call.arg(1), type);
  call.result() = result;
  return &call.result();
}

Cell* copy_handler(ActionCall& call) {
  Cell result = copy(call.arg(0), call.has(1), call.arg(0).type());
  call.result() = result;
  return &call.result();
}

Cell* reflect_handler(ActionCall& call) {
  const Cell obj = call.arg(0);
  const Cell& field = call.arg(1);
  NodeId ctx = obj.object_context();
  uint32_t n = context::word_count(ctx);
  uint32_t sym = field.word_symbol();
  auto is = [&](uint32_t s) { return word::is_any_word(field.type()) && same_name(sym, s); };
  Cell result;
  if (is(fixed.sym.words)) {
    result = block::make(n);
    for (uint32_t i = 0; i < n; i++) {
      Cell w = *context::word_at(ctx, i);
      w.set_header(TYPE_WORD);
      block::append_cell(result, w);
    }
  } else if (is(fixed.sym.values)) {
    result = block::make(n);
    block::append_cells(result, context::values(ctx), n);
  } else if (is(fixed.sym.body)) {
    result = block::make(n * 2);
    for (uint32_t i = 0; i < n; i++) {
      Cell w = *context::word_at(ctx, i);
      w.set_header(TYPE_SET_WORD);
      Cell v = context::values(ctx)[i];
      if (v.is(TYPE_WORD)) v.set_type(TYPE_LIT_WORD);
      if (v.is(TYPE_PATH)) v.set_type(TYPE_LIT_PATH);
      block::append_cell(result, w);
      block::append_cell(result, v);
    }
  } else if (is(fixed.sym.class_)) {
    result = make_integer(static_cast<int32_t>(obj.object_class()));
  } else if (is(fixed.word.changed.word_symbol())) {
    result = block::make(n);
    for (uint32_t i = 0; i < n; i++) {
      Cell w = *context::word_at(ctx, i);
      if (!w.has_flag(kWordSetMark)) continue;
      w.set_header(TYPE_WORD);
      block::append_cell(result, w);
    }
  } else if (is(fixed.sym.owner)) {
    result = make_logic(context::cell(ctx).has_flag(kContextOwned));
  } else if (is(fixed.sym.events_q)) {
    result = make_logic(obj.object_record() != 0);
  } else {
    fire(Err::internal_not_done, &field);
  }
  call.result() = result;
  return &call.result();
}

Cell* put_handler(ActionCall& call) {
  const Cell key = call.arg(1);
  if (!key.is(TYPE_WORD)) {
    Cell t = datatype_cell(key.type());
    fire(Err::script_invalid_key_type, &t);
  }
  const Cell value = call.arg(2);
  PathStep step;
  step.value = &call.arg(0);
  step.element = &call.arg(1);
  step.set_value = &value;
  step.path = &call.arg(1);
  step.last = true;
  eval_path(step);
  call.result() = value;
  return &call.result();
}

Cell* select_handler(ActionCall& call) {
  const Cell& key = check_key_word(call.arg(1));
  Cell result = *find_field_value(call.arg(0), key);
  call.result() = result;
  return &call.result();
}

Cell* modify_handler(ActionCall& call) {
  const Cell obj = call.arg(0);
  const Cell field = call.arg(1);
  const Cell value = call.arg(2);
  NodeId ctx = obj.object_context();
  bool named = word::is_any_word(field.type());
  if (named && same_name(field.word_symbol(), fixed.word.changed.word_symbol())) {
    if (!value.is(TYPE_NONE)) fire(Err::script_invalid_arg, &value);
    clear_set_marks(ctx);
  } else if (named && same_name(field.word_symbol(), fixed.sym.owner)) {
    own_fields(obj);
  } else if (named && same_name(field.word_symbol(), fixed.sym.owned)) {
    if (value.is(TYPE_NONE)) {
      uint32_t n = context::word_count(ctx);
      for (uint32_t i = 0; i < n; i++) ownership::unbind(context::values(ctx)[i]);
      context::cell(ctx).set_flag(kContextOwned, false);
    } else if (value.is(TYPE_BLOCK)) {
      uint32_t n = block::length(value);
      for (uint32_t i = 0; i < n; i++) {
        Cell w = block::head_of(value)[i];
        if (!word::is_any_word(w.type())) continue;
        int32_t f = field_index(obj, w.word_symbol());
        if (f < 0) continue;
        Cell fw = *context::word_at(ctx, static_cast<uint32_t>(f));
        ownership::set_owner(context::values(ctx)[f], obj, fw);
      }
      context::cell(ctx).set_flag(kContextOwned, true);
    } else {
      fire(Err::script_invalid_arg, &value);
    }
  } else {
    fire(Err::script_invalid_arg, &field);
  }
  call.result() = obj;
  return &call.result();
}

int32_t form_handler(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  if (mold_cycle_guard(value, out, limit, false)) return limit;
  PointerStackGuard guard(value.object_context());
  return mold_fields(value.object_context(), out, MoldFlags{}, limit, 0, true);
}

int32_t mold_handler(const Cell& value, TextOut& out, MoldFlags flags, const Cell*, int32_t limit,
                     int32_t indent) {
  if (mold_cycle_guard(value, out, limit, true)) return limit;
  PointerStackGuard guard(value.object_context());
  out.append_ascii("make object! [");
  limit -= 14;
  limit = mold_fields(value.object_context(), out, flags, limit, indent, false);
  if (!flags.flat) {
    out.append_ascii("\n");
    limit = mold_indent(out, indent, limit - 1);
  }
  out.append_ascii("]");
  return limit - 1;
}

}  // namespace

void notify_from_context(const Cell& owner, const Cell& word, const Cell& old_value, const Cell& new_value) {
  call_change_handler(owner, word, old_value, new_value);
}

void deep_change_from_owner(const Cell& owner, const Cell& word, const Cell& target,
                            ownership::Change action, const Cell* value, int32_t index, int32_t part) {
  Cell action_word = word::make_from_name(ownership::change_word(action));
  call_deep_change_handler(owner, word, target, action_word, value, index, part);
}

uint32_t new_class_id() { return ++object_state.class_counter; }

Cell make_empty(uint32_t slots, TypeId type) {
  NodeId ctx = context::allocate(slots, false, true, 0, CONTEXT_OBJECT);
  Cell obj = value_of(ctx, 0, 0, type);
  context::owner(ctx) = obj;
  return obj;
}

Cell from_context(NodeId ctx, uint32_t class_id, TypeId type) {
  Cell obj = value_of(ctx, class_id, 0, type);
  context::owner(ctx) = obj;
  return obj;
}

namespace {
// The field positions found last, by object context and symbol: a method call through a path
// looks its field up once. An entry is trusted only while its context still has a word of that
// very symbol at that position (an object's words are unique up to case, so the look-up would
// answer the same); a context freed and its node reused fails that check or is as good.
struct FieldHit {
  NodeId ctx = 0;
  uint32_t sym = 0;
  uint32_t index = 0;
};
std::array<FieldHit, 256> field_hits;
}  // namespace

int32_t field_index(const Cell& object, uint32_t sym) {
  NodeId ctx = object.object_context();
  FieldHit& hit = field_hits[(ctx * 40503u + sym) & 255u];
  if (hit.ctx == ctx && hit.sym == sym && hit.index < context::word_count(ctx) &&
      context::word_at(ctx, hit.index)->word_symbol() == sym)
    return static_cast<int32_t>(hit.index);
  int32_t i = context::find_symbol_index(ctx, sym, true);
  if (i >= 0) hit = FieldHit{ctx, sym, static_cast<uint32_t>(i)};
  return i;
}

const Cell* find_field_value(const Cell& object, const Cell& word) {
  int32_t i = field_index(object, word.word_symbol());
  return i < 0 ? &shared_cells.none : context::values(object.object_context()) + i;
}

void build_change_record(Cell& object) {
  NodeId ctx = object.object_context();
  int32_t idx[2] = {field_index(object, fixed.word.on_change_star.word_symbol()),
                    field_index(object, fixed.word.on_deep_change_star.word_symbol())};
  object.set_object_record(0);
  if (idx[0] >= 0 || idx[1] >= 0) {
    for (int32_t i : idx) {
      if (i < 0) continue;
      const Cell& v = context::values(ctx)[i];
      if (!v.is(TYPE_FUNCTION)) {
        Cell w = *context::word_at(ctx, static_cast<uint32_t>(i));
        Cell t = datatype_cell(v.type());
        fire(Err::script_bad_field_set, &w, &t);
      }
    }
    Cell entries[2];
    for (int k = 0; k < 2; k++)
      entries[k] = record_entry(idx[k], idx[k] < 0 ? nullptr : context::values(ctx) + idx[k]);
    NodeId record = alloc::make_cells(2);
    block::append_cell(record, entries[0]);
    block::append_cell(record, entries[1]);
    object.set_object_record(record);
  }
  context::owner(ctx) = object;
  if (idx[1] >= 0) own_fields(object);
}

void call_change_handler(const Cell& object, const Cell& word, const Cell& old_value,
                         const Cell& new_value) {
  if (object.object_record() == 0) return;
  Cell* entry = block_head(object.object_record());
  uint32_t index = entry->handler_field();
  if (index == kNoHandler) return;
  NodeId ctx = object.object_context();
  const Cell fn = context::values(ctx)[index];
  if (!fn.is(TYPE_FUNCTION)) fire(Err::script_invalid_obj_evt, &fn);
  if (fn.fn_spec() != entry->handler_spec()) *entry = record_entry(static_cast<int32_t>(index), &fn);
  uint32_t locals = entry->handler_locals();
  Cell args[3] = {word, old_value, new_value};
  if (args[0].word_context() != ctx) {
    args[0].set_word_context(ctx);
    args[0].set_word_index(static_cast<uint32_t>(field_index(object, word.word_symbol())));
  }
  if (!wiring.run_handler) fire_not_done(TYPE_FUNCTION);
  wiring.run_handler(fn, fixed.word.on_change_star, args, 3, locals);
}

void call_deep_change_handler(const Cell& owner, const Cell& word, const Cell& target,
                              const Cell& action, const Cell* new_value, int32_t index, int32_t part) {
  if (!is_object_kind(owner.type())) fire(Err::script_invalid_obj_evt, &owner);
  if (owner.object_record() == 0) return;
  Cell* entry = block_head(owner.object_record()) + 1;
  uint32_t field = entry->handler_field();
  if (field == kNoHandler) return;
  const Cell fn = context::values(owner.object_context())[field];
  if (!fn.is(TYPE_FUNCTION)) fire(Err::script_invalid_obj_evt, &fn);
  if (fn.fn_spec() != entry->handler_spec()) *entry = record_entry(static_cast<int32_t>(field), &fn);
  uint32_t locals = entry->handler_locals();
  Cell args[7] = {owner, word, target, action, new_value ? *new_value : make_none(), make_integer(index),
                  make_integer(part)};
  if (!wiring.run_handler) fire_not_done(TYPE_FUNCTION);
  wiring.run_handler(fn, fixed.word.on_deep_change_star, args, 7, locals);
}

Cell copy(const Cell& object, bool deep, TypeId type) {
  NodeId source = object.object_context();
  uint32_t n = context::word_count(source);
  std::vector<Cell> held = {object, Cell{}};
  gc::ScopedRoot root(&mark_cell_vector, &held);
  NodeId ctx = context::allocate(n, false, true, source, CONTEXT_OBJECT);
  held[1] = value_of(ctx, object.object_class(), 0, type);
  context::owner(ctx) = held[1];
  // The values as they are first, so that the copy is complete before anything can collect.
  for (uint32_t i = 0; i < n; i++) context::values(ctx)[i] = context::values(held[0].object_context())[i];
  {
    PointerStackGuard guard(source);
    for (uint32_t i = 0; i < n; i++) {
      Cell v = context::values(ctx)[i];
      if (v.is(TYPE_FUNCTION)) {
        Cell f = rebuild_function(v, ctx);
        context::values(ctx)[i] = f;
      } else if (deep && copies_deeply(v.type())) {
        Cell c = copy_series_value(v);
        context::values(ctx)[i] = c;
      }
    }
  }
  Cell result = held[1];
  build_change_record(result);
  return result;
}

Cell make(const Cell& prototype, const Cell& spec, TypeId type) {
  bool has_proto = is_object_kind(prototype.type());
  if (!spec.is(TYPE_OBJECT) && !spec.is(TYPE_BLOCK)) fire(Err::syntax_malconstruct, &spec);
  std::vector<Cell> held = {has_proto ? copy(prototype, false, type) : make_empty(4, type), spec};
  gc::ScopedRoot root(&mark_cell_vector, &held);
  NodeId ctx = held[0].object_context();
  uint32_t before = context::word_count(ctx);
  if (spec.is(TYPE_OBJECT)) {
    NodeId sctx = spec.object_context();
    uint32_t n = context::word_count(sctx);
    for (uint32_t i = 0; i < n; i++) {
      Cell w = *context::word_at(sctx, i);
      context::set_or_add_word(ctx, w, context::values(sctx)[i]);
    }
    // Functions are rebound once every word is in, so that they see the fields after them too.
    for (uint32_t i = 0; i < n; i++) {
      Cell v = context::values(sctx)[i];
      if (!v.is(TYPE_FUNCTION)) continue;
      int32_t f = field_index(held[0], context::word_at(sctx, i)->word_symbol());
      Cell rebuilt = rebuild_function(v, ctx);
      context::values(ctx)[f] = rebuilt;
    }
    bool added = context::word_count(ctx) != before;
    if (added || !has_proto) held[0].set_object_class(added ? new_class_id() : 0);
  } else {
    bool added = context::collect_set_words(ctx, spec);
    context::bind_block(spec, ctx, true);
    if (has_proto) {
      uint32_t n = context::word_count(ctx);
      for (uint32_t i = 0; i < n; i++) {
        Cell v = context::values(ctx)[i];
        if (!copies_deeply(v.type())) continue;
        Cell c = copy_series_value(v);
        if (block::is_block_kind(c.type())) context::bind_block(c, ctx, true);
        context::values(ctx)[i] = c;
      }
    }
    if (!wiring.eval_object_block) fire_not_done(TYPE_OBJECT);
    wiring.eval_object_block(held[1]);
    clear_set_marks(ctx);
    uint32_t n = context::word_count(ctx);
    for (uint32_t i = 0; i < n; i++) context::values(ctx)[i].set_new_line(false);
    if (added || !has_proto) held[0].set_object_class(new_class_id());
  }
  Cell result = held[0];
  build_change_record(result);
  return result;
}

Cell construct(const Cell* prototype, const Cell& spec) {
  std::vector<Cell> held = {prototype ? copy(*prototype, false) : make_empty(4), spec};
  gc::ScopedRoot root(&mark_cell_vector, &held);
  NodeId ctx = held[0].object_context();
  bool added = context::collect_set_words(ctx, spec);
  if (added || !prototype) held[0].set_object_class(new_class_id());
  // Each run of set-words takes the next value, unevaluated.
  uint32_t n = block::length(spec);
  std::vector<uint32_t> pending;
  for (uint32_t i = 0; i < n; i++) {
    Cell c = block::head_of(spec)[i];
    if (c.is(TYPE_SET_WORD)) {
      pending.push_back(static_cast<uint32_t>(field_index(held[0], c.word_symbol())));
      continue;
    }
    for (uint32_t f : pending) context::values(ctx)[f] = c;
    pending.clear();
  }
  Cell result = held[0];
  build_change_record(result);
  return result;
}

void set_from_value(const Cell& object, const Cell& value, bool any, bool only, bool some) {
  NodeId ctx = object.object_context();
  uint32_t n = context::word_count(ctx);
  bool spread = !only && (value.is(TYPE_BLOCK) || is_object_kind(value.type()));
  std::vector<Cell> held = {object, value};
  gc::ScopedRoot root(&mark_cell_vector, &held);
  // The source value of field i, or null when the field is left alone.
  auto source = [&](uint32_t i, Cell& out) -> bool {
    if (!spread) {
      out = held[1];
      return true;
    }
    if (held[1].is(TYPE_BLOCK)) {
      out = i < block::length(held[1]) ? block::head_of(held[1])[i] : make_none();
      return true;
    }
    const Cell* v = find_field_value(held[1], *context::word_at(ctx, i));
    if (field_index(held[1], context::word_at(ctx, i)->word_symbol()) < 0) return false;
    out = *v;
    return true;
  };
  if (!any && !some) {
    for (uint32_t i = 0; i < n; i++) {
      Cell v;
      if (source(i, v) && v.is(TYPE_UNSET)) {
        Cell w = *context::word_at(ctx, i);
        fire(Err::script_need_value, &w);
      }
    }
  }
  for (uint32_t i = 0; i < n; i++) {
    Cell v;
    if (!source(i, v)) continue;
    if (some && v.is(TYPE_NONE)) continue;
    Cell w = *context::word_at(ctx, i);
    context::word_at(ctx, i)->set_flag(kWordSetMark, true);
    bool handler_field = same_name(w.word_symbol(), fixed.word.on_change_star.word_symbol()) ||
                         same_name(w.word_symbol(), fixed.word.on_deep_change_star.word_symbol());
    if (held[0].object_record() != 0 && !handler_field) {
      held.push_back(context::values(ctx)[i]);  // the old value, kept for the call
      context::values(ctx)[i] = v;
      call_change_handler(held[0], w, held.back(), v);
      held.pop_back();
    } else {
      context::values(ctx)[i] = v;
    }
  }
}

int32_t mold_value(const Cell& value, TextOut& out, MoldFlags flags, int32_t limit, int32_t indent) {
  MoldHandler h = zem::mold_handler(value.type());
  if (h) return h(value, out, flags, nullptr, limit, indent);
  std::string_view name = type_name(value.type());
  out.append_ascii(name);
  return limit - static_cast<int32_t>(name.size());
}

int32_t form_value(const Cell& value, TextOut& out, int32_t limit) {
  FormHandler h = zem::form_handler(value.type());
  if (h) return h(value, out, nullptr, limit);
  return mold_value(value, out, MoldFlags{}, limit, 0);
}

int32_t mold_fields(NodeId ctx, TextOut& out, MoldFlags flags, int32_t limit, int32_t indent, bool form) {
  // /only drops the brackets of the value molded, not those of its fields' values.
  flags.only = false;
  uint32_t n = context::word_count(ctx);
  bool first = true;
  for (uint32_t i = 0; i < n && limit > 0; i++) {
    Cell w = *context::word_at(ctx, i);
    if (!flags.all && (same_name(w.word_symbol(), fixed.word.on_change_star.word_symbol()) ||
                       same_name(w.word_symbol(), fixed.word.on_deep_change_star.word_symbol())))
      continue;
    if (form) {
      if (!first) {
        out.append_ascii("\n");
        limit--;
      }
    } else if (flags.flat) {
      if (!first) {
        out.append_ascii(" ");
        limit--;
      }
    } else {
      out.append_ascii("\n");
      limit = mold_indent(out, indent + 1, limit - 1);
    }
    first = false;
    limit = word::write_name(w.word_symbol(), out, limit);
    out.append_ascii(": ");
    limit -= 2;
    Cell v = context::values(ctx)[i];
    if (v.is(TYPE_WORD)) {
      out.append_ascii("'");
      limit--;
    }
    limit = mold_value(v, out, flags, limit, indent + 1);
  }
  return limit;
}

int32_t compare(const Cell& a, const Cell& b, CompareOp op) {
  if (b.type() != a.type()) return kCannotCompare;
  NodeId x = a.object_context(), y = b.object_context();
  if (x == y) return 0;
  if (op == COMP_SAME) return -1;
  if (ptrstack::contains(x) || ptrstack::contains(y)) return 0;
  uint32_t n = context::word_count(x), m = context::word_count(y);
  if (n != m) return n < m ? -1 : 1;
  PointerStackGuard gx(x);
  PointerStackGuard gy(y);
  auto is_number = [](TypeId t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; };
  for (uint32_t i = 0; i < n; i++) {
    uint32_t s1 = symbol::canonical_id(context::word_at(x, i)->word_symbol());
    uint32_t s2 = symbol::canonical_id(context::word_at(y, i)->word_symbol());
    if (s1 != s2) return s1 < s2 ? -1 : 1;
    Cell v1 = context::values(x)[i], v2 = context::values(y)[i];
    TypeId t1 = v1.type(), t2 = v2.type();
    if (t1 != t2 && !(word::is_any_word(t1) && word::is_any_word(t2)) && !(is_number(t1) && is_number(t2)))
      return t1 < t2 ? -1 : 1;
    int32_t r = block::cell_compare(v1, v2, op);
    if (r != 0) return r;
  }
  return 0;
}

Cell* eval_path(PathStep& step) {
  const Cell obj = *step.value;
  const Cell& element = *step.element;
  if (!word::is_plain_kind(element.type())) fire(Err::script_invalid_path, step.path, &element);
  NodeId ctx = obj.object_context();
  int32_t index = context::word_index(element);
  if (element.word_context() != ctx || index < 0) {
    index = field_index(obj, element.word_symbol());
    if (index >= 0) {
      Cell& e = const_cast<Cell&>(element);  // the path keeps the resolved binding
      e.set_word_context(ctx);
      e.set_word_index(static_cast<uint32_t>(index));
    }
  }
  bool absent = index < 0 || (!step.set_value && context::values(ctx)[index].is(TYPE_UNSET));
  if (absent) {
    if (step.last && step.notify_owner) return &shared_cells.unset;
    if (step.last) fire(Err::script_invalid_path, step.path, &element);
    fire(Err::script_unset_path, step.path, &element);
  }
  if (!step.set_value) return context::values(ctx) + index;
  const Cell new_value = *step.set_value;
  Cell word = context::word_cell(TYPE_WORD, ctx, element.word_symbol(), index);
  if (obj.object_record() == 0) return context::set_in(word, new_value, ctx, false);
  std::vector<Cell> held = {obj, context::values(ctx)[index], new_value};
  gc::ScopedRoot root(&mark_cell_vector, &held);
  context::set_in(word, new_value, ctx, false);
  call_change_handler(held[0], word, held[1], held[2]);
  return context::values(ctx) + index;
}

void init() {
}

ownership::ObjectAccess ownership_access() {
  ownership::ObjectAccess access;
  access.context_node = [](const Cell& o) -> NodeId { return o.object_context(); };
  access.flagged = [](const Cell& o) { return context::cell(o.object_context()).has_flag(kContextOwned); };
  access.set_flag = [](const Cell& o, bool on) {
    context::cell(o.object_context()).set_flag(kContextOwned, on);
  };
  access.for_each_field = [](const Cell& o, void (*fn)(Cell&, const Cell&, void*), void* user) {
    NodeId ctx = o.object_context();
    uint32_t n = context::word_count(ctx);
    for (uint32_t i = 0; i < n; i++) {
      Cell w = *context::word_at(ctx, i);
      fn(context::values(ctx)[i], w, user);
    }
  };
  return access;
}

}  // namespace object

void register_object_type() {
  register_type(TYPE_OBJECT, TYPE_NONE_ID, "object!",
                HandlerRow()
                    .set(ActionIndex::make, &object::make_handler)
                    .set(ActionIndex::reflect, &object::reflect_handler)
                    .set(ActionIndex::form, &object::form_handler)
                    .set(ActionIndex::mold, &object::mold_handler)
                    .set(ActionIndex::eval_path, &object::eval_path)
                    .set(ActionIndex::compare, &object::compare)
                    .set(ActionIndex::copy, &object::copy_handler)
                    .set(ActionIndex::put, &object::put_handler)
                    .set(ActionIndex::select, &object::select_handler)
                    .set(ActionIndex::modify, &object::modify_handler));
}

}  // namespace zem
