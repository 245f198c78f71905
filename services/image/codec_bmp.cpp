// Our own BMP reader (1, 4, 8, 16, 24 and 32 bits; uncompressed, RLE4, RLE8 and bit fields; both row
// orders) and writer (32 bits with bit fields and alpha).
#include <algorithm>
#include <cstring>

#include "services/image/codec_parts.h"
#include "services/image/codecs.h"

namespace zem::imaging::codec {

namespace {

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// One channel of a bit-field pixel, scaled to 8 bits.
struct Field {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  explicit Field(uint32_t m) : mask(m) {
    if (m == 0) return;
    while (((m >> shift) & 1) == 0) shift++;
    max = m >> shift;
    while (max & (max + 1)) max |= max >> 1;  // a mask with gaps counts as its whole span
  }
  uint32_t get(uint32_t v, uint32_t absent) const {
    if (mask == 0) return absent;
    uint32_t x = (v & mask) >> shift;
    if (max == 255) return x;
    return static_cast<uint32_t>((static_cast<uint64_t>(x) * 255 + max / 2) / max);
  }
};

struct Header {
  uint32_t width = 0, height = 0;
  bool top_down = false;
  uint32_t bits = 0, compression = 0;
  uint32_t masks[4] = {0, 0, 0, 0};
  bool has_alpha_mask = false;
  size_t palette_at = 0, palette_entry = 4, palette_count = 0;
  size_t data_at = 0;
};

bool read_header(const uint8_t* b, size_t n, Header& h) {
  if (n < 18 || b[0] != 'B' || b[1] != 'M') return false;
  h.data_at = u32(b + 10);
  const uint32_t hs = u32(b + 14);
  if (hs > n - 14) return false;
  int64_t w, ht;
  if (hs == 12) {
    w = u16(b + 18);
    ht = u16(b + 20);
    h.bits = u16(b + 24);
    h.palette_entry = 3;
  } else if (hs >= 40) {
    w = static_cast<int32_t>(u32(b + 18));
    ht = static_cast<int32_t>(u32(b + 22));
    h.bits = u16(b + 28);
    h.compression = u32(b + 30);
    h.palette_count = u32(b + 46);
  } else {
    return false;
  }
  if (ht < 0) {
    h.top_down = true;
    ht = -ht;
  }
  if (w <= 0 || !size_allowed(static_cast<uint64_t>(w), static_cast<uint64_t>(ht))) return false;
  h.width = static_cast<uint32_t>(w);
  h.height = static_cast<uint32_t>(ht);
  size_t after = 14 + hs;
  switch (h.compression) {
    case 0:
      if (h.bits != 1 && h.bits != 4 && h.bits != 8 && h.bits != 16 && h.bits != 24 && h.bits != 32) return false;
      break;
    case 1:
      if (h.bits != 8) return false;
      break;
    case 2:
      if (h.bits != 4) return false;
      break;
    case 3:  // bit fields
    case 6:  // bit fields with alpha
      if (h.bits != 16 && h.bits != 32) return false;
      if (hs >= 52) {
        for (int i = 0; i < 3; i++) h.masks[i] = u32(b + 54 + 4 * i);
        if (hs >= 56) {
          h.masks[3] = u32(b + 66);
          h.has_alpha_mask = true;
        }
      } else {
        const size_t count = h.compression == 6 ? 4 : 3;
        if (after + 4 * count > n) return false;
        for (size_t i = 0; i < count; i++) h.masks[i] = u32(b + after + 4 * i);
        h.has_alpha_mask = count == 4;
        after += 4 * count;
      }
      break;
    default:
      return false;
  }
  if (h.compression == 0 && h.bits == 16) {
    h.masks[0] = 0x7C00;
    h.masks[1] = 0x03E0;
    h.masks[2] = 0x001F;
  }
  if (h.compression == 0 && hs >= 56 && h.bits == 32 && u32(b + 66) != 0) {
    h.masks[3] = u32(b + 66);
    h.has_alpha_mask = true;
  }
  if (h.bits > 8) {
    h.palette_count = 0;  // a colour table beside direct colours is not used
  } else {
    const size_t most = size_t{1} << h.bits;
    if (h.palette_count == 0 || h.palette_count > most) h.palette_count = most;
    h.palette_at = after;
    // A palette cut short by the pixel data or the end keeps only its whole entries.
    const size_t end = std::min(n, h.data_at > after ? static_cast<size_t>(h.data_at) : n);
    const size_t room = end > after ? (end - after) / h.palette_entry : 0;
    if (room < h.palette_count) h.palette_count = room;
    if (h.palette_count == 0) return false;
  }
  return h.data_at < n;
}

class Reader {
 public:
  Reader(const uint8_t* b, size_t n, const Header& h, Pixels& out) : b_(b), n_(n), h_(h), out_(out) {
    for (size_t i = 0; i < h.palette_count; i++) {
      const uint8_t* e = b + h.palette_at + i * h.palette_entry;
      palette_[i] = bgra(e[2], e[1], e[0], 255);
    }
  }

  bool run() {
    out_.width = h_.width;
    out_.height = h_.height;
    out_.words.assign(static_cast<size_t>(h_.width) * h_.height, 0);
    if (h_.compression == 1 || h_.compression == 2) return rle(h_.compression == 1 ? 8 : 4);
    return plain();
  }

 private:
  // The output row of file row y (file rows run bottom-up unless the height was negative).
  uint32_t* row(uint32_t y) {
    const uint32_t r = h_.top_down ? y : h_.height - 1 - y;
    return out_.words.data() + static_cast<size_t>(r) * h_.width;
  }
  uint32_t colour(uint32_t index) const { return index < h_.palette_count ? palette_[index] : bgra(0, 0, 0, 255); }

  bool plain() {
    const uint64_t stride = (static_cast<uint64_t>(h_.width) * h_.bits + 31) / 32 * 4;
    if (stride * h_.height > n_ - h_.data_at) return false;
    const Field r(h_.masks[0]), g(h_.masks[1]), bl(h_.masks[2]), a(h_.masks[3]);
    bool any_alpha = false;
    for (uint32_t y = 0; y < h_.height; y++) {
      const uint8_t* s = b_ + h_.data_at + stride * y;
      uint32_t* d = row(y);
      for (uint32_t x = 0; x < h_.width; x++) {
        switch (h_.bits) {
          case 1:
            d[x] = colour((s[x >> 3] >> (7 - (x & 7))) & 1);
            break;
          case 4:
            d[x] = colour((s[x >> 1] >> ((x & 1) ? 0 : 4)) & 15);
            break;
          case 8:
            d[x] = colour(s[x]);
            break;
          case 24:
            d[x] = bgra(s[3 * x + 2], s[3 * x + 1], s[3 * x], 255);
            break;
          case 16:
          case 32: {
            const uint32_t v = h_.bits == 16 ? u16(s + 2 * x) : u32(s + 4 * x);
            if (h_.bits == 32 && h_.compression == 0 && !h_.has_alpha_mask) {
              d[x] = v;  // B, G, R and a fourth byte that holds alpha only when some pixel sets it
              any_alpha |= (v >> 24) != 0;
            } else {
              d[x] = bgra(r.get(v, 0), g.get(v, 0), bl.get(v, 0), a.get(v, 255));
            }
            break;
          }
        }
      }
    }
    if (h_.bits == 32 && h_.compression == 0 && !h_.has_alpha_mask && !any_alpha)
      for (uint32_t& w : out_.words) w |= 0xFF000000u;
    return true;
  }

  // Run-length data: runs and literal groups must stay inside their row and its padding (writers
  // pad rows to whole 32-bit words; padding pixels are dropped); unset pixels are transparent.
  bool rle(int bits) {
    const uint8_t* p = b_ + h_.data_at;
    const uint8_t* end = b_ + n_;
    const uint32_t room = static_cast<uint32_t>((static_cast<uint64_t>(h_.width) * bits + 31) / 32 * 32 / bits);
    uint32_t x = 0, y = 0;
    auto put = [&](uint32_t index) {
      if (x < h_.width) row(y)[x] = colour(index);
      x++;
    };
    while (end - p >= 2 && y < h_.height) {
      const uint32_t count = p[0], value = p[1];
      p += 2;
      if (count > 0) {
        if (count > room - x) return false;
        for (uint32_t i = 0; i < count; i++) put(bits == 8 ? value : (i & 1) ? (value & 15) : (value >> 4));
        continue;
      }
      if (value == 0) {
        x = 0;
        y++;
      } else if (value == 1) {
        return true;
      } else if (value == 2) {
        if (end - p < 2) return false;
        if (p[0] > room - x) return false;
        x += p[0];
        y += p[1];
        p += 2;
      } else {
        const size_t bytes = bits == 8 ? value : (value + 1) / 2;
        if (value > room - x || static_cast<size_t>(end - p) < bytes) return false;
        for (uint32_t i = 0; i < value; i++) put(bits == 8 ? p[i] : (i & 1) ? (p[i / 2] & 15) : (p[i / 2] >> 4));
        p += bytes + (bytes & 1);
        if (p > end) p = end;
      }
    }
    return true;  // data ending without the end mark keeps the rows decoded so far
  }

  const uint8_t* b_;
  size_t n_;
  const Header& h_;
  Pixels& out_;
  uint32_t palette_[256] = {};
};

void put16(std::vector<uint8_t>& o, uint32_t v) {
  o.push_back(static_cast<uint8_t>(v));
  o.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& o, uint32_t v) {
  put16(o, v & 0xFFFF);
  put16(o, v >> 16);
}

}  // namespace

bool decode_bmp(const uint8_t* bytes, size_t length, Pixels& out) {
  Header h;
  if (!read_header(bytes, length, h)) return false;
  return Reader(bytes, length, h, out).run();
}

bool encode_bmp(const uint32_t* words, uint32_t width, uint32_t height, std::vector<uint8_t>& out) {
  constexpr uint32_t kHeader = 108;  // the version 4 header carries the alpha mask
  const uint64_t data = static_cast<uint64_t>(width) * height * 4;
  if (data + 14 + kHeader > UINT32_MAX) return false;
  out.clear();
  out.reserve(static_cast<size_t>(data) + 14 + kHeader);
  out.push_back('B');
  out.push_back('M');
  put32(out, static_cast<uint32_t>(data) + 14 + kHeader);
  put32(out, 0);
  put32(out, 14 + kHeader);
  put32(out, kHeader);
  put32(out, width);
  put32(out, height);  // bottom-up
  put16(out, 1);
  put16(out, 32);
  put32(out, 3);  // bit fields
  put32(out, static_cast<uint32_t>(data));
  put32(out, 2835);  // 72 dpi
  put32(out, 2835);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0x00FF0000);
  put32(out, 0x0000FF00);
  put32(out, 0x000000FF);
  put32(out, 0xFF000000);
  put32(out, 0x73524742);  // sRGB colour space
  out.resize(out.size() + 48, 0);  // end points and gamma: unused with sRGB
  for (uint32_t y = height; y-- > 0;) {
    const uint32_t* s = words + static_cast<size_t>(y) * width;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(width) * 4);
    std::memcpy(out.data() + at, s, static_cast<size_t>(width) * 4);  // B, G, R, A words as they are
  }
  return true;
}

}  // namespace zem::imaging::codec
