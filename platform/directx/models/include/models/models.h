// Readers for the model formats people keep today beside DirectX .x: OBJ, STL (ASCII and
// binary), PLY (ASCII and both binary byte orders) and glTF 2.0 (.gltf and .glb). The format is
// told by content, never by name. Bytes in, meshes out, no global state; each mesh is handed to
// xfile::append_mesh with its placement to become the same Model the .x reader gives.
#pragma once

#include <xfile/mesh.h>
#include <xfile/xfile.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace models {

enum class Format : uint8_t { Unknown, X, Obj, StlAscii, StlBinary, Ply, Gltf, Glb };

// Decides the format from the bytes alone: the .x header, the glTF container magic or a JSON
// object with an "asset" member, PLY's first line, binary STL's size rule (an 80-byte header,
// a count, then 50 bytes a face), ASCII STL's "solid", or OBJ statements.
Format detect(const uint8_t* data, size_t size);
const char* format_name(Format format);

// One mesh placed in the file's own axes. All formats read here are right-handed.
struct Part {
    xfile::PolyMesh mesh;
    bool placed = false;             // false: identity
    std::array<double, 16> matrix{}; // row vectors, translation in [12..14]
    xfile::Placement placement() const { return {placed ? matrix.data() : nullptr, true}; }
};

struct Scene {
    Format format = Format::Unknown;
    std::vector<Part> parts;
};

// Supplies an external glTF buffer. `name` is relative to the model's folder and has been
// checked: no absolute path, no "..", no scheme. At most `max_bytes` bytes may be returned.
// False, with a one-line *error, when it can't be had.
using BufferReader = std::function<bool(const std::string& name, size_t max_bytes,
                                        std::vector<uint8_t>& out, std::string& error)>;

// Reads a model held in memory. A .x file is not read here (xfile::parse reads it): it fails
// with the reason "a .x file". External glTF buffers go through `buffers`, or are refused when
// it is empty. On failure the scene is left empty and *error (when given) holds a one-line
// reason.
xfile::Result parse(const uint8_t* data, size_t size, Scene& out, std::string* error = nullptr,
                    const xfile::Limits& limits = {}, const BufferReader& buffers = {});

// Reads the file (FileNotFound when it can't be opened or read) and parses it. External glTF
// buffers are read from the file's own folder and its subfolders only, as regular files.
xfile::Result load(const char* path, Scene& out, std::string* error = nullptr,
                   const xfile::Limits& limits = {});

// Any model the saver accepts, .x included, held in memory, as one merged Model. External glTF
// buffers as for parse.
xfile::Result parse_model(const uint8_t* data, size_t size, xfile::Model& out,
                          std::string* error = nullptr, const xfile::Limits& limits = {},
                          const BufferReader& buffers = {});

// Any model file the saver accepts, .x included, as one merged Model: the whole loading path
// of the mesh builder.
xfile::Result load_model(const char* path, xfile::Model& out, std::string* error = nullptr,
                         const xfile::Limits& limits = {});

} // namespace models
