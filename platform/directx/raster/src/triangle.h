// Triangle fill, built twice: for the x86-64 baseline (triangle.cpp) and for AVX2
// (triangle_avx2.cpp), which also shades the rows of narrow boxes two groups at a time.
//
// Half-space edge functions over vertices snapped to 1/16 pixel (28.4 fixed point), sampled at
// pixel centres (x + 0.5, y + 0.5), with the top-left rule as an integer bias, so triangles
// sharing an edge cover each pixel exactly once. Precision and range: the guard band keeps
// snapped coordinates below 2^19 units, so edge deltas fit 21 bits and an edge function (a cross
// product of two deltas) fits 42 bits; the cross product and large triangles are set up in 64
// bits. Triangles at most 64 pixels across are set up in 32 bits: their deltas are below 2^11
// and edge values over the box below 2^22, so the products can even go through float (exact
// below 2^24). Larger triangles go per 8x8 block and only test blocks an edge crosses, where the
// value never exceeds the change across one block (< 2^29).
//
// Small triangles are where the time goes on dense meshes, and there mispredicted branches cost
// more than arithmetic: narrow boxes shade every four-pixel group of their rows (boxes of at
// most 4x4 a fixed 4x4 block), writing uncovered pixels back unchanged, instead of branching on
// coverage.
//
// Depth and colour are planes through the snapped vertices: depth a float plane, Gouraud colour
// stepped in 8.8 fixed point (see Quad in span.h); flat shading takes one colour throughout.
#pragma once

#include "span.h"

#include <algorithm>
#include <type_traits>

namespace raster {
namespace {

constexpr int kSmall = 64; // triangles at most this many pixels across skip the blocks

// ---------------------------------------------------------------------------------------------
// The fill rule

// Bias of an edge function running (dx, dy) between snapped vertices. Top-left rule on a y-down
// screen with clockwise front faces: a pixel centre exactly on a left edge (running up) or a
// top edge (running right) is inside, on any other edge outside, so two triangles sharing an
// edge never both cover a centre on it. A pixel is covered where every edge value is >= 0; the
// bias of -1 makes that > 0 on the edges that must not own the centres lying on them.
inline int64_t edge_bias(int64_t dx, int64_t dy) {
    return dy < 0 || (dy == 0 && dx > 0) ? 0 : -1;
}

// ---------------------------------------------------------------------------------------------
// Large triangles

// Per-triangle set-up shared by the pixel loops.
struct Tri {
    // Edge functions at the origin pixel (ox, oy), bias included, and steps per pixel.
    int64_t e0[3];
    int32_t dex[3], dey[3];
    // Attribute planes: value at the origin pixel's centre and gradients per pixel.
    float z0, zdx, zdy;
    float r0, rdx, rdy, g0, gdx, gdy, b0, bdx, bdy;
    // Colour steps in 8.8 fixed point, as 16-bit lanes b, g, r, 0 of two pixels.
    __m128i cx4, cy;
    int ox, oy;
    uint32_t flat; // packed colour when not interpolating
};

template <bool Gouraud> inline void step_right(Quad& q, const QuadStep& st, const Tri& s) {
    q.z = _mm_add_ps(q.z, st.zx);
    if constexpr (Gouraud) {
        q.c01 = _mm_add_epi16(q.c01, s.cx4);
        q.c23 = _mm_add_epi16(q.c23, s.cx4);
    }
}

template <bool Gouraud> inline void step_down(Quad& q, const QuadStep& st, const Tri& s) {
    q.z = _mm_add_ps(q.z, st.zy);
    if constexpr (Gouraud) {
        q.c01 = _mm_add_epi16(q.c01, s.cy);
        q.c23 = _mm_add_epi16(q.c23, s.cy);
    }
}

// Four values as 8.8 fixed point plus half a level, each reduced modulo 2^16 and sign-extended
// to 32 bits (so a saturating pack keeps them exact).
inline __m128i fixed88(__m128 v) {
    const __m128i f =
        _mm_add_epi32(_mm_cvtps_epi32(_mm_mul_ps(v, _mm_set1_ps(256.0f))), _mm_set1_epi32(128));
    return _mm_srai_epi32(_mm_slli_epi32(f, 16), 16);
}

// Values at pixels x..x+3 of row y.
template <bool Gouraud> inline Quad quad_at(const Tri& s, int x, int y) {
    const float fx = float(x - s.ox), fy = float(y - s.oy);
    Quad q;
    q.z = _mm_add_ps(_mm_set1_ps(s.z0 + s.zdx * fx + s.zdy * fy),
                     _mm_mul_ps(_mm_set1_ps(s.zdx), lanes()));
    if constexpr (Gouraud) {
        const __m128 l = lanes();
        const __m128i b = fixed88(_mm_add_ps(_mm_set1_ps(s.b0 + s.bdx * fx + s.bdy * fy),
                                             _mm_mul_ps(_mm_set1_ps(s.bdx), l)));
        const __m128i g = fixed88(_mm_add_ps(_mm_set1_ps(s.g0 + s.gdx * fx + s.gdy * fy),
                                             _mm_mul_ps(_mm_set1_ps(s.gdx), l)));
        const __m128i r = fixed88(_mm_add_ps(_mm_set1_ps(s.r0 + s.rdx * fx + s.rdy * fy),
                                             _mm_mul_ps(_mm_set1_ps(s.rdx), l)));
        const __m128i bg = _mm_packs_epi32(b, g);                       // b0..b3 g0..g3
        const __m128i r0 = _mm_packs_epi32(r, _mm_setzero_si128());     // r0..r3 0..0
        const __m128i br = _mm_unpacklo_epi16(bg, r0);                  // b0 r0 b1 r1 ..
        const __m128i g0 = _mm_unpackhi_epi16(bg, _mm_setzero_si128()); // g0 0 g1 0 ..
        q.c01 = _mm_unpacklo_epi16(br, g0);
        q.c23 = _mm_unpackhi_epi16(br, g0);
    } else {
        q.c01 = q.c23 = _mm_setzero_si128();
    }
    return q;
}

inline __m128i edge_mask(__m128i e0, __m128i e1, __m128i e2) {
    // Inside where no edge function is negative.
    return _mm_cmpgt_epi32(_mm_or_si128(_mm_or_si128(e0, e1), e2), _mm_set1_epi32(-1));
}

// Edge values of pixels x..x+3 of row y (32-bit: callers ensure they fit).
inline __m128i edge_at(const Tri& s, int k, int x, int y) {
    const int32_t base =
        int32_t(s.e0[k] + int64_t(s.dex[k]) * (x - s.ox) + int64_t(s.dey[k]) * (y - s.oy));
    return _mm_add_epi32(_mm_set1_epi32(base),
                         _mm_setr_epi32(0, s.dex[k], 2 * s.dex[k], 3 * s.dex[k]));
}

// Pixels of rows y0..y1, groups of four from x0 to x1, edge-tested. OneGroup: x1 < x0 + 4.
template <Format F, bool Gouraud, bool OneGroup = false, bool Fast = false>
inline void fill_rows(const Tri& s, const Span& sp, const QuadStep& st, int x0, int x1, int y0,
                      int y1) {
    const Target& t = *sp.t;
    __m128i er0 = edge_at(s, 0, x0, y0), er1 = edge_at(s, 1, x0, y0), er2 = edge_at(s, 2, x0, y0);
    const __m128i ex0 = _mm_set1_epi32(4 * s.dex[0]), ex1 = _mm_set1_epi32(4 * s.dex[1]),
                  ex2 = _mm_set1_epi32(4 * s.dex[2]);
    const __m128i ey0 = _mm_set1_epi32(s.dey[0]), ey1 = _mm_set1_epi32(s.dey[1]),
                  ey2 = _mm_set1_epi32(s.dey[2]);
    Quad qr = quad_at<Gouraud>(s, x0, y0);
    uint8_t* row = t.pixels + size_t(y0) * size_t(t.pitch);
    uint16_t* zrow = t.depth ? t.depth + size_t(y0) * size_t(t.depth_pitch) : nullptr;
    for (int y = y0; y <= y1; ++y) {
        if constexpr (OneGroup) {
            const __m128i in = edge_mask(er0, er1, er2);
            if (_mm_movemask_epi8(in)) shade4<F, Gouraud, Fast>(s.flat, sp, row, zrow, x0, qr, in);
        }
        __m128i e0 = er0, e1 = er1, e2 = er2;
        Quad q = qr;
        bool seen = false;
        for (int x = x0; !OneGroup && x <= x1; x += 4) {
            const __m128i in = edge_mask(e0, e1, e2);
            if (_mm_movemask_epi8(in)) {
                shade4<F, Gouraud, Fast>(s.flat, sp, row, zrow, x, q, in);
                seen = true;
            } else if (seen) {
                break; // a triangle's pixels in a row are contiguous
            }
            e0 = _mm_add_epi32(e0, ex0);
            e1 = _mm_add_epi32(e1, ex1);
            e2 = _mm_add_epi32(e2, ex2);
            step_right<Gouraud>(q, st, s);
        }
        er0 = _mm_add_epi32(er0, ey0);
        er1 = _mm_add_epi32(er1, ey1);
        er2 = _mm_add_epi32(er2, ey2);
        step_down<Gouraud>(qr, st, s);
        row += t.pitch;
        if (zrow) zrow += t.depth_pitch;
    }
}

inline QuadStep quad_step(const Tri& s) {
    return {_mm_set1_ps(4 * s.zdx), _mm_set1_ps(s.zdy)};
}

template <Format F, bool Gouraud>
void fill_large(const Tri& s, const Span& sp, int minx, int miny, int maxx, int maxy) {
    const Target& t = *sp.t;
    const QuadStep st = quad_step(s);

    // 8x8 blocks: reject blocks outside an edge, fill blocks inside all edges without tests,
    // and test pixels only in blocks an edge crosses.
    const int bx0 = minx & ~7, by0 = miny & ~7;
    const __m128i all = _mm_set1_epi32(-1);
    for (int by = by0; by <= maxy; by += 8) {
        const int ylo = std::max(by, miny), yhi = std::min(by + 7, maxy);
        for (int bx = bx0; bx <= maxx; bx += 8) {
            bool reject = false, accept = true;
            for (int k = 0; k < 3; ++k) {
                const int64_t e =
                    s.e0[k] + int64_t(s.dex[k]) * (bx - s.ox) + int64_t(s.dey[k]) * (by - s.oy);
                const int64_t ax = int64_t(s.dex[k]) * 7, ay = int64_t(s.dey[k]) * 7;
                reject |= e + std::max<int64_t>(ax, 0) + std::max<int64_t>(ay, 0) < 0;
                accept &= e + std::min<int64_t>(ax, 0) + std::min<int64_t>(ay, 0) >= 0;
            }
            if (reject) continue;
            const int xlo = std::max(bx, minx & ~3), xhi = std::min(bx + 7, maxx);
            if (!accept) {
                // A crossing edge stays within the block's range of values: fits 32 bits.
                fill_rows<F, Gouraud>(s, sp, st, xlo, xhi, ylo, yhi);
                continue;
            }
            Quad qr = quad_at<Gouraud>(s, xlo, ylo);
            uint8_t* row = t.pixels + size_t(ylo) * size_t(t.pitch);
            uint16_t* zrow = t.depth ? t.depth + size_t(ylo) * size_t(t.depth_pitch) : nullptr;
            for (int y = ylo; y <= yhi; ++y) {
                Quad q = qr;
                for (int x = xlo; x <= xhi; x += 4) {
                    shade4<F, Gouraud>(s.flat, sp, row, zrow, x, q, all);
                    step_right<Gouraud>(q, st, s);
                }
                step_down<Gouraud>(qr, st, s);
                row += t.pitch;
                if (zrow) zrow += t.depth_pitch;
            }
        }
    }
}

using LargeFn = void (*)(const Tri&, const Span&, int, int, int, int);

// Set-up of a triangle more than kSmall pixels across, in 64 bits; box: its pixels. `large` is
// fill_large for the target's format and shading.
[[gnu::noinline]] void fill_large_triangle(const DrawState& ds, const Vertex& a, const Vertex& b,
                                           const Vertex& c, int minx, int miny, int maxx, int maxy,
                                           int64_t cross, uint32_t flat, LargeFn large) {
    const int64_t x0 = a.fx, y0 = a.fy, x1 = b.fx, y1 = b.fy, x2 = c.fx, y2 = c.fy;

    Tri s;
    s.ox = minx;
    s.oy = miny;
    const int64_t px = int64_t(minx) * 16 + 8, py = int64_t(miny) * 16 + 8;
    const int64_t ux[3] = {x0, x1, x2}, uy[3] = {y0, y1, y2};
    for (int k = 0; k < 3; ++k) {
        const int j = k == 2 ? 0 : k + 1;
        const int64_t dx = ux[j] - ux[k], dy = uy[j] - uy[k];
        s.e0[k] = dx * (py - uy[k]) - dy * (px - ux[k]) + edge_bias(dx, dy);
        s.dex[k] = int32_t(-dy * 16);
        s.dey[k] = int32_t(dx * 16);
    }

    // Planes through the snapped vertices, anchored at the origin pixel's centre; depth and the
    // three channels at once.
    const float dX1 = float(x1 - x0) / 16, dY1 = float(y1 - y0) / 16;
    const float dX2 = float(x2 - x0) / 16, dY2 = float(y2 - y0) / 16;
    const float inv = 1.0f / (float(cross) / 256);
    const float ax = float(minx) + 0.5f - float(x0) / 16, ay = float(miny) + 0.5f - float(y0) / 16;
    const __m128 A0 = attributes(a.rgb, a.z);
    const __m128 d1 = _mm_sub_ps(attributes(b.rgb, b.z), A0);
    const __m128 d2 = _mm_sub_ps(attributes(c.rgb, c.z), A0);
    const __m128 vinv = _mm_set1_ps(inv);
    const __m128 ddx = _mm_mul_ps(
        _mm_sub_ps(_mm_mul_ps(d1, _mm_set1_ps(dY2)), _mm_mul_ps(d2, _mm_set1_ps(dY1))), vinv);
    const __m128 ddy = _mm_mul_ps(
        _mm_sub_ps(_mm_mul_ps(d2, _mm_set1_ps(dX1)), _mm_mul_ps(d1, _mm_set1_ps(dX2))), vinv);
    const __m128 at = _mm_add_ps(
        A0, _mm_add_ps(_mm_mul_ps(ddx, _mm_set1_ps(ax)), _mm_mul_ps(ddy, _mm_set1_ps(ay))));
    alignas(16) float v0[4], vx[4], vy[4];
    _mm_store_ps(v0, at);
    _mm_store_ps(vx, ddx);
    _mm_store_ps(vy, ddy);
    s.z0 = v0[3], s.zdx = vx[3], s.zdy = vy[3];
    s.r0 = v0[2], s.rdx = vx[2], s.rdy = vy[2];
    s.g0 = v0[1], s.gdx = vx[1], s.gdy = vy[1];
    s.b0 = v0[0], s.bdx = vx[0], s.bdy = vy[0];
    s.flat = flat;
    if (ds.gouraud) {
        // More than 64 levels per pixel only happens across slivers: there the fixed-point steps
        // would lose too much, and the average colour is as good.
        const __m128 lim = _mm_set1_ps(64.0f);
        const __m128 absmask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        const __m128 big = _mm_or_ps(_mm_cmpgt_ps(_mm_and_ps(ddx, absmask), lim),
                                     _mm_cmpgt_ps(_mm_and_ps(ddy, absmask), lim));
        if (_mm_movemask_ps(big) & 7) {
            const float third = 1.0f / 3;
            s.r0 = (float((a.rgb >> 16) & 255) + float((b.rgb >> 16) & 255) +
                    float((c.rgb >> 16) & 255)) *
                   third;
            s.g0 = (float((a.rgb >> 8) & 255) + float((b.rgb >> 8) & 255) +
                    float((c.rgb >> 8) & 255)) *
                   third;
            s.b0 = (float(a.rgb & 255) + float(b.rgb & 255) + float(c.rgb & 255)) * third;
            s.rdx = s.rdy = s.gdx = s.gdy = s.bdx = s.bdy = 0;
        }
        auto step = [](float d) {
            return int16_t(uint16_t(_mm_cvtss_si32(_mm_set_ss(d * 256.0f))));
        };
        const int16_t bx = step(4 * s.bdx), gx = step(4 * s.gdx), rx = step(4 * s.rdx);
        const int16_t by = step(s.bdy), gy = step(s.gdy), ry = step(s.rdy);
        s.cx4 = _mm_setr_epi16(bx, gx, rx, 0, bx, gx, rx, 0);
        s.cy = _mm_setr_epi16(by, gy, ry, 0, by, gy, ry, 0);
    } else {
        s.cx4 = s.cy = _mm_setzero_si128();
    }
    large(s, ds.span, minx, miny, maxx, maxy);
}

// ---------------------------------------------------------------------------------------------
// Small triangles

// A triangle at most kSmall pixels across, set up straight from its vertices: edge values over
// its box stay below 2^22, so everything runs in 32 bits.
struct SmallTri {
    __m128i er[3];   // edge values of the first four pixels of the top row
    __m128i ex[3];   // steps four pixels right
    __m128i ey[3];   // steps one row down
    Quad q;          // attributes of the first four pixels of the top row
    QuadStep st;     // z steps
    __m128i cx4, cy; // colour steps (see Quad)
};

// Rows of a small triangle: in each row, groups of four from the first one with a covered pixel
// to the last (a triangle's pixels in a row are contiguous). Fast: no group crosses the right
// edge of the target and there is a depth buffer. Dense (narrow boxes, Fast only): every group
// of the box is shaded, empty ones written back unchanged, since on narrow triangles the
// branches on coverage mispredict so often that they cost more than the groups they skip.
template <Format F, bool Gouraud, bool Fast, bool Dense = false>
inline void small_rows(const SmallTri& s, const Span& sp, uint32_t flat, int minx, int miny,
                       int maxx, int maxy) {
    static_assert(Fast || !Dense, "dense rows write whole groups: fast path only");
    const Target& t = *sp.t;
    __m128i er0 = s.er[0], er1 = s.er[1], er2 = s.er[2];
    // Colour of pixels 0-1 only; pixels 2-3 are two steps on (c2), added when shading.
    __m128 zr = s.q.z;
    __m128i cr = s.q.c01;
    const __m128i c2 = _mm_sub_epi16(s.q.c23, s.q.c01);
    uint8_t* row = t.pixels + size_t(miny) * size_t(t.pitch);
    uint16_t* zrow = t.depth ? t.depth + size_t(miny) * size_t(t.depth_pitch) : nullptr;
    const int last = minx + ((maxx - minx) & ~3); // left pixel of the last group
    // Lanes where no edge value is negative: the sign bits of the OR.
    auto outside = [](__m128i e) { return _mm_movemask_ps(_mm_castsi128_ps(e)); };
    for (int y = miny; y <= maxy; ++y) {
        __m128i e0 = er0, e1 = er1, e2 = er2;
        Quad q;
        q.z = zr;
        q.c01 = cr;
        int x = minx;
        __m128i in = _mm_or_si128(_mm_or_si128(e0, e1), e2);
        for (;;) {
            const bool any = Dense || outside(in) != 15;
            if (any) {
                if constexpr (Gouraud) q.c23 = _mm_add_epi16(q.c01, c2);
                shade4<F, Gouraud, Fast, Fast>(flat, sp, row, zrow, x, q,
                                               Fast ? _mm_srai_epi32(in, 31)
                                                    : _mm_cmpgt_epi32(in, _mm_set1_epi32(-1)));
            }
            if (x == last) break;
            e0 = _mm_add_epi32(e0, s.ex[0]);
            e1 = _mm_add_epi32(e1, s.ex[1]);
            e2 = _mm_add_epi32(e2, s.ex[2]);
            q.z = _mm_add_ps(q.z, s.st.zx);
            if constexpr (Gouraud) q.c01 = _mm_add_epi16(q.c01, s.cx4);
            x += 4;
            in = _mm_or_si128(_mm_or_si128(e0, e1), e2);
            if (!Dense && any && outside(in) == 15) break;
        }
        er0 = _mm_add_epi32(er0, s.ey[0]);
        er1 = _mm_add_epi32(er1, s.ey[1]);
        er2 = _mm_add_epi32(er2, s.ey[2]);
        zr = _mm_add_ps(zr, s.st.zy);
        if constexpr (Gouraud) cr = _mm_add_epi16(cr, s.cy);
        row += t.pitch;
        if (Fast || zrow) zrow += t.depth_pitch;
    }
}

// A box of at most 4x4 pixels, all inside the target, with a depth buffer: the 4x4 block from
// its top-left pixel without a branch on coverage. Rows and pixels past the box are outside the
// triangle (their masks are empty) and are written back unchanged; not testing them saves the
// mispredicted branches that dominate on tiny triangles.
template <Format F, bool Gouraud>
inline void block4(const SmallTri& s, const Span& sp, uint32_t flat, int x, int y) {
    const Target& t = *sp.t;
    __m128i e0 = s.er[0], e1 = s.er[1], e2 = s.er[2];
    Quad q = s.q;
    const __m128i c2 = _mm_sub_epi16(s.q.c23, s.q.c01);
    uint8_t* row = t.pixels + size_t(y) * size_t(t.pitch);
    uint16_t* zrow = t.depth + size_t(y) * size_t(t.depth_pitch);
    for (int i = 0; i < 4; ++i) {
        const __m128i in = _mm_or_si128(_mm_or_si128(e0, e1), e2);
        if constexpr (Gouraud) q.c23 = _mm_add_epi16(q.c01, c2);
        shade4<F, Gouraud, true, true>(flat, sp, row, zrow, x, q, _mm_srai_epi32(in, 31));
        e0 = _mm_add_epi32(e0, s.ey[0]);
        e1 = _mm_add_epi32(e1, s.ey[1]);
        e2 = _mm_add_epi32(e2, s.ey[2]);
        q.z = _mm_add_ps(q.z, s.st.zy);
        if constexpr (Gouraud) q.c01 = _mm_add_epi16(q.c01, s.cy);
        row += t.pitch;
        zrow += t.depth_pitch;
    }
}

#ifdef __AVX2__
// small_rows<XRGB8888, Gouraud, true, true> two groups at a time: the same groups of four from
// minx, each value stepped from its left neighbour's as there, so every pixel and depth comes
// out bit for bit the same. A row's last pair may hold a group past the four-wide loop's last
// (outside the triangle: written back unchanged); the caller keeps it inside the target.
// Wider boxes stay four-wide: there skipping empty groups pays more than wider ones.
template <bool Gouraud>
inline void dense_rows8(const SmallTri& s, const Span& sp, uint32_t flat, int minx, int miny,
                        int maxx, int maxy) {
    const Target& t = *sp.t;
    auto pair = [](__m128i lo, __m128i hi) { return _mm256_set_m128i(hi, lo); };
    auto both = [](__m128i v) { return _mm256_broadcastsi128_si256(v); };
    __m128i er0 = s.er[0], er1 = s.er[1], er2 = s.er[2];
    __m128 zr = s.q.z;
    __m128i cr = s.q.c01;
    const __m256i c2 = both(_mm_sub_epi16(s.q.c23, s.q.c01));
    const __m256i ex0 = both(_mm_slli_epi32(s.ex[0], 1)), ex1 = both(_mm_slli_epi32(s.ex[1], 1)),
                  ex2 = both(_mm_slli_epi32(s.ex[2], 1));
    const __m256i cx8 = both(_mm_add_epi16(s.cx4, s.cx4));
    const __m256 zx = _mm256_set_m128(s.st.zx, s.st.zx);
    const __m256 zx_high = _mm256_set_m128(s.st.zx, _mm_setzero_ps());
    const int pairs = ((maxx - minx) >> 3) + 1;
    uint8_t* row = t.pixels + size_t(miny) * size_t(t.pitch);
    uint16_t* zrow = t.depth + size_t(miny) * size_t(t.depth_pitch);
    for (int y = miny; y <= maxy; ++y) {
        __m256i e0 = pair(er0, _mm_add_epi32(er0, s.ex[0]));
        __m256i e1 = pair(er1, _mm_add_epi32(er1, s.ex[1]));
        __m256i e2 = pair(er2, _mm_add_epi32(er2, s.ex[2]));
        Quad8 q;
        q.z = _mm256_set_m128(_mm_add_ps(zr, s.st.zx), zr);
        q.c01 = pair(cr, _mm_add_epi16(cr, s.cx4));
        for (int i = 0, x = minx;; x += 8) {
            const __m256i in = _mm256_or_si256(_mm256_or_si256(e0, e1), e2);
            if constexpr (Gouraud) q.c23 = _mm256_add_epi16(q.c01, c2);
            shade8<Gouraud>(flat, row, zrow, x, q, _mm256_srai_epi32(in, 31));
            if (++i == pairs) break;
            e0 = _mm256_add_epi32(e0, ex0);
            e1 = _mm256_add_epi32(e1, ex1);
            e2 = _mm256_add_epi32(e2, ex2);
            // The next pair's depths: the left group's from this pair's right one, then the
            // right's from that (adding zero leaves the left ones as they are).
            const __m256 right = _mm256_permute2f128_ps(q.z, q.z, 0x11);
            q.z = _mm256_add_ps(_mm256_add_ps(right, zx), zx_high);
            if constexpr (Gouraud) q.c01 = _mm256_add_epi16(q.c01, cx8);
        }
        er0 = _mm_add_epi32(er0, s.ey[0]);
        er1 = _mm_add_epi32(er1, s.ey[1]);
        er2 = _mm_add_epi32(er2, s.ey[2]);
        zr = _mm_add_ps(zr, s.st.zy);
        if constexpr (Gouraud) cr = _mm_add_epi16(cr, s.cy);
        row += t.pitch;
        zrow += t.depth_pitch;
    }
}
#endif

// Box minx..maxx, miny..maxy (inside the target); cross: twice the area in 1/256 pixel^2 (> 0).
template <Format F, bool Gouraud>
inline void fill_small(const Span& sp, const Vertex& a, const Vertex& b, const Vertex& c, int minx,
                       int miny, int maxx, int maxy, int32_t cross, uint32_t flat) {
    SmallTri s;
    const int32_t px = minx * 16 + 8, py = miny * 16 + 8;
    // The three edges side by side, lane k from vertex k to the next (lane 3 unused). The
    // products go through float, exact here: deltas are below 2^11, so edge values stay below
    // 2^22.
    const __m128 ab = _mm_castsi128_ps(
        _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&a.fx)),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&b.fx))));
    const __m128 cc = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&c.fx)));
    const __m128i vx = _mm_castps_si128(_mm_shuffle_ps(ab, cc, _MM_SHUFFLE(0, 0, 2, 0)));
    const __m128i vy = _mm_castps_si128(_mm_shuffle_ps(ab, cc, _MM_SHUFFLE(1, 1, 3, 1)));
    const __m128i dx = _mm_sub_epi32(_mm_shuffle_epi32(vx, _MM_SHUFFLE(3, 0, 2, 1)), vx);
    const __m128i dy = _mm_sub_epi32(_mm_shuffle_epi32(vy, _MM_SHUFFLE(3, 0, 2, 1)), vy);
    const __m128i zero = _mm_setzero_si128();
    // edge_bias() on the three lanes: top and left edges get no bias, the others -1.
    const __m128i top_left =
        _mm_or_si128(_mm_cmplt_epi32(dy, zero),
                     _mm_and_si128(_mm_cmpeq_epi32(dy, zero), _mm_cmpgt_epi32(dx, zero)));
    const __m128 fdx = _mm_cvtepi32_ps(dx), fdy = _mm_cvtepi32_ps(dy);
    const __m128 rx = _mm_cvtepi32_ps(_mm_sub_epi32(_mm_set1_epi32(px), vx));
    const __m128 ry = _mm_cvtepi32_ps(_mm_sub_epi32(_mm_set1_epi32(py), vy));
    const __m128 ef = _mm_sub_ps(_mm_mul_ps(fdx, ry), _mm_mul_ps(fdy, rx));
    const __m128i e =
        _mm_sub_epi32(_mm_add_epi32(_mm_cvtps_epi32(ef), _mm_set1_epi32(-1)), top_left);
    const __m128i sx = _mm_slli_epi32(_mm_sub_epi32(zero, dy), 4); // per pixel right
    const __m128i sy = _mm_slli_epi32(dx, 4);                      // per row down
    const __m128i odd = _mm_setr_epi32(0, -1, 0, -1), high = _mm_setr_epi32(0, 0, -1, -1);
    auto edge = [&](auto k) {
        constexpr int sel = decltype(k)::value * 0x55;
        const __m128i step = _mm_shuffle_epi32(sx, sel);
        // 0, 1, 2, 3 steps across the group.
        const __m128i ramp =
            _mm_add_epi32(_mm_and_si128(step, odd), _mm_and_si128(_mm_slli_epi32(step, 1), high));
        s.er[k] = _mm_add_epi32(_mm_shuffle_epi32(e, sel), ramp);
        s.ex[k] = _mm_slli_epi32(step, 2);
        s.ey[k] = _mm_shuffle_epi32(sy, sel);
    };
    edge(std::integral_constant<int, 0>());
    edge(std::integral_constant<int, 1>());
    edge(std::integral_constant<int, 2>());

    // Planes {b, g, r, z} through the snapped vertices, anchored at the first pixel's centre.
    const __m128 A = attributes(a.rgb, a.z);
    const __m128 B = attributes(b.rgb, b.z), C = attributes(c.rgb, c.z);
    const __m128 d1 = _mm_sub_ps(B, A), d2 = _mm_sub_ps(C, A);
    // Vertex 1 - vertex 0 is lane 0 of the deltas; vertex 0 - vertex 2 (negated) lane 2.
    const __m128 dX1 = _mm_shuffle_ps(fdx, fdx, 0x00), dY1 = _mm_shuffle_ps(fdy, fdy, 0x00);
    const __m128 nX2 = _mm_shuffle_ps(fdx, fdx, 0xAA), nY2 = _mm_shuffle_ps(fdy, fdy, 0xAA);
    const __m128 inv = _mm_set1_ps(16.0f / float(cross));
    __m128 ddx = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(d1, nY2), _mm_mul_ps(d2, dY1)),
                            _mm_sub_ps(_mm_setzero_ps(), inv));
    __m128 ddy = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(d2, dX1), _mm_mul_ps(d1, nX2)), inv);
    const __m128 k16 = _mm_set1_ps(0.0625f);
    const __m128 ax = _mm_mul_ps(_mm_shuffle_ps(rx, rx, 0x00), k16);
    const __m128 ay = _mm_mul_ps(_mm_shuffle_ps(ry, ry, 0x00), k16);
    __m128 at = _mm_add_ps(A, _mm_add_ps(_mm_mul_ps(ddx, ax), _mm_mul_ps(ddy, ay)));

    const __m128 zdx = _mm_shuffle_ps(ddx, ddx, 0xFF);
    s.q.z = _mm_add_ps(_mm_shuffle_ps(at, at, 0xFF), _mm_mul_ps(zdx, lanes()));
    s.st.zx = _mm_mul_ps(zdx, _mm_set1_ps(4.0f));
    s.st.zy = _mm_shuffle_ps(ddy, ddy, 0xFF);
    if constexpr (Gouraud) {
        // Slivers: see fill_large_triangle.
        const __m128 lim = _mm_set1_ps(64.0f);
        const __m128 absmask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        const __m128 big = _mm_or_ps(_mm_cmpgt_ps(_mm_and_ps(ddx, absmask), lim),
                                     _mm_cmpgt_ps(_mm_and_ps(ddy, absmask), lim));
        if (_mm_movemask_ps(big) & 7) {
            const __m128 rgb = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
            const __m128 avg = _mm_mul_ps(_mm_add_ps(_mm_add_ps(A, B), C), _mm_set1_ps(1.0f / 3));
            at = _mm_or_ps(_mm_and_ps(rgb, avg), _mm_andnot_ps(rgb, at));
            ddx = _mm_andnot_ps(rgb, ddx);
            ddy = _mm_andnot_ps(rgb, ddy);
        }
        const __m128 k256 = _mm_setr_ps(256, 256, 256, 0), k1024 = _mm_setr_ps(1024, 1024, 1024, 0);
        const __m128i half = _mm_setr_epi32(128, 128, 128, 0);
        const __m128i cx = wrap16(_mm_cvtps_epi32(_mm_mul_ps(ddx, k1024)));
        const __m128i cy = wrap16(_mm_cvtps_epi32(_mm_mul_ps(ddy, k256)));
        const __m128i c1 = wrap16(_mm_cvtps_epi32(_mm_mul_ps(ddx, k256)));
        const __m128i c0 = wrap16(_mm_add_epi32(_mm_cvtps_epi32(_mm_mul_ps(at, k256)), half));
        s.cx4 = _mm_packs_epi32(cx, cx);
        s.cy = _mm_packs_epi32(cy, cy);
        // Pixels 1 to 3 step from pixel 0 (three steps: negligible error).
        const __m128i one = _mm_packs_epi32(c1, c1);
        s.q.c01 = _mm_add_epi16(_mm_packs_epi32(c0, c0), _mm_slli_si128(one, 8));
        s.q.c23 = _mm_add_epi16(s.q.c01, _mm_add_epi16(one, one));
    } else {
        s.cx4 = s.cy = s.q.c01 = s.q.c23 = _mm_setzero_si128();
    }
    // Groups run up to three pixels past maxx.
    const bool fast = maxx + 3 < sp.width && sp.t->depth;
    if (fast && maxx - minx < 4 && maxy - miny < 4 && miny + 3 < sp.t->height)
        block4<F, Gouraud>(s, sp, flat, minx, miny);
#ifdef __AVX2__
    // Pairs of groups run up to seven pixels past maxx.
    else if (F == Format::XRGB8888 && fast && maxx - minx >= 4 && maxx - minx < 16 &&
             minx + ((maxx - minx) | 7) < sp.width)
        dense_rows8<Gouraud>(s, sp, flat, minx, miny, maxx, maxy);
#endif
    else if (fast && maxx - minx < 16)
        small_rows<F, Gouraud, true, true>(s, sp, flat, minx, miny, maxx, maxy);
    else if (fast)
        small_rows<F, Gouraud, true>(s, sp, flat, minx, miny, maxx, maxy);
    else
        small_rows<F, Gouraud, false>(s, sp, flat, minx, miny, maxx, maxy);
}

// ---------------------------------------------------------------------------------------------
// Any front face

// The pixel box of a front face, then the small path inline or the large one.
template <Format F, bool Gouraud>
void fill_tri(const DrawState& ds, const Vertex& a, const Vertex& b, const Vertex& c, int64_t cross,
              uint32_t flat) {
    // Pixels whose centre (16 * px + 8) lies within the vertex box.
    // Nested two-value min/max compile to conditional moves; the list forms branch, and those
    // branches mispredict on every other small triangle.
    const int32_t lx = std::min(a.fx, std::min(b.fx, c.fx)),
                  hx = std::max(a.fx, std::max(b.fx, c.fx));
    const int32_t ly = std::min(a.fy, std::min(b.fy, c.fy)),
                  hy = std::max(a.fy, std::max(b.fy, c.fy));
    const int minx = std::max(0, (lx + 7) >> 4), miny = std::max(0, (ly + 7) >> 4);
    const int maxx = std::min(ds.width - 1, (hx - 8) >> 4);
    const int maxy = std::min(ds.height - 1, (hy - 8) >> 4);
    if (minx > maxx || miny > maxy) return;
    ds.drawn->add({minx, miny, maxx + 1, maxy + 1});
    if (hx - lx <= kSmall * 16 && hy - ly <= kSmall * 16)
        fill_small<F, Gouraud>(ds.span, a, b, c, minx, miny, maxx, maxy, int32_t(cross), flat);
    else
        fill_large_triangle(ds, a, b, c, minx, miny, maxx, maxy, cross, flat,
                            fill_large<F, Gouraud>);
}

template <bool G> TriFn pick(Format f) {
    switch (f) {
    case Format::Indexed8:
        return fill_tri<Format::Indexed8, G>;
    case Format::RGB565:
        return fill_tri<Format::RGB565, G>;
    case Format::RGB888:
        return fill_tri<Format::RGB888, G>;
    case Format::XRGB8888:
        return fill_tri<Format::XRGB8888, G>;
    case Format::Count8:
        return fill_tri<Format::Count8, G>;
    }
    return nullptr;
}

// The fills of the instruction set this file is built for.
inline TriFn pick_built(Format f, bool gouraud) {
    return gouraud ? pick<true>(f) : pick<false>(f);
}

} // namespace
} // namespace raster
