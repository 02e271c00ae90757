// Wireframe edges and points: 1-pixel lines stepped in 16.16 fixed point with both ends drawn,
// depth-tested per pixel like the fill. Lines are clipped to the target in screen space when
// their ends are inside the guard band, and in camera space (clip.cpp) when not.
#include "pipeline.h"
#include "store.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <tuple>

namespace raster {

// A line as a start and per-pixel steps.
struct LineSteps {
    int32_t x, y, xs, ys; // 16.16 pixels
    float z, zs;
    __m128i c, cs; // 16.16 colour lanes
    int n;         // steps: n + 1 pixels
    int wmax, hmax;
};

namespace {

// Lines whose end pixels are inside the target: positions step linearly, so every pixel is.
template <Format F, bool Depth> void line_inside(const Target& t, const LineSteps& l) {
    // Locals, not reloads: the pixel stores could alias the target's and the steps' fields.
    uint8_t* const pixels = t.pixels;
    uint16_t* const depth = t.depth;
    const size_t pitch = size_t(t.pitch), dpitch = size_t(t.depth_pitch);
    const int32_t xs = l.xs, ys = l.ys;
    const float zs = l.zs;
    const __m128i cs = l.cs;
    const int n = l.n;
    int32_t x = l.x, y = l.y;
    float z = l.z;
    __m128i c = l.c;
    for (int i = 0; i <= n; ++i) {
        const int px = x >> 16, py = y >> 16;
        const __m128i v = _mm_packs_epi32(_mm_srai_epi32(c, 16), _mm_setzero_si128());
        const uint32_t colour = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
        uint8_t* prow = pixels + size_t(py) * pitch;
        if constexpr (Depth && F == Format::XRGB8888) {
            // Selects, not branches: where lines cross or retrace each other (edges shared by
            // two faces) passing and failing alternate unpredictably.
            uint16_t* d = depth + size_t(py) * dpitch + px;
            uint32_t* p = reinterpret_cast<uint32_t*>(prow) + px;
            const int zi = static_cast<int>(z + 0.5f);
            const uint16_t old = *d;
            const uint32_t was = *p;
            const uint32_t keep = uint32_t(zi < (old ^ 0xFFFF)) - 1; // ones where the test fails
            *d = uint16_t((~uint32_t(zi) & ~keep) | (old & keep));
            *p = (colour & ~keep) | (was & keep);
        } else {
            bool pass = true;
            if constexpr (Depth) {
                uint16_t* d = depth + size_t(py) * dpitch + px;
                const int zi = static_cast<int>(z + 0.5f);
                pass = zi < (*d ^ 0xFFFF);
                if (pass) *d = uint16_t(~zi);
            }
            if (pass) store_pixel<F>(t, prow, px, colour);
        }
        x += xs, y += ys, z += zs;
        c = _mm_add_epi32(c, cs);
    }
}

template <Format F> void line_pixels(const Target& t, const LineSteps& l) {
    const int64_t xe = (int64_t(l.x) + int64_t(l.xs) * l.n) >> 16;
    const int64_t ye = (int64_t(l.y) + int64_t(l.ys) * l.n) >> 16;
    if (l.x >= 0 && l.y >= 0 && (l.x >> 16) <= l.wmax && (l.y >> 16) <= l.hmax && xe >= 0 &&
        ye >= 0 && xe <= l.wmax && ye <= l.hmax)
        return t.depth ? line_inside<F, true>(t, l) : line_inside<F, false>(t, l);
    int32_t x = l.x, y = l.y;
    float z = l.z;
    __m128i c = l.c;
    for (int i = 0; i <= l.n; ++i) {
        // Clipping keeps the ends inside; the clamp guards against rounding.
        const int px = std::clamp(x >> 16, 0, l.wmax), py = std::clamp(y >> 16, 0, l.hmax);
        const __m128i v = _mm_packs_epi32(_mm_srai_epi32(c, 16), _mm_setzero_si128());
        plot<F>(t, px, py, z, uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(v, v))));
        x += l.xs, y += l.ys, z += l.zs;
        c = _mm_add_epi32(c, l.cs);
    }
}

// A 1-pixel line between two screen points, clipped to the target, both ends drawn.
void line2d(const DrawState& ds, float X0, float Y0, float X1, float Y1, const float a[4],
            const float b[4]) {
    const float W = float(ds.width), H = float(ds.height);
    const float dx = X1 - X0, dy = Y1 - Y0;
    float sx = X0, sy = Y0, ex = X1, ey = Y1;
    float at[4], bt[4];
    std::memcpy(at, a, sizeof at);
    std::memcpy(bt, b, sizeof bt);
    const bool inside =
        X0 >= 0 && X0 <= W && X1 >= 0 && X1 <= W && Y0 >= 0 && Y0 <= H && Y1 >= 0 && Y1 <= H;
    if (!inside) {
        float t0 = 0, t1 = 1;
        const float p[4] = {-dx, dx, -dy, dy};
        const float q[4] = {X0, W - X0, Y0, H - Y0};
        for (int i = 0; i < 4; ++i) {
            if (p[i] == 0) {
                if (q[i] < 0) return;
                continue;
            }
            const float r = q[i] / p[i];
            if (p[i] < 0)
                t0 = std::max(t0, r);
            else
                t1 = std::min(t1, r);
        }
        if (!(t0 <= t1)) return;
        sx = X0 + dx * t0, sy = Y0 + dy * t0;
        ex = X0 + dx * t1, ey = Y0 + dy * t1;
        for (int i = 0; i < 4; ++i) {
            at[i] = a[i] + (b[i] - a[i]) * t0;
            bt[i] = a[i] + (b[i] - a[i]) * t1;
        }
    }
    const float len = std::max(std::fabs(ex - sx), std::fabs(ey - sy));
    const int steps = static_cast<int>(std::ceil(len));
    const float inv = steps ? 1.0f / float(steps) : 0.0f;
    // Positions in 16.16 fixed point (below 2^14 pixels); colour as 16.16 lanes b, g, r, 0 with
    // half a level added, so truncation rounds and the error over a line stays negligible.
    LineSteps l;
    l.x = int32_t(sx * 65536.0f);
    l.y = int32_t(sy * 65536.0f);
    l.xs = int32_t((ex - sx) * inv * 65536.0f);
    l.ys = int32_t((ey - sy) * inv * 65536.0f);
    l.z = std::clamp(at[0], 0.0f, 65535.0f);
    l.zs = (std::clamp(bt[0], 0.0f, 65535.0f) - l.z) * inv;
    const __m128 c0 = _mm_setr_ps(at[3], at[2], at[1], 0), c1 = _mm_setr_ps(bt[3], bt[2], bt[1], 0);
    const __m128 k = _mm_set1_ps(65536.0f);
    l.c = _mm_add_epi32(_mm_cvtps_epi32(_mm_mul_ps(c0, k)), _mm_set1_epi32(32768));
    l.cs = _mm_cvtps_epi32(_mm_mul_ps(_mm_mul_ps(_mm_sub_ps(c1, c0), _mm_set1_ps(inv)), k));
    l.n = steps;
    l.wmax = ds.width - 1;
    l.hmax = ds.height - 1;
    ds.line(*ds.target, l);
    // The pixels lie between the two ends.
    const int x0 = std::clamp(l.x >> 16, 0, l.wmax), y0 = std::clamp(l.y >> 16, 0, l.hmax);
    const int x1 = std::clamp((l.x + l.xs * steps) >> 16, 0, l.wmax);
    const int y1 = std::clamp((l.y + l.ys * steps) >> 16, 0, l.hmax);
    ds.drawn->add({std::min(x0, x1), std::min(y0, y1), std::max(x0, x1) + 1, std::max(y0, y1) + 1});
}

// Depth and colour of a line end.
inline void line_end(const Vertex& v, const uint32_t* flat, float out[4]) {
    out[0] = v.z;
    unpack_rgb(flat ? *flat : v.rgb, out[1], out[2], out[3]);
}

} // namespace

LineFn pick_line(Format f) {
    switch (f) {
    case Format::Indexed8:
        return line_pixels<Format::Indexed8>;
    case Format::RGB565:
        return line_pixels<Format::RGB565>;
    case Format::RGB888:
        return line_pixels<Format::RGB888>;
    case Format::XRGB8888:
        return line_pixels<Format::XRGB8888>;
    case Format::Count8:
        return line_pixels<Format::Count8>;
    }
    return nullptr;
}

// Lines run from the end with the smaller camera position, so an edge covers the same pixels
// whichever of its triangles draws it.
void draw_edge(const DrawState& ds, const Vertex& a0, const Vertex& b0, const uint32_t* flat) {
    const bool swap = std::tie(b0.cz, b0.cy, b0.cx) < std::tie(a0.cz, a0.cy, a0.cx);
    const Vertex& a = swap ? b0 : a0;
    const Vertex& b = swap ? a0 : b0;
    float va[4], vb[4];
    if ((a.outcode | b.outcode) == 0) {
        line_end(a, flat, va);
        line_end(b, flat, vb);
        line2d(ds, float(a.fx) / 16, float(a.fy) / 16, float(b.fx) / 16, float(b.fy) / 16, va, vb);
        return;
    }
    Vertex s, e;
    if (!clip_segment(ds, a, b, s, e)) return;
    line_end(s, flat, va);
    line_end(e, flat, vb);
    line2d(ds, float(s.fx) / 16, float(s.fy) / 16, float(e.fx) / 16, float(e.fy) / 16, va, vb);
}

// The pixels of a front face's vertices that lie inside the target.
void draw_points(const DrawState& ds, const Vertex& a, const Vertex& b, const Vertex& c,
                 const uint32_t* flat) {
    for (const Vertex* w : {&a, &b, &c}) {
        if (w->outcode) continue;
        const int px = w->fx >> 4, py = w->fy >> 4;
        if (px < 0 || py < 0 || px >= ds.width || py >= ds.height) continue;
        plot(*ds.target, px, py, w->z, flat ? *flat : w->rgb);
        ds.drawn->add({px, py, px + 1, py + 1});
    }
}

void build_edges(const Mesh& m, std::vector<MeshEdge>& out) {
    out.clear();
    if (!m.indices) return;
    // (low vertex, high vertex, triangle, edge) for every allowed edge, sorted.
    struct Item {
        uint32_t lo, hi, tri, k;
        bool operator<(const Item& o) const {
            return std::tie(lo, hi, tri, k) < std::tie(o.lo, o.hi, o.tri, o.k);
        }
    };
    std::vector<Item> items;
    items.reserve(size_t(m.triangle_count) * 3);
    for (uint32_t t = 0; t < m.triangle_count; ++t) {
        const uint32_t* ix = m.indices + size_t(t) * 3;
        if (ix[0] >= m.vertex_count || ix[1] >= m.vertex_count || ix[2] >= m.vertex_count) continue;
        const uint8_t mask = m.edge_masks ? m.edge_masks[t] : 7;
        for (uint32_t k = 0; k < 3; ++k)
            if (mask & (1u << k)) {
                const uint32_t a = ix[k], b = ix[k == 2 ? 0 : k + 1];
                items.push_back({std::min(a, b), std::max(a, b), t, k});
            }
    }
    std::sort(items.begin(), items.end());
    for (size_t i = 0; i < items.size();) {
        const Item& it = items[i];
        const uint32_t* ix = m.indices + size_t(it.tri) * 3;
        MeshEdge e{ix[it.k], ix[it.k == 2 ? 0 : it.k + 1], {it.tri, kNoFace}};
        ++i;
        if (i < items.size() && items[i].lo == it.lo && items[i].hi == it.hi) {
            // The same triangle twice on one edge (a degenerate one) needs no second entry.
            if (items[i].tri != it.tri) e.faces[1] = items[i].tri;
            ++i;
        }
        out.push_back(e);
    }
}

} // namespace raster
