// Raw deflate streams (RFC 1951) and their gzip (RFC 1952) and zlib (RFC 1950) containers, over
// caller-supplied buffers.
//
// Every codec takes (output, &capacity, input, input length). It writes what fits in the capacity
// and keeps counting past it; on return the capacity slot holds the size produced (0) or the size
// needed (1). A null output with capacity 0 only measures. Other results mean bad input. Nothing
// here allocates or reaches the evaluator.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zem::deflate {

enum Result : int {
  kDone = 0,
  kTooSmall = 1,
  kBadData = 2,          // malformed or truncated stream, failed container check
  kStoredPastEnd = 3,    // a stored block runs past the end of the input
  kBadBlockType = 4,     // block type 3
  kDistanceTooFar = 5,   // a distance reaches before the start of the output
};

// Interns the method words zlib, deflate and gzip.
void init();
// The method word of a symbol (compared by canonical symbol).
enum class Method { none, zlib, deflate, gzip };
Method method_of(uint32_t sym);

// One block with the fixed Huffman codes; never fails but by result 1.
int compress(uint8_t* out, size_t* capacity, const uint8_t* in, size_t n);
// Stored, fixed and dynamic blocks, up to and including the final block; input after it is ignored.
int inflate(uint8_t* out, size_t* capacity, const uint8_t* in, size_t n);

// 1F 8B 08 00 00000000 04 04, the deflate data, CRC-32 and length (little-endian): 18 bytes more.
int gzip(uint8_t* out, size_t* capacity, const uint8_t* in, size_t n);
// Header checks (FEXTRA, FNAME, FCOMMENT, FHCRC), inflate, CRC-32 and ISIZE checks. The size
// needed is the one inflating counts, never the ISIZE the data claims.
int gunzip(uint8_t* out, size_t* capacity, const uint8_t* in, size_t n);
// 78 01, the deflate data, Adler-32 big-endian: 6 bytes more.
int zlib_compress(uint8_t* out, size_t* capacity, const uint8_t* in, size_t n);
// Header checks (no preset dictionary), inflate, Adler-32 check; fewer than 6 bytes are refused.
int zlib_decompress(uint8_t* out, size_t* capacity, const uint8_t* in, size_t n);

// The most a deflate stream of n bytes can expand to (258 bytes for every 2 bits, plus slack):
// callers size their first buffer within it.
constexpr uint64_t max_inflated(uint64_t n) { return 1032 * n + 64; }

}  // namespace zem::deflate
