// bitset!: a growable set of non-negative integers kept as bytes, bit n being bit (0x80 >> (n & 7))
// of byte n >> 3. A complement flag gives the membership of every bit past the stored bytes; the
// stored bits always hold the true membership. These functions work on plain byte arrays; the
// bitset's series supplies them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "datatypes/registry.h"

namespace zem {

struct BitsView {
  uint8_t* bytes;
  size_t length;       // stored bytes
  bool complemented;   // members beyond the stored bytes
};

// Bytes needed to store bit n.
inline size_t bits_bytes_for(uint32_t n) { return size_t(n >> 3) + 1; }
// The fill of bytes added when the set grows: every bit beyond was a member of a complemented set.
inline uint8_t bits_fill(bool complemented) { return complemented ? 0xFF : 0x00; }

bool bits_test(const BitsView& b, uint32_t n);
// Every bit of low ... high is a member (bits beyond the stored bytes answer the flag).
bool bits_test_range(const BitsView& b, uint32_t low, uint32_t high);
// Set or clear low ... high within the stored bytes (callers grow the set first where needed).
void bits_set_range(const BitsView& b, uint32_t low, uint32_t high, bool value);
void bits_invert(const BitsView& b);

// The set operations (the codes of the bitwise actions and set natives: 5/9 or, 6/10 and,
// 7/12 xor, 11 and-not). `out` holds max(a.length, b.length) bytes; the result's flag is answered.
// Bytes past an operand's stored ones count as its fill, so complemented operands combine exactly.
bool bits_combine(const BitsView& a, const BitsView& b, int op, uint8_t* out);

// -1, 0, 1: by stored length, then by flag (ordinary first), then bytes from the last to the first.
int bits_compare(const BitsView& a, const BitsView& b);

// Two upper-case hex digits per byte, inverted for a complemented set (so the text names the bits
// that are set, or under "not" the bits that are not). The limit drops by 2 a byte; with `part` the
// writing stops once it is spent. Answers the limit left.
long bits_append_hex(std::string& out, const BitsView& b, bool part, long limit);

// make bitset! #{...} or [not #{...}].
std::string bits_mold_text(const BitsView& b);

// ---- bitset! values: the bytes live in a byte series, the flag in its buffer flags ----

constexpr uint32_t kBitsetComplement = 0x80000;

// The bits of a bitset! value (valid until its series is next grown or moved).
BitsView bitset_bits(const Cell& bitset);
// A new bitset! of `bytes` bytes, each `fill`.
Cell make_bitset(size_t bytes, uint8_t fill, bool complemented);

// What the spec walker does with the values it is given.
enum BitsetOp { BITS_HIGHEST = 0, BITS_SET = 1, BITS_TEST = 2, BITS_CLEAR = 3 };
// Which error an unsupported spec raises: bad-make-arg, bad-to-arg, or invalid-arg for the others.
enum BitsetMode { BITS_MODE_MAKE = 0, BITS_MODE_TO = 1, BITS_MODE_OTHER = 2 };

// Walks a spec (char!, integer!, float!, string!, block! with ranges) and sets, tests or clears its
// bits; BITS_HIGHEST answers the highest bit named, BITS_TEST 1 when every bit named is a member.
int64_t bitset_process(const Cell& spec, const Cell* bitset, BitsetOp op, BitsetMode mode);

// make and to: `to` refuses a size.
Cell bitset_make_from_spec(const Cell& spec, bool to);

// and~, or~, xor~ and the set natives (codes 5-12 as the typesets take them) with slot 1.
Cell* bitset_do_bitwise(ActionCall& call, int op);

void register_bitset();

}  // namespace zem
