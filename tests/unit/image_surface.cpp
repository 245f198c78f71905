// The working surface of images beside the straight store: a pixel written then painted by Cairo
// shows, drawing with Cairo then reading pixels (pick, copy, encode) sees the drawing, untouched
// pixels keep their exact straight values; the device cache lives one collection without use;
// resized and transformed images as values.
#include "services/image/surface.h"

#include <gtest/gtest.h>
#include <cairo.h>

#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/image.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "services/image/codecs.h"
#include "services/image/geometry.h"
#include "services/zembin/decoder.h"
#include "services/zembin/encoder.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using imaging::ImageId;

class ImageSurface : public testing::RuntimeTest<StartLayer::evaluator> {
 protected:
  // A rooted image! of width × height filled with the colour.
  Cell rooted(uint32_t w, uint32_t h, imaging::Colour colour) {
    Cell c = image::make_cell(imaging::make_image(w, h, nullptr, 0, nullptr, 0, colour), w, h);
    stack::push_value(c);
    return c;
  }
  // The premultiplied words Cairo sees when it paints the image onto a cleared surface.
  static std::vector<uint32_t> painted(ImageId id, uint32_t w, uint32_t h) {
    cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(w), static_cast<int>(h));
    cairo_t* cr = cairo_create(target);
    cairo_set_source_surface(cr, imaging::working_surface(id), 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(target);
    std::vector<uint32_t> out;
    const uint8_t* data = cairo_image_surface_get_data(target);
    for (uint32_t y = 0; y < h; y++)
      for (uint32_t x = 0; x < w; x++)
        out.push_back(reinterpret_cast<const uint32_t*>(data + y * cairo_image_surface_get_stride(target))[x]);
    cairo_surface_destroy(target);
    return out;
  }
  static void fill(cairo_surface_t* s, double r, double g, double b, double a, int x, int y, int w, int h) {
    cairo_t* cr = cairo_create(s);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, r, g, b, a);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
    cairo_destroy(cr);
  }
};

TEST_F(ImageSurface, APixelWrittenShowsWhenThePictureIsPainted) {
  Cell img = rooted(3, 2, imaging::Colour{255, 0, 0, 255});
  const ImageId id = img.image_id();
  EXPECT_EQ(painted(id, 3, 2), std::vector<uint32_t>(6, 0xFFFF0000u));
  cairo_surface_t* first = imaging::working_surface(id);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(imaging::record(id)->flags & imaging::kPremultiplied, 0u);
  // A half-transparent green pixel: painted premultiplied, so green 255 × 128 / 255.
  imaging::set_pixel(id, 4, 0x8000FF00u);
  EXPECT_NE(imaging::record(id)->flags & imaging::kStoreWritten, 0u);
  std::vector<uint32_t> want(6, 0xFFFF0000u);
  want[4] = 0x80008000u;
  EXPECT_EQ(painted(id, 3, 2), want);
  EXPECT_EQ(imaging::working_surface(id), first);  // rewritten in place, not replaced
  EXPECT_EQ(imaging::record(id)->flags & imaging::kStoreWritten, 0u);
  // Writes through the language's paths alike: the whole alpha channel.
  const uint8_t alpha[] = {0, 0, 0, 0, 255, 0};
  image::set_pixels(img, binary::load(alpha, sizeof alpha), 0);
  want[4] = 0;  // fully transparent paints nothing
  want[5] = 0xFFFF0000u;
  EXPECT_EQ(painted(id, 3, 2), want);
}

TEST_F(ImageSurface, SerializingAfterDrawingKeepsTheDrawing) {
  Cell img = rooted(2, 2, imaging::Colour{255, 255, 255, 255});
  fill(imaging::mark_drawn(img.image_id()), 0, 0, 1, 1, 1, 0, 1, 1);  // opaque blue at (1, 0)
  for (bool compact : {true, false}) {
    const std::vector<uint8_t> bytes = zembin::encode_bytes(img, compact);
    Cell dest = block::make(1);
    stack::push_value(dest);
    zembin::decode(bytes.data(), bytes.size(), dest);
    const Cell back = *block::cell_at_index(dest, 0);
    ASSERT_TRUE(back.is(TYPE_IMAGE));
    EXPECT_EQ(imaging::get_pixel(back.image_id(), 1), 0xFF0000FFu) << compact;
    EXPECT_EQ(imaging::get_pixel(back.image_id(), 0), 0xFFFFFFFFu) << compact;
  }
}

TEST_F(ImageSurface, ReadingPixelsAfterDrawingSeesTheDrawing) {
  Cell img = rooted(4, 4, imaging::Colour{255, 255, 255, 255});
  const ImageId id = img.image_id();
  // An untouched pixel of low opacity: premultiplying alone would lose its colour.
  imaging::set_pixel(id, 15, 0x010A0B0Cu);
  cairo_surface_t* s = imaging::mark_drawn(id);
  ASSERT_NE(s, nullptr);
  EXPECT_NE(imaging::record(id)->flags & imaging::kDrawnOn, 0u);
  fill(s, 0, 0, 1, 1, 1, 1, 2, 1);    // opaque blue at (1, 1) and (2, 1)
  fill(s, 1, 0, 0, 0.5, 0, 3, 1, 1);  // half-transparent red at (0, 3)
  EXPECT_EQ(image::pick_pixel(img, 5).tuple_at(2), 255);  // the pick rebuilt the store
  EXPECT_EQ(imaging::record(id)->flags & imaging::kDrawnOn, 0u);
  EXPECT_EQ(imaging::get_pixel(id, 5), 0xFF0000FFu);
  EXPECT_EQ(imaging::get_pixel(id, 6), 0xFF0000FFu);
  EXPECT_EQ(imaging::get_pixel(id, 0), 0xFFFFFFFFu);
  EXPECT_EQ(imaging::get_pixel(id, 15), 0x010A0B0Cu);
  const uint32_t half = imaging::get_pixel(id, 12);
  EXPECT_NEAR(static_cast<int>(half >> 24), 128, 1);
  EXPECT_EQ(half & 0xFFFFFFu, 0xFF0000u);  // straight again: full red under half opacity

  // Copies, crops, resizes and encodings read the drawing too.
  fill(imaging::mark_drawn(id), 0, 1, 0, 1, 3, 0, 1, 1);  // green at (3, 0)
  const ImageId twin = imaging::copy(id);
  EXPECT_EQ(imaging::get_pixel(twin, 3), 0xFF00FF00u);
  fill(imaging::mark_drawn(id), 0, 0, 0, 1, 0, 0, 1, 1);  // black at (0, 0)
  const ImageId corner = imaging::crop(id, 0, 0, 1, 1);
  EXPECT_EQ(imaging::get_pixel(corner, 0), 0xFF000000u);
  fill(imaging::mark_drawn(id), 1, 1, 0, 1, 0, 0, 4, 4);  // all yellow
  const ImageId small = imaging::resize(id, 2, 2);
  EXPECT_EQ(imaging::get_pixel(small, 3), 0xFFFFFF00u);
  fill(imaging::mark_drawn(id), 0, 1, 1, 1, 0, 0, 4, 4);  // all cyan
  const std::vector<uint8_t> png = imaging::encode(id, imaging::Format::png);
  const ImageId back = imaging::load_bytes(png.data(), png.size());
  ASSERT_NE(back, 0u);
  EXPECT_EQ(imaging::get_pixel(back, 9), 0xFF00FFFFu);

  // A pixel written after drawing joins the drawing on the surface.
  fill(imaging::mark_drawn(id), 1, 0, 1, 1, 0, 0, 4, 1);  // magenta top row
  imaging::set_pixel(id, 15, 0xFF000000u);
  std::vector<uint32_t> shown = painted(id, 4, 4);
  EXPECT_EQ(shown[0], 0xFFFF00FFu);
  EXPECT_EQ(shown[15], 0xFF000000u);
  EXPECT_EQ(shown[14], 0xFF00FFFFu);
}

TEST_F(ImageSurface, ImagesBeyondCairosSizeHaveNoSurface) {
  Cell img = rooted(40000, 1, imaging::Colour{1, 2, 3, 255});
  EXPECT_EQ(imaging::working_surface(img.image_id()), nullptr);
  EXPECT_EQ(imaging::mark_drawn(img.image_id()), nullptr);
  EXPECT_EQ(imaging::get_pixel(img.image_id(), 39999), 0xFF010203u);
  EXPECT_EQ(imaging::working_surface(0), nullptr);
}

TEST_F(ImageSurface, TheCacheSurvivesOneCollectionWithoutUse) {
  Cell img = rooted(2, 2, imaging::Colour{});
  const ImageId id = img.image_id();
  cairo_surface_t* device = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 2, 2);
  auto refs = [&] { return cairo_surface_get_reference_count(device); };
  auto fetched = [&] {
    cairo_surface_t* c = imaging::get_cache(id);
    if (c) cairo_surface_destroy(c);
    return c;
  };

  // Fetched (as the back end does before drawing), then set: kept through one collection.
  EXPECT_EQ(fetched(), nullptr);
  imaging::set_cache(id, device);
  EXPECT_EQ(refs(), 2u);
  gc::collect();
  EXPECT_EQ(refs(), 2u);
  gc::collect();  // a second collection without a fetch releases it
  EXPECT_EQ(refs(), 1u);
  EXPECT_EQ(fetched(), nullptr);

  // Fetched before each collection: kept as long as that goes on.
  imaging::set_cache(id, device);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(fetched(), device);
    gc::collect();
    EXPECT_EQ(refs(), 2u);
  }
  gc::collect();
  EXPECT_EQ(refs(), 1u);

  // A replacement releases the previous cache.
  cairo_surface_t* other = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 2, 2);
  imaging::set_cache(id, device);
  imaging::set_cache(id, other);
  EXPECT_EQ(refs(), 1u);
  EXPECT_EQ(cairo_surface_get_reference_count(other), 2u);
  imaging::set_cache(id, other);  // the same one again
  EXPECT_EQ(cairo_surface_get_reference_count(other), 2u);

  // Drawing, a rebuilt surface and the release of the image each drop the cache.
  imaging::mark_drawn(id);
  EXPECT_EQ(cairo_surface_get_reference_count(other), 1u);
  imaging::set_cache(id, other);
  imaging::set_pixel(id, 0, 0xFF000000u);
  imaging::working_surface(id);
  EXPECT_EQ(cairo_surface_get_reference_count(other), 1u);
  imaging::set_cache(id, device);
  EXPECT_NE(fetched(), nullptr);
  stack::reset();
  gc::collect();
  EXPECT_EQ(imaging::record(id), nullptr);
  EXPECT_EQ(refs(), 1u);
  cairo_surface_destroy(other);
  cairo_surface_destroy(device);
}

TEST_F(ImageSurface, ResizedImagesAsValues) {
  const uint8_t rgb[] = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
  Cell img = image::make_cell(imaging::make_image(2, 2, rgb, sizeof rgb, nullptr, 0, std::nullopt), 2, 2);
  stack::push_value(img);
  Cell big = image::push_resized(img, 4, 3);
  EXPECT_EQ(big.image_width(), 4u);
  EXPECT_EQ(big.image_height(), 3u);
  std::vector<uint32_t> want;
  ASSERT_TRUE(imaging::geometry::resize_nearest(imaging::record(img.image_id())->pixels, 2, 2, 4, 3, want));
  EXPECT_EQ(imaging::record(big.image_id())->pixels, want);
  Cell none = image::push_resized(img, 0, 5);
  EXPECT_EQ(none.image_id(), 0u);
  EXPECT_EQ(image::pixel_count(none), 0u);
  EXPECT_EQ(image::push_resized(image::make_cell(0, 0, 0), 3, 3).image_id(), 0u);
  EXPECT_EQ(test::raised([&] { image::push_resized(img, 70000, 1); }), Err::script_invalid_arg);
  EXPECT_EQ(test::raised([&] { image::push_resized(img, 65535, 65535); }), Err::internal_no_memory);
  const ImageId flipped = imaging::flip_rotate(img.image_id());
  EXPECT_EQ(imaging::get_pixel(flipped, 0), 0xFF030303u);
  EXPECT_EQ(imaging::get_pixel(flipped, 3), 0xFF020202u);
}

TEST_F(ImageSurface, TransformedImagesAsValues) {
  const uint8_t rgb[] = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
  Cell img = image::make_cell(imaging::make_image(2, 2, rgb, sizeof rgb, nullptr, 0, std::nullopt), 2, 2);
  stack::push_value(img);
  auto pair = [](int32_t x, int32_t y) {
    Cell c{};
    c.set_header(TYPE_PAIR);
    c.set_pair_xy(x, y);
    return c;
  };
  auto point = [](float x, float y) {
    Cell c{};
    c.set_header(TYPE_POINT2D);
    c.set_point_xyz(x, y, 0);
    return c;
  };
  image::Placement place;
  // One point: the image at its own size, unchanged.
  Cell at = image::transform(img, nullptr, std::vector<Cell>{pair(5, 7)}.data(), 1, place);
  EXPECT_EQ(place.x, 5);
  EXPECT_EQ(place.y, 7);
  EXPECT_EQ(place.width, 2);
  EXPECT_EQ(place.height, 2);
  EXPECT_EQ(imaging::record(at.image_id())->pixels, imaging::record(img.image_id())->pixels);
  // Two points running right to left: mirrored across.
  const std::vector<Cell> mirrored = {point(2, 0), point(0, 2)};
  Cell m = image::transform(img, nullptr, mirrored.data(), 2, place);
  std::vector<uint32_t> want = {0xFF020202, 0xFF010101, 0xFF040404, 0xFF030303};
  EXPECT_EQ(imaging::record(m.image_id())->pixels, want);
  // A crop first: the bottom-right pixel alone, doubled.
  const int64_t crop[4] = {1, 1, 5, 5};
  Cell c = image::transform(img, crop, std::vector<Cell>{pair(0, 0), pair(2, 2)}.data(), 2, place);
  EXPECT_EQ(imaging::record(c.image_id())->pixels, std::vector<uint32_t>(4, 0xFF040404));
  // Nothing to place, and bad points.
  const int64_t outside[4] = {9, 9, 1, 1};
  EXPECT_EQ(image::transform(img, outside, std::vector<Cell>{pair(0, 0)}.data(), 1, place).image_id(), 0u);
  EXPECT_EQ(image::transform(img, nullptr, std::vector<Cell>{pair(0, 0), pair(0, 0)}.data(), 2, place).image_id(), 0u);
  EXPECT_EQ(test::raised([&] { image::transform(img, nullptr, std::vector<Cell>{img}.data(), 1, place); }),
            Err::script_invalid_arg);
  EXPECT_EQ(test::raised([&] { image::transform(img, nullptr, nullptr, 0, place); }), Err::script_invalid_arg);
}

}  // namespace
}  // namespace zem
