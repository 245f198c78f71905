// String storage: one code point per unit of 1, 2 or 4 bytes in an ordinary series buffer.
//
// A string value (string!, file!, url!, tag!, email!, ref!) holds its head index in code points,
// its buffer's node and the node of a cached conversion buffer (0 until a conversion makes one; see
// runtime/unicode.h); runtime/layout.h has the layout.
//
// Unit rules: a buffer is widened as a whole when a code point does not fit, and never narrowed
// except when it is reset. Appending keeps unit 1 only up to 0x7F (so appended Latin-1 text widens),
// writing over or inserting at an index keeps it up to 0xFF; unit 2 holds up to 0xFFFF.
//
// Every write takes the node and answers the buffer, because widening or growth may replace it;
// addresses read before a write are stale after it. All runtime text that goes into strings passes
// through these primitives (or StringOut), so the unit rules hold everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/support.h"

namespace zem::str {

constexpr bool is_text_type(TypeId t) {
  return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG || t == TYPE_EMAIL ||
         t == TYPE_REF;
}

// ---- Reads ---------------------------------------------------------------------------------------

// One unit as a code point; a unit size other than 1, 2, 4 or 8 (a vector's 8-byte element, whose
// low half is read) is an internal fault (crash report).
uint32_t get_char(const uint8_t* p, uint32_t unit);
// Writes a code point as one unit (unit 8: the low half, the high half zero); a unit size other than
// 1, 2, 4 or 8 is an internal fault.
void put_char(uint8_t* p, uint32_t unit, uint32_t cp);
// The code point at head-relative index i (no bounds check beyond the buffer's tail).
uint32_t code_point_at(const Cell& s, uint32_t i);
// Address of the head unit; a head index past the tail is first clamped to the length.
uint8_t* head_address(Cell& s);
bool head_at_tail(const Cell& s);
// Code points from the head to the tail (0 when the head lies past the tail).
uint32_t count_from_head(const Cell& s);
// Head-relative index of the first occurrence of the code point (exact), or -1.
int32_t index_of_code_point(const Cell& s, uint32_t cp);
// True when the code point is at the head or at any step-th unit after it; case-folded unless
// case_sensitive.
bool contains_code_point(const Cell& s, uint32_t cp, uint32_t step, bool case_sensitive);
// Index of the first byte equal to a or b in [p, p + n), or n (a word of bytes tested at a time:
// case-folded scans look for a letter's two forms).
size_t find_either_byte(const uint8_t* p, size_t n, uint8_t a, uint8_t b);
// True when the text from the head begins with the bytes (each byte one code point).
bool starts_with_c_text(const Cell& s, std::string_view bytes);

// ---- Writes --------------------------------------------------------------------------------------

// Appends one code point at the tail.
SeriesBuffer* append_code_point(NodeId node, uint32_t cp);
// Writes over the unit at `unit_index` (counted from the buffer's first unit, below the tail).
SeriesBuffer* overwrite_code_point(NodeId node, uint32_t unit_index, uint32_t cp);
// Writes at unit index `index` from the buffer's first unit, growing as far as needed; a write past
// the tail fills the gap with U+0000 and moves the tail just after the written unit.
SeriesBuffer* put_code_point_at(NodeId node, uint32_t index, uint32_t cp);
// Inserts one code point at unit index `index` (at most the length), moving the rest up.
SeriesBuffer* insert_code_point_at(NodeId node, uint32_t index, uint32_t cp);
// Removes `count` units at head-relative index; nothing when the index is at or past the tail.
void remove_units(const Cell& s, uint32_t index, uint32_t count);
// Keeps at most n units (from the buffer's first unit).
void truncate(const Cell& s, uint32_t n);
// Unit back to 1, empty, head index 0.
void reset_empty(Cell& s);
// Widens the buffer (1 to 2, 1 to 4, 2 to 4); a narrower or equal unit leaves it as it is.
SeriesBuffer* widen_to(NodeId node, uint32_t unit);
// Makes room for `extra` more bytes after the tail (growing to twice the need); answers the buffer.
SeriesBuffer* reserve_bytes(NodeId node, uint64_t extra);
// As reserve_bytes for a caller that holds no address into the buffer: a big one grows by moving
// its pages, and the old address is invalid at once.
SeriesBuffer* grow_bytes(NodeId node, uint64_t extra);

// Appends each byte as one code point (bytes 0x80-0xFF become U+0080-U+00FF and widen to unit 2).
SeriesBuffer* append_c_text(NodeId node, std::string_view bytes);
// Appends ASCII text (no widening check needed beyond the unit's own).
inline SeriesBuffer* append_ascii(NodeId node, std::string_view text) {
  return append_c_text(node, text);
}
// Appends UTF-8 text, decoded (invalid input raises access `invalid-utf8`).
SeriesBuffer* append_utf8(NodeId node, std::string_view utf8);

enum class ConcatMode : uint8_t { append = 0, insert = 1, overwrite = 2 };
// Bulk copy of `source` from its head into `target`: appended at the tail, inserted at head +
// offset, or written over from head + offset. `part` >= 0 limits the code points copied. Units:
// the target is widened to the source's unit; a narrower source is widened itself unless
// `per_code_point`, which copies code point by code point instead. A source sharing the target's
// buffer copies its own text once. A symbol! source gives its name (from its first code point); a
// symbol! target raises script `protected`. Answers the target's buffer.
SeriesBuffer* concatenate(Cell& target, const Cell& source, int32_t part, uint32_t offset,
                          bool per_code_point, ConcatMode mode);
// Exchanges the adjacent byte regions [p, p + a) and [p + a, p + a + b).
void rotate_bytes(uint8_t* p, size_t a, size_t b);
// Moves the code points of the source's first `bytes` bytes from its head into the target at the
// target's head index, then removes them from the source.
void move_head_units(Cell& source, Cell& target, uint32_t bytes);

// ---- Construction --------------------------------------------------------------------------------

// An empty string! of unit 1 with room for `capacity` code points (at least 1).
void init_empty(Cell& s, uint32_t capacity, TypeId type = TYPE_STRING);
Cell make_string(uint32_t capacity = 0, TypeId type = TYPE_STRING);
// An empty string! of the given unit.
void init_with_unit(Cell& s, uint32_t capacity, uint32_t unit);
// A string! from ASCII / Latin-1 bytes (each byte one code point) or UTF-8.
Cell make_from_c_text(std::string_view bytes, TypeId type = TYPE_STRING);
Cell make_from_utf8(std::string_view utf8, TypeId type = TYPE_STRING);

enum Encoding : int32_t { ENC_UTF8 = 0, ENC_UTF16LE = -1 };
// A string! from outside text (`length` bytes of UTF-8, or `length` UTF-16 units), written into
// `target`. An unsupported encoding raises script `invalid-arg` with the encoding number.
void load_from_buffer(const uint8_t* text, size_t length, Cell& target, int32_t encoding);
// As load_from_buffer, the new value appended to the block.
void load_into_block(const uint8_t* text, size_t length, const Cell& block, int32_t encoding);
// As load_from_buffer, the new value pushed on the argument stack.
Cell* load_on_stack(const uint8_t* text, size_t length, int32_t encoding);
// Pushes a copy of the string value (the same buffer) on the argument stack.
Cell* push(const Cell& s);
// A string! decoded from UTF-8 bytes; bytes that are not valid UTF-8 raise access `invalid-utf8`
// with a binary! of the bytes from the first bad one on.
Cell load_utf8_bytes(const uint8_t* bytes, size_t length);
// Decimal text from the head (code points below 0x80 only) to a double; `unread` receives the code
// points left after the number.
double to_float(const Cell& s, size_t* unread);

// ---- Hexadecimal text (in a static buffer that the next call overwrites) -------------------------

const char* byte_to_hex(uint8_t byte);
// Eight upper-case digits (negative values fill with "F"); with `short_form` the digits without the
// leading fill, "00" for 0.
const char* int_to_hex(int32_t value, bool short_form);

// ---- Text output over a string -------------------------------------------------------------------

// The output of form and mold: appends to a string value's buffer through the primitives.
class StringOut final : public TextOut {
 public:
  explicit StringOut(NodeId node) : node_(node) {}
  void append_ascii(std::string_view text) override;
  void append_code_point(uint32_t cp) override;
  NodeId node() const { return node_; }

 private:
  NodeId node_;
};

// A C++ copy of the text from the head as UTF-8 (for diagnostics and tests).
std::string to_std_string(const Cell& s);

}  // namespace zem::str
