// JPEG through libjpeg-turbo. The library reports errors by longjmp: every function that calls
// setjmp here holds only plain C data, and the jumps never leave the library and those functions,
// so no C++ frame with destructors is crossed.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "services/image/codec_parts.h"
#include "services/image/codecs.h"

namespace zem::imaging::codec {

namespace {

constexpr int kMaxScans = 1000;  // progressive files with more scans are refused (decoding time)
constexpr int kQuality = 90;

struct ErrorJump {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

extern "C" void jump_on_error(j_common_ptr cinfo) { longjmp(reinterpret_cast<ErrorJump*>(cinfo->err)->jump, 1); }
extern "C" void no_message(j_common_ptr, int) {}
extern "C" void check_scans(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (cinfo->is_decompressor && d->input_scan_number > kMaxScans) jump_on_error(cinfo);
}

struct Decoder {
  jpeg_decompress_struct cinfo;
  ErrorJump err;
  jpeg_progress_mgr progress;
};

void errors_jump(ErrorJump& err) {
  jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jump_on_error;
  err.mgr.emit_message = no_message;
}

// Reads the header; false when it is damaged or the image too large.
bool read_header(Decoder* d, const uint8_t* bytes, size_t length) {
  if (setjmp(d->err.jump)) return false;
  jpeg_create_decompress(&d->cinfo);
  jpeg_mem_src(&d->cinfo, bytes, static_cast<unsigned long>(length));
  jpeg_read_header(&d->cinfo, TRUE);
  if (!size_allowed(d->cinfo.image_width, d->cinfo.image_height)) return false;
  d->cinfo.out_color_space = JCS_EXT_BGRA;
  d->progress.progress_monitor = check_scans;
  d->cinfo.progress = &d->progress;
  return true;
}

bool read_pixels(Decoder* d, uint32_t* words) {
  if (setjmp(d->err.jump)) return false;
  jpeg_start_decompress(&d->cinfo);
  const JDIMENSION width = d->cinfo.output_width;
  while (d->cinfo.output_scanline < d->cinfo.output_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(words + static_cast<size_t>(d->cinfo.output_scanline) * width);
    jpeg_read_scanlines(&d->cinfo, &row, 1);
  }
  jpeg_finish_decompress(&d->cinfo);
  return true;
}

struct Encoder {
  jpeg_compress_struct cinfo;
  ErrorJump err;
  unsigned char* buffer;
  unsigned long size;
};

bool write_all(Encoder* e, const uint32_t* words, uint32_t width, uint32_t height) {
  if (setjmp(e->err.jump)) return false;
  jpeg_create_compress(&e->cinfo);
  jpeg_mem_dest(&e->cinfo, &e->buffer, &e->size);
  e->cinfo.image_width = width;
  e->cinfo.image_height = height;
  e->cinfo.input_components = 4;
  e->cinfo.in_color_space = JCS_EXT_BGRA;
  jpeg_set_defaults(&e->cinfo);
  jpeg_set_quality(&e->cinfo, kQuality, TRUE);
  jpeg_start_compress(&e->cinfo, TRUE);
  while (e->cinfo.next_scanline < height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(words) +
                                              static_cast<size_t>(e->cinfo.next_scanline) * width);
    jpeg_write_scanlines(&e->cinfo, &row, 1);
  }
  jpeg_finish_compress(&e->cinfo);
  return true;
}

}  // namespace

bool decode_jpeg(const uint8_t* bytes, size_t length, Pixels& out) {
  Decoder d{};
  errors_jump(d.err);
  d.cinfo.err = &d.err.mgr;
  bool ok = read_header(&d, bytes, length);
  if (ok) {
    out.width = d.cinfo.image_width;
    out.height = d.cinfo.image_height;
    try {
      out.words.resize(static_cast<size_t>(out.width) * out.height);
    } catch (...) {
      ok = false;
    }
  }
  ok = ok && read_pixels(&d, out.words.data());
  jpeg_destroy_decompress(&d.cinfo);  // nothing for a struct never created: its pool is null
  // JPEG has no alpha: the colour space output leaves the fourth byte at 255.
  return ok;
}

bool encode_jpeg(const uint32_t* words, uint32_t width, uint32_t height, std::vector<uint8_t>& out) {
  Encoder e{};
  errors_jump(e.err);
  e.cinfo.err = &e.err.mgr;
  const bool ok = write_all(&e, words, width, height);
  jpeg_destroy_compress(&e.cinfo);
  if (ok) {
    try {
      out.assign(e.buffer, e.buffer + e.size);
    } catch (...) {
      std::free(e.buffer);
      return false;
    }
  }
  std::free(e.buffer);
  return ok;
}

}  // namespace zem::imaging::codec
