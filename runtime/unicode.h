// Text encodings: UTF-8 and UTF-16LE to and from code points kept in 1-, 2- or 4-byte units.
//
// Strings keep one code point per unit, little-endian: unit 1 holds U+0000-U+00FF, unit 2 holds
// U+0000-U+FFFF (a code point above it always needs unit 4), unit 4 holds any code point. The
// functions here work on plain memory; the string storage calls them on its series buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace zem {
struct SeriesBuffer;
}

namespace zem::unicode {

constexpr uint32_t kMaxCodePoint = 0x10FFFF;

// Unit memory.
uint32_t read_unit(const uint8_t* p, int unit);
void write_unit(uint8_t* p, int unit, uint32_t cp);
// The narrowest unit that holds the code point (1 up to 0xFF, 2 up to 0xFFFF, else 4).
inline int unit_for(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }
// Rewrites `count` units of size `from` as units of size `to` (to > from) in place, last unit first,
// so no second buffer is needed. `data` must hold count * to bytes.
void widen_units(uint8_t* data, size_t count, int from, int to);

// Code points in units of one size: the plain-buffer form of a string's storage.
struct UnitText {
  std::vector<uint8_t> bytes;
  int unit = 1;

  size_t size() const { return bytes.size() / unit; }
  uint32_t at(size_t i) const { return read_unit(bytes.data() + i * unit, unit); }
  // Appends, widening the whole text first when the code point does not fit the unit.
  void push(uint32_t cp);
  // Overwrites unit i, widening the same way.
  void put(size_t i, uint32_t cp);
  void widen(int to);
  std::u32string code_points() const;
};

// ---- UTF-8 ----

// Decodes one sequence of strict UTF-8 (no overlong forms, no surrogates) and advances p past it.
// Answers -1 for a rejected sequence, after stepping over the bytes that could begin it (at least
// one); a sequence cut short by `end` is rejected and p stops at end. Never reads at or past end.
int32_t fast_decode_utf8_char(const uint8_t*& p, const uint8_t* end);
// Code points in [start, end); each rejected sequence counts as one.
size_t count_utf8_chars(const uint8_t* start, const uint8_t* end);
// The address after n code points from p, never past end.
const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, size_t n);
// Sequence length announced by a lead byte: 4, 3, 2, or 0 for an ASCII or continuation byte.
int utf8_seq_len(uint8_t lead);
// Bytes of the UTF-8 form of a code point; above U+10FFFF raises script `invalid-char`.
int utf8_char_size(uint32_t cp);
// UTF-8 byte count of the units in [start, end).
size_t utf8_size_of_units(const uint8_t* start, const uint8_t* end, int unit);
// Writes the 1-4 bytes of a code point; answers the count. Above U+10FFFF: script `invalid-char`.
int encode_utf8_char(uint32_t cp, uint8_t* out);
// As encode_utf8_char, writing only the first `room` bytes of the sequence; answers the bytes written.
int encode_utf8_char_bounded(uint32_t cp, uint8_t* out, size_t room);

// Decodes one sequence with validation. `len` holds the bytes remaining at p and receives the bytes
// used. Answers -1 when fewer bytes remain than the lead byte announces. An invalid sequence raises
// access `invalid-utf8`. The surrogates U+D800-U+DBFF and U+DD00-U+DFFF are accepted, as text
// written by earlier versions may hold them; U+DC00-U+DCFF are not.
int32_t decode_utf8_checked(const uint8_t* p, size_t& len);

// Decodes UTF-8 into `out`, replacing its content and starting at its current unit, which widens as
// code points need. A leading byte-order mark is skipped. With `crlf`, CR LF becomes LF and a lone CR
// becomes LF. Invalid or truncated input raises access `invalid-utf8`. Answers the code point count.
size_t load_utf8(const uint8_t* bytes, size_t len, UnitText& out, bool crlf);

// Writes the UTF-8 form of `count` units to out, which has utf8_room_for(count, unit) bytes; with
// `crlf` each LF is written as CR LF. Answers the bytes written.
size_t write_utf8_units(const uint8_t* units, size_t count, int unit, bool crlf, uint8_t* out);
// Appends the UTF-8 form of `count` units to `out` (left as it was when a code point is invalid).
void encode_utf8_units(const uint8_t* units, size_t count, int unit, bool crlf, std::string& out);
// Writes the UTF-8 form of `count` units into at most `capacity` bytes; a code point that does not fit
// is cut byte-wise. Answers the bytes written.
size_t encode_utf8_units_bounded(const uint8_t* units, size_t count, int unit, uint8_t* out,
                                 size_t capacity);
// Room for the UTF-8 form of count units: enough for every unit size and the CR LF expansion.
inline size_t utf8_room_for(size_t count, int unit) {
  return (count + 1) * (unit == 4 ? 4 : unit + 1);
}

// ---- UTF-16 ----

// The unit needed to hold UTF-16LE text: 1 when every unit is below 0x100, 4 when it holds a high
// surrogate, else 2.
int utf16_unit_needed(const uint8_t* le, size_t units);
// Decodes UTF-16LE into `out` (content replaced, unit as needed; at least the unit it has). With
// `crlf` every CR is dropped. A high surrogate not followed by a low one raises script `invalid-chars`;
// a lone low surrogate is kept as it is. Answers the code point count.
size_t load_utf16le(const uint8_t* le, size_t units, UnitText& out, bool crlf);
// Writes one unit below 0x10000, a surrogate pair up to U+10FFFF; answers the units written, 0 above.
int encode_utf16_char(uint32_t cp, char16_t* out);
// Units the UTF-16 form adds to `count`: one per code point above 0xFFFF, and with crlf one per LF.
size_t utf16_extra_units(const uint8_t* units, size_t count, int unit, bool crlf);
// Appends the UTF-16 form of `count` units to `out`; with crlf each LF is preceded by CR.
// Answers false, leaving out as it was, when a code point lies above U+10FFFF.
bool encode_utf16_units(const uint8_t* units, size_t count, int unit, bool crlf, std::u16string& out);
// Each byte of a NUL-terminated 8-bit text as one UTF-16 unit.
std::u16string latin1_to_utf16(const char* text);

// ---- Series forms: the string storage's buffers behind nodes ----

// Widens the series' unit in place (1 to 2, 1 to 4 or 2 to 4), expanding it first when it lacks
// room; answers its (possibly new) buffer.
SeriesBuffer* widen_series(NodeId node, int to);
// Decode into the series `target` (0: a new series), replacing its content and keeping at least its
// unit; answer the node and store the code point count. Errors as load_utf8 / load_utf16le.
NodeId load_utf8_series(const uint8_t* bytes, size_t len, NodeId target, bool crlf, uint32_t* count);
NodeId load_utf16le_series(const uint8_t* le, size_t units, NodeId target, bool crlf,
                           uint32_t* count);
// load_utf8_series over the bytes of a binary! value from its position / over a NUL-terminated text.
NodeId load_utf8_binary(const Cell& binary, NodeId target, bool crlf, uint32_t* count);
NodeId load_utf8_cstring(const char* text, NodeId target, bool crlf, uint32_t* count);

// A string value (string!, file!, url!, tag!, email!, ref!) keeps the node of a cached conversion
// buffer beside its head and node (Cell::text_cache, 0 until the first conversion). Conversions for the outside world write into that cached buffer, which is reused and
// grown, so repeated conversions of one value do not allocate. The text stays valid until the next
// conversion of the value or the next safe point.

// The data of the value's cached buffer, made or grown (content kept) to hold at least size bytes.
uint8_t* cache_buffer(Cell& str, size_t size);
// Up to *length code points from the value's position (-1: all) as NUL-terminated UTF-8 in the cached
// buffer; *length receives the byte count. With crlf each LF is written as CR LF.
const char* string_to_utf8(Cell& str, int32_t* length, bool crlf = false);
// Up to *length code points (-1: all) as NUL-terminated UTF-16 in the cached buffer, optionally with
// CR LF; *length receives the unit count. Null when a code point lies above U+10FFFF.
const char16_t* string_to_utf16(Cell& str, int32_t* length, bool crlf);
// The whole value from its position as UTF-16 with CR LF line ends.
const char16_t* to_utf16_text(Cell& str);
// Writes up to n code points from the position (-1: all) as UTF-8, then a NUL when asked; answers the
// bytes written without the NUL. The bounded form writes at most capacity bytes, NUL included, and
// cuts a code point that does not fit byte-wise.
size_t encode_utf8_into(const Cell& str, uint8_t* out, int32_t n, bool nul);
size_t encode_utf8_bounded(const Cell& str, uint8_t* out, size_t capacity, int32_t n, bool nul);

}  // namespace zem::unicode
