// Writers of the formats the readers take, from the .x writer's mesh description: fixtures for
// tests, fuzz seeds and benchmark inputs. The description is in the .x reader's left-handed axes
// with clockwise fronts; each file is written in its format's right-handed axes (z negated), so
// that it reads back as the same model.
#pragma once

#include <xfile/xwriter.h>

#include <cstdint>
#include <string>
#include <vector>

namespace models {

enum class WriteFormat { Obj, StlAscii, StlBinary, PlyAscii, PlyLittle, PlyBig, Gltf, Glb };

struct Written {
    std::vector<uint8_t> file;
    std::vector<uint8_t> bin; // glTF with an external buffer: that buffer's bytes
};

// Normals are written where the format and the description allow (OBJ always; PLY and glTF
// when they are one per position). STL gets each facet's own normal. glTF keeps the mesh's
// frames as nested nodes and holds its data in a base64 data URI unless `bin_name` names the
// external buffer file. Polygons are written as they are where the format has them and as
// fans of triangles where it doesn't (STL, glTF).
Written write(const xfile::MeshDesc& mesh, WriteFormat format, const std::string& bin_name = "");

} // namespace models
