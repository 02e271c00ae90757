// The vertex stage eight at a time. This file alone is built for AVX2 (see CMakeLists.txt), and
// only called after a run-time check that the processor has it.
#include "vertex.h"

#ifndef __AVX2__
#error "build this file with -mavx2"
#endif

namespace raster {

uint32_t run_vertices_avx2(const VertexConsts<1>& k, const Vec3* pos, const Vec3* nrm, Vertex* out,
                           uint32_t count) {
    return run_vertices<Lane8>(k, pos, nrm, out, 0, count);
}

} // namespace raster
