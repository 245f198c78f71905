// The road of system/reactivity/check: the relations of the changed reactor found through an index
// of the table by source object, the reaction queue kept and drained here, and the reactions run
// through system/reactivity's own eval-reaction, in check's order.
//
// An index maps an object's context node to the entry starts (0-based, multiples of four) that
// hold it, in block order. The table's index is rebuilt when the table is another block, when it
// got shorter, or when the library removed entries (react-changed bumps the stamp); entries
// appended since the last look are added to it. The queue has one too, for the pending test:
// cuts at its tail move its indexed part back. Every hit is checked against the block with same?,
// so a stale position is passed over, never taken.
//
// Reactions run user code, which may change the table, the queue and the indexes themselves (a
// nested check): nothing read from them is kept across a run. The values still needed afterwards
// sit on the argument stack.
#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zem::library {

namespace {

constexpr uint32_t kEntry = 4;  // source, field, reaction, target

// Entry starts of one block (the table or the queue) by the context node of the object that
// starts them.
struct SourceIndex {
  NodeId block = 0;
  uint32_t cells = 0;  // the part of the block indexed: the entry starts below it
  uint64_t stamp = 0;  // bumped where entries leave the table
  uint64_t built = ~uint64_t(0);
  std::unordered_map<NodeId, std::vector<uint32_t>> starts;
};
SourceIndex table_ix, queue_ix;

Cell pick(NodeId node, uint32_t i) {
  SeriesBuffer* b = series_buffer(node);
  return i < b->length() ? b->cells_head()[i] : shared_cells.none;
}

bool same_object(const Cell& a, const Cell& object) {
  return a.is(TYPE_OBJECT) && a.object_context() == object.object_context();
}

// The entry starts of `object` in the block, or null; brought up to date first.
const std::vector<uint32_t>* starts_of(SourceIndex& ix, NodeId block, const Cell& object) {
  uint32_t len = block::buffer_length(block);
  if (block != ix.block || ix.built != ix.stamp || len < ix.cells) {
    ix.starts.clear();
    ix.block = block;
    ix.cells = 0;
    ix.built = ix.stamp;
  }
  if (len > ix.cells) {
    const Cell* cells = series_buffer(block)->cells_head();
    for (uint32_t p = ix.cells; p < len; p += kEntry)
      if (cells[p].is(TYPE_OBJECT)) {
        // starts at or past p are left from before a cut: p is their place now
        std::vector<uint32_t>& v = ix.starts[cells[p].object_context()];
        while (!v.empty() && v.back() >= p) v.pop_back();
        v.push_back(p);
      }
    ix.cells = (len + kEntry - 1) / kEntry * kEntry;
  }
  auto it = ix.starts.find(object.object_context());
  return it == ix.starts.end() ? nullptr : &it->second;
}

// The first entry start at or after `from` (stepping by four from it) whose source is the reactor,
// or -1: find/same/skip from that position.
int64_t next_source(NodeId table, uint32_t from, const Cell& reactor) {
  uint32_t len = block::buffer_length(table);
  if (from % kEntry != 0) {  // a table not seen from an entry start: no index for that alignment
    for (uint32_t p = from; p < len; p += kEntry)
      if (same_object(pick(table, p), reactor)) return p;
    return -1;
  }
  const std::vector<uint32_t>* v = starts_of(table_ix, table, reactor);
  if (!v) return -1;
  for (auto p = std::lower_bound(v->begin(), v->end(), from); p != v->end(); ++p)
    if (*p < len && same_object(pick(table, *p), reactor)) return *p;
  return -1;
}

// Whether the queue, from its position, holds an entry of this reactor and reaction.
bool pending(const Cell& queue, const Cell& reactor, const Cell& reaction) {
  NodeId node = queue.node();
  uint32_t len = block::buffer_length(node), from = queue.head_index();
  auto holds = [&](uint32_t p) {
    return p + 2 <= len && same_object(pick(node, p), reactor) && block::same_cells(pick(node, p + 1), reaction);
  };
  if (from % kEntry != 0) {
    for (uint32_t p = from; p + 2 <= len; p += kEntry)
      if (holds(p)) return true;
    return false;
  }
  const std::vector<uint32_t>* v = starts_of(queue_ix, node, reactor);
  if (!v) return false;
  for (auto p = std::lower_bound(v->begin(), v->end(), from); p != v->end(); ++p)
    if (holds(*p)) return true;
  return false;
}

// Entries leave the queue's tail: the index goes on from the cut. Starts it still lists past the
// cut are stale; the same? check of every hit passes over them.
// An emptied queue (the end of every run) starts a fresh index, so objects that were queued once
// do not stay in it.
void cut_queue(NodeId node, uint32_t at) {
  block::truncate_at(node, at);
  if (queue_ix.block != node) return;
  queue_ix.cells = std::min(queue_ix.cells, at - at % kEntry);
  if (queue_ix.cells == 0) queue_ix.starts.clear();
}

[[noreturn]] void expect_arg(const Cell& value, const char* arg) {
  Cell name = make_word_cell(symbol::intern("eval-reaction"), 0), type = datatype_cell(value.type()),
       word = make_word_cell(symbol::intern(arg), 0);
  fire(Err::script_expect_arg, &name, &type, &word);
}

// eval-reaction reactor reaction target, with /mark when `mark`.
void run_reaction(const Cell& handler, const Cell& reactor, const Cell& reaction, const Cell& target, bool mark) {
  if (!reactor.is(TYPE_OBJECT)) expect_arg(reactor, "reactor");
  if (!reaction.is(TYPE_BLOCK) && !reaction.is(TYPE_FUNCTION)) expect_arg(reaction, "reaction");
  static const uint32_t name = symbol::intern("eval-reaction");
  Cell args[4] = {reactor, reaction, target, make_logic(mark)};
  interp::run_handler(handler, make_word_cell(name, 0), args, 4, 0);
}

// Runs what the first reaction set off, newest first, until the queue is back at its head.
void drain(const Cell& handler, const Cell& queue) {
  NodeId node = queue.node();
  uint32_t q = block::buffer_length(node);
  while (q != 0) {
    uint32_t mark = q;
    q = q >= kEntry ? q - kEntry : 0;
    if (is_true(pick(node, q + 3))) {
      cut_queue(node, q);
      continue;
    }
    run_reaction(handler, pick(node, q), pick(node, q + 1), pick(node, q + 2), false);
    uint32_t len = block::buffer_length(node);
    if (mark >= len) {
      cut_queue(node, q);
    } else {
      block::cell_at_index(queue, q + 3)[0] = make_logic(true);
      q = len;
    }
  }
}

// Where the search goes on after the entry that ran: after it when it still stands where it was,
// else after its first place in the table, else (it is gone) at the entry start at or before `pos`,
// where the next entry has moved.
uint32_t after_entry(NodeId table, uint32_t pos, const Cell* entry, uint32_t k) {
  uint32_t len = block::buffer_length(table);
  auto matches_at = [&](uint32_t p) {
    if (p + k > len) return false;
    for (uint32_t i = 0; i < k; i++)
      if (!block::same_cells(pick(table, p + i), entry[i])) return false;
    return true;
  };
  if (matches_at(pos)) return pos + kEntry;
  for (uint32_t p = 0; p + k <= len; p += kEntry)
    if (matches_at(p)) return p + kEntry;
  return pos - pos % kEntry;
}

}  // namespace

// react-check relations queue reactor only field handler muted: check's walk over the relations of
// the reactor (with `only`, those of the field), queueing or running them; nothing while muted
// (no-react bodies running) or when the table stands at its tail.
const Cell* react_check(Cell* args, uint32_t) {
  if (args[6].int_value() > 0 || block::at_tail(args[0])) return &shared_cells.none;
  const Cell& relations = args[0];
  const Cell& queue = args[1];
  const Cell& reactor = args[2];
  bool only = is_true(args[3]);
  const Cell& field = args[4];
  const Cell& handler = args[5];
  if (!handler.is(TYPE_FUNCTION) || context::word_count(handler.fn_context()) != 4)
    fire(Err::script_invalid_arg, &handler);
  NodeId table = relations.node();
  uint32_t pos = relations.head_index();
  for (;;) {
    int64_t found = next_source(table, pos, reactor);
    if (found < 0) break;
    pos = static_cast<uint32_t>(found);
    Cell reaction = pick(table, pos + 2);
    bool idle = block::at_tail(queue);
    if ((only && !actions::compare(field, pick(table, pos + 1), COMP_EQUAL)) ||
        (!idle && pending(queue, reactor, reaction))) {
      pos += kEntry;
      continue;
    }
    if (!idle) {
      Cell queued[4] = {reactor, reaction, pick(table, pos + 3), make_logic(false)};
      block::append_cells(queue, queued, 4);
      pos += kEntry;
      continue;
    }
    // The outermost change: run, then drain what the run set off.
    Cell* top = stack::top();
    uint32_t k = std::min(kEntry, block::buffer_length(table) - pos);
    Cell* entry = top;
    for (uint32_t i = 0; i < k; i++) stack::push_value(pick(table, pos + i));
    run_reaction(handler, reactor, reaction, pick(table, pos + 3), true);
    drain(handler, queue);
    cut_queue(queue.node(), queue.head_index());
    pos = after_entry(table, pos, entry, k);
    stack_state.top = top;
  }
  return &shared_cells.none;
}

// react-changed: the library removed entries from the table; the index is built afresh.
const Cell* react_changed(Cell*, uint32_t) {
  table_ix.stamp++;
  return &shared_cells.none;
}

}  // namespace zem::library
