// Lanes for code written once over how many vertices it handles at a time: Lane1 (plain float),
// Lane4 (SSE2, the x86-64 baseline) and Lane8 (AVX2, only where the file is built for it).
//
// Float lanes take + - * / directly (vector extensions for the register types). Everything else
// is an overload below, defined for one lane exactly as the packed instruction acts on each of
// its lanes, so a value comes out the same, bit for bit, whatever the width that computed it.
// Masks are integer lanes of all ones or zero.
//
// Everything here has internal linkage: a file built for AVX2 gets its own copies, and no code
// compiled for it can stand in for the baseline's.
#pragma once

#include <raster/raster.h>

#include <cstddef>
#include <cstdint>
#include <immintrin.h>

namespace raster {
namespace {

struct Lane1 {
    using F = float;
    using I = uint32_t;
    static constexpr int width = 1;
    static F splat(float v) { return v; }
    static I splat_int(uint32_t v) { return v; }
};

inline uint32_t mask(bool b) {
    return b ? ~0u : 0u;
}
// minss/maxss: the second operand when either is NaN.
inline float min(float a, float b) {
    return a < b ? a : b;
}
inline float max(float a, float b) {
    return a > b ? a : b;
}
inline float sqrt(float v) {
    return _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(v)));
}
inline uint32_t less(float a, float b) {
    return mask(a < b);
}
inline uint32_t greater(float a, float b) {
    return mask(a > b);
}
inline uint32_t at_least(float a, float b) {
    return mask(a >= b);
}
inline uint32_t finite(float v) {
    return mask(v - v == 0.0f);
}
inline uint32_t is_zero(uint32_t v) {
    return mask(v == 0);
}
inline float keep(float v, uint32_t m) {
    return m ? v : 0.0f;
}
inline uint32_t round(float v) { // to nearest, as the rounding mode says
    return uint32_t(_mm_cvtss_si32(_mm_set_ss(v)));
}
inline uint32_t truncate(float v) {
    return uint32_t(_mm_cvttss_si32(_mm_set_ss(v)));
}
template <int N> uint32_t shift_left(uint32_t v) {
    return v << N;
}
inline void load(const Vec3* p, float& x, float& y, float& z) {
    x = p->x, y = p->y, z = p->z;
}
inline void store(detail::Vertex* o, uint32_t fx, uint32_t fy, float z, uint32_t rgb, uint32_t code,
                  float X, float Y, float Z) {
    *o = {int32_t(fx), int32_t(fy), z, rgb, code, X, Y, Z};
}

struct Lane4 {
    using F = __m128;
    using I = __m128i;
    static constexpr int width = 4;
    static F splat(float v) { return _mm_set1_ps(v); }
    static I splat_int(uint32_t v) { return _mm_set1_epi32(int(v)); }
};

inline __m128 min(__m128 a, __m128 b) {
    return _mm_min_ps(a, b);
}
inline __m128 max(__m128 a, __m128 b) {
    return _mm_max_ps(a, b);
}
inline __m128 sqrt(__m128 v) {
    return _mm_sqrt_ps(v);
}
inline __m128i less(__m128 a, __m128 b) {
    return _mm_castps_si128(_mm_cmplt_ps(a, b));
}
inline __m128i greater(__m128 a, __m128 b) {
    return _mm_castps_si128(_mm_cmpgt_ps(a, b));
}
inline __m128i at_least(__m128 a, __m128 b) {
    return _mm_castps_si128(_mm_cmpge_ps(a, b));
}
inline __m128i finite(__m128 v) {
    return _mm_castps_si128(_mm_cmpeq_ps(_mm_sub_ps(v, v), _mm_setzero_ps()));
}
inline __m128i is_zero(__m128i v) {
    return _mm_cmpeq_epi32(v, _mm_setzero_si128());
}
inline __m128 keep(__m128 v, __m128i m) {
    return _mm_and_ps(v, _mm_castsi128_ps(m));
}
inline __m128i round(__m128 v) {
    return _mm_cvtps_epi32(v);
}
inline __m128i truncate(__m128 v) {
    return _mm_cvttps_epi32(v);
}
template <int N> __m128i shift_left(__m128i v) {
    return _mm_slli_epi32(v, N);
}

// Four Vec3 (48 bytes) as x, y, z lanes.
inline void load(const Vec3* p, __m128& x, __m128& y, __m128& z) {
    const float* f = &p->x;
    const __m128 a = _mm_loadu_ps(f), b = _mm_loadu_ps(f + 4), c = _mm_loadu_ps(f + 8);
    // a = x0 y0 z0 x1, b = y1 z1 x2 y2, c = z2 x3 y3 z3
    x = _mm_shuffle_ps(_mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 3, 0, 0)),
                       _mm_shuffle_ps(b, c, _MM_SHUFFLE(1, 1, 2, 2)), _MM_SHUFFLE(2, 0, 2, 0));
    y = _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 1, 1)),
                       _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 2, 3, 3)), _MM_SHUFFLE(2, 0, 2, 0));
    z = _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 1, 2, 2)),
                       _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 3, 0, 0)), _MM_SHUFFLE(2, 0, 2, 0));
}

static_assert(sizeof(detail::Vertex) == 32 && offsetof(detail::Vertex, outcode) == 16 &&
                  offsetof(detail::Vertex, cx) == 20,
              "four vertices are stored as two rows of four 32-bit fields each");

// Four vertex records from lanes: {fx, fy, z, rgb} and {outcode, cx, cy, cz} transposed.
inline void store(detail::Vertex* o, __m128i fx, __m128i fy, __m128 z, __m128i rgb, __m128i code,
                  __m128 X, __m128 Y, __m128 Z) {
    __m128 r0 = _mm_castsi128_ps(fx), r1 = _mm_castsi128_ps(fy), r2 = z, r3 = _mm_castsi128_ps(rgb);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    __m128 s0 = _mm_castsi128_ps(code), s1 = X, s2 = Y, s3 = Z;
    _MM_TRANSPOSE4_PS(s0, s1, s2, s3);
    float* q = reinterpret_cast<float*>(o);
    _mm_storeu_ps(q, r0);
    _mm_storeu_ps(q + 4, s0);
    _mm_storeu_ps(q + 8, r1);
    _mm_storeu_ps(q + 12, s1);
    _mm_storeu_ps(q + 16, r2);
    _mm_storeu_ps(q + 20, s2);
    _mm_storeu_ps(q + 24, r3);
    _mm_storeu_ps(q + 28, s3);
}

#ifdef __AVX2__
struct Lane8 {
    using F = __m256;
    using I = __m256i;
    static constexpr int width = 8;
    static F splat(float v) { return _mm256_set1_ps(v); }
    static I splat_int(uint32_t v) { return _mm256_set1_epi32(int(v)); }
};

inline __m256 min(__m256 a, __m256 b) {
    return _mm256_min_ps(a, b);
}
inline __m256 max(__m256 a, __m256 b) {
    return _mm256_max_ps(a, b);
}
inline __m256 sqrt(__m256 v) {
    return _mm256_sqrt_ps(v);
}
inline __m256i less(__m256 a, __m256 b) {
    return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_LT_OQ));
}
inline __m256i greater(__m256 a, __m256 b) {
    return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GT_OQ));
}
inline __m256i at_least(__m256 a, __m256 b) {
    return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GE_OQ));
}
inline __m256i finite(__m256 v) {
    return _mm256_castps_si256(_mm256_cmp_ps(_mm256_sub_ps(v, v), _mm256_setzero_ps(), _CMP_EQ_OQ));
}
inline __m256i is_zero(__m256i v) {
    return _mm256_cmpeq_epi32(v, _mm256_setzero_si256());
}
inline __m256 keep(__m256 v, __m256i m) {
    return _mm256_and_ps(v, _mm256_castsi256_ps(m));
}
inline __m256i round(__m256 v) {
    return _mm256_cvtps_epi32(v);
}
inline __m256i truncate(__m256 v) {
    return _mm256_cvttps_epi32(v);
}
template <int N> __m256i shift_left(__m256i v) {
    return _mm256_slli_epi32(v, N);
}
inline void load(const Vec3* p, __m256& x, __m256& y, __m256& z) {
    __m128 xl, yl, zl, xh, yh, zh;
    load(p, xl, yl, zl);
    load(p + 4, xh, yh, zh);
    x = _mm256_set_m128(xh, xl), y = _mm256_set_m128(yh, yl), z = _mm256_set_m128(zh, zl);
}
inline void store(detail::Vertex* o, __m256i fx, __m256i fy, __m256 z, __m256i rgb, __m256i code,
                  __m256 X, __m256 Y, __m256 Z) {
    store(o, _mm256_castsi256_si128(fx), _mm256_castsi256_si128(fy), _mm256_castps256_ps128(z),
          _mm256_castsi256_si128(rgb), _mm256_castsi256_si128(code), _mm256_castps256_ps128(X),
          _mm256_castps256_ps128(Y), _mm256_castps256_ps128(Z));
    store(o + 4, _mm256_extracti128_si256(fx, 1), _mm256_extracti128_si256(fy, 1),
          _mm256_extractf128_ps(z, 1), _mm256_extracti128_si256(rgb, 1),
          _mm256_extracti128_si256(code, 1), _mm256_extractf128_ps(X, 1),
          _mm256_extractf128_ps(Y, 1), _mm256_extractf128_ps(Z, 1));
}
#endif

} // namespace
} // namespace raster
