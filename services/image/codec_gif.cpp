// GIF through giflib: the first image of the file on its logical screen; encoding quantizes to at
// most 255 colours (exact when the image has no more) with one more index for transparency (alpha
// below 128).
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "services/image/codec_parts.h"
#include "services/image/codecs.h"

namespace zem::imaging::codec {

namespace {

struct Source {
  const uint8_t* bytes;
  size_t length;
  size_t at;
};

extern "C" int read_bytes(GifFileType* gif, GifByteType* to, int wanted) {
  auto* s = static_cast<Source*>(gif->UserData);
  const size_t n = std::min(static_cast<size_t>(wanted), s->length - s->at);
  std::memcpy(to, s->bytes + s->at, n);
  s->at += n;
  return static_cast<int>(n);
}

extern "C" int write_bytes(GifFileType* gif, const GifByteType* from, int count) {
  auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
  try {
    out->insert(out->end(), from, from + count);
  } catch (...) {
    return 0;  // no exception into giflib
  }
  return count;
}

struct Closer {
  GifFileType* gif;
  bool writing;
  ~Closer() {
    int err = 0;
    if (gif) writing ? EGifCloseFile(gif, &err) : DGifCloseFile(gif, &err);
  }
};

// Skips an extension's blocks, noting the transparent index of a graphic control block.
bool read_extension(GifFileType* gif, int& transparent) {
  int code = 0;
  GifByteType* ext = nullptr;
  if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return false;
  if (code == GRAPHICS_EXT_FUNC_CODE && ext != nullptr && ext[0] >= 4) transparent = (ext[1] & 1) ? ext[4] : -1;
  while (ext != nullptr)
    if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return false;
  return true;
}

bool read_image(GifFileType* gif, int transparent, Pixels& out) {
  if (DGifGetImageDesc(gif) == GIF_ERROR) return false;
  const GifImageDesc& d = gif->Image;
  if (d.Width <= 0 || d.Height <= 0 || d.Left < 0 || d.Top < 0) return false;
  const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
  if (map == nullptr) return false;
  // The frame on the logical screen, or alone when it does not fit there.
  const bool fits = static_cast<int64_t>(d.Left) + d.Width <= gif->SWidth &&
                    static_cast<int64_t>(d.Top) + d.Height <= gif->SHeight;
  const uint32_t w = fits ? gif->SWidth : d.Width, h = fits ? gif->SHeight : d.Height;
  const uint32_t left = fits ? d.Left : 0, top = fits ? d.Top : 0;
  if (!size_allowed(w, h)) return false;
  out.width = w;
  out.height = h;
  out.words.assign(static_cast<size_t>(w) * h, 0);
  std::vector<GifPixelType> line(d.Width);
  static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
  const int passes = d.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; pass++) {
    for (int y = d.Interlace ? kStart[pass] : 0; y < d.Height; y += d.Interlace ? kStep[pass] : 1) {
      if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) return false;
      uint32_t* row = out.words.data() + static_cast<size_t>(top + y) * w + left;
      for (int x = 0; x < d.Width; x++) {
        const int i = line[x];
        if (i == transparent) continue;
        if (i >= map->ColorCount) {
          row[x] = bgra(0, 0, 0, 255);
          continue;
        }
        const auto& [r, g, b] = map->Colors[i];  // the palette entry's channels in R, G, B order
        row[x] = bgra(r, g, b, 255);
      }
    }
  }
  return true;
}

}  // namespace

bool decode_gif(const uint8_t* bytes, size_t length, Pixels& out) {
  Source src{bytes, length, 0};
  int err = 0;
  Closer file{DGifOpen(&src, read_bytes, &err), false};
  if (file.gif == nullptr) return false;
  int transparent = -1;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(file.gif, &type) == GIF_ERROR) return false;
    if (type == IMAGE_DESC_RECORD_TYPE) return read_image(file.gif, transparent, out);
    if (type == EXTENSION_RECORD_TYPE) {
      if (!read_extension(file.gif, transparent)) return false;
    } else if (type == TERMINATE_RECORD_TYPE) {
      return false;  // no image
    }
  }
}

bool encode_gif(const uint32_t* words, uint32_t width, uint32_t height, std::vector<uint8_t>& out) {
  if (width > 65535 || height > 65535) return false;
  const size_t n = static_cast<size_t>(width) * height;
  constexpr int kTransparent = 255;
  std::vector<GifByteType> indexes(n);
  GifColorType colours[256] = {};
  bool any_transparent = false;
  // Exact palette when the opaque pixels have at most 255 colours.
  std::unordered_map<uint32_t, int> seen;
  for (size_t i = 0; i < n && seen.size() <= 255; i++)
    if ((words[i] >> 24) >= 128) seen.emplace(words[i] & 0xFFFFFF, 0);
  if (seen.size() <= 255) {
    int next = 0;
    for (size_t i = 0; i < n; i++) {
      if ((words[i] >> 24) < 128) {
        indexes[i] = kTransparent;
        any_transparent = true;
        continue;
      }
      int& slot = seen[words[i] & 0xFFFFFF];
      if (slot == 0) {
        slot = ++next;
        colours[next - 1] = GifColorType{static_cast<GifByteType>(words[i] >> 16),
                                         static_cast<GifByteType>(words[i] >> 8), static_cast<GifByteType>(words[i])};
      }
      indexes[i] = static_cast<GifByteType>(slot - 1);
    }
  } else {
    // Median cut to 255 colours.
    std::vector<GifByteType> r(n), g(n), b(n);
    for (size_t i = 0; i < n; i++) {
      r[i] = static_cast<GifByteType>(words[i] >> 16);
      g[i] = static_cast<GifByteType>(words[i] >> 8);
      b[i] = static_cast<GifByteType>(words[i]);
    }
    int size = 255;
    if (GifQuantizeBuffer(width, height, &size, r.data(), g.data(), b.data(), indexes.data(), colours) == GIF_ERROR)
      return false;
    for (size_t i = 0; i < n; i++)
      if ((words[i] >> 24) < 128) {
        indexes[i] = kTransparent;
        any_transparent = true;
      }
  }
  out.clear();
  int err = 0;
  Closer file{EGifOpen(&out, write_bytes, &err), true};
  if (file.gif == nullptr) return false;
  ColorMapObject* map = GifMakeMapObject(256, colours);
  if (map == nullptr) return false;
  EGifSetGifVersion(file.gif, true);
  const int put = EGifPutScreenDesc(file.gif, static_cast<int>(width), static_cast<int>(height), 8, 0, map);
  GifFreeMapObject(map);
  if (put == GIF_ERROR) return false;
  if (any_transparent) {
    const GifByteType control[4] = {0x01, 0, 0, kTransparent};
    if (EGifPutExtension(file.gif, GRAPHICS_EXT_FUNC_CODE, 4, control) == GIF_ERROR) return false;
  }
  if (EGifPutImageDesc(file.gif, 0, 0, static_cast<int>(width), static_cast<int>(height), false, nullptr) == GIF_ERROR)
    return false;
  for (uint32_t y = 0; y < height; y++)
    if (EGifPutLine(file.gif, indexes.data() + static_cast<size_t>(y) * width, static_cast<int>(width)) == GIF_ERROR)
      return false;
  int close_err = 0;
  GifFileType* gif = file.gif;
  file.gif = nullptr;
  return EGifCloseFile(gif, &close_err) == GIF_OK;
}

}  // namespace zem::imaging::codec
