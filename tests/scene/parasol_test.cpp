// The default model: shape, proportions, winding, and the shipped file read back.
#include "scene_support.h"

#include <parasol_mesh.h>
#include <xfile/xfile.h>

#include <cmath>

namespace {

using parasol::Vec;

Vec Sub(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
double Dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec Cross(Vec a, Vec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

TEST(Parasol, ShapeProportionsAndOutwardWindingSurviveTheShippedFile) {
    const parasol::Mesh mesh = parasol::Build();
    const size_t faces = mesh.triangles.size() / 3;
    EXPECT_GE(faces, 2000u);
    EXPECT_LE(faces, 12000u);
    ASSERT_EQ(mesh.normals.size(), mesh.positions.size());
    for (size_t f = 0; f < faces; ++f) {
        const uint32_t* t = &mesh.triangles[3 * f];
        ASSERT_LT(std::max({t[0], t[1], t[2]}), mesh.positions.size());
        const Vec a = mesh.positions[t[0]];
        const Vec geometric = Cross(Sub(mesh.positions[t[1]], a), Sub(mesh.positions[t[2]], a));
        for (int k = 0; k < 3; ++k) {
            const Vec& n = mesh.normals[t[k]];
            ASSERT_NEAR(Dot(n, n), 1.0, 1e-6);
            // Clockwise from the side the normals face, at least roughly.
            ASSERT_GT(Dot(geometric, n), 0.0) << "face " << f;
        }
    }
    // Over the canopy, away from the shaft: faces looking up and faces looking down.
    int up = 0, down = 0;
    Vec lo{1e9, 1e9, 1e9}, hi{-1e9, -1e9, -1e9};
    for (size_t i = 0; i < mesh.positions.size(); ++i) {
        const Vec& p = mesh.positions[i];
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        if (std::hypot(p.x, p.z) < 0.3 || std::hypot(p.x, p.z) > 0.9 || p.y < 0.05) continue;
        up += mesh.normals[i].y > 0.5;
        down += mesh.normals[i].y < -0.5;
    }
    EXPECT_GT(up, 200);
    EXPECT_GT(down, 200);
    const double width = hi.x - lo.x, height = hi.y - lo.y;
    EXPECT_NEAR(width, hi.z - lo.z, 0.1); // round canopy
    EXPECT_GT(height, 0.7 * width);       // a long shaft and handle under it
    EXPECT_LT(height, 1.2 * width);
    EXPECT_GT(hi.y, 0.4);  // canopy on top
    EXPECT_LT(lo.y, -1.0); // hook at the bottom
    EXPECT_LT(lo.x, -1.0);

    // The shipped file reads back face for face, each front still facing its normals.
    const std::string path = std::string(PLUMORA_MODEL_DIR) + "/parasol.x";
    xfile::Model model;
    std::string error;
    ASSERT_EQ(xfile::load(path.c_str(), model, &error), xfile::Result::Ok) << error;
    ASSERT_EQ(model.triangles.size(), faces);
    ASSERT_EQ(model.positions.size(), mesh.positions.size());
    auto at = [&](uint32_t i) {
        const xfile::Vec3& p = model.positions[i];
        return Vec{p.x, p.y, p.z};
    };
    for (const xfile::Triangle& t : model.triangles) {
        const Vec geometric = Cross(Sub(at(t.v[1]), at(t.v[0])), Sub(at(t.v[2]), at(t.v[0])));
        const xfile::Vec3& n = model.normals[t.n[0]];
        ASSERT_GT(Dot(geometric, Vec{n.x, n.y, n.z}), 0.0);
    }
}

} // namespace
