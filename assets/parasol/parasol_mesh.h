// The default model: a parasol with an eight-panel canopy whose hem is
// scalloped between the ribs, a shaft with a finial and runner, stretchers
// under the canopy, and a J-hook handle. Left-handed coordinates, y up; every
// triangle is clockwise seen from its front (outside) side.
#pragma once

#include <xfile/xwriter.h>

#include <cstdint>
#include <vector>

namespace parasol {

struct Vec {
    double x, y, z;
};

struct Mesh {
    std::vector<Vec> positions;
    std::vector<Vec> normals;        // one per position, unit length
    std::vector<uint32_t> triangles; // three position indices per triangle
};

Mesh Build();

// The mesh as the .x writer takes it: triangles, per-vertex normals, one white material.
xfile::MeshDesc Describe(const Mesh& mesh);

} // namespace parasol
