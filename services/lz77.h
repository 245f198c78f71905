// The runtime's own small LZ77 format: an 8-byte header (u32 packed size P, u32 unpacked size U,
// little-endian), then blocks of a u32 output length L (1 to 1 MiB) and a bit stream producing
// exactly L bytes. Codes are read least significant bit first: 0 + 8 bits is a literal; 1, a
// length code and a distance code is a match of 3 to 566 bytes reaching at most 0x40000 bytes back
// within its own block. Nothing here allocates language values or reaches the evaluator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zem::lz77 {

constexpr size_t kHeaderSize = 8;
constexpr uint32_t kMaxBlock = 0x100000;
constexpr size_t kWindow = 0x40000;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 566;
// Callers leave inputs shorter than this unpacked.
constexpr size_t kMinPackInput = 128;

// The largest unpacked size believed for P packed bytes. A match code of 22 bits yields at most 566
// bytes (about 206:1), so a larger claim is damage, never data; refusing it bounds what a hostile
// header can make us allocate.
constexpr size_t max_unpacked(size_t packed) { return 210 * packed + (size_t(1) << 20); }

// Unpacks `n` bytes of packed data into `out` (replacing its contents). Fails (false, `out` emptied)
// when the header asks for more than `n` bytes or an unbelievable U, a block length is out of range,
// the output would pass U, a match reaches before its block or past its end, or a bit stream needs
// bytes beyond the P packed ones. Blocks giving fewer than U bytes in all still succeed: `out` holds
// what they produced.
bool unpack(const uint8_t* in, size_t n, std::vector<uint8_t>& out);

// Packs `n` bytes (any length, 0 included) with hash chains over a window of 0x40000 bytes.
std::vector<uint8_t> pack(const uint8_t* in, size_t n);

}  // namespace zem::lz77
