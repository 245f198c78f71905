// Simple one-to-one case mapping of code points (no special casing, no length changes), used by
// the case-insensitive comparisons and hashes, `uppercase` / `lowercase` and parse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/unicode.h"

namespace zem {

struct CasePair;

namespace casefold {

// Expands the Basic Multilingual Plane tables into direct arrays. Start-up calls it once; calling it
// again does nothing.
void init();

// The mapped code point, or cp itself when it has no mapping.
uint32_t map_char(uint32_t cp, bool upper);
inline uint32_t to_upper(uint32_t cp) { return map_char(cp, true); }
inline uint32_t to_lower(uint32_t cp) { return map_char(cp, false); }
// The upper-case form, or the lower-case form when the code point is its own upper case.
uint32_t swap_case(uint32_t cp);

// The number of characters a /part count covers: a negative count becomes 0, and a count is clamped
// to the characters left after the position.
size_t part_count(int64_t count, size_t left);
// Maps `count` code points of `text` from index `from` (both clamped to the text), widening the
// text's unit when a mapped code point does not fit it. This is the core of `uppercase` and
// `lowercase` on strings; the string storage resolves the /part argument and reports the change.
void change_case(unicode::UnitText& text, size_t from, size_t count, bool upper);

// The count a /part argument gives for a string value: an integer! as it is; a series of the same
// type on the same buffer, the distance from the string's position to its position. Anything else
// raises script `invalid-part`.
int64_t part_count_of(const Cell& str, const Cell& part);

struct CaseChange {
  uint32_t index;  // the string's position, clamped to its tail
  uint32_t count;  // characters mapped
};
// The core of `uppercase` and `lowercase`: maps a char! in place, or the characters of a string value
// from its position: all of them, or as many as the /part argument gives (a negative count maps
// none; a count past the tail stops there). Widens the string's unit when a mapped code point does
// not fit. Answers what was mapped, for the caller's change report.
CaseChange change_case(Cell& value, const Cell* part, bool upper);

// The generated pair tables, for the checks that they are the ones the system was built with.
std::span<const CasePair> table(bool upper, bool astral);

}  // namespace casefold
}  // namespace zem
