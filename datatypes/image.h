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

// The decoders and encoders of the image codecs. load_binary answers none for bytes of no known
// format and raises access `bad-media` for bytes it cannot decode; a file that cannot be read or
// decoded raises access `cannot-open`; encoding an image without pixels raises `bad-media`.
Cell load_binary(const Cell& binary);
Cell decode(const Cell& value);
Cell encode(const Cell& image, int32_t format);

// A new image of the image scaled to width × height by nearest neighbour (button image lists). A
// side of 0 or below, or an image without pixels, gives an image without pixels; a side above
// 65,535 raises script `invalid-arg`, a size above the decoders' cap internal `no-memory`.
Cell push_resized(const Cell& image, int32_t width, int32_t height);

// Where a transformed image lands: the bounding box of its points.
struct Placement {
  int32_t x = 0, y = 0, width = 0, height = 0;
};
// A new image of the image placed by one to four points (pair! or point2D!): one point is the
// top-left corner at the image's own size, two the top-left and bottom-right corners, three
// complete a parallelogram, four are the corners; a quadrilateral running right to left or bottom
// to top shows the image mirrored. `crop` (x, y, width, height), when given, is clipped to the image
// and taken first. Another point value or count raises script `invalid-arg`; when nothing can be
// placed (a box under one pixel, a crop outside the image) the result has no pixels.
Cell transform(const Cell& image, const int64_t* crop, const Cell* points, uint32_t count, Placement& place);

void register_image_type();

}  // namespace zem::image
