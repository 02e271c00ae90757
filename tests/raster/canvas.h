// Test target with guard bytes around the pixels and helpers to place geometry on screen.
#pragma once

#include <raster/raster.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace rt {

using namespace raster;

// Pixels and depth with padding after every row and guard bytes before and after.
struct Canvas {
    static constexpr int kGuard = 64;
    static constexpr uint8_t kFill = 0xA5;
    int w, h, pitch, dpitch;
    Format format;
    std::vector<uint8_t> mem;
    std::vector<uint16_t> zmem;
    Palette8 palette;

    Canvas(int w_, int h_, Format f = Format::XRGB8888, uint32_t background = 0)
        : w(w_), h(h_), pitch(w_ * bytes_per_pixel(f) + 12), dpitch(w_ + 5), format(f),
          mem(size_t(pitch) * h_ + 2 * kGuard, kFill),
          zmem(size_t(dpitch) * h_ + 2 * kGuard, 0xA5A5) {
        clear_all(background);
    }
    Target target() {
        return {mem.data() + kGuard, w, h, pitch, format, zmem.data() + kGuard, dpitch, &palette};
    }
    void clear_all(uint32_t rgb) { // depth to the back plane
        Target t = target();
        raster::clear(t, {0, 0, w, h}, rgb, 0xFFFF);
    }
    // Draws with a fresh renderer (without the depth buffer if asked) and returns its drawn().
    Rect draw(const Mesh& m, const DrawParams& p, bool with_depth = true) {
        Target t = target();
        if (!with_depth) t.depth = nullptr;
        Renderer r;
        r.draw(t, m, p);
        return r.drawn();
    }
    uint8_t* row(int y) { return mem.data() + kGuard + size_t(y) * pitch; }
    uint16_t depth(int x, int y) const { // buffers hold the complement
        return uint16_t(~zmem[kGuard + size_t(y) * dpitch + x]);
    }
    // Pixel as 0xRRGGBB (565 widened, palette looked up; Count8 as the count).
    uint32_t at(int x, int y) {
        const uint8_t* r = row(y);
        const PaletteEntry e = palette.entries[r[x]];
        uint16_t v16;
        uint32_t v32;
        switch (format) {
        case Format::XRGB8888:
            return std::memcpy(&v32, r + 4 * x, 4), v32;
        case Format::RGB888:
            return uint32_t(r[3 * x + 2]) << 16 | uint32_t(r[3 * x + 1]) << 8 | r[3 * x];
        case Format::RGB565:
            return std::memcpy(&v16, r + 2 * x, 2), from565(v16);
        case Format::Indexed8:
            return uint32_t(e.r) << 16 | uint32_t(e.g) << 8 | e.b;
        default:
            return r[x];
        }
    }
    // Guard bytes, row padding and depth padding still hold their fill.
    bool guards_intact() const {
        auto intact = [](const auto& v, int row, int used, unsigned fill) {
            for (size_t i = 0; i < v.size(); ++i) {
                const long j = long(i) - kGuard; // from the first row
                const bool pixel = j >= 0 && j < long(v.size()) - 2 * kGuard && j % row < used;
                if (!pixel && v[i] != fill) return false;
            }
            return true;
        };
        return intact(mem, pitch, w * bytes_per_pixel(format), kFill) &&
               intact(zmem, dpitch, w, 0xA5A5);
    }
    int count_not(uint32_t bg) {
        int n = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                n += at(x, y) != bg;
        return n;
    }
};

// Camera-space geometry built from screen positions: with the projection below, a point at
// depth 4 lands exactly on the screen coordinates it was made from.
struct Scene {
    std::vector<Vec3> pos, nrm;
    std::vector<uint32_t> idx;
    std::vector<uint8_t> masks;

    static Projection projection() { return {4, 4, 0, 0, 1, 100}; }
    static Vec3 at(float sx, float sy, float z = 4) { return {sx * z / 4, -sy * z / 4, z}; }
    uint32_t vertex(Vec3 p, Vec3 n = {0, 0, -1}) {
        pos.push_back(p);
        nrm.push_back(n);
        return uint32_t(pos.size() - 1);
    }
    // Vertices given clockwise on screen (front-facing).
    void tri(Vec3 a, Vec3 b, Vec3 c) {
        const uint32_t i = vertex(a), j = vertex(b), k = vertex(c);
        idx.insert(idx.end(), {i, j, k});
    }
    void tri_screen(float x0, float y0, float x1, float y1, float x2, float y2, float z = 4) {
        tri(at(x0, y0, z), at(x1, y1, z), at(x2, y2, z));
    }
    Mesh mesh() const {
        const uint8_t* m = masks.empty() ? nullptr : masks.data();
        return {pos.data(), nrm.data(), uint32_t(pos.size()), idx.data(), uint32_t(idx.size() / 3),
                m};
    }
};

inline DrawParams params(uint32_t quality = FILL_SOLID, float r = 1, float g = 1, float b = 1,
                         const Lighting* lighting = nullptr) {
    const Mat4 identity{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    return {identity, Scene::projection(), quality, {r, g, b}, lighting};
}

// Uniform floats in [0, 1) from a fixed seed, the same on every run.
inline auto random_floats(uint32_t seed) {
    return
        [seed]() mutable { return float((seed = seed * 1664525u + 1013904223u) >> 8) / 0x1p24f; };
}

// n vertices with normals seen through kRandomView, tris random triangles over them (both
// facings, many shared edges), and vertices across the near plane, off to a side and not finite.
constexpr Projection kRandomView{30, 30, 32, 24, 1, 50}; // for a 64 x 48 target
inline Scene random_scene(uint32_t seed, uint32_t n = 63, int tris = 200) {
    auto rnd = random_floats(seed);
    Scene s;
    for (uint32_t i = 0; i < n; ++i) {
        const float z = 1.5f + rnd() * 12;
        s.vertex({(rnd() - 0.5f) * z * 1.4f, (rnd() - 0.5f) * z * 1.4f, z},
                 {rnd() - 0.5f, rnd() - 0.5f, -rnd()});
    }
    s.pos[3].z = 0.6f;
    s.pos[7] = {std::nanf(""), 0, 4};
    s.pos[11].x = 3 * s.pos[11].z;
    for (int i = 0; i < 3 * tris; ++i)
        s.idx.push_back(uint32_t(rnd() * n) % n);
    return s;
}

inline int channel(uint32_t c, int shift) {
    return int((c >> shift) & 0xFF);
}

} // namespace rt
