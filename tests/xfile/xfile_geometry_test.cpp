// Triangulation of polygons, normals computed or repaired, and meshes other readers hand over.
#include "xfile_test_util.h"

#include <xfile/mesh.h>

using namespace xtest;

namespace {

using Poly = std::vector<std::pair<float, float>>;

// A polygon given in 2D, tilted out of every axis plane, listed backwards when `reverse`.
Model polygon(const Poly& pts, bool reverse) {
    PolyMesh p;
    for (auto [x, y] : pts)
        p.positions.push_back({x * 0.8f, y, x * 0.6f + y * 0.3f});
    p.face_sizes = {uint32_t(pts.size())};
    for (uint32_t i = 0; i < pts.size(); ++i)
        p.position_index.push_back(reverse ? uint32_t(pts.size()) - 1 - i : i);
    Model m;
    EXPECT_TRUE(append_mesh(p, {}, m, nullptr, nullptr));
    return m;
}

// n-2 triangles covering the polygon's area, every one with its front on the side the winding
// says, the outline edges flagged once, no diagonal.
void expect_clean_triangulation(const Poly& pts) {
    double twice_area = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
        auto [x0, y0] = pts[i];
        auto [x1, y1] = pts[(i + 1) % pts.size()];
        twice_area += double(x0) * y1 - double(x1) * y0;
    }
    const Vec3 plane = cross({0.8f, 0, 0.6f}, {0, 1, 0.3f}); // the placement's front and scale
    const uint32_t n = uint32_t(pts.size());
    for (bool reverse : {false, true}) {
        const Model m = polygon(pts, reverse);
        ASSERT_EQ(m.triangles.size(), n - 2);
        const float sign = (twice_area > 0) != reverse ? 1.f : -1.f;
        float total = 0;
        int edge_bits = 0;
        for (const Triangle& t : m.triangles) {
            const Vec3 fd = face_dir(m, t);
            EXPECT_GT(dot(fd, plane) * sign, 0) << "triangle turned over, reverse " << reverse;
            total += 0.5f * std::sqrt(dot(fd, fd));
            for (int k = 0; k < 3; ++k) {
                const uint32_t a = t.v[k], b = t.v[(k + 1) % 3];
                const bool outline = (t.edges >> k) & 1;
                EXPECT_EQ(outline, (a + 1) % n == b || (b + 1) % n == a);
                edge_bits += outline;
            }
        }
        EXPECT_NEAR(total, std::fabs(twice_area) / 2 * std::sqrt(dot(plane, plane)), 1e-3 * total);
        EXPECT_EQ(edge_bits, int(n));
    }
}

} // namespace

TEST(XFileGeometry, PolygonsTriangulateInsideTheirOutline) {
    Poly circle, star;
    for (int i = 0; i < 40; ++i)
        circle.push_back({std::cos(i * 0.157f), std::sin(i * 0.157f)});
    for (int i = 0; i < 20; ++i) {
        const float r = i % 2 ? 0.4f : 1.f;
        star.push_back({r * std::cos(i * 0.31416f), r * std::sin(i * 0.31416f)});
    }
    // A square, a circle, an L, a dart (concave quad), a comb and a ten-pointed star.
    // clang-format off
    for (const Poly& p : {Poly{{0, 0}, {0, 1}, {1, 1}, {1, 0}}, circle,
                          Poly{{0, 0}, {0, 2}, {1, 2}, {1, 1}, {2, 1}, {2, 0}},
                          Poly{{0, 0}, {1, 3}, {2, 0}, {1, 1}},
                          Poly{{0, 0}, {0, 3}, {1, 3}, {1, 1}, {2, 1}, {2, 3}, {3, 3}, {3, 1},
                               {4, 1}, {4, 3}, {5, 3}, {5, 0}},
                          star})
        expect_clean_triangulation(p);
    // clang-format on
    // Collinear points, repeated points and a bow tie: no crash, the count stays right so
    // normals and materials still pair with faces.
    for (const Poly& pts :
         {Poly{{0, 0}, {1, 0}, {2, 0}, {3, 0}}, Poly{{0, 0}, {0, 0}, {1, 1}, {1, 1}, {0, 1}},
          Poly{{0, 0}, {1, 1}, {1, 0}, {0, 1}}, Poly{{0, 0}, {1, 0}, {2, 0}, {2, 1}, {0, 1}}})
        EXPECT_EQ(polygon(pts, false).triangles.size(), pts.size() - 2);
}

TEST(XFileGeometry, AppendMeshPlacesOtherReadersMeshesAsTheReaderDoes) {
    // After an L-shaped polygon, the cube as a reader of another format hands it over, with
    // faces naming a missing position, a missing normal, and corners past the end of the list.
    const double stretch[16] = {3, 0, 0, 0, 0.5f, 1, 0, 0, 0, 0, 1, 0, 4, 5, 6, 1};
    const double mirror[16] = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 4, 5, 6, 1};
    const std::pair<const double*, bool> cases[] = {
        {nullptr, false}, {stretch, false}, {mirror, false}, {nullptr, true}, {mirror, true}};
    const MeshDesc c = cube();
    for (const auto& [matrix, right_handed] : cases)
        for (bool own : {false, true}) { // the file's own normals, or computed (flat: creases)
            SCOPED_TRACE(testing::Message()
                         << (matrix == stretch) << (matrix == mirror) << right_handed << own);
            Model m = polygon({{0, 0}, {0, 2}, {1, 2}, {1, 1}, {2, 1}, {2, 0}}, false);
            size_t dropped = 0;
            std::string err;
            // Right-handed files list fronts counter-clockwise: the same cube, z and order
            // reversed.
            const float zs = right_handed ? -1.f : 1.f;
            PolyMesh p;
            p.face_sizes = {4, 4, 4, 4, 4, 4, 3, 3, 5};
            for (Vec3 v : c.positions)
                p.positions.push_back({v.x, v.y, v.z * zs});
            for (std::vector<uint32_t> face : c.faces) {
                if (right_handed) std::reverse(face.begin(), face.end());
                p.position_index.insert(p.position_index.end(), face.begin(), face.end());
            }
            p.position_index.insert(p.position_index.end(), {0, 1, 9, 0, 1, 2});
            if (own) {
                for (Vec3 n : c.normals)
                    p.normals.push_back({n.x, n.y, n.z * zs});
                for (uint32_t f = 0; f < 6; ++f)
                    p.normal_index.insert(p.normal_index.end(), 4, f);
                p.normal_index.insert(p.normal_index.end(), {0, 0, 0, 0, 0, 7});
            }
            ASSERT_TRUE(append_mesh(p, {matrix, right_handed}, m, &dropped, &err)) << err;
            EXPECT_EQ(dropped, own ? 3u : 2u);
            ASSERT_EQ(m.triangles.size(), own ? 16u : 17u);
            const Vec3 centre = matrix ? Vec3{4, 5, 6 * zs} : Vec3{0, 0, 0};
            for (size_t i = 4; i < 4 + 12; ++i) {
                const Triangle& t = m.triangles[i];
                EXPECT_GT(dot(face_dir(m, t), sub(m.positions[t.v[0]], centre)), 0)
                    << "front turned inwards";
                // Outline edges join corners one bit apart: none is a quad's diagonal.
                for (int e = 0; e < 3; ++e)
                    EXPECT_EQ((t.edges >> e) & 1,
                              __builtin_popcount((t.v[e] - 6) ^ (t.v[(e + 1) % 3] - 6)) == 1);
            }
            expect_flat_normals(m, 4, 16);
        }
}
