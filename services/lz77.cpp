// LZ77 unpacker and packer of the runtime's own bit-packed format.
#include "services/lz77.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <new>

namespace zem::lz77 {

namespace {

uint32_t load_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void store_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

// Length codes: a run of z zeros ended by a one (or five zeros and no one), then extra bits.
constexpr unsigned kLengthExtra[6] = {2, 2, 2, 3, 5, 9};
constexpr unsigned kLengthBase[6] = {0, 4, 8, 12, 20, 52};

// Bits least significant first, one byte fetched at a time so that the byte after a block's last
// touched byte is where the next block starts. Never reads at or past `end`.
struct BitReader {
  const uint8_t* in;
  size_t pos;
  size_t end;
  uint32_t buf = 0;
  unsigned count = 0;

  // k <= 17.
  bool take(unsigned k, uint32_t& v) {
    while (count < k) {
      if (pos >= end) return false;
      buf |= uint32_t(in[pos++]) << count;
      count += 8;
    }
    v = buf & ((1u << k) - 1);
    buf >>= k;
    count -= k;
    return true;
  }
};

bool unpack_block(BitReader& bits, uint8_t* out, size_t len) {
  size_t i = 0;
  uint32_t v;
  while (i < len) {
    if (!bits.take(1, v)) return false;
    if (v == 0) {
      if (!bits.take(8, v)) return false;
      out[i++] = uint8_t(v);
      continue;
    }
    unsigned zeros = 0;
    for (; zeros < 5; zeros++) {
      if (!bits.take(1, v)) return false;
      if (v) break;
    }
    uint32_t extra;
    if (!bits.take(kLengthExtra[zeros], extra)) return false;
    const size_t n = kLengthBase[zeros] + extra + kMinMatch;
    uint32_t k, d;
    if (!bits.take(4, k)) return false;
    const unsigned j = k + 2;
    if (j == 2) {
      if (!bits.take(3, d)) return false;
    } else {
      if (!bits.take(j, d)) return false;
      d += 1u << j;
    }
    if (size_t(d) + 1 > i || n > len - i) return false;
    // One byte at a time: an overlapping source repeats what was just written.
    for (size_t s = i - d - 1, e = i + n; i < e;) out[i++] = out[s++];
  }
  return true;
}

struct BitWriter {
  std::vector<uint8_t>& out;
  uint64_t buf = 0;
  unsigned count = 0;

  void put(uint32_t v, unsigned k) {
    buf |= uint64_t(v) << count;
    count += k;
    while (count >= 8) {
      out.push_back(uint8_t(buf));
      buf >>= 8;
      count -= 8;
    }
  }
  void flush() {
    if (count) out.push_back(uint8_t(buf));
    buf = 0;
    count = 0;
  }
};

void put_match(BitWriter& w, unsigned len, uint32_t d) {
  w.put(1, 1);
  const unsigned v = len - kMinMatch;
  unsigned z = 5;
  for (unsigned i = 0; i < 5; i++)
    if (v < kLengthBase[i] + (1u << kLengthExtra[i])) {
      z = i;
      break;
    }
  if (z < 5) w.put(1u << z, z + 1);  // z zeros, then a one
  else w.put(0, 5);
  w.put(v - kLengthBase[z], kLengthExtra[z]);
  if (d < 8) {
    w.put(0, 4);
    w.put(d, 3);
  } else {
    const unsigned j = unsigned(std::bit_width(d)) - 1;
    w.put(j - 2, 4);
    w.put(d - (1u << j), j);
  }
}

constexpr uint32_t kHash3Mask = 0x7FFFF;
constexpr uint32_t kHash4Mask = 0xFFFFF;
constexpr unsigned kChainLimit = 256;

uint32_t hash3(const uint8_t* p) { return ((uint32_t(p[0]) << 14) + (uint32_t(p[1]) << 7) + p[2]) & kHash3Mask; }
uint32_t hash4(const uint8_t* p) {
  return ((uint32_t(p[0]) << 15) + (uint32_t(p[1]) << 10) + (uint32_t(p[2]) << 5) + p[3]) & kHash4Mask;
}

// Position tables from calloc: large zeroed blocks come as untouched pages, so a small input does
// not pay for clearing a few megabytes. Entries hold position + 1; 0 is empty.
struct Table {
  explicit Table(size_t n) : p(static_cast<uint32_t*>(std::calloc(n, sizeof(uint32_t)))) {
    if (!p) throw std::bad_alloc();
  }
  ~Table() { std::free(p); }
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;
  uint32_t& operator[](size_t i) { return p[i]; }
  uint32_t operator[](size_t i) const { return p[i]; }
  uint32_t* p;
};

// Searches one block independently of the others: positions count from the block's start.
class BlockPacker {
 public:
  BlockPacker(const uint8_t* in, size_t len)
      : head3_(kHash3Mask + 1), head4_(kHash4Mask + 1), prev_(kWindow), in_(in), len_(len) {}

  void pack(BitWriter& w) {
    size_t i = 0;
    while (i < len_) {
      unsigned best_len = 0;
      uint32_t best_d = 0;
      find(i, best_len, best_d);
      if (best_len == kMinMatch && best_d + 1 > 0x10000) best_len = 0;  // costs more than 3 literals
      if (best_len < kMinMatch) {
        w.put(uint32_t(in_[i]) << 1, 9);
        insert(i++);
        continue;
      }
      put_match(w, best_len, best_d);
      for (size_t e = i + best_len; i < e;) insert(i++);
    }
  }

 private:
  unsigned match_length(size_t cand, size_t i, unsigned limit) const {
    unsigned n = 0;
    while (n < limit && in_[cand + n] == in_[i + n]) n++;
    return n;
  }

  // A farther candidate must be longer by one for each time its distance / 16 can be divided by 8
  // while still beyond the best distance: a longer distance code costs bits.
  static bool better(unsigned len, uint32_t d, unsigned best_len, uint32_t best_d) {
    if (best_len == 0) return len >= kMinMatch;
    unsigned penalty = 0;
    for (uint32_t x = d >> 4; x > best_d; x >>= 3) penalty++;
    return len > best_len + penalty;
  }

  void find(size_t i, unsigned& best_len, uint32_t& best_d) const {
    const unsigned limit = unsigned(std::min<size_t>(kMaxMatch, len_ - i));
    if (limit < kMinMatch) return;
    if (const uint32_t c3 = head3_[hash3(in_ + i)]; c3 && i - (c3 - 1) <= kWindow) {
      const unsigned n = match_length(c3 - 1, i, limit);
      if (n >= kMinMatch) {
        best_len = n;
        best_d = uint32_t(i - c3);
      }
    }
    if (limit < 4) return;
    uint32_t c = head4_[hash4(in_ + i)];
    for (unsigned steps = 0; c && i - (c - 1) <= kWindow && steps < kChainLimit && best_len < limit; steps++) {
      const unsigned n = match_length(c - 1, i, limit);
      const uint32_t d = uint32_t(i - c);
      if (better(n, d, best_len, best_d)) {
        best_len = n;
        best_d = d;
      }
      const uint32_t next = prev_[(c - 1) & (kWindow - 1)];
      if (next >= c) break;  // a ring slot overwritten by a newer position
      c = next;
    }
  }

  void insert(size_t p) {
    if (p + 3 <= len_) head3_[hash3(in_ + p)] = uint32_t(p + 1);
    if (p + 4 <= len_) {
      uint32_t& head = head4_[hash4(in_ + p)];
      prev_[p & (kWindow - 1)] = head;
      head = uint32_t(p + 1);
    }
  }

  Table head3_, head4_, prev_;
  const uint8_t* in_;
  size_t len_;
};

}  // namespace

bool unpack(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
  out.clear();
  if (n < kHeaderSize) return false;
  const size_t packed = load_u32(in), unpacked = load_u32(in + 4);
  if (packed > n - kHeaderSize || unpacked > max_unpacked(packed)) return false;
  const size_t end = kHeaderSize + packed;
  size_t pos = kHeaderSize, produced = 0;
  while (pos < end) {
    if (end - pos < 4) return out.clear(), false;
    const size_t len = load_u32(in + pos);
    pos += 4;
    if (len < 1 || len > kMaxBlock || len > unpacked - produced) return out.clear(), false;
    out.resize(produced + len);
    BitReader bits{in, pos, end};
    if (!unpack_block(bits, out.data() + produced, len)) return out.clear(), false;
    produced += len;
    pos = bits.pos;
  }
  return true;
}

std::vector<uint8_t> pack(const uint8_t* in, size_t n) {
  std::vector<uint8_t> out(kHeaderSize);
  out.reserve(kHeaderSize + n / 2 + 16);
  BitWriter w{out};
  for (size_t start = 0; start < n; start += kMaxBlock) {
    const size_t len = std::min<size_t>(kMaxBlock, n - start);
    const size_t at = out.size();
    out.resize(at + 4);
    store_u32(out.data() + at, uint32_t(len));
    BlockPacker(in + start, len).pack(w);
    w.flush();
  }
  store_u32(out.data(), uint32_t(out.size() - kHeaderSize));
  store_u32(out.data() + 4, uint32_t(n));
  return out;
}

}  // namespace zem::lz77
