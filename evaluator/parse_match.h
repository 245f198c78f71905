// The parse engine's matching of simple values against the input: literal matches at the position,
// the fast search of `to`/`thru`, and the repeated match of one value under a repeat.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zem::parse {

enum class InputKind : uint8_t { block, text, binary };
InputKind input_kind(TypeId t);

// The unit at an absolute index of a text or binary input, as a code point or byte.
uint32_t unit_at(const Cell& input, uint32_t index);
// Units from the buffer's first unit to the tail.
uint32_t input_tail(const Cell& input);

// Equality of a block element with a rule value (lit-word and lit-path rules compare with the
// parse codes).
bool compare_values(const Cell& element, const Cell& rule, int32_t mode);

// Units the rule value covers at the input's position when it matches there, or -1. Text and
// binary input; an empty text value matches with 0 units.
int32_t match_text_at(const Cell& input, const Cell& value, int32_t mode);

// The input's end for a search or repeat: its tail, lowered to the limit (0 or less: none).
uint32_t search_end(const Cell& input, int32_t limit);

// Searches the value from the input's position; answers the absolute index of the match and its
// length, or false. Raises `parse-rule` for a value that cannot be searched for in text.
struct Found {
  uint32_t at;
  uint32_t length;
};
bool search_value(const Cell& input, const Cell& value, int32_t mode, int32_t limit, Found& found);

// Matches the value repeatedly from the input's position, moving it past the matches; `count`
// receives the attempts as the repeat counts them. `max` -1: no limit.
bool match_repeat(Cell& input, const Cell& value, int32_t min, int32_t max, int32_t& count,
                  int32_t mode, int32_t limit);

}  // namespace zem::parse
