// The geometry kit: warps against their own source, transparency outside and on degenerate
// quadrilaterals, mirrored placement, clipped copies, and YUY2 against python3 running the integer
// formula.
#include "services/image/geometry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace zem {
namespace {

using namespace imaging::geometry;

std::vector<uint32_t> picture(uint32_t w, uint32_t h) {
  std::vector<uint32_t> px;
  for (uint32_t y = 0; y < h; y++)
    for (uint32_t x = 0; x < w; x++) px.push_back(0xFF000000u | (x * 37 % 256) << 16 | (y * 53 % 256) << 8 | (x * y) % 256);
  return px;
}

TEST(ImageGeometry, WarpIntoOwnRectangleReproducesTheImage) {
  for (auto [w, h] : {std::pair{7u, 5u}, std::pair{1u, 1u}, std::pair{13u, 3u}}) {
    const std::vector<uint32_t> src = picture(w, h);
    std::vector<uint32_t> out;
    ASSERT_TRUE(warp_resize(src, w, h, w, h, out));
    EXPECT_EQ(out, src) << w << "x" << h;
  }
}

TEST(ImageGeometry, PointsOutsideTheQuadrilateralStayTransparent) {
  const std::vector<uint32_t> src(16, 0xFF112233u);
  Quad diamond;  // corners at the middles of a 10 × 10 box's sides
  const float xs[] = {5, 10, 5, 0}, ys[] = {0, 5, 10, 5};
  for (int i = 0; i < 4; i++) diamond.x[i] = xs[i], diamond.y[i] = ys[i];
  Warp warp;
  ASSERT_TRUE(warp_image_quad(src, 4, 4, diamond, warp));
  ASSERT_EQ(warp.width, 10u);
  ASSERT_EQ(warp.height, 10u);
  EXPECT_EQ(warp.pixels[0], 0u);                     // top-left corner of the box
  EXPECT_EQ(warp.pixels[9 * 10 + 9], 0u);            // bottom-right
  EXPECT_EQ(warp.pixels[5 * 10 + 5], 0xFF112233u);   // the centre
}

TEST(ImageGeometry, DegenerateQuadrilateralsGiveTransparentPixels) {
  const std::vector<uint32_t> src(16, 0xFFFFFFFFu);
  struct Case {
    const char* name;
    float x[4], y[4];
  } cases[] = {
      {"two equal corners", {0, 8, 8, 8}, {0, 0, 8, 8}},
      {"a flat quadrilateral", {0, 4, 8, 4}, {0, 0, 0, 0}},
      {"all corners equal", {3, 3, 3, 3}, {3, 3, 3, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Quad q;
    for (int i = 0; i < 4; i++) q.x[i] = c.x[i], q.y[i] = c.y[i];
    Warp warp;
    if (!warp_image_quad(src, 4, 4, q, warp)) continue;  // a box under one pixel: no image at all
    for (uint32_t p : warp.pixels) ASSERT_EQ(p, 0u);
  }
  // A corner that is not a number gives no image.
  Quad q;
  q.x[1] = q.x[2] = 4;
  q.y[2] = q.y[3] = 4;
  q.x[0] = std::numeric_limits<float>::quiet_NaN();
  Warp warp;
  EXPECT_FALSE(warp_image_quad(src, 4, 4, q, warp));
}

TEST(ImageGeometry, TransformPlacesCropsAndMirrors) {
  const std::vector<uint32_t> src = picture(4, 3);
  Warp warp;
  const Vec2 one[] = {{10, 20}};
  ASSERT_TRUE(transform(src, 4, 3, nullptr, one, warp));
  EXPECT_EQ(warp.x, 10);
  EXPECT_EQ(warp.y, 20);
  EXPECT_EQ(warp.pixels, src);
  // Right to left: the mirror image in the same box.
  const Vec2 mirrored[] = {{4, 0}, {0, 3}};
  ASSERT_TRUE(transform(src, 4, 3, nullptr, mirrored, warp));
  EXPECT_EQ(warp.x, 0);
  ASSERT_EQ(warp.pixels.size(), src.size());
  for (uint32_t y = 0; y < 3; y++)
    for (uint32_t x = 0; x < 4; x++) EXPECT_EQ(warp.pixels[y * 4 + x], src[y * 4 + 3 - x]);
  // A crop running past the image is clipped to it.
  const int64_t crop[] = {2, 1, 10, 10};
  ASSERT_TRUE(transform(src, 4, 3, crop, one, warp));
  ASSERT_EQ(warp.width, 2u);
  ASSERT_EQ(warp.height, 2u);
  EXPECT_EQ(warp.pixels, (std::vector<uint32_t>{src[6], src[7], src[10], src[11]}));
  std::vector<uint32_t> out;
  uint32_t w = 0, h = 0;
  EXPECT_FALSE(copy_clipped_rect(src, 4, 3, -1, 0, 2, 2, out, w, h));
  EXPECT_FALSE(copy_clipped_rect(src, 4, 3, 4, 0, 2, 2, out, w, h));
}

TEST(ImageGeometry, VectorHelpersRefuseZeroLengths) {
  EXPECT_FALSE(normalize({0, 0}).has_value());
  EXPECT_FALSE(line_distance({1, 1}, {2, 2}, {2, 2}).has_value());
  EXPECT_DOUBLE_EQ(*line_distance({0, 3}, {0, 0}, {5, 0}), 3);
  const Vec2 r = rotate({1, 0}, 90);
  EXPECT_NEAR(r.x, 0, 1e-9);
  EXPECT_NEAR(r.y, 1, 1e-9);
  EXPECT_TRUE(in_quad(quad_of_points(std::vector<Vec2>{{0, 0}}, 4, 4), 2, 2));
  EXPECT_FALSE(in_quad(quad_of_points(std::vector<Vec2>{{0, 0}}, 4, 4), 5, 2));
}

TEST(ImageGeometry, Yuy2MatchesTheIntegerFormula) {
  const std::vector<uint8_t> groups = {128, 128, 128, 128, 200, 40, 90, 220, 16, 240, 235, 16, 81, 90, 145, 240};
  std::string script =
      "import sys\n"
      "b=[int(x) for x in sys.argv[1:]]\n"
      "c=lambda v: max(0,min(255,v))\n"
      "for k in range(0,len(b),4):\n"
      " y0,u,y1,v=b[k:k+4]; d=v-128; e=u-128\n"
      " for y in (y0,y1):\n"
      "  r=c(y+((d*91881)>>16)); g=c(y-((d*46792)>>16)-((e*21889)>>16)); bl=c(y+((e*116129)>>16))\n"
      "  print(0xFF000000|r<<16|g<<8|bl)\n";
  std::string cmd = "python3 -c '" + script + "'";
  for (uint8_t g : groups) cmd += " " + std::to_string(g);
  FILE* f = popen(cmd.c_str(), "r");
  ASSERT_NE(f, nullptr);
  std::vector<uint32_t> want;
  unsigned long v;
  while (fscanf(f, "%lu", &v) == 1) want.push_back(static_cast<uint32_t>(v));
  pclose(f);
  ASSERT_EQ(want.size(), 8u);
  std::vector<uint32_t> got(8);
  yuy2_to_bgra(4, 2, groups, got);
  EXPECT_EQ(got, want);
  EXPECT_EQ(got[0], 0xFF808080u);  // grey stays grey
  // A high V (a reddish colour) lands in the R byte of the B, G, R, A store.
  EXPECT_GT((got[2] >> 16) & 255, got[2] & 255);
}

}  // namespace
}  // namespace zem
