// Triangle rasteriser: one draw call, from a mesh to pixels.
//
// Pipeline per draw: vertices are transformed, given an outcode against the near and far planes
// and a guard band around the target, projected and lit, eight, four or one at a time with the
// same operations, so results do not depend on a vertex's place (vertex.h). Triangles are culled
// (back faces, all outside one plane) and those entirely inside the band are filled directly
// (triangle.cpp). The rest are clipped in camera space, which never divides by a small z, and
// fanned into triangles (clip.cpp). Wireframe and points draw lines and pixels instead
// (line.cpp).
//
// Depth is z' = back / (back - front) * (1 - front / z) * 65535, affine in screen space, so it is
// a float plane; the test is LESS and passing pixels write depth. Gouraud colour is a plane too;
// flat shading uses the average of the vertex colours.
#include "pipeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>

namespace raster {
namespace {

// Targets, meshes and projections the renderer cannot use draw nothing.
bool drawable(const Target& t, const Mesh& m, const Projection& pr) {
    if (!t.pixels || t.width <= 0 || t.height <= 0 || t.width > kMaxSize || t.height > kMaxSize)
        return false;
    if (t.pitch < t.width * bytes_per_pixel(t.format)) return false;
    if (t.depth && t.depth_pitch < t.width) return false;
    if (t.format == Format::Indexed8 && !t.palette) return false;
    if (!m.positions || !m.indices || m.vertex_count == 0 || m.triangle_count == 0) return false;
    if (!(std::isfinite(pr.scale_x) && std::isfinite(pr.scale_y) && std::isfinite(pr.center_x) &&
          std::isfinite(pr.center_y) && std::isfinite(pr.front) && std::isfinite(pr.back)))
        return false;
    return pr.front > 0 && pr.back > pr.front && pr.scale_x != 0 && pr.scale_y != 0;
}

DrawState draw_state(const Target& t, const DrawParams& p, Bounds* drawn) {
    const Projection& pr = p.projection;
    DrawState ds;
    Frustum<1>& v = ds.view;
    v.sx = pr.scale_x;
    v.sy = pr.scale_y;
    v.cx = pr.center_x;
    v.cy = pr.center_y;
    v.front = pr.front;
    v.back = pr.back;
    v.zscale = 65535.0f * pr.back / (pr.back - pr.front);
    v.gx0 = -kGuard;
    v.gx1 = float(t.width) + kGuard;
    v.gy0 = -kGuard;
    v.gy1 = float(t.height) + kGuard;
    v.gx0c = v.gx0 - v.cx;
    v.gx1c = v.gx1 - v.cx;
    v.gy0c = v.gy0 - v.cy;
    v.gy1c = v.gy1 - v.cy;
    v.nsy = -v.sy;
    ds.flip = (pr.scale_x > 0) == (pr.scale_y > 0) ? 1.0f : -1.0f;
    ds.width = t.width;
    ds.height = t.height;
    ds.target = &t;
    ds.span = {&t, t.width};
    ds.gouraud = (p.quality & SHADE_MASK) != SHADE_FLAT;
    ds.fill = pick_fill(t.format, ds.gouraud);
    ds.line = pick_line(t.format);
    ds.drawn = drawn;
    return ds;
}

// Whether every one of n values is below limit, in one pass of a few instructions per four
// values: a float maximum is exact below 2^24 (larger limits answer false), and values with the
// top bit set, negative as float, are caught by an OR.
bool all_below(const uint32_t* v, size_t n, uint32_t limit) {
    if (limit > (1u << 24)) return false;
    __m128 m0 = _mm_setzero_ps(), m1 = m0;
    __m128i top = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i + 4));
        top = _mm_or_si128(top, _mm_or_si128(a, b));
        m0 = _mm_max_ps(m0, _mm_cvtepi32_ps(a));
        m1 = _mm_max_ps(m1, _mm_cvtepi32_ps(b));
    }
    if (_mm_movemask_ps(_mm_castsi128_ps(top))) return false;
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, _mm_max_ps(m0, m1));
    const float most = std::max({lanes[0], lanes[1], lanes[2], lanes[3]});
    if (!(most < float(limit))) return false;
    for (; i < n; ++i)
        if (v[i] >= limit) return false;
    return true;
}

// Flat shading: the average of the three vertex colours.
inline uint32_t average(const Vertex& a, const Vertex& b, const Vertex& c) {
    auto channel = [&](int sh) {
        const uint32_t sum =
            ((a.rgb >> sh) & 0xFF) + ((b.rgb >> sh) & 0xFF) + ((c.rgb >> sh) & 0xFF);
        return ((sum + 1) / 3) << sh;
    };
    return channel(16) | channel(8) | channel(0);
}

// Culls each triangle and hands each front face on, whole or clipped, to the fill, the edges or
// the points. With an edge list (front != null) wireframe only marks the front faces and keeps
// their flat colours.
void draw_faces(const DrawState& ds, const Mesh& m, const Vertex* verts, uint32_t mode,
                uint8_t* front, uint32_t* face_colour) {
    // Locals: stores through the targets' pointers could otherwise alias them.
    const uint32_t* const indices = m.indices;
    const uint32_t triangles = m.triangle_count, nv = m.vertex_count;
    const bool checked = all_below(indices, size_t(triangles) * 3, nv);
    for (uint32_t tri = 0; tri < triangles; ++tri) {
        const uint32_t* ix = indices + size_t(tri) * 3;
        const uint32_t i0 = ix[0], i1 = ix[1], i2 = ix[2];
        if (!checked && (i0 >= nv || i1 >= nv || i2 >= nv)) continue;
        const Vertex& a = verts[i0];
        const Vertex& b = verts[i1];
        const Vertex& c = verts[i2];
        const uint32_t any = a.outcode | b.outcode | c.outcode;
        if ((any & OUT_BAD) || (a.outcode & b.outcode & c.outcode)) continue;
        // Back faces go before any further work. Inside the guard band the snapped screen
        // positions decide, exactly as the fill would; otherwise the camera-space plane does.
        int64_t cross = 0;
        if (any == 0) {
            cross = screen_cross(a, b, c);
            if (cross <= 0) continue;
        } else if (!faces_camera(ds, a, b, c)) {
            continue;
        }
        const uint32_t flat = ds.gouraud ? 0 : average(a, b, c);

        if (mode == FILL_WIREFRAME || mode == FILL_POINTS) {
            const uint32_t* f = ds.gouraud ? nullptr : &flat;
            if (mode == FILL_WIREFRAME && front) {
                front[tri] = 1;
                face_colour[tri] = flat;
            } else if (mode == FILL_WIREFRAME) {
                const uint8_t mask = m.edge_masks ? m.edge_masks[tri] : 7;
                if (mask & 1) draw_edge(ds, a, b, f);
                if (mask & 2) draw_edge(ds, b, c, f);
                if (mask & 4) draw_edge(ds, c, a, f);
            } else {
                draw_points(ds, a, b, c, f);
            }
        } else if (any == 0) {
            ds.fill(ds, a, b, c, cross, flat);
        } else {
            clip_fill(ds, a, b, c, any, flat);
        }
    }
}

// Each listed edge once, in the colour of the first of its faces that faces the camera.
void draw_edge_list(const DrawState& ds, const Mesh& m, const Vertex* verts, const uint8_t* front,
                    const uint32_t* face_colour) {
    for (uint32_t i = 0; i < m.edge_count; ++i) {
        const MeshEdge& e = m.edges[i];
        if (e.a >= m.vertex_count || e.b >= m.vertex_count) continue;
        uint32_t f = kNoFace;
        for (uint32_t g : e.faces)
            if (f == kNoFace && g < m.triangle_count && front[g]) f = g;
        if (f == kNoFace) continue;
        draw_edge(ds, verts[e.a], verts[e.b], ds.gouraud ? nullptr : &face_colour[f]);
    }
}

} // namespace

void Renderer::draw(Target& t, const Mesh& m, const DrawParams& p) {
    if (!drawable(t, m, p.projection)) return;
    Bounds box;
    const DrawState ds = draw_state(t, p, &box);
    if (!ds.fill || !ds.line) return;

    // Vertices: transform, outcode, project, light.
    if (verts_.size() < m.vertex_count) verts_.resize(m.vertex_count);
    transform_vertices(m, p, ds.view, verts_.data());

    // Faces: cull, then fill (clipped where they leave the guard band), outline or dot. A
    // wireframe with an edge list marks its front faces first, then draws each edge once.
    const uint32_t mode = p.quality & FILL_MASK;
    const bool edge_list = mode == FILL_WIREFRAME && m.edges;
    if (edge_list) {
        if (front_.size() < m.triangle_count) {
            front_.resize(m.triangle_count);
            face_colour_.resize(m.triangle_count);
        }
        std::memset(front_.data(), 0, m.triangle_count);
    }
    draw_faces(ds, m, verts_.data(), mode, edge_list ? front_.data() : nullptr,
               face_colour_.data());
    if (edge_list) draw_edge_list(ds, m, verts_.data(), front_.data(), face_colour_.data());

    drawn_ = unite(drawn_, box.rect());
}

Rect Renderer::drawn() const {
    return drawn_;
}

void Renderer::reset_drawn() {
    drawn_ = {0, 0, 0, 0};
}

} // namespace raster
