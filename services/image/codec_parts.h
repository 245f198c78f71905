// The decoders and encoders of each format, over plain pixel buffers (B, G, R, A words, straight
// alpha, rows packed). Decoders answer false for bytes they cannot decode, leaving `out` unspecified.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zem::imaging::codec {

struct Pixels {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint32_t> words;
};

bool decode_bmp(const uint8_t* bytes, size_t length, Pixels& out);
bool decode_png(const uint8_t* bytes, size_t length, Pixels& out);
bool decode_jpeg(const uint8_t* bytes, size_t length, Pixels& out);
bool decode_gif(const uint8_t* bytes, size_t length, Pixels& out);
bool decode_tiff(const uint8_t* bytes, size_t length, Pixels& out);

// Encoders of a non-empty image; false when the library fails (out of memory).
bool encode_bmp(const uint32_t* words, uint32_t width, uint32_t height, std::vector<uint8_t>& out);
bool encode_png(const uint32_t* words, uint32_t width, uint32_t height, std::vector<uint8_t>& out);
bool encode_jpeg(const uint32_t* words, uint32_t width, uint32_t height, std::vector<uint8_t>& out);
bool encode_gif(const uint32_t* words, uint32_t width, uint32_t height, std::vector<uint8_t>& out);
bool encode_tiff(const uint32_t* words, uint32_t width, uint32_t height, std::vector<uint8_t>& out);

inline uint32_t bgra(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return a << 24 | r << 16 | g << 8 | b; }

}  // namespace zem::imaging::codec
