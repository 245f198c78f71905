// The base-2, base-16, base-58 and base-64 text coders of byte data, as pure functions over memory
// (no runtime needed): encoders write ASCII into a caller-sized buffer, decoders read the code
// points of a text of 1-, 2- or 4-byte units and write bytes into a caller-sized buffer.
//
// Decoders skip ";" comments (to and including the next line feed; one running to the end ends
// the input) and answer -1 when the text is not valid in their base, so callers never see half a
// result. Any code point of 128 or more is invalid in every base.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zem::basecode {

// Characters the encoders write for n bytes (base 58: an upper bound).
uint64_t encoded_size(int base, uint64_t n);
// Bytes a decoder may write for a text of `count` code points.
uint64_t decoded_capacity(int base, uint64_t count);

// Each answers the address just past the last character written; no line breaks, no terminator.
char* encode_base2(char* dst, const uint8_t* src, size_t n);
char* encode_base16(char* dst, const uint8_t* src, size_t n);
// Big-number division by 58: quadratic in n.
char* encode_base58(char* dst, const uint8_t* src, size_t n);
char* encode_base64(char* dst, const uint8_t* src, size_t n);

// `text` holds `count` units of `unit` bytes (1, 2 or 4, little-endian); `out` has
// decoded_capacity bytes. Answer the bytes written, or -1 for an invalid text.
int64_t decode_base2(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out);
int64_t decode_base16(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out);
// Quadratic in the text's length.
int64_t decode_base58(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out);
int64_t decode_base64(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out);
// By base number (2, 16, 58, 64); -1 for an invalid text or another base.
int64_t decode(int base, const uint8_t* text, size_t count, uint32_t unit, uint8_t* out);
char* encode(int base, char* dst, const uint8_t* src, size_t n);

}  // namespace zem::basecode
