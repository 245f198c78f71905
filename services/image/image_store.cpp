// The image table: records, ids with generations, the pixel store and its release.
#include "services/image/image_store.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/resources.h"
#include "services/image/geometry.h"
#include "services/image/surface.h"

namespace zem::imaging {

namespace {

constexpr uint32_t kIndexBits = 20;
constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr uint32_t kGenerationMask = 0xFFF;

struct Slot {
  std::unique_ptr<ImageRecord> record;
  uint32_t generation = 1;
};

struct Table {
  std::vector<Slot> slots = std::vector<Slot>(1);  // slot 0 is never used: id 0 means no image
  std::vector<uint32_t> free_slots;
  uint32_t class_id = 0;
  uint32_t live = 0;
};
Table T;

inline uint32_t index_of(ImageId id) { return id & kIndexMask; }
inline uint32_t generation_of(ImageId id) { return id >> kIndexBits; }

// Frees the slot of a live id; the generation moves on so the id turns stale.
void free_slot(ImageId id) {
  uint32_t i = index_of(id);
  Slot& s = T.slots[i];
  s.record.reset();
  s.generation = (s.generation + 1) & kGenerationMask;
  if (s.generation == 0) s.generation = 1;
  T.free_slots.push_back(i);
  T.live--;
}

// The registry's release callback of class "image": the entry is gone already.
void release_from_registry(void* data) {
  ImageId id = static_cast<ImageId>(reinterpret_cast<uintptr_t>(data));
  if (record(id) != nullptr) free_slot(id);
}

[[noreturn]] void no_memory() { fire(Err::internal_no_memory); }

// The record with its store up to date (rebuilt from the surface when that was drawn on).
ImageRecord* current(ImageId id) {
  ImageRecord* rec = record(id);
  if (rec != nullptr) refresh_store(*rec);
  return rec;
}

// A new record of that size with its store allocated (contents unset) unless `allocate` is false.
ImageId add_record(uint32_t width, uint32_t height, bool allocate = true) {
  uint64_t count = static_cast<uint64_t>(width) * height;
  if (count * 4 > static_cast<uint64_t>(kMaxSeriesBytes)) no_memory();
  auto rec = std::make_unique<ImageRecord>();
  rec->width = width;
  rec->height = height;
  try {
    if (allocate) rec->pixels.resize(count);
  } catch (const std::bad_alloc&) {
    no_memory();
  }
  uint32_t i;
  if (!T.free_slots.empty()) {
    i = T.free_slots.back();
    T.free_slots.pop_back();
  } else {
    if (T.slots.size() > kIndexMask) no_memory();
    i = static_cast<uint32_t>(T.slots.size());
    T.slots.emplace_back();
  }
  Slot& s = T.slots[i];
  ImageId id = (s.generation << kIndexBits) | i;
  rec->resource = resources::add(reinterpret_cast<void*>(static_cast<uintptr_t>(id)), T.class_id);
  s.record = std::move(rec);
  T.live++;
  return id;
}

}  // namespace

void init() {
  T = Table{};
  T.class_id = resources::register_class("image", &release_from_registry);
}

ImageId make_image(uint32_t width, uint32_t height, const uint8_t* rgb, size_t rgb_length,
                   const uint8_t* alpha, size_t alpha_length, std::optional<Colour> colour) {
  if (width == 0 || height == 0) return 0;
  ImageId id = add_record(width, height);
  std::vector<uint32_t>& px = record(id)->pixels;
  const size_t n = px.size();
  if (colour) {
    uint32_t word = static_cast<uint32_t>(colour->a) << 24 | static_cast<uint32_t>(colour->r) << 16 |
                    static_cast<uint32_t>(colour->g) << 8 | colour->b;
    std::fill(px.begin(), px.end(), word);
    return id;
  }
  const size_t triples = rgb ? rgb_length / 3 : 0;
  const size_t alphas = alpha ? alpha_length : 0;
  for (size_t i = 0; i < n; i++) {
    uint32_t r = 255, g = 255, b = 255, a = 255;
    if (i < triples) {
      r = rgb[3 * i];
      g = rgb[3 * i + 1];
      b = rgb[3 * i + 2];
    }
    if (i < alphas) a = 255u - alpha[i];
    px[i] = a << 24 | r << 16 | g << 8 | b;
  }
  return id;
}

ImageId adopt_pixels(uint32_t width, uint32_t height, std::vector<uint32_t>&& pixels) {
  if (width == 0 || height == 0) return 0;
  ImageId id = add_record(width, height, false);
  record(id)->pixels = std::move(pixels);
  return id;
}

ImageRecord* record(ImageId id) {
  uint32_t i = index_of(id);
  if (i == 0 || i >= T.slots.size()) return nullptr;
  Slot& s = T.slots[i];
  if (s.generation != generation_of(id)) return nullptr;
  return s.record.get();
}

uint32_t get_pixel(ImageId id, uint32_t index) {
  PixelHold hold(id);
  return hold.pixels()[index];
}

void set_pixel(ImageId id, uint32_t index, uint32_t word) {
  PixelHold hold(id);
  hold.pixels()[index] = word;
  hold.mark_written();
}

ImageId copy(ImageId id) {
  ImageRecord* src = current(id);
  if (src == nullptr) return 0;
  ImageId out = add_record(src->width, src->height);
  src = record(id);  // the table may have grown
  std::memcpy(record(out)->pixels.data(), src->pixels.data(), src->pixels.size() * 4);
  return out;
}

ImageId crop(ImageId id, uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
  if (current(id) == nullptr || width == 0 || height == 0) return 0;
  ImageId out = add_record(width, height);
  const ImageRecord* src = record(id);
  uint32_t* dst = record(out)->pixels.data();
  for (uint32_t row = 0; row < height; row++)
    std::memcpy(dst + static_cast<size_t>(row) * width,
                src->pixels.data() + static_cast<size_t>(y + row) * src->width + x, static_cast<size_t>(width) * 4);
  return out;
}

ImageId resize(ImageId id, uint32_t width, uint32_t height) {
  const ImageRecord* src = current(id);
  std::vector<uint32_t> out;
  if (src == nullptr || !geometry::resize_nearest(src->pixels, src->width, src->height, width, height, out)) return 0;
  return adopt_pixels(width, height, std::move(out));
}

ImageId flip_rotate(ImageId id) {
  const ImageRecord* src = current(id);
  if (src == nullptr) return 0;
  std::vector<uint32_t> out;
  geometry::flip_vertical(src->pixels, src->width, src->height, out);
  return adopt_pixels(src->width, src->height, std::move(out));
}

void release(ImageId id) {
  ImageRecord* rec = record(id);
  if (rec == nullptr) return;
  resources::remove(rec->resource, false);
  free_slot(id);
}

bool mark(ImageId id) {
  ImageRecord* rec = record(id);
  if (rec == nullptr || !resources::mark(rec->resource, nullptr)) return false;
  if (rec->flags & kCacheHandedOut)
    rec->flags &= ~kCacheHandedOut;
  else
    rec->cache.reset();
  return true;
}

bool is_marked(ImageId id) {
  ImageRecord* rec = record(id);
  return rec != nullptr && resources::is_marked(rec->resource);
}

uint32_t live_count() { return T.live; }

Format sniff(const uint8_t* b, size_t n) {
  auto starts = [&](const char* sig, size_t len) { return n >= len && std::memcmp(b, sig, len) == 0; };
  if (starts("\x89PNG", 4)) return Format::png;
  if (starts("\xFF\xD8\xFF", 3)) return Format::jpeg;
  if (starts("BM", 2)) return Format::bmp;
  if (starts("GIF87a", 6) || starts("GIF89a", 6)) return Format::gif;
  if (starts("II\x2A\x00", 4) || starts("MM\x00\x2A", 4)) return Format::tiff;
  return Format::none;
}

PixelHold::PixelHold(ImageId id) : record_(current(id)) {
  if (record_) record_->locks++;
}

PixelHold::~PixelHold() {
  if (!record_) return;
  record_->locks--;
  if (written_) record_->flags |= kStoreWritten;
}

}  // namespace zem::imaging
