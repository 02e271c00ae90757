// Meshes from any model reader become a Model the same way: one place drops faces that name
// missing data, triangulates polygons, places the mesh and makes the normals a file leaves out.
#pragma once

#include <xfile/xfile.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace xfile {

// One mesh as a file gives it, before triangulation and normals.
struct PolyMesh {
    std::vector<Vec3> positions;
    std::vector<uint32_t> face_sizes;     // corners of each face; faces of fewer than 3 add nothing
    std::vector<uint32_t> position_index; // one per corner, face after face
    std::vector<Vec3> normals;            // empty: smooth, crease-splitting normals are made
    std::vector<uint32_t> normal_index;   // one per corner, or empty when `normals` is
};

struct Placement {
    const double* matrix = nullptr; // 4x4, row vectors (translation in [12..14]); null: identity
    bool right_handed = false;      // the file's axes are right-handed with counter-clockwise
                                    // fronts: z is negated after the matrix, fronts kept outside
};

// Appends the mesh to `out`, taking over its arrays (the mesh is left empty). Positions go through
// the matrix and normals through its inverse transpose; a mirroring matrix keeps fronts outside.
// Faces naming a position or normal that doesn't exist are dropped and counted in *dropped.
// False, with a one-line *error, when a placed position is not a finite number.
// *dropped is added to, so one counter serves a whole file; a failed call leaves `out` as it
// was. Faces are triangulated as given, before placement; fronts stay outside whatever the
// matrix or handedness.
bool append_mesh(PolyMesh& mesh, const Placement& placement, Model& out, size_t* dropped,
                 std::string* error);

} // namespace xfile
