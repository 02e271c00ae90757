// Writer of .x files from a simple mesh description: fixtures for tests, benchmark inputs
// and the default model. Every format the reader accepts can be produced.
#pragma once

#include <xfile/xfile.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace xfile {

enum class Format { Text, Binary32, Binary64, TextZip, BinaryZip };

using Matrix = std::array<float, 16>; // row-major, row vectors: p' = p x M

// One entry of a mesh's material list: written inline, or as a reference `{ ref }` to a
// top-level material when ref is not empty.
struct MaterialSlot {
    Material material;
    std::string ref;
};

struct MeshDesc {
    std::string name; // empty: unnamed
    std::vector<Vec3> positions;
    std::vector<std::vector<uint32_t>> faces;        // polygons, clockwise seen from the front
    std::vector<Vec3> normals;                       // optional (MeshNormals when not empty)
    std::vector<std::vector<uint32_t>> normal_faces; // one per face, indices into normals
    std::vector<Vec2> texcoords;                     // optional, one per position
    std::vector<MaterialSlot> materials;             // optional (MeshMaterialList when not empty)
    std::vector<uint32_t> face_materials;            // per face; may be shorter than faces
    std::vector<Matrix> frames;                      // enclosing frames, outermost first
};

struct NamedMaterial {
    std::string name;
    Material material;
};

struct FileDesc {
    std::vector<NamedMaterial> materials; // top-level, written before the meshes
    std::vector<MeshDesc> meshes;
    std::vector<NamedMaterial> trailing_materials; // top-level, written after the meshes
};

struct WriteOptions {
    bool templates = false;       // write template declarations first
    size_t block_size = 32768;    // uncompressed bytes per compressed block (1..32768)
    size_t binary_list_chunk = 0; // split binary number lists into tokens of this many (0: no)
    int compression_level = 6;    // zlib level for the compressed formats
};

std::vector<uint8_t> write(const FileDesc& file, Format format, const WriteOptions& options = {});
std::vector<uint8_t> write(const MeshDesc& mesh, Format format, const WriteOptions& options = {});

// Writes bytes to a file; false when it can't be written completely.
bool save(const char* path, const std::vector<uint8_t>& bytes);

// A UV sphere of about approx_triangles triangles (all triangles), with per-vertex normals;
// faces are clockwise seen from outside.
MeshDesc make_uv_sphere(int approx_triangles, float radius);

} // namespace xfile
