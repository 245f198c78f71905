// series!: the positional actions every series shares (at, skip, next, back, head, tail, head?,
// tail?, index?, length?, pick, poke, clear, remove, take, move, reverse, copy, random, reflect,
// modify), written once over any unit size: cells, bytes and 1-, 2- or 4-byte code points.
//
// A series value holds its head index in units and its buffer's node (see runtime/layout.h).
// Positions are clamped, never faulted, for at, skip, back, next, length? and copy.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace zem::series {

// Refinement positions of the series actions (spec order of each action).
enum RandomRef : uint32_t { RANDOM_SEED, RANDOM_SECURE, RANDOM_ONLY };
enum CopyRef : uint32_t { COPY_PART, COPY_DEEP, COPY_TYPES };
enum RemoveRef : uint32_t { REMOVE_PART, REMOVE_KEY };
enum TakeRef : uint32_t { TAKE_PART, TAKE_DEEP, TAKE_LAST };
enum ReverseRef : uint32_t { REVERSE_PART, REVERSE_SKIP };
enum MoveRef : uint32_t { MOVE_PART };

// 1 when the head index lies at or past the tail.
bool head_past_tail(const Cell& series);
// Units from the buffer's first unit to the tail.
uint32_t units_in_buffer(NodeId node);
// Moves the head by n units when the new head stays within 0 ... tail; true when the head is then at
// or past the tail.
bool advance_head(Cell& series, int32_t n);
// Units from the head (from the first unit with `from_start`); a head beyond the tail is set to the
// tail and 0 answered.
uint32_t count_from_head(Cell& series, bool from_start = false);

// A new series of the value's type holding `count` units from absolute unit `start` (both already
// clamped by the caller), head 0, the source buffer's flags (unit and datatype bits; not the owned
// flag), the new-line marker and a vector's element type kept.
Cell copy_range(const Cell& source, uint32_t start, uint32_t count);
// The units a /part argument covers from the head: an integer! count (negative: before the head) or
// a position in the same series (same type and buffer, else script `invalid-refine-arg` naming the
// refinement). Answers the absolute start and the count, clamped to the buffer.
struct Span {
  uint32_t start;
  uint32_t count;
};
Span part_span(const ActionCall& call, const Cell& series, const Cell& part, uint32_t refinement_word_arg);

// The take core shared by block! and string!: answers the taken units as a new series of the
// source's type (none when the source is empty from its head). Without /part the result is a
// one-unit series.
Cell take_core(ActionCall& call);

// Field words of reflect and modify: a word kind whose canonical symbol is the name's (`Owned` names
// the field `owned`). The wiring table's `word_is`.
bool word_named(const Cell& word, std::string_view name);

// Raises script `invalid-refine-arg` with the refinement's parameter word (when the call carries
// it) and the value.
[[noreturn]] void bad_refine_arg(const ActionCall& call, uint32_t refinement, const Cell& value);
// Copies the value into the result slot and answers the slot.
inline Cell* answer(ActionCall& call, const Cell& value) {
  call.result() = value;
  return &call.result();
}

// The handlers (also called by the types that override some of them).
Cell* copy_handler(ActionCall& call);
Cell* take_handler(ActionCall& call);
// The `owned` field (bitset! shares them).
Cell* reflect_handler(ActionCall& call);
Cell* modify_handler(ActionCall& call);

void register_series_type();

}  // namespace zem::series
