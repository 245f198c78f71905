// 2-D vector helpers, the quadrilateral warp and YUY2 conversion.
#include "services/image/geometry.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "services/image/codecs.h"

namespace zem::imaging::geometry {

double length(Vec2 v) { return std::sqrt(v.x * v.x + v.y * v.y); }

std::optional<Vec2> normalize(Vec2 v) {
  const double n = length(v);
  if (!(n > 0) || !std::isfinite(n)) return std::nullopt;
  return Vec2{v.x / n, v.y / n};
}

Vec2 between(Vec2 a, Vec2 b) { return {b.x - a.x, b.y - a.y}; }
double cross(Vec2 a, Vec2 b) { return a.x * b.y - a.y * b.x; }
double dot(Vec2 a, Vec2 b) { return a.x * b.x + a.y * b.y; }
bool left_of(Vec2 p, Vec2 s, Vec2 e) { return cross(between(s, p), between(s, e)) < 0; }
bool outside(Vec2 p, Vec2 s, Vec2 e) { return cross(between(s, p), between(s, e)) > 0; }

std::optional<double> line_distance(Vec2 p, Vec2 s, Vec2 e) {
  const std::optional<Vec2> dir = normalize(between(s, e));
  if (!dir) return std::nullopt;
  return std::fabs(cross(between(s, p), *dir));
}

Vec2 rotate(Vec2 v, double degrees) {
  const double a = degrees * 3.14159265359 / 180;
  const double c = std::cos(a), s = std::sin(a);
  return {v.x * c - v.y * s, v.x * s + v.y * c};
}

void mirror_x(Quad& q, float c) {
  for (float& x : q.x) x = 2 * c - x;
}

void mirror_y(Quad& q, float c) {
  for (float& y : q.y) y = 2 * c - y;
}

bool in_quad(const Quad& q, double x, double y) {
  const Vec2 p{x, y};
  for (int i = 0; i < 4; i++)
    if (outside(p, q.point(i), q.point((i + 1) % 4))) return false;
  return true;
}

bool copy_clipped_rect(std::span<const uint32_t> source, uint32_t sw, uint32_t sh, int64_t x, int64_t y,
                       uint32_t width, uint32_t height, std::vector<uint32_t>& out, uint32_t& ow, uint32_t& oh) {
  if (x < 0 || y < 0 || x >= sw || y >= sh || source.size() < static_cast<size_t>(sw) * sh) return false;
  ow = static_cast<uint32_t>(std::min<int64_t>(width, sw - x));
  oh = static_cast<uint32_t>(std::min<int64_t>(height, sh - y));
  out.resize(static_cast<size_t>(ow) * oh);
  for (uint32_t r = 0; r < oh; r++)
    std::copy_n(source.data() + static_cast<size_t>(y + r) * sw + x, ow, out.data() + static_cast<size_t>(r) * ow);
  return true;
}

namespace {

// A sample position that lies within a hair of a whole pixel is that pixel: the weights of an
// unscaled warp must be exactly 1, or truncation takes one off every channel.
double snap(double v) {
  const double r = std::round(v);
  return std::fabs(v - r) < 1e-9 ? r : v;
}

}  // namespace

bool warp_image_quad(std::span<const uint32_t> source, uint32_t width, uint32_t height, const Quad& q, Warp& out) {
  if (source.size() < static_cast<size_t>(width) * height) return false;
  double min_x = FLT_MAX, min_y = FLT_MAX, max_x = -FLT_MAX, max_y = -FLT_MAX;
  for (int i = 0; i < 4; i++) {
    if (!std::isfinite(q.x[i]) || !std::isfinite(q.y[i])) return false;
    min_x = std::min<double>(min_x, q.x[i]);
    min_y = std::min<double>(min_y, q.y[i]);
    max_x = std::max<double>(max_x, q.x[i]);
    max_y = std::max<double>(max_y, q.y[i]);
  }
  const double box_w = std::trunc(max_x - min_x), box_h = std::trunc(max_y - min_y);
  if (box_w < 1 || box_h < 1 || !size_allowed(static_cast<uint64_t>(box_w), static_cast<uint64_t>(box_h)) ||
      std::fabs(min_x) > INT32_MAX || std::fabs(min_y) > INT32_MAX)
    return false;
  out.x = static_cast<int32_t>(min_x);
  out.y = static_cast<int32_t>(min_y);
  out.width = static_cast<uint32_t>(box_w);
  out.height = static_cast<uint32_t>(box_h);
  out.pixels.assign(static_cast<size_t>(out.width) * out.height, 0);
  if (width == 0 || height == 0) return true;
  std::optional<Vec2> edge[4];
  for (int i = 0; i < 4; i++) {
    edge[i] = normalize(between(q.point(i), q.point((i + 1) % 4)));
    if (!edge[i]) return true;  // a zero-length edge: no pixel has weights
  }
  for (uint32_t r = 0; r < out.height; r++) {
    for (uint32_t c = 0; c < out.width; c++) {
      const Vec2 p{static_cast<double>(out.x) + c, static_cast<double>(out.y) + r};
      if (!in_quad(q, p.x, p.y)) continue;
      double d[4];
      for (int k = 0; k < 4; k++) d[k] = std::fabs(cross(between(q.point(k), p), *edge[k]));
      const double u = snap(d[3] / (d[3] + d[1]) * width), v = snap(d[0] / (d[0] + d[2]) * height);
      // On both of two opposite edges at once the weights are 0/0.
      if (!std::isfinite(u) || !std::isfinite(v) || u < 0 || v < 0 || u >= width || v >= height) continue;
      const uint32_t i = static_cast<uint32_t>(u), j = static_cast<uint32_t>(v);
      const uint32_t i1 = i + 1 < width ? i + 1 : i, j1 = j + 1 < height ? j + 1 : j;
      const double fx = std::max(0.0, u - i), fy = std::max(0.0, v - j);
      const uint32_t s00 = source[static_cast<size_t>(j) * width + i], s10 = source[static_cast<size_t>(j) * width + i1];
      const uint32_t s01 = source[static_cast<size_t>(j1) * width + i], s11 = source[static_cast<size_t>(j1) * width + i1];
      uint32_t word = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        const double b = (1 - fx) * (1 - fy) * ((s00 >> shift) & 255) + fx * (1 - fy) * ((s10 >> shift) & 255) +
                         (1 - fx) * fy * ((s01 >> shift) & 255) + fx * fy * ((s11 >> shift) & 255);
        word |= static_cast<uint32_t>(std::clamp(b, 0.0, 255.0)) << shift;
      }
      out.pixels[static_cast<size_t>(r) * out.width + c] = word;
    }
  }
  return true;
}

bool warp_resize(std::span<const uint32_t> source, uint32_t width, uint32_t height, uint32_t new_width,
                 uint32_t new_height, std::vector<uint32_t>& out) {
  Quad q;
  const float w = static_cast<float>(new_width), h = static_cast<float>(new_height);
  q.x[1] = q.x[2] = w;
  q.y[2] = q.y[3] = h;
  Warp warp;
  if (!warp_image_quad(source, width, height, q, warp) || warp.width != new_width || warp.height != new_height)
    return false;
  out = std::move(warp.pixels);
  return true;
}

Quad quad_of_points(std::span<const Vec2> points, uint32_t width, uint32_t height) {
  Quad q;
  auto set = [&](int i, double x, double y) {
    q.x[i] = static_cast<float>(x);
    q.y[i] = static_cast<float>(y);
  };
  const size_t n = std::min<size_t>(points.size(), 4);
  if (n == 0) return q;
  const Vec2 a = points[0];
  if (n == 1) {
    set(0, a.x, a.y);
    set(1, a.x + width, a.y);
    set(2, a.x + width, a.y + height);
    set(3, a.x, a.y + height);
  } else if (n == 2) {
    const Vec2 b = points[1];
    set(0, a.x, a.y);
    set(1, b.x, a.y);
    set(2, b.x, b.y);
    set(3, a.x, b.y);
  } else {
    for (size_t i = 0; i < n; i++) set(static_cast<int>(i), points[i].x, points[i].y);
    if (n == 3) set(3, a.x + points[2].x - points[1].x, a.y + points[2].y - points[1].y);
  }
  return q;
}

bool transform(std::span<const uint32_t> source, uint32_t width, uint32_t height, const int64_t* crop,
               std::span<const Vec2> points, Warp& out) {
  std::vector<uint32_t> cropped;
  if (crop != nullptr) {
    uint32_t cw = 0, ch = 0;
    const uint32_t want_w = static_cast<uint32_t>(std::clamp<int64_t>(crop[2], 0, width));
    const uint32_t want_h = static_cast<uint32_t>(std::clamp<int64_t>(crop[3], 0, height));
    if (!copy_clipped_rect(source, width, height, crop[0], crop[1], want_w, want_h, cropped, cw, ch)) return false;
    source = cropped;
    width = cw;
    height = ch;
  }
  if (points.empty()) return false;
  Quad q = quad_of_points(points, width, height);
  // A quadrilateral wound the other way has every point outside an edge: warp the mirror image of
  // its corners and mirror the result back into the box the corners span.
  const bool flip_x = q.x[0] > q.x[1], flip_y = q.y[1] > q.y[2];
  float min_x = q.x[0], min_y = q.y[0];
  for (int i = 1; i < 4; i++) {
    min_x = std::min(min_x, q.x[i]);
    min_y = std::min(min_y, q.y[i]);
  }
  if (flip_x) mirror_x(q, q.x[0]);
  if (flip_y) mirror_y(q, q.y[0]);
  if (!warp_image_quad(source, width, height, q, out)) return false;
  if (flip_x)
    for (uint32_t r = 0; r < out.height; r++)
      std::reverse(out.pixels.begin() + static_cast<ptrdiff_t>(r) * out.width,
                   out.pixels.begin() + static_cast<ptrdiff_t>(r + 1) * out.width);
  if (flip_y)
    for (uint32_t r = 0; r < out.height / 2; r++)
      std::swap_ranges(out.pixels.begin() + static_cast<ptrdiff_t>(r) * out.width,
                       out.pixels.begin() + static_cast<ptrdiff_t>(r + 1) * out.width,
                       out.pixels.begin() + static_cast<ptrdiff_t>(out.height - 1 - r) * out.width);
  out.x = static_cast<int32_t>(min_x);
  out.y = static_cast<int32_t>(min_y);
  return true;
}

bool resize_nearest(std::span<const uint32_t> source, uint32_t width, uint32_t height, uint32_t new_width,
                    uint32_t new_height, std::vector<uint32_t>& out) {
  if (width == 0 || height == 0 || new_width == 0 || new_height == 0 ||
      source.size() < static_cast<size_t>(width) * height || !size_allowed(new_width, new_height))
    return false;
  std::vector<uint32_t> columns(new_width);
  for (uint32_t x = 0; x < new_width; x++)
    columns[x] = static_cast<uint32_t>((2 * static_cast<uint64_t>(x) + 1) * width / (2 * static_cast<uint64_t>(new_width)));
  out.resize(static_cast<size_t>(new_width) * new_height);
  for (uint32_t y = 0; y < new_height; y++) {
    const uint64_t sy = (2 * static_cast<uint64_t>(y) + 1) * height / (2 * static_cast<uint64_t>(new_height));
    const uint32_t* row = source.data() + sy * width;
    uint32_t* to = out.data() + static_cast<size_t>(y) * new_width;
    for (uint32_t x = 0; x < new_width; x++) to[x] = row[columns[x]];
  }
  return true;
}

void flip_vertical(std::span<const uint32_t> source, uint32_t width, uint32_t height, std::vector<uint32_t>& out) {
  out.resize(static_cast<size_t>(width) * height);
  for (uint32_t y = 0; y < height; y++)
    std::copy_n(source.data() + static_cast<size_t>(height - 1 - y) * width, width,
                out.data() + static_cast<size_t>(y) * width);
}

void yuy2_to_bgra(uint32_t width, uint32_t rows, std::span<const uint8_t> yuy2, std::span<uint32_t> out) {
  const size_t n = std::min({static_cast<size_t>(width) * rows, out.size(), yuy2.size() / 4 * 2});
  auto clamp = [](int v) { return static_cast<uint32_t>(std::clamp(v, 0, 255)); };
  for (size_t k = 0; k < n; k++) {
    const uint8_t* g = yuy2.data() + k / 2 * 4;
    const int y = g[(k & 1) ? 2 : 0], d = g[3] - 128, e = g[1] - 128;
    const uint32_t r = clamp(y + ((d * 91881) >> 16));
    const uint32_t gr = clamp(y - ((d * 46792) >> 16) - ((e * 21889) >> 16));
    const uint32_t b = clamp(y + ((e * 116129) >> 16));
    out[k] = 0xFF000000u | r << 16 | gr << 8 | b;  // bytes B, G, R, A like every store
  }
}

}  // namespace zem::imaging::geometry
