// Triangulation of polygons and normals computed for meshes that have none.
#include "xfile_test_util.h"

using namespace xtest;

namespace {

// A polygon given in 2D, placed in 3D by the rows of a rotation (and a reflection of the
// winding when `reverse`).
Model polygon(std::vector<std::pair<float, float>> pts, bool reverse, Format fmt = Format::Text,
              bool mirror = false) {
    MeshDesc d;
    if (mirror) d.frames = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1}};
    const float c = 0.8f, s = 0.6f; // tilt out of every axis plane
    for (auto [x, y] : pts)
        d.positions.push_back({x * c, y, x * s + y * 0.3f});
    std::vector<uint32_t> f;
    for (uint32_t i = 0; i < pts.size(); ++i)
        f.push_back(i);
    if (reverse) std::reverse(f.begin(), f.end());
    d.faces.push_back(f);
    return read_ok(write(d, fmt));
}

float polygon_area_2d(const std::vector<std::pair<float, float>>& p) {
    double a = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        auto [x0, y0] = p[i];
        auto [x1, y1] = p[(i + 1) % p.size()];
        a += double(x0) * y1 - double(x1) * y0;
    }
    return float(std::fabs(a) / 2);
}

void expect_clean_triangulation(const std::vector<std::pair<float, float>>& pts) {
    for (bool reverse : {false, true}) {
        SCOPED_TRACE(reverse);
        Model m = polygon(pts, reverse);
        ASSERT_EQ(m.triangles.size(), pts.size() - 2);
        // Scale of areas under the placement: |(c, 0, s) x (0, 1, 0.3)|.
        Vec3 ex{0.8f, 0, 0.6f}, ey{0, 1, 0.3f};
        Vec3 plane = cross(ex, ey);
        float scale = std::sqrt(dot(plane, plane));
        float total = 0;
        Vec3 first = face_dir(m, m.triangles[0]);
        int edge_bits = 0;
        for (const Triangle& t : m.triangles) {
            Vec3 fd = face_dir(m, t);
            EXPECT_GT(dot(fd, first), 0) << "triangle turned over";
            total += area(m, t);
            for (int k = 0; k < 3; ++k) {
                bool outline = (t.edges >> k) & 1;
                uint32_t a = t.v[k], b = t.v[(k + 1) % 3];
                uint32_t n = uint32_t(pts.size());
                bool adjacent = (a + 1) % n == b || (b + 1) % n == a;
                EXPECT_EQ(outline, adjacent);
                edge_bits += outline;
            }
        }
        EXPECT_NEAR(total, polygon_area_2d(pts) * scale, 1e-3 * total);
        EXPECT_EQ(edge_bits, int(pts.size())); // each outline edge once, no diagonal
        // The front is the side the polygon's winding says.
        Vec3 want = reverse ? Vec3{-plane.x, -plane.y, -plane.z} : plane;
        double a2 = 0;
        for (size_t i = 0; i < pts.size(); ++i)
            a2 += double(pts[i].first) * pts[(i + 1) % pts.size()].second -
                  double(pts[(i + 1) % pts.size()].first) * pts[i].second;
        float sign = a2 > 0 ? 1.f : -1.f;
        EXPECT_GT(dot(first, want) * sign, 0);
    }
}

} // namespace

TEST(XFileGeometry, ConvexPolygonsBecomeNMinusTwoTriangles) {
    expect_clean_triangulation({{0, 0}, {0, 1}, {1, 1}, {1, 0}});
    std::vector<std::pair<float, float>> circle;
    for (int i = 0; i < 40; ++i)
        circle.push_back({std::cos(i * 0.157f), std::sin(i * 0.157f)});
    expect_clean_triangulation(circle);
}

TEST(XFileGeometry, ConcavePolygonsTriangulateInside) {
    // An L, a dart (concave quad), a comb, and a ten-pointed star.
    expect_clean_triangulation({{0, 0}, {0, 2}, {1, 2}, {1, 1}, {2, 1}, {2, 0}});
    expect_clean_triangulation({{0, 0}, {1, 3}, {2, 0}, {1, 1}});
    expect_clean_triangulation({{0, 0},
                                {0, 3},
                                {1, 3},
                                {1, 1},
                                {2, 1},
                                {2, 3},
                                {3, 3},
                                {3, 1},
                                {4, 1},
                                {4, 3},
                                {5, 3},
                                {5, 0}});
    std::vector<std::pair<float, float>> star;
    for (int i = 0; i < 20; ++i) {
        float r = i % 2 ? 0.4f : 1.f;
        star.push_back({r * std::cos(i * 0.31416f), r * std::sin(i * 0.31416f)});
    }
    expect_clean_triangulation(star);
}

TEST(XFileGeometry, ConcavePolygonsReadTheSameInEveryEncoding) {
    std::vector<std::pair<float, float>> l = {{0, 0}, {0, 2}, {1, 2}, {1, 1}, {2, 1}, {2, 0}};
    Model ref = polygon(l, false);
    for (Format f : kFormats)
        expect_same(ref, polygon(l, false, f));
}

TEST(XFileGeometry, MirroredPolygonsKeepOutlineEdgesAndStayUnfolded) {
    std::vector<std::pair<float, float>> l = {{0, 0}, {0, 2}, {1, 2}, {1, 1}, {2, 1}, {2, 0}};
    Model plain = polygon(l, false);
    Model m = polygon(l, false, Format::Binary32, true);
    ASSERT_EQ(m.triangles.size(), 4u);
    Vec3 first = face_dir(m, m.triangles[0]);
    for (size_t i = 0; i < m.triangles.size(); ++i) {
        const Triangle& t = m.triangles[i];
        EXPECT_GT(dot(face_dir(m, t), first), 0);
        for (int k = 0; k < 3; ++k) {
            uint32_t a = t.v[k], b = t.v[(k + 1) % 3];
            bool adjacent = (a + 1) % 6 == b || (b + 1) % 6 == a;
            EXPECT_EQ(bool((t.edges >> k) & 1), adjacent);
        }
        // The mirror image of the unmirrored front.
        Vec3 p = face_dir(plain, plain.triangles[i]);
        EXPECT_GT(dot(face_dir(m, t), Vec3{p.x, p.y, -p.z}), 0);
    }
}

TEST(XFileGeometry, DegeneratePolygonsStillGiveNMinusTwoTriangles) {
    // Collinear points, repeated points and a bow tie: no crash, the count stays right so
    // normals and materials still pair with faces.
    for (auto pts : std::vector<std::vector<std::pair<float, float>>>{
             {{0, 0}, {1, 0}, {2, 0}, {3, 0}},
             {{0, 0}, {0, 0}, {1, 1}, {1, 1}, {0, 1}},
             {{0, 0}, {1, 1}, {1, 0}, {0, 1}},
             {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {0, 1}}}) {
        Model m = polygon(pts, false);
        EXPECT_EQ(m.triangles.size(), pts.size() - 2);
    }
}

TEST(XFileGeometry, ComputedNormalsKeepCubeSidesFlat) {
    Model m = read_ok(write(cube(), Format::Text));
    ASSERT_EQ(m.triangles.size(), 12u);
    for (const Triangle& t : m.triangles) {
        Vec3 fd = face_dir(m, t);
        float len = std::sqrt(dot(fd, fd));
        for (uint32_t n : t.n)
            EXPECT_NEAR(dot(m.normals[n], fd) / len, 1.f, 1e-5);
    }
    EXPECT_EQ(m.normals.size(), 24u); // each corner of the cube split three ways
}

TEST(XFileGeometry, ComputedNormalsAreSmoothOnCurvedSurfaces) {
    MeshDesc s = make_uv_sphere(3000, 2);
    s.normals.clear();
    s.normal_faces.clear();
    // A seam of duplicated positions, as exporters write for texture seams.
    uint32_t dup = uint32_t(s.positions.size());
    s.positions.push_back(s.positions[5]);
    for (auto& f : s.faces)
        for (auto& v : f)
            if (v == 5 && &f < &s.faces[s.faces.size() / 2]) v = dup;
    Model m = read_ok(write(s, Format::Text));
    for (const Triangle& t : m.triangles)
        for (int k = 0; k < 3; ++k) {
            Vec3 p = m.positions[t.v[k]];
            float len = std::sqrt(dot(p, p));
            EXPECT_GT(dot(m.normals[t.n[k]], p) / len, 0.995f);
        }
}

TEST(XFileGeometry, DegenerateFacesGetUsableNormals) {
    Model m = read_text("Mesh { 3; 0;0;0;, 0;0;0;, 0;0;0;; 1; 3;0,1,2;; }");
    ASSERT_EQ(m.triangles.size(), 1u);
    for (uint32_t n : m.triangles[0].n)
        EXPECT_NEAR(dot(m.normals[n], m.normals[n]), 1.f, 1e-6);
    Model z = read_text(R"(Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;;
        MeshNormals { 1; 0;0;0;; 1; 3;0,0,0;; } })");
    EXPECT_NEAR(z.normals[z.triangles[0].n[0]].z, -1.f, 1e-6);
}
