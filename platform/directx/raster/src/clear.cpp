// Clearing a rectangle of the target and its depth buffer, 16 bytes a store.
#include <raster/raster.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <immintrin.h>

namespace raster {

namespace {

void fill_bytes(uint8_t* p, size_t bytes, __m128i v) {
    size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i + 16), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i + 32), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i + 48), v);
    }
    for (; i + 16 <= bytes; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), v);
    if (i == bytes) return;
    // The rest: one store ending at the end, over bytes already filled (the pattern repeats
    // every 2 or 4 bytes and so does bytes, so it lines up). Only rows narrower than a store
    // take the memcpy, a library call that cost more than the rest of a short row.
    if (bytes >= 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + bytes - 16), v);
        return;
    }
    alignas(16) uint8_t tail[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(tail), v);
    std::memcpy(p, tail, bytes);
}

void fill32(uint32_t* p, size_t n, uint32_t v) {
    fill_bytes(reinterpret_cast<uint8_t*>(p), n * 4, _mm_set1_epi32(int(v)));
}

void fill16(uint16_t* p, size_t n, uint16_t v) {
    fill_bytes(reinterpret_cast<uint8_t*>(p), n * 2, _mm_set1_epi16(int16_t(v)));
}

} // namespace

void clear(Target& t, const Rect& r, uint32_t rgb, uint16_t depth) {
    if (!t.pixels || t.width <= 0 || t.height <= 0) return;
    const int x0 = std::max(r.left, 0), y0 = std::max(r.top, 0);
    const int x1 = std::min(r.right, t.width), y1 = std::min(r.bottom, t.height);
    if (x0 >= x1 || y0 >= y1) return;
    const size_t n = size_t(x1 - x0);
    uint8_t index = 0;
    if (t.format == Format::Indexed8 && t.palette) index = t.palette->index_for(rgb);
    for (int y = y0; y < y1; ++y) {
        uint8_t* row = t.pixels + size_t(y) * size_t(t.pitch);
        switch (t.format) {
        case Format::XRGB8888:
            fill32(reinterpret_cast<uint32_t*>(row) + x0, n, rgb & 0xFFFFFF);
            break;
        case Format::RGB565:
            fill16(reinterpret_cast<uint16_t*>(row) + x0, n, to565(rgb));
            break;
        case Format::RGB888:
            for (int x = x0; x < x1; ++x)
                store888(row + 3 * x, rgb);
            break;
        case Format::Indexed8:
            std::memset(row + x0, index, n);
            break;
        case Format::Count8:
            std::memset(row + x0, 0, n);
            break;
        }
        if (t.depth) fill16(t.depth + size_t(y) * size_t(t.depth_pitch) + x0, n, uint16_t(~depth));
    }
}

} // namespace raster
