// Display width of a code point on a terminal grid: 0, 1 or 2 columns.
#pragma once

#include <cstdint>
#include <span>

namespace zem {

struct CodeRange;

namespace unicode {

// Whether a sorted table of inclusive ranges contains the code point.
bool in_ranges(uint32_t cp, std::span<const CodeRange> table);
// 0 for NUL and the zero-width characters (combining and enclosing marks, format characters),
// 2 for East Asian Wide and Fullwidth characters, else 1 (the controls included).
int char_width(uint32_t cp);
// As char_width, with East Asian Ambiguous characters 2 columns wide.
int char_width_cjk(uint32_t cp);

enum class WidthTable { zero, wide, ambiguous };
// The generated tables, for the checks that they are the ones the system was built with.
std::span<const CodeRange> width_table(WidthTable which);

}  // namespace unicode
}  // namespace zem
