// Triangle fill as the x86-64 baseline builds it, and the choice between it and the AVX2 build
// (triangle_avx2.cpp) by what the processor has.
#include "triangle.h"

namespace raster {

TriFn pick_fill(Format f, bool gouraud) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 ? pick_fill_avx2(f, gouraud) : pick_built(f, gouraud);
}

} // namespace raster
