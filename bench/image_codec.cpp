// Speed of the PNG and JPEG codecs on a 4000 × 3000 picture (a gradient with deterministic noise,
// opaque): encode to PNG and to JPEG (quality 90), decode each file back to pixels, best of three
// runs each. The peer is python3 PIL on the same pixels and the same files (PIL's own deflate coder
// over zlib for PNG, libjpeg-turbo for JPEG, as ours).
//
// usage: bench_image_codec
#include <cstdio>
#include <string>
#include <vector>

#include "bench/peer.h"
#include "services/image/codec_parts.h"

using namespace zem::imaging;

namespace {

constexpr uint32_t kWidth = 4000, kHeight = 3000;
constexpr double kGoal = 1.25;  // PIL's speed at least 0.8 of ours

std::vector<uint32_t> picture() {
  std::vector<uint32_t> px(static_cast<size_t>(kWidth) * kHeight);
  bench::Rng rng;
  for (uint32_t y = 0; y < kHeight; y++)
    for (uint32_t x = 0; x < kWidth; x++) {
      const uint64_t noise = rng.next();
      const uint32_t r = (x * 255 / kWidth + (noise & 15)) & 0xFF;
      const uint32_t g = (y * 255 / kHeight + ((noise >> 8) & 15)) & 0xFF;
      const uint32_t b = ((x + y) * 255 / (kWidth + kHeight) + ((noise >> 16) & 15)) & 0xFF;
      px[static_cast<size_t>(y) * kWidth + x] = codec::bgra(r, g, b, 255);
    }
  return px;
}

// PIL's best time for `body` (seconds), with `im` the picture as RGBA, `rgb` as RGB and `png`,
// `jpg` the bytes of our files.
double pil(const std::string& dir, const std::string& body) {
  return bench::python_seconds(
      "import io, time\nfrom PIL import Image\n"
      "im = Image.frombytes(\"RGBA\", (" + std::to_string(kWidth) + ", " + std::to_string(kHeight) + "), open(\"" +
      dir + "/pixels.rgba\", \"rb\").read()); rgb = im.convert(\"RGB\")\n"
      "png = open(\"" + dir + "/ours.png\", \"rb\").read(); jpg = open(\"" + dir + "/ours.jpg\", \"rb\").read()\n"
      "best = 1e9\n"
      "for i in range(3):\n"
      " t = time.perf_counter(); " + body + "; best = min(best, time.perf_counter() - t)\n"
      "print(best)");
}

}  // namespace

int main() {
  const std::string dir = bench::scratch_dir();
  const std::vector<uint32_t> px = picture();
  std::vector<uint8_t> rgba;
  rgba.reserve(px.size() * 4);
  for (uint32_t w : px) rgba.insert(rgba.end(), {uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w), uint8_t(w >> 24)});
  bench::write_file(dir + "/pixels.rgba", rgba);

  std::vector<uint8_t> png, jpg;
  const double png_encode = bench::best_of(3, [&] {
    if (!codec::encode_png(px.data(), kWidth, kHeight, png)) std::exit(1);
  });
  const double jpg_encode = bench::best_of(3, [&] {
    if (!codec::encode_jpeg(px.data(), kWidth, kHeight, jpg)) std::exit(1);
  });
  bench::write_file(dir + "/ours.png", png);
  bench::write_file(dir + "/ours.jpg", jpg);
  codec::Pixels out;
  const double png_decode = bench::best_of(3, [&] {
    if (!codec::decode_png(png.data(), png.size(), out) || out.words != px) std::exit(1);
  });
  const double jpg_decode = bench::best_of(3, [&] {
    if (!codec::decode_jpeg(jpg.data(), jpg.size(), out) || out.width != kWidth) std::exit(1);
  });
  std::printf("%u x %u: PNG %zu bytes, JPEG %zu bytes\n", kWidth, kHeight, png.size(), jpg.size());
  bench::report("png enc", png_encode, pil(dir, "im.save(io.BytesIO(), \"PNG\")"), "PIL save PNG (RGBA)", kGoal);
  bench::report("jpg enc", jpg_encode, pil(dir, "rgb.save(io.BytesIO(), \"JPEG\", quality=90)"), "PIL save JPEG q90", kGoal);
  bench::report("png dec", png_decode, pil(dir, "Image.open(io.BytesIO(png)).load()"), "PIL open+load PNG", kGoal);
  bench::report("jpg dec", jpg_decode, pil(dir, "Image.open(io.BytesIO(jpg)).load()"), "PIL open+load JPEG", kGoal);
  bench::must_run("rm -rf " + dir);
  return 0;
}
