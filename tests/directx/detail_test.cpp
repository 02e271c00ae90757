// Simplified copies of a mesh: chosen by how large the mesh shows, never changing the picture.
#include "rm_internal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace dx {
namespace {

// A sphere of about 4 (rings - 1) rings triangles, its radius rising and falling in bumps, with
// smooth normals; one group.
RenderMesh bumpy_sphere(int rings, float bumps) {
    RenderMesh m;
    const int slices = 2 * rings;
    const float pi = 3.14159265f;
    for (int i = 0; i <= rings; ++i)
        for (int j = 0; j < slices; ++j) {
            const float th = pi * float(i) / float(rings), ph = 2 * pi * float(j) / float(slices);
            const raster::Vec3 n{std::sin(th) * std::cos(ph), std::cos(th),
                                 std::sin(th) * std::sin(ph)};
            const float r = 1 + 0.06f * std::sin(bumps * n.x) * std::sin(bumps * n.y);
            m.positions.push_back({n.x * r, n.y * r, n.z * r});
        }
    m.normals.assign(m.positions.size(), {0, 0, 0});
    RenderGroup g;
    g.color[0] = g.color[1] = g.color[2] = 1;
    auto at = [&](int i, int j) { return uint32_t(i * slices + j % slices); };
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < slices; ++j)
            for (uint32_t v : {at(i, j), at(i, j + 1), at(i + 1, j + 1), at(i, j), at(i + 1, j + 1),
                               at(i + 1, j)})
                g.indices.push_back(v);
    for (size_t t = 0; t < g.indices.size(); t += 3) {
        const raster::Vec3 a = m.positions[g.indices[t]], b = m.positions[g.indices[t + 1]],
                           c = m.positions[g.indices[t + 2]];
        const raster::Vec3 u{b.x - a.x, b.y - a.y, b.z - a.z}, w{c.x - a.x, c.y - a.y, c.z - a.z};
        const raster::Vec3 f{u.y * w.z - u.z * w.y, u.z * w.x - u.x * w.z, u.x * w.y - u.y * w.x};
        for (int k = 0; k < 3; ++k) {
            raster::Vec3& n = m.normals[g.indices[t + size_t(k)]];
            n = {n.x + f.x, n.y + f.y, n.z + f.z}; // area-weighted, outward
        }
    }
    for (raster::Vec3& n : m.normals) {
        const float l = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
        n = l > 0 ? raster::Vec3{n.x / l, n.y / l, n.z / l} : raster::Vec3{0, 0, -1};
    }
    m.groups.push_back(std::move(g));
    return m;
}

// The mesh (level -1) or a copy drawn lit at distance z into a 320x240 frame.
std::vector<uint32_t> frame(const RenderMesh& m, int level, const raster::DrawParams& p) {
    std::vector<uint32_t> pixels(320 * 240, 0);
    std::vector<uint16_t> depth(320 * 240, 0);
    raster::Target t{reinterpret_cast<uint8_t*>(pixels.data()),
                     320,
                     240,
                     320 * 4,
                     raster::Format::XRGB8888,
                     depth.data(),
                     320,
                     nullptr};
    const bool own = level < 0;
    const DetailLevel* d = own ? nullptr : &m.levels[size_t(level)];
    const raster::Mesh mesh{own ? m.positions.data() : d->positions.data(),
                            own ? m.normals.data() : d->normals.data(),
                            uint32_t(own ? m.positions.size() : d->positions.size()),
                            own ? m.groups[0].indices.data() : d->indices[0].data(),
                            uint32_t((own ? m.groups[0].indices : d->indices[0]).size() / 3),
                            nullptr};
    raster::Renderer().draw(t, mesh, p);
    return pixels;
}

TEST(Detail, CopiesAreChosenByTheSizeOnScreenAndKeepThePicture) {
    for (float bumps : {0.0f, 6.0f}) {
        RenderMesh m = bumpy_sphere(100, bumps);
        add_detail_levels(m);
        ASSERT_FALSE(m.levels.empty()) << bumps;
        raster::Lighting light{{0.1f, 0.1f, 0.1f}, 1, {{{0, 0, 1}, {0.9f, 0.9f, 0.9f}}}};
        raster::DrawParams p{{},
                             {320, 320, 160, 120, 1, 5000},
                             raster::FILL_SOLID | raster::SHADE_GOURAUD | raster::LIGHT_ON,
                             {1, 1, 1},
                             &light};
        p.model_to_camera.m[0][0] = p.model_to_camera.m[1][1] = p.model_to_camera.m[2][2] = 1;
        p.model_to_camera.m[3][3] = 1;
        // Through the front plane, then ever smaller: the mesh itself while it reaches the
        // front plane, then never a finer copy than before until the picture is a speck.
        int last = -1, coarsest = -1; // the coarsest copy drawn
        for (float z = 1.5f; z < 400; z *= 1.2f) {
            p.model_to_camera.m[3][2] = z;
            const int level = pick_detail_level(m, p.model_to_camera, p.projection);
            if (z < 2) {
                EXPECT_EQ(level, -1) << z;
            } else if (320 / z >= 16) {
                EXPECT_GE(level, last) << z;
                last = level;
            }
            coarsest = std::max(coarsest, level);
            if (level < 0) continue;
            // Of the pixels lit in either frame, at most 1 % differ by more than 24 levels.
            const std::vector<uint32_t> a = frame(m, -1, p), b = frame(m, level, p);
            long lit = 0, differ = 0;
            for (size_t i = 0; i < a.size(); ++i) {
                if (!(a[i] | b[i])) continue;
                ++lit;
                int most = 0;
                for (int sh : {0, 8, 16})
                    most =
                        std::max(most, std::abs(int((a[i] >> sh) & 255) - int((b[i] >> sh) & 255)));
                differ += most > 24;
            }
            EXPECT_LE(differ * 100, lit) << "bumps " << bumps << " z " << z << " copy " << level;
        }
        EXPECT_GE(coarsest, 0) << bumps; // copies are drawn at some size
    }
}

} // namespace
} // namespace dx
