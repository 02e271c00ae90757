// Triangulation of polygons and normals computed for meshes that have none.
#include "xfile_test_util.h"

#include <xfile/mesh.h>

using namespace xtest;

namespace {

using Poly = std::vector<std::pair<float, float>>;

// A polygon given in 2D, tilted out of every axis plane, listed backwards when `reverse`,
// under a frame reflecting z when `mirror`.
Model polygon(const Poly& pts, bool reverse, Format fmt = Format::Text, bool mirror = false) {
    MeshDesc d;
    if (mirror) d.frames = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1}};
    for (auto [x, y] : pts)
        d.positions.push_back({x * 0.8f, y, x * 0.6f + y * 0.3f});
    std::vector<uint32_t> f;
    for (uint32_t i = 0; i < pts.size(); ++i)
        f.push_back(i);
    if (reverse) std::reverse(f.begin(), f.end());
    d.faces.push_back(f);
    return read_ok(write(d, fmt));
}

// n-2 triangles covering the polygon's area, every one with its front on the side the winding
// says (the mirror image of it under a mirror), the outline edges flagged once, no diagonal.
void expect_clean_triangulation(const Poly& pts) {
    double twice_area = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
        auto [x0, y0] = pts[i];
        auto [x1, y1] = pts[(i + 1) % pts.size()];
        twice_area += double(x0) * y1 - double(x1) * y0;
    }
    const Vec3 plane = cross({0.8f, 0, 0.6f}, {0, 1, 0.3f}); // the placement's front and scale
    for (bool mirror : {false, true})
        for (bool reverse : {false, true}) {
            SCOPED_TRACE(testing::Message() << "mirror " << mirror << " reverse " << reverse);
            Model m = polygon(pts, reverse, Format::Text, mirror);
            ASSERT_EQ(m.triangles.size(), pts.size() - 2);
            Vec3 want{plane.x, plane.y, mirror ? -plane.z : plane.z};
            float sign = (twice_area > 0) != reverse ? 1.f : -1.f;
            float total = 0;
            int edge_bits = 0;
            uint32_t n = uint32_t(pts.size());
            for (const Triangle& t : m.triangles) {
                EXPECT_GT(dot(face_dir(m, t), want) * sign, 0) << "triangle turned over";
                total += area(m, t);
                for (int k = 0; k < 3; ++k) {
                    uint32_t a = t.v[k], b = t.v[(k + 1) % 3];
                    bool outline = (t.edges >> k) & 1;
                    EXPECT_EQ(outline, (a + 1) % n == b || (b + 1) % n == a);
                    edge_bits += outline;
                }
            }
            EXPECT_NEAR(total, std::fabs(twice_area) / 2 * std::sqrt(dot(plane, plane)),
                        1e-3 * total);
            EXPECT_EQ(edge_bits, int(n));
        }
}

} // namespace

TEST(XFileGeometry, PolygonsTriangulateInsideTheirOutline) {
    Poly circle, star;
    for (int i = 0; i < 40; ++i)
        circle.push_back({std::cos(i * 0.157f), std::sin(i * 0.157f)});
    for (int i = 0; i < 20; ++i) {
        float r = i % 2 ? 0.4f : 1.f;
        star.push_back({r * std::cos(i * 0.31416f), r * std::sin(i * 0.31416f)});
    }
    const Poly L = {{0, 0}, {0, 2}, {1, 2}, {1, 1}, {2, 1}, {2, 0}};
    // A square, a circle, an L, a dart (concave quad), a comb and a ten-pointed star.
    // clang-format off
    for (const Poly& p : {Poly{{0, 0}, {0, 1}, {1, 1}, {1, 0}}, circle, L,
                          Poly{{0, 0}, {1, 3}, {2, 0}, {1, 1}},
                          Poly{{0, 0}, {0, 3}, {1, 3}, {1, 1}, {2, 1}, {2, 3}, {3, 3}, {3, 1},
                               {4, 1}, {4, 3}, {5, 3}, {5, 0}},
                          star})
        expect_clean_triangulation(p);
    // clang-format on
    Model ref = polygon(L, false);
    for (Format f : kFormats)
        expect_same(ref, polygon(L, false, f));
}

TEST(XFileGeometry, DegeneratePolygonsStillGiveNMinusTwoTriangles) {
    // Collinear points, repeated points and a bow tie: no crash, the count stays right so
    // normals and materials still pair with faces.
    for (const Poly& pts :
         {Poly{{0, 0}, {1, 0}, {2, 0}, {3, 0}}, Poly{{0, 0}, {0, 0}, {1, 1}, {1, 1}, {0, 1}},
          Poly{{0, 0}, {1, 1}, {1, 0}, {0, 1}}, Poly{{0, 0}, {1, 0}, {2, 0}, {2, 1}, {0, 1}}})
        EXPECT_EQ(polygon(pts, false).triangles.size(), pts.size() - 2);
}

TEST(XFileGeometry, ComputedNormalsFlatOnCubesSmoothOnSpheres) {
    Model m = read_ok(write(cube(), Format::Text));
    ASSERT_EQ(m.triangles.size(), 12u);
    EXPECT_EQ(m.normals.size(), 24u); // each corner of the cube split three ways
    for (const Triangle& t : m.triangles) {
        Vec3 fd = face_dir(m, t);
        for (uint32_t n : t.n)
            EXPECT_NEAR(dot(m.normals[n], fd) / std::sqrt(dot(fd, fd)), 1.f, 1e-5);
    }

    MeshDesc s = make_uv_sphere(3000, 2);
    s.normals.clear();
    s.normal_faces.clear();
    // A seam of duplicated positions, as exporters write for texture seams.
    uint32_t dup = uint32_t(s.positions.size());
    s.positions.push_back(s.positions[5]);
    for (auto& f : s.faces)
        for (auto& v : f)
            if (v == 5 && &f < &s.faces[s.faces.size() / 2]) v = dup;
    m = read_ok(write(s, Format::Text));
    for (const Triangle& t : m.triangles)
        for (int k = 0; k < 3; ++k) {
            Vec3 p = m.positions[t.v[k]];
            EXPECT_GT(dot(m.normals[t.n[k]], p) / std::sqrt(dot(p, p)), 0.995f);
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

TEST(XFileGeometry, AppendMeshPlacesOtherReadersMeshesAsTheReaderDoes) {
    // An L-shaped polygon, then the cube as a reader of another format hands it over, with
    // faces naming a missing position, a missing normal, and corners past the end of the list.
    const double stretch[16] = {3, 0, 0, 0, 0.5f, 1, 0, 0, 0, 0, 1, 0, 4, 5, 6, 1};
    const double mirror[16] = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 4, 5, 6, 1};
    const struct {
        const double* matrix;
        bool right_handed;
    } cases[] = {
        {nullptr, false}, {stretch, false}, {mirror, false}, {nullptr, true}, {mirror, true}};
    const MeshDesc c = cube(true);
    for (const auto& k : cases)
        for (bool own : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << (k.matrix == stretch) << (k.matrix == mirror) << k.right_handed << own);
            Model m;
            size_t dropped = 0;
            std::string err;
            PolyMesh l;
            l.positions = {{0, 0, 0}, {0, 2, 0}, {1, 2, 0}, {1, 1, 0}, {2, 1, 0}, {2, 0, 0}};
            l.face_sizes = {6};
            l.position_index = {0, 1, 2, 3, 4, 5};
            ASSERT_TRUE(append_mesh(l, {stretch, false}, m, &dropped, &err)) << err;
            ASSERT_EQ(m.triangles.size(), 4u);
            EXPECT_TRUE(m.positions[5] == (Vec3{10, 5, 6}));

            // Right-handed files list fronts counter-clockwise: the same cube, z and order
            // reversed.
            const float zs = k.right_handed ? -1.f : 1.f;
            PolyMesh p;
            for (Vec3 v : c.positions)
                p.positions.push_back({v.x, v.y, v.z * zs});
            for (size_t f = 0; f < 6; ++f) {
                std::vector<uint32_t> face = c.faces[f];
                if (k.right_handed) std::reverse(face.begin(), face.end());
                p.face_sizes.push_back(4);
                p.position_index.insert(p.position_index.end(), face.begin(), face.end());
            }
            p.face_sizes.insert(p.face_sizes.end(), {3, 3, 5});
            p.position_index.insert(p.position_index.end(), {0, 1, 9, 0, 1, 2});
            if (own) {
                for (Vec3 n : c.normals)
                    p.normals.push_back({n.x, n.y, n.z * zs});
                for (uint32_t f = 0; f < 6; ++f)
                    p.normal_index.insert(p.normal_index.end(), 4, f);
                p.normal_index.insert(p.normal_index.end(), {0, 0, 0, 0, 0, 7});
            }
            ASSERT_TRUE(append_mesh(p, {k.matrix, k.right_handed}, m, &dropped, &err)) << err;
            EXPECT_EQ(dropped, own ? 3u : 2u);
            ASSERT_EQ(m.triangles.size(), own ? 16u : 17u);
            const Vec3 centre = k.matrix ? Vec3{4, 5, 6 * zs} : Vec3{0, 0, 0};
            for (size_t i = 4; i < 4 + 12; ++i) {
                const Triangle& t = m.triangles[i];
                const Vec3 fd = face_dir(m, t);
                EXPECT_GE(t.v[0], 6u);
                EXPECT_GT(dot(fd, sub(m.positions[t.v[0]], centre)), 0) << "front turned inwards";
                for (uint32_t n : t.n)
                    EXPECT_NEAR(dot(m.normals[n], fd) / std::sqrt(dot(fd, fd)), 1.f, 1e-5);
            }
        }
}
