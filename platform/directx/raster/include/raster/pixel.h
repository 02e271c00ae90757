// Pixel formats, rectangles and colour packing: the few facts about pixels that the renderer and
// the surfaces around it must agree on, kept in one place.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

namespace raster {

enum class Format {
    Indexed8, // one byte per pixel, an index into Target::palette
    RGB565,   // uint16 rrrrrggggggbbbbb
    RGB888,   // 3 bytes per pixel, B, G, R in memory
    XRGB8888, // uint32 0x00RRGGBB (the fast path)
    Count8,   // diagnostic: every pixel write increments the byte (saturating at 255)
};

constexpr int bytes_per_pixel(Format f) {
    switch (f) {
    case Format::RGB565:
        return 2;
    case Format::RGB888:
        return 3;
    case Format::XRGB8888:
        return 4;
    default:
        return 1;
    }
}

// 0x00RRGGBB to 565, each channel truncated.
constexpr uint16_t to565(uint32_t rgb) {
    return uint16_t(((rgb >> 8) & 0xF800) | ((rgb >> 5) & 0x07E0) | ((rgb >> 3) & 0x001F));
}

// 565 to 0x00RRGGBB, each channel widened by repeating its top bits, so 0 and full stay 0 and 255.
constexpr uint32_t from565(uint16_t c) {
    const uint32_t r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    return ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

// A 0x00RRGGBB colour as the three bytes B, G, R of an RGB888 pixel, and back.
inline void store888(uint8_t* p, uint32_t rgb) {
    p[0] = uint8_t(rgb);
    p[1] = uint8_t(rgb >> 8);
    p[2] = uint8_t(rgb >> 16);
}

inline uint32_t load888(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
}

// right/bottom exclusive; empty when right <= left or bottom <= top.
struct Rect {
    int left, top, right, bottom;
    bool empty() const { return right <= left || bottom <= top; }
    bool operator==(const Rect&) const = default;
};

// The union of rectangles added one at a time, for loops where a test for emptiness at every
// step would show (the renderer adds one per triangle): it starts as the union's identity, so
// adding a non-empty rectangle is four min/max.
struct Bounds {
    Rect box{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    void add(const Rect& r) { // r not empty
        box = {std::min(box.left, r.left), std::min(box.top, r.top), std::max(box.right, r.right),
               std::max(box.bottom, r.bottom)};
    }
    Rect rect() const { return box.empty() ? Rect{0, 0, 0, 0} : box; }
};

// The smallest rectangle holding both; an empty one adds nothing.
inline Rect unite(const Rect& a, const Rect& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    Bounds u;
    u.add(a);
    u.add(b);
    return u.box;
}

// The common part; {0, 0, 0, 0} when there is none.
inline Rect intersect(const Rect& a, const Rect& b) {
    const Rect r{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
                 a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
    return r.empty() ? Rect{0, 0, 0, 0} : r;
}

} // namespace raster
