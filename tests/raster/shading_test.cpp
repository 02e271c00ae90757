// Colour, depth, wireframe, pixel formats, palette and clear.

#include "canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace rt {
namespace {

constexpr uint32_t kBg = 0x102030;

TEST(Shading, LitVerticesFlatTakesTheirAverageGouraudBlendsThem) {
    // Mesh colour (1, 1/2, 1/4) x min(1, ambient 0.2 + 0.9 max(0, N.L)) at each vertex, N.L (below
    // 0: turned away), normals of any length. The model is turned about y and
    // placed where the turn brings it to the screen positions asked for: normals turn with it.
    // Flat: one colour, the average. Gouraud: no pixel leaves its triangle's range, near a
    // vertex its level, for large triangles, small ones and slivers alike. Unlit (lighting off
    // or none given): the mesh colour.
    const Lighting light{{0.2f, 0.2f, 0.2f}, 1, {{{0, 0, 1}, {0.9f, 0.9f, 0.9f}}}};
    const float c = std::cos(1.0f), sn = std::sin(1.0f);
    auto model = [&](Vec3 v) { return Vec3{v.x * c + v.z * sn, v.y, v.z * c - v.x * sn}; };
    auto normal = [](float cs, float len) {
        return Vec3{len * std::sqrt(1 - cs * cs), 0, -len * cs};
    };
    struct Case {
        float x[3], y[3], dot[3]; // N.L at the vertices
    } cases[] = {
        {{2, 250, 20}, {2, 10, 190}, {0.0f, 1.0f, 0.5f}},             // large: block path
        {{5, 60, 12}, {5, 9, 50}, {1.0f, -0.6f, 0.0f}},               // small path
        {{2, 60, 2}, {2, 2, 60}, {1.0f, 0.0f, 1.0f}},                 // right angle
        {{3, 200, 3}, {3.3f, 3.7f, 3.6f}, {-1.0f, 1.0f, 0.2f}},       // horizontal sliver
        {{10.3f, 10.7f, 10.35f}, {4, 190, 180}, {1.0f, 0.0f, 1.0f}},  // vertical sliver
        {{7, 240, 8}, {100, 101.5f, 103}, {0.3f, 0.9f, -0.3f}},       // long thin
        {{2.2f, 5.4f, 2.5f}, {2.1f, 2.6f, 5.3f}, {1.0f, 0.0f, 0.5f}}, // a 4x4 block
    };
    for (const Case& k : cases) {
        Scene s;
        for (int i = 0; i < 3; ++i)
            s.vertex(model(Scene::at(k.x[i], k.y[i])), model(normal(k.dot[i], 0.5f + i)));
        s.idx = {0, 1, 2};
        for (int mode = 0; mode < 4; ++mode) { // flat, Gouraud, Gouraud unlit twice
            float level[3], avg = 0;
            for (int i = 0; i < 3; ++i)
                avg +=
                    (level[i] = mode < 2 ? std::clamp(0.2f + 0.9f * k.dot[i], 0.2f, 1.f) : 1) / 3;
            DrawParams p = params(FILL_SOLID | (mode ? SHADE_GOURAUD : SHADE_FLAT) |
                                      (mode == 2 ? LIGHT_OFF : LIGHT_ON),
                                  1, 0.5f, 0.25f, mode == 3 ? nullptr : &light);
            p.model_to_camera = {{{c, 0, sn, 0}, {0, 1, 0, 0}, {-sn, 0, c, 0}, {0, 0, 0, 1}}};
            Canvas canvas(256, 200, Format::XRGB8888, kBg);
            canvas.draw(s.mesh(), p);
            const int lo = int(255 * std::min({level[0], level[1], level[2]})) - 1;
            const int hi = int(255 * std::max({level[0], level[1], level[2]}) + 0.5f) + 1;
            std::set<uint32_t> colours;
            for (int y = 0; y < canvas.h; ++y)
                for (int x = 0; x < canvas.w; ++x) {
                    const uint32_t v = canvas.at(x, y);
                    const int r = channel(v, 16);
                    if (v == kBg) continue;
                    colours.insert(v);
                    ASSERT_TRUE(r >= lo && r <= hi && std::abs(2 * channel(v, 8) - r) <= 3 &&
                                std::abs(4 * channel(v, 0) - r) <= 5)
                        << std::hex << v << std::dec << " at " << x << "," << y << " " << mode;
                }
            if (mode != 1) {
                ASSERT_EQ(colours.size(), 1u) << k.x[0] << " " << mode;
                EXPECT_NEAR(channel(*colours.begin(), 16), 255 * avg, 1) << k.x[0] << " " << mode;
                continue;
            }
            for (int i = 0; &k < cases + 3 && i < 3; ++i) {
                // A tenth of the way from the corner to the centre (the first three cases
                // only are wide enough).
                const float fx = k.x[i] + (k.x[0] + k.x[1] + k.x[2] - 3 * k.x[i]) / 30,
                            fy = k.y[i] + (k.y[0] + k.y[1] + k.y[2] - 3 * k.y[i]) / 30;
                EXPECT_NEAR(channel(canvas.at(int(fx), int(fy)), 16),
                            255 * (0.9f * level[i] + 0.1f * avg), 4)
                    << k.x[0] << " corner " << i;
            }
        }
    }
}

TEST(Depth, NearerSurfaceWinsInEitherOrderForFillsAndLines) {
    Scene near, far, wire;
    near.tri_screen(4, 4, 20, 4, 20, 20, 4); // a square
    near.tri_screen(4, 4, 20, 20, 4, 20, 4);
    far.tri_screen(4, 4, 56, 4, 4, 56, 8); // overlaps the near square and reaches beyond it
    wire.tri_screen(-30, 10, 200, 10, -30, 300, 6); // top edge across the near square, clipped
    for (bool near_first : {false, true}) {
        Canvas c(32, 32, Format::XRGB8888, kBg);
        const DrawParams pn = params(FILL_SOLID, 1, 0, 0), pf = params(FILL_SOLID, 0, 0, 1);
        c.draw(near_first ? near.mesh() : far.mesh(), near_first ? pn : pf);
        c.draw(near_first ? far.mesh() : near.mesh(), near_first ? pf : pn);
        c.draw(wire.mesh(), params(FILL_WIREFRAME, 0, 1, 0));
        EXPECT_EQ(c.at(15, 15), 0xFF0000u); // overlap: near
        EXPECT_EQ(c.at(25, 25), 0x0000FFu); // far alone
        EXPECT_EQ(c.at(10, 10), 0xFF0000u); // the line behind the near square
        EXPECT_EQ(c.at(28, 10), 0x00FF00u);
        EXPECT_TRUE(c.at(2, 2) == kBg && c.depth(2, 2) == 0xFFFF && c.guards_intact());
        EXPECT_LT(c.depth(15, 15), c.depth(25, 25));
    }
}

TEST(Wireframe, AnEdgeListDrawsEachEdgeOnceOverTheSamePixels) {
    // Random triangles, some edges masked off, many edges shared by two front faces.
    Scene s = random_scene(99, 63, 400);
    for (size_t t = 0; t < s.idx.size() / 3; ++t)
        s.masks.push_back(t % 3 ? 7 : 5);
    const Mesh m = s.mesh();
    std::vector<MeshEdge> edges;
    build_edges(m, edges);
    Mesh listed = m;
    listed.edges = edges.data();
    listed.edge_count = uint32_t(edges.size());
    for (uint32_t shade : {uint32_t(SHADE_GOURAUD), uint32_t(SHADE_FLAT)}) {
        DrawParams p = params(FILL_WIREFRAME | shade);
        p.projection = kRandomView;
        Canvas twice(64, 48, Format::Count8), once(64, 48, Format::Count8);
        twice.draw(m, p, false);
        once.draw(listed, p, false);
        int writes_twice = 0, writes_once = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                ASSERT_EQ(twice.at(x, y) != 0, once.at(x, y) != 0)
                    << shade << ": " << x << "," << y;
                ASSERT_LE(once.at(x, y), twice.at(x, y)) << shade << ": " << x << "," << y;
                writes_twice += int(twice.at(x, y));
                writes_once += int(once.at(x, y));
            }
        EXPECT_LT(writes_once * 10, writes_twice * 9) << shade; // shared edges once
    }
}

TEST(Formats, NeitherThePixelFormatNorTheVertexOrderChangesThePicture) {
    // A random lit Gouraud scene over the same scene flat and shifted, under its lit flat
    // wireframe and a white triangle, then clears partly off the target and an empty one.
    // Vertices are processed eight, four or one at a time by their place in the array: of 63,
    // 56 in groups of eight where the processor has them, four in one, three alone. Rotating
    // the array through every place must not change a single pixel or depth value, whether a
    // vertex is on screen, off to a side, across the near plane or not finite.
    // Alike in every format, rows ending inside a group of four: RGB888 holds the true-colour
    // pixels, RGB565 their high bits, Indexed8 colours near them from a palette whose
    // read-only entries stay as they were and are used; depth is the same in all. (Where the
    // processor has AVX2, XRGB8888 fills narrow triangles eight pixels at a time and the
    // others four, so this also holds the two fills to the same picture.)
    const Lighting light{{0.1f, 0.1f, 0.1f}, 1, {{{0.5f, -0.3f, 1}, {0.9f, 0.9f, 0.5f}}}};
    const Scene s = random_scene(31);
    const uint32_t n = uint32_t(s.pos.size());
    Scene flat;
    flat.tri_screen(40.3f, 30.6f, 61.2f, 30.6f, 40.3f, 45.7f, 3.5f);
    auto paint = [&](Canvas& c, uint32_t shift) {
        Scene moved = s;
        for (uint32_t i = 0; i < n; ++i)
            moved.pos[(i + shift) % n] = s.pos[i], moved.nrm[(i + shift) % n] = s.nrm[i];
        for (uint32_t& i : moved.idx)
            i = (i + shift) % n;
        DrawParams lit = params(FILL_SOLID | SHADE_GOURAUD | LIGHT_ON, 1, 0.9f, 0.8f, &light);
        DrawParams wire = params(FILL_WIREFRAME | SHADE_FLAT | LIGHT_ON, 1, 0.8f, 0.6f, &light);
        DrawParams flat_lit = params(FILL_SOLID | SHADE_FLAT | LIGHT_ON, 0.7f, 1, 0.9f, &light);
        lit.projection = wire.projection = kRandomView;
        flat_lit.projection = {30, 30, 34.5f, 22.5f, 1, 50};
        c.draw(moved.mesh(), flat_lit);
        c.draw(moved.mesh(), lit);
        c.draw(moved.mesh(), wire);
        c.draw(flat.mesh(), params(FILL_SOLID | SHADE_FLAT));
        Target t = c.target();
        clear(t, {50, -50, 60, 10}, 0x336699, 0x1234);
        clear(t, {-50, 44, 500, 900}, 0x336699, 0x1234);
        clear(t, {5, 5, 5, 9}, 0x00FF00, 0x4444);
    };
    Canvas full(63, 48, Format::XRGB8888, kBg);
    paint(full, 0);
    EXPECT_GT(full.count_not(kBg), 1000);
    for (int y = 0; y < full.h; ++y)
        for (int x = 0; x < full.w; ++x)
            ASSERT_EQ(full.at(x, y) == 0x336699 && full.depth(x, y) == 0x1234,
                      (x >= 50 && x < 60 && y < 10) || y >= 44)
                << x << "," << y;
    EXPECT_EQ(std::count(full.zmem.begin(), full.zmem.end(), 0x4444), 0); // the empty clear
    EXPECT_TRUE(full.guards_intact());
    for (uint32_t shift = 1; shift < n; ++shift) {
        Canvas c(63, 48, Format::XRGB8888, kBg);
        paint(c, shift);
        ASSERT_EQ(c.mem, full.mem) << "shifted by " << shift;
        ASSERT_EQ(c.zmem, full.zmem) << "shifted by " << shift;
    }
    for (Format f : {Format::RGB888, Format::RGB565, Format::Indexed8}) {
        Canvas c(63, 48, f, kBg);
        Palette8& pal = c.palette;
        pal.entries[255] = {255, 255, 255};
        pal.reset();
        c.clear_all(kBg);
        const Palette8 before = pal;
        paint(c, 0);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const uint32_t v = c.at(x, y), want = full.at(x, y);
                const int high =
                    int((want >> 8 & 0xF800) | (want >> 5 & 0x7E0) | (want >> 3 & 0x1F));
                int off = 0;
                for (int sh : {0, 8, 16})
                    off = std::max(off, std::abs(channel(v, sh) - channel(want, sh)));
                // The triangle's white is the read-only entry's.
                ASSERT_TRUE(f == Format::RGB888 ? v == want
                            : f == Format::RGB565
                                ? v == from565(uint16_t(high))
                                : off <= 24 && (want != 0xFFFFFF || c.row(y)[x] == 255))
                    << std::hex << v << " for " << want << std::dec << " at " << x << "," << y;
            }
        EXPECT_EQ(c.zmem, full.zmem) << int(f);
        EXPECT_TRUE(c.guards_intact()) << int(f);
        for (int i = 0; i < 256; ++i)
            EXPECT_TRUE(f != Format::Indexed8 || pal.writable[i] ||
                        (!pal.changed[i] && !std::memcmp(&pal.entries[i], &before.entries[i], 3)))
                << i;
    }
}

} // namespace
} // namespace rt
