// binary!: the byte series, and the byte-series helpers the rest of the runtime builds and reads
// byte buffers with (codecs, checksums, the lexer's binary literals, pixel transfer).
//
// A binary! value holds its head index in bytes and its buffer's node; the buffer's unit is 1 and
// is never widened. The head may lie past the tail after the series shrank: readers clamp it.
//
// Buffers move: the helpers take the cell and re-read the buffer through its node. An address they
// answer is good until the next write into that binary or the next safe point.
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace zem::binary {

// ---- Reading -------------------------------------------------------------------------------------

// Bytes from the head to the tail (0 when the head lies past the tail).
uint32_t rs_length(const Cell& b);
// Moves the head by n bytes (kept within 0 ... tail); true when it is then at the tail.
bool rs_skip(Cell& b, int32_t n);
bool rs_next(Cell& b);
// Address of the byte at the head, not clamped (the head must not lie past the tail).
uint8_t* rs_head(const Cell& b);
uint8_t* rs_tail(const Cell& b);
bool rs_tail_q(const Cell& b);
// Drops the bytes from the head on.
void rs_clear(const Cell& b);
// The byte at `offset` counted from the buffer's first byte (not from the head).
uint8_t byte_at(const Cell& b, uint32_t offset);

// ---- Writing -------------------------------------------------------------------------------------
// The source may lie in the binary's own buffer.

// Copies n bytes to the tail, growing the buffer; answers the address written.
uint8_t* append_bytes(const Cell& b, const uint8_t* src, uint32_t n);
// Inserts n bytes at head + offset, moving the rest up; answers the address written.
uint8_t* insert_bytes(const Cell& b, uint32_t offset, const uint8_t* src, uint32_t n);
// Writes n bytes from head + offset on; the tail moves only when the write ends beyond it.
uint8_t* overwrite_bytes(const Cell& b, uint32_t offset, const uint8_t* src, uint32_t n);
// Writes the value as 4 bytes, most significant first, at the tail (the caller reserved the room).
void append_int32_be(uint32_t value, const Cell& b);
// Makes room for n more bytes after the tail.
void reserve(const Cell& b, uint64_t n);

// ---- Construction --------------------------------------------------------------------------------

// An empty binary! (head 0) on a new buffer of that capacity (0: the allocator's 16 bytes).
void make_at(Cell& target, uint32_t capacity);
Cell make(uint32_t capacity);
// Appends a new empty binary to the block; answers a copy of the new cell.
Cell make_in(const Cell& block, uint32_t capacity);
// A new binary holding a copy of the n bytes, appended to the block when one is given.
Cell load_in(const uint8_t* src, uint32_t n, const Cell* block);
Cell load(const uint8_t* src, uint32_t n);
// Pushes a copy of the value (a new buffer holding the bytes from the head) on the argument stack.
Cell* push_copy(const Cell& b);

// ---- Values as bytes -----------------------------------------------------------------------------

// The byte of an integer! or char! value; any other type raises script `invalid-arg`.
uint8_t byte_of_arg(const Cell& value);

// The bytes that append, insert, change and `to binary!` take from a value. With `dst` null only
// the size is computed (every value checked: nothing is written by a conversion that fails); else
// they are written to `dst`, which has room for that size. `limit` > 0 caps the bytes of one value
// (of a block: its bytes in unit mode, else its elements). `form_mode` (change) turns a value of
// another type into its formed text; otherwise it raises script `bad-to-arg`.
uint64_t value_to_bytes(uint8_t* dst, const Cell& value, int32_t limit, bool unit_mode,
                        bool form_mode);

// append (append mode) and insert: the value's bytes, `dup` times, at the tail or at the head; in
// insert mode the target's head moves past them. part < 0: no limit.
void append_value(Cell& target, const Cell& value, int32_t part, bool only, int32_t dup,
                  bool append_mode);

// ---- Comparison and parse ------------------------------------------------------------------------

// The byte comparison of two binaries (or a binary and a text, by its UTF-8 bytes, for parse): 0
// equal, -1 or 1 ordered, 1 different, kCannotCompare for another type. `prefix`: only the other
// value's length is compared (an empty one matches under the equality codes).
int32_t match_series(const Cell& input, const Cell& other, int32_t op, bool prefix);
// The byte at the input's head is a member of the bitset (a byte beyond its bits answers its
// complement flag).
bool byte_in_bitset(const Cell& input, const Cell& bitset);
// The value matches at the input's head: text and binary values through match_series in prefix
// mode, a char! by its code.
bool match(const Cell& input, const Cell& value, int32_t op);

// ---- Text ----------------------------------------------------------------------------------------

// The molded text, as mold gives it (for tests and diagnostics).
std::string mold_text(const Cell& b, bool flat, bool only, int32_t indent);

void register_binary_type();

}  // namespace zem::binary
