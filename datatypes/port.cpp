// port!: making ports from a spec and a scheme, forwarding their actions to the scheme's actor,
// the read and write sequences, and the text form.
#include "datatypes/port.h"

#include <algorithm>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"

namespace zem::port {

namespace {

using A = ActionIndex;

// ---- The action specs ------------------------------------------------------------------------------

// What a call of the action carries after its first argument: the plain arguments, then per
// refinement the number of its arguments. Read from the action spec table.
struct Shape {
  uint32_t plain = 0;
  std::vector<uint32_t> refinement_args;
};

constexpr std::string_view kSpecs[] = {
#define ZEM_ACTION(slot, name, word, spec) spec,
#include "datatypes/actions.def"
#undef ZEM_ACTION
};

Shape parse_spec(std::string_view spec) {
  Shape s;
  bool first = true;
  size_t i = 0;
  while (i < spec.size()) {
    if (spec[i] == ' ') {
      i++;
      continue;
    }
    if (spec[i] == '[') {  // a type block
      int depth = 0;
      for (; i < spec.size(); i++) {
        if (spec[i] == '[') depth++;
        if (spec[i] == ']' && --depth == 0) break;
      }
      i++;
      continue;
    }
    size_t end = spec.find(' ', i);
    if (end == std::string_view::npos) end = spec.size();
    if (spec[i] == '/')
      s.refinement_args.push_back(0);
    else if (first)
      first = false;  // the port itself
    else if (s.refinement_args.empty())
      s.plain++;
    else
      s.refinement_args.back()++;
    i = end;
  }
  return s;
}

const Shape& shape_of(ActionIndex a) {
  static const std::vector<Shape> shapes = [] {
    std::vector<Shape> v;
    for (std::string_view spec : kSpecs) v.push_back(parse_spec(spec));
    return v;
  }();
  return shapes[static_cast<size_t>(a) - 1];
}

// ---- Fields ----------------------------------------------------------------------------------------

Cell* field(const Cell& object, std::string_view name) {
  int32_t i = object::field_index(object, symbol::intern(name));
  return i < 0 ? nullptr : &context::values(object.object_context())[i];
}

// system/<first>/<second>..., or null when a step is missing or not an object.
const Cell* system_field(std::initializer_list<std::string_view> names) {
  const Cell* v = context::symbol_value_cell(symbol::intern("system"), context::global());
  for (std::string_view n : names) {
    if (!v || !v->is(TYPE_OBJECT)) return nullptr;
    v = field(*v, n);
  }
  return v;
}

// A field the port prototype must have (a redefined prototype may lack it).
Cell& port_field(const Cell& port, std::string_view name) {
  Cell* f = field(port, name);
  if (!f) fire(Err::access_invalid_port);
  return *f;
}

Cell action_word_cell(ActionIndex a) { return make_word_cell(symbol::intern(action_word(a)), 0); }

// The marshalled arguments of an action the port runs itself: the plain arguments given, and the
// /part refinement (at `part_ref`) when `part` is given; no other refinement used.
std::vector<Cell> own_args(ActionIndex a, std::initializer_list<Cell> plain, uint32_t part_ref = 0,
                           const Cell* part = nullptr) {
  std::vector<Cell> frame{shared_cells.none};
  frame.insert(frame.end(), plain);
  std::vector<int32_t> refs(shape_of(a).refinement_args.size(), -1);
  if (part) {
    refs[part_ref] = static_cast<int32_t>(frame.size());
    frame.push_back(*part);
  }
  ActionCall c;
  c.args = frame.data();
  c.arg_count = static_cast<uint32_t>(frame.size());
  c.refinements = refs.data();
  c.refinement_count = static_cast<uint32_t>(refs.size());
  c.action = a;
  return marshal(c);
}

// As call_actor, under a try frame: false when the actor raised an error, whose value is then in
// `out`, the stacks cut back to the current frame's base (cells above it are gone).
bool try_actor(const Cell& port, ActionIndex a, const std::vector<Cell>& args, Cell& out) {
  uint32_t frame = stack::depth();
  Cell* top = stack::top();
  stack::push_try_frame(action_word_cell(a));
  try {
    out = call_actor(port, a, args);
  } catch (const Unwind& u) {
    if (u.code != EXIT_ERROR || !stack::exit_stops_at(frame)) throw;
    out = pending_exit().value;
    clear_pending_exit();
    return false;
  }
  stack::pop_frame_to_base();
  stack_state.top = top;
  return true;
}

// Once the port is open, an error of the sequence still closes it, then goes on. Should close fail
// as well, the first error is the one reported.
[[noreturn]] void close_and_raise(const Cell& port, const Cell& error) {
  Cell* kept = stack::push_value(port);
  stack::push_value(error);
  Cell ignored;
  try_actor(*kept, A::close, own_args(A::close, {}), ignored);
  natives::raise_error_value(kept[1]);
}

// Calls the action on the actor; the result stays rooted while the port is closed.
Cell run_then_close(const Cell& port, ActionIndex a, const std::vector<Cell>& args) {
  Cell result;
  if (!try_actor(port, a, args, result)) close_and_raise(port, result);
  Cell* kept = stack::push_value(result);
  call_actor(port, A::close, own_args(A::close, {}));
  result = *kept;
  stack_state.top = kept;
  return result;
}

// ---- Handlers ----------------------------------------------------------------------------------

enum ReadRef : uint32_t { READ_PART = 0 };
enum WriteRef : uint32_t { WRITE_PART = 4 };
constexpr uint32_t kCopyPart = 0;
constexpr uint32_t kInsertPart = 0;

Cell* make_fn(ActionCall& call) {
  Cell given = call.arg(1);
  const Cell* url_parts = system_field({"standard", "url-parts"});
  const Cell* proto = system_field({"standard", "port"});
  if (!url_parts || !url_parts->is(TYPE_OBJECT) || !proto || !proto->is(TYPE_OBJECT)) fire(Err::access_invalid_port);
  // The spec and the port under construction stay on the stack while objects are made.
  Cell* spec = stack::push_value(*url_parts);
  Cell* port = stack::push_value(*proto);
  *spec = given.is(TYPE_OBJECT) ? object::copy(given, false) : object::make(*spec, given);
  const Cell* scheme = field(*spec, "scheme");
  if (!scheme || !scheme->is(TYPE_WORD)) fire(Err::access_no_scheme, spec);
  Cell scheme_word = *scheme;
  *port = object::copy(*port, false, TYPE_PORT);
  port_field(*port, "spec") = *spec;
  port_field(*port, "scheme") = scheme_word;
  const Cell* schemes = system_field({"schemes"});
  const Cell* found = schemes && block::is_block_kind(schemes->type()) ? block::value_after_word(*schemes, scheme_word)
                                                                       : &shared_cells.none;
  if (!found->is(TYPE_OBJECT)) fire(Err::access_unknown_scheme, &given);
  const Cell* actor_field = field(*found, "actor");
  Cell actor = actor_field ? *actor_field : shared_cells.none;
  if (!actor.is(TYPE_OBJECT) && !actor.is(TYPE_HANDLE)) fire(Err::access_invalid_actor);
  port_field(*port, "actor") = actor;
  call.result() = *port;
  stack_state.top = spec;
  return &call.result();
}

Cell* forward_fn(ActionCall& call) {
  Cell port = call.result();  // the frame keeps it and the arguments rooted
  Cell result = call_actor(port, call.action, marshal(call));
  call.result() = result;
  return &call.result();
}

// open, copy (with read's /part), close: the copied data.
Cell* read_fn(ActionCall& call) {
  Cell port = call.result();
  const Cell* part = call.refinement_arg(READ_PART);
  call_actor(port, A::open, own_args(A::open, {}));
  call.result() = run_then_close(port, A::copy, own_args(A::copy, {}, kCopyPart, part));
  return &call.result();
}

// open, insert of the data (with write's /part), copy, close: the copy's result.
Cell* write_fn(ActionCall& call) {
  Cell port = call.result();
  Cell data = call.arg(1);
  const Cell* part = call.refinement_arg(WRITE_PART);
  call_actor(port, A::open, own_args(A::open, {}));
  Cell inserted;
  if (!try_actor(port, A::insert, own_args(A::insert, {data}, kInsertPart, part), inserted))
    close_and_raise(port, inserted);
  call.result() = run_then_close(port, A::copy, own_args(A::copy, {}));
  return &call.result();
}

int32_t mold_fn(const Cell& value, TextOut& out, MoldFlags flags, const Cell*, int32_t limit, int32_t indent) {
  if (mold_cycle_guard(value, out, limit, true)) return limit;
  PointerStackGuard guard(value.object_context());
  out.append_ascii("make port! [");
  limit -= 12;
  limit = object::mold_fields(value.object_context(), out, flags, limit, indent, false);
  if (!flags.flat) {
    out.append_ascii("\n");
    limit = mold_indent(out, indent, limit - 1);
  }
  out.append_ascii("]");
  return limit - 1;
}

int32_t form_fn(const Cell& value, TextOut& out, const Cell* part, int32_t limit) {
  return mold_fn(value, out, MoldFlags{}, part, limit, 0);
}

// ---- Native actors -------------------------------------------------------------------------------

std::vector<const NativeActorTable*>& native_tables() {
  static std::vector<const NativeActorTable*> tables;
  return tables;
}

// The dispatcher's question for a port: a handle! actor answers from its table.
bool native_actor(const Cell& port, ActionIndex a, ActionHandler& h) {
  const Cell* actor = field(port, "actor");
  if (!actor || !actor->is(TYPE_HANDLE)) return false;
  uintptr_t id = handle::resolve(actor->handle_index());
  if (id == 0 || id > native_tables().size()) fire(Err::access_invalid_port);
  h = native_tables()[id - 1]->handlers[static_cast<int>(a) - 1];
  if (!h) {
    Cell word = action_word_cell(a);
    fire(Err::access_no_port_action, &word);
  }
  return true;
}

}  // namespace

Cell add_native_actor(const NativeActorTable* table) {
  native_tables().push_back(table);
  return handle::make(handle::add(native_tables().size(), handle::KIND_NONE), handle::KIND_NONE);
}

std::vector<Cell> marshal(ActionCall& call) {
  const Shape& s = shape_of(call.action);
  std::vector<Cell> out;
  auto arg = [&](int64_t i) { return i >= 0 && i < call.arg_count ? call.args[i] : shared_cells.none; };
  for (uint32_t i = 1; i <= s.plain; i++) out.push_back(arg(i));
  for (uint32_t r = 0; r < s.refinement_args.size(); r++) {
    bool used = call.has(r);
    out.push_back(make_logic(used));
    for (uint32_t k = 0; k < s.refinement_args[r]; k++)
      out.push_back(used ? arg(int64_t(call.refinements[r]) + k) : shared_cells.none);
  }
  return out;
}

Cell call_actor(const Cell& port, ActionIndex action, const std::vector<Cell>& args) {
  const Cell* actor = field(port, "actor");
  if (!actor || !actor->is(TYPE_OBJECT)) fire(Err::access_invalid_port);
  Cell word = action_word_cell(action);
  const Cell* fn_field = object::find_field_value(*actor, word);
  if (!fn_field->is(TYPE_FUNCTION)) fire(Err::access_no_port_action, &word);
  Cell fn = *fn_field;
  stack::check_machine_stack();
  Cell* holder = stack::push_value(fn);
  stack::push_interp_function_frame(word);
  // The actor's function takes as many of the port and the arguments as its spec has slots for;
  // its remaining slots get their defaults.
  uint32_t slots = context::word_count(fn.fn_context());
  uint32_t given = std::min<uint32_t>(slots, static_cast<uint32_t>(args.size()) + 1);
  if (given > 0) stack::push_value(port);
  for (uint32_t i = 0; i + 1 < given; i++) stack::push_value(args[i]);
  if (slots > given) function::push_unused_refinement(slots - given);
  if (uint32_t st = interp::exec_function_body(*holder, 0)) stack::raise_status(st);
  Cell result = *stack::base();
  stack::pop_frame_to_base();
  stack_state.top = holder;
  return result;
}

void register_type() {
  HandlerRow row(kEmpty);
  row.set(A::reflect, kInherit)
      .set(A::eval_path, kInherit)
      .set(A::compare, kInherit)
      .set(A::make, &make_fn)
      .set(A::form, &form_fn)
      .set(A::mold, &mold_fn)
      .set(A::read, &read_fn)
      .set(A::write, &write_fn);
  for (A a : {A::append, A::at, A::back, A::change, A::clear, A::copy, A::find, A::head, A::head_q, A::index_q,
              A::insert, A::length_q, A::move, A::next, A::pick, A::poke, A::put, A::remove, A::reverse,
              A::select, A::sort, A::skip, A::swap, A::tail, A::tail_q, A::take, A::trim, A::create, A::close,
              A::delete_, A::modify, A::open, A::query, A::rename, A::update})
    row.set(a, &forward_fn);
  register_type(TYPE_PORT, TYPE_OBJECT, "port!", row);
  actions::set_port_actor_lookup(&native_actor);
}

}  // namespace zem::port
