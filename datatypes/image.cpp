// image!: making, pixel access, navigation, comparison, copying, pasting and the text of images.
#include "datatypes/image.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <string>
#include <optional>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_storage.h"
#include "datatypes/tuple.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/ownership.h"
#include "runtime/support.h"
#include "services/image/codecs.h"
#include "services/image/geometry.h"
#include "services/os/files.h"

namespace zem::image {

using imaging::ImageId;
using imaging::PixelHold;
using ownership::Change;
using ownership::ChangeNotice;

namespace {

inline uint32_t width_of(const Cell& img) { return img.image_width(); }
inline uint32_t height_of(const Cell& img) { return img.image_height(); }

Cell image_type_cell() { return datatype_cell(TYPE_IMAGE); }

Cell make_pair(int32_t x, int32_t y) {
  Cell c{};
  c.set_header(TYPE_PAIR);
  c.set_pair_xy(x, y);
  return c;
}

// The stored word of a tuple: opacity 255 − A (255 for a 3-element tuple), R, G, B.
uint32_t tuple_word(const Cell& t) {
  uint32_t a = t.tuple_count() >= 4 ? 255u - t.tuple_at(3) : 255u;
  return a << 24 | static_cast<uint32_t>(t.tuple_at(0)) << 16 | static_cast<uint32_t>(t.tuple_at(1)) << 8 |
         t.tuple_at(2);
}

Cell word_tuple(uint32_t word) {
  uint8_t bytes[4] = {static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 8),
                      static_cast<uint8_t>(word), static_cast<uint8_t>(255u - (word >> 24))};
  return tuple::make(4, bytes);
}

// An image of the rectangle of `img` (clipped by the caller), or one without pixels when empty.
Cell crop_cell(const Cell& img, int64_t x, int64_t y, int64_t w, int64_t h) {
  if (w <= 0 || h <= 0) return make_cell(0, static_cast<uint32_t>(std::max<int64_t>(w, 0)),
                                         static_cast<uint32_t>(std::max<int64_t>(h, 0)));
  ImageId id = imaging::crop(img.image_id(), static_cast<uint32_t>(x), static_cast<uint32_t>(y),
                             static_cast<uint32_t>(w), static_cast<uint32_t>(h));
  return make_cell(id, static_cast<uint32_t>(w), static_cast<uint32_t>(h));
}

Cell copy_whole(const Cell& img) {
  if (pixel_count(img) == 0) return make_cell(0, width_of(img), height_of(img));
  return make_cell(imaging::copy(img.image_id()), width_of(img), height_of(img));
}

// ---- make and to --------------------------------------------------------------------------------

[[noreturn]] void bad_to_arg(const Cell& value) {
  Cell type = image_type_cell();
  fire(Err::script_bad_to_arg, &type, &value);
}

Cell to_image(const Cell& value) {
  if (value.is(TYPE_IMAGE)) return copy_whole(value);
  // A face rendered by the GUI back end: there is none yet.
  if (value.is(TYPE_OBJECT)) fire(Err::internal_not_done);
  bad_to_arg(value);
}

Cell make_from(const Cell& proto, const Cell& spec) {
  if (spec.is(TYPE_BLOCK) && series::head_past_tail(spec)) {
    if (proto.is(TYPE_IMAGE)) return copy_whole(proto);
    fire(Err::script_invalid_arg, &spec);
  }
  Cell size;
  const uint8_t* rgb = nullptr;
  const uint8_t* alpha = nullptr;
  size_t rgb_length = 0, alpha_length = 0;
  std::optional<imaging::Colour> colour;
  if (spec.is(TYPE_PAIR)) {
    size = spec;
    colour = imaging::Colour{};
  } else if (spec.is(TYPE_BLOCK)) {
    SeriesBuffer* b = series_buffer(spec.node());
    const Cell* items = b->cells_head() + std::min(spec.head_index(), b->length());
    const uint32_t n = b->length() - std::min(spec.head_index(), b->length());
    if (!items[0].is(TYPE_PAIR)) fire(Err::script_invalid_arg, &items[0]);
    size = items[0];
    uint32_t i = 1;
    if (i < n && items[i].is(TYPE_BINARY)) {
      rgb = binary::rs_head(items[i]);
      rgb_length = binary::rs_length(items[i]);
      i++;
    } else if (i < n && items[i].is(TYPE_TUPLE)) {
      uint32_t word = tuple_word(items[i]);
      colour = imaging::Colour{static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 8),
                               static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 24)};
      i++;
    } else if (i < n) {
      fire(Err::script_invalid_arg, &items[i]);
    }
    if (i < n) {
      if (!items[i].is(TYPE_BINARY)) fire(Err::script_invalid_arg, &items[i]);
      alpha = binary::rs_head(items[i]);
      alpha_length = binary::rs_length(items[i]);
      i++;
    }
    if (i < n) fire(Err::script_invalid_arg, &items[i]);
    if (!rgb && !alpha && !colour) colour = imaging::Colour{};
  } else {
    return to_image(spec);
  }
  int64_t w = std::max(size.pair_x(), 0), h = std::max(size.pair_y(), 0);
  // The size word holds 16 bits a side.
  if (w > imaging::kMaxSide || h > imaging::kMaxSide) fire(Err::script_invalid_arg, &size);
  // Nothing between here and the store's fill allocates a series: the byte addresses stay good.
  ImageId id = imaging::make_image(static_cast<uint32_t>(w), static_cast<uint32_t>(h), rgb, rgb_length,
                                   alpha, alpha_length, colour);
  return make_cell(id, static_cast<uint32_t>(w), static_cast<uint32_t>(h));
}

Cell* make_handler(ActionCall& call) {
  const Cell proto = call.result();
  const Cell spec = call.arg(1);
  return series::answer(call, make_from(proto, spec));
}

Cell* to_handler(ActionCall& call) {
  const Cell value = call.arg(1);
  return series::answer(call, to_image(value));
}

// ---- form and mold ------------------------------------------------------------------------------

// Both lists cover every pixel of the whole image, as the size says, so the text loads back as the
// same picture whatever the head.
int32_t mold_image(const Cell& img, TextOut& out, bool only, bool flat, const Cell* part, int32_t limit,
                   int32_t indent) {
  auto emit = [&](std::string_view text) {
    out.append_ascii(text);
    limit -= static_cast<int32_t>(text.size());
  };
  auto line = [&](int32_t level) {
    emit("\n");
    limit = mold_indent(out, level, limit);
  };
  if (!only) emit("make image! [");
  emit(integer_to_text(static_cast<int32_t>(width_of(img))));
  emit("x");
  emit(integer_to_text(static_cast<int32_t>(height_of(img))));
  const uint32_t n = pixel_count(img);
  if (img.image_id() == 0 || n == 0 || imaging::record(img.image_id()) == nullptr) {
    emit(" #{}");
    if (!only) emit("]");
    return limit;
  }
  if (part && limit <= 0) return limit;
  // Copied out: the output may run into a collection-free allocation only, but the text is built
  // from a stable copy all the same.
  std::vector<uint32_t> px;
  {
    PixelHold hold(img.image_id());
    px.assign(hold.pixels(), hold.pixels() + n);
  }
  const bool lines = !flat && static_cast<uint64_t>(n) * 4 > 30;
  emit(" #{");
  if (lines) line(indent + 1);
  for (uint32_t i = 0; i < n; i++) {
    uint32_t w = px[i];
    emit(str::byte_to_hex(static_cast<uint8_t>(w >> 16)));
    emit(str::byte_to_hex(static_cast<uint8_t>(w >> 8)));
    emit(str::byte_to_hex(static_cast<uint8_t>(w)));
    if (part && limit <= 0) return limit;
    if (!flat && (i + 1) % 10 == 0) line(indent + 1);
  }
  if (lines && n % 10 != 0) line(indent);
  emit("}");
  const bool translucent = std::any_of(px.begin(), px.end(), [](uint32_t w) { return (w >> 24) != 255; });
  if (translucent) {
    emit(" #{");
    if (!flat) line(indent + 1);
    for (uint32_t i = 0; i < n; i++) {
      emit(str::byte_to_hex(static_cast<uint8_t>(255u - (px[i] >> 24))));
      if (part && limit <= 0) return limit;
      if (!flat && (i + 1) % 10 == 0 && i + 1 < n) line(indent + 1);
    }
    if (!flat) line(indent);
    emit("}");
  }
  if (!only) emit("]");
  return limit;
}

int32_t form_handler(const Cell& value, TextOut& out, const Cell* part, int32_t limit) {
  return mold_image(value, out, false, false, part, limit, 0);
}

int32_t mold_handler(const Cell& value, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                     int32_t indent) {
  return mold_image(value, out, flags.only, flags.flat, part, limit, indent);
}

// ---- Paths --------------------------------------------------------------------------------------

void poke_at(const Cell& img, const Cell& position, const Cell& value) {
  bool out = false;
  uint32_t offset = pixel_index(img, position, 1, &out);
  if (out || offset >= pixel_count(img)) fire(Err::script_out_of_range, &position);
  if (!value.is(TYPE_TUPLE)) fire(Err::script_invalid_arg, &value);
  ChangeNotice notice(img, Change::poke, &value, static_cast<int32_t>(offset), 1);
  if (imaging::record(img.image_id()) == nullptr) fire(Err::script_out_of_range, &position);
  imaging::set_pixel(img.image_id(), offset, tuple_word(value));
  notice.done(img, &value, static_cast<int32_t>(offset), 1);
}

Cell pick_at(const Cell& img, const Cell& position) {
  bool out = false;
  uint32_t offset = pixel_index(img, position, 1, &out);
  if (out) return make_none();
  return pick_pixel(img, offset);
}

Cell* path_handler(PathStep& step) {
  const Cell img = *step.value;
  const Cell element = *step.element;
  Cell result;
  if (element.is(TYPE_PAIR) || element.is(TYPE_INTEGER)) {
    if (step.set_value) {
      poke_at(img, element, *step.set_value);
      result = *step.set_value;
    } else {
      result = pick_at(img, element);
    }
  } else if (series::word_named(element, "size")) {
    if (step.set_value) fire(Err::script_invalid_path, step.path, &element);
    result = make_pair(static_cast<int32_t>(width_of(img)), static_cast<int32_t>(height_of(img)));
  } else {
    int32_t mode = series::word_named(element, "rgb")     ? 1
                   : series::word_named(element, "alpha") ? 0
                   : series::word_named(element, "argb")  ? 2
                                                       : -1;
    if (mode < 0) fire(Err::script_invalid_path, step.path, &element);
    if (step.set_value) {
      set_pixels(img, *step.set_value, mode);
      result = *step.set_value;
    } else {
      result = get_pixels(img, mode);
    }
  }
  *step.value = result;
  return step.value;
}

// ---- compare ------------------------------------------------------------------------------------

int32_t compare_handler(const Cell& a, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_IMAGE)) return kCannotCompare;
  const bool shared = a.image_id() == b.image_id() && a.head_index() == b.head_index();
  if (op == COMP_SAME) return shared ? 0 : -1;
  if (shared && (op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL)) return 0;
  if (op != COMP_EQUAL && op != COMP_NOT_EQUAL && op != COMP_STRICT_EQUAL && op != COMP_SORT &&
      op != COMP_CASE_SORT && op != COMP_FIND)
    return kCannotCompare;
  const uint32_t na = pixel_count(a), nb = pixel_count(b);
  if (na != nb) return na < nb ? -1 : 1;
  if (na == 0) return 0;
  PixelHold ha(a.image_id()), hb(b.image_id());
  if (!ha.pixels() || !hb.pixels()) return ha.pixels() == hb.pixels() ? 0 : ha.pixels() ? 1 : -1;
  int d = std::memcmp(ha.pixels(), hb.pixels(), static_cast<size_t>(na) * 4);
  return d < 0 ? -1 : d > 0 ? 1 : 0;
}

// ---- Navigation ---------------------------------------------------------------------------------

Cell* at_handler(ActionCall& call) {
  Cell& img = call.result();
  img.set_head_index(pixel_index(img, call.arg(1), 1, nullptr));
  return &img;
}

Cell* skip_handler(ActionCall& call) {
  Cell& img = call.result();
  img.set_head_index(pixel_index(img, call.arg(1), 0, nullptr));
  return &img;
}

Cell* next_handler(ActionCall& call) {
  Cell& img = call.result();
  if (img.head_index() + 1 <= pixel_count(img)) img.set_head_index(img.head_index() + 1);
  return &img;
}

Cell* back_handler(ActionCall& call) {
  Cell& img = call.result();
  if (img.head_index() > 0) img.set_head_index(std::min(img.head_index(), pixel_count(img)) - 1);
  return &img;
}

Cell* head_handler(ActionCall& call) {
  call.result().set_head_index(0);
  return &call.result();
}

Cell* tail_handler(ActionCall& call) {
  call.result().set_head_index(pixel_count(call.result()));
  return &call.result();
}

Cell* head_q_handler(ActionCall& call) { return answer_logic(call.result().head_index() == 0); }

Cell* tail_q_handler(ActionCall& call) {
  const Cell& img = call.result();
  return answer_logic(static_cast<uint64_t>(img.head_index()) + 1 > pixel_count(img));
}

Cell* index_q_handler(ActionCall& call) {
  return series::answer(call, make_integer(static_cast<int32_t>(call.result().head_index() + 1)));
}

Cell* length_q_handler(ActionCall& call) {
  return series::answer(call, make_integer(static_cast<int32_t>(pixel_count(call.result()))));
}

Cell* pick_handler(ActionCall& call) {
  const Cell img = call.result();
  const Cell position = call.arg(1);
  if (!position.is(TYPE_INTEGER) && !position.is(TYPE_PAIR)) fire(Err::script_invalid_arg, &position);
  return series::answer(call, pick_at(img, position));
}

Cell* poke_handler(ActionCall& call) {
  const Cell img = call.result();
  const Cell position = call.arg(1);
  const Cell value = call.arg(2);
  if (!position.is(TYPE_INTEGER) && !position.is(TYPE_PAIR)) fire(Err::script_invalid_arg, &position);
  poke_at(img, position, value);
  return series::answer(call, value);
}

// ---- change -------------------------------------------------------------------------------------

enum ChangeRef : uint32_t { CHANGE_PART, CHANGE_ONLY, CHANGE_DUP };

Cell* change_handler(ActionCall& call) {
  if (call.has(CHANGE_PART) || call.has(CHANGE_DUP)) fire(Err::internal_not_done);
  Cell img = call.arg(0);
  const Cell value = call.arg(1);
  const uint32_t n = pixel_count(img);
  if (value.is(TYPE_TUPLE)) {
    ChangeNotice notice(img, Change::change, &value, static_cast<int32_t>(img.head_index()), 1);
    const uint32_t h = img.head_index();  // re-read after the owner's handler
    if (h < n && imaging::record(img.image_id()) != nullptr) {
      imaging::set_pixel(img.image_id(), h, tuple_word(value));
      img.set_head_index(h + 1);
    }
    notice.done(img, &value, static_cast<int32_t>(h), 1);
    return series::answer(call, img);
  }
  if (!value.is(TYPE_IMAGE)) {
    Cell type = datatype_cell(value.type());
    fire(Err::script_invalid_arg, &type);
  }
  const uint32_t h = img.head_index();
  if (h >= n || pixel_count(value) == 0 || imaging::record(img.image_id()) == nullptr)
    return series::answer(call, img);
  const uint32_t w = width_of(img), th = height_of(img);
  const uint32_t x0 = h % w, y0 = h / w;
  const uint32_t sw = width_of(value), sh = height_of(value);
  const uint32_t cols = std::min(sw, w - x0), rows = std::min(sh, th - y0);
  // The source is read first: it may be this very image.
  std::vector<uint32_t> src;
  {
    PixelHold hold(value.image_id());
    if (!hold.pixels()) return series::answer(call, img);
    src.assign(hold.pixels(), hold.pixels() + static_cast<size_t>(sw) * sh);
  }
  {
    PixelHold hold(img.image_id());
    uint32_t* dst = hold.pixels();
    for (uint32_t r = 0; r < rows; r++)
      std::memcpy(dst + static_cast<size_t>(y0 + r) * w + x0, src.data() + static_cast<size_t>(r) * sw,
                  static_cast<size_t>(cols) * 4);
    hold.mark_written();
  }
  img.set_head_index((y0 + rows - 1) * w + std::min(x0 + sw, w));
  ownership::check(img, Change::changed, &value, static_cast<int32_t>(h), static_cast<int32_t>(rows * cols));
  return series::answer(call, img);
}

// ---- copy ---------------------------------------------------------------------------------------

Cell copy_image(const ActionCall& call, const Cell& img, const Cell* part) {
  const int64_t w = width_of(img), h = height_of(img);
  if (w <= 0 || h <= 0) return make_cell(0, width_of(img), height_of(img));
  const int64_t head = std::min<int64_t>(img.head_index(), w * h);
  const int64_t hx = head % w, hy = head / w;
  if (!part) {
    if (head == 0) return copy_whole(img);
    return crop_cell(img, hx, hy, w - hx, h - hy);
  }
  if (part->is(TYPE_INTEGER)) fire(Err::internal_not_done);
  if (part->is(TYPE_PAIR)) {
    const int64_t px = part->pair_x(), py = part->pair_y();
    if (px > 0 && py > 0 && head < w * h)
      return crop_cell(img, hx, hy, std::min(px, w - hx), std::min(py, h - hy));
    if (px < 0 && py < 0 && head > 0) {
      int64_t ex = hx, ey = hy;  // the rectangle ends before column ex, on row ey
      if (ex == 0) {
        ex = w;
        ey--;
      }
      const int64_t x0 = std::max<int64_t>(ex + px, 0), y0 = std::max<int64_t>(ey + py + 1, 0);
      return crop_cell(img, x0, y0, ex - x0, ey + 1 - y0);
    }
    return make_cell(0, 0, 0);
  }
  if (part->is(TYPE_IMAGE) && part->image_id() == img.image_id()) {
    const int64_t other = std::min<int64_t>(part->head_index(), w * h);
    const int64_t a = std::min(head, other), b = std::max(head, other);
    const int64_t ax = a % w, ay = a / w, bx = b % w, by = b / w;
    return crop_cell(img, ax, ay, bx - ax, by - ay);
  }
  series::bad_refine_arg(call, series::COPY_PART, *part);
}

Cell* copy_handler(ActionCall& call) {
  const Cell img = call.result();
  const Cell* part = call.refinement_arg(series::COPY_PART);
  Cell part_value;
  if (part) part_value = *part;
  return series::answer(call, copy_image(call, img, part ? &part_value : nullptr));
}

// ---- The collector ------------------------------------------------------------------------------

void mark_image(const Cell& c) { imaging::mark(c.image_id()); }

}  // namespace

// ---- Public -------------------------------------------------------------------------------------

Cell make_cell(ImageId id, uint32_t width, uint32_t height) {
  Cell c{};
  c.set_header(TYPE_IMAGE);
  c.set_head_index(0);
  c.set_image_id(id);
  c.set_image_size(width, height);
  return c;
}

uint32_t pixel_count(const Cell& image) { return width_of(image) * height_of(image); }

uint32_t pixel_index(const Cell& image, const Cell& position, int base, bool* out_of_range) {
  const int64_t w = width_of(image), h = height_of(image), n = w * h;
  bool out = false;
  int64_t index;
  if (position.is(TYPE_PAIR)) {
    int64_t x = position.pair_x(), y = position.pair_y();
    if (base == 1)
      out = x < 1 || x > w || y < 1 || y > h;
    else
      out = x < 0 || x >= w || y < 0 || y >= h;
    if (base == 1 && y > 0) y--;
    index = y * w + x;
  } else if (position.is(TYPE_INTEGER)) {
    index = position.int_value();
  } else {
    fire(Err::script_invalid_arg, &position);
  }
  if (base == 1 && index <= 0) base = 0;
  int64_t offset = static_cast<int64_t>(image.head_index()) + index - base;
  if (offset < 0) {
    offset = 0;
    out = true;
  } else if (offset >= n) {
    offset = n;
    out = true;
  }
  if (out_of_range) *out_of_range = out;
  return static_cast<uint32_t>(offset);
}

Cell pick_pixel(const Cell& image, uint32_t index) {
  if (index >= pixel_count(image) || imaging::record(image.image_id()) == nullptr) return make_none();
  return word_tuple(imaging::get_pixel(image.image_id(), index));
}

Cell get_pixels(const Cell& image, int32_t mode) {
  const uint32_t n = pixel_count(image);
  const uint32_t per = mode == 0 ? 1 : mode == 1 ? 3 : 4;
  Cell out = binary::make(n * per);
  PixelHold hold(image.image_id());
  if (n == 0 || !hold.pixels()) return out;
  SeriesBuffer* b = series_buffer(out.node());
  uint8_t* dst = b->head_ptr();
  const uint32_t* px = hold.pixels();
  if (mode == 2) {
    std::memcpy(dst, px, static_cast<size_t>(n) * 4);
  } else {
    for (uint32_t i = 0; i < n; i++) {
      uint32_t w = px[i];
      if (mode == 0) {
        dst[i] = static_cast<uint8_t>(255u - (w >> 24));
      } else {
        dst[3 * i] = static_cast<uint8_t>(w >> 16);
        dst[3 * i + 1] = static_cast<uint8_t>(w >> 8);
        dst[3 * i + 2] = static_cast<uint8_t>(w);
      }
    }
  }
  b->tail = b->head + n * per;
  return out;
}

void set_pixels(const Cell& image, const Cell& value, int32_t mode) {
  const uint32_t n = pixel_count(image);
  if (n == 0) return;
  if (!value.is(TYPE_BINARY) && !value.is(TYPE_TUPLE) && !value.is(TYPE_INTEGER))
    fire(Err::script_invalid_arg, &value);
  ChangeNotice notice(image, Change::poke, &value, 0, static_cast<int32_t>(n));
  {
    PixelHold hold(image.image_id());
    uint32_t* px = hold.pixels();
    if (!px) return;
    if (value.is(TYPE_BINARY)) {
      const uint8_t* src = binary::rs_head(value);
      const uint32_t len = binary::rs_length(value);
      if (mode == 2) {
        std::memcpy(px, src, std::min<size_t>(len, static_cast<size_t>(n) * 4));
      } else if (mode == 1) {
        for (uint32_t i = 0; i < std::min(n, len / 3); i++)
          px[i] = (px[i] & 0xFF000000u) | static_cast<uint32_t>(src[3 * i]) << 16 |
                  static_cast<uint32_t>(src[3 * i + 1]) << 8 | src[3 * i + 2];
      } else {
        for (uint32_t i = 0; i < std::min(n, len); i++)
          px[i] = (px[i] & 0x00FFFFFFu) | (255u - src[i]) << 24;
      }
    } else {
      uint32_t v;
      if (value.is(TYPE_INTEGER)) {
        v = static_cast<uint32_t>(value.int_value());
      } else {
        v = static_cast<uint32_t>(value.tuple_at(0)) | static_cast<uint32_t>(value.tuple_at(1)) << 8 |
            static_cast<uint32_t>(value.tuple_at(2)) << 16 |
            (value.tuple_count() >= 4 ? static_cast<uint32_t>(value.tuple_at(3)) << 24 : 0u);
      }
      const uint32_t rgb = (v & 0xFF) << 16 | ((v >> 8) & 0xFF) << 8 | ((v >> 16) & 0xFF);
      for (uint32_t i = 0; i < n; i++) {
        if (mode == 2)
          px[i] = (255u - (v >> 24)) << 24 | rgb;
        else if (mode == 1)
          px[i] = (px[i] & 0xFF000000u) | rgb;
        else
          px[i] = (px[i] & 0x00FFFFFFu) | (255u - (v & 0xFF)) << 24;
      }
    }
    hold.mark_written();
  }
  notice.done(image, &value, 0, static_cast<int32_t>(n));
}

Cell load_binary(const Cell& binary) {
  const uint8_t* bytes = binary::rs_head(binary);
  const size_t length = binary::rs_length(binary);
  if (!imaging::known_format(bytes, length)) return make_none();
  // Decoding reaches no safe point: the bytes stay where they are.
  ImageId id = imaging::load_bytes(bytes, length);
  if (id == 0) fire(Err::access_bad_media);
  const imaging::ImageRecord* rec = imaging::record(id);
  return make_cell(id, rec->width, rec->height);
}

Cell load_file_into(const Cell& file) {
  std::string path;
  ImageId id = files::os_path(file, path) ? imaging::load_file(path) : 0;
  if (id == 0) fire(Err::access_cannot_open, &file);
  const imaging::ImageRecord* rec = imaging::record(id);
  return make_cell(id, rec->width, rec->height);
}

Cell decode(const Cell& value) {
  if (value.is(TYPE_BINARY)) return load_binary(value);
  return load_file_into(value);
}

Cell encode(const Cell& image, int32_t format) {
  if (pixel_count(image) == 0) fire(Err::access_bad_media);
  assert(format >= 0 && format <= 4);  // callers pass the five format codes only
  const std::vector<uint8_t> bytes = imaging::encode(image.image_id(), static_cast<imaging::Format>(format));
  if (bytes.size() > static_cast<size_t>(kMaxSeriesBytes)) fire(Err::internal_no_memory);
  return binary::load(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

Cell push_resized(const Cell& image, int32_t width, int32_t height) {
  const uint32_t w = static_cast<uint32_t>(std::max(width, 0)), h = static_cast<uint32_t>(std::max(height, 0));
  if (w > imaging::kMaxSide || h > imaging::kMaxSide) {
    Cell size = make_pair(width, height);
    fire(Err::script_invalid_arg, &size);
  }
  if (w == 0 || h == 0 || pixel_count(image) == 0 || imaging::record(image.image_id()) == nullptr)
    return make_cell(0, w, h);
  if (!imaging::size_allowed(w, h)) fire(Err::internal_no_memory);
  return make_cell(imaging::resize(image.image_id(), w, h), w, h);
}

Cell transform(const Cell& image, const int64_t* crop, const Cell* points, uint32_t count, Placement& place) {
  place = Placement{};
  if (count < 1 || count > 4) {
    Cell n = make_integer(static_cast<int32_t>(count));
    fire(Err::script_invalid_arg, &n);
  }
  imaging::geometry::Vec2 at[4];
  for (uint32_t i = 0; i < count; i++) {
    if (points[i].is(TYPE_PAIR))
      at[i] = {static_cast<double>(points[i].pair_x()), static_cast<double>(points[i].pair_y())};
    else if (points[i].is(TYPE_POINT2D))
      at[i] = {points[i].point_x(), points[i].point_y()};
    else
      fire(Err::script_invalid_arg, &points[i]);
  }
  if (pixel_count(image) == 0) return make_cell(0, 0, 0);
  imaging::geometry::Warp warp;
  {
    PixelHold hold(image.image_id());
    const imaging::ImageRecord* rec = hold.record();
    if (rec == nullptr) return make_cell(0, 0, 0);
    if (!imaging::geometry::transform(rec->pixels, rec->width, rec->height, crop,
                                      std::span<const imaging::geometry::Vec2>(at, count), warp))
      return make_cell(0, 0, 0);
  }
  place = {warp.x, warp.y, static_cast<int32_t>(warp.width), static_cast<int32_t>(warp.height)};
  return make_cell(imaging::adopt_pixels(warp.width, warp.height, std::move(warp.pixels)), warp.width, warp.height);
}

// ---- Registration -------------------------------------------------------------------------------

void register_image_type() {
  imaging::init();
  HandlerRow row(kEmpty);
  row.set(ActionIndex::make, make_handler)
      .set(ActionIndex::to, to_handler)
      .set(ActionIndex::form, &form_handler)
      .set(ActionIndex::mold, &mold_handler)
      .set(ActionIndex::eval_path, &path_handler)
      .set(ActionIndex::compare, &compare_handler)
      .set(ActionIndex::at, at_handler)
      .set(ActionIndex::back, back_handler)
      .set(ActionIndex::change, change_handler)
      .set(ActionIndex::copy, copy_handler)
      .set(ActionIndex::head, head_handler)
      .set(ActionIndex::head_q, head_q_handler)
      .set(ActionIndex::index_q, index_q_handler)
      .set(ActionIndex::length_q, length_q_handler)
      .set(ActionIndex::next, next_handler)
      .set(ActionIndex::pick, pick_handler)
      .set(ActionIndex::poke, poke_handler)
      .set(ActionIndex::skip, skip_handler)
      .set(ActionIndex::tail, tail_handler)
      .set(ActionIndex::tail_q, tail_q_handler)
      .set(ActionIndex::modify, kInherit);
  register_type(TYPE_IMAGE, TYPE_SERIES, "image!", row);

  gc::set_mark_handler(TYPE_IMAGE, &mark_image);
  FurtherTypeHooks& h = further_type_hooks();
  h.image_get_pixels.fn = &get_pixels;
  h.image_pixel_count.fn = &pixel_count;
  h.image_pick_pixel.fn = &pick_pixel;
}

}  // namespace zem::image
