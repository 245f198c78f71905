// string!: the text datatype's actions. file!, url!, tag!, email! and ref! inherit these handlers
// (binary! and vector! take find, select, sort and swap as well).
//
// Storage, widening and the bulk copy are in datatypes/string_storage.h; this module decides what
// text goes where: make/to, form/mold with their escapes, comparison, append/insert/take/change,
// swap, trim, sort, path access, the string side of the set operations, and find/select with the
// small matching primitives that parse uses (string_search.cpp).
//
// Case-insensitive comparison everywhere (compare, find, sort, set operations) folds both code
// points to upper case through casefold::map_char, as the string hashes do, so equal texts hash
// alike and the same text orders the same whatever the width of its storage.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace zem::strings {

// Refinement positions of the actions (spec order).
enum AppendRef : uint32_t { APPEND_PART, APPEND_ONLY, APPEND_DUP };
enum FindRef : uint32_t {
  FIND_PART, FIND_ONLY, FIND_CASE, FIND_SAME, FIND_ANY, FIND_WITH, FIND_SKIP, FIND_LAST,
  FIND_REVERSE, FIND_TAIL, FIND_MATCH,
};
enum SortRef : uint32_t {
  SORT_CASE, SORT_SKIP, SORT_COMPARE, SORT_PART, SORT_ALL, SORT_REVERSE, SORT_STABLE,
};
enum TrimRef : uint32_t { TRIM_HEAD, TRIM_TAIL, TRIM_AUTO, TRIM_LINES, TRIM_ALL, TRIM_WITH };
enum TakeRef : uint32_t { TAKE_PART, TAKE_DEEP, TAKE_LAST };

// A word naming a refinement, for error arguments (none before the symbol table exists).
Cell refinement_word(std::string_view name);
// Script `invalid-refine-arg` with the refinement's word and the argument.
[[noreturn]] void fire_refine_arg(std::string_view refinement, const Cell& arg);

// ---- Comparison ----------------------------------------------------------------------------------

// A code point folded for case-insensitive comparison.
uint32_t fold(uint32_t cp);

// The text comparison of two string-family values (or words and symbols, by their names): -1, 0, 1, or
// kCannotCompare. In `match_at_head` mode b's text must be a prefix of a's text (an empty b matches
// except under COMP_FIND).
int32_t compare_values(const Cell& a, const Cell& b, CompareOp op, bool match_at_head = false);

// The order of the first of n code points that differ in two texts of 1-, 2- or 4-byte units
// (case-folded unless `exact`): -1 or 1, or 0 when none differs.
int32_t first_difference(const uint8_t* a, uint32_t unit_a, const uint8_t* b, uint32_t unit_b,
                         uint32_t n, bool exact);

// ---- Text in, text out ---------------------------------------------------------------------------

int32_t form(const Cell& value, TextOut& out, const Cell* part, int32_t limit);
int32_t mold(const Cell& value, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
             int32_t indent);
// Writes one code point as mold writes it inside double quotes (`all`: every code point above 0x7F
// as "^(hex)").
void append_escaped_char(TextOut& out, uint32_t cp, bool all);
// Forms a value onto the tail of the string's buffer (no limit).
void form_onto(NodeId node, const Cell& value);

// Adds the value's text at the tail of `series` (no notification): a string-family value its text
// from its head, a char! one code point, a tag! with its angle brackets, a block!, paren! or hash!
// the formed text of each value (the part limit counting values), anything else its formed text.
// `part` < 0: no limit. The added stretch is repeated to make `dup` copies.
void append_text(const Cell& series, const Cell& value, int32_t part, int32_t dup);

// ---- Search and matching (string_search.cpp) -----------------------------------------------------

struct FindOptions {
  const Cell* part = nullptr;
  const Cell* skip = nullptr;
  bool exact = false;  // case or same
  bool wildcard = false;  // any or with
  bool last = false;
  bool reverse = false;
  bool tail = false;
  bool match = false;
};
// The series at the found position, or none. `call` (may be null) names refinements in errors.
Cell find(const Cell& series, const Cell& value, const FindOptions& options,
          const ActionCall* call = nullptr);
// Repeated forward find (as `find`, or `find/case` when `exact`) with the pattern prepared once:
// from the series' position, and then from where `step` answers for each match's head index,
// until a find answers none. The series must not change meanwhile.
void find_each(const Cell& series, const Cell& value, bool exact,
               const std::function<uint32_t(uint32_t)>& step);
// The unit after the match (char!, integer! for binary!, the element for vector!), or none.
Cell select(const Cell& series, const Cell& value, const FindOptions& options,
            const ActionCall* call = nullptr);
Cell* find_handler(ActionCall& call);
Cell* select_handler(ActionCall& call);

// Parse's tests of the text at an input position (false when the head is at the tail).
bool head_char_in_bitset(const Cell& s, const Cell& bitset);
bool matches_tag_brackets(const Cell& s, const Cell& tag);
bool matches_at_head(const Cell& s, const Cell& value, CompareOp op);
// Bitset membership: a code point past the stored bits answers the complement flag.
bool bitset_has(const Cell& bitset, uint32_t cp);

// ---- Modification ----------------------------------------------------------------------------------

// trim's cores on the text from the head (no notification).
void trim_chars(const Cell& s, const Cell* with);
void trim_lines(const Cell& s);
void trim_ends(const Cell& s, bool head, bool tail);

// A sort comparator's result for two records of `unit`-byte code points; `flags` carries bit 0
// reverse, bit 1 whole records, bits 2 and up the record size (whole records) or the offset of the
// one unit compared.
int32_t compare_records(const uint8_t* a, const uint8_t* b, uint32_t unit, bool exact,
                        uint32_t flags);

// The string engine of unique, union, intersect, exclude and difference (OP_UNIQUE ...
// OP_DIFFERENCE): a new string! (set2 is not read for unique). `skip` is the record size argument or
// null; `skip_word` names it in the error.
Cell set_operation(MathOp op, const Cell& set1, const Cell& set2, bool case_sensitive,
                   const Cell* skip, const Cell* skip_word = nullptr);

// ---- The datatype ----------------------------------------------------------------------------------

Cell* make_handler(ActionCall& call);
Cell* to_handler(ActionCall& call);
Cell* path_handler(PathStep& step);
void register_string_type();

}  // namespace zem::strings
