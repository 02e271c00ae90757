// Triangle rasteriser.
//
// Pipeline per draw: vertices are transformed, given an outcode against the near and far planes
// and a guard band around the target, projected and lit, four at a time in SSE (the remainder
// one by one with the same operations, so results do not depend on a vertex's place). Triangles
// are culled (back faces, all outside one plane) and those entirely inside the band are filled
// directly. The rest are clipped in camera space, which never divides by a small z, and fanned
// into triangles.
//
// Fill: half-space edge functions over vertices snapped to 1/16 pixel (28.4 fixed point), sampled
// at pixel centres (x + 0.5, y + 0.5), with the top-left rule as an integer bias, so triangles
// sharing an edge cover each pixel exactly once. Precision and range: the guard band keeps
// snapped coordinates below 2^19 units, so edge deltas fit 21 bits and an edge function (a cross
// product of two deltas) fits 42 bits; the cross product and large triangles are set up in 64
// bits. Triangles at most 64 pixels across are set up in 32 bits: their deltas are below 2^11
// and edge values over the box below 2^22, so the products can even go through float (exact
// below 2^24). Larger triangles go per 8x8 block and only test blocks an edge crosses, where the
// value never exceeds the change across one block (< 2^29). Pixels go four at a time (SSE2, the
// x86-64 baseline).
//
// Small triangles are where the time goes on dense meshes, and there mispredicted branches cost
// more than arithmetic: narrow boxes shade every four-pixel group of their rows (boxes of at
// most 4x4 a fixed 4x4 block), writing uncovered pixels back unchanged, instead of branching on
// coverage.
//
// Depth is z' = back / (back - front) * (1 - front / z) * 65535, affine in screen space, so it is
// a float plane; the test is LESS and passing pixels write depth. Gouraud colour is a plane too,
// stepped in 8.8 fixed point (see Quad); flat shading uses the average of the vertex colours.
#include <raster/raster.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <immintrin.h>

namespace raster {

using detail::Vertex;

namespace {

constexpr float kGuard = 8192.0f; // pixels beyond each target edge
constexpr int kMaxSize = 16384;   // larger targets are not drawn into
constexpr int kSmall = 64;        // triangles at most this many pixels across skip the blocks

enum : uint32_t {
    OUT_NEAR = 1,
    OUT_FAR = 2,
    OUT_LEFT = 4,
    OUT_RIGHT = 8,
    OUT_TOP = 16,
    OUT_BOTTOM = 32,
    OUT_BAD = 1u << 31,
};

// Camera-space vertex with colour, the unit of clipping.
struct ClipVert {
    float x, y, z, r, g, b;
};

// Per-draw constants.
struct View {
    float sx, sy, cx, cy, front, back;
    float zscale;   // 65535 * back / (back - front)
    float gx0, gx1; // guard band, screen x
    float gy0, gy1; // guard band, screen y
    float flip;     // +1, or -1 when the projection mirrors the picture
    int width, height;
};

inline bool finite3(float a, float b, float c) {
    return std::isfinite(a) && std::isfinite(b) && std::isfinite(c);
}

// Signed distances to the clipping planes, inside >= 0.
inline void plane_distances(const View& v, float x, float y, float z, float d[6]) {
    d[0] = z - v.front;
    d[1] = v.back - z;
    d[2] = v.sx * x - (v.gx0 - v.cx) * z;
    d[3] = (v.gx1 - v.cx) * z - v.sx * x;
    d[4] = -v.sy * y - (v.gy0 - v.cy) * z;
    d[5] = (v.gy1 - v.cy) * z + v.sy * y;
}

inline uint32_t outcode(const View& v, float x, float y, float z) {
    if (!finite3(x, y, z)) return OUT_BAD;
    float d[6];
    plane_distances(v, x, y, z, d);
    uint32_t code = 0;
    for (int i = 0; i < 6; ++i)
        if (d[i] < 0) code |= 1u << i;
    return code;
}

// Fills the screen fields of a vertex whose camera position is inside the guard band.
// Returns false when the result is not usable (non-finite).
inline bool project(const View& v, Vertex& o) {
    const float iz = 1.0f / o.cz;
    float X = v.cx + v.sx * o.cx * iz;
    float Y = v.cy - v.sy * o.cy * iz;
    if (!(std::isfinite(X) && std::isfinite(Y))) return false;
    // Clipping leaves points on the band's edge; rounding must not carry them past it.
    X = std::clamp(X, v.gx0, v.gx1);
    Y = std::clamp(Y, v.gy0, v.gy1);
    o.z = std::clamp(v.zscale * (1.0f - v.front * iz), 0.0f, 65535.0f);
    o.fx = _mm_cvtss_si32(_mm_set_ss(X * 16.0f));
    o.fy = _mm_cvtss_si32(_mm_set_ss(Y * 16.0f));
    return true;
}

// Channels in 0..255.
inline uint32_t pack_rgb(float r, float g, float b) {
    return (uint32_t(r + 0.5f) << 16) | (uint32_t(g + 0.5f) << 8) | uint32_t(b + 0.5f);
}

inline void unpack_rgb(uint32_t c, float& r, float& g, float& b) {
    r = float((c >> 16) & 0xFF);
    g = float((c >> 8) & 0xFF);
    b = float(c & 0xFF);
}

// {b, g, r, z} of a vertex.
inline __m128 attributes(uint32_t rgb, float z) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i c =
        _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(rgb)), zero), zero);
    return _mm_add_ps(_mm_cvtepi32_ps(c), _mm_setr_ps(0, 0, 0, z));
}

// ---------------------------------------------------------------------------------------------
// Pixel stores

inline uint16_t to565(uint32_t c) {
    return uint16_t(((c >> 8) & 0xF800) | ((c >> 5) & 0x07E0) | ((c >> 3) & 0x001F));
}

template <Format F> inline void store_pixel(const Target& t, uint8_t* row, int x, uint32_t c) {
    if constexpr (F == Format::XRGB8888) {
        reinterpret_cast<uint32_t*>(row)[x] = c;
    } else if constexpr (F == Format::RGB888) {
        row[3 * x] = uint8_t(c);
        row[3 * x + 1] = uint8_t(c >> 8);
        row[3 * x + 2] = uint8_t(c >> 16);
    } else if constexpr (F == Format::RGB565) {
        reinterpret_cast<uint16_t*>(row)[x] = to565(c);
    } else if constexpr (F == Format::Indexed8) {
        row[x] = t.palette ? t.palette->index_for(c) : 0;
    } else {
        if (row[x] != 255) ++row[x];
    }
}

inline void store_pixel(const Target& t, uint8_t* row, int x, uint32_t c) {
    switch (t.format) {
    case Format::XRGB8888:
        return store_pixel<Format::XRGB8888>(t, row, x, c);
    case Format::RGB888:
        return store_pixel<Format::RGB888>(t, row, x, c);
    case Format::RGB565:
        return store_pixel<Format::RGB565>(t, row, x, c);
    case Format::Indexed8:
        return store_pixel<Format::Indexed8>(t, row, x, c);
    case Format::Count8:
        return store_pixel<Format::Count8>(t, row, x, c);
    }
}

// Depth-tested single pixel, used by lines and points.
template <Format F> inline void plot(const Target& t, int x, int y, float z, uint32_t c) {
    if (t.depth) {
        uint16_t* d = t.depth + size_t(y) * size_t(t.depth_pitch) + x;
        const int zi = static_cast<int>(z + 0.5f);
        if (!(zi < *d)) return;
        *d = uint16_t(zi);
    }
    store_pixel<F>(t, t.pixels + size_t(y) * size_t(t.pitch), x, c);
}

inline void plot(const Target& t, int x, int y, float z, uint32_t c) {
    switch (t.format) {
    case Format::XRGB8888:
        return plot<Format::XRGB8888>(t, x, y, z, c);
    case Format::RGB888:
        return plot<Format::RGB888>(t, x, y, z, c);
    case Format::RGB565:
        return plot<Format::RGB565>(t, x, y, z, c);
    case Format::Indexed8:
        return plot<Format::Indexed8>(t, x, y, z, c);
    case Format::Count8:
        return plot<Format::Count8>(t, x, y, z, c);
    }
}

// ---------------------------------------------------------------------------------------------
// Triangle fill

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

struct Span {
    const Target* t;
    int width;
};

inline __m128 lanes() {
    return _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f);
}

// Attribute values of four neighbouring pixels, stepped along a row. Colour is 8.8 fixed point
// in 16-bit lanes (b, g, r, 0 per pixel) with half a level added, so truncation rounds. The lanes
// wrap modulo 2^16, which is harmless: values inside the triangle lie in 0..255 and stepping is
// exact addition, so they come out right whatever the intermediate values were. Steps are
// rounded to 1/256 level; callers restart from the plane at least every 64 rows and 64 pixels,
// which keeps the accumulated error under half a level.
struct Quad {
    __m128 z;
    __m128i c01, c23;
};

// Steps of a Quad: four pixels right (zx, t.cx4), one row down (zy, t.cy).
struct QuadStep {
    __m128 zx;
    __m128 zy;
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

// Lanes reduced modulo 2^16 and sign-extended, so a saturating pack keeps their low 16 bits
// (8.8 colour, see Quad; 565 pixels).
inline __m128i wrap16(__m128i v) {
    return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
}

// Shades the four pixels x..x+3 of a row whose lanes are set in `inside` (32-bit lanes).
// Fast: the caller knows all four pixels are inside the row and there is a depth buffer; then
// `inside` may instead be an outside mask (Outside), and a group that fails the depth test is
// written back unchanged rather than tested for.
template <Format F, bool Gouraud, bool Fast = false, bool Outside = false>
inline void shade4(uint32_t flat, const Span& sp, uint8_t* row, uint16_t* zrow, int x,
                   const Quad& q, __m128i inside) {
    static_assert(Fast || !Outside, "outside masks only on the fast path");
    const bool full = Fast || x + 4 <= sp.width;
    if (!full) {
        const __m128i lx = _mm_add_epi32(_mm_set1_epi32(x), _mm_setr_epi32(0, 1, 2, 3));
        inside = _mm_and_si128(inside, _mm_cmplt_epi32(lx, _mm_set1_epi32(sp.width)));
    }
    __m128i mask = inside;
    if (Fast || zrow) {
        const __m128i bias = _mm_set1_epi16(int16_t(0x8000));
        __m128i zi = _mm_sub_epi32(_mm_cvtps_epi32(q.z), _mm_set1_epi32(32768));
        zi = _mm_packs_epi32(zi, zi); // z - 32768 as int16, saturated: z clamped to 0..65535
        uint16_t tmp[4];
        uint16_t* zp = zrow + x;
        if (!full) {
            for (int i = 0; i < 4; ++i)
                tmp[i] = x + i < sp.width ? zrow[x + i] : 0;
            zp = tmp;
        }
        const __m128i old = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(zp));
        const __m128i pass = _mm_cmplt_epi16(zi, _mm_xor_si128(old, bias));
        const __m128i m16 = Outside ? _mm_andnot_si128(_mm_packs_epi32(inside, inside), pass)
                                    : _mm_and_si128(pass, _mm_packs_epi32(inside, inside));
        if (!Fast && _mm_movemask_epi8(m16) == 0) return;
        const __m128i nz =
            _mm_or_si128(_mm_and_si128(m16, _mm_xor_si128(zi, bias)), _mm_andnot_si128(m16, old));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(zp), nz);
        if (!full)
            for (int i = 0; i < 4 && x + i < sp.width; ++i)
                zrow[x + i] = tmp[i];
        mask = _mm_unpacklo_epi16(m16, m16);
    }
    __m128i colour;
    if constexpr (Gouraud) {
        colour = _mm_packus_epi16(_mm_srli_epi16(q.c01, 8), _mm_srli_epi16(q.c23, 8));
    } else {
        colour = _mm_set1_epi32(int(flat));
    }
    if constexpr (F == Format::XRGB8888) {
        if (full) {
            __m128i* p = reinterpret_cast<__m128i*>(row + 4 * size_t(x));
            const __m128i old = _mm_loadu_si128(p);
            _mm_storeu_si128(
                p, _mm_or_si128(_mm_and_si128(mask, colour), _mm_andnot_si128(mask, old)));
            return;
        }
    } else if constexpr (F == Format::RGB565) {
        if (full) {
            // to565 on four lanes, then the 16-bit values packed without saturation.
            const __m128i c565 = _mm_or_si128(
                _mm_or_si128(_mm_and_si128(_mm_srli_epi32(colour, 8), _mm_set1_epi32(0xF800)),
                             _mm_and_si128(_mm_srli_epi32(colour, 5), _mm_set1_epi32(0x07E0))),
                _mm_and_si128(_mm_srli_epi32(colour, 3), _mm_set1_epi32(0x001F)));
            const __m128i c16 = _mm_packs_epi32(wrap16(c565), wrap16(c565));
            const __m128i m = _mm_packs_epi32(mask, mask);
            __m128i* p = reinterpret_cast<__m128i*>(row + 2 * size_t(x));
            const __m128i old = _mm_loadl_epi64(p);
            _mm_storel_epi64(p, _mm_or_si128(_mm_and_si128(m, c16), _mm_andnot_si128(m, old)));
            return;
        }
    }
    alignas(16) uint32_t c[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(c), colour);
    const int bits = _mm_movemask_ps(_mm_castsi128_ps(mask));
    for (int i = 0; i < 4; ++i)
        if (bits & (1 << i)) store_pixel<F>(*sp.t, row, x + i, c[i]);
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
    // Top-left rule as in fill_triangle: those edges get no bias, the others -1.
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
        // Slivers: see fill_triangle.
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
    else if (fast && maxx - minx < 16)
        small_rows<F, Gouraud, true, true>(s, sp, flat, minx, miny, maxx, maxy);
    else if (fast)
        small_rows<F, Gouraud, true>(s, sp, flat, minx, miny, maxx, maxy);
    else
        small_rows<F, Gouraud, false>(s, sp, flat, minx, miny, maxx, maxy);
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

struct DrawState;
// Fills a projected front face; cross = screen_cross(a, b, c) > 0.
using TriFn = void (*)(const DrawState&, const Vertex&, const Vertex&, const Vertex&, int64_t,
                       uint32_t);
using LargeFn = void (*)(const Tri&, const Span&, int, int, int, int);

struct Fillers {
    TriFn tri;
    LargeFn large;
};

template <bool G> Fillers pick_fill(Format f);

struct LineSteps {
    int32_t x, y, xs, ys; // 16.16 pixels
    float z, zs;
    __m128i c, cs; // 16.16 colour lanes
    int n;         // steps: n + 1 pixels
    int wmax, hmax;
};

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
            const uint32_t keep = uint32_t(zi < old) - 1; // all ones where the test fails
            *d = uint16_t((uint32_t(zi) & ~keep) | (old & keep));
            *p = (colour & ~keep) | (was & keep);
        } else {
            bool pass = true;
            if constexpr (Depth) {
                uint16_t* d = depth + size_t(py) * dpitch + px;
                const int zi = static_cast<int>(z + 0.5f);
                pass = zi < *d;
                if (pass) *d = uint16_t(zi);
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

using LineFn = void (*)(const Target&, const LineSteps&);

inline LineFn pick_line(Format f) {
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

// Box of the pixels written by one draw call (right and bottom exclusive), empty at first.
struct Bounds {
    int x0 = INT_MAX, y0 = INT_MAX, x1 = INT_MIN, y1 = INT_MIN;
    void add(int l, int t, int r, int b) {
        x0 = std::min(x0, l);
        y0 = std::min(y0, t);
        x1 = std::max(x1, r);
        y1 = std::max(y1, b);
    }
};

// Everything one draw call needs, built once per call.
struct DrawState {
    View view;
    const Target* target;
    Span span;
    Fillers fill;
    LineFn linefn;
    bool gouraud;
    Bounds* drawn;
};

void grow(Rect& r, int x0, int y0, int x1, int y1) {
    if (r.empty()) {
        r = {x0, y0, x1, y1};
        return;
    }
    r.left = std::min(r.left, x0);
    r.top = std::min(r.top, y0);
    r.right = std::max(r.right, x1);
    r.bottom = std::max(r.bottom, y1);
}

// Twice the signed screen area in 1/256 pixel^2: positive for front faces. Snapped coordinates
// stay below 2^19 units, so it needs 64 bits.
inline int64_t screen_cross(const Vertex& a, const Vertex& b, const Vertex& c) {
    return int64_t(b.fx - a.fx) * (c.fy - a.fy) - int64_t(b.fy - a.fy) * (c.fx - a.fx);
}

// Set-up of a triangle more than kSmall pixels across, in 64 bits; box: its pixels.
[[gnu::noinline]] void fill_large_triangle(const DrawState& ds, const Vertex& a, const Vertex& b,
                                           const Vertex& c, int minx, int miny, int maxx, int maxy,
                                           int64_t cross, uint32_t flat) {
    const int64_t x0 = a.fx, y0 = a.fy, x1 = b.fx, y1 = b.fy, x2 = c.fx, y2 = c.fy;

    Tri s;
    s.ox = minx;
    s.oy = miny;
    const int64_t px = int64_t(minx) * 16 + 8, py = int64_t(miny) * 16 + 8;
    const int64_t ux[3] = {x0, x1, x2}, uy[3] = {y0, y1, y2};
    for (int k = 0; k < 3; ++k) {
        const int j = k == 2 ? 0 : k + 1;
        const int64_t dx = ux[j] - ux[k], dy = uy[j] - uy[k];
        // Top-left rule on a y-down screen with clockwise front faces: left edges run up,
        // top edges run right.
        const bool top_left = dy < 0 || (dy == 0 && dx > 0);
        s.e0[k] = dx * (py - uy[k]) - dy * (px - ux[k]) - (top_left ? 0 : 1);
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
    ds.fill.large(s, ds.span, minx, miny, maxx, maxy);
}

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
    const int maxx = std::min(ds.view.width - 1, (hx - 8) >> 4);
    const int maxy = std::min(ds.view.height - 1, (hy - 8) >> 4);
    if (minx > maxx || miny > maxy) return;
    ds.drawn->add(minx, miny, maxx + 1, maxy + 1);
    if (hx - lx <= kSmall * 16 && hy - ly <= kSmall * 16)
        fill_small<F, Gouraud>(ds.span, a, b, c, minx, miny, maxx, maxy, int32_t(cross), flat);
    else
        fill_large_triangle(ds, a, b, c, minx, miny, maxx, maxy, cross, flat);
}

template <bool G> Fillers pick_fill(Format f) {
    switch (f) {
    case Format::Indexed8:
        return {fill_tri<Format::Indexed8, G>, fill_large<Format::Indexed8, G>};
    case Format::RGB565:
        return {fill_tri<Format::RGB565, G>, fill_large<Format::RGB565, G>};
    case Format::RGB888:
        return {fill_tri<Format::RGB888, G>, fill_large<Format::RGB888, G>};
    case Format::XRGB8888:
        return {fill_tri<Format::XRGB8888, G>, fill_large<Format::XRGB8888, G>};
    case Format::Count8:
        return {fill_tri<Format::Count8, G>, fill_large<Format::Count8, G>};
    }
    return {nullptr, nullptr};
}

inline void fill_triangle(const DrawState& ds, const Vertex& a, const Vertex& b, const Vertex& c,
                          int64_t cross, uint32_t flat) {
    ds.fill.tri(ds, a, b, c, cross, flat);
}

inline ClipVert clip_vert(const Vertex& v) {
    ClipVert c{v.cx, v.cy, v.cz, 0, 0, 0};
    unpack_rgb(v.rgb, c.r, c.g, c.b);
    return c;
}

inline bool to_vertex(const View& view, const ClipVert& c, Vertex& v) {
    v.cx = c.x;
    v.cy = c.y;
    v.cz = c.z;
    v.rgb = pack_rgb(std::clamp(c.r, 0.0f, 255.0f), std::clamp(c.g, 0.0f, 255.0f),
                     std::clamp(c.b, 0.0f, 255.0f));
    v.outcode = 0;
    return project(view, v);
}

inline ClipVert lerp(const ClipVert& a, const ClipVert& b, float t) {
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t,
            a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Front-facing in camera space, valid whatever the depths of the vertices.
inline bool faces_camera(const View& view, const Vertex& a, const Vertex& b, const Vertex& c) {
    const float ux = b.cx - a.cx, uy = b.cy - a.cy, uz = b.cz - a.cz;
    const float vx = c.cx - a.cx, vy = c.cy - a.cy, vz = c.cz - a.cz;
    const float nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    return (nx * a.cx + ny * a.cy + nz * a.cz) * view.flip < 0;
}

// Clips a triangle against the planes in `planes` and fills the resulting fan.
void clip_fill(const DrawState& ds, const Vertex& a, const Vertex& b, const Vertex& c,
               uint32_t planes, uint32_t flat) {
    ClipVert buf[2][9];
    buf[0][0] = clip_vert(a);
    buf[0][1] = clip_vert(b);
    buf[0][2] = clip_vert(c);
    int n = 3, cur = 0;
    for (int p = 0; p < 6; ++p) {
        if (!(planes & (1u << p))) continue;
        const ClipVert* src = buf[cur];
        ClipVert* dst = buf[cur ^ 1];
        int m = 0;
        float d[6], dn[6];
        plane_distances(ds.view, src[0].x, src[0].y, src[0].z, d);
        for (int i = 0; i < n; ++i) {
            const ClipVert& nx = src[i + 1 == n ? 0 : i + 1];
            plane_distances(ds.view, nx.x, nx.y, nx.z, dn);
            const float da = d[p], db = dn[p];
            if (da >= 0) dst[m++] = src[i];
            if ((da >= 0) != (db >= 0)) dst[m++] = lerp(src[i], nx, da / (da - db));
            std::memcpy(d, dn, sizeof d);
        }
        n = m;
        cur ^= 1;
        if (n < 3) return;
    }
    Vertex v[9];
    for (int i = 0; i < n; ++i)
        if (!to_vertex(ds.view, buf[cur][i], v[i])) return;
    for (int i = 1; i + 1 < n; ++i) {
        const int64_t cross = screen_cross(v[0], v[i], v[i + 1]);
        if (cross > 0) fill_triangle(ds, v[0], v[i], v[i + 1], cross, flat);
    }
}

// A 1-pixel line between two screen points, clipped to the target, both ends drawn.
void line2d(const DrawState& ds, float X0, float Y0, float X1, float Y1, const float a[4],
            const float b[4]) {
    const float W = float(ds.view.width), H = float(ds.view.height);
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
    l.wmax = ds.view.width - 1;
    l.hmax = ds.view.height - 1;
    ds.linefn(*ds.target, l);
    // The pixels lie between the two ends.
    const int x0 = std::clamp(l.x >> 16, 0, l.wmax), y0 = std::clamp(l.y >> 16, 0, l.hmax);
    const int x1 = std::clamp((l.x + l.xs * steps) >> 16, 0, l.wmax);
    const int y1 = std::clamp((l.y + l.ys * steps) >> 16, 0, l.hmax);
    ds.drawn->add(std::min(x0, x1), std::min(y0, y1), std::max(x0, x1) + 1, std::max(y0, y1) + 1);
}

// Depth and colour of a line end.
inline void line_end(const Vertex& v, const uint32_t* flat, float out[4]) {
    out[0] = v.z;
    unpack_rgb(flat ? *flat : v.rgb, out[1], out[2], out[3]);
}

// An edge of a triangle: clipped in camera space unless both ends are inside.
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
    if (a.outcode & b.outcode) return;
    float da[6], db[6];
    plane_distances(ds.view, a.cx, a.cy, a.cz, da);
    plane_distances(ds.view, b.cx, b.cy, b.cz, db);
    float t0 = 0, t1 = 1;
    for (int p = 0; p < 6; ++p) {
        if (da[p] < 0 && db[p] < 0) return;
        if (da[p] < 0)
            t0 = std::max(t0, da[p] / (da[p] - db[p]));
        else if (db[p] < 0)
            t1 = std::min(t1, da[p] / (da[p] - db[p]));
    }
    if (!(t0 <= t1)) return;
    const ClipVert ca = clip_vert(a), cb = clip_vert(b);
    Vertex s, e;
    if (!to_vertex(ds.view, lerp(ca, cb, t0), s) || !to_vertex(ds.view, lerp(ca, cb, t1), e))
        return;
    line_end(s, flat, va);
    line_end(e, flat, vb);
    line2d(ds, float(s.fx) / 16, float(s.fy) / 16, float(e.fx) / 16, float(e.fy) / 16, va, vb);
}

struct Light {
    float dir[3]; // towards the light, unit
    float color[3];
};

inline float unit_or_zero(float v) {
    return v >= 0 ? std::min(v, 1.0f) : 0.0f;
}

// Positions of four Vec3 (48 bytes) as x, y, z lanes.
inline void load3x4(const Vec3* p, __m128& x, __m128& y, __m128& z) {
    const float* f = &p->x;
    const __m128 a = _mm_loadu_ps(f), b = _mm_loadu_ps(f + 4), c = _mm_loadu_ps(f + 8);
    // a = x0 y0 z0 x1, b = y1 z1 x2 y2, c = z2 x3 y3 z3
    x = _mm_shuffle_ps(_mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 3, 0, 0)),
                       _mm_shuffle_ps(b, c, _MM_SHUFFLE(1, 1, 2, 2)), _MM_SHUFFLE(2, 0, 2, 0));
    y = _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 1, 1)),
                       _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 2, 3, 3)), _MM_SHUFFLE(2, 0, 2, 0));
    z = _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 1, 2, 2)),
                       _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 3, 0, 0)), _MM_SHUFFLE(2, 0, 2, 0));
}

// Lighting of one vertex, and of four at once with the same operations in the same order.
struct Shading {
    float C[3][3];
    float ambient[3], base[3];
    Light lights[8];
    int nlights;

    uint32_t one(const Vec3& n) const {
        float sum[3] = {ambient[0], ambient[1], ambient[2]};
        float nx = n.x * C[0][0] + n.y * C[1][0] + n.z * C[2][0];
        float ny = n.x * C[0][1] + n.y * C[1][1] + n.z * C[2][1];
        float nz = n.x * C[0][2] + n.y * C[1][2] + n.z * C[2][2];
        const float len2 = nx * nx + ny * ny + nz * nz;
        if (len2 > 0 && std::isfinite(len2)) {
            const float il = 1.0f / std::sqrt(len2);
            nx *= il, ny *= il, nz *= il;
            for (int l = 0; l < nlights; ++l) {
                const float d =
                    nx * lights[l].dir[0] + ny * lights[l].dir[1] + nz * lights[l].dir[2];
                if (d > 0)
                    for (int k = 0; k < 3; ++k)
                        sum[k] += d * lights[l].color[k];
            }
        }
        return pack_rgb(base[0] * unit_or_zero(sum[0]) * 255.0f,
                        base[1] * unit_or_zero(sum[1]) * 255.0f,
                        base[2] * unit_or_zero(sum[2]) * 255.0f);
    }
};

// Shading::one for four normals at once, with the same operations in the same order. Where the
// scalar path adds nothing this adds +0 or -0, which leaves every sum that matters unchanged.
struct Shading4 {
    __m128 C[3][3], ambient[3], base[3], dir[8][3], color[8][3];
    int nlights;

    explicit Shading4(const Shading& s) : nlights(s.nlights) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                C[i][j] = _mm_set1_ps(s.C[i][j]);
            ambient[i] = _mm_set1_ps(s.ambient[i]);
            base[i] = _mm_set1_ps(s.base[i]);
        }
        for (int l = 0; l < nlights; ++l)
            for (int k = 0; k < 3; ++k) {
                dir[l][k] = _mm_set1_ps(s.lights[l].dir[k]);
                color[l][k] = _mm_set1_ps(s.lights[l].color[k]);
            }
    }

    // Colours of the four normals at n as 0x00RRGGBB lanes.
    __m128i run(const Vec3* n) const {
        __m128 x, y, z;
        load3x4(n, x, y, z);
        __m128 t[3];
        for (int j = 0; j < 3; ++j)
            t[j] = _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, C[0][j]), _mm_mul_ps(y, C[1][j])),
                              _mm_mul_ps(z, C[2][j]));
        const __m128 len2 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(t[0], t[0]), _mm_mul_ps(t[1], t[1])),
                                       _mm_mul_ps(t[2], t[2]));
        const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
        const __m128 usable =
            _mm_and_ps(_mm_cmpgt_ps(len2, zero), _mm_cmpeq_ps(_mm_sub_ps(len2, len2), zero));
        const __m128 il = _mm_div_ps(one, _mm_sqrt_ps(len2));
        const __m128 nx = _mm_mul_ps(t[0], il), ny = _mm_mul_ps(t[1], il),
                     nz = _mm_mul_ps(t[2], il);
        __m128 sum[3] = {ambient[0], ambient[1], ambient[2]};
        for (int l = 0; l < nlights; ++l) {
            __m128 d = _mm_add_ps(_mm_add_ps(_mm_mul_ps(nx, dir[l][0]), _mm_mul_ps(ny, dir[l][1])),
                                  _mm_mul_ps(nz, dir[l][2]));
            d = _mm_and_ps(d, _mm_and_ps(usable, _mm_cmpgt_ps(d, zero)));
            for (int k = 0; k < 3; ++k)
                sum[k] = _mm_add_ps(sum[k], _mm_mul_ps(d, color[l][k]));
        }
        __m128i c[3];
        for (int k = 0; k < 3; ++k) {
            const __m128 u = _mm_and_ps(_mm_cmpge_ps(sum[k], zero), _mm_min_ps(sum[k], one));
            const __m128 v = _mm_mul_ps(_mm_mul_ps(base[k], u), _mm_set1_ps(255.0f));
            c[k] = _mm_cvttps_epi32(_mm_add_ps(v, _mm_set1_ps(0.5f)));
        }
        return _mm_or_si128(_mm_or_si128(_mm_slli_epi32(c[0], 16), _mm_slli_epi32(c[1], 8)), c[2]);
    }
};

// Vertex stage for four vertices at once: the scalar path's arithmetic lane by lane (same
// operations in the same order, so the results are identical).
static_assert(sizeof(Vertex) == 32 && offsetof(Vertex, outcode) == 16 && offsetof(Vertex, cx) == 20,
              "transform4 stores two rows of four 32-bit fields");

// Four transformed vertices to their records: {fx, fy, z, rgb} and {outcode, cx, cy, cz}.
inline void store4(Vertex* o, __m128i fx, __m128i fy, __m128 zd, __m128i rgb, __m128i code,
                   __m128 X, __m128 Y, __m128 Z) {
    __m128 r0 = _mm_castsi128_ps(fx), r1 = _mm_castsi128_ps(fy), r2 = zd,
           r3 = _mm_castsi128_ps(rgb);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    __m128 s0 = _mm_castsi128_ps(code), s1 = X, s2 = Y, s3 = Z;
    _MM_TRANSPOSE4_PS(s0, s1, s2, s3);
    float* q = reinterpret_cast<float*>(o);
    _mm_storeu_ps(q, r0);
    _mm_storeu_ps(q + 4, s0);
    _mm_storeu_ps(q + 8, r1);
    _mm_storeu_ps(q + 12, s1);
    _mm_storeu_ps(q + 16, r2);
    _mm_storeu_ps(q + 20, s2);
    _mm_storeu_ps(q + 24, r3);
    _mm_storeu_ps(q + 28, s3);
}

struct Transform4 {
    __m128 m[4][3]; // the matrix's first three columns, broadcast
    __m128 front, back, zscale, sx, sy, cx, cy, gx0, gx1, gy0, gy1;
    __m128 gx0c, gx1c, gy0c, gy1c, nsy; // gx0 - cx, ..., -sy

    Transform4(const View& v, const float (&M)[4][4]) {
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 3; ++j)
                m[i][j] = _mm_set1_ps(M[i][j]);
        front = _mm_set1_ps(v.front);
        back = _mm_set1_ps(v.back);
        zscale = _mm_set1_ps(v.zscale);
        sx = _mm_set1_ps(v.sx);
        sy = _mm_set1_ps(v.sy);
        cx = _mm_set1_ps(v.cx);
        cy = _mm_set1_ps(v.cy);
        gx0 = _mm_set1_ps(v.gx0);
        gx1 = _mm_set1_ps(v.gx1);
        gy0 = _mm_set1_ps(v.gy0);
        gy1 = _mm_set1_ps(v.gy1);
        gx0c = _mm_set1_ps(v.gx0 - v.cx);
        gx1c = _mm_set1_ps(v.gx1 - v.cx);
        gy0c = _mm_set1_ps(v.gy0 - v.cy);
        gy1c = _mm_set1_ps(v.gy1 - v.cy);
        nsy = _mm_set1_ps(-v.sy);
    }

    void run(const Vec3* p, Vertex* o, __m128i rgb) const {
        __m128 x, y, z;
        load3x4(p, x, y, z);
        __m128 t[3];
        for (int j = 0; j < 3; ++j)
            t[j] = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(x, m[0][j]), _mm_mul_ps(y, m[1][j])),
                                         _mm_mul_ps(z, m[2][j])),
                              m[3][j]);
        const __m128 X = t[0], Y = t[1], Z = t[2];

        // Outcodes as in outcode(): non-finite first, then the planes.
        const __m128 zero = _mm_setzero_ps();
        const __m128 finite = _mm_and_ps(
            _mm_and_ps(_mm_cmpeq_ps(_mm_sub_ps(X, X), zero), _mm_cmpeq_ps(_mm_sub_ps(Y, Y), zero)),
            _mm_cmpeq_ps(_mm_sub_ps(Z, Z), zero));
        const __m128 sxX = _mm_mul_ps(sx, X), syY = _mm_mul_ps(sy, Y);
        auto bit = [&](__m128 d, int b) {
            return _mm_and_si128(_mm_castps_si128(_mm_cmplt_ps(d, zero)), _mm_set1_epi32(b));
        };
        __m128i code = _mm_or_si128(
            _mm_or_si128(_mm_or_si128(bit(_mm_sub_ps(Z, front), OUT_NEAR),
                                      bit(_mm_sub_ps(back, Z), OUT_FAR)),
                         _mm_or_si128(bit(_mm_sub_ps(sxX, _mm_mul_ps(gx0c, Z)), OUT_LEFT),
                                      bit(_mm_sub_ps(_mm_mul_ps(gx1c, Z), sxX), OUT_RIGHT))),
            _mm_or_si128(bit(_mm_sub_ps(_mm_mul_ps(nsy, Y), _mm_mul_ps(gy0c, Z)), OUT_TOP),
                         bit(_mm_add_ps(_mm_mul_ps(gy1c, Z), syY), OUT_BOTTOM)));
        const __m128i bad = _mm_set1_epi32(int(OUT_BAD));
        const __m128i fin = _mm_castps_si128(finite);
        code = _mm_or_si128(_mm_and_si128(fin, code), _mm_andnot_si128(fin, bad));

        // Projection as in project(), used only where the code is 0.
        const __m128 iz = _mm_div_ps(_mm_set1_ps(1.0f), Z);
        const __m128 PX = _mm_add_ps(cx, _mm_mul_ps(sxX, iz));
        const __m128 PY = _mm_sub_ps(cy, _mm_mul_ps(syY, iz));
        const __m128 pfin = _mm_and_ps(_mm_cmpeq_ps(_mm_sub_ps(PX, PX), zero),
                                       _mm_cmpeq_ps(_mm_sub_ps(PY, PY), zero));
        const __m128i inside = _mm_cmpeq_epi32(code, _mm_setzero_si128());
        code = _mm_or_si128(code,
                            _mm_andnot_si128(_mm_castps_si128(pfin), _mm_and_si128(inside, bad)));
        const __m128 k16 = _mm_set1_ps(16.0f);
        const __m128i fx = _mm_cvtps_epi32(_mm_mul_ps(_mm_min_ps(_mm_max_ps(PX, gx0), gx1), k16));
        const __m128i fy = _mm_cvtps_epi32(_mm_mul_ps(_mm_min_ps(_mm_max_ps(PY, gy0), gy1), k16));
        const __m128 d = _mm_mul_ps(zscale, _mm_sub_ps(_mm_set1_ps(1.0f), _mm_mul_ps(front, iz)));
        const __m128 zd = _mm_min_ps(_mm_max_ps(d, zero), _mm_set1_ps(65535.0f));

        store4(o, fx, fy, zd, rgb, code, X, Y, Z);
    }
};

// Compiled for AVX2 whatever the baseline; called only after a run-time check.
#define RASTER_AVX2 __attribute__((target("avx2")))

RASTER_AVX2 inline __m256 wide(__m128 v) {
    return _mm256_set_m128(v, v);
}
RASTER_AVX2 inline __m256 finite8(__m256 v) {
    return _mm256_cmp_ps(_mm256_sub_ps(v, v), _mm256_setzero_ps(), _CMP_EQ_OQ);
}
RASTER_AVX2 inline __m256i below_zero8(__m256 d, int b) {
    return _mm256_and_si256(_mm256_castps_si256(_mm256_cmp_ps(d, _mm256_setzero_ps(), _CMP_LT_OQ)),
                            _mm256_set1_epi32(b));
}

// Transform4 and Shading4 eight vertices at a time, for processors with AVX2: the same
// operations in the same order (no fused multiply-add), so results are identical.
RASTER_AVX2 void vertices8(const Transform4& t, const Shading4* sh, __m128i same, const Vec3* pos,
                           const Vec3* nrm, Vertex* out, uint32_t groups) {
    __m256 m[4][3];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j)
            m[i][j] = wide(t.m[i][j]);
    const __m256 front = wide(t.front), back = wide(t.back), zscale = wide(t.zscale),
                 sx = wide(t.sx), sy = wide(t.sy), cx = wide(t.cx), cy = wide(t.cy),
                 gx0 = wide(t.gx0), gx1 = wide(t.gx1), gy0 = wide(t.gy0), gy1 = wide(t.gy1),
                 gx0c = wide(t.gx0c), gx1c = wide(t.gx1c), gy0c = wide(t.gy0c), gy1c = wide(t.gy1c),
                 nsy = wide(t.nsy);
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256i bad = _mm256_set1_epi32(int(OUT_BAD));
    for (uint32_t g = 0; g < groups; ++g, pos += 8, out += 8) {
        __m128 xl, yl, zl, xh, yh, zh;
        load3x4(pos, xl, yl, zl);
        load3x4(pos + 4, xh, yh, zh);
        const __m256 x = _mm256_set_m128(xh, xl), y = _mm256_set_m128(yh, yl),
                     z = _mm256_set_m128(zh, zl);
        __m256 c[3];
        for (int j = 0; j < 3; ++j)
            c[j] = _mm256_add_ps(
                _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(x, m[0][j]), _mm256_mul_ps(y, m[1][j])),
                              _mm256_mul_ps(z, m[2][j])),
                m[3][j]);
        const __m256 X = c[0], Y = c[1], Z = c[2];
        const __m256 fin = _mm256_and_ps(_mm256_and_ps(finite8(X), finite8(Y)), finite8(Z));
        const __m256 sxX = _mm256_mul_ps(sx, X), syY = _mm256_mul_ps(sy, Y);
        __m256i code = _mm256_or_si256(
            _mm256_or_si256(
                _mm256_or_si256(below_zero8(_mm256_sub_ps(Z, front), OUT_NEAR),
                                below_zero8(_mm256_sub_ps(back, Z), OUT_FAR)),
                _mm256_or_si256(
                    below_zero8(_mm256_sub_ps(sxX, _mm256_mul_ps(gx0c, Z)), OUT_LEFT),
                    below_zero8(_mm256_sub_ps(_mm256_mul_ps(gx1c, Z), sxX), OUT_RIGHT))),
            _mm256_or_si256(
                below_zero8(_mm256_sub_ps(_mm256_mul_ps(nsy, Y), _mm256_mul_ps(gy0c, Z)), OUT_TOP),
                below_zero8(_mm256_add_ps(_mm256_mul_ps(gy1c, Z), syY), OUT_BOTTOM)));
        const __m256i fi = _mm256_castps_si256(fin);
        code = _mm256_or_si256(_mm256_and_si256(fi, code), _mm256_andnot_si256(fi, bad));
        const __m256 iz = _mm256_div_ps(one, Z);
        const __m256 PX = _mm256_add_ps(cx, _mm256_mul_ps(sxX, iz));
        const __m256 PY = _mm256_sub_ps(cy, _mm256_mul_ps(syY, iz));
        const __m256 pfin = _mm256_and_ps(finite8(PX), finite8(PY));
        const __m256i inside = _mm256_cmpeq_epi32(code, _mm256_setzero_si256());
        code = _mm256_or_si256(
            code, _mm256_andnot_si256(_mm256_castps_si256(pfin), _mm256_and_si256(inside, bad)));
        const __m256 k16 = _mm256_set1_ps(16.0f);
        const __m256i fx =
            _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_min_ps(_mm256_max_ps(PX, gx0), gx1), k16));
        const __m256i fy =
            _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_min_ps(_mm256_max_ps(PY, gy0), gy1), k16));
        const __m256 d = _mm256_mul_ps(zscale, _mm256_sub_ps(one, _mm256_mul_ps(front, iz)));
        const __m256 zd = _mm256_min_ps(_mm256_max_ps(d, zero), _mm256_set1_ps(65535.0f));

        __m128i rgb_lo = same, rgb_hi = same;
        if (sh) {
            __m128 nxl, nyl, nzl, nxh, nyh, nzh;
            load3x4(nrm, nxl, nyl, nzl);
            load3x4(nrm + 4, nxh, nyh, nzh);
            nrm += 8;
            const __m256 a = _mm256_set_m128(nxh, nxl), b = _mm256_set_m128(nyh, nyl),
                         e = _mm256_set_m128(nzh, nzl);
            __m256 n[3];
            for (int j = 0; j < 3; ++j)
                n[j] = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(a, wide(sh->C[0][j])),
                                                   _mm256_mul_ps(b, wide(sh->C[1][j]))),
                                     _mm256_mul_ps(e, wide(sh->C[2][j])));
            const __m256 len2 =
                _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(n[0], n[0]), _mm256_mul_ps(n[1], n[1])),
                              _mm256_mul_ps(n[2], n[2]));
            const __m256 usable =
                _mm256_and_ps(_mm256_cmp_ps(len2, zero, _CMP_GT_OQ), finite8(len2));
            const __m256 il = _mm256_div_ps(one, _mm256_sqrt_ps(len2));
            const __m256 nx = _mm256_mul_ps(n[0], il), ny = _mm256_mul_ps(n[1], il),
                         nz = _mm256_mul_ps(n[2], il);
            __m256 sum[3] = {wide(sh->ambient[0]), wide(sh->ambient[1]), wide(sh->ambient[2])};
            for (int l = 0; l < sh->nlights; ++l) {
                __m256 dl = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(nx, wide(sh->dir[l][0])),
                                                        _mm256_mul_ps(ny, wide(sh->dir[l][1]))),
                                          _mm256_mul_ps(nz, wide(sh->dir[l][2])));
                dl = _mm256_and_ps(dl, _mm256_and_ps(usable, _mm256_cmp_ps(dl, zero, _CMP_GT_OQ)));
                for (int k = 0; k < 3; ++k)
                    sum[k] = _mm256_add_ps(sum[k], _mm256_mul_ps(dl, wide(sh->color[l][k])));
            }
            __m256i ch[3];
            for (int k = 0; k < 3; ++k) {
                const __m256 u = _mm256_and_ps(_mm256_cmp_ps(sum[k], zero, _CMP_GE_OQ),
                                               _mm256_min_ps(sum[k], one));
                const __m256 v =
                    _mm256_mul_ps(_mm256_mul_ps(wide(sh->base[k]), u), _mm256_set1_ps(255.0f));
                ch[k] = _mm256_cvttps_epi32(_mm256_add_ps(v, _mm256_set1_ps(0.5f)));
            }
            const __m256i rgb = _mm256_or_si256(
                _mm256_or_si256(_mm256_slli_epi32(ch[0], 16), _mm256_slli_epi32(ch[1], 8)), ch[2]);
            rgb_lo = _mm256_castsi256_si128(rgb);
            rgb_hi = _mm256_extracti128_si256(rgb, 1);
        }
        store4(out, _mm256_castsi256_si128(fx), _mm256_castsi256_si128(fy),
               _mm256_castps256_ps128(zd), rgb_lo, _mm256_castsi256_si128(code),
               _mm256_castps256_ps128(X), _mm256_castps256_ps128(Y), _mm256_castps256_ps128(Z));
        store4(out + 4, _mm256_extracti128_si256(fx, 1), _mm256_extracti128_si256(fy, 1),
               _mm256_extractf128_ps(zd, 1), rgb_hi, _mm256_extracti128_si256(code, 1),
               _mm256_extractf128_ps(X, 1), _mm256_extractf128_ps(Y, 1),
               _mm256_extractf128_ps(Z, 1));
    }
}

#undef RASTER_AVX2

} // namespace

void Renderer::draw(Target& t, const Mesh& m, const DrawParams& p) {
    if (!t.pixels || t.width <= 0 || t.height <= 0 || t.width > kMaxSize || t.height > kMaxSize)
        return;
    const int bpp = t.format == Format::XRGB8888 ? 4
                    : t.format == Format::RGB888 ? 3
                    : t.format == Format::RGB565 ? 2
                                                 : 1;
    if (t.pitch < t.width * bpp) return;
    if (t.depth && t.depth_pitch < t.width) return;
    if (t.format == Format::Indexed8 && !t.palette) return;
    if (!m.positions || !m.indices || m.vertex_count == 0 || m.triangle_count == 0) return;

    const Projection& pr = p.projection;
    if (!(std::isfinite(pr.scale_x) && std::isfinite(pr.scale_y) && std::isfinite(pr.center_x) &&
          std::isfinite(pr.center_y) && std::isfinite(pr.front) && std::isfinite(pr.back)))
        return;
    if (!(pr.front > 0 && pr.back > pr.front && pr.scale_x != 0 && pr.scale_y != 0)) return;

    DrawState ds;
    View& v = ds.view;
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
    v.flip = (pr.scale_x > 0) == (pr.scale_y > 0) ? 1.0f : -1.0f;
    v.width = t.width;
    v.height = t.height;
    ds.target = &t;
    ds.span = {&t, t.width};
    ds.gouraud = (p.quality & SHADE_MASK) != SHADE_FLAT;
    ds.fill = ds.gouraud ? pick_fill<true>(t.format) : pick_fill<false>(t.format);
    ds.linefn = pick_line(t.format);
    Bounds box;
    ds.drawn = &box;
    if (!ds.fill.tri || !ds.linefn) return;

    // Vertices: transform, outcode, project (lighting comes later, per used vertex).
    if (verts_.size() < m.vertex_count) verts_.resize(m.vertex_count);
    const auto& M = p.model_to_camera.m;
    // Normals go through the inverse transpose of the upper 3x3: its cofactor matrix, with the
    // determinant's sign (the length is normalised away).
    Shading sh;
    auto& C = sh.C;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            C[i][j] = M[i1][j1] * M[i2][j2] - M[i1][j2] * M[i2][j1];
        }
    const float det = M[0][0] * C[0][0] + M[0][1] * C[0][1] + M[0][2] * C[0][2];
    if (det < 0)
        for (auto& row : C)
            for (float& c : row)
                c = -c;

    for (int k = 0; k < 3; ++k) {
        sh.base[k] = unit_or_zero(p.color[k]);
        sh.ambient[k] = 1;
    }
    const bool lit = (p.quality & LIGHT_MASK) == LIGHT_ON && p.lighting;
    sh.nlights = 0;
    if (lit) {
        const Lighting& L = *p.lighting;
        for (int k = 0; k < 3; ++k)
            sh.ambient[k] = std::isfinite(L.ambient[k]) ? L.ambient[k] : 0;
        const int n = std::clamp(L.directional_count, 0, 8);
        for (int i = 0; i < n; ++i) {
            const Vec3 d = L.directional[i].dir;
            const float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            if (!(len > 0) || !std::isfinite(len)) continue;
            Light& l = sh.lights[sh.nlights++];
            l.dir[0] = -d.x / len;
            l.dir[1] = -d.y / len;
            l.dir[2] = -d.z / len;
            for (int k = 0; k < 3; ++k)
                l.color[k] =
                    std::isfinite(L.directional[i].color[k]) ? L.directional[i].color[k] : 0;
        }
    }

    // Every vertex is lit here, four at a time: cheaper than testing on each use whether it
    // has been, though the ones only back faces use are lit for nothing.
    const bool per_vertex = lit && m.normals && sh.nlights > 0;
    const uint32_t same =
        lit ? pack_rgb(sh.base[0] * unit_or_zero(sh.ambient[0]) * 255.0f,
                       sh.base[1] * unit_or_zero(sh.ambient[1]) * 255.0f,
                       sh.base[2] * unit_or_zero(sh.ambient[2]) * 255.0f)
            : pack_rgb(sh.base[0] * 255.0f, sh.base[1] * 255.0f, sh.base[2] * 255.0f);
    const Transform4 four(v, M);
    const Shading4 sh4(sh);
    const __m128i same4 = _mm_set1_epi32(int(same));
    uint32_t first = 0;
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && m.vertex_count >= 8) {
        const uint32_t groups = m.vertex_count / 8;
        vertices8(four, per_vertex ? &sh4 : nullptr, same4, m.positions, m.normals, verts_.data(),
                  groups);
        first = groups * 8;
    }
    for (; first + 4 <= m.vertex_count; first += 4)
        four.run(m.positions + first, &verts_[first],
                 per_vertex ? sh4.run(m.normals + first) : same4);
    for (uint32_t i = first; i < m.vertex_count; ++i) {
        Vertex& o = verts_[i];
        const Vec3 q = m.positions[i];
        o.cx = q.x * M[0][0] + q.y * M[1][0] + q.z * M[2][0] + M[3][0];
        o.cy = q.x * M[0][1] + q.y * M[1][1] + q.z * M[2][1] + M[3][1];
        o.cz = q.x * M[0][2] + q.y * M[1][2] + q.z * M[2][2] + M[3][2];
        o.outcode = outcode(v, o.cx, o.cy, o.cz);
        if (o.outcode == 0 && !project(v, o)) o.outcode = OUT_BAD;
        o.rgb = per_vertex ? sh.one(m.normals[i]) : same;
    }

    const uint32_t fill_mode = p.quality & FILL_MASK;
    const uint32_t nv = m.vertex_count;
    if (fill_mode == FILL_WIREFRAME && m.edges) {
        // Front faces first, then each listed edge once.
        if (front_.size() < m.triangle_count) {
            front_.resize(m.triangle_count);
            face_colour_.resize(m.triangle_count);
        }
        std::memset(front_.data(), 0, m.triangle_count);
    }
    // Locals: stores through the targets' pointers could otherwise alias them.
    const uint32_t* const indices = m.indices;
    const uint32_t triangles = m.triangle_count;
    const Vertex* const verts = verts_.data();
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
        } else if (!faces_camera(v, a, b, c)) {
            continue;
        }
        // Flat shading: the average of the three vertex colours.
        uint32_t flat = 0;
        if (!ds.gouraud) {
            auto avg = [&](int sh) {
                const uint32_t sum =
                    ((a.rgb >> sh) & 0xFF) + ((b.rgb >> sh) & 0xFF) + ((c.rgb >> sh) & 0xFF);
                return ((sum + 1) / 3) << sh;
            };
            flat = avg(16) | avg(8) | avg(0);
        }

        if (fill_mode == FILL_WIREFRAME || fill_mode == FILL_POINTS) {
            const uint32_t* f = ds.gouraud ? nullptr : &flat;
            if (fill_mode == FILL_WIREFRAME && m.edges) {
                front_[tri] = 1;
                face_colour_[tri] = flat;
            } else if (fill_mode == FILL_WIREFRAME) {
                const uint8_t mask = m.edge_masks ? m.edge_masks[tri] : 7;
                if (mask & 1) draw_edge(ds, a, b, f);
                if (mask & 2) draw_edge(ds, b, c, f);
                if (mask & 4) draw_edge(ds, c, a, f);
            } else {
                for (const Vertex* w : {&a, &b, &c}) {
                    if (w->outcode) continue;
                    const int px = w->fx >> 4, py = w->fy >> 4;
                    if (px < 0 || py < 0 || px >= t.width || py >= t.height) continue;
                    plot(t, px, py, w->z, f ? *f : w->rgb);
                    box.add(px, py, px + 1, py + 1);
                }
            }
            continue;
        }

        if (any == 0) {
            fill_triangle(ds, a, b, c, cross, flat);
        } else {
            clip_fill(ds, a, b, c, any, flat);
        }
    }
    if (fill_mode == FILL_WIREFRAME && m.edges)
        for (uint32_t i = 0; i < m.edge_count; ++i) {
            const MeshEdge& e = m.edges[i];
            if (e.a >= nv || e.b >= nv) continue;
            uint32_t f = kNoFace;
            for (uint32_t g : e.faces)
                if (f == kNoFace && g < m.triangle_count && front_[g]) f = g;
            if (f == kNoFace) continue;
            draw_edge(ds, verts_[e.a], verts_[e.b], ds.gouraud ? nullptr : &face_colour_[f]);
        }
    if (box.x0 < box.x1) grow(drawn_, box.x0, box.y0, box.x1, box.y1);
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

Rect Renderer::drawn() const {
    return drawn_;
}

void Renderer::reset_drawn() {
    drawn_ = {0, 0, 0, 0};
}

namespace {

void fill_bytes(uint8_t* p, size_t bytes, __m128i v) {
    size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i + 16), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i + 32), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i + 48), v);
    }
    for (; i + 16 <= bytes; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), v);
    alignas(16) uint8_t tail[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(tail), v);
    std::memcpy(p + i, tail, bytes - i);
}

void fill32(uint32_t* p, size_t n, uint32_t v) {
    fill_bytes(reinterpret_cast<uint8_t*>(p), n * 4, _mm_set1_epi32(int(v)));
}

void fill16(uint16_t* p, size_t n, uint16_t v) {
    fill_bytes(reinterpret_cast<uint8_t*>(p), n * 2, _mm_set1_epi16(int16_t(v)));
}

} // namespace

void clear(Target& t, const Rect& r, uint32_t rgb, uint16_t depth) {
    if (!t.pixels || t.width <= 0 || t.height <= 0) return;
    const int x0 = std::max(r.left, 0), y0 = std::max(r.top, 0);
    const int x1 = std::min(r.right, t.width), y1 = std::min(r.bottom, t.height);
    if (x0 >= x1 || y0 >= y1) return;
    const size_t n = size_t(x1 - x0);
    uint8_t index = 0;
    if (t.format == Format::Indexed8 && t.palette) index = t.palette->index_for(rgb);
    for (int y = y0; y < y1; ++y) {
        uint8_t* row = t.pixels + size_t(y) * size_t(t.pitch);
        switch (t.format) {
        case Format::XRGB8888:
            fill32(reinterpret_cast<uint32_t*>(row) + x0, n, rgb & 0xFFFFFF);
            break;
        case Format::RGB565:
            fill16(reinterpret_cast<uint16_t*>(row) + x0, n, to565(rgb));
            break;
        case Format::RGB888:
            for (int x = x0; x < x1; ++x)
                store_pixel(t, row, x, rgb);
            break;
        case Format::Indexed8:
            std::memset(row + x0, index, n);
            break;
        case Format::Count8:
            std::memset(row + x0, 0, n);
            break;
        }
        if (t.depth) fill16(t.depth + size_t(y) * size_t(t.depth_pitch) + x0, n, depth);
    }
}

} // namespace raster
