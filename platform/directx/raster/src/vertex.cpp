// The vertex stage's per-draw set-up, and the choice of width: eight at a time where the
// processor has AVX2, then four (SSE2), then one by one.
#include "vertex.h"

#include <algorithm>
#include <cmath>

namespace raster {

namespace {

float unit_or_zero(float v) {
    return v >= 0 ? std::min(v, 1.0f) : 0.0f;
}

VertexConsts<1> consts(const Mesh& m, const DrawParams& p, const Frustum<1>& view) {
    VertexConsts<1> k;
    const auto& M = p.model_to_camera.m;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j)
            k.m[i][j] = M[i][j];
    k.view = view;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            k.C[i][j] = M[i1][j1] * M[i2][j2] - M[i1][j2] * M[i2][j1];
        }
    const float det = M[0][0] * k.C[0][0] + M[0][1] * k.C[0][1] + M[0][2] * k.C[0][2];
    if (det < 0)
        for (auto& row : k.C)
            for (float& c : row)
                c = -c;

    for (int c = 0; c < 3; ++c) {
        k.base[c] = unit_or_zero(p.color[c]);
        k.ambient[c] = 1;
    }
    const bool lit = (p.quality & LIGHT_MASK) == LIGHT_ON && p.lighting;
    int n = 0;
    if (lit) {
        const Lighting& L = *p.lighting;
        for (int c = 0; c < 3; ++c)
            k.ambient[c] = std::isfinite(L.ambient[c]) ? L.ambient[c] : 0;
        for (int i = 0; i < std::clamp(L.directional_count, 0, 8); ++i) {
            const Vec3 d = L.directional[i].dir;
            const float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            if (!(len > 0) || !std::isfinite(len)) continue;
            k.dir[n][0] = -d.x / len;
            k.dir[n][1] = -d.y / len;
            k.dir[n][2] = -d.z / len;
            for (int c = 0; c < 3; ++c) {
                const float v = L.directional[i].color[c];
                k.color[n][c] = std::isfinite(v) ? v : 0;
            }
            ++n;
        }
    }
    // Without normals or directional lights every vertex has the same colour.
    k.lights = lit && m.normals ? n : 0;
    const float* b = k.base;
    k.same = lit ? pack_rgb(b[0] * unit_or_zero(k.ambient[0]) * 255.0f,
                            b[1] * unit_or_zero(k.ambient[1]) * 255.0f,
                            b[2] * unit_or_zero(k.ambient[2]) * 255.0f)
                 : pack_rgb(b[0] * 255.0f, b[1] * 255.0f, b[2] * 255.0f);
    return k;
}

} // namespace

// Every vertex is lit here: cheaper than testing on each use whether it has been, though the
// ones only back faces use are lit for nothing.
void transform_vertices(const Mesh& m, const DrawParams& p, const Frustum<1>& view, Vertex* out) {
    const VertexConsts<1> k = consts(m, p, view);
    const Vec3* normals = k.lights ? m.normals : nullptr;
    uint32_t first = 0;
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) first = run_vertices_avx2(k, m.positions, normals, out, m.vertex_count);
    first = run_vertices<Lane4>(k, m.positions, normals, out, first, m.vertex_count);
    run_vertices<Lane1>(k, m.positions, normals, out, first, m.vertex_count);
}

} // namespace raster
