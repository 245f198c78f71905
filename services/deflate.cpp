// Deflate and inflate (RFC 1951) with their gzip and zlib containers.
#include "services/deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "datatypes/symbol.h"
#include "services/checksum.h"

namespace zem::deflate {

namespace {

// ---- RFC 1951 tables -----------------------------------------------------------------------------

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Order in which a dynamic block sends the code lengths of the code-length alphabet.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr int kLitSymbols = 288;   // 286 and 287 have codes in the fixed block but are refused
constexpr int kDistSymbols = 32;   // 30 and 31 likewise
constexpr int kMaxBits = 15;

uint32_t reverse_bits(uint32_t code, int len) {
  uint32_t r = 0;
  for (int i = 0; i < len; i++, code >>= 1) r = (r << 1) | (code & 1);
  return r;
}

uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// ---- Inflater ------------------------------------------------------------------------------------

// Bits are taken least significant first. Bits of the buffer above `count` are either the next input
// bits in their place or zeros past the end, so a table lookup may peek beyond `count`; a code found
// longer than `count` after a refill means the input ran out.
struct BitReader {
  const uint8_t* in;
  size_t n;
  size_t pos = 0;
  uint64_t buf = 0;
  unsigned count = 0;

  // Afterwards count >= 57, or the input is used up.
  void refill() {
    if (n - pos >= 8) {
      buf |= load_le64(in + pos) << count;
      pos += (63 - count) >> 3;
      count |= 56;
      return;
    }
    while (count <= 56 && pos < n) {
      buf |= uint64_t(in[pos++]) << count;
      count += 8;
    }
  }
  void drop(unsigned k) {
    buf >>= k;
    count -= k;
  }
  // Takes k <= 32 bits; false when the input ends first.
  bool take(unsigned k, uint32_t& v) {
    if (count < k) {
      refill();
      if (count < k) return false;
    }
    v = uint32_t(buf & ((uint64_t(1) << k) - 1));
    drop(k);
    return true;
  }
};

// Decoding table: a primary table indexed by the next P bits; codes longer than P continue in a
// sub-table that the primary entry links to. Entries: symbol or sub-table base in bits 16-31,
// kLeaf with the code's full length in bits 0-4, or kLink with the sub-table's index bits.
constexpr uint32_t kLeaf = 0x40, kLink = 0x20;

template <int P, int Symbols, int MaxLen = kMaxBits>
struct HuffmanTable {
  // A sub-table per prefix of a code longer than P bits, at most 2^(15-P) entries each.
  static constexpr int kSize = (1 << P) + (MaxLen > P ? Symbols << (kMaxBits - P) : 0);
  uint32_t e[kSize];

  // False for an over-subscribed set of lengths. An incomplete set leaves holes that decode as bad
  // data when they are met.
  bool build(const uint8_t* lens, int n) {
    int count[kMaxBits + 1] = {};
    for (int s = 0; s < n; s++) count[lens[s]]++;
    count[0] = 0;
    int left = 1;
    for (int len = 1; len <= kMaxBits; len++) {
      left = (left << 1) - count[len];
      if (left < 0) return false;
    }
    int offset[kMaxBits + 2] = {};
    for (int len = 1; len <= kMaxBits; len++) offset[len + 1] = offset[len] + count[len];
    uint16_t sorted[Symbols];
    for (int s = 0; s < n; s++)
      if (lens[s]) sorted[offset[lens[s]]++] = uint16_t(s);

    std::fill_n(e, 1 << P, 0u);
    int remaining[kMaxBits + 1];
    std::copy(count, count + kMaxBits + 1, remaining);
    uint32_t code = 0;  // canonical code, most significant bit first
    uint32_t next_free = 1u << P, prefix = ~0u, sub_base = 0;
    int sub_bits = 0, k = 0;
    for (int len = 1; len <= kMaxBits; len++, code <<= 1) {
      for (int c = 0; c < count[len]; c++, code++, k++) {
        const uint32_t sym = sorted[k];
        const uint32_t r = reverse_bits(code, len);
        if (len <= P) {
          for (uint32_t i = r; i < (1u << P); i += 1u << len) e[i] = sym << 16 | kLeaf | uint32_t(len);
        } else {
          if ((r & ((1u << P) - 1)) != prefix) {
            // A new prefix: its sub-table is as deep as the codes that share the prefix need.
            prefix = r & ((1u << P) - 1);
            sub_bits = len - P;
            int room = 1 << sub_bits;
            while (sub_bits + P < kMaxBits) {
              room -= remaining[sub_bits + P];
              if (room <= 0) break;
              sub_bits++;
              room <<= 1;
            }
            sub_base = next_free;
            next_free += 1u << sub_bits;
            std::fill_n(e + sub_base, 1 << sub_bits, 0u);
            e[prefix] = sub_base << 16 | kLink | uint32_t(sub_bits);
          }
          for (uint32_t i = r >> P; i < (1u << sub_bits); i += 1u << (len - P))
            e[sub_base + i] = sym << 16 | kLeaf | uint32_t(len);
        }
        remaining[len]--;
      }
    }
    return true;
  }

  // The next symbol, or -1 for a hole or a code that runs past the input. The caller refilled.
  int decode(BitReader& b) const {
    uint32_t x = e[b.buf & ((1u << P) - 1)];
    if (x & kLink) x = e[(x >> 16) + ((b.buf >> P) & ((1u << (x & 31)) - 1))];
    const unsigned len = x & 31;
    if (!(x & kLeaf) || len > b.count) return -1;
    b.drop(len);
    return int(x >> 16);
  }
};

using LitTable = HuffmanTable<10, kLitSymbols>;
using DistTable = HuffmanTable<8, kDistSymbols>;
using CodeLengthTable = HuffmanTable<7, 19, 7>;  // lengths of 3 bits: no sub-tables

struct Output {
  uint8_t* out;
  size_t capacity;
  size_t produced = 0;
};

// One block of Huffman-coded symbols up to its end code.
int inflate_codes(BitReader& b, Output& o, const LitTable& lit, const DistTable& dist) {
  uint8_t* const out = o.out;
  const size_t capacity = o.capacity;
  size_t produced = o.produced;
  int result = kDone;
  for (;;) {
    b.refill();  // one refill covers a length and a distance with their extra bits (48 bits)
    const int sym = lit.decode(b);
    if (sym < 256) {
      if (sym < 0) {
        result = kBadData;
        break;
      }
      if (produced < capacity) out[produced] = uint8_t(sym);
      produced++;
      continue;
    }
    if (sym == 256) break;
    if (sym >= 286) {
      result = kBadData;
      break;
    }
    const int li = sym - 257;
    unsigned extra = kLengthExtra[li];
    if (extra > b.count) {
      result = kBadData;
      break;
    }
    const size_t length = kLengthBase[li] + (b.buf & ((1u << extra) - 1));
    b.drop(extra);
    const int dsym = dist.decode(b);
    if (dsym < 0 || dsym >= 30) {
      result = kBadData;
      break;
    }
    extra = kDistExtra[dsym];
    if (extra > b.count) {
      result = kBadData;
      break;
    }
    const size_t distance = kDistBase[dsym] + (b.buf & ((1u << extra) - 1));
    b.drop(extra);
    if (distance > produced) {
      result = kDistanceTooFar;
      break;
    }
    if (produced < capacity) {
      // Only bytes below the capacity are written; their sources lie below them.
      const size_t n = std::min(length, capacity - produced);
      uint8_t* d = out + produced;
      const uint8_t* s = d - distance;
      if (distance >= n) std::memcpy(d, s, n);
      else if (distance == 1) std::memset(d, *s, n);
      else
        for (size_t i = 0; i < n; i++) d[i] = s[i];  // overlapping: the copy repeats
    }
    produced += length;
  }
  o.produced = produced;
  return result;
}

int inflate_stored(BitReader& b, Output& o) {
  b.drop(b.count & 7);
  uint32_t len, nlen;
  if (!b.take(16, len) || !b.take(16, nlen)) return kBadData;
  if ((len ^ 0xFFFF) != nlen) return kBadData;
  // Whole bytes still held go back to the input.
  b.pos -= b.count >> 3;
  b.buf = 0;
  b.count = 0;
  if (b.n - b.pos < len) return kStoredPastEnd;
  if (o.produced < o.capacity)
    std::memcpy(o.out + o.produced, b.in + b.pos, std::min<size_t>(len, o.capacity - o.produced));
  o.produced += len;
  b.pos += len;
  return kDone;
}

struct FixedTables {
  LitTable lit;
  DistTable dist;
  FixedTables() {
    uint8_t lens[kLitSymbols];
    std::fill(lens, lens + 144, 8);
    std::fill(lens + 144, lens + 256, 9);
    std::fill(lens + 256, lens + 280, 7);
    std::fill(lens + 280, lens + 288, 8);
    lit.build(lens, kLitSymbols);
    std::fill(lens, lens + kDistSymbols, 5);
    dist.build(lens, kDistSymbols);
  }
};

int inflate_dynamic(BitReader& b, Output& o) {
  uint32_t hlit, hdist, hclen;
  if (!b.take(5, hlit) || !b.take(5, hdist) || !b.take(4, hclen)) return kBadData;
  hlit += 257;
  hdist += 1;
  hclen += 4;
  // Length symbols 286, 287 and distances 30, 31 do not exist.
  if (hlit > 286 || hdist > 30) return kBadData;
  uint8_t cl_lens[19] = {};
  for (uint32_t i = 0; i < hclen; i++) {
    uint32_t v;
    if (!b.take(3, v)) return kBadData;
    cl_lens[kCodeLengthOrder[i]] = uint8_t(v);
  }
  CodeLengthTable cl;
  if (!cl.build(cl_lens, 19)) return kBadData;
  uint8_t lens[286 + 30];
  const uint32_t total = hlit + hdist;
  for (uint32_t i = 0; i < total;) {
    b.refill();
    const int sym = cl.decode(b);
    if (sym < 0) return kBadData;
    if (sym < 16) {
      lens[i++] = uint8_t(sym);
      continue;
    }
    uint32_t repeat, value = 0;
    if (sym == 16) {
      if (i == 0 || !b.take(2, repeat)) return kBadData;
      repeat += 3;
      value = lens[i - 1];
    } else if (sym == 17) {
      if (!b.take(3, repeat)) return kBadData;
      repeat += 3;
    } else {
      if (!b.take(7, repeat)) return kBadData;
      repeat += 11;
    }
    if (repeat > total - i) return kBadData;
    std::fill_n(lens + i, repeat, uint8_t(value));
    i += repeat;
  }
  if (lens[256] == 0) return kBadData;  // a block that cannot end
  LitTable lit;
  DistTable dist;
  if (!lit.build(lens, int(hlit)) || !dist.build(lens + hlit, int(hdist))) return kBadData;
  return inflate_codes(b, o, lit, dist);
}

// ---- Compressor ----------------------------------------------------------------------------------

struct FixedCodes {
  uint16_t lit_code[286];  // bit-reversed, ready to send least significant bit first
  uint8_t lit_len[286];
  uint8_t dist_code[30];
  uint8_t length_symbol[259];  // length 3..258 -> index into kLengthBase
  uint8_t dist_low[256];       // distance 1..256 -> code
  uint8_t dist_high[256];      // distance 257..32768 -> code, by (distance - 1) >> 7
  FixedCodes() {
    for (int s = 0; s < 286; s++) {
      uint32_t code;
      int len;
      if (s < 144) code = 0x30 + s, len = 8;
      else if (s < 256) code = 0x190 + (s - 144), len = 9;
      else if (s < 280) code = s - 256, len = 7;
      else code = 0xC0 + (s - 280), len = 8;
      lit_code[s] = uint16_t(reverse_bits(code, len));
      lit_len[s] = uint8_t(len);
    }
    for (int d = 0; d < 30; d++) dist_code[d] = uint8_t(reverse_bits(uint32_t(d), 5));
    for (int i = 0; i < 29; i++) {
      const int top = i + 1 < 29 ? kLengthBase[i + 1] : 259;
      for (int len = kLengthBase[i]; len < top; len++) length_symbol[len] = uint8_t(i);
    }
    length_symbol[258] = 28;  // 258 has its own code, not 227 + 31
    for (int d = 0; d < 30; d++) {
      const int top = d + 1 < 30 ? kDistBase[d + 1] : 32769;
      for (int dist = kDistBase[d]; dist < top; dist++) {
        if (dist <= 256) dist_low[dist - 1] = uint8_t(d);
        else dist_high[(dist - 1) >> 7] = uint8_t(d);
      }
    }
  }
};

const FixedCodes& fixed_codes() {
  static const FixedCodes codes;
  return codes;
}

// Bits least significant first; bytes past the capacity are counted, not written.
struct BitWriter {
  uint8_t* out;
  size_t capacity;
  size_t count = 0;
  uint64_t buf = 0;
  unsigned bits = 0;

  void put(uint32_t v, unsigned k) {
    buf |= uint64_t(v) << bits;
    bits += k;
    if (bits >= 32) {
      if (capacity - std::min(capacity, count) >= 4) {
        const uint32_t w = uint32_t(buf);
        for (int i = 0; i < 4; i++) out[count + i] = uint8_t(w >> (8 * i));
      } else {
        for (int i = 0; i < 4; i++)
          if (count + i < capacity) out[count + i] = uint8_t(buf >> (8 * i));
      }
      count += 4;
      buf >>= 32;
      bits -= 32;
    }
  }
  void finish() {
    while (bits > 0) {
      if (count < capacity) out[count] = uint8_t(buf);
      count++;
      buf >>= 8;
      bits = bits > 8 ? bits - 8 : 0;
    }
  }
};

// The 24-bit value of the three bytes at p, first byte highest; bytes past the end count as 0.
uint32_t triple_at(const uint8_t* in, size_t n, size_t p) {
  if (n - std::min(n, p) >= 3) return uint32_t(in[p]) << 16 | uint32_t(in[p + 1]) << 8 | in[p + 2];
  uint32_t x = 0;
  for (size_t k = 0; k < 3; k++) x = x << 8 | (p + k < n ? in[p + k] : 0u);
  return x;
}

uint32_t bucket_of(uint32_t x) {
  uint32_t h = x ^ (x >> 16);
  h *= 0x7FEB352Du;
  h ^= h >> 15;
  h *= 0x846CA68Bu;
  h ^= h >> 16;
  return h & 0x3FF;
}

// ---- Containers ----------------------------------------------------------------------------------

void put_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}
uint32_t get_le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Deflates between a header and a trailer of fixed sizes; answers the body's size in `body`.
int compress_framed(uint8_t* out, size_t* capacity, const uint8_t* in, size_t n, size_t head, size_t trail,
                    size_t* body) {
  const size_t overhead = head + trail;
  const bool room = *capacity >= overhead;
  *body = room ? *capacity - overhead : 0;
  const int r = compress(room ? out + head : nullptr, body, in, n);
  *capacity = *body + overhead;
  return r;
}

uint32_t method_syms[3];

}  // namespace

void init() {
  const char* names[3] = {"zlib", "deflate", "gzip"};
  for (int i = 0; i < 3; i++) method_syms[i] = symbol::canonical_id(symbol::intern_c_name(names[i]));
}

Method method_of(uint32_t sym) {
  if (sym == 0) return Method::none;
  const uint32_t c = symbol::canonical_id(sym);
  if (c == method_syms[0]) return Method::zlib;
  if (c == method_syms[1]) return Method::deflate;
  if (c == method_syms[2]) return Method::gzip;
  return Method::none;
}

int compress(uint8_t* out, size_t* capacity, const uint8_t* in, size_t n) {
  const FixedCodes& fc = fixed_codes();
  BitWriter w{out, *capacity};
  w.put(1, 1);  // BFINAL
  w.put(1, 2);  // BTYPE 1: fixed codes
  // Each bucket keeps 4 positions + 1 (0: unset).
  uint32_t slots[1024][4];
  std::memset(slots, 0, sizeof slots);
  size_t p = 0;
  while (p < n) {
    const uint32_t bucket = bucket_of(triple_at(in, n, p));
    size_t length = 0, distance = 0;
    if (p >= 3 && n - p >= 3) {
      for (uint32_t e : slots[bucket]) {
        if (e == 0) continue;
        const size_t q = e - 1;
        if (q >= p || p - q >= 32768 || std::memcmp(in + q, in + p, 3) != 0) continue;
        const size_t most = std::min<size_t>(258, n - p);
        size_t l = 3;
        while (l < most && in[q + l] == in[p + l]) l++;
        length = l;
        distance = p - q;
        break;
      }
    }
    if (length) {
      const int li = fc.length_symbol[length];
      w.put(fc.lit_code[257 + li], fc.lit_len[257 + li]);
      w.put(uint32_t(length - kLengthBase[li]), kLengthExtra[li]);
      const int d = distance <= 256 ? fc.dist_low[distance - 1] : fc.dist_high[(distance - 1) >> 7];
      w.put(fc.dist_code[d], 5);
      w.put(uint32_t(distance - kDistBase[d]), kDistExtra[d]);
    } else {
      w.put(fc.lit_code[in[p]], fc.lit_len[in[p]]);
    }
    const size_t next = p + (length ? length : 1);
    const uint32_t y = triple_at(in, n, next);
    if (p < 0xFFFFFFFFu) slots[bucket][((y >> 14) - y) & 3] = uint32_t(p + 1);
    p = next;
  }
  w.put(0, 7);  // end of block
  w.finish();
  const bool fits = w.count <= *capacity;
  *capacity = w.count;
  return fits ? kDone : kTooSmall;
}

int inflate(uint8_t* out, size_t* capacity, const uint8_t* in, size_t n) {
  static const FixedTables fixed;
  BitReader b{in, n};
  Output o{out, *capacity};
  for (bool final = false; !final;) {
    uint32_t header;
    if (!b.take(3, header)) return kBadData;  // ends before a final block
    final = header & 1;
    int r;
    switch (header >> 1) {
      case 0: r = inflate_stored(b, o); break;
      case 1: r = inflate_codes(b, o, fixed.lit, fixed.dist); break;
      case 2: r = inflate_dynamic(b, o); break;
      default: r = kBadBlockType; break;
    }
    if (r != kDone) return r;
  }
  const bool fits = o.produced <= *capacity;
  *capacity = o.produced;
  return fits ? kDone : kTooSmall;
}

int gzip(uint8_t* out, size_t* capacity, const uint8_t* in, size_t n) {
  size_t body;
  if (int r = compress_framed(out, capacity, in, n, 10, 8, &body); r != kDone) return r;
  static constexpr uint8_t kHeader[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04};
  std::memcpy(out, kHeader, 10);
  put_le32(out + 10 + body, checksum::crc32(in, n));
  put_le32(out + 14 + body, uint32_t(n));
  return kDone;
}

int gunzip(uint8_t* out, size_t* capacity, const uint8_t* in, size_t n) {
  enum : uint8_t { kFhcrc = 2, kFextra = 4, kFname = 8, kFcomment = 16 };
  if (n < 18 || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || (in[3] & 0xE0)) return kBadData;
  const uint8_t flags = in[3];
  const size_t end = n - 8;  // the trailer
  size_t pos = 10;
  if (flags & kFextra) {
    if (end - pos < 2) return kBadData;
    const size_t xlen = size_t(in[pos]) | size_t(in[pos + 1]) << 8;
    pos += 2;
    if (xlen > end - pos) return kBadData;
    pos += xlen;
  }
  for (uint8_t text : {kFname, kFcomment}) {
    if (!(flags & text)) continue;
    const void* nul = std::memchr(in + pos, 0, end - pos);
    if (!nul) return kBadData;
    pos = size_t(static_cast<const uint8_t*>(nul) - in) + 1;
  }
  if (flags & kFhcrc) {
    if (end - pos < 2) return kBadData;
    if ((checksum::crc32(in, pos) & 0xFFFF) != (uint32_t(in[pos]) | uint32_t(in[pos + 1]) << 8)) return kBadData;
    pos += 2;
  }
  if (int r = inflate(out, capacity, in + pos, end - pos); r != kDone) return r;
  // ISIZE is the size modulo 2^32.
  if (uint32_t(*capacity) != get_le32(in + n - 4)) return kBadData;
  if (checksum::crc32(out, *capacity) != get_le32(in + end)) return kBadData;
  return kDone;
}

int zlib_compress(uint8_t* out, size_t* capacity, const uint8_t* in, size_t n) {
  size_t body;
  if (int r = compress_framed(out, capacity, in, n, 2, 4, &body); r != kDone) return r;
  out[0] = 0x78;
  out[1] = 0x01;
  const uint32_t a = checksum::adler32(in, n);
  for (int i = 0; i < 4; i++) out[2 + body + i] = uint8_t(a >> (24 - 8 * i));
  return kDone;
}

int zlib_decompress(uint8_t* out, size_t* capacity, const uint8_t* in, size_t n) {
  if (n < 6) return kBadData;
  const uint32_t cmf = in[0], flg = in[1];
  if ((cmf * 256 + flg) % 31 != 0 || (cmf & 15) != 8 || (cmf >> 4) > 7 || (flg & 0x20)) return kBadData;
  if (int r = inflate(out, capacity, in + 2, n - 6); r != kDone) return r;
  const uint8_t* t = in + n - 4;
  const uint32_t stored = uint32_t(t[0]) << 24 | uint32_t(t[1]) << 16 | uint32_t(t[2]) << 8 | t[3];
  return checksum::adler32(out, *capacity) == stored ? kDone : kBadData;
}

}  // namespace zem::deflate
