// Colour, depth, wireframe, points, formats, palette and clear.

#include "canvas.h"

#include <gtest/gtest.h>

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
    Lighting light{};
    light.ambient[0] = light.ambient[1] = light.ambient[2] = 0.1f;
    light.directional_count = 1;
    light.directional[0].dir = {0, 0, 1}; // shining away from the camera, onto faces facing it
    light.directional[0].color[0] = light.directional[0].color[1] = light.directional[0].color[2] =
        0.8f;

    Scene s;
    quad(s, 2, 2, 14, 14, 4, {0, 0, -1});   // faces the light
    quad(s, 18, 2, 30, 14, 4, {1, 0, 0});   // grazing: perpendicular to the light
    quad(s, 2, 18, 14, 30, 4, {0, 0, 1});   // faces away
    quad(s, 18, 18, 30, 30, 4, {0, 0, -5}); // unnormalised normal, renormalised
    Canvas c(32, 32);
    c.clear_all(kBg, 0xFFFF);
    Target t = c.target();
    Renderer r;
    DrawParams p = params(FILL_SOLID | SHADE_GOURAUD | LIGHT_ON, 1.0f, 0.5f, 0.25f);
    p.lighting = &light;
    r.draw(t, s.mesh(), p);
    const uint32_t lit = c.at(8, 8), grazing = c.at(24, 8), away = c.at(8, 24),
                   scaled = c.at(24, 24);
    // colour x (ambient + N.L x light): 0.9 and 0.1 of the mesh colour.
    EXPECT_NEAR(channel(lit, 16), 230, 1);
    EXPECT_NEAR(channel(lit, 8), 115, 1);
    EXPECT_NEAR(channel(lit, 0), 57, 1);
    EXPECT_NEAR(channel(grazing, 16), 26, 1);
    EXPECT_EQ(away, grazing);
    EXPECT_EQ(scaled, lit);

    // A rotated model: normals turn with it (the light now hits the first quad at 60 degrees).
    Canvas d(32, 32);
    Target td = d.target();
    Scene one;
    const Vec3 n = {0, 0, -1};
    one.tri({-6, 6, 0}, {6, 6, 0}, {6, -6, 0});
    one.nrm.assign(3, n);
    DrawParams q = p;
    const float a = float(M_PI) / 3;
    q.model_to_camera.m[0][0] = std::cos(a);
    q.model_to_camera.m[0][2] = std::sin(a);
    q.model_to_camera.m[2][0] = -std::sin(a);
    q.model_to_camera.m[2][2] = std::cos(a);
    q.model_to_camera.m[3][0] = 16;
    q.model_to_camera.m[3][1] = -16;
    q.model_to_camera.m[3][2] = 40;
    q.projection = {40, 40, 0, 0, 1, 100};
    r.draw(td, one.mesh(), q);
    int found = -1;
    for (int y = 0; y < 32 && found < 0; ++y)
        for (int x = 0; x < 32; ++x)
            if (d.at(x, y)) found = channel(d.at(x, y), 16);
    EXPECT_NEAR(found, 255 * (0.1 + 0.8 * 0.5), 1.5);

    // Light off: the mesh colour exactly.
    DrawParams off = params(FILL_SOLID | SHADE_GOURAUD | LIGHT_OFF, 1.0f, 0.5f, 0.0f);
    off.lighting = &light;
    c.clear_all(kBg, 0xFFFF);
    r.draw(t, s.mesh(), off);
    EXPECT_EQ(c.at(8, 24), 0xFF8000u);
}

TEST(Shading, FlatIsOneColourGouraudBlends) {
    Lighting light{};
    light.directional_count = 1;
    light.directional[0].dir = {0, 0, 1};
    light.directional[0].color[0] = light.directional[0].color[1] = light.directional[0].color[2] =
        1;
    Scene s;
    s.vertex(Scene::at(2, 2), {0, 0, -1});
    s.vertex(Scene::at(60, 2), {1, 0, 0});
    s.vertex(Scene::at(2, 60), {0, 0, -1});
    s.idx = {0, 1, 2};
    for (bool gouraud : {false, true}) {
        Canvas c(64, 64);
        Target t = c.target();
        Renderer r;
        DrawParams p = params(FILL_SOLID | LIGHT_ON | (gouraud ? SHADE_GOURAUD : SHADE_FLAT));
        p.lighting = &light;
        r.draw(t, s.mesh(), p);
        std::set<uint32_t> colours;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                if (c.at(x, y)) colours.insert(c.at(x, y));
        if (gouraud) {
            EXPECT_GT(colours.size(), 20u);
            EXPECT_GT(c.at(3, 3), c.at(55, 3)); // bright at the lit corner, dark towards the other
        } else {
            // The average of the vertex colours: (1 + 0 + 1) / 3.
            ASSERT_EQ(colours.size(), 1u);
            EXPECT_EQ(*colours.begin(), 0xAAAAAAu);
        }
    }
}

TEST(Shading, GouraudStaysWithinTheVertexColours) {
    // Intensity at a vertex is cos(angle) of its normal to the light; no pixel may leave the
    // range of its triangle's vertices, for large triangles, small ones and slivers alike.
    Lighting light{};
    light.directional_count = 1;
    light.directional[0].dir = {0, 0, 1};
    light.directional[0].color[0] = light.directional[0].color[1] = light.directional[0].color[2] =
        1;
    auto normal = [](float level) { return Vec3{std::sqrt(1 - level * level), 0, -level}; };
    struct Case {
        float x0, y0, x1, y1, x2, y2;
        float l0, l1, l2;
    } cases[] = {
        {2, 2, 250, 10, 20, 190, 0.0f, 1.0f, 0.5f},            // large: block path
        {5, 5, 60, 9, 12, 50, 1.0f, 0.0f, 0.0f},               // small path
        {3, 3.3f, 200, 3.7f, 3, 3.6f, 0.0f, 1.0f, 0.2f},       // horizontal sliver
        {10.3f, 4, 10.7f, 190, 10.35f, 180, 1.0f, 0.0f, 1.0f}, // vertical sliver
        {7, 100, 240, 101.5f, 8, 103, 0.3f, 0.9f, 0.0f},       // long thin
    };
    for (const Case& k : cases) {
        Scene s;
        s.vertex(Scene::at(k.x0, k.y0), normal(k.l0));
        s.vertex(Scene::at(k.x1, k.y1), normal(k.l1));
        s.vertex(Scene::at(k.x2, k.y2), normal(k.l2));
        s.idx = {0, 1, 2};
        Canvas c(256, 200);
        c.clear_all(kBg, 0xFFFF);
        Target t = c.target();
        Renderer r;
        DrawParams p = params(FILL_SOLID | SHADE_GOURAUD | LIGHT_ON);
        p.lighting = &light;
        r.draw(t, s.mesh(), p);
        const int lo = int(255 * std::min({k.l0, k.l1, k.l2})) - 1;
        const int hi = int(255 * std::max({k.l0, k.l1, k.l2}) + 0.5f) + 1;
        int drawn = 0;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const uint32_t v = c.at(x, y);
                if (v == kBg) continue;
                ++drawn;
                ASSERT_GE(channel(v, 16), lo) << x << "," << y;
                ASSERT_LE(channel(v, 16), hi) << x << "," << y;
                ASSERT_EQ(channel(v, 16), channel(v, 0)) << x << "," << y; // grey light
            }
        EXPECT_GT(drawn, 0) << k.x0 << "," << k.y0;
    }
}

TEST(Depth, NearerSurfaceWinsInEitherOrder) {
    for (bool near_first : {false, true}) {
        Scene near, far;
        quad(near, 4, 4, 20, 20, 4);
        // The far quad overlaps the near one on screen and reaches beyond it.
        quad(far, 10 * 2, 10 * 2, 28 * 2, 28 * 2, 8);
        Canvas c(32, 32);
        c.clear_all(kBg, 0xFFFF);
        Target t = c.target();
        Renderer r;
        const DrawParams pn = params(FILL_SOLID, 1, 0, 0), pf = params(FILL_SOLID, 0, 0, 1);
        if (near_first) r.draw(t, near.mesh(), pn);
        r.draw(t, far.mesh(), pf);
        if (!near_first) r.draw(t, near.mesh(), pn);
        EXPECT_EQ(c.at(15, 15), 0xFF0000u) << near_first; // overlap: near
        EXPECT_EQ(c.at(25, 25), 0x0000FFu) << near_first; // far alone
        EXPECT_EQ(c.at(2, 2), kBg);
        EXPECT_LT(c.depth(15, 15), c.depth(25, 25));
        EXPECT_EQ(c.depth(2, 2), 0xFFFF);
    }
}

TEST(Depth, MapsFrontToZeroAndBackToTheTop) {
    // z' = back / (back - front) * (1 - front / z), scaled to 0..65535.
    for (float z : {1.5f, 4.0f, 50.0f}) {
        Scene s;
        quad(s, -100, -100, 100, 100, z);
        Canvas c(8, 8);
        Target t = c.target();
        Renderer r;
        r.draw(t, s.mesh(), params());
        const double want = 100.0 / 99.0 * (1 - 1 / z) * 65535;
        EXPECT_NEAR(c.depth(4, 4), want, 2) << z;
    }
}

TEST(Wireframe, DrawsOnlyTheAllowedEdges) {
    Scene s;
    s.tri_screen(4.5f, 4.5f, 40.5f, 4.5f, 4.5f, 40.5f);
    for (uint8_t mask : {uint8_t(7), uint8_t(5)}) {
        s.masks = {mask};
        Canvas c(48, 48);
        c.clear_all(kBg, 0xFFFF);
        Target t = c.target();
        Renderer r;
        r.draw(t, s.mesh(), params(FILL_WIREFRAME, 0, 1, 0));
        EXPECT_TRUE(c.guards_intact());
        EXPECT_EQ(c.at(22, 4), 0x00FF00u);                   // edge 0: top
        EXPECT_EQ(c.at(22, 22), mask & 2 ? 0x00FF00u : kBg); // edge 1: hypotenuse
        EXPECT_EQ(c.at(4, 22), 0x00FF00u);                   // edge 2: left
        EXPECT_EQ(c.at(12, 12), kBg);                        // interior
        EXPECT_EQ(c.at(4, 4), 0x00FF00u);                    // corners
        EXPECT_EQ(c.at(40, 4), 0x00FF00u);
        int lit = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 48; ++x) {
                if (c.at(x, y) == kBg) continue;
                ++lit;
                const bool on_edge = y == 4 || x == 4 || (mask & 2 && std::abs(x + y - 44) <= 1);
                EXPECT_TRUE(on_edge) << x << "," << y;
            }
        EXPECT_LE(lit, mask & 2 ? 37 * 3 : 37 * 2);
        const Rect d = r.drawn();
        EXPECT_EQ(d.left, 4);
        EXPECT_EQ(d.top, 4);
        EXPECT_EQ(d.right, 41);
        EXPECT_EQ(d.bottom, 41);
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
    Mesh m = s.mesh();
    std::vector<MeshEdge> all;
    build_edges(m, all);
    EXPECT_EQ(all.size(), size_t(tris) * 3 / 2); // closed: every edge has two triangles
    for (const MeshEdge& e : all)
        EXPECT_NE(e.faces[1], kNoFace);

    for (uint32_t t = 0; t < tris; ++t)
        s.masks.push_back(t % 3 ? 7 : 5);
    m = s.mesh();
    std::vector<MeshEdge> edges;
    build_edges(m, edges);
    for (float dist : {3.0f, 1.6f}) {
        DrawParams p = params(FILL_WIREFRAME | SHADE_GOURAUD);
        p.projection = {40, 40, 32, 32, 1, 100};
        p.model_to_camera.m[3][2] = dist;
        auto draw = [&](const Mesh& mesh) {
            Canvas c(64, 64, Format::Count8);
            Target t = c.target();
            t.depth = nullptr;
            Renderer r;
            r.draw(t, mesh, p);
            return c;
        };
        Mesh listed = m;
        listed.edges = edges.data();
        listed.edge_count = uint32_t(edges.size());
        Canvas twice = draw(m), once = draw(listed);
        int writes_twice = 0, writes_once = 0, covered = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                ASSERT_EQ(twice.at(x, y) != 0, once.at(x, y) != 0) << dist << ": " << x << "," << y;
                ASSERT_LE(once.at(x, y), twice.at(x, y)) << dist << ": " << x << "," << y;
                covered += once.at(x, y) != 0;
                writes_twice += int(twice.at(x, y));
                writes_once += int(once.at(x, y));
            }
        EXPECT_GT(covered, 100) << dist;
        EXPECT_LT(writes_once * 10, writes_twice * 9) << dist; // shared edges once
    }
}

TEST(Wireframe, IsDepthTestedAndClippedToTheTarget) {
    Scene wall, wire;
    quad(wall, 0, 0, 20, 40, 2); // in front of the left half
    wire.tri_screen(-30, 10, 200, 10, -30, 300, 4);
    Canvas c(40, 40);
    c.clear_all(kBg, 0xFFFF);
    Target t = c.target();
    Renderer r;
    r.draw(t, wall.mesh(), params(FILL_SOLID, 1, 0, 0));
    r.draw(t, wire.mesh(), params(FILL_WIREFRAME, 0, 1, 0));
    EXPECT_TRUE(c.guards_intact());
    EXPECT_EQ(c.at(10, 10), 0xFF0000u); // hidden behind the wall
    EXPECT_EQ(c.at(30, 10), 0x00FF00u);
}

TEST(Points, DrawTheVerticesOnly) {
    Scene s;
    s.tri_screen(4.5f, 4.5f, 20.5f, 4.5f, 4.5f, 20.5f);
    Canvas c(24, 24);
    c.clear_all(kBg, 0xFFFF);
    Target t = c.target();
    Renderer r;
    r.draw(t, s.mesh(), params(FILL_POINTS, 1, 1, 1));
    EXPECT_EQ(c.count_not(kBg), 3);
    EXPECT_EQ(c.at(4, 4), 0xFFFFFFu);
    EXPECT_EQ(c.at(20, 4), 0xFFFFFFu);
    EXPECT_EQ(c.at(4, 20), 0xFFFFFFu);
}

TEST(Formats, AllFormatsStoreTheColour) {
    for (Format f : {Format::XRGB8888, Format::RGB888, Format::RGB565, Format::Indexed8}) {
        Canvas c(21, 19, f); // odd sizes: rows end inside a group of four
        Scene s;
        quad(s, 3, 3, 21, 12);
        Target t = c.target();
        Renderer r;
        for (uint32_t shade : {uint32_t(SHADE_FLAT), uint32_t(SHADE_GOURAUD)}) {
            c.clear_all(kBg, 0xFFFF);
            r.draw(t, s.mesh(), params(FILL_SOLID | shade, 1.0f, 128 / 255.0f, 0.0f));
            const uint32_t in = c.at(20, 5), out = c.at(1, 1);
            EXPECT_NEAR(channel(in, 16), 255, 8) << int(f);
            EXPECT_NEAR(channel(in, 8), 128, 8) << int(f);
            EXPECT_NEAR(channel(in, 0), 0, 8) << int(f);
            EXPECT_NEAR(channel(out, 16), 0x10, 8) << int(f);
            EXPECT_NEAR(channel(out, 0), 0x30, 8) << int(f);
            EXPECT_EQ(c.count_not(c.at(1, 1)), 18 * 9);
        }
        EXPECT_TRUE(c.guards_intact()) << int(f);
    }
}

TEST(Formats, SixteenBitPixelsAreTheTrueColourOnesTruncated) {
    // Gouraud triangles of several sizes (all fill paths), drawn in XRGB8888 and in RGB565:
    // every 565 pixel holds the high bits of the true-colour one.
    Lighting light{};
    light.ambient[0] = light.ambient[1] = light.ambient[2] = 0.1f;
    light.directional_count = 1;
    light.directional[0].dir = {0.5f, -0.3f, 1};
    light.directional[0].color[0] = light.directional[0].color[1] = 0.9f;
    light.directional[0].color[2] = 0.7f;
    Scene s;
    auto tri = [&](float x0, float y0, float x1, float y1, float x2, float y2) {
        const uint32_t a = s.vertex(Scene::at(x0, y0), {-0.6f, 0.2f, -1});
        const uint32_t b = s.vertex(Scene::at(x1, y1), {0.7f, 0.5f, -1});
        const uint32_t c = s.vertex(Scene::at(x2, y2), {0.1f, -0.8f, -1});
        s.idx.insert(s.idx.end(), {a, b, c});
    };
    tri(2.2f, 2.1f, 5.4f, 2.6f, 2.5f, 5.3f);   // 4x4 block
    tri(8.3f, 2.2f, 19.6f, 3.1f, 9.1f, 12.7f); // whole-row groups
    tri(24, 2, 60, 9, 27, 40);                 // span walk
    tri(2, 44, 120, 46, 30, 150);              // large
    Canvas full(128, 160), small(128, 160, Format::RGB565);
    for (Canvas* c : {&full, &small}) {
        c->clear_all(kBg, 0xFFFF);
        Target t = c->target();
        Renderer r;
        DrawParams p = params(FILL_SOLID | SHADE_GOURAUD | LIGHT_ON, 1, 0.9f, 0.8f);
        p.lighting = &light;
        r.draw(t, s.mesh(), p);
    }
    auto widen = [](uint32_t v) {
        const uint32_t R = v >> 19 & 31, G = v >> 10 & 63, B = v >> 3 & 31;
        return ((R << 3 | R >> 2) << 16) | ((G << 2 | G >> 4) << 8) | (B << 3 | B >> 2);
    };
    int drawn = 0;
    for (int y = 0; y < full.h; ++y)
        for (int x = 0; x < full.w; ++x) {
            drawn += full.at(x, y) != kBg;
            ASSERT_EQ(small.at(x, y), widen(full.at(x, y))) << x << "," << y;
        }
    EXPECT_GT(drawn, 2000);
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
    Lighting light{};
    light.directional_count = 1;
    light.directional[0].dir = {0, 0, 1};
    light.directional[0].color[0] = 1;
    light.directional[0].color[1] = 0.7f;
    light.directional[0].color[2] = 0.3f;
    Scene s;
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j) {
            const float a = float(i) / 16, b = float(j) / 16;
            quad(s, i * 4, j * 4, i * 4 + 4, j * 4 + 4, 4, {std::sin(a * 3), b - 0.5f, -1});
        }
    Target t = c.target();
    Renderer r;
    DrawParams p = params(FILL_SOLID | SHADE_GOURAUD | LIGHT_ON, 1, 1, 1);
    p.lighting = &light;
    r.draw(t, s.mesh(), p);
    int changed = 0;
    for (int i = 0; i < 256; ++i) {
        if (!pal.writable[i]) {
            EXPECT_FALSE(pal.changed[i]) << i;
            EXPECT_EQ(pal.entries[i].r, before.entries[i].r) << i;
            EXPECT_EQ(pal.entries[i].g, before.entries[i].g) << i;
        }
        changed += pal.changed[i];
    }
    EXPECT_GT(changed, 10);
    EXPECT_LE(changed, 236);
    // Pixels show roughly the shade asked for: red >= green >= blue as the light's colour.
    for (int y = 0; y < 64; y += 5)
        for (int x = 0; x < 64; x += 5) {
            const uint32_t v = c.at(x, y);
            EXPECT_GE(channel(v, 16) + 24, channel(v, 8)) << x << "," << y;
            EXPECT_GE(channel(v, 8) + 24, channel(v, 0)) << x << "," << y;
        }
    // A palette with no writable entry maps to the nearest usable one.
    Palette8 ro;
    for (int i = 0; i < 256; ++i)
        ro.writable[i] = false, ro.entries[i] = {uint8_t(i), 0, 0};
    ro.reset();
    const int red = ro.index_for(0x640000);
    EXPECT_NEAR(red, 100, 4); // within the 5-bit matching step
    EXPECT_FALSE(ro.changed[red]);
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

TEST(Drawn, BoundsEveryWrittenPixelAndResets) {
    Scene s;
    s.tri_screen(5.2f, 3.7f, 27.9f, 9.1f, 11.3f, 21.6f);
    Canvas c(32, 32);
    c.clear_all(kBg, 0xFFFF);
    Target t = c.target();
    Renderer r;
    EXPECT_TRUE(r.drawn().empty());
    r.draw(t, s.mesh(), params());
    const Rect d = r.drawn();
    int inside = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            if (c.at(x, y) != kBg) {
                ASSERT_TRUE(x >= d.left && x < d.right && y >= d.top && y < d.bottom)
                    << x << "," << y;
                ++inside;
            }
    EXPECT_GT(inside, 0);
    EXPECT_GE(inside * 3, (d.right - d.left) * (d.bottom - d.top)); // reasonably tight
    r.reset_drawn();
    EXPECT_TRUE(r.drawn().empty());
}

} // namespace
} // namespace rt
