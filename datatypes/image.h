// image!: a picture as a series of pixels in row order with a head, over a record of the image table
// (services/image/image_store.h). The cell holds the head pixel, the record's ImageId (0: no pixels)
// and the size (width low 16 bits, height high 16).
//
// The language sees a pixel as the tuple R.G.B.A with A the transparency (255 - the stored opacity);
// a 3-element tuple writes an opaque pixel. Positions are integer! counts from the head or pair!
// (x, y) coordinates, 1-based for pick, poke and at, 0-based for skip.
//
// No pixel address is kept across a call that can run user code (owner notices): the handlers hold
// the store only between such calls and re-read the head from the cell.
#pragma once

#include <cstdint>

#include "datatypes/registry.h"
#include "runtime/cell.h"
#include "services/image/image_store.h"

namespace zem::image {

// An image! over the record at head 0 (0 and any size: an image without pixels).
Cell make_cell(imaging::ImageId id, uint32_t width, uint32_t height);
// width × height.
uint32_t pixel_count(const Cell& image);

// The offset of a position (integer! or pair!) with base 1 or 0, clamped to 0 ... width × height;
// `out_of_range`, when given, is set for a position outside the image.
uint32_t pixel_index(const Cell& image, const Cell& position, int base, bool* out_of_range);
// The pixel at a linear index as a tuple, or none at width × height.
Cell pick_pixel(const Cell& image, uint32_t index);

// A new binary of every pixel from the first: mode 0 one byte of transparency a pixel, mode 1 R, G,
// B, mode 2 the stored B, G, R, A bytes.
Cell get_pixels(const Cell& image, int32_t mode);
// Writes every pixel from the first from a binary, a tuple or an integer (modes as get_pixels);
// another value raises script `invalid-arg`.
void set_pixels(const Cell& image, const Cell& value, int32_t mode);

// The decoders and encoders of the image codecs; until they are built, bytes of a known format and
// encoding raise internal `not-done`. load_binary answers none for bytes of no known format.
Cell load_binary(const Cell& binary);
Cell decode(const Cell& value);
Cell encode(const Cell& image, int32_t format);

void register_image_type();

}  // namespace zem::image
