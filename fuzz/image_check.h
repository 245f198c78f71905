// Shared body of the image decoder targets: decode arbitrary bytes and, when that succeeds, encode
// the pixels again in the same format and decode that once more.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "services/image/codec_parts.h"

namespace fuzz_image {

using Decoder = bool (*)(const uint8_t*, size_t, zem::imaging::codec::Pixels&);
using Encoder = bool (*)(const uint32_t*, uint32_t, uint32_t, std::vector<uint8_t>&);

inline void check(Decoder decode, Encoder encode, const uint8_t* data, size_t size) {
  zem::imaging::codec::Pixels p;
  if (!decode(data, size, p)) return;
  if (p.words.size() != static_cast<size_t>(p.width) * p.height) std::abort();
  std::vector<uint8_t> bytes;
  if (!encode(p.words.data(), p.width, p.height, bytes)) std::abort();
  zem::imaging::codec::Pixels back;
  if (!decode(bytes.data(), bytes.size(), back) || back.width != p.width || back.height != p.height) std::abort();
}

}  // namespace fuzz_image
