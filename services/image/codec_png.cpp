// PNG through libpng's simplified interface: it keeps its own setjmp inside the library, so no jump
// reaches our frames. Every layout (palette, grey, grey with alpha, 16 bits) arrives as 8-bit
// B, G, R, A with straight alpha.
#include <png.h>

#include "services/image/codec_parts.h"
#include "services/image/codecs.h"

namespace zem::imaging::codec {

bool decode_png(const uint8_t* bytes, size_t length, Pixels& out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes, length)) return false;
  if (!size_allowed(image.width, image.height)) {
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_BGRA;
  out.width = image.width;
  out.height = image.height;
  try {
    out.words.resize(static_cast<size_t>(image.width) * image.height);
  } catch (...) {
    png_image_free(&image);
    return false;
  }
  // Frees the image's state on success and on failure alike.
  return png_image_finish_read(&image, nullptr, out.words.data(), 0, nullptr) != 0;
}

bool encode_png(const uint32_t* words, uint32_t width, uint32_t height, std::vector<uint8_t>& out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_BGRA;
  // The most a PNG of this size can take: compressing once into it beats asking for the size first.
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
  try {
    out.resize(size);
  } catch (...) {
    return false;
  }
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, words, 0, nullptr)) return false;
  out.resize(size);
  return true;
}

}  // namespace zem::imaging::codec
