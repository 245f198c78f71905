// TIFF through libtiff over memory: the first page. 8-bit RGB, RGBA, grey and grey+alpha strips or
// tiles are read as stored; every other layout goes through the library's RGBA reader, whose
// premultiplied alpha is undone. Encoding writes 8-bit RGBA with straight alpha, LZW-compressed.
// libtiff is loaded on the first use; without it a TIFF decode or encode raises access cannot-open.
#include <tiffio.h>

#include <algorithm>
#include <cstring>

#include "services/image/codec_parts.h"
#include "services/image/codecs.h"
#include "services/lazy_library.h"

namespace zem::imaging::codec {

namespace {

// libtiff, loaded on the first TIFF decoded or encoded.
struct TiffApi {
  decltype(&TIFFClientOpenExt) client_open_ext;
  decltype(&TIFFClose) close;
  decltype(&TIFFDefaultStripSize) default_strip_size;
  decltype(&TIFFFlush) flush;
  decltype(&TIFFGetField) get_field;
  decltype(&TIFFGetFieldDefaulted) get_field_defaulted;
  decltype(&TIFFIsTiled) is_tiled;
  decltype(&TIFFOpenOptionsAlloc) open_options_alloc;
  decltype(&TIFFOpenOptionsFree) open_options_free;
  decltype(&TIFFOpenOptionsSetMaxSingleMemAlloc) open_options_set_max_single_mem_alloc;
  decltype(&TIFFReadRGBAImageOriented) read_rgba_image_oriented;
  decltype(&TIFFReadScanline) read_scanline;
  decltype(&TIFFScanlineSize) scanline_size;
  decltype(&TIFFSetErrorHandler) set_error_handler;
  decltype(&TIFFSetField) set_field;
  decltype(&TIFFSetWarningHandler) set_warning_handler;
  decltype(&TIFFWriteScanline) write_scanline;
};
TiffApi tiff_api;

// Binds tiff_api; raises access cannot-open when the library cannot be loaded.
void tiff() {
  constexpr const char* kLibrary = "libtiff.so.6";
  static const bool bound = [] {
    const bool ok = lazy::bind(kLibrary,
        {{"TIFFClientOpenExt", &tiff_api.client_open_ext}, {"TIFFClose", &tiff_api.close},
         {"TIFFDefaultStripSize", &tiff_api.default_strip_size}, {"TIFFFlush", &tiff_api.flush},
         {"TIFFGetField", &tiff_api.get_field}, {"TIFFGetFieldDefaulted", &tiff_api.get_field_defaulted},
         {"TIFFIsTiled", &tiff_api.is_tiled}, {"TIFFOpenOptionsAlloc", &tiff_api.open_options_alloc},
         {"TIFFOpenOptionsFree", &tiff_api.open_options_free},
         {"TIFFOpenOptionsSetMaxSingleMemAlloc", &tiff_api.open_options_set_max_single_mem_alloc},
         {"TIFFReadRGBAImageOriented", &tiff_api.read_rgba_image_oriented},
         {"TIFFReadScanline", &tiff_api.read_scanline}, {"TIFFScanlineSize", &tiff_api.scanline_size},
         {"TIFFSetErrorHandler", &tiff_api.set_error_handler}, {"TIFFSetField", &tiff_api.set_field},
         {"TIFFSetWarningHandler", &tiff_api.set_warning_handler},
         {"TIFFWriteScanline", &tiff_api.write_scanline}});
    if (!ok) return false;
    tiff_api.set_error_handler(nullptr);
    tiff_api.set_warning_handler(nullptr);
    return true;
  }();
  if (!bound) lazy::missing(kLibrary);
}

struct MemoryFile {
  const uint8_t* bytes = nullptr;   // reading
  std::vector<uint8_t>* out = nullptr;  // writing
  size_t length = 0;
  size_t at = 0;
};

extern "C" tmsize_t mem_read(thandle_t h, void* to, tmsize_t wanted) {
  auto* f = static_cast<MemoryFile*>(h);
  if (f->bytes == nullptr || wanted < 0 || f->at >= f->length) return 0;
  const size_t n = std::min(static_cast<size_t>(wanted), f->length - f->at);
  std::memcpy(to, f->bytes + f->at, n);
  f->at += n;
  return static_cast<tmsize_t>(n);
}

extern "C" tmsize_t mem_write(thandle_t h, void* from, tmsize_t count) {
  auto* f = static_cast<MemoryFile*>(h);
  if (f->out == nullptr || count < 0) return -1;
  try {
    const size_t end = f->at + static_cast<size_t>(count);
    if (end > f->out->size()) f->out->resize(end);
    std::memcpy(f->out->data() + f->at, from, static_cast<size_t>(count));
    f->at = end;
    f->length = std::max(f->length, end);
  } catch (...) {
    return -1;  // no exception into libtiff
  }
  return count;
}

extern "C" toff_t mem_seek(thandle_t h, toff_t offset, int whence) {
  auto* f = static_cast<MemoryFile*>(h);
  uint64_t base = whence == SEEK_CUR ? f->at : whence == SEEK_END ? f->length : 0;
  const uint64_t to = base + offset;
  if (to > (uint64_t{1} << 40)) return static_cast<toff_t>(-1);
  f->at = static_cast<size_t>(to);
  return to;
}

extern "C" int mem_close(thandle_t) { return 0; }
extern "C" toff_t mem_size(thandle_t h) { return static_cast<MemoryFile*>(h)->length; }
extern "C" int mem_map(thandle_t, void**, toff_t*) { return 0; }
extern "C" void mem_unmap(thandle_t, void*, toff_t) {}

TIFF* open_memory(MemoryFile* f, const char* mode) {
  tiff();
  TIFFOpenOptions* options = tiff_api.open_options_alloc();
  if (options == nullptr) return nullptr;
  tiff_api.open_options_set_max_single_mem_alloc(options, static_cast<tmsize_t>(kMaxDecodeBytes));
  TIFF* tif = tiff_api.client_open_ext("memory", mode, f, mem_read, mem_write, mem_seek, mem_close, mem_size,
                                       mem_map, mem_unmap, options);
  tiff_api.open_options_free(options);
  return tif;
}

struct Closer {
  TIFF* tif;
  ~Closer() {
    if (tif) tiff_api.close(tif);
  }
};

uint8_t unpremultiply(uint32_t c, uint32_t a) {
  if (a == 0) return 0;
  return static_cast<uint8_t>(std::min<uint32_t>(255, (c * 255 + a / 2) / a));
}

// Strips of 8-bit samples as stored: channels 3 or 4 (RGB), 1 or 2 (grey).
bool read_plain(TIFF* tif, uint32_t width, uint32_t height, int channels, bool associated, Pixels& out) {
  const tmsize_t line = tiff_api.scanline_size(tif);
  if (line < static_cast<tmsize_t>(width) * channels) return false;
  std::vector<uint8_t> buffer(static_cast<size_t>(line));
  const bool grey = channels <= 2, alpha = channels == 2 || channels == 4;
  for (uint32_t y = 0; y < height; y++) {
    if (tiff_api.read_scanline(tif, buffer.data(), y, 0) < 0) return false;
    uint32_t* row = out.words.data() + static_cast<size_t>(y) * width;
    for (uint32_t x = 0; x < width; x++) {
      const uint8_t* s = buffer.data() + static_cast<size_t>(x) * channels;
      uint32_t r = s[0], g = grey ? s[0] : s[1], b = grey ? s[0] : s[2];
      const uint32_t a = alpha ? s[channels - 1] : 255;
      if (alpha && associated) {
        r = unpremultiply(r, a);
        g = unpremultiply(g, a);
        b = unpremultiply(b, a);
      }
      row[x] = bgra(r, g, b, a);
    }
  }
  return true;
}

bool read_rgba(TIFF* tif, uint32_t width, uint32_t height, bool alpha, Pixels& out) {
  // The raster holds R in the low byte: A, B, G, R as a word.
  if (!tiff_api.read_rgba_image_oriented(tif, width, height, out.words.data(), ORIENTATION_TOPLEFT, 0))
    return false;
  for (uint32_t& w : out.words) {
    const uint32_t a = TIFFGetA(w);
    uint32_t r = TIFFGetR(w), g = TIFFGetG(w), b = TIFFGetB(w);
    if (alpha) {
      r = unpremultiply(r, a);
      g = unpremultiply(g, a);
      b = unpremultiply(b, a);
    }
    w = bgra(r, g, b, a);
  }
  return true;
}

}  // namespace

bool decode_tiff(const uint8_t* bytes, size_t length, Pixels& out) {
  MemoryFile f;
  f.bytes = bytes;
  f.length = length;
  Closer file{open_memory(&f, "rm")};
  if (file.tif == nullptr) return false;
  TIFF* tif = file.tif;
  uint32_t width = 0, height = 0;
  uint16_t samples = 1, bits = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, extra_count = 0;
  uint16_t* extra = nullptr;
  if (!tiff_api.get_field(tif, TIFFTAG_IMAGEWIDTH, &width) ||
      !tiff_api.get_field(tif, TIFFTAG_IMAGELENGTH, &height))
    return false;
  if (!size_allowed(width, height)) return false;
  tiff_api.get_field_defaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  tiff_api.get_field_defaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  tiff_api.get_field_defaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  tiff_api.get_field(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  tiff_api.get_field_defaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
  const bool has_extra = extra_count > 0 && extra != nullptr;
  const bool associated = has_extra && extra[0] == EXTRASAMPLE_ASSOCALPHA;
  const bool alpha = has_extra && (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
  out.width = width;
  out.height = height;
  try {
    out.words.assign(static_cast<size_t>(width) * height, 0);
  } catch (...) {
    return false;
  }
  const bool rgb = photometric == PHOTOMETRIC_RGB && (samples == 3 || (samples == 4 && alpha));
  const bool grey = photometric == PHOTOMETRIC_MINISBLACK && (samples == 1 || (samples == 2 && alpha));
  if (bits == 8 && planar == PLANARCONFIG_CONTIG && !tiff_api.is_tiled(tif) && (rgb || grey))
    return read_plain(tif, width, height, samples, associated, out);
  return read_rgba(tif, width, height, alpha, out);
}

bool encode_tiff(const uint32_t* words, uint32_t width, uint32_t height, std::vector<uint8_t>& out) {
  out.clear();
  MemoryFile f;
  f.out = &out;
  Closer file{open_memory(&f, "w")};
  if (file.tif == nullptr) return false;
  TIFF* tif = file.tif;
  const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
  tiff_api.set_field(tif, TIFFTAG_IMAGEWIDTH, width);
  tiff_api.set_field(tif, TIFFTAG_IMAGELENGTH, height);
  tiff_api.set_field(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
  tiff_api.set_field(tif, TIFFTAG_BITSPERSAMPLE, 8);
  tiff_api.set_field(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  tiff_api.set_field(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  tiff_api.set_field(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
  tiff_api.set_field(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  tiff_api.set_field(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  tiff_api.set_field(tif, TIFFTAG_ROWSPERSTRIP, tiff_api.default_strip_size(tif, 0));
  std::vector<uint8_t> line(static_cast<size_t>(width) * 4);
  for (uint32_t y = 0; y < height; y++) {
    const uint32_t* s = words + static_cast<size_t>(y) * width;
    for (uint32_t x = 0; x < width; x++) {
      line[4 * x] = static_cast<uint8_t>(s[x] >> 16);
      line[4 * x + 1] = static_cast<uint8_t>(s[x] >> 8);
      line[4 * x + 2] = static_cast<uint8_t>(s[x]);
      line[4 * x + 3] = static_cast<uint8_t>(s[x] >> 24);
    }
    if (tiff_api.write_scanline(tif, line.data(), y, 0) < 0) return false;
  }
  if (!tiff_api.flush(tif)) return false;  // writes the directory
  out.resize(f.length);
  return true;
}

}  // namespace zem::imaging::codec
