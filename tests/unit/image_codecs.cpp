// The image codecs against ImageMagick: fixtures made by tests/data/images/make_fixtures.sh decode
// to the pixels convert reads from them; our encodings read back through convert with the same
// pixels; hostile files give the failure result.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "services/image/codec_parts.h"
#include "services/image/codecs.h"
#include "services/image/geometry.h"

namespace zem {
namespace {

using imaging::Format;
using imaging::codec::Pixels;

std::string data_path(const std::string& name) { return std::string(std::getenv("ZEM_TEST_DATA")) + "/images/" + name; }

std::vector<uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool decode(const std::vector<uint8_t>& b, Pixels& p) {
  using namespace imaging::codec;
  switch (imaging::sniff(b.data(), b.size())) {
    case Format::bmp: return decode_bmp(b.data(), b.size(), p);
    case Format::png: return decode_png(b.data(), b.size(), p);
    case Format::gif: return decode_gif(b.data(), b.size(), p);
    case Format::jpeg: return decode_jpeg(b.data(), b.size(), p);
    case Format::tiff: return decode_tiff(b.data(), b.size(), p);
    default: return false;
  }
}

// R, G, B, A bytes of the decoded words.
std::vector<uint8_t> rgba(const Pixels& p) {
  std::vector<uint8_t> out;
  for (uint32_t w : p.words) {
    out.push_back(static_cast<uint8_t>(w >> 16));
    out.push_back(static_cast<uint8_t>(w >> 8));
    out.push_back(static_cast<uint8_t>(w));
    out.push_back(static_cast<uint8_t>(w >> 24));
  }
  return out;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); i++) sum += (a[i] - b[i]) * (a[i] - b[i]);
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 / (sum / a.size()));
}

// What convert reads from a file: R, G, B, A bytes.
std::vector<uint8_t> convert_rgba(const std::string& path) {
  std::string cmd = "convert '" + path + "[0]' -depth 8 rgba:- 2>/dev/null";
  FILE* f = popen(cmd.c_str(), "r");
  std::vector<uint8_t> out;
  if (f == nullptr) return out;
  uint8_t buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  pclose(f);
  return out;
}

TEST(ImageCodecs, FixturesDecodeToConvertsPixels) {
  const char* names[] = {"png_rgba_half.png", "png_rgb.png", "png_rgba.png", "png_palette.png",
                         "png_grey_alpha.png", "png_16bit.png", "png_grey.png", "jpeg_baseline.jpg",
                         "jpeg_progressive.jpg", "gif_plain.gif", "gif_interlaced.gif", "gif_transparent.gif",
                         "tiff_rgb.tif", "tiff_rgba.tif", "tiff_lzw.tif", "tiff_pages.tif", "tiff_grey.tif",
                         "bmp_1bit.bmp", "bmp_4bit.bmp", "bmp_8bit.bmp", "bmp_rle8.bmp", "bmp_24bit.bmp",
                         "bmp_24bit_topdown.bmp", "bmp_32bit_alpha.bmp"};
  for (const std::string name : names) {
    SCOPED_TRACE(name);
    Pixels p;
    ASSERT_TRUE(decode(read_bytes(data_path(name)), p));
    const std::vector<uint8_t> want = read_bytes(data_path(name.substr(0, name.rfind('.')) + ".rgba"));
    const std::vector<uint8_t> got = rgba(p);
    ASSERT_EQ(got.size(), want.size());
    if (name.rfind("jpeg", 0) == 0) {
      EXPECT_GT(psnr(got, want), 40.0);
    } else if (name == "png_16bit.png") {
      // libpng narrows 16-bit samples with its own rounding: at most one step from convert's.
      for (size_t i = 0; i < got.size(); i++) EXPECT_LE(std::abs(got[i] - want[i]), 1) << i;
    } else {
      EXPECT_EQ(got, want);
    }
  }
}

// A 16 × 9 picture with partial alpha and at most 255 colours (smooth for the lossy JPEG).
Pixels sample(bool smooth) {
  Pixels p;
  p.width = 16;
  p.height = 9;
  for (uint32_t y = 0; y < p.height; y++)
    for (uint32_t x = 0; x < p.width; x++)
      p.words.push_back(smooth ? imaging::codec::bgra(100 + x * 4, 80 + y * 5, 200 - x * 3, 255)
                              : imaging::codec::bgra(x * 16, y * 28, 200 - x * 8,
                                                     x < 4 ? 0 : x < 8 ? 90 : x < 12 ? 200 : 255));
  return p;
}

TEST(ImageCodecs, EncodingsReadBackThroughConvert) {
  using namespace imaging::codec;
  struct Case {
    const char* ext;
    bool (*encode)(const uint32_t*, uint32_t, uint32_t, std::vector<uint8_t>&);
  } cases[] = {{"bmp", encode_bmp}, {"png", encode_png}, {"tiff", encode_tiff}, {"gif", encode_gif},
               {"jpg", encode_jpeg}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ext);
    const Pixels p = sample(std::string(c.ext) == "jpg");
    const std::vector<uint8_t> want = rgba(p);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(c.encode(p.words.data(), p.width, p.height, bytes));
    const std::string path = testing::TempDir() + "/zem_codec_out." + c.ext;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::vector<uint8_t> got = convert_rgba(path);
    ASSERT_EQ(got.size(), want.size());
    std::vector<uint8_t> expect = want;
    if (std::string(c.ext) == "gif") {
      // One bit of transparency: alpha below 128 is transparent, the rest opaque.
      for (size_t i = 0; i < expect.size(); i += 4) {
        if (expect[i + 3] < 128) expect[i] = expect[i + 1] = expect[i + 2] = expect[i + 3] = 0;
        else expect[i + 3] = 255;
        if (got[i + 3] == 0) got[i] = got[i + 1] = got[i + 2] = 0;
      }
    }
    if (std::string(c.ext) == "jpg") {
      for (size_t i = 3; i < expect.size(); i += 4) expect[i] = 255;
      EXPECT_GT(psnr(got, expect), 40.0);
    } else {
      EXPECT_EQ(got, expect);
    }
    // And our own decoder reads our encoding the same way.
    Pixels back;
    ASSERT_TRUE(decode(bytes, back));
    if (std::string(c.ext) == "bmp" || std::string(c.ext) == "png" || std::string(c.ext) == "tiff")
      EXPECT_EQ(back.words, p.words);
  }
}

TEST(ImageCodecs, HostileFilesFail) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
  // A PNG header claiming 100,000 × 100,000.
  std::vector<uint8_t> png = read_bytes(data_path("png_rgb.png"));
  png[16] = 0; png[17] = 1; png[18] = 0x86; png[19] = 0xA0;
  png[20] = 0; png[21] = 1; png[22] = 0x86; png[23] = 0xA0;
  cases.push_back({"huge png", png});
  std::vector<uint8_t> jpeg = read_bytes(data_path("jpeg_baseline.jpg"));
  jpeg.resize(jpeg.size() / 2);
  cases.push_back({"truncated jpeg", jpeg});
  std::vector<uint8_t> bmp = read_bytes(data_path("bmp_24bit.bmp"));
  bmp[10] = 0xF0; bmp[11] = 0xFF;  // pixel data offset past the end
  cases.push_back({"bmp offset past end", bmp});
  std::vector<uint8_t> bmp_short = read_bytes(data_path("bmp_24bit.bmp"));
  bmp_short.resize(bmp_short.size() - 5);
  cases.push_back({"bmp rows cut short", bmp_short});
  std::vector<uint8_t> rle = read_bytes(data_path("bmp_rle8.bmp"));
  const size_t off = rle[10] | rle[11] << 8;
  rle[off] = 200;  // a run longer than the 3-pixel row
  cases.push_back({"rle8 run past row", rle});
  std::vector<uint8_t> gif = read_bytes(data_path("gif_plain.gif"));
  // The image data follows the 13-byte header, the 8-colour table and the image descriptor.
  for (size_t i = 13 + 24 + 10 + 1; i + 1 < gif.size(); i++) gif[i] = 0xFF;
  cases.push_back({"gif bad lzw", gif});
  std::vector<uint8_t> tiff = read_bytes(data_path("tiff_rgb.tif"));
  tiff.resize(40);
  cases.push_back({"truncated tiff", tiff});
  cases.push_back({"bmp header only", {'B', 'M', 0, 0}});
  // A colour count beside direct colours reads no colour table.
  std::vector<uint8_t> counted = read_bytes(data_path("bmp_24bit.bmp"));
  counted[46] = counted[47] = counted[48] = counted[49] = 0xFF;
  Pixels plain, with_count;
  ASSERT_TRUE(decode(read_bytes(data_path("bmp_24bit.bmp")), plain));
  ASSERT_TRUE(decode(counted, with_count));
  EXPECT_EQ(with_count.words, plain.words);
  for (auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    Pixels p;
    EXPECT_FALSE(decode(bytes, p));
  }
}

}  // namespace
}  // namespace zem

namespace zem {
namespace {

// Our nearest-neighbour scaling and flip against convert -sample and -flip of the same PNG.
TEST(ImageCodecs, ResizeAndFlipMatchConvert) {
  Pixels p;
  ASSERT_TRUE(decode(read_bytes(data_path("png_rgba.png")), p));
  const std::string src = data_path("png_rgba.png");
  struct Case {
    const char* op;
    uint32_t w, h;
  } cases[] = {{"-sample 3x2!", 3, 2}, {"-sample 15x11!", 15, 11}, {"-sample 7x9!", 7, 9}, {"-flip", 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op);
    std::vector<uint32_t> ours;
    if (c.w == 0) {
      imaging::geometry::flip_vertical(p.words, p.width, p.height, ours);
    } else {
      ASSERT_TRUE(imaging::geometry::resize_nearest(p.words, p.width, p.height, c.w, c.h, ours));
    }
    Pixels q;
    q.words = ours;
    std::string cmd = "convert '" + src + "' " + c.op + " -depth 8 rgba:- 2>/dev/null";
    FILE* f = popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> want;
    uint8_t buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) want.insert(want.end(), buf, buf + n);
    pclose(f);
    EXPECT_EQ(rgba(q), want);
  }
}

}  // namespace
}  // namespace zem
