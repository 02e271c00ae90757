// Coverage: which pixels a fill writes, and how often.

#include "canvas.h"

#include <gtest/gtest.h>

#include <cmath>

namespace rt {
namespace {

// Counts of writes per pixel for the scene.
Canvas count(const Scene& s, int w = 48, int h = 48, uint32_t q = FILL_SOLID) {
    Canvas c(w, h, Format::Count8);
    Target t = c.target();
    t.depth = nullptr; // coverage only: overlapping draws must not be hidden by the depth test
    Renderer r;
    r.draw(t, s.mesh(), params(q));
    EXPECT_TRUE(c.guards_intact());
    return c;
}

// A convex polygon (centre cx, cy; radius; n corners; rotated by phase) as a fan of triangles
// around its centre, clockwise on screen.
Scene fan(float cx, float cy, float radius, int n, float phase) {
    Scene s;
    for (int i = 0; i < n; ++i) {
        const float a0 = phase + 2 * float(M_PI) * i / n,
                    a1 = phase + 2 * float(M_PI) * (i + 1) / n;
        s.tri_screen(cx, cy, cx + radius * std::cos(a0), cy + radius * std::sin(a0),
                     cx + radius * std::cos(a1), cy + radius * std::sin(a1));
    }
    return s;
}

// Inside the convex polygon by more than `margin` pixels (corners as in fan()).
bool inside_polygon(float px, float py, float cx, float cy, float radius, int n, float phase,
                    float margin) {
    for (int i = 0; i < n; ++i) {
        const float a0 = phase + 2 * float(M_PI) * i / n,
                    a1 = phase + 2 * float(M_PI) * (i + 1) / n;
        const float x0 = cx + radius * std::cos(a0), y0 = cy + radius * std::sin(a0);
        const float x1 = cx + radius * std::cos(a1), y1 = cy + radius * std::sin(a1);
        const float ex = x1 - x0, ey = y1 - y0;
        const float d = (ex * (py - y0) - ey * (px - x0)) / std::sqrt(ex * ex + ey * ey);
        if (d < margin) return false;
    }
    return true;
}

TEST(Fill, FansCoverEveryPixelOfTheirUnionExactlyOnce) {
    int polygons = 0;
    for (int n : {3, 4, 5, 8, 13})
        for (float sub : {0.0f, 0.25f, 0.5f, 0.0625f, 0.3125f})
            for (float phase : {0.0f, 0.3f, float(M_PI) / 4, 1.1f}) {
                const float cx = 24 + sub, cy = 24 + sub * 0.5f, radius = 15.5f + sub;
                Canvas c = count(fan(cx, cy, radius, n, phase));
                for (int y = 0; y < c.h; ++y)
                    for (int x = 0; x < c.w; ++x) {
                        const uint32_t k = c.at(x, y);
                        ASSERT_LE(k, 1u) << "double write at " << x << "," << y << " n=" << n;
                        if (inside_polygon(x + 0.5f, y + 0.5f, cx, cy, radius, n, phase, 0.07f)) {
                            ASSERT_EQ(k, 1u) << "crack at " << x << "," << y << " n=" << n;
                        }
                        if (!inside_polygon(x + 0.5f, y + 0.5f, cx, cy, radius, n, phase, -0.07f)) {
                            ASSERT_EQ(k, 0u) << "outside at " << x << "," << y << " n=" << n;
                        }
                    }
                ++polygons;
            }
    EXPECT_EQ(polygons, 100);
}

TEST(Fill, JitteredGridHasNoCracksOrOverlaps) {
    // A 6x6 grid of quads with displaced inner vertices, both diagonals in use.
    Scene s;
    auto px = [](int i, int j) {
        return 4.0f + 7 * i + (i % 6 ? 0.37f * ((i * 7 + j * 3) % 5 - 2) : 0);
    };
    auto py = [](int i, int j) {
        return 4.0f + 7 * j + (j % 6 ? 0.29f * ((i * 5 + j * 11) % 7 - 3) : 0);
    };
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j) {
            const float ax = px(i, j), ay = py(i, j), bx = px(i + 1, j), by = py(i + 1, j);
            const float cx = px(i, j + 1), cy = py(i, j + 1), dx = px(i + 1, j + 1),
                        dy = py(i + 1, j + 1);
            if ((i + j) % 2) {
                s.tri_screen(ax, ay, bx, by, cx, cy);
                s.tri_screen(bx, by, dx, dy, cx, cy);
            } else {
                s.tri_screen(ax, ay, bx, by, dx, dy);
                s.tri_screen(ax, ay, dx, dy, cx, cy);
            }
        }
    Canvas c = count(s);
    // The outer border is axis-aligned from 4 to 46: pixels 4..45 inclusive.
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            const bool in = x >= 4 && x < 46 && y >= 4 && y < 46;
            ASSERT_EQ(c.at(x, y), in ? 1u : 0u) << x << "," << y;
        }
}

TEST(Fill, DepthTestedPathsCoverEveryPixelOnce) {
    // With a depth buffer, narrow triangles take fills that shade whole four-pixel groups and
    // write back what they do not cover. Jittered grids of several cell sizes, each triangle
    // nearer than the one before (so every write passes and counts), running past the right
    // and bottom edges: every pixel from (2, 2) on is written exactly once.
    const int w = 70, h = 61;
    for (float cell : {2.6f, 3.9f, 9.0f, 14.5f, 30.0f, 80.0f}) {
        Scene s;
        const int n = int((w + 10) / cell) + 1;
        auto px = [&](int i, int j) {
            return 2.0f + cell * i + (i ? 0.21f * cell * ((i * 7 + j * 3) % 5 - 2) / 2 : 0);
        };
        auto py = [&](int i, int j) {
            return 2.0f + cell * j + (j ? 0.17f * cell * ((i * 5 + j * 11) % 7 - 3) / 3 : 0);
        };
        float z = 8;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                const float ax = px(i, j), ay = py(i, j), bx = px(i + 1, j), by = py(i + 1, j);
                const float cx = px(i, j + 1), cy = py(i, j + 1), dx = px(i + 1, j + 1),
                            dy = py(i + 1, j + 1);
                s.tri_screen(ax, ay, bx, by, dx, dy, z *= 0.9995f);
                s.tri_screen(ax, ay, dx, dy, cx, cy, z *= 0.9995f);
            }
        Canvas c(w, h, Format::Count8);
        Target t = c.target();
        Renderer r;
        r.draw(t, s.mesh(), params());
        EXPECT_TRUE(c.guards_intact()) << cell;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                ASSERT_EQ(c.at(x, y), x >= 2 && y >= 2 ? 1u : 0u) << cell << ": " << x << "," << y;
            }
    }
}

TEST(Fill, TopLeftRuleOnPixelCentres) {
    // Square with every edge and its diagonal through pixel centres: left and top edges are
    // in, right and bottom out.
    Scene s;
    s.tri_screen(2.5f, 2.5f, 6.5f, 2.5f, 6.5f, 6.5f);
    s.tri_screen(2.5f, 2.5f, 6.5f, 6.5f, 2.5f, 6.5f);
    Canvas c = count(s, 10, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(c.at(x, y), (x >= 2 && x < 6 && y >= 2 && y < 6) ? 1u : 0u) << x << "," << y;

    // One triangle, its left edge vertical and its top edge horizontal through centres.
    Scene t;
    t.tri_screen(1.5f, 1.5f, 5.5f, 1.5f, 1.5f, 5.5f);
    Canvas d = count(t, 8, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            // Centre strictly inside, or on the left or top edge; the hypotenuse is a right edge.
            const float cx = x + 0.5f, cy = y + 0.5f;
            const bool in = cx >= 1.5f && cy >= 1.5f && cx + cy < 7.0f;
            EXPECT_EQ(d.at(x, y), in ? 1u : 0u) << x << "," << y;
        }
}

TEST(Fill, LargeTrianglesMatchTheirEdgesAcrossBlocks) {
    // Big enough for the block path; compare against an exact reference test.
    Canvas c = count(fan(60.3f, 50.7f, 55.0f, 7, 0.2f), 128, 104);
    int ones = 0;
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            const uint32_t k = c.at(x, y);
            ASSERT_LE(k, 1u);
            if (inside_polygon(x + 0.5f, y + 0.5f, 60.3f, 50.7f, 55.0f, 7, 0.2f, 0.07f)) {
                ASSERT_EQ(k, 1u);
            }
            if (!inside_polygon(x + 0.5f, y + 0.5f, 60.3f, 50.7f, 55.0f, 7, 0.2f, -0.07f)) {
                ASSERT_EQ(k, 0u);
            }
            ones += k;
        }
    EXPECT_GT(ones, 5000);
}

TEST(Fill, BackFacesAreCulledInEveryFillMode) {
    Scene s;
    s.tri_screen(5, 5, 5, 30, 30, 5); // counter-clockwise on screen
    for (uint32_t q : {uint32_t(FILL_SOLID), uint32_t(FILL_WIREFRAME), uint32_t(FILL_POINTS)})
        EXPECT_EQ(count(s, 40, 40, q).count_not(0), 0) << q;
    Scene f;
    f.tri_screen(5, 5, 30, 5, 5, 30);
    for (uint32_t q : {uint32_t(FILL_SOLID), uint32_t(FILL_WIREFRAME), uint32_t(FILL_POINTS)})
        EXPECT_GT(count(f, 40, 40, q).count_not(0), 0) << q;
}

TEST(Fill, HugeCoordinatesCoverTheScreenOnce) {
    // A triangle whose corners are far outside any guard band.
    Scene s;
    s.tri_screen(-1e7f, -1e7f, 3e7f, -1e7f, -1e7f, 3e7f);
    Canvas c = count(s, 40, 30);
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x)
            ASSERT_EQ(c.at(x, y), 1u) << x << "," << y;
}

TEST(Fill, NonFiniteAndAbsurdInputIsSkippedSafely) {
    const float nan = std::nanf(""), inf = INFINITY;
    Scene s;
    s.tri(Vec3{nan, 0, 4}, Scene::at(30, 0), Scene::at(0, 30));
    s.tri(Vec3{inf, -inf, 4}, Scene::at(30, 0), Scene::at(0, 30));
    s.tri(Vec3{1e38f, 1e38f, 1e38f}, Vec3{-1e38f, 1e38f, 1e-38f}, Vec3{0, -1e38f, -1e38f});
    s.tri(Vec3{1e-30f, 0, 1e-30f}, Vec3{0, 1e-30f, -1e-30f}, Vec3{-1e-30f, 0, 1e-30f});
    for (uint32_t q :
         {uint32_t(FILL_SOLID | SHADE_GOURAUD), uint32_t(FILL_WIREFRAME), uint32_t(FILL_POINTS)}) {
        Canvas c = count(s, 40, 40, q);
        EXPECT_EQ(c.count_not(0), 0) << q;
    }
    // Out-of-range indices are skipped, the rest still drawn.
    Scene t;
    t.tri_screen(5, 5, 30, 5, 5, 30);
    t.idx.insert(t.idx.end(), {0, 1, 99});
    EXPECT_GT(count(t, 40, 40).count_not(0), 0);
    // Bad indices among many good ones (vertex count 3): just past the end, past 2^24, top bit.
    Scene u = t;
    u.idx.clear();
    for (uint32_t bad : {3u, (1u << 24) + 1, 0x80000000u, 0xFFFFFFFFu, 0u})
        for (int k = 0; k < 4; ++k)
            u.idx.insert(u.idx.end(), {0, 1, 2, bad, 1, 2, 0, bad, 2, 0, 1, bad});
    Canvas cu = count(u, 40, 40);
    EXPECT_EQ(cu.count_not(0), count(t, 40, 40).count_not(0));

    // Unusable matrix or projection: nothing drawn, nothing broken.
    Canvas c(20, 20);
    Target tg = c.target();
    Renderer r;
    DrawParams p = params();
    p.model_to_camera.m[0][0] = nan;
    r.draw(tg, t.mesh(), p);
    p = params();
    p.projection.front = 0;
    r.draw(tg, t.mesh(), p);
    p = params();
    p.projection.back = nan;
    r.draw(tg, t.mesh(), p);
    EXPECT_TRUE(c.guards_intact());
    EXPECT_LE(c.count_not(0), 20 * 20);
}

TEST(Fill, RandomGeometryNeverWritesOutsideTheTarget) {
    // Positions over many magnitudes, in front of, across and behind the camera.
    uint32_t seed = 12345;
    auto rnd = [&] {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / float(1 << 24);
    };
    auto coord = [&] { return (rnd() - 0.5f) * std::pow(10.0f, rnd() * 8 - 3); };
    Scene s;
    for (int i = 0; i < 600; ++i)
        s.tri({coord(), coord(), coord()}, {coord(), coord(), coord()},
              {coord(), coord(), coord()});
    for (Format f : {Format::XRGB8888, Format::RGB888, Format::RGB565, Format::Indexed8})
        for (uint32_t q : {uint32_t(FILL_SOLID | SHADE_GOURAUD), uint32_t(FILL_WIREFRAME),
                           uint32_t(FILL_POINTS)}) {
            Canvas c(37, 23, f);
            Target t = c.target();
            Renderer r;
            DrawParams p = params(q);
            p.projection = {20, 20, 18, 11, 0.01f, 1000};
            r.draw(t, s.mesh(), p);
            EXPECT_TRUE(c.guards_intact()) << int(f) << " " << q;
            if (f == Format::XRGB8888) {
                EXPECT_GT(c.count_not(0), 0) << q; // not all culled
            }
        }
}

TEST(Fill, VertexOrderDoesNotChangeThePicture) {
    // Vertices are processed in groups and one by one; where a vertex lands in its array must
    // not change a single pixel or depth value, whether it is on screen, off to a side, across
    // the near plane or not finite.
    uint32_t seed = 777;
    auto rnd = [&] {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / float(1 << 24);
    };
    Scene s;
    // 207 vertices: groups of eight where the processor has them, one of four, three alone.
    for (int i = 0; i < 207; ++i) {
        const float z = 0.5f + rnd() * 12;
        s.vertex({(rnd() - 0.5f) * z * 1.4f, (rnd() - 0.5f) * z * 1.4f, z},
                 {rnd() - 0.5f, rnd() - 0.5f, -rnd()});
    }
    s.pos[17] = {std::nanf(""), 0, 4};
    for (int i = 0; i < 300; ++i)
        for (int k = 0; k < 3; ++k)
            s.idx.push_back(uint32_t(rnd() * 207) % 207);
    Lighting light{};
    light.ambient[0] = light.ambient[1] = light.ambient[2] = 0.1f;
    light.directional_count = 1;
    light.directional[0].dir = {0.3f, -0.4f, 0.8f};
    light.directional[0].color[0] = light.directional[0].color[1] = 0.9f;
    light.directional[0].color[2] = 0.5f;

    auto render = [&](const Scene& sc, uint32_t q) {
        Canvas c(64, 48);
        Target t = c.target();
        Renderer r;
        DrawParams p = params(q, 1, 0.8f, 0.6f);
        p.projection = {30, 30, 32, 24, 1, 50};
        p.lighting = &light;
        r.draw(t, sc.mesh(), p);
        return c;
    };
    // The same mesh with its vertices rotated by one place and reversed.
    Scene moved;
    const uint32_t n = uint32_t(s.pos.size());
    auto place = [&](uint32_t i) { return n - 1 - (i + 1) % n; };
    moved.pos.resize(n);
    moved.nrm.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
        moved.pos[place(i)] = s.pos[i];
        moved.nrm[place(i)] = s.nrm[i];
    }
    for (uint32_t i : s.idx)
        moved.idx.push_back(place(i));
    for (uint32_t q : {uint32_t(FILL_SOLID | SHADE_GOURAUD | LIGHT_ON),
                       uint32_t(FILL_WIREFRAME | SHADE_FLAT | LIGHT_ON)}) {
        Canvas a = render(s, q), b = render(moved, q);
        EXPECT_GT(a.count_not(0), 200) << q;
        EXPECT_EQ(a.mem, b.mem) << q;
        EXPECT_EQ(a.zmem, b.zmem) << q;
    }
}

TEST(Fill, NearPlaneCrossingDrawsOnlyTheVisiblePart) {
    // A floor at y = -1 from behind the camera to z = 50: only rows below the horizon.
    const int w = 64, h = 64;
    Canvas c(w, h);
    Scene s;
    s.tri({-40, -1, -10}, {-40, -1, 50}, {40, -1, 50});
    s.tri({-40, -1, -10}, {40, -1, 50}, {40, -1, -10});
    DrawParams p = params();
    p.projection = {32, 32, 32, 8, 1, 100};
    Target t = c.target();
    Renderer r;
    r.draw(t, s.mesh(), p);
    EXPECT_TRUE(c.guards_intact());
    // Screen y = 8 + 32 / z: the far edge at y = 8.64, the near plane (z = 1) at y = 40.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool drawn = c.at(x, y) != 0;
            if (y <= 7 || y >= 40) {
                ASSERT_FALSE(drawn) << x << "," << y;
            }
            if (y >= 10 && y < 39) {
                ASSERT_TRUE(drawn) << x << "," << y;
            }
        }
    // Nearer rows are nearer in depth.
    EXPECT_LT(c.depth(32, 38), c.depth(32, 20));

    // The same floor out to z = 200 against a back plane at 100 (now at y = 11.2).
    Scene far;
    far.tri({-40, -1, -10}, {-40, -1, 200}, {40, -1, 200});
    far.tri({-40, -1, -10}, {40, -1, 200}, {40, -1, -10});
    Canvas d(w, h);
    Target td = d.target();
    p.projection = {320, 320, 32, 8, 1, 100};
    r.draw(td, far.mesh(), p);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            ASSERT_EQ(d.at(x, y) != 0, y >= 11) << x << "," << y;
        }
}

} // namespace
} // namespace rt
