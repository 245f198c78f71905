// The pixel store of images: the table of image records that image! values and the imaging services
// refer to by ImageId.
//
// An ImageId is an index into the image table with a generation count: the low 20 bits are the slot
// (from 1), the high 12 bits the slot's generation, bumped each time the slot is freed, so an id
// kept past its image's release finds nothing instead of a newer image. Id 0 means no pixels.
//
// Each record is registered with the resource registry (class "image"); the collector marks the
// entry of every image! value it reaches, and the registry releases unmarked records after the
// marking. Records live in the C++ heap: their pixels never move while the record lives, but an
// address into them must not be kept across anything that can reach a safe point (a collection may
// release the record once no value refers to it).
//
// Pixels are 32-bit words, bytes B, G, R, A in memory (0xAARRGGBB read as a little-endian word),
// rows packed, A the opacity (255 opaque).
//
// Beside this straight store a record may hold a working surface for drawing: a Cairo image surface
// (ARGB32, premultiplied), made on first demand (services/image/surface.h). Each side is rebuilt from
// the other when it is stale: a pixel write marks the surface stale (kStoreWritten), drawing marks
// the store stale (kDrawnOn), and every hold of the pixels first brings the store up to date.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zem::imaging {

using ImageId = uint32_t;

constexpr uint32_t kMaxSide = 65535;

// Record flags.
constexpr uint32_t kStoreValid = 0x01;     // `pixels` holds the image (clear while kDrawnOn is set)
constexpr uint32_t kStoreWritten = 0x02;   // the pixels were written: the surface is stale
constexpr uint32_t kPremultiplied = 0x10;  // the surface is premultiplied (always, once there is one)
constexpr uint32_t kDrawnOn = 0x20;        // the surface was drawn on: the store is stale
constexpr uint32_t kCacheHandedOut = 0x40; // the cache was fetched since the last collection

struct SurfaceRelease {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceRelease>;

struct ImageRecord {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t flags = kStoreValid;
  int32_t resource = -1;  // entry in the resource registry
  uint32_t locks = 0;     // buffer holders at present
  std::vector<uint32_t> pixels;
  Surface surface;  // the working surface, null until drawing asks for it
  Surface cache;    // what the GUI back end derived from the image (a device surface), or null
};

// The colour a new image is filled with: R, G, B and the opacity.
struct Colour {
  uint8_t r = 255, g = 255, b = 255, a = 255;
};

// Empties the table (releasing every record) and registers the resource class "image". Run at
// every start of the runtime, after the resource registry is made.
void init();

// A new record of width × height pixels. From byte lists: whole R, G, B triples, one a pixel (white
// past their end), and alpha bytes as transparency, one a pixel (opaque past their end); or filled
// with `colour`. Answers 0 when a side is 0. A store that cannot be allocated raises internal
// `no-memory`.
ImageId make_image(uint32_t width, uint32_t height, const uint8_t* rgb, size_t rgb_length,
                   const uint8_t* alpha, size_t alpha_length, std::optional<Colour> colour);
// A new record taking over width × height decoded pixel words.
ImageId adopt_pixels(uint32_t width, uint32_t height, std::vector<uint32_t>&& pixels);
// The record of a live id, or null (0, stale or never made).
ImageRecord* record(ImageId id);
// The pixel word at a linear index (the caller checked the range).
uint32_t get_pixel(ImageId id, uint32_t index);
void set_pixel(ImageId id, uint32_t index, uint32_t word);
// A new record holding all the pixels of the image.
ImageId copy(ImageId id);
// A new record holding the rectangle (inside the image: the caller clipped it); 0 when empty.
ImageId crop(ImageId id, uint32_t x, uint32_t y, uint32_t width, uint32_t height);
// A new record of the image scaled to width × height by nearest neighbour; 0 when a size is 0.
ImageId resize(ImageId id, uint32_t width, uint32_t height);
// A new record of the image upside down.
ImageId flip_rotate(ImageId id);
// Releases the record at once (its id turns stale). Nothing for 0 or a stale id.
void release(ImageId id);

// The collector's hook for an image! value: marks the record's resource entry; true on the first
// mark of a collection. On that first mark a cache fetched since the last collection only loses
// kCacheHandedOut, any other cache is released: a cache survives one collection without use.
bool mark(ImageId id);
// During a collection, after marking: the record was reached.
bool is_marked(ImageId id);
// Live records (tests).
uint32_t live_count();

// The container formats recognised by their first bytes.
enum class Format : int8_t { none = -1, bmp = 0, png = 1, gif = 2, jpeg = 3, tiff = 4 };
Format sniff(const uint8_t* bytes, size_t length);
inline bool known_format(const uint8_t* bytes, size_t length) { return sniff(bytes, length) != Format::none; }

// Holds a record's pixels for one operation, the store brought up to date with the surface first;
// ends the hold on every path, errors included.
class PixelHold {
 public:
  explicit PixelHold(ImageId id);
  ~PixelHold();
  PixelHold(const PixelHold&) = delete;
  PixelHold& operator=(const PixelHold&) = delete;
  // Null when the id has no record.
  uint32_t* pixels() const { return record_ ? record_->pixels.data() : nullptr; }
  ImageRecord* record() const { return record_; }
  void mark_written() { written_ = true; }

 private:
  ImageRecord* record_;
  bool written_ = false;
};

}  // namespace zem::imaging
