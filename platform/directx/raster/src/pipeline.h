// What the stages of a draw share: the view every vertex is measured against, the state of one
// draw call, and each stage's entry point. Where each step of a frame lives:
//
//   draw.cpp      Renderer::draw, the whole pipeline at once: check, vertices, faces, bounds
//   vertex.cpp    transform, light, outcode and project every vertex; the arithmetic is in
//                 vertex.h, written once over the lanes of lanes.h (vertex_avx2.cpp: 8 wide)
//   clip.cpp      triangles and edges that leave the guard band, cut in camera space
//   triangle.h    fill: the fill rule, small and large triangles (built twice: triangle.cpp,
//                 triangle_avx2.cpp); span.h shades four-pixel groups, store.h writes one
//                 pixel in each format
//   line.cpp      wireframe edges and points
//   clear.cpp     a rectangle of one colour and depth
#pragma once

#include <raster/raster.h>

#include <cstdint>
#include <immintrin.h>

namespace raster {

using detail::Vertex;

constexpr float kGuard = 8192.0f; // pixels beyond each target edge
constexpr int kMaxSize = 16384;   // larger targets are not drawn into

// Outcode bits: the planes a vertex is outside of, in the order of plane_distances().
enum : uint32_t {
    OUT_NEAR = 1,
    OUT_FAR = 2,
    OUT_LEFT = 4,
    OUT_RIGHT = 8,
    OUT_TOP = 16,
    OUT_BOTTOM = 32,
    OUT_BAD = 1u << 31, // not finite: its triangles are dropped
};

// W float lanes: a float, or an SSE or AVX register of W floats.
template <int W> struct FloatLanes;
template <> struct FloatLanes<1> { using type = float; };
template <> struct FloatLanes<4> { using type = __m128; };
template <> struct FloatLanes<8> { using type = __m256; };
template <int W> using Floats = typename FloatLanes<W>::type;

// Projection and clipping volume of one draw, in W lanes (each value broadcast to all of them).
template <int W> struct Frustum {
    using F = Floats<W>;
    F sx, sy, cx, cy, front, back;
    F zscale;                      // 65535 * back / (back - front)
    F gx0, gx1, gy0, gy1;          // guard band, screen pixels
    F gx0c, gx1c, gy0c, gy1c, nsy; // gx0 - cx, gx1 - cx, gy0 - cy, gy1 - cy, -sy
};

// Signed distances of a camera-space point to the six clipping planes, inside >= 0: near, far,
// and the planes through the eye and the guard band's left, right, top and bottom edges.
template <int W, class F = Floats<W>>
inline void plane_distances(const Frustum<W>& v, F x, F y, F z, F d[6]) {
    d[0] = z - v.front;
    d[1] = v.back - z;
    d[2] = v.sx * x - v.gx0c * z;
    d[3] = v.gx1c * z - v.sx * x;
    d[4] = v.nsy * y - v.gy0c * z;
    d[5] = v.gy1c * z + v.sy * y;
}

struct DrawState;

// Fills a projected front face (cross = screen_cross(a, b, c) > 0) in one colour (flat) or
// interpolating the vertex colours.
using TriFn = void (*)(const DrawState&, const Vertex&, const Vertex&, const Vertex&, int64_t,
                       uint32_t flat);

struct LineSteps;
using LineFn = void (*)(const Target&, const LineSteps&);

// The target's row width, handed to the pixel loops by value: stores through the target's
// pointers could otherwise alias it.
struct Span {
    const Target* t;
    int width;
};

// Everything one draw call needs, built once per call.
struct DrawState {
    Frustum<1> view;
    float flip; // +1, or -1 when the projection mirrors the picture
    int width, height;
    const Target* target;
    Span span;
    TriFn fill;
    LineFn line;
    bool gouraud;
    Bounds* drawn; // grows over the pixels written
};

// A vertex colour from channels in 0..255, and back.
inline uint32_t pack_rgb(float r, float g, float b) {
    return (uint32_t(r + 0.5f) << 16) | (uint32_t(g + 0.5f) << 8) | uint32_t(b + 0.5f);
}

inline void unpack_rgb(uint32_t c, float& r, float& g, float& b) {
    r = float((c >> 16) & 0xFF);
    g = float((c >> 8) & 0xFF);
    b = float(c & 0xFF);
}

// Twice the signed screen area in 1/256 pixel^2: positive for front faces. Snapped coordinates
// stay below 2^19 units, so it needs 64 bits.
inline int64_t screen_cross(const Vertex& a, const Vertex& b, const Vertex& c) {
    return int64_t(b.fx - a.fx) * (c.fy - a.fy) - int64_t(b.fy - a.fy) * (c.fx - a.fx);
}

// vertex.cpp: every vertex of the mesh into out (vertex_count records).
void transform_vertices(const Mesh&, const DrawParams&, const Frustum<1>&, Vertex* out);

// clip.cpp
bool faces_camera(const DrawState&, const Vertex& a, const Vertex& b, const Vertex& c);
// Clips a triangle against the planes in `planes` (outcode bits) and fills what is left.
void clip_fill(const DrawState&, const Vertex& a, const Vertex& b, const Vertex& c, uint32_t planes,
               uint32_t flat);
// The part of a segment inside every plane, as projected vertices; false when none is.
bool clip_segment(const DrawState&, const Vertex& a, const Vertex& b, Vertex& s, Vertex& e);

// triangle.cpp: the fill for a target's format and shading; triangle_avx2.cpp: the same built
// for AVX2.
TriFn pick_fill(Format, bool gouraud);
TriFn pick_fill_avx2(Format, bool gouraud);

// line.cpp
LineFn pick_line(Format);
// An edge between two vertices (flat: its colour, or null to blend the vertex colours).
void draw_edge(const DrawState&, const Vertex& a, const Vertex& b, const uint32_t* flat);
void draw_points(const DrawState&, const Vertex& a, const Vertex& b, const Vertex& c,
                 const uint32_t* flat);

} // namespace raster
