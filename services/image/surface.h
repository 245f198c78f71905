// The working surface of an image for drawing, and the device cache the GUI back end keeps beside it.
//
// The working surface is a Cairo image surface (CAIRO_FORMAT_ARGB32: native-endian words with
// premultiplied alpha, the same byte order as the store) made from the store on first demand. Who
// draws on an image takes the surface and marks it drawn when drawing starts; a later hold of the
// pixels rebuilds the store from it. A pixel write marks the surface stale; the next request for it
// rebuilds it from the store. Cairo image surfaces are at most 32,767 pixels a side: a larger image
// has no working surface.
#pragma once

#include <cairo.h>

#include "services/image/image_store.h"

namespace zem::imaging {

// A Cairo surface to draw on or paint from, up to date with the store. Null without a record or when
// Cairo cannot make a surface of the size. The record owns it (the same surface until the record is
// released); a caller that keeps it takes a reference.
cairo_surface_t* working_surface(ImageId id);
// Mark drawn: the image is about to be drawn on through its working surface, so the store goes
// stale and the cache no longer shows the image. Answers the surface (null as above, and then
// nothing is marked).
cairo_surface_t* mark_drawn(ImageId id);

// The store rebuilt from a drawn-on surface (pixel holds call it first). Pixels whose premultiplied
// value did not change keep their straight value, so drawing loses no precision outside what it
// touched.
void refresh_store(ImageRecord& rec);

// The cache: a new reference to it (null when none); marks it fetched for the collector.
cairo_surface_t* get_cache(ImageId id);
// Keeps a reference of its own to `cache` (null clears) and releases the previous one.
void set_cache(ImageId id, cairo_surface_t* cache);
void release_cache(ImageId id);

}  // namespace zem::imaging
