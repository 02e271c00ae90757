// Triangle fill built for AVX2 (see CMakeLists.txt), where rows of narrow triangles go two groups
// of four pixels at a time; only used after a run-time check that the processor has it.
#include "triangle.h"

#ifndef __AVX2__
#error "build this file with -mavx2"
#endif

namespace raster {

TriFn pick_fill_avx2(Format f, bool gouraud) {
    return pick_built(f, gouraud);
}

} // namespace raster
