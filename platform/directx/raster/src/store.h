// Pixel stores, one per format, and the depth-tested single pixel of lines and points.
#pragma once

#include <raster/raster.h>

#include <cstddef>
#include <cstdint>

namespace raster {
namespace {

template <Format F> inline void store_pixel(const Target& t, uint8_t* row, int x, uint32_t c) {
    if constexpr (F == Format::XRGB8888) {
        reinterpret_cast<uint32_t*>(row)[x] = c;
    } else if constexpr (F == Format::RGB888) {
        store888(row + 3 * x, c);
    } else if constexpr (F == Format::RGB565) {
        reinterpret_cast<uint16_t*>(row)[x] = to565(c);
    } else if constexpr (F == Format::Indexed8) {
        row[x] = t.palette ? t.palette->index_for(c) : 0;
    } else {
        if (row[x] != 255) ++row[x];
    }
}

template <Format F> inline void plot(const Target& t, int x, int y, float z, uint32_t c) {
    if (t.depth) {
        uint16_t* d = t.depth + size_t(y) * size_t(t.depth_pitch) + x;
        const int zi = static_cast<int>(z + 0.5f);
        if (!(zi < (*d ^ 0xFFFF))) return;
        *d = uint16_t(~zi);
    }
    store_pixel<F>(t, t.pixels + size_t(y) * size_t(t.pitch), x, c);
}

inline void plot(const Target& t, int x, int y, float z, uint32_t c) {
    switch (t.format) {
    case Format::XRGB8888:
        return plot<Format::XRGB8888>(t, x, y, z, c);
    case Format::RGB888:
        return plot<Format::RGB888>(t, x, y, z, c);
    case Format::RGB565:
        return plot<Format::RGB565>(t, x, y, z, c);
    case Format::Indexed8:
        return plot<Format::Indexed8>(t, x, y, z, c);
    case Format::Count8:
        return plot<Format::Count8>(t, x, y, z, c);
    }
}

} // namespace
} // namespace raster
