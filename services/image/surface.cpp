// The working surface (premultiplied, drawn on by Cairo) kept in step with the straight store, and
// the device cache.
#include "services/image/surface.h"

#include <algorithm>
#include <cstring>

namespace zem::imaging {

namespace {

inline uint32_t premultiply(uint32_t w) {
  const uint32_t a = w >> 24;
  if (a == 255) return w;
  if (a == 0) return 0;
  auto mul = [a](uint32_t c) { return (c * a + 127) / 255; };
  return a << 24 | mul((w >> 16) & 0xFF) << 16 | mul((w >> 8) & 0xFF) << 8 | mul(w & 0xFF);
}

inline uint32_t unpremultiply(uint32_t p) {
  const uint32_t a = p >> 24;
  if (a == 255 || a == 0) return a == 0 ? 0 : p;
  auto div = [a](uint32_t c) { return std::min<uint32_t>((c * 255 + a / 2) / a, 255); };
  return a << 24 | div((p >> 16) & 0xFF) << 16 | div((p >> 8) & 0xFF) << 8 | div(p & 0xFF);
}

// The surface made or rewritten from the store when it is missing or stale.
cairo_surface_t* current_surface(ImageRecord& rec) {
  if (rec.flags & kDrawnOn) return rec.surface.get();  // the surface holds the image
  if (rec.surface && !(rec.flags & kStoreWritten)) return rec.surface.get();
  if (!rec.surface) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(rec.width),
                                                    static_cast<int>(rec.height));
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(s);
      return nullptr;
    }
    rec.surface.reset(s);
  }
  cairo_surface_t* s = rec.surface.get();
  cairo_surface_flush(s);
  uint8_t* data = cairo_image_surface_get_data(s);
  const size_t stride = static_cast<size_t>(cairo_image_surface_get_stride(s));
  for (uint32_t y = 0; y < rec.height; y++) {
    const uint32_t* from = rec.pixels.data() + static_cast<size_t>(y) * rec.width;
    uint32_t* to = reinterpret_cast<uint32_t*>(data + y * stride);
    for (uint32_t x = 0; x < rec.width; x++) to[x] = premultiply(from[x]);
  }
  cairo_surface_mark_dirty(s);
  rec.cache.reset();  // it showed the old pixels
  rec.flags = (rec.flags & ~kStoreWritten) | kPremultiplied;
  return s;
}

}  // namespace

cairo_surface_t* working_surface(ImageId id) {
  ImageRecord* rec = record(id);
  return rec ? current_surface(*rec) : nullptr;
}

cairo_surface_t* mark_drawn(ImageId id) {
  ImageRecord* rec = record(id);
  cairo_surface_t* s = rec ? current_surface(*rec) : nullptr;
  if (s == nullptr) return nullptr;
  rec->flags = (rec->flags | kDrawnOn) & ~kStoreValid;
  rec->cache.reset();
  return s;
}

void refresh_store(ImageRecord& rec) {
  if (!(rec.flags & kDrawnOn) || !rec.surface) return;
  cairo_surface_t* s = rec.surface.get();
  cairo_surface_flush(s);
  const uint8_t* data = cairo_image_surface_get_data(s);
  const size_t stride = static_cast<size_t>(cairo_image_surface_get_stride(s));
  for (uint32_t y = 0; y < rec.height; y++) {
    const uint32_t* from = reinterpret_cast<const uint32_t*>(data + y * stride);
    uint32_t* to = rec.pixels.data() + static_cast<size_t>(y) * rec.width;
    for (uint32_t x = 0; x < rec.width; x++)
      if (premultiply(to[x]) != from[x]) to[x] = unpremultiply(from[x]);
  }
  rec.flags = (rec.flags & ~kDrawnOn) | kStoreValid;
}

cairo_surface_t* get_cache(ImageId id) {
  ImageRecord* rec = record(id);
  if (rec == nullptr) return nullptr;
  rec->flags |= kCacheHandedOut;
  return rec->cache ? cairo_surface_reference(rec->cache.get()) : nullptr;
}

void set_cache(ImageId id, cairo_surface_t* cache) {
  ImageRecord* rec = record(id);
  if (rec == nullptr) return;
  // The previous cache is released here: keeping it would leak a device surface per replacement.
  rec->cache.reset(cache ? cairo_surface_reference(cache) : nullptr);
}

void release_cache(ImageId id) {
  if (ImageRecord* rec = record(id)) rec->cache.reset();
}

}  // namespace zem::imaging
