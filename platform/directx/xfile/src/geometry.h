// Polygon triangulation and normal generation for the reader.
#pragma once

#include <xfile/xfile.h>

#include <cstdint>
#include <vector>

namespace xfile::detail {

// A triangle as corner numbers of its polygon, in the polygon's winding, with edge flags as in
// Triangle::edges.
struct Corner3 {
    uint32_t a, b, c;
    uint8_t edges;
};

class Triangulator {
  public:
    // Appends exactly n - 2 triangles for the polygon idx[0..n) (n >= 3) over positions pos.
    // Simple polygons, convex or concave, come out with the polygon's winding and no
    // triangle turned over; degenerate or self-intersecting ones fall back to a fan.
    void run(const Vec3* pos, const uint32_t* idx, uint32_t n, std::vector<Corner3>& out);

  private:
    void fan_ring(uint32_t start, uint32_t m, uint32_t n, std::vector<Corner3>& out);
    std::vector<double> x_, y_;
    std::vector<uint32_t> prev_, next_;
};

// Vectors in double precision, for sums of cross products of float positions.
struct D3 {
    double x, y, z;
};

inline D3 sub(const Vec3& a, const Vec3& b) {
    return {double(a.x) - b.x, double(a.y) - b.y, double(a.z) - b.z};
}
inline D3 cross(const D3& a, const D3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double dot(const D3& a, const D3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// The normal of the triangle's front side (Triangle), scaled by twice its area: summed over
// a polygon's triangles it gives the polygon's normal weighted by area.
inline D3 area_normal(const Vec3* pos, const Triangle& t) {
    return cross(sub(pos[t.v[1]], pos[t.v[0]]), sub(pos[t.v[2]], pos[t.v[0]]));
}

// v at unit length, or `fallback` when it has no direction (zero, tiny or not finite).
Vec3 unit(const D3& v, const Vec3& fallback);

inline uint8_t edge_bits(uint32_t a, uint32_t b, uint32_t c, uint32_t n) {
    auto nx = [n](uint32_t i) { return i + 1 == n ? 0u : i + 1; };
    return uint8_t((nx(a) == b ? 1 : 0) | (nx(b) == c ? 2 : 0) | (nx(c) == a ? 4 : 0));
}

// Smooth normals for one mesh: corners of vertices at the same position whose faces meet at
// less than about 60 degrees share an angle-weighted normal; sharper creases stay split.
// Triangles of face f are consecutive, max(face_sizes[f] - 2, 0) of them. Sets each corner's
// normal index (appending to normals).
class NormalBuilder {
  public:
    void run(const Vec3* pos, uint32_t base, uint32_t nv, Triangle* tris, size_t ntris,
             const uint32_t* face_sizes, size_t nfaces, std::vector<Vec3>& normals);

  private:
    std::vector<uint32_t> canon_, table_, start_, corners_;
    std::vector<Vec3> face_n_;
    std::vector<uint8_t> cluster_;
};

} // namespace xfile::detail
