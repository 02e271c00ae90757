// Colour, depth, wireframe, formats, palette and clear.

#include "canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace rt {
namespace {

constexpr uint32_t kBg = 0x102030;

int channel(uint32_t c, int shift) {
    return int((c >> shift) & 0xFF);
}

// A quad of two triangles covering screen [x0,x1) x [y0,y1) at depth z, with one normal.
void quad(Scene& s, float x0, float y0, float x1, float y1, float z = 4, Vec3 n = {0, 0, -1}) {
    const uint32_t a = s.vertex(Scene::at(x0, y0, z), n), b = s.vertex(Scene::at(x1, y0, z), n);
    const uint32_t c = s.vertex(Scene::at(x1, y1, z), n), d = s.vertex(Scene::at(x0, y1, z), n);
    s.idx.insert(s.idx.end(), {a, b, c, a, c, d});
}

TEST(Shading, LightingFollowsTheAngleToTheLight) {
    // The light travels along +z, onto the faces that look at the camera.
    const Lighting light = rt::light({0, 0, 1}, 0.1f, 0.8f, 0.8f, 0.8f);
    Scene s;
    quad(s, 2, 2, 14, 14, 4, {0, 0, -1});   // faces the light
    quad(s, 18, 2, 30, 14, 4, {1, 0, 0});   // grazing: perpendicular to the light
    quad(s, 2, 18, 14, 30, 4, {0, 0, 1});   // faces away
    quad(s, 18, 18, 30, 30, 4, {0, 0, -5}); // unnormalised normal, renormalised
    Canvas c(32, 32, Format::XRGB8888, kBg);
    DrawParams p = params(FILL_SOLID | SHADE_GOURAUD | LIGHT_ON, 1.0f, 0.5f, 0.25f, &light);
    c.draw(s.mesh(), p);
    // colour x (ambient + N.L x light): 0.9 and 0.1 of the mesh colour.
    const uint32_t lit = c.at(8, 8);
    EXPECT_NEAR(channel(lit, 16), 230, 1);
    EXPECT_NEAR(channel(lit, 8), 115, 1);
    EXPECT_NEAR(channel(lit, 0), 57, 1);
    EXPECT_NEAR(channel(c.at(24, 8), 16), 26, 1);
    EXPECT_EQ(c.at(8, 24), c.at(24, 8));
    EXPECT_EQ(c.at(24, 24), lit);

    // A rotated model: normals turn with it (the light now hits the quad at 60 degrees).
    Canvas d(32, 32);
    Scene one;
    one.tri({-6, 6, 0}, {6, 6, 0}, {6, -6, 0});
    DrawParams q = p;
    const float a = float(M_PI) / 3;
    q.model_to_camera = {{{std::cos(a), 0, std::sin(a), 0},
                          {0, 1, 0, 0},
                          {-std::sin(a), 0, std::cos(a), 0},
                          {16, -16, 40, 1}}};
    q.projection = {40, 40, 0, 0, 1, 100};
    d.draw(one.mesh(), q);
    EXPECT_NEAR(channel(d.at(16, 13), 16), 255 * (0.1 + 0.8 * 0.5), 1.5);

    // Light off: the mesh colour exactly.
    c.clear_all(kBg, 0xFFFF);
    c.draw(s.mesh(), params(FILL_SOLID | SHADE_GOURAUD | LIGHT_OFF, 1.0f, 0.5f, 0.0f, &light));
    EXPECT_EQ(c.at(8, 24), 0xFF8000u);
}

TEST(Shading, FlatIsTheVertexAverageGouraudBlendsWithinTheVertexColours) {
    // Intensity at a vertex is cos(angle) of its normal to the light. Flat: one colour, the
    // average. Gouraud: no pixel leaves its triangle's range, near a vertex its level, for
    // large triangles, small ones and slivers alike.
    const Lighting light = rt::light({0, 0, 1});
    auto normal = [](float level) { return Vec3{std::sqrt(1 - level * level), 0, -level}; };
    struct Case {
        float x[3], y[3], level[3];
        bool probe; // wide enough to blend and to sample near the corners
    } cases[] = {
        {{2, 250, 20}, {2, 10, 190}, {0.0f, 1.0f, 0.5f}, true},             // large: block path
        {{5, 60, 12}, {5, 9, 50}, {1.0f, 0.0f, 0.0f}, true},                // small path
        {{2, 60, 2}, {2, 2, 60}, {1.0f, 0.0f, 1.0f}, true},                 // right angle
        {{3, 200, 3}, {3.3f, 3.7f, 3.6f}, {0.0f, 1.0f, 0.2f}, false},       // horizontal sliver
        {{10.3f, 10.7f, 10.35f}, {4, 190, 180}, {1.0f, 0.0f, 1.0f}, false}, // vertical sliver
        {{7, 240, 8}, {100, 101.5f, 103}, {0.3f, 0.9f, 0.0f}, false},       // long thin
    };
    for (const Case& k : cases) {
        Scene s;
        for (int i = 0; i < 3; ++i)
            s.vertex(Scene::at(k.x[i], k.y[i]), normal(k.level[i]));
        s.idx = {0, 1, 2};
        const float avg = (k.level[0] + k.level[1] + k.level[2]) / 3;
        for (uint32_t shade : {uint32_t(SHADE_FLAT), uint32_t(SHADE_GOURAUD)}) {
            Canvas c(256, 200, Format::XRGB8888, kBg);
            c.draw(s.mesh(), params(FILL_SOLID | shade | LIGHT_ON, 1, 1, 1, &light));
            const int lo = int(255 * std::min({k.level[0], k.level[1], k.level[2]})) - 1;
            const int hi = int(255 * std::max({k.level[0], k.level[1], k.level[2]}) + 0.5f) + 1;
            std::set<uint32_t> colours;
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x) {
                    const uint32_t v = c.at(x, y);
                    if (v == kBg) continue;
                    colours.insert(v);
                    ASSERT_TRUE(channel(v, 16) >= lo && channel(v, 16) <= hi &&
                                channel(v, 16) == channel(v, 0))
                        << std::hex << v << std::dec << " at " << x << "," << y;
                }
            if (shade == SHADE_FLAT) {
                ASSERT_EQ(colours.size(), 1u) << k.x[0];
                EXPECT_NEAR(channel(*colours.begin(), 8), 255 * avg, 1) << k.x[0];
                continue;
            }
            for (int i = 0; k.probe && i < 3; ++i) {
                // A tenth of the way from the corner to the centre.
                const float fx = k.x[i] + (k.x[0] + k.x[1] + k.x[2] - 3 * k.x[i]) / 30,
                            fy = k.y[i] + (k.y[0] + k.y[1] + k.y[2] - 3 * k.y[i]) / 30;
                EXPECT_NEAR(channel(c.at(int(fx), int(fy)), 8),
                            255 * (0.9f * k.level[i] + 0.1f * avg), 4)
                    << k.x[0] << " corner " << i;
            }
        }
    }
}

TEST(Depth, NearerSurfaceWinsInEitherOrderForFillsAndLines) {
    Scene near, far, wire;
    quad(near, 4, 4, 20, 20, 4);
    quad(far, 20, 20, 56, 56, 8); // overlaps the near quad on screen and reaches beyond it
    wire.tri_screen(-30, 10, 200, 10, -30, 300, 6); // top edge across the near quad, clipped
    for (int run = 0; run < 4; ++run) {
        const bool near_first = run & 1;
        Canvas c(32, 32, Format::XRGB8888, kBg);
        Target t = c.target();
        if (run & 2) // zeroed memory, as the kernel hands it out, is a cleared depth buffer
            for (int y = 0; y < 32; ++y)
                std::fill_n(t.depth + size_t(y) * size_t(t.depth_pitch), 32, uint16_t(0));
        Renderer r;
        const DrawParams pn = params(FILL_SOLID, 1, 0, 0), pf = params(FILL_SOLID, 0, 0, 1);
        EXPECT_TRUE(r.drawn().empty());
        if (near_first) r.draw(t, near.mesh(), pn);
        r.draw(t, far.mesh(), pf);
        if (!near_first) r.draw(t, near.mesh(), pn);
        r.draw(t, wire.mesh(), params(FILL_WIREFRAME, 0, 1, 0));
        EXPECT_EQ(c.at(15, 15), 0xFF0000u) << run; // overlap: near
        EXPECT_EQ(c.at(25, 25), 0x0000FFu) << run; // far alone
        EXPECT_EQ(c.at(10, 10), 0xFF0000u) << run; // the line behind the near quad
        EXPECT_EQ(c.at(28, 10), 0x00FF00u) << run;
        EXPECT_EQ(c.at(2, 2), kBg);
        EXPECT_LT(c.depth(15, 15), c.depth(25, 25));
        EXPECT_EQ(c.depth(2, 2), 0xFFFF);
        EXPECT_TRUE(c.guards_intact());
        r.reset_drawn();
        EXPECT_TRUE(r.drawn().empty());
    }
}

TEST(Wireframe, DrawsOnlyTheAllowedEdgesAndReportsTheirBounds) {
    Scene s;
    s.tri_screen(4.5f, 4.5f, 40.5f, 4.5f, 4.5f, 40.5f);
    for (uint8_t mask : {uint8_t(7), uint8_t(5)}) {
        s.masks = {mask};
        Canvas c(48, 48, Format::XRGB8888, kBg);
        const Rect d = c.draw(s.mesh(), params(FILL_WIREFRAME, 0, 1, 0));
        EXPECT_TRUE(c.guards_intact());
        EXPECT_EQ(c.at(22, 4), 0x00FF00u);                   // edge 0: top
        EXPECT_EQ(c.at(22, 22), mask & 2 ? 0x00FF00u : kBg); // edge 1: hypotenuse
        EXPECT_EQ(c.at(4, 22), 0x00FF00u);                   // edge 2: left
        EXPECT_EQ(c.at(4, 4), 0x00FF00u);                    // corners
        EXPECT_EQ(c.at(40, 4), 0x00FF00u);
        int lit = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 48; ++x)
                if (c.at(x, y) != kBg) {
                    ++lit;
                    EXPECT_TRUE(y == 4 || x == 4 || (mask & 2 && std::abs(x + y - 44) <= 1))
                        << x << "," << y;
                }
        EXPECT_LE(lit, mask & 2 ? 37 * 3 : 37 * 2);
        EXPECT_TRUE(d.left == 4 && d.top == 4 && d.right == 41 && d.bottom == 41)
            << d.left << " " << d.top << " " << d.right << " " << d.bottom;
    }
}

TEST(Wireframe, AnEdgeListDrawsEachEdgeOnceOverTheSamePixels) {
    // A closed UV sphere, some edges masked off, seen whole and cut by the near plane.
    Scene s;
    const int slices = 12, stacks = 7;
    for (int i = 0; i <= stacks; ++i)
        for (int j = 0; j <= slices; ++j) {
            const float th = float(M_PI) * i / stacks, ph = 2 * float(M_PI) * j / slices;
            const Vec3 n{std::sin(th) * std::cos(ph), std::cos(th), std::sin(th) * std::sin(ph)};
            s.vertex(n, n);
        }
    // Weld the seam's and the poles' duplicate vertices so the mesh is closed.
    auto at = [&](int i, int j) {
        return uint32_t(i * (slices + 1) + (i == 0 || i == stacks ? 0 : j % slices));
    };
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            if (i != 0) s.idx.insert(s.idx.end(), {at(i, j), at(i, j + 1), at(i + 1, j)});
            if (i != stacks - 1)
                s.idx.insert(s.idx.end(), {at(i, j + 1), at(i + 1, j + 1), at(i + 1, j)});
        }
    const uint32_t tris = uint32_t(s.idx.size() / 3);
    std::vector<MeshEdge> all, edges;
    build_edges(s.mesh(), all);
    EXPECT_EQ(all.size(), size_t(tris) * 3 / 2); // closed: every edge has two triangles
    for (const MeshEdge& e : all)
        EXPECT_NE(e.faces[1], kNoFace);

    for (uint32_t t = 0; t < tris; ++t)
        s.masks.push_back(t % 3 ? 7 : 5);
    const Mesh m = s.mesh();
    build_edges(m, edges);
    Mesh listed = m;
    listed.edges = edges.data();
    listed.edge_count = uint32_t(edges.size());
    for (float dist : {3.0f, 1.6f}) {
        DrawParams p = params(FILL_WIREFRAME | SHADE_GOURAUD);
        p.projection = {40, 40, 32, 32, 1, 100};
        p.model_to_camera.m[3][2] = dist;
        Canvas twice(64, 64, Format::Count8), once(64, 64, Format::Count8);
        twice.draw(m, p, false);
        once.draw(listed, p, false);
        int writes_twice = 0, writes_once = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                ASSERT_EQ(twice.at(x, y) != 0, once.at(x, y) != 0) << dist << ": " << x << "," << y;
                ASSERT_LE(once.at(x, y), twice.at(x, y)) << dist << ": " << x << "," << y;
                writes_twice += int(twice.at(x, y));
                writes_once += int(once.at(x, y));
            }
        EXPECT_GT(once.count_not(0), 100) << dist;
        EXPECT_LT(writes_once * 10, writes_twice * 9) << dist; // shared edges once
    }
}

TEST(Formats, AllFormatsStoreTheColour) {
    Scene s;
    quad(s, 3, 3, 21, 12);
    for (Format f : {Format::XRGB8888, Format::RGB888, Format::RGB565, Format::Indexed8})
        for (uint32_t shade : {uint32_t(SHADE_FLAT), uint32_t(SHADE_GOURAUD)}) {
            Canvas c(21, 19, f, kBg); // odd sizes: rows end inside a group of four
            c.draw(s.mesh(), params(FILL_SOLID | shade, 1.0f, 128 / 255.0f, 0.0f));
            const uint32_t in = c.at(20, 5), out = c.at(1, 1);
            EXPECT_NEAR(channel(in, 16), 255, 8) << int(f);
            EXPECT_NEAR(channel(in, 8), 128, 8) << int(f);
            EXPECT_NEAR(channel(in, 0), 0, 8) << int(f);
            EXPECT_NEAR(channel(out, 16), 0x10, 8) << int(f);
            EXPECT_NEAR(channel(out, 0), 0x30, 8) << int(f);
            EXPECT_EQ(c.count_not(out), 18 * 9) << int(f);
            EXPECT_TRUE(c.guards_intact()) << int(f);
        }
}

TEST(Formats, SixteenBitPixelsAreTheTrueColourOnesTruncated) {
    // Gouraud triangles of several sizes (all fill paths), drawn in XRGB8888 and in RGB565:
    // every 565 pixel holds the high bits of the true-colour one.
    const Lighting light = rt::light({0.5f, -0.3f, 1}, 0.1f, 0.9f, 0.9f, 0.7f);
    Scene s;
    const float corners[][6] = {
        {2.2f, 2.1f, 5.4f, 2.6f, 2.5f, 5.3f},   // 4x4 block
        {8.3f, 2.2f, 19.6f, 3.1f, 9.1f, 12.7f}, // whole-row groups
        {24, 2, 60, 9, 27, 40},                 // span walk
        {2, 44, 120, 46, 30, 150},              // large
    };
    for (const auto& k : corners) {
        const uint32_t a = s.vertex(Scene::at(k[0], k[1]), {-0.6f, 0.2f, -1});
        const uint32_t b = s.vertex(Scene::at(k[2], k[3]), {0.7f, 0.5f, -1});
        const uint32_t c = s.vertex(Scene::at(k[4], k[5]), {0.1f, -0.8f, -1});
        s.idx.insert(s.idx.end(), {a, b, c});
    }
    Canvas full = Canvas(128, 160, Format::XRGB8888, kBg),
           small = Canvas(128, 160, Format::RGB565, kBg);
    for (Canvas* c : {&full, &small})
        c->draw(s.mesh(), params(FILL_SOLID | SHADE_GOURAUD | LIGHT_ON, 1, 0.9f, 0.8f, &light));
    auto widen = [](uint32_t v) {
        const uint32_t R = v >> 19 & 31, G = v >> 10 & 63, B = v >> 3 & 31;
        return ((R << 3 | R >> 2) << 16) | ((G << 2 | G >> 4) << 8) | (B << 3 | B >> 2);
    };
    for (int y = 0; y < full.h; ++y)
        for (int x = 0; x < full.w; ++x)
            ASSERT_EQ(small.at(x, y), widen(full.at(x, y))) << x << "," << y;
    EXPECT_GT(full.count_not(kBg), 2000);
    EXPECT_TRUE(small.guards_intact());
}

TEST(Palette, RendererWritesOnlyWritableEntries) {
    Canvas c(64, 64, Format::Indexed8);
    Palette8& pal = c.palette;
    for (int i = 0; i < 256; ++i)
        pal.entries[i] = {uint8_t(i), uint8_t(255 - i), 77};
    pal.entries[0] = {0, 0, 0};
    pal.entries[255] = {255, 255, 255};
    pal.reset();
    const Palette8 before = pal;
    c.clear_all(0x000000, 0xFFFF);
    EXPECT_EQ(c.row(10)[10], 0); // black is the read-only entry 0

    // Many shades: more than the palette can hold.
    const Lighting light = rt::light({0, 0, 1}, 0, 1, 0.7f, 0.3f);
    Scene s;
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j)
            quad(s, i * 4, j * 4, i * 4 + 4, j * 4 + 4, 4,
                 {std::sin(i * 3 / 16.0f), j / 16.0f - 0.5f, -1});
    c.draw(s.mesh(), params(FILL_SOLID | SHADE_GOURAUD | LIGHT_ON, 1, 1, 1, &light));
    int changed = 0;
    for (int i = 0; i < 256; ++i) {
        EXPECT_TRUE(pal.writable[i] ||
                    (!pal.changed[i] && !std::memcmp(&pal.entries[i], &before.entries[i], 3)))
            << i;
        changed += pal.changed[i];
    }
    EXPECT_GT(changed, 10);
    // Pixels show roughly the shade asked for: red >= green >= blue as the light's colour.
    for (int y = 0; y < 64; y += 5)
        for (int x = 0; x < 64; x += 5) {
            const uint32_t v = c.at(x, y);
            EXPECT_TRUE(channel(v, 16) + 24 >= channel(v, 8) && channel(v, 8) + 24 >= channel(v, 0))
                << std::hex << v << " at " << std::dec << x << "," << y;
        }
}

TEST(Clear, WritesOnlyTheRectangle) {
    for (Format f : {Format::XRGB8888, Format::RGB888, Format::RGB565, Format::Indexed8}) {
        Canvas c(17, 13, f);
        c.clear_all(0x000000, 0x1111);
        Target t = c.target();
        clear(t, {3, 2, 9, 7}, 0xFFFFFF, 0x2222);
        clear(t, {-50, 11, 500, 900}, 0xFFFFFF, 0x3333); // clipped to the target
        clear(t, {5, 5, 5, 9}, 0x00FF00, 0x4444);        // empty
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 17; ++x) {
                const bool in = x >= 3 && x < 9 && y >= 2 && y < 7;
                const uint32_t want = in || y >= 11 ? 0xFFFFFFu : 0u;
                EXPECT_EQ(c.at(x, y) & 0xF0F0F0, want & 0xF0F0F0) << x << "," << y;
                EXPECT_EQ(c.depth(x, y), in ? 0x2222 : y >= 11 ? 0x3333 : 0x1111);
            }
        EXPECT_TRUE(c.guards_intact());
    }
}

} // namespace
} // namespace rt
