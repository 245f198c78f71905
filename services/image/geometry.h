// Plane geometry over pixel buffers: 2-D vector helpers, clipped rectangle copies, the warp of an
// image into a quadrilateral with bilinear sampling, resizing through that warp, placing an image
// by one to four points, and YUY2 camera frames to pixels.
//
// Pixels are B, G, R, A words, rows packed. Every function here is pure: buffers in, buffers out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zem::imaging::geometry {

struct Vec2 {
  double x = 0, y = 0;
};

// Four corners in the order top-left, top-right, bottom-right, bottom-left of the source.
struct Quad {
  float x[4] = {0, 0, 0, 0};
  float y[4] = {0, 0, 0, 0};
  Vec2 point(int i) const { return {x[i], y[i]}; }
};

double length(Vec2 v);
// The vector over its length; a zero vector (or one of no finite length) has no direction: nullopt.
std::optional<Vec2> normalize(Vec2 v);
Vec2 between(Vec2 a, Vec2 b);  // b − a
double cross(Vec2 a, Vec2 b);
double dot(Vec2 a, Vec2 b);
bool left_of(Vec2 point, Vec2 start, Vec2 end);
bool outside(Vec2 point, Vec2 start, Vec2 end);
// The distance of the point from the line through start and end; nullopt when they coincide.
std::optional<double> line_distance(Vec2 point, Vec2 start, Vec2 end);
// Rotated by the angle in degrees (π taken as 3.14159265359).
Vec2 rotate(Vec2 v, double degrees);
void mirror_x(Quad& q, float c);
void mirror_y(Quad& q, float c);
// False when the point lies outside any of the four edges.
bool in_quad(const Quad& q, double x, double y);

// The rectangle at x, y of the source, clipped at its right and bottom edges, rows packed with the
// clipped width; false (nothing copied) when x or y is negative or past the source.
bool copy_clipped_rect(std::span<const uint32_t> source, uint32_t source_width, uint32_t source_height, int64_t x,
                       int64_t y, uint32_t width, uint32_t height, std::vector<uint32_t>& out, uint32_t& out_width,
                       uint32_t& out_height);

struct Warp {
  int32_t x = 0, y = 0;
  uint32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;  // width × height; outside the quadrilateral transparent black
};

// The source warped into the quadrilateral, over the quadrilateral's bounding box. False when the
// box is under one pixel a side, its size is above the decoders' cap, or a corner is not finite.
// Pixels whose position weights cannot be formed (a zero-length edge, a point on two opposite
// edges at once) stay transparent.
bool warp_image_quad(std::span<const uint32_t> source, uint32_t width, uint32_t height, const Quad& q, Warp& out);
// The source warped into the rectangle 0, 0 … new_width, new_height; false as above, or when the
// box does not have that size.
bool warp_resize(std::span<const uint32_t> source, uint32_t width, uint32_t height, uint32_t new_width,
                 uint32_t new_height, std::vector<uint32_t>& out);

// The quadrilateral of one to four points placing an image of that size: one point is the top-left
// corner, two are the top-left and bottom-right, three complete a parallelogram, four are the
// corners themselves.
Quad quad_of_points(std::span<const Vec2> points, uint32_t width, uint32_t height);
// The image placed by the points, optionally cropped first (the rectangle is clipped to the image);
// a quadrilateral that runs right to left or bottom to top shows the image mirrored that way.
bool transform(std::span<const uint32_t> source, uint32_t width, uint32_t height, const int64_t* crop,
               std::span<const Vec2> points, Warp& out);

// Nearest-neighbour scaling: target pixel x takes source column (2x + 1) × width / (2 × new width),
// rows alike; false for an empty size.
bool resize_nearest(std::span<const uint32_t> source, uint32_t width, uint32_t height, uint32_t new_width,
                    uint32_t new_height, std::vector<uint32_t>& out);
// The rows in reverse order.
void flip_vertical(std::span<const uint32_t> source, uint32_t width, uint32_t height, std::vector<uint32_t>& out);

// Two pixels from each 4-byte group Y0, U, Y1, V; width × rows pixels, rows unpadded.
void yuy2_to_bgra(uint32_t width, uint32_t rows, std::span<const uint8_t> yuy2, std::span<uint32_t> out);

}  // namespace zem::imaging::geometry
