// block!: building and walking blocks, and the block kinds' action handlers (find, select, insert,
// change, sort, mold...).
#include "datatypes/block.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/hashtab.h"
#include "runtime/ownership.h"
#include "runtime/sort.h"
#include "runtime/sort_algo.h"
#include "runtime/support.h"
#include "runtime/wiring.h"

#include <unordered_map>
#include <vector>

namespace zem::block {

namespace {

constexpr uint32_t kCell = sizeof(Cell);

inline FurtherTypeHooks& hooks() { return further_type_hooks(); }

}  // namespace

// ---- Construction ------------------------------------------------------------------------------

void init_empty(Cell& cell, uint32_t capacity, TypeId type) {
  cell = value_of(alloc::make_cells(std::max<uint32_t>(capacity, 1)), type);
}

Cell make(uint32_t capacity, TypeId type) {
  Cell c;
  init_empty(c, capacity, type);
  return c;
}

void init_empty_cells(Cell& cell, uint32_t capacity, bool big) {
  uint64_t cells = std::max<uint32_t>(capacity, 1);
  // A big series is any buffer of at least a frame's maximum: asking for that much gives one.
  if (big) cells = std::max<uint64_t>(cells, kMaxFrameSize / kCell);
  cell = value_of(alloc::make_cells(static_cast<int64_t>(cells)));
}

BlockState block_state;

namespace {
constexpr uint32_t kRootCells = 1024;
void mark_root(void*) { gc::mark_block(block_state.root); }

Cell* make_in(const Cell* parent, uint32_t capacity, bool big) {
  Cell made;
  init_empty_cells(made, capacity, big);
  if (parent) return append_cell(*parent, made);
  return append_cell(block_state.root, made);
}
}  // namespace

void init_root() {
  block_state.root = alloc::make_heap_series(kRootCells, kCell);
  gc::set_fixed_root(gc::RootSlot::root_block, &mark_root);
}

Cell* make_in_parent(const Cell* parent, uint32_t capacity) { return make_in(parent, capacity, false); }
Cell* make_big_in_parent(const Cell* parent, uint32_t capacity) { return make_in(parent, capacity, true); }

// ---- Reading -----------------------------------------------------------------------------------

uint32_t length(const Cell& block) {
  uint32_t len = series_buffer(block.node())->length();
  return block.head_index() >= len ? 0 : len - block.head_index();
}

Cell* head(Cell& block) {
  SeriesBuffer* b = series_buffer(block.node());
  uint32_t len = b->length();
  if (block.head_index() > len) block.set_head_index(len);
  return b->cells_head() + block.head_index();
}

Cell* head_of(const Cell& block) {
  SeriesBuffer* b = series_buffer(block.node());
  return b->cells_head() + std::min(block.head_index(), b->length());
}

Cell* tail_cell(const Cell& block) { return series_buffer(block.node())->cells_tail(); }

bool at_tail(const Cell& block) { return block.head_index() >= series_buffer(block.node())->length(); }

bool step_head(Cell& block) {
  uint32_t len = series_buffer(block.node())->length();
  if (block.head_index() < len) block.set_head_index(block.head_index() + 1);
  return block.head_index() >= len;
}

// ---- Writing -----------------------------------------------------------------------------------

SeriesBuffer* reserve(NodeId node, uint64_t extra) {
  SeriesBuffer* b = series_buffer(node);
  uint64_t bytes = extra * kCell;
  if (bytes <= b->room()) return b;
  uint64_t need = static_cast<uint64_t>(b->used()) + bytes;
  uint64_t grown = need * 2;
  if (grown > static_cast<uint64_t>(kMaxSeriesBytes)) grown = need;  // alloc raises when too big
  return alloc::expand_copy(node, static_cast<int64_t>(grown));
}

Cell* append_cell(NodeId node, const Cell& value) {
  SeriesBuffer* b = series_buffer(node);
  if (b->room() < kCell) {
    Cell copy = value;  // the value may live in the buffer that moves
    b = reserve(node, 1);
    Cell* slot = b->cells_tail();
    *slot = copy;
    b->tail += kCell;
    return slot;
  }
  Cell* slot = b->cells_tail();
  *slot = value;
  b->tail += kCell;
  return slot;
}

Cell* append_cell(const Cell& block, const Cell& value) {
  NodeId node = block.node();
  Cell* slot = append_cell(node, value);
  if (block.is(TYPE_HASH)) {
    uint32_t at = series_buffer(node)->length() - 1;
    hooks().hash_inserted(block, at, 1);
    slot = series_buffer(node)->cells_head() + at;
  }
  return slot;
}

void append_cells(const Cell& block, const Cell* first, uint32_t n) {
  if (n == 0) return;
  NodeId node = block.node();
  SeriesBuffer* b = series_buffer(node);
  // Offsets, not addresses: the source may lie in the buffer that grows.
  bool inside = first >= b->cells_head() && first < b->cells_end();
  uint32_t from = inside ? static_cast<uint32_t>(first - b->cells_head()) : 0;
  b = reserve(node, n);
  if (inside) first = b->cells_head() + from;
  uint32_t at = b->length();
  std::memmove(b->cells_tail(), first, static_cast<size_t>(n) * kCell);
  b->tail += n * kCell;
  if (block.is(TYPE_HASH)) hooks().hash_inserted(block, at, n);
}

void append_cells_from(const Cell& target, const Cell& source) {
  append_cells(target, head_of(source), length(source));
}

void insert_cell(const Cell& block, const Cell& value) {
  Cell copy = value;
  NodeId node = block.node();
  SeriesBuffer* b = reserve(node, 1);
  uint32_t len = b->length();
  uint32_t at = std::min(block.head_index(), len);
  Cell* p = b->cells_head() + at;
  std::memmove(p + 1, p, static_cast<size_t>(len - at) * kCell);
  *p = copy;
  b->tail += kCell;
  if (block.is(TYPE_HASH)) hooks().hash_inserted(block, at, 1);
}

void insert_cells_at_head(const Cell& target, const Cell& source) {
  uint32_t n = length(source);
  if (n == 0) return;
  NodeId node = target.node();
  // The target's own cells are copied out first: the move below shifts them.
  std::vector<Cell> own;
  if (source.node() == node) own.assign(head_of(source), head_of(source) + n);
  SeriesBuffer* b = reserve(node, n);
  const Cell* from = own.empty() ? head_of(source) : own.data();
  uint32_t len = b->length();
  uint32_t at = std::min(target.head_index(), len);
  Cell* p = b->cells_head() + at;
  std::memmove(p + n, p, static_cast<size_t>(len - at) * kCell);
  std::memcpy(p, from, static_cast<size_t>(n) * kCell);
  b->tail += n * kCell;
  if (target.is(TYPE_HASH)) hooks().hash_inserted(target, at, n);
}

void clear_at_head(const Cell& block) {
  SeriesBuffer* b = series_buffer(block.node());
  if (block.head_index() < b->length()) b->set_length(block.head_index());
}

void truncate_at(NodeId node, uint32_t index) {
  SeriesBuffer* b = series_buffer(node);
  if (index < b->length()) b->set_length(index);
}

// ---- The argument stack ----------------------------------------------------------------------

Cell* push_copy(const Cell& block) { return stack::push_value(block); }

Cell* push_only(uint32_t capacity) { return stack::push_value(make(capacity)); }

namespace {
// The value is copied out before the append: the stack cell it lies in is dropped.
void result_to_block(bool insert) {
  Cell value = *(stack::top() - 1);
  const Cell& target = *(stack::top() - 2);
  if (insert)
    insert_cell(target, value);
  else
    append_cell(target, value);
  stack::drop_values(1);
}
}  // namespace

void append_result_to_block() { result_to_block(false); }
void insert_result_to_block() { result_to_block(true); }

void append_next_to_result() { append_cell(*stack::arg(0), *stack::arg(1)); }

// ---- Searching ---------------------------------------------------------------------------------

int32_t cell_compare(const Cell& a, const Cell& b, CompareOp op) {
  CompareHandler h = compare_handler(a.type());
  return h ? h(a, b, op) : kCannotCompare;
}

namespace {

// How same? is decided for a type: from the cell alone for the kinds whose identity lies in it
// (series by type, buffer and head; objects by context; words by type, symbol and binding), else
// by the compare action (kinds whose same? looks across types, as integer and char or symbol and
// string, or at a payload of their own). Read from the installed compare actions, so a type keeps
// the answer of whichever action it uses.
enum class Identity : uint8_t { ask, series, context, word };

struct IdentityTable {
  std::array<Identity, kTypeCount> of{};
  IdentityTable() {
    CompareHandler series = compare_handler(TYPE_BLOCK), text = compare_handler(TYPE_STRING),
                   object = compare_handler(TYPE_OBJECT), word = compare_handler(TYPE_WORD);
    for (int t = 0; t < kTypeCount; t++) {
      CompareHandler h = compare_handler(static_cast<TypeId>(t));
      if (!h) continue;
      if (h == series || h == text) of[t] = Identity::series;
      else if (h == object) of[t] = Identity::context;
      else if (h == word) of[t] = Identity::word;
    }
  }
};

const IdentityTable& identities() {
  static const IdentityTable table;
  return table;
}

inline bool same_in_place(const IdentityTable& ids, const Cell& a, const Cell& b) {
  switch (ids.of[a.type()]) {
    case Identity::series:
      return a.type() == b.type() && a.node() == b.node() && a.head_index() == b.head_index();
    case Identity::context:
      return a.type() == b.type() && a.object_context() == b.object_context();
    case Identity::word:
      return a.type() == b.type() && a.word_symbol() == b.word_symbol() && a.word_context() == b.word_context();
    case Identity::ask:
      break;
  }
  return cell_compare(a, b, COMP_SAME) == 0;
}

}  // namespace

bool same_cells(const Cell& a, const Cell& b) { return same_in_place(identities(), a, b); }

const Cell* select_equal(const Cell& block, const Cell& value) {
  uint32_t n = length(block);
  for (uint32_t i = 0; i < n; i++) {
    const Cell* c = head_of(block) + i;
    if (find_equal(*c, value)) return i + 1 < n ? head_of(block) + i + 1 : &shared_cells.none;
  }
  return &shared_cells.none;
}

bool remove_equal(const Cell& block, const Cell& value, bool from_start) {
  SeriesBuffer* b = series_buffer(block.node());
  uint32_t len = b->length();
  uint32_t start = from_start ? 0 : std::min(block.head_index(), len);
  for (uint32_t i = start; i < len; i++) {
    if (!find_equal(b->cells_head()[i], value)) continue;
    b = series_buffer(block.node());
    Cell* p = b->cells_head() + i;
    std::memmove(p, p + 1, static_cast<size_t>(len - i - 1) * kCell);
    b->tail -= kCell;
    if (block.is(TYPE_HASH)) hooks().hash_removed(block, i, 1);
    return true;
  }
  return false;
}

const Cell* value_after_word(const Cell& block, const Cell& word) {
  Cell key = word;
  key.set_type(TYPE_WORD);
  uint32_t n = length(block);
  for (uint32_t i = 0; i < n; i++) {
    Cell c = head_of(block)[i];
    TypeId t = c.type();
    if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD) continue;
    c.set_type(TYPE_WORD);
    if (cell_compare(c, key, COMP_EQUAL) != 0) continue;
    return i + 1 < n ? head_of(block) + i + 1 : &shared_cells.none;
  }
  return &shared_cells.none;
}

}  // namespace zem::block

// ==== Actions ======================================================================================

namespace zem::block {

using ownership::Change;
using ownership::ChangeNotice;

int32_t call_function_comparator(const Cell& fn, const Cell& a, const Cell& b) {
  // The frame is exactly the function's context: the two arguments, then every further slot as an
  // unused refinement. A function that does not take exactly two arguments cannot be called so.
  if (!native::op_spec_ok(fn.fn_spec())) fire(Err::script_invalid_arg, &fn);
  stack::check_machine_stack();
  Cell* holder = stack::push_value(fn);
  stack::push_anon_frame(kInterpFunctionFrame);
  stack::push_value(b);
  stack::push_value(a);
  uint32_t slots = context::word_count(fn.fn_context());
  if (slots > 2) function::push_unused_refinement(slots - 2);
  if (uint32_t st = interp::exec_function_body(*holder, 0)) stack::raise_status(st);
  Cell r = *stack::base();
  stack::pop_frame_to_base();
  stack_state.top = holder;
  // The function answers for (b, a), so that true, or a negative number, puts its first argument
  // first: read as "a sorts after b" when above 0.
  switch (r.type()) {
    case TYPE_LOGIC:
      return logic_flag(r) ? 1 : -1;
    case TYPE_INTEGER:
      return r.int_value() > 0 ? -1 : r.int_value() < 0 ? 1 : 0;
    case TYPE_FLOAT: {
      double d = r.float_value();
      return d > 0 ? -1 : d < 0 ? 1 : 0;
    }
    case TYPE_NONE:
      return -1;
    default:
      return 1;
  }
}

namespace {

// `to block! string`: the lexer's scan of the text.
void load_text(const Cell& text, Cell& result) {
  uint32_t consumed = 0;
  lexer::transcode_string(&result, text, -1, lexer::ScanMode{}, &consumed, nullptr, nullptr);
}

// `make block! object`: the body through the object's own reflection.
void object_body(const Cell& object, Cell& result) {
  ActionHandler reflect = action_handler(object.type(), ActionIndex::reflect);
  if (!reflect) fire_not_done(object.type());
  Cell frame[2] = {object, context::word_cell(TYPE_WORD, 0, symbol::intern("body"), -1)};
  ActionCall call;
  call.args = frame;
  call.arg_count = 2;
  call.action = ActionIndex::reflect;
  result = *reflect(call);
}

using series::answer;
using series::bad_refine_arg;

bool same_buffer(const Cell& a, const Cell& b) { return a.type() == b.type() && a.node() == b.node(); }

bool is_number(TypeId t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; }

bool is_nested_series(TypeId t) {
  return is_block_kind(t) || str::is_text_type(t) || t == TYPE_BINARY || t == TYPE_VECTOR;
}

// Counts 32-bit overflow of a cell count as the allocator's failure.
uint32_t checked_cells(uint64_t n) {
  if (n > static_cast<uint64_t>(kMaxSeriesBytes) / kCell) fire(Err::internal_no_memory);
  return static_cast<uint32_t>(n);
}

// Remembers the last code point written, for form's separator rule.
class TrackingOut final : public TextOut {
 public:
  explicit TrackingOut(TextOut& inner) : inner_(inner) {}
  void append_ascii(std::string_view text) override {
    if (!text.empty()) last_ = static_cast<uint8_t>(text.back());
    inner_.append_ascii(text);
  }
  void append_code_point(uint32_t cp) override {
    last_ = cp;
    inner_.append_code_point(cp);
  }
  uint32_t last() const { return last_; }

 private:
  TextOut& inner_;
  uint32_t last_ = 0;
};

}  // namespace

int32_t form_value(const Cell& value, TextOut& out, const Cell* part, int32_t limit) {
  FormHandler h = form_handler(value.type());
  if (!h) fire_not_done(value.type());
  return h(value, out, part, limit);
}

int32_t mold_value(const Cell& value, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                   int32_t indent) {
  MoldHandler h = mold_handler(value.type());
  if (!h) fire_not_done(value.type());
  return h(value, out, flags, part, limit, indent);
}

// ---- form, mold ----------------------------------------------------------------------------------

namespace {

int32_t form_handler_fn(const Cell& value, TextOut& out, const Cell* part, int32_t limit) {
  if (mold_cycle_guard(value, out, limit, false)) return limit;
  PointerStackGuard guard(value.node());
  TrackingOut track(out);
  uint32_t n = length(value);
  for (uint32_t i = 0; i < n && i < length(value); i++) {
    if (part && limit < 1) break;
    if (i > 0) {
      uint32_t last = track.last();
      if (last != '\t' && last != '\n' && last != '\r') {
        track.append_ascii(" ");
        limit--;
      }
    }
    Cell v = head_of(value)[i];
    limit = form_value(v, track, part, limit);
  }
  return limit;
}

}  // namespace

int32_t mold_body(const Cell& value, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                  int32_t indent) {
  PointerStackGuard guard(value.node());
  bool owed = false;
  uint32_t n = length(value);
  for (uint32_t i = 0; i < n && i < length(value); i++) {
    if (part && limit < 1) break;
    Cell v = head_of(value)[i];
    if (!flags.flat && v.new_line()) {
      if (!flags.only && i == 0) {
        indent++;
        owed = true;
      }
      if (!(flags.only && i == 0)) {
        out.append_ascii("\n");
        limit--;
      }
      limit = mold_indent(out, indent, limit);
    } else if (i > 0) {
      out.append_ascii(" ");
      limit--;
    }
    MoldFlags sub = flags;
    sub.only = false;
    limit = mold_value(v, out, sub, part, limit, indent);
  }
  if (owed) {
    indent--;
    out.append_ascii("\n");
    limit--;
    limit = mold_indent(out, indent, limit);
  }
  return limit;
}

namespace {

int32_t mold_handler_fn(const Cell& value, TextOut& out, MoldFlags flags, const Cell* part,
                        int32_t limit, int32_t indent) {
  if (mold_cycle_guard(value, out, limit, true)) return limit;
  if (!flags.only) {
    out.append_ascii("[");
    limit--;
  }
  limit = mold_body(value, out, flags, part, limit, indent);
  if (!flags.only) {
    out.append_ascii("]");
    limit--;
  }
  return limit;
}

// ---- compare -------------------------------------------------------------------------------------

int32_t compare_handler_fn(const Cell& a, const Cell& b, CompareOp op) {
  if (a.type() != b.type()) {
    bool paths = (a.is(TYPE_PATH) || a.is(TYPE_LIT_PATH)) && (b.is(TYPE_PATH) || b.is(TYPE_LIT_PATH));
    if (!(paths && (op == COMP_PARSE_CASE || op == COMP_PARSE))) return kCannotCompare;
  }
  bool same = a.node() == b.node() && a.head_index() == b.head_index();
  if (op == COMP_SAME) return same ? 0 : -1;
  if (same) return 0;
  if (ptrstack::contains(a.node())) return ptrstack::contains(b.node()) ? 0 : -1;
  uint32_t la = length(a), lb = length(b);
  if (la != lb && (is_equality_op(op))) return 1;
  PointerStackGuard guard(a.node());
  uint32_t n = std::min(la, lb);
  for (uint32_t i = 0; i < n && i < length(a) && i < length(b); i++) {
    Cell ca = head_of(a)[i];
    Cell cb = head_of(b)[i];
    TypeId ta = ca.type(), tb = cb.type();
    if (ta != tb && !(is_word_kind(ta) && is_word_kind(tb)) && !(is_number(ta) && is_number(tb)))
      return ta < tb ? -1 : 1;
    int32_t r = cell_compare(ca, cb, op);
    if (r != 0) return r;
  }
  return la == lb ? 0 : (la < lb ? -1 : 1);
}

// ---- find, select, put ---------------------------------------------------------------------------

struct FindSpec {
  const Cell* part = nullptr;
  bool only = false, last = false, reverse = false, tail = false, match = false;
  CompareOp op = COMP_FIND;
  int32_t skip = 1;
};

FindSpec find_spec(ActionCall& call, bool with_tail_match) {
  FindSpec f;
  f.part = call.refinement_arg(FIND_PART);
  f.only = call.has(FIND_ONLY);
  if (call.has(FIND_CASE)) f.op = COMP_STRICT_EQUAL;
  if (call.has(FIND_SAME)) f.op = COMP_SAME;
  if (const Cell* sk = call.refinement_arg(FIND_SKIP)) {
    if (!sk->is(TYPE_INTEGER)) bad_refine_arg(call, FIND_SKIP, *sk);
    if (sk->int_value() < 1) fire(Err::script_out_of_range, sk);
    f.skip = sk->int_value();
  }
  f.last = call.has(FIND_LAST);
  f.reverse = call.has(FIND_REVERSE);
  if (with_tail_match) {
    f.tail = call.has(FIND_TAIL);
    f.match = call.has(FIND_MATCH);
  }
  return f;
}

// Whether the cell at absolute index p of the series matches the value (a single cell).
bool cell_matches(const Cell& cell, const Cell& value, const FindSpec& f) {
  if (!f.only) {
    if (value.is(TYPE_DATATYPE)) return cell.type() == value.datatype_id();
    if (value.is(TYPE_TYPESET)) return typeset_has(value, cell.type());
  }
  return f.op == COMP_SAME ? same_cells(cell, value) : cell_compare(cell, value, f.op) == 0;
}

// find/same forwards over k cells (k > 1: the value's cells in a run): identities compared in
// place, the buffer read afresh at each cell since a compare action may allocate.
int64_t find_same_forward(const Cell& s, const Cell& value, bool run, uint32_t k, uint32_t h, uint32_t end,
                          int64_t step) {
  const IdentityTable& ids = identities();
  Cell first = run ? head_of(value)[0] : value;
  for (int64_t p = h; p + k <= end; p += step) {
    if (!same_in_place(ids, *cell_at_index(s, static_cast<uint32_t>(p)), first)) continue;
    uint32_t i = 1;
    while (i < k && same_in_place(ids, *cell_at_index(s, static_cast<uint32_t>(p + i)), head_of(value)[i])) i++;
    if (i == k) return p;
  }
  return -1;
}

// Finds the value in the series; answers the absolute position and the length of the match, or -1.
int64_t find_position(ActionCall& call, const Cell& s, const Cell& value, const FindSpec& f,
                      uint32_t* match_len) {
  uint32_t len = series_buffer(s.node())->length();
  uint32_t h = std::min(s.head_index(), len);
  if (!f.reverse && h >= len) return -1;
  uint32_t end = len;  // one past the last cell searched
  if (f.part) {
    if (f.part->is(TYPE_INTEGER)) {
      if (f.part->int_value() < 1) return -1;
      end = static_cast<uint32_t>(std::min<int64_t>(static_cast<int64_t>(h) + f.part->int_value(), len));
    } else if (same_buffer(*f.part, s)) {
      end = std::min(f.part->head_index(), len);
    } else {
      bad_refine_arg(call, FIND_PART, *f.part);
    }
  }
  bool run = !f.only && is_block_kind(value.type());
  uint32_t k = run ? length(value) : 1;
  if (run && k == 0) return -1;
  *match_len = k;

  // A hash! asked for one value forwards goes through its index.
  if (s.is(TYPE_HASH) && !run && !f.reverse && !f.last && !f.match && f.skip == 1 &&
      !value.is(TYPE_DATATYPE) && !value.is(TYPE_TYPESET) &&
      !(value.is(TYPE_OBJECT) && f.op != COMP_SAME)) {
    int32_t p = further_type_hooks().hash_find(s, value, f.op);
    return p >= 0 && static_cast<uint32_t>(p) + k <= end ? p : -1;
  }

  if (f.op == COMP_SAME && !f.reverse && !f.last && !f.match &&
      (run || f.only || !(value.is(TYPE_DATATYPE) || value.is(TYPE_TYPESET))))
    return find_same_forward(s, value, run, k, h, end, f.skip);

  // An integer forwards: integer cells are compared in place (under find, /case and /same alike an
  // integer matches only an integer of its value); the cells of other types take the general
  // compare, after which the buffer is read again.
  if (value.is(TYPE_INTEGER) && !f.reverse && !f.last && !f.match) {
    const int32_t want = value.int_value();
    for (int64_t p = h; p < end;) {
      const Cell* cells = series_buffer(s.node())->cells_head();
      for (; p < end; p += f.skip) {
        const Cell& c = cells[p];
        if (!c.is(TYPE_INTEGER)) break;
        if (c.int_value() == want) return p;
      }
      if (p >= end) break;
      if (cell_matches(cells[p], value, f)) return p;
      p += f.skip;
    }
    return -1;
  }

  auto matches_at = [&](uint32_t p) {
    if (static_cast<uint64_t>(p) + k > end) return false;
    if (!run) return cell_matches(*cell_at_index(s, p), value, f);
    for (uint32_t i = 0; i < k; i++) {
      Cell vi = head_of(value)[i];
      const Cell& ci = *cell_at_index(s, p + i);
      if (f.op == COMP_SAME ? !same_cells(ci, vi) : cell_compare(ci, vi, f.op) != 0) return false;
    }
    return true;
  };

  int64_t step = f.skip;
  if (f.reverse || f.last) {
    int64_t start = f.last ? static_cast<int64_t>(end) - k : static_cast<int64_t>(h) - (run ? k : 1);
    if (start < 0) return -1;
    for (int64_t p = start; p >= 0; p -= step) {
      if (matches_at(static_cast<uint32_t>(p))) return p;
      if (f.match) break;
    }
    return -1;
  }
  for (int64_t p = h; p < end; p += step) {
    if (matches_at(static_cast<uint32_t>(p))) return p;
    if (f.match) break;
  }
  return -1;
}

Cell* find_handler_fn(ActionCall& call) {
  Cell s = call.result();
  FindSpec f = find_spec(call, true);
  uint32_t k = 1;
  int64_t p = find_position(call, s, call.arg(1), f, &k);
  if (p < 0) return answer(call, shared_cells.none);
  s.set_head_index(static_cast<uint32_t>(p + ((f.tail || f.match) ? k : 0)));
  return answer(call, s);
}

Cell* select_handler_fn(ActionCall& call) {
  Cell s = call.result();
  FindSpec f = find_spec(call, false);
  uint32_t k = 1;
  int64_t p = find_position(call, s, call.arg(1), f, &k);
  if (p < 0 || p + k >= series_buffer(s.node())->length()) return answer(call, shared_cells.none);
  return answer(call, *cell_at_index(s, static_cast<uint32_t>(p + k)));
}

Cell* put_handler_fn(ActionCall& call) {
  Cell s = call.result();
  Cell key = call.arg(1);
  Cell value = call.arg(2);
  FindSpec f;
  f.only = true;
  if (call.has(PUT_CASE)) f.op = COMP_STRICT_EQUAL;
  uint32_t k = 1;
  int64_t p = find_position(call, s, key, f, &k);
  ChangeNotice notice(s, Change::put, &value, static_cast<int32_t>(p), 1);
  uint32_t len = series_buffer(s.node())->length();
  if (p < 0 || p >= len) {
    append_cell(s, key);
    append_cell(s, value);
  } else if (p + 1 < len) {
    Cell* after = cell_at_index(s, static_cast<uint32_t>(p + 1));
    if (cell_compare(*after, value, COMP_FIND) != 0) {
      *after = value;
      if (s.is(TYPE_HASH)) further_type_hooks().hash_changed(s, static_cast<uint32_t>(p + 1), 1);
    }
  } else {
    append_cell(s, value);
  }
  notice.done(s, &value, static_cast<int32_t>(p), 1);
  return answer(call, value);
}

// ---- eval-path -----------------------------------------------------------------------------------

Cell* eval_path_fn(PathStep& step) {
  Cell& blk = *step.value;
  const Cell& el = *step.element;
  uint32_t len = series_buffer(blk.node())->length();
  if (el.is(TYPE_INTEGER)) {
    int32_t n = el.int_value();
    int64_t p = n == 0 ? -1 : static_cast<int64_t>(blk.head_index()) + (n > 0 ? n - 1 : n);
    bool inside = p >= 0 && p < len;
    if (!step.set_value) return inside ? cell_at_index(blk, static_cast<uint32_t>(p)) : &shared_cells.none;
    if (!inside) fire(Err::script_out_of_range, &el);
    Cell value = *step.set_value;
    ChangeNotice notice(blk, Change::poke, &value, static_cast<int32_t>(p), 1);
    if (p < series_buffer(blk.node())->length()) *cell_at_index(blk, static_cast<uint32_t>(p)) = value;
    if (blk.is(TYPE_HASH)) further_type_hooks().hash_changed(blk, static_cast<uint32_t>(p), 1);
    notice.done(blk, &value, static_cast<int32_t>(p), 1);
    return const_cast<Cell*>(step.set_value);
  }
  if (!step.set_value) {
    if (el.is(TYPE_WORD) && !blk.is(TYPE_HASH)) return const_cast<Cell*>(value_after_word(blk, el));
    FindSpec f;
    f.only = true;
    uint32_t k = 1;
    ActionCall none{};
    int64_t p = find_position(none, blk, el, f, &k);
    if (p < 0 || p + 1 >= series_buffer(blk.node())->length()) return &shared_cells.none;
    return cell_at_index(blk, static_cast<uint32_t>(p + 1));
  }
  FindSpec f;
  f.only = true;
  uint32_t k = 1;
  ActionCall none{};
  int64_t p = find_position(none, blk, el, f, &k);
  if (p < 0) fire(Err::script_bad_path_set, step.path, &el);
  if (p + 1 >= len) {
    Cell idx = make_integer(static_cast<int32_t>(p + 2 - blk.head_index()));
    fire(Err::script_out_of_range, &idx);
  }
  Cell value = *step.set_value;
  ChangeNotice notice(blk, Change::poke, &value, static_cast<int32_t>(p + 1), 1);
  if (p + 1 < series_buffer(blk.node())->length()) *cell_at_index(blk, static_cast<uint32_t>(p + 1)) = value;
  if (blk.is(TYPE_HASH)) further_type_hooks().hash_changed(blk, static_cast<uint32_t>(p + 1), 1);
  notice.done(blk, &value, static_cast<int32_t>(p + 1), 1);
  return const_cast<Cell*>(step.set_value);
}

// ---- append, insert, change ----------------------------------------------------------------------

// The cells a value contributes: its cells from its head (a block kind without /only) or itself.
// The cells a value contributes, copied out (the value may lie in the target): a block kind's cells
// from its head unless `only`, else the value itself, held without an allocation.
class Contributed {
 public:
  Contributed(const Cell& value, bool only) { read(value, only); }
  Contributed(const Contributed&) = delete;
  Contributed& operator=(const Contributed&) = delete;
  void read(const Cell& value, bool only) {
    if (!only && is_block_kind(value.type())) {
      many_.assign(head_of(value), head_of(value) + length(value));
      data_ = many_.data();
      size_ = many_.size();
    } else {
      one_ = value;
      data_ = &one_;
      size_ = 1;
    }
  }
  const Cell* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void shrink_to(size_t n) { size_ = std::min(size_, n); }

 private:
  Cell one_{};
  std::vector<Cell> many_;
  const Cell* data_ = &one_;
  size_t size_ = 0;
};

// The /part count of append, insert and change: an integer!, or a position in the value itself.
int64_t insert_part(ActionCall& call, const Cell& value, const Cell& part) {
  if (part.is(TYPE_INTEGER)) return part.int_value();
  if (!is_nested_series(value.type())) fire(Err::script_invalid_part, &part);
  if (!same_buffer(part, value)) bad_refine_arg(call, INSERT_PART, part);
  return static_cast<int64_t>(std::min(part.head_index(), buffer_length(value.node()))) -
         std::min(value.head_index(), buffer_length(value.node()));
}

Cell* insert_common(ActionCall& call, bool append) {
  Cell& s = call.result();
  const Cell& arg = call.arg(1);
  bool only = call.has(INSERT_ONLY);
  // One cell at the tail of a block no object owns: nothing to notify, no index to keep. The
  // value lies on the argument stack, which never moves while the buffer grows.
  if (append && !s.is(TYPE_HASH) && (only || !is_block_kind(arg.type())) && !call.has(INSERT_PART) &&
      !call.has(INSERT_DUP) && !ownership::is_owned(s)) {
    checked_cells(static_cast<uint64_t>(buffer_length(s.node())) + 1);
    append_cell(s.node(), arg);
    s.set_head_index(0);
    return &s;
  }
  head(s);  // a head beyond the tail is set to the tail first
  Cell value = arg;
  int64_t dup = 1;
  if (const Cell* d = call.refinement_arg(INSERT_DUP)) {
    if (!d->is(TYPE_INTEGER)) bad_refine_arg(call, INSERT_DUP, *d);
    dup = d->int_value();
  }
  Contributed cells(value, only);
  if (const Cell* part = call.refinement_arg(INSERT_PART)) {
    int64_t n = insert_part(call, value, *part);
    if (n == 0) return &s;
    if (n > 0) cells.shrink_to(static_cast<size_t>(n));
  }
  if (dup < 1 || cells.empty()) {
    if (append) s.set_head_index(0);
    return &s;
  }
  uint32_t total = checked_cells(static_cast<uint64_t>(cells.size()) * static_cast<uint64_t>(dup));
  Cell target = s;
  ChangeNotice notice(target, append ? Change::append : Change::insert, &value,
                      static_cast<int32_t>(append ? buffer_length(target.node()) : target.head_index()),
                      static_cast<int32_t>(total));
  if (notice.reached()) {
    // The handler ran code: the cells are read again from the value, which the stack keeps alive.
    size_t keep = cells.size();
    cells.read(value, only);
    cells.shrink_to(keep);
    if (cells.empty()) return &s;
    total = checked_cells(static_cast<uint64_t>(cells.size()) * static_cast<uint64_t>(dup));
  }
  NodeId node = target.node();
  SeriesBuffer* b = series_buffer(node);
  checked_cells(static_cast<uint64_t>(b->length()) + total);
  if (b->room() < static_cast<uint64_t>(total) * kCell) {
    uint64_t need = static_cast<uint64_t>(b->length()) + total;
    b = alloc::expand_copy(node, static_cast<int64_t>((dup < 5 ? need * 2 : need) * kCell));
  }
  uint32_t len = b->length();
  uint32_t at = append ? len : std::min(target.head_index(), len);
  Cell* p = b->cells_head() + at;
  std::memmove(p + total, p, static_cast<size_t>(len - at) * kCell);
  std::memcpy(p, cells.data(), cells.size() * kCell);
  if (dup > 1)
    replicate_bytes(reinterpret_cast<uint8_t*>(p), static_cast<uint32_t>(cells.size() * kCell),
                    static_cast<uint32_t>(dup));
  b->tail += total * kCell;
  if (target.is(TYPE_HASH)) further_type_hooks().hash_inserted(target, at, total);
  notice.done(target, &value, static_cast<int32_t>(at), static_cast<int32_t>(total));
  s.set_head_index(append ? 0 : std::min(at + total, buffer_length(node)));
  return &s;
}

Cell* append_handler_fn(ActionCall& call) { return insert_common(call, true); }
Cell* insert_handler_fn(ActionCall& call) { return insert_common(call, false); }

Cell* change_handler_fn(ActionCall& call) {
  Cell& s = call.result();
  head(s);
  Cell value = call.arg(1);
  bool only = call.has(INSERT_ONLY);
  int64_t dup = 1;
  if (const Cell* d = call.refinement_arg(INSERT_DUP)) {
    if (!d->is(TYPE_INTEGER)) bad_refine_arg(call, INSERT_DUP, *d);
    dup = std::max<int64_t>(d->int_value(), 0);
  }
  Contributed cells(value, only);  // read before the move: a copy of its own cells
  uint32_t written = checked_cells(static_cast<uint64_t>(cells.size()) * static_cast<uint64_t>(dup));
  uint32_t from_head = length(s);
  int64_t replaced = written;
  if (const Cell* part = call.refinement_arg(INSERT_PART)) {
    if (part->is(TYPE_INTEGER))
      replaced = part->int_value();
    else if (same_buffer(*part, s))
      replaced = static_cast<int64_t>(std::min(part->head_index(), buffer_length(s.node()))) - s.head_index();
    else
      bad_refine_arg(call, INSERT_PART, *part);
  }
  replaced = std::clamp<int64_t>(replaced, 0, from_head);
  Cell target = s;
  ChangeNotice notice(target, Change::change, &value, static_cast<int32_t>(target.head_index()),
                      static_cast<int32_t>(replaced));
  if (notice.reached()) {  // the handler ran code: read the cells again (see insert)
    cells.read(value, only);
    written = checked_cells(static_cast<uint64_t>(cells.size()) * static_cast<uint64_t>(dup));
  }
  NodeId node = target.node();
  SeriesBuffer* b = series_buffer(node);
  uint32_t len = b->length();
  uint32_t at = std::min(target.head_index(), len);
  replaced = std::min<int64_t>(replaced, len - at);
  uint32_t new_len = checked_cells(static_cast<uint64_t>(len) + written - static_cast<uint64_t>(replaced));
  if (new_len > len && b->room() < static_cast<uint64_t>(new_len - len) * kCell)
    b = reserve(node, new_len - len);
  Cell* p = b->cells_head() + at;
  std::memmove(p + written, p + replaced, static_cast<size_t>(len - at - replaced) * kCell);
  if (!cells.empty() && written > 0) {
    std::memcpy(p, cells.data(), cells.size() * kCell);
    replicate_bytes(reinterpret_cast<uint8_t*>(p), static_cast<uint32_t>(cells.size() * kCell),
                    static_cast<uint32_t>(dup));
  }
  b->set_length(new_len);
  if (target.is(TYPE_HASH)) further_type_hooks().hash_replaced(target, at, static_cast<uint32_t>(replaced), written);
  notice.done(target, &value, static_cast<int32_t>(at), static_cast<int32_t>(replaced));
  s.set_head_index(std::min(at + written, buffer_length(node)));
  return &s;
}

// ---- copy, take, swap, trim ----------------------------------------------------------------------

bool type_selected(const Cell* types, TypeId t) {
  if (!types) return true;
  if (types->is(TYPE_DATATYPE)) return types->datatype_id() == t;
  if (types->is(TYPE_TYPESET)) return typeset_has(*types, t);
  return true;
}

Cell copy_deep(const Cell& source, uint32_t start, uint32_t count, const Cell* types) {
  if (ptrstack::contains(source.node())) {
    ptrstack::reset();
    fire(Err::internal_no_cycle, &source);
  }
  PointerStackGuard guard(source.node());
  Cell out = series::copy_range(source, start, count);
  for (uint32_t i = 0; i < count; i++) {
    Cell c = *cell_at_index(out, i);
    TypeId t = c.type();
    if (!is_nested_series(t) || !type_selected(types, t)) continue;
    uint32_t len = series_buffer(c.node())->length();
    uint32_t h = std::min(c.head_index(), len);
    Cell copy = is_block_kind(t) ? copy_deep(c, h, len - h, types) : series::copy_range(c, h, len - h);
    copy.header = c.header;
    *cell_at_index(out, i) = copy;
  }
  return out;
}

}  // namespace

Cell copy_cells(const Cell& block, bool deep, const Cell* types) {
  uint32_t len = series_buffer(block.node())->length();
  uint32_t h = std::min(block.head_index(), len);
  if (!deep) return series::copy_range(block, h, len - h);
  ptrstack::reset();
  return copy_deep(block, h, len - h, types);
}

void deep_copy_nested(const Cell& block, const Cell* types) {
  PointerStackGuard guard(block.node());
  uint32_t len = series_buffer(block.node())->length();
  for (uint32_t i = std::min(block.head_index(), len); i < len; i++) {
    Cell c = *cell_at_index(block, i);
    TypeId t = c.type();
    if (!is_nested_series(t) || !type_selected(types, t)) continue;
    uint32_t clen = series_buffer(c.node())->length();
    uint32_t h = std::min(c.head_index(), clen);
    Cell copy = is_block_kind(t) ? copy_deep(c, h, clen - h, types) : series::copy_range(c, h, clen - h);
    copy.header = c.header;
    *cell_at_index(block, i) = copy;
  }
}

namespace {

Cell* copy_handler_fn(ActionCall& call) {
  const Cell* types = call.refinement_arg(series::COPY_TYPES);
  if (types && !types->is(TYPE_DATATYPE) && !types->is(TYPE_TYPESET)) fire_expect_arg(call, call.refinements[series::COPY_TYPES]);
  if (!call.has(series::COPY_DEEP)) return series::copy_handler(call);
  Cell s = call.result();
  uint32_t len = series_buffer(s.node())->length();
  series::Span span{std::min(s.head_index(), len), len - std::min(s.head_index(), len)};
  if (const Cell* part = call.refinement_arg(series::COPY_PART)) span = series::part_span(call, s, *part, series::COPY_PART);
  ptrstack::reset();
  return answer(call, copy_deep(s, span.start, span.count, types));
}

Cell* take_handler_fn(ActionCall& call) {
  Cell taken = series::take_core(call);
  if (taken.is(TYPE_NONE)) return answer(call, taken);
  if (call.has(series::TAKE_DEEP)) {
    ptrstack::reset();
    deep_copy_nested(taken, nullptr);
  }
  if (!call.has(series::TAKE_PART) && length(taken) == 1) return answer(call, *head_of(taken));
  return answer(call, taken);
}

Cell* swap_handler_fn(ActionCall& call) {
  Cell a = call.result();
  Cell b = call.arg(1);
  if (!is_block_kind(b.type())) fire(Err::script_invalid_arg, &b);
  if (at_tail(a) || at_tail(b)) return &call.result();
  ChangeNotice na(a, Change::swap, &b, static_cast<int32_t>(a.head_index()), 1);
  ChangeNotice nb(b, Change::swap, &a, static_cast<int32_t>(b.head_index()), 1);
  if (at_tail(a) || at_tail(b)) return &call.result();
  std::swap(*head_of(a), *head_of(b));
  if (a.is(TYPE_HASH) && b.is(TYPE_HASH) && a.node() == b.node()) {
    // Both cells of one index: reported as one change, so that neither is indexed while the
    // other still stands under its old value.
    uint32_t lo = std::min(a.head_index(), b.head_index()), hi = std::max(a.head_index(), b.head_index());
    further_type_hooks().hash_changed(a, lo, hi - lo + 1);
  } else {
    if (a.is(TYPE_HASH)) further_type_hooks().hash_changed(a, a.head_index(), 1);
    if (b.is(TYPE_HASH)) further_type_hooks().hash_changed(b, b.head_index(), 1);
  }
  na.done(a, &b, static_cast<int32_t>(a.head_index()), 1);
  nb.done(b, &a, static_cast<int32_t>(b.head_index()), 1);
  return &call.result();
}

Cell* trim_handler_fn(ActionCall& call) {
  Cell s = call.result();
  ChangeNotice notice(s, Change::trim, nullptr, static_cast<int32_t>(s.head_index()), -1);
  SeriesBuffer* b = series_buffer(s.node());
  uint32_t len = b->length();
  uint32_t h = std::min(s.head_index(), len);
  Cell* cells = b->cells_head();
  uint32_t w = h;
  for (uint32_t r = h; r < len; r++)
    if (!cells[r].is(TYPE_NONE)) cells[w++] = cells[r];
  if (w < len) {
    b->set_length(w);
    if (s.is(TYPE_HASH)) further_type_hooks().hash_changed(s, h, len - h);
  }
  notice.done(s, nullptr, static_cast<int32_t>(s.head_index()), -1);
  return &call.result();
}

// ---- make, to ------------------------------------------------------------------------------------

TypeId target_type(const Cell& proto) {
  return proto.is(TYPE_DATATYPE) ? proto.datatype_id() : proto.type();
}

Cell typeset_block(const Cell& ts) {
  Cell out = make(8);
  for (uint32_t t = 1; t <= highest_type_id(); t++)
    if (typeset_has(ts, static_cast<TypeId>(t))) append_cell(out, datatype_cell(static_cast<TypeId>(t)));
  return out;
}

Cell* make_handler_fn(ActionCall& call) {
  TypeId t = target_type(call.result());
  const Cell spec = call.arg(1);
  Cell out;
  if (is_block_kind(spec.type())) {
    out = copy_cells(spec, false);
  } else if (spec.is(TYPE_INTEGER) || spec.is(TYPE_FLOAT)) {
    int32_t n = float_to_int_checked(spec);
    out = make(static_cast<uint32_t>(std::max(n, 1)));
  } else if (spec.is(TYPE_OBJECT)) {
    object_body(spec, out);
  } else if (spec.is(TYPE_MAP)) {
    further_type_hooks().map_body(spec, out);
  } else if (spec.is(TYPE_VECTOR)) {
    further_type_hooks().vector_to_block(spec, out);
  } else {
    Cell dt = datatype_cell(t);
    fire(Err::script_bad_make_arg, &dt, &spec);
  }
  out.set_header(t);
  out.set_hash_table(0);  // a new hash! gets its index below
  if (t == TYPE_HASH) further_type_hooks().hash_new_index(out);
  return answer(call, out);
}

Cell* to_handler_fn(ActionCall& call) {
  TypeId t = target_type(call.result());
  const Cell value = call.arg(1);
  Cell out;
  if (value.is(TYPE_OBJECT)) {
    object_body(value, out);
  } else if (value.is(TYPE_MAP)) {
    further_type_hooks().map_body(value, out);
  } else if (value.is(TYPE_VECTOR)) {
    further_type_hooks().vector_to_block(value, out);
  } else if (value.is(TYPE_STRING)) {
    load_text(value, out);
  } else if (value.is(TYPE_TYPESET)) {
    out = typeset_block(value);
  } else if (is_block_kind(value.type())) {
    out = copy_cells(value, false);
  } else {
    out = make(1);
    Cell v = value;
    v.set_new_line(false);
    append_cell(out, v);
  }
  out.set_header(t);
  out.set_hash_table(0);  // a new hash! gets its index below
  if (t == TYPE_HASH) further_type_hooks().hash_new_index(out);
  return answer(call, out);
}

// ---- sort ----------------------------------------------------------------------------------------

struct SortOptions {
  CompareOp op;
  uint32_t column;  // 0-based cell of the record compared first
  uint32_t cells;   // cells compared from the column (1, or the rest of the record with /all)
  bool reverse;
};

int32_t default_record_compare(const Cell* a, const Cell* b, const SortOptions& o) {
  if (o.reverse) std::swap(a, b);
  for (uint32_t i = o.column; i < o.column + o.cells; i++) {
    int32_t r = cell_compare(a[i], b[i], o.op);
    if (r == kCannotCompare) r = static_cast<int32_t>(a[i].type()) - static_cast<int32_t>(b[i].type());
    if (r != 0) return r;
  }
  return 0;
}

int32_t sort_callback(const uint8_t* a, const uint8_t* b, void* user1, intptr_t) {
  return default_record_compare(reinterpret_cast<const Cell*>(a), reinterpret_cast<const Cell*>(b),
                                *static_cast<const SortOptions*>(user1));
}

// Records whose compared cells are all text of one type, or all integer!, sort on keys read once
// from the cells: the same algorithm and the same answers as the compare action's, so the same
// order, without the action's dispatch (and, for text, a look-up of each buffer) per comparison.

struct KeyOrder {
  bool exact;
  bool reverse;
};

// Sorts the keys (each naming its record by number) and writes the records back in their order.
template <typename Key, typename Cmp>
void sort_records_by(Cell* first, std::vector<Key>& keys, uint32_t skip, bool stable, Cmp compare) {
  auto n = static_cast<uint32_t>(keys.size());
  if (stable)
    sort::merge_sort_records(keys.data(), n, compare);
  else
    sort::quick_sort_records(keys.data(), n, compare);
  std::vector<Cell> sorted(static_cast<size_t>(n) * skip);
  for (uint32_t i = 0; i < n; i++)
    std::memcpy(&sorted[static_cast<size_t>(i) * skip], first + static_cast<size_t>(keys[i].record) * skip,
                skip * kCell);
  std::memcpy(first, sorted.data(), sorted.size() * kCell);
}

bool sort_texts(Cell* first, uint32_t records, uint32_t skip, bool stable, const SortOptions& o) {
  TypeId type = first[o.column].type();
  if (!str::is_text_type(type)) return false;
  struct Key {
    const uint8_t* p;
    uint32_t n;
    uint32_t unit;
    uint32_t record;
  };
  std::vector<Key> keys(records);
  for (uint32_t i = 0; i < records; i++) {
    const Cell& c = first[static_cast<size_t>(i) * skip + o.column];
    if (c.type() != type) return false;
    const SeriesBuffer* b = series_buffer(c.node());
    uint32_t unit = b->unit();
    uint32_t len = b->length();
    uint32_t h = std::min(c.head_index(), len);
    keys[i] = {b->head_ptr() + static_cast<size_t>(h) * unit, len - h, unit, i};
  }
  KeyOrder ord{o.op == COMP_CASE_SORT, o.reverse};
  auto compare = [ord](const Key& x, const Key& y) -> int32_t {
    const Key* a = &x;
    const Key* b = &y;
    if (ord.reverse) std::swap(a, b);
    if (int32_t d = strings::first_difference(a->p, a->unit, b->p, b->unit, std::min(a->n, b->n), ord.exact))
      return d;
    return a->n == b->n ? 0 : a->n < b->n ? -1 : 1;
  };
  sort_records_by(first, keys, skip, stable, compare);
  return true;
}

bool sort_integers(Cell* first, uint32_t records, uint32_t skip, bool stable, const SortOptions& o) {
  struct Key {
    int32_t v;
    uint32_t record;
  };
  std::vector<Key> keys(records);
  for (uint32_t i = 0; i < records; i++) {
    const Cell& c = first[static_cast<size_t>(i) * skip + o.column];
    if (!c.is(TYPE_INTEGER)) return false;
    keys[i] = {c.int_value(), i};
  }
  bool reverse = o.reverse;
  auto compare = [reverse](const Key& a, const Key& b) -> int32_t {
    return reverse ? (b.v > a.v) - (b.v < a.v) : (a.v > b.v) - (a.v < b.v);
  };
  sort_records_by(first, keys, skip, stable, compare);
  return true;
}

bool sort_by_keys(NodeId node, uint32_t start, uint32_t records, uint32_t skip, bool stable,
                  const SortOptions& o) {
  if (o.cells != 1) return false;
  Cell* first = series_buffer(node)->cells_head() + start;
  return sort_texts(first, records, skip, stable, o) || sort_integers(first, records, skip, stable, o);
}

Cell* sort_handler_fn(ActionCall& call) {
  Cell s = call.result();
  uint32_t len = series_buffer(s.node())->length();
  uint32_t h = std::min(s.head_index(), len);
  int64_t start = h, count = len - h;
  if (const Cell* part = call.refinement_arg(SORT_PART)) {
    int64_t n;
    if (part->is(TYPE_INTEGER))
      n = part->int_value();
    else if (same_buffer(*part, s))
      n = static_cast<int64_t>(std::min(part->head_index(), len)) - h;
    else
      bad_refine_arg(call, SORT_PART, *part);
    if (n < 0) {
      start = std::max<int64_t>(0, h + n);
      count = h - start;
    } else {
      count = std::min<int64_t>(n, count);
    }
  }
  if (count <= 0) return &call.result();
  uint32_t skip = 1;
  if (const Cell* sk = call.refinement_arg(SORT_SKIP)) {
    if (!sk->is(TYPE_INTEGER) || sk->int_value() < 1 || sk->int_value() > count ||
        count % sk->int_value() != 0)
      bad_refine_arg(call, SORT_SKIP, *sk);
    skip = static_cast<uint32_t>(sk->int_value());
  }
  bool all = call.has(SORT_ALL);
  SortOptions o{call.has(SORT_CASE) ? COMP_CASE_SORT : COMP_SORT, 0, all ? skip : 1,
                call.has(SORT_REVERSE)};
  const Cell* fn = nullptr;
  if (const Cell* cmp = call.refinement_arg(SORT_COMPARE)) {
    if (cmp->is(TYPE_INTEGER)) {
      if (!call.has(SORT_SKIP) || all) fire(Err::script_bad_refines);
      int32_t col = cmp->int_value();
      if (col < 1 || static_cast<uint32_t>(col) > skip) fire(Err::script_out_of_range, cmp);
      o.column = static_cast<uint32_t>(col - 1);
      o.cells = 1;
    } else if (cmp->is(TYPE_FUNCTION)) {
      fn = cmp;
    } else {
      bad_refine_arg(call, SORT_COMPARE, *cmp);
    }
  }
  bool stable = call.has(SORT_STABLE);
  uint32_t records = static_cast<uint32_t>(count / skip);
  ChangeNotice notice(s, Change::sort, nullptr, static_cast<int32_t>(start), static_cast<int32_t>(count));
  if (static_cast<uint64_t>(start + count) > series_buffer(s.node())->length())
    return &call.result();  // the handler shortened the series
  if (fn) {
    Cell function = *fn;
    bool reverse = o.reverse;
    bool records_as_blocks = all && skip > 1;
    sort::sort_cells_rooted(s.node(), static_cast<uint32_t>(start), records, skip, stable,
                            [&](const Cell* a, const Cell* b) -> int32_t {
                              if (reverse) std::swap(a, b);
                              if (!records_as_blocks) return wiring.sort_compare(function, *a, *b);
                              Cell ba = make(skip), bb = make(skip);
                              append_cells(ba, a, skip);
                              append_cells(bb, b, skip);
                              return wiring.sort_compare(function, ba, bb);
                            });
  } else if (!sort_by_keys(s.node(), static_cast<uint32_t>(start), records, skip, stable, o)) {
    uint8_t* base = reinterpret_cast<uint8_t*>(cell_at_index(s, static_cast<uint32_t>(start)));
    if (stable)
      sort::merge_sort(base, records, skip * kCell, &o, 0, &sort_callback);
    else
      sort::quick_sort(base, records, skip * kCell, &o, 0, &sort_callback);
  }
  if (s.is(TYPE_HASH))
    further_type_hooks().hash_changed(s, static_cast<uint32_t>(start), static_cast<uint32_t>(count));
  notice.done(s, nullptr, static_cast<int32_t>(start), static_cast<int32_t>(count));
  return &call.result();
}

}  // namespace

// ---- Set operations ------------------------------------------------------------------------------

namespace {

// Membership over a run of cells: hashed for single values, searched with find's equality for
// block-kind values (which hash by content only loosely).
class MemberSet {
 public:
  explicit MemberSet(bool case_sensitive) : case_(case_sensitive) {}
  void add(const Cell& c) {
    if (is_block_kind(c.type())) {
      blocks_.push_back(c);
      return;
    }
    map_.emplace(hashtab::hash_value(c, case_), values_.size());
    values_.push_back(c);
  }
  bool contains(const Cell& c) const {
    CompareOp op = case_ ? COMP_STRICT_EQUAL : COMP_FIND;
    if (is_block_kind(c.type())) {
      for (const Cell& b : blocks_)
        if (b.type() == c.type() && cell_compare(b, c, op) == 0) return true;
      return false;
    }
    auto range = map_.equal_range(hashtab::hash_value(c, case_));
    for (auto it = range.first; it != range.second; ++it) {
      const Cell& v = values_[it->second];
      if (v.type() == c.type() && cell_compare(v, c, op) == 0) return true;
    }
    return false;
  }

 private:
  bool case_;
  std::unordered_multimap<uint32_t, size_t> map_;
  std::vector<Cell> values_;
  std::vector<Cell> blocks_;
};

std::vector<Cell> cells_from_head(const Cell& b) { return {head_of(b), head_of(b) + length(b)}; }

}  // namespace

Cell set_operation(MathOp op, const Cell& a, const Cell* b, bool case_sensitive, const Cell* skip) {
  uint32_t step = 1;
  if (skip) {
    if (!skip->is(TYPE_INTEGER)) fire(Err::script_invalid_refine_arg, nullptr, skip);
    if (skip->int_value() < 1) fire(Err::script_invalid_refine_arg, nullptr, skip);
    step = static_cast<uint32_t>(skip->int_value());
  }
  std::vector<Cell> first = cells_from_head(a);
  std::vector<Cell> second = b ? cells_from_head(*b) : std::vector<Cell>{};
  MemberSet other_a(case_sensitive), other_b(case_sensitive), seen(case_sensitive);
  bool membership = op == OP_INTERSECT || op == OP_EXCLUDE || op == OP_DIFFERENCE;
  if (membership) {
    for (size_t i = 0; i < second.size(); i += step) other_b.add(second[i]);
    if (op == OP_DIFFERENCE)
      for (size_t i = 0; i < first.size(); i += step) other_a.add(first[i]);
  }
  uint32_t capacity = static_cast<uint32_t>(first.size() + (op == OP_UNION ? second.size() : 0));
  Cell out = make(capacity, a.type() == TYPE_HASH ? TYPE_BLOCK : a.type());
  auto take = [&](const std::vector<Cell>& src, const MemberSet* other, bool keep_found) {
    for (size_t i = 0; i < src.size(); i += step) {
      const Cell& key = src[i];
      if (other && other->contains(key) != keep_found) continue;
      if (seen.contains(key)) continue;
      seen.add(key);
      size_t n = std::min<size_t>(step, src.size() - i);
      append_cells(out, &src[i], static_cast<uint32_t>(n));
    }
  };
  switch (op) {
    case OP_UNIQUE:
      take(first, nullptr, true);
      break;
    case OP_UNION:
      take(first, nullptr, true);
      take(second, nullptr, true);
      break;
    case OP_INTERSECT:
      take(first, &other_b, true);
      break;
    case OP_EXCLUDE:
      take(first, &other_b, false);
      break;
    case OP_DIFFERENCE:
      take(first, &other_b, false);
      take(second, &other_a, false);
      break;
    default:
      fire(Err::script_invalid_arg);
  }
  if (a.is(TYPE_HASH)) {
    out.set_type(TYPE_HASH);
    further_type_hooks().hash_new_index(out);
  }
  return out;
}

void register_block_type() {
  HandlerRow row(kInherit);
  row.set(ActionIndex::make, make_handler_fn)
      .set(ActionIndex::to, to_handler_fn)
      .set(ActionIndex::form, form_handler_fn)
      .set(ActionIndex::mold, mold_handler_fn)
      .set(ActionIndex::compare, compare_handler_fn)
      .set(ActionIndex::eval_path, eval_path_fn)
      .set(ActionIndex::find, find_handler_fn)
      .set(ActionIndex::select, select_handler_fn)
      .set(ActionIndex::put, put_handler_fn)
      .set(ActionIndex::sort, sort_handler_fn)
      .set(ActionIndex::append, append_handler_fn)
      .set(ActionIndex::insert, insert_handler_fn)
      .set(ActionIndex::change, change_handler_fn)
      .set(ActionIndex::take, take_handler_fn)
      .set(ActionIndex::swap, swap_handler_fn)
      .set(ActionIndex::trim, trim_handler_fn)
      .set(ActionIndex::copy, copy_handler_fn);
  register_type(TYPE_BLOCK, TYPE_SERIES, "block!", row);
}

}  // namespace zem::block
