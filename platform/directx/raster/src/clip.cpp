// Clipping in camera space, which never divides by a small z: triangles and edges that cross
// the near or far plane or leave the guard band around the target are cut against those planes
// (Sutherland-Hodgman for polygons, parametric for segments), the colour carried along, and the
// pieces projected.
#include "vertex.h"

#include <algorithm>
#include <cstring>

namespace raster {
namespace {

// Camera-space vertex with colour, the unit of clipping.
struct ClipVert {
    float x, y, z, r, g, b;
};

ClipVert clip_vert(const Vertex& v) {
    ClipVert c{v.cx, v.cy, v.cz, 0, 0, 0};
    unpack_rgb(v.rgb, c.r, c.g, c.b);
    return c;
}

ClipVert lerp(const ClipVert& a, const ClipVert& b, float t) {
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t,
            a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A clipped point as a projected vertex, with the vertex stage's own projection; false when the
// result is not finite.
bool to_vertex(const Frustum<1>& view, const ClipVert& c, Vertex& v) {
    const Projected<Lane1> p = project<Lane1>(view, c.x, c.y, c.z);
    if (!p.finite) return false;
    v = {int32_t(p.fx),
         int32_t(p.fy),
         p.z,
         pack_rgb(std::clamp(c.r, 0.0f, 255.0f), std::clamp(c.g, 0.0f, 255.0f),
                  std::clamp(c.b, 0.0f, 255.0f)),
         0,
         c.x,
         c.y,
         c.z};
    return true;
}

} // namespace

// Front-facing in camera space, valid whatever the depths of the vertices.
bool faces_camera(const DrawState& ds, const Vertex& a, const Vertex& b, const Vertex& c) {
    const float ux = b.cx - a.cx, uy = b.cy - a.cy, uz = b.cz - a.cz;
    const float vx = c.cx - a.cx, vy = c.cy - a.cy, vz = c.cz - a.cz;
    const float nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    return (nx * a.cx + ny * a.cy + nz * a.cz) * ds.flip < 0;
}

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
    // A convex polygon of up to 9 vertices, filled as a fan.
    Vertex v[9];
    for (int i = 0; i < n; ++i)
        if (!to_vertex(ds.view, buf[cur][i], v[i])) return;
    for (int i = 1; i + 1 < n; ++i) {
        const int64_t cross = screen_cross(v[0], v[i], v[i + 1]);
        if (cross > 0) ds.fill(ds, v[0], v[i], v[i + 1], cross, flat);
    }
}

bool clip_segment(const DrawState& ds, const Vertex& a, const Vertex& b, Vertex& s, Vertex& e) {
    if (a.outcode & b.outcode) return false;
    float da[6], db[6];
    plane_distances(ds.view, a.cx, a.cy, a.cz, da);
    plane_distances(ds.view, b.cx, b.cy, b.cz, db);
    float t0 = 0, t1 = 1;
    for (int p = 0; p < 6; ++p) {
        if (da[p] < 0 && db[p] < 0) return false;
        if (da[p] < 0)
            t0 = std::max(t0, da[p] / (da[p] - db[p]));
        else if (db[p] < 0)
            t1 = std::min(t1, da[p] / (da[p] - db[p]));
    }
    if (!(t0 <= t1)) return false;
    const ClipVert ca = clip_vert(a), cb = clip_vert(b);
    return to_vertex(ds.view, lerp(ca, cb, t0), s) && to_vertex(ds.view, lerp(ca, cb, t1), e);
}

} // namespace raster
