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
