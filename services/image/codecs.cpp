// The codec entry points: the format by signature, the record made from the decoded pixels.
#include "services/image/codecs.h"

#include <cstdio>
#include <new>

#include "services/image/codec_parts.h"

namespace zem::imaging {

using codec::Pixels;

ImageId load_bytes(const uint8_t* bytes, size_t length) {
  Pixels p;
  bool ok = false;
  try {
    switch (sniff(bytes, length)) {
      case Format::bmp: ok = codec::decode_bmp(bytes, length, p); break;
      case Format::png: ok = codec::decode_png(bytes, length, p); break;
      case Format::gif: ok = codec::decode_gif(bytes, length, p); break;
      case Format::jpeg: ok = codec::decode_jpeg(bytes, length, p); break;
      case Format::tiff: ok = codec::decode_tiff(bytes, length, p); break;
      case Format::none: break;
    }
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok || p.words.size() != static_cast<size_t>(p.width) * p.height) return 0;
  return adopt_pixels(p.width, p.height, std::move(p.words));
}

ImageId load_file(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t n;
  bool ok = true;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (bytes.size() + n > kMaxDecodeBytes * 2) {  // no compressed image of the allowed size is larger
      ok = false;
      break;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  ok = ok && !std::ferror(f);
  std::fclose(f);
  return ok ? load_bytes(bytes.data(), bytes.size()) : 0;
}

std::vector<uint8_t> encode(ImageId id, Format format) {
  std::vector<uint8_t> out;
  PixelHold hold(id);
  const ImageRecord* rec = hold.record();
  if (rec == nullptr || rec->width == 0 || rec->height == 0) return out;
  const uint32_t* px = hold.pixels();
  bool ok = false;
  switch (format) {
    case Format::bmp: ok = codec::encode_bmp(px, rec->width, rec->height, out); break;
    case Format::png: ok = codec::encode_png(px, rec->width, rec->height, out); break;
    case Format::gif: ok = codec::encode_gif(px, rec->width, rec->height, out); break;
    case Format::jpeg: ok = codec::encode_jpeg(px, rec->width, rec->height, out); break;
    case Format::tiff: ok = codec::encode_tiff(px, rec->width, rec->height, out); break;
    case Format::none: break;
  }
  if (!ok) out.clear();
  return out;
}

}  // namespace zem::imaging
