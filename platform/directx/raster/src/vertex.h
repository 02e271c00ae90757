// The vertex stage, written once over the lane width (lanes.h): model to camera space, outcode,
// projection to 28.4 fixed-point screen positions and depth, and lighting. Every width runs the
// same operations in the same order (no fused multiply-add), so a vertex comes out the same
// whether it was handled alone, in four or in eight.
#pragma once

#include "lanes.h"
#include "pipeline.h"

namespace raster {

// Per-draw constants of the vertex stage in W lanes.
template <int W> struct VertexConsts {
    using F = Floats<W>;
    F m[4][3]; // model to camera: the matrix's first three columns
    Frustum<W> view;
    // Lighting: normals go through C, the cofactors of the matrix's upper 3x3 with its
    // determinant's sign (its inverse transpose up to a scale the normalising removes).
    F C[3][3];
    F ambient[3], base[3];
    F dir[8][3], color[8][3]; // towards each light (unit), and its colour
    int lights;               // 0: every vertex takes the colour `same`
    uint32_t same;
};

// vertex_avx2.cpp, built for AVX2: the stage eight at a time over vertices 0..count-1. Returns
// the first vertex left over.
uint32_t run_vertices_avx2(const VertexConsts<1>&, const Vec3* pos, const Vec3* nrm, Vertex* out,
                           uint32_t count);

namespace {

// The per-draw constants broadcast to every lane of L.
template <class L> Frustum<L::width> widen(const Frustum<1>& v) {
    auto s = L::splat;
    return {s(v.sx),  s(v.sy),  s(v.cx),  s(v.cy),   s(v.front), s(v.back), s(v.zscale), s(v.gx0),
            s(v.gx1), s(v.gy0), s(v.gy1), s(v.gx0c), s(v.gx1c),  s(v.gy0c), s(v.gy1c),   s(v.nsy)};
}

template <class L> VertexConsts<L::width> widen(const VertexConsts<1>& k) {
    VertexConsts<L::width> w;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j)
            w.m[i][j] = L::splat(k.m[i][j]);
    w.view = widen<L>(k.view);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            w.C[i][j] = L::splat(k.C[i][j]);
        w.ambient[i] = L::splat(k.ambient[i]);
        w.base[i] = L::splat(k.base[i]);
    }
    for (int l = 0; l < k.lights; ++l)
        for (int c = 0; c < 3; ++c) {
            w.dir[l][c] = L::splat(k.dir[l][c]);
            w.color[l][c] = L::splat(k.color[l][c]);
        }
    w.lights = k.lights;
    w.same = k.same;
    return w;
}

// Planes a camera-space point is outside of; OUT_BAD alone when it is not finite.
template <class L, class F = typename L::F, class I = typename L::I>
I outcode(const Frustum<L::width>& v, F x, F y, F z) {
    F d[6];
    plane_distances(v, x, y, z, d);
    const F zero = L::splat(0.0f);
    I code = L::splat_int(0);
    for (int i = 0; i < 6; ++i)
        code = code | (less(d[i], zero) & L::splat_int(1u << i));
    const I ok = finite(x) & finite(y) & finite(z);
    return (ok & code) | (~ok & L::splat_int(OUT_BAD));
}

// Screen position in 1/16 pixel and depth 0..65535 of points inside the guard band, and which
// lanes came out finite.
template <class L> struct Projected {
    typename L::I fx, fy, finite;
    typename L::F z;
};

template <class L, class F = typename L::F>
Projected<L> project(const Frustum<L::width>& v, F x, F y, F z) {
    const F iz = L::splat(1.0f) / z;
    const F X = v.cx + v.sx * x * iz, Y = v.cy - v.sy * y * iz;
    // Clipping leaves points on the band's edge; rounding must not carry them past it.
    const F sixteen = L::splat(16.0f);
    Projected<L> p;
    p.fx = round(min(max(X, v.gx0), v.gx1) * sixteen);
    p.fy = round(min(max(Y, v.gy0), v.gy1) * sixteen);
    p.z = min(max(v.zscale * (L::splat(1.0f) - v.front * iz), L::splat(0.0f)), L::splat(65535.0f));
    p.finite = finite(X) & finite(Y);
    return p;
}

// Colours (0x00RRGGBB) of the normals at n: base x (ambient + sum over lights of
// max(0, N . L) x colour), each channel clamped to 0..1. A lane whose normal has no usable
// length gets the ambient term alone; lanes that add nothing add +0 or -0, which leaves every
// sum that matters unchanged.
template <class L, class F = typename L::F, class I = typename L::I>
I shade(const VertexConsts<L::width>& k, const Vec3* n) {
    F x, y, z;
    load(n, x, y, z);
    F t[3];
    for (int j = 0; j < 3; ++j)
        t[j] = x * k.C[0][j] + y * k.C[1][j] + z * k.C[2][j];
    const F zero = L::splat(0.0f), one = L::splat(1.0f);
    const F len2 = t[0] * t[0] + t[1] * t[1] + t[2] * t[2];
    const I usable = greater(len2, zero) & finite(len2);
    const F il = one / sqrt(len2);
    const F nx = t[0] * il, ny = t[1] * il, nz = t[2] * il;
    F sum[3] = {k.ambient[0], k.ambient[1], k.ambient[2]};
    for (int l = 0; l < k.lights; ++l) {
        F d = nx * k.dir[l][0] + ny * k.dir[l][1] + nz * k.dir[l][2];
        d = keep(d, usable & greater(d, zero));
        for (int c = 0; c < 3; ++c)
            sum[c] = sum[c] + d * k.color[l][c];
    }
    I ch[3];
    for (int c = 0; c < 3; ++c) {
        const F u = keep(min(sum[c], one), at_least(sum[c], zero));
        ch[c] = truncate(k.base[c] * u * L::splat(255.0f) + L::splat(0.5f));
    }
    return shift_left<16>(ch[0]) | shift_left<8>(ch[1]) | ch[2];
}

// L::width vertices from p (and their normals from n when lit) into out.
template <class L, class F = typename L::F, class I = typename L::I>
void vertex_group(const VertexConsts<L::width>& k, const Vec3* p, const Vec3* n, Vertex* out) {
    F x, y, z;
    load(p, x, y, z);
    // Model to camera space.
    F c[3];
    for (int j = 0; j < 3; ++j)
        c[j] = x * k.m[0][j] + y * k.m[1][j] + z * k.m[2][j] + k.m[3][j];
    I code = outcode<L>(k.view, c[0], c[1], c[2]);
    // Screen fields are meaningful only where the code is 0; there they must be finite.
    const Projected<L> s = project<L>(k.view, c[0], c[1], c[2]);
    code = code | (is_zero(code) & ~s.finite & L::splat_int(OUT_BAD));
    const I rgb = k.lights ? shade<L>(k, n) : L::splat_int(k.same);
    store(out, s.fx, s.fy, s.z, rgb, code, c[0], c[1], c[2]);
}

// Vertices first..count-1, L::width at a time while a whole group is left (normals: null when
// unlit). Returns the first vertex left over.
template <class L>
uint32_t run_vertices(const VertexConsts<1>& k1, const Vec3* pos, const Vec3* nrm, Vertex* out,
                      uint32_t first, uint32_t count) {
    const VertexConsts<L::width> k = widen<L>(k1);
    uint32_t i = first;
    for (; count - i >= uint32_t(L::width); i += L::width)
        vertex_group<L>(k, pos + i, nrm ? nrm + i : nullptr, out + i);
    return i;
}

} // namespace
} // namespace raster
