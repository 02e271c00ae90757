// Coverage: which pixels a fill writes, how often, and the bounds reported drawn; culling,
// clipping, vertex processing and hostile input.

#include "canvas.h"

#include <gtest/gtest.h>

#include <cmath>

namespace rt {
namespace {

constexpr uint32_t kSolid = FILL_SOLID, kWire = FILL_WIREFRAME, kPoints = FILL_POINTS;

// Writes per pixel; no depth test, so overlapping draws all count.
Canvas count(const Scene& s, int w = 48, int h = 48, uint32_t q = FILL_SOLID) {
    Canvas c(w, h, Format::Count8);
    c.draw(s.mesh(), params(q), false);
    EXPECT_TRUE(c.guards_intact());
    return c;
}

// A convex polygon drawn as a fan of triangles around its centre, clockwise on screen.
struct Polygon {
    float cx, cy, radius;
    int n;
    float phase;
    float x(int i) const { return cx + radius * std::cos(phase + 2 * float(M_PI) * i / n); }
    float y(int i) const { return cy + radius * std::sin(phase + 2 * float(M_PI) * i / n); }
    // (px, py) lies more than margin pixels inside every edge.
    bool inside(float px, float py, float margin) const {
        for (int i = 0; i < n; ++i) {
            const float ex = x(i + 1) - x(i), ey = y(i + 1) - y(i);
            if ((ex * (py - y(i)) - ey * (px - x(i))) / std::hypot(ex, ey) < margin) return false;
        }
        return true;
    }
};

TEST(Fill, FansCoverEveryPixelOfTheirPolygonExactlyOnce) {
    // Shared edges in many orientations and sub-pixel offsets; slivers, tiny fans, a fan big
    // enough for the block path and fans across the target's edges. With a depth buffer narrow
    // triangles take fills that shade whole four-pixel groups and write back what they do not
    // cover. What the renderer reports drawn bounds every write, and not much more.
    std::vector<std::pair<Polygon, int>> cases; // polygon, canvas size
    for (int n : {3, 5, 13, 40})
        for (float sub : {0.0f, 0.0625f, 0.25f, 0.3125f})
            for (float phase : {0.0f, 0.3f, float(M_PI) / 4, 1.1f})
                cases.push_back({{24 + sub, 24 + sub * 0.5f, 15.5f + sub, n, phase}, 48});
    cases.push_back({{60.3f, 50.7f, 55.0f, 7, 0.2f}, 128});
    cases.push_back({{7.2f, 6.9f, 2.6f, 6, 0.1f}, 16});
    cases.push_back({{40.3f, 38.6f, 15.5f, 9, 0.4f}, 48});
    cases.push_back({{4.4f, 5.1f, 12.5f, 11, 0.7f}, 48});
    for (const auto& [poly, size] : cases)
        for (bool depth : {false, true}) {
            // A draw per triangle, each nearer than the one before (a farther back plane), so
            // with a depth buffer every write passes and counts.
            Canvas c(size, size, Format::Count8);
            Target t = c.target();
            t.depth = depth ? t.depth : nullptr;
            Renderer r;
            for (int i = 0; i < poly.n; ++i) {
                Scene one;
                one.tri_screen(poly.cx, poly.cy, poly.x(i), poly.y(i), poly.x(i + 1),
                               poly.y(i + 1));
                DrawParams p = params();
                p.projection.back = 100.0f + 10 * i;
                r.draw(t, one.mesh(), p);
            }
            const Rect d = r.drawn();
            EXPECT_TRUE(c.guards_intact());
            EXPECT_TRUE(d.right - d.left <= 2 * poly.radius + 2 &&
                        d.bottom - d.top <= 2 * poly.radius + 2);
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) {
                    const uint32_t k = c.at(x, y);
                    const bool in = poly.inside(x + 0.5f, y + 0.5f, 0.07f),
                               out = !poly.inside(x + 0.5f, y + 0.5f, -0.07f),
                               bounded = x >= d.left && x < d.right && y >= d.top && y < d.bottom;
                    ASSERT_TRUE(k <= 1 && (!in || k == 1) && (!out || k == 0) && (!k || bounded))
                        << k << " writes at " << x << "," << y << " n=" << poly.n
                        << " r=" << poly.radius << (depth ? " with depth" : "");
                }
        }
}

TEST(Fill, TopLeftRuleOnPixelCentres) {
    // Every edge through pixel centres: left and top edges are in, right and bottom out. A
    // square split along its diagonal, small and large enough for the block path (a single
    // triangle's right edge below).
    for (int s : {4, 80}) {
        Scene square;
        square.tri_screen(2.5f, 2.5f, 2.5f + s, 2.5f, 2.5f + s, 2.5f + s);
        square.tri_screen(2.5f, 2.5f, 2.5f + s, 2.5f + s, 2.5f, 2.5f + s);
        Canvas a = count(square, 90, 90);
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 90; ++x)
                ASSERT_EQ(a.at(x, y), uint32_t(x >= 2 && x < 2 + s && y >= 2 && y < 2 + s))
                    << s << ": " << x << "," << y;
    }
}

TEST(Fill, BackFacesAreCulledInEveryModeWireAndPointsDrawTheAllowedEdgesAndTheVertices) {
    Scene back, front;
    back.tri_screen(4.5f, 4.5f, 4.5f, 40.5f, 40.5f, 4.5f); // counter-clockwise on screen
    front.tri_screen(4.5f, 4.5f, 40.5f, 4.5f, 4.5f, 40.5f);
    for (uint32_t q : {kSolid, kWire, kPoints})
        EXPECT_EQ(count(back, 48, 48, q).count_not(0), 0) << q;
    for (uint8_t mask : {uint8_t(0), uint8_t(7), uint8_t(5), uint8_t(8)}) { // 0: points, 8: solid
        front.masks = {mask};
        Canvas c(48, 48, Format::Count8);
        const Rect d = c.draw(front.mesh(), params(mask == 8 ? kSolid : mask ? kWire : kPoints));
        EXPECT_TRUE(d.left == 4 && d.top == 4 && d.right == 41 && d.bottom == 41);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 48; ++x) {
                // Edge 0 along the top, 1 the hypotenuse, 2 down the left; both ends drawn.
                const bool vertex = (x == 4 && (y == 4 || y == 40)) || (x == 40 && y == 4);
                const bool edge = (y == 4 && x >= 4 && x <= 40) || (x == 4 && y >= 4 && y <= 40);
                const bool diagonal = std::abs(x + y - 44) <= 1 && x >= 4 && y >= 4;
                const bool lit = c.at(x, y) != 0;
                EXPECT_TRUE(mask == 8 ? lit == (x >= 4 && y >= 4 && x + y < 44) // right edge out
                            : mask    ? (edge ? lit : lit <= (mask & 2 && diagonal))
                                      : lit == vertex)
                    << int(mask) << ": " << x << "," << y;
            }
        EXPECT_TRUE(mask == 8 || c.count_not(0) <= (mask & 2 ? 37 * 3 : 37 * 2));
        EXPECT_EQ(c.at(22, 22) != 0, (mask & 2) != 0);
    }
}

TEST(Fill, HostileInputDrawsNothingWrongAndNothingOutsideTheTarget) {
    const float nan = std::nanf(""), inf = INFINITY;
    Scene s;
    s.tri(Vec3{nan, 0, 4}, Scene::at(30, 0), Scene::at(0, 30));
    s.tri(Vec3{inf, -inf, 4}, Scene::at(30, 0), Scene::at(0, 30));
    s.tri(Vec3{1e38f, 1e38f, 1e38f}, Vec3{-1e38f, 1e38f, 1e-38f}, Vec3{0, -1e38f, -1e38f});
    s.tri(Vec3{1e-30f, 0, 1e-30f}, Vec3{0, 1e-30f, -1e-30f}, Vec3{-1e-30f, 0, 1e-30f});
    for (uint32_t q : {kSolid | SHADE_GOURAUD, kWire, kPoints})
        EXPECT_EQ(count(s, 40, 40, q).count_not(0), 0) << q;

    // Corners far outside any guard band: the screen covered once.
    Scene huge;
    huge.tri_screen(-1e7f, -1e7f, 3e7f, -1e7f, -1e7f, 3e7f);
    EXPECT_EQ(count(huge, 40, 30).count_not(1), 0);

    // Out-of-range indices among good ones (vertex count 3): just past the end, past 2^24, top
    // bit. Their triangles are skipped, the rest still drawn.
    Scene t;
    t.tri_screen(5, 5, 30, 5, 5, 30);
    const int good = count(t, 40, 40).count_not(0);
    for (uint32_t bad : {3u, (1u << 24) + 1, 0x80000000u, 0xFFFFFFFFu, 99u})
        for (int k = 0; k < 4; ++k)
            t.idx.insert(t.idx.end(), {bad, 1, 2, 0, bad, 2, 0, 1, bad, 0, 1, 2});
    EXPECT_EQ(count(t, 40, 40).count_not(0), good);

    // Unusable matrix or projection: nothing drawn, nothing broken.
    for (int k = 0; k < 3; ++k) {
        DrawParams p = params();
        (k == 0   ? p.model_to_camera.m[0][0]
         : k == 1 ? p.projection.back
                  : p.projection.front) = k == 2 ? 0 : nan;
        Canvas c(20, 20);
        c.draw(t.mesh(), p);
        EXPECT_TRUE(c.guards_intact() && c.count_not(0) == 0) << k;
    }

    // Random positions over many magnitudes, in front of, across and behind the camera.
    auto rnd = random_floats(12345);
    auto coord = [&] { return (rnd() - 0.5f) * std::pow(10.0f, rnd() * 8 - 3); };
    Scene r;
    for (int i = 0; i < 600; ++i)
        r.tri({coord(), coord(), coord()}, {coord(), coord(), coord()},
              {coord(), coord(), coord()});
    for (Format f : {Format::Indexed8, Format::RGB565, Format::RGB888, Format::XRGB8888})
        for (uint32_t q : {kSolid | SHADE_GOURAUD, kWire, kPoints}) {
            Canvas c(37, 23, f);
            DrawParams p = params(q);
            p.projection = {20, 20, 18, 11, 0.01f, 1000};
            c.draw(r.mesh(), p);
            EXPECT_TRUE(c.guards_intact()) << int(f) << " " << q;
            EXPECT_TRUE(f != Format::XRGB8888 || c.count_not(0) > 0) << q; // not all culled
        }
}

TEST(Fill, NearAndBackPlanesCutWhatCrossesThem) {
    // A floor at y = -1 from behind the camera (z = -10) out to z = 50: screen y = 8 + 32 / z,
    // cut by the back plane (z = 10) at y = 11.2 and by the near plane (z = 1) at y = 40.
    Scene s;
    s.tri({-40, -1, -10}, {-40, -1, 50}, {40, -1, 50});
    s.tri({-40, -1, -10}, {40, -1, 50}, {40, -1, -10});
    DrawParams p = params();
    p.projection = {32, 32, 32, 8, 1, 10};
    Canvas c(64, 64);
    c.draw(s.mesh(), p);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) // the rows at the planes themselves may go either way
            ASSERT_TRUE(y == 11 || y == 39 || y == 40 || (c.at(x, y) != 0) == (y > 11 && y < 39))
                << x << "," << y;
}

} // namespace
} // namespace rt
