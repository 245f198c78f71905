// The image codecs: decoding BMP, PNG, GIF, JPEG and TIFF bytes into image records and encoding
// records into those formats.
//
// Decoders take untrusted bytes: an image whose width × height × 4 exceeds kMaxDecodeBytes, or with
// a side above kMaxSide, is refused before any pixel buffer is allocated, and no size field is
// trusted over the bytes present. Failure is the id 0; the callers raise the language's error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "services/image/image_store.h"

namespace zem::imaging {

constexpr uint64_t kMaxDecodeBytes = uint64_t{1} << 28;

// Whether a decoder may allocate the pixels of an image of that size.
inline bool size_allowed(uint64_t width, uint64_t height) {
  return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
         width * height * 4 <= kMaxDecodeBytes;
}

// A new record with the first image (frame, page) of the bytes, chosen by their signature; 0 when
// they cannot be decoded.
ImageId load_bytes(const uint8_t* bytes, size_t length);
// The same for the content of a file; 0 when it cannot be read or decoded.
ImageId load_file(const std::string& path);
// The image encoded in the format (format is one of the five; JPEG at quality 90). A record without
// pixels gives no bytes.
std::vector<uint8_t> encode(ImageId id, Format format);

}  // namespace zem::imaging
