// Groups of four pixels in a row, the unit every triangle fill works in: their attributes,
// depth test and stores. Pixels go four at a time in SSE2, the x86-64 baseline; the AVX2 build
// of the fill also shades two neighbouring groups at once (shade8).
#pragma once

#include "pipeline.h"
#include "store.h"

#include <cstddef>
#include <cstdint>
#include <immintrin.h>

namespace raster {
namespace {

// {b, g, r, z} of a vertex.
inline __m128 attributes(uint32_t rgb, float z) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i c =
        _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(rgb)), zero), zero);
    return _mm_add_ps(_mm_cvtepi32_ps(c), _mm_setr_ps(0, 0, 0, z));
}

inline __m128 lanes() {
    return _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f);
}

// Attribute values of four neighbouring pixels, stepped along a row. Colour is 8.8 fixed point
// in 16-bit lanes (b, g, r, 0 per pixel) with half a level added, so truncation rounds. The lanes
// wrap modulo 2^16, which is harmless: values inside the triangle lie in 0..255 and stepping is
// exact addition, so they come out right whatever the intermediate values were. Steps are
// rounded to 1/256 level; callers restart from the plane at least every 64 rows and 64 pixels,
// which keeps the accumulated error under half a level.
struct Quad {
    __m128 z;
    __m128i c01, c23;
};

// Steps of a Quad: four pixels right (zx, t.cx4), one row down (zy, t.cy).
struct QuadStep {
    __m128 zx;
    __m128 zy;
};

// Lanes reduced modulo 2^16 and sign-extended, so a saturating pack keeps their low 16 bits
// (8.8 colour, see Quad; 565 pixels).
inline __m128i wrap16(__m128i v) {
    return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
}

// Shades the four pixels x..x+3 of a row whose lanes are set in `inside` (32-bit lanes).
// Fast: the caller knows all four pixels are inside the row and there is a depth buffer; then
// `inside` may instead be an outside mask (Outside), and a group that fails the depth test is
// written back unchanged rather than tested for.
template <Format F, bool Gouraud, bool Fast = false, bool Outside = false>
inline void shade4(uint32_t flat, const Span& sp, uint8_t* row, uint16_t* zrow, int x,
                   const Quad& q, __m128i inside) {
    static_assert(Fast || !Outside, "outside masks only on the fast path");
    const bool full = Fast || x + 4 <= sp.width;
    if (!full) {
        const __m128i lx = _mm_add_epi32(_mm_set1_epi32(x), _mm_setr_epi32(0, 1, 2, 3));
        inside = _mm_and_si128(inside, _mm_cmplt_epi32(lx, _mm_set1_epi32(sp.width)));
    }
    __m128i mask = inside;
    if (Fast || zrow) {
        // Buffers hold the complement of depth (pixel.h): complement and bias in one xor.
        const __m128i bias = _mm_set1_epi16(int16_t(0x7FFF));
        __m128i zi = _mm_sub_epi32(_mm_cvtps_epi32(q.z), _mm_set1_epi32(32768));
        zi = _mm_packs_epi32(zi, zi); // z - 32768 as int16, saturated: z clamped to 0..65535
        uint16_t tmp[4];
        uint16_t* zp = zrow + x;
        if (!full) {
            for (int i = 0; i < 4; ++i)
                tmp[i] = x + i < sp.width ? zrow[x + i] : 0;
            zp = tmp;
        }
        const __m128i old = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(zp));
        const __m128i pass = _mm_cmplt_epi16(zi, _mm_xor_si128(old, bias));
        const __m128i m16 = Outside ? _mm_andnot_si128(_mm_packs_epi32(inside, inside), pass)
                                    : _mm_and_si128(pass, _mm_packs_epi32(inside, inside));
        if (!Fast && _mm_movemask_epi8(m16) == 0) return;
        const __m128i nz =
            _mm_or_si128(_mm_and_si128(m16, _mm_xor_si128(zi, bias)), _mm_andnot_si128(m16, old));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(zp), nz);
        if (!full)
            for (int i = 0; i < 4 && x + i < sp.width; ++i)
                zrow[x + i] = tmp[i];
        mask = _mm_unpacklo_epi16(m16, m16);
    }
    __m128i colour;
    if constexpr (Gouraud) {
        colour = _mm_packus_epi16(_mm_srli_epi16(q.c01, 8), _mm_srli_epi16(q.c23, 8));
    } else {
        colour = _mm_set1_epi32(int(flat));
    }
    if constexpr (F == Format::XRGB8888) {
        if (full) {
            __m128i* p = reinterpret_cast<__m128i*>(row + 4 * size_t(x));
            const __m128i old = _mm_loadu_si128(p);
            _mm_storeu_si128(
                p, _mm_or_si128(_mm_and_si128(mask, colour), _mm_andnot_si128(mask, old)));
            return;
        }
    } else if constexpr (F == Format::RGB565) {
        if (full) {
            // to565 on four lanes, then the 16-bit values packed without saturation.
            const __m128i c565 = _mm_or_si128(
                _mm_or_si128(_mm_and_si128(_mm_srli_epi32(colour, 8), _mm_set1_epi32(0xF800)),
                             _mm_and_si128(_mm_srli_epi32(colour, 5), _mm_set1_epi32(0x07E0))),
                _mm_and_si128(_mm_srli_epi32(colour, 3), _mm_set1_epi32(0x001F)));
            const __m128i c16 = _mm_packs_epi32(wrap16(c565), wrap16(c565));
            const __m128i m = _mm_packs_epi32(mask, mask);
            __m128i* p = reinterpret_cast<__m128i*>(row + 2 * size_t(x));
            const __m128i old = _mm_loadl_epi64(p);
            _mm_storel_epi64(p, _mm_or_si128(_mm_and_si128(m, c16), _mm_andnot_si128(m, old)));
            return;
        }
    }
    alignas(16) uint32_t c[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(c), colour);
    const int bits = _mm_movemask_ps(_mm_castsi128_ps(mask));
    for (int i = 0; i < 4; ++i)
        if (bits & (1 << i)) store_pixel<F>(*sp.t, row, x + i, c[i]);
}

#ifdef __AVX2__
// Two neighbouring groups, x..x+3 in the low half of each register and x+4..x+7 in the high
// half, each half holding what a Quad holds for its group.
struct Quad8 {
    __m256 z;
    __m256i c01, c23;
};

// shade4<XRGB8888, Gouraud, true, true> on two groups at once: the same operations in each
// 128-bit half (the packs and unpacks work within halves).
template <bool Gouraud>
inline void shade8(uint32_t flat, uint8_t* row, uint16_t* zrow, int x, const Quad8& q,
                   __m256i outside) {
    const __m256i bias = _mm256_set1_epi16(int16_t(0x7FFF));
    __m256i zi = _mm256_sub_epi32(_mm256_cvtps_epi32(q.z), _mm256_set1_epi32(32768));
    zi = _mm256_packs_epi32(zi, zi);
    // The eight stored depths laid out as zi: each group's four, twice, in its half.
    uint16_t* zp = zrow + x;
    const __m256i old = _mm256_permute4x64_epi64(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(zp))),
        _MM_SHUFFLE(1, 1, 0, 0));
    const __m256i pass = _mm256_cmpgt_epi16(_mm256_xor_si256(old, bias), zi);
    const __m256i m16 = _mm256_andnot_si256(_mm256_packs_epi32(outside, outside), pass);
    const __m256i nz = _mm256_or_si256(_mm256_and_si256(m16, _mm256_xor_si256(zi, bias)),
                                       _mm256_andnot_si256(m16, old));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(zp),
                     _mm256_castsi256_si128(_mm256_permute4x64_epi64(nz, _MM_SHUFFLE(3, 1, 2, 0))));
    const __m256i mask = _mm256_unpacklo_epi16(m16, m16);
    __m256i colour;
    if constexpr (Gouraud) {
        colour = _mm256_packus_epi16(_mm256_srli_epi16(q.c01, 8), _mm256_srli_epi16(q.c23, 8));
    } else {
        colour = _mm256_set1_epi32(int(flat));
    }
    auto* p = reinterpret_cast<__m256i*>(row + 4 * size_t(x));
    const __m256i px = _mm256_loadu_si256(p);
    _mm256_storeu_si256(
        p, _mm256_or_si256(_mm256_and_si256(mask, colour), _mm256_andnot_si256(mask, px)));
}
#endif

} // namespace
} // namespace raster
