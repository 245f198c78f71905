// Paths: the head word's value, then each element applied by the value's path handler; a function
// met on the way is called with the elements after it as its refinements.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/interp_internal.h"

namespace zem::interp {

namespace {

// One path evaluation: what it was asked, shared by its steps.
struct PathRun {
  const Cell& path;
  Cursor* c;
  PathMode mode;
  Dest dest;
  const Cell* set_value;
  PathResume* resume;
};

void check_not_empty(const Cell& path) {
  if (path.head_index() < length_of(path.node())) return;
  Cell p = path;
  fire(Err::script_empty_path, &p);
}

// Where the value selected by a path step lives: in the container's series or object context
// when the handler answered a cell of it, else nowhere to point at (kept on the stack).
void locate(const Cell& container, const Cell* r, PathResume& where) {
  where.holder = PathResume::Holder::stack;
  if (!r) return;
  if (block::is_block_kind(container.type())) {
    SeriesBuffer* b = series_buffer(container.node());
    const Cell* head = b->cells_head();
    if (r >= head && r < head + b->used() / sizeof(Cell)) {
      where = {PathResume::Holder::series, container.node(), static_cast<uint32_t>(r - head), 0};
    }
  } else if (container.is(TYPE_OBJECT) && container.object_context() &&
             !context::on_stack(container.object_context())) {
    NodeId ctx = container.object_context();
    const Cell* values = context::values(ctx);
    if (values && r >= values && r < values + context::word_count(ctx))
      where = {PathResume::Holder::context, ctx, static_cast<uint32_t>(r - values), 0};
  }
}

// The value a stopped path evaluation reached.
Cell resumed_value(const PathResume& where, const Cell& path, uint32_t element, Dest dest) {
  switch (where.holder) {
    case PathResume::Holder::series:
      if (where.slot < length_of(where.node)) return block_head(where.node)[where.slot];
      break;
    case PathResume::Holder::context:
      if (where.slot < context::word_count(where.node))
        return context::values(where.node)[where.slot];
      break;
    default: {
      Cell v = *stack::cell_at(where.slot);
      // The stop's own result cell goes: the path's result takes its place.
      if (dest == Dest::push && stack::cell_at(where.slot) + 1 == stack::top()) stack_state.top--;
      return v;
    }
  }
  Cell p = path, e = block_head(path.node())[element];
  fire(Err::script_invalid_path, &p, &e);
}

// A function met on a path: called with the elements after `next` as its refinements. With none
// and a word naming it, it is an ordinary call by a word (a method call).
uint32_t call_on_path(const PathRun& run, const Cell& fn, const Cell* name, uint32_t next,
                      NodeId object) {
  if (name && run.c && next >= length_of(run.path.node()))
    return call_named(fn, *name, *run.c, run.dest);
  CallInfo info;
  info.name = name;
  info.path = &run.path;
  info.path_index = next;
  info.object = object;
  return call_function(fn, run.c, run.dest, info);
}

// The index of the field that `element` names in `object` when it holds a function reached with
// no path step (a plain word naming the field), else -1.
int32_t method_index(const Cell& object, const Cell& element) {
  if (!element.is(TYPE_WORD) || tracing()) return -1;
  int32_t index = object::field_index(object, element.word_symbol());
  if (index < 0 || !any_function(context::values(object.object_context())[index].type())) return -1;
  return index;
}

// `object/field` calling the function of field `index`, named by the element bound to the object
// as the object's path step binds it.
uint32_t call_method(const PathRun& run, const Cell& object, const Cell& element, int32_t index,
                     uint32_t next) {
  NodeId ctx = object.object_context();
  Cell fn = context::values(ctx)[index], name = element;
  name.set_word_context(ctx);
  name.set_word_index(static_cast<uint32_t>(index));
  return call_on_path(run, fn, &name, next, ctx);
}

// The path's elements from `start` on, applied to `value`.
uint32_t path_walk(const PathRun& run, const Cell& value, uint32_t start, bool resumed) {
  const Cell& path = run.path;
  PathResume* resume = run.resume;
  bool set = run.mode == PathMode::set;
  NodeId node = path.node();
  uint32_t first = path.head_index();
  // The current value and the one before it live on the stack while elements are evaluated.
  stack::push_frame_sym(kInterpNativeFrame, stack_state.body_symbol, 0);
  Cell* cur = stack::push_value(value);
  Cell* prev = stack::push_value(shared_cells.none);
  Cell* elem = stack::push_value(shared_cells.none);
  Cell* prev_elem = stack::push_value(block_head(node)[start - 1]);
  Cell* store = stack::push_value(run.set_value ? *run.set_value : shared_cells.none);
  Cell* original = stack::push_value(shared_cells.none);
  Cell p = path;
  // The length is read again at each element: a paren element may have changed the path.
  for (uint32_t i = start; i < length_of(node); i++) {
    *elem = block_head(node)[i];
    *original = *elem;
    if (resume && elem->is(TYPE_PAREN) && !(resumed && i == start)) {
      // Stop before the paren: the record keeps where the value is and where to go on.
      resume->element = i;
      Cell v = *cur;
      drop_frame();
      if (resume->holder == PathResume::Holder::stack) {
        place(v, run.dest);
        resume->slot = stack::cell_index(&placed(run.dest));
      }
      return EXIT_NONE;
    }
    if (elem->is(TYPE_GET_WORD)) {
      *elem = *word_value(*elem);
    } else if (elem->is(TYPE_PAREN)) {
      Cell paren = *elem;
      if (uint32_t st = eval_paren(paren, Dest::push)) return st;
      *elem = *(stack::top() - 1);
      stack::drop_values(1);
    }
    if (elem->is(TYPE_UNSET)) {
      Cell e = *original;
      fire(Err::script_invalid_path, &p, &e);
    }
    bool last = i + 1 >= length_of(node);
    PathHandler h = actions::handler_by_type(*cur, &p, *elem, static_cast<int32_t>(i - first));
    PathStep step;
    step.value = cur;
    step.element = elem;
    step.set_value = set && last ? store : nullptr;
    step.path = &p;
    step.previous = prev->is(TYPE_NONE) ? nullptr : prev;
    step.previous_element = prev_elem;
    step.index = static_cast<int32_t>(i - first);
    step.last = last;
    Cell* r = h(step);
    *prev = *cur;
    *prev_elem = *elem;
    if (resume) locate(*prev, r, *resume);
    *cur = r ? *r : shared_cells.none;
    if (run.mode == PathMode::call && any_function(cur->type())) {
      Cell fn = *cur;
      Cell name = *elem;
      NodeId object = prev->is(TYPE_OBJECT) ? prev->object_context() : 0;
      drop_frame();
      if (resume) *resume = PathResume{};
      return call_on_path(run, fn, name.is(TYPE_WORD) ? &name : nullptr, i + 1, object);
    }
  }
  if (resume) *resume = PathResume{};
  Cell result = set ? *store : *cur;
  drop_frame();
  place(result, run.dest);
  return EXIT_NONE;
}

uint32_t path_steps(const PathRun& run) {
  const Cell& path = run.path;
  PathResume* resume = run.resume;
  check_not_empty(path);
  NodeId node = path.node();
  uint32_t len = length_of(node);
  uint32_t first = path.head_index();
  uint32_t start = first + 1;
  if (resume && resume->holder != PathResume::Holder::none) {
    if (resume->element > first && resume->element < len) {
      start = resume->element;
      Cell value = resumed_value(*resume, path, start, run.dest);
      resume->holder = PathResume::Holder::none;
      return path_walk(run, value, start, true);
    }
    resume->holder = PathResume::Holder::none;
  }
  Cell head = block_head(node)[first];
  if (tracing()) trace::fire_in(TRACE_FETCH, path, head);
  if (!head.is(TYPE_WORD)) {
    Cell p = path;
    fire(Err::script_word_first, &p);
  }
  Cell value = *word_value(head);
  if (value.is(TYPE_UNSET)) {
    Cell p = path;
    fire(Err::script_unset_path, &p, &head);
  }
  if (any_function(value.type())) {
    Cell p = path;
    if (run.mode == PathMode::set) fire(Err::script_invalid_path_set, &p);
    if (run.mode == PathMode::get) fire(Err::script_invalid_path_get, &p);
    return call_on_path(run, value, &head, first + 1, 0);
  }
  if (run.mode == PathMode::set && start >= len) {
    // A set-path of its head alone has nothing to store through.
    Cell p = path;
    fire(Err::script_invalid_path_set, &p);
  }
  if (tracing()) trace::fire_in(TRACE_PUSH, path, value);
  if (run.mode == PathMode::call && !resume && value.is(TYPE_OBJECT) && start + 1 == len)
    if (int32_t m = method_index(value, block_head(node)[start]); m >= 0)
      return call_method(run, value, block_head(node)[start], m, len);
  if (resume) {
    resume->holder = PathResume::Holder::stack;
    if (head.word_resolved() && head.word_context() && !context::on_stack(head.word_context()))
      *resume = {PathResume::Holder::context, head.word_context(), head.word_index(), 0};
  }
  return path_walk(run, value, start, false);
}

}  // namespace

uint32_t eval_path(const Cell& path, Cursor* c, PathMode mode, Dest dest, const Cell* set_value,
                   PathResume* resume) {
  PathScope scope(path);
  if (!tracing()) return path_steps(PathRun{path, c, mode, dest, set_value, resume});
  Cell p = path;
  check_not_empty(p);
  trace::fire_in(TRACE_ENTER, p, shared_cells.none);
  if (uint32_t st = path_steps(PathRun{p, c, mode, dest, set_value, resume})) return st;
  if (tracing()) trace::fire_in(TRACE_EXIT, p, placed(dest));
  return EXIT_NONE;
}

}  // namespace zem::interp
