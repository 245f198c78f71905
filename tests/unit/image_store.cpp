// The image table and pixel store: ids and their generations, the fill rules of a new image,
// crops, signature sniffing, and the release of images that no value reaches.
#include "services/image/image_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/image.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using imaging::ImageId;

class ImageStore : public testing::RuntimeTest<StartLayer::evaluator> {};

TEST_F(ImageStore, NewImagesFollowTheFillRules) {
  // Five RGB bytes make one whole triple; alpha bytes are transparency, one a pixel.
  const uint8_t rgb[] = {1, 2, 3, 4, 5};
  const uint8_t alpha[] = {0x10};
  ImageId id = imaging::make_image(3, 1, rgb, sizeof rgb, alpha, sizeof alpha, std::nullopt);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(imaging::get_pixel(id, 0), 0xEF010203u);
  EXPECT_EQ(imaging::get_pixel(id, 1), 0xFFFFFFFFu);
  EXPECT_EQ(imaging::get_pixel(id, 2), 0xFFFFFFFFu);
  ImageId red = imaging::make_image(2, 2, nullptr, 0, nullptr, 0, imaging::Colour{255, 0, 0, 128});
  for (uint32_t i = 0; i < 4; i++) EXPECT_EQ(imaging::get_pixel(red, i), 0x80FF0000u);
  EXPECT_EQ(imaging::make_image(0, 5, nullptr, 0, nullptr, 0, imaging::Colour{}), 0u);
  EXPECT_EQ(imaging::make_image(5, 0, nullptr, 0, nullptr, 0, imaging::Colour{}), 0u);
  EXPECT_EQ(test::raised([] { imaging::make_image(65535, 65535, nullptr, 0, nullptr, 0, imaging::Colour{}); }),
            Err::internal_no_memory);
}

TEST_F(ImageStore, CropsAndCopiesAreIndependent) {
  std::vector<uint8_t> rgb;
  for (int i = 0; i < 12; i++) rgb.insert(rgb.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
  ImageId id = imaging::make_image(4, 3, rgb.data(), rgb.size(), nullptr, 0, std::nullopt);
  ImageId part = imaging::crop(id, 1, 1, 2, 2);
  ASSERT_NE(imaging::record(part), nullptr);
  EXPECT_EQ(imaging::record(part)->width, 2u);
  std::vector<uint32_t> want = {0xFF050505, 0xFF060606, 0xFF090909, 0xFF0A0A0A};
  EXPECT_EQ(imaging::record(part)->pixels, want);
  ImageId twin = imaging::copy(id);
  imaging::set_pixel(twin, 0, 0x12345678);
  EXPECT_EQ(imaging::get_pixel(id, 0), 0xFF000000u);
  EXPECT_NE(imaging::record(twin)->flags & imaging::kStoreWritten, 0u);
  EXPECT_EQ(imaging::crop(id, 0, 0, 0, 3), 0u);
}

TEST_F(ImageStore, AReleasedIdNeverReachesANewerImage) {
  ImageId first = imaging::make_image(1, 1, nullptr, 0, nullptr, 0, imaging::Colour{});
  imaging::release(first);
  EXPECT_EQ(imaging::record(first), nullptr);
  ImageId second = imaging::make_image(1, 1, nullptr, 0, nullptr, 0, imaging::Colour{1, 2, 3, 255});
  EXPECT_NE(second, first);  // the slot is reused under a new generation
  EXPECT_EQ(second & 0xFFFFF, first & 0xFFFFF);
  EXPECT_EQ(imaging::record(first), nullptr);
  EXPECT_FALSE(imaging::mark(first));
  imaging::release(first);  // stale: nothing happens
  EXPECT_NE(imaging::record(second), nullptr);
  EXPECT_EQ(imaging::record(0), nullptr);
}

TEST_F(ImageStore, TheCollectorReleasesUnreachedImagesOnly) {
  const uint32_t before = imaging::live_count();
  Cell kept = image::make_cell(imaging::make_image(2, 2, nullptr, 0, nullptr, 0, imaging::Colour{}), 2, 2);
  stack::push_value(kept);  // rooted
  ImageId dropped = imaging::make_image(3, 3, nullptr, 0, nullptr, 0, imaging::Colour{});
  EXPECT_EQ(imaging::live_count(), before + 2);
  gc::collect();
  EXPECT_EQ(imaging::live_count(), before + 1);
  EXPECT_EQ(imaging::record(dropped), nullptr);
  ASSERT_NE(imaging::record(kept.image_id()), nullptr);
  gc::collect();  // marks are cleared between collections
  EXPECT_NE(imaging::record(kept.image_id()), nullptr);
  stack::reset();
  gc::collect();
  EXPECT_EQ(imaging::record(kept.image_id()), nullptr);
  EXPECT_EQ(imaging::live_count(), before);
}

TEST_F(ImageStore, FormatsAreKnownByTheirSignatures) {
  struct Case {
    std::string bytes;
    imaging::Format format;
  } cases[] = {
      {std::string("\x89PNG\r\n\x1A\n", 8), imaging::Format::png},
      {"\xFF\xD8\xFF\xE0", imaging::Format::jpeg},
      {"BM\x36\x00", imaging::Format::bmp},
      {"GIF87a", imaging::Format::gif},
      {"GIF89a\x01", imaging::Format::gif},
      {std::string("II*\0", 4), imaging::Format::tiff},
      {std::string("MM\0*", 4), imaging::Format::tiff},
      // Shorter than a signature, or near misses.
      {"\x89PN", imaging::Format::none},
      {"\xFF\xD8", imaging::Format::none},
      {"B", imaging::Format::none},
      {"GIF88a", imaging::Format::none},
      {"GIF89", imaging::Format::none},
      {std::string("II*", 3), imaging::Format::none},
      {std::string("MM\0+", 4), imaging::Format::none},
      {"", imaging::Format::none},
  };
  for (const Case& c : cases)
    EXPECT_EQ(imaging::sniff(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.format)
        << "bytes of length " << c.bytes.size();
  // Bytes of no known format load as none; a known signature over damaged bytes is bad media.
  Cell plain = binary::load(reinterpret_cast<const uint8_t*>("hello"), 5);
  EXPECT_TRUE(image::load_binary(plain).is(TYPE_NONE));
  Cell png = binary::load(reinterpret_cast<const uint8_t*>("\x89PNG"), 4);
  EXPECT_EQ(test::raised([&] { image::load_binary(png); }), Err::access_bad_media);
  EXPECT_EQ(test::raised([] { image::encode(image::make_cell(0, 0, 4), 1); }), Err::access_bad_media);
}

TEST_F(ImageStore, AnErrorWhileThePixelsAreHeldEndsTheHold) {
  ImageId id = imaging::make_image(1, 1, nullptr, 0, nullptr, 0, imaging::Colour{});
  EXPECT_EQ(test::raised([&] {
              imaging::PixelHold hold(id);
              EXPECT_EQ(imaging::record(id)->locks, 1u);
              fire(Err::script_invalid_arg);
            }),
            Err::script_invalid_arg);
  EXPECT_EQ(imaging::record(id)->locks, 0u);
}

}  // namespace
}  // namespace zem
