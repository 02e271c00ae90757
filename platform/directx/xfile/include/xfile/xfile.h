// Reader for DirectX .x model files: text, binary (32/64-bit floats) and their
// MSZIP-compressed forms. Bytes in, one merged model out; no global state.
//
//   xfile::Model model;
//   std::string why;
//   if (xfile::load(path, model, &why) != xfile::Result::Ok)
//       std::fprintf(stderr, "%s: %s\n", path, why.c_str());
//   for (const xfile::Triangle& t : model.triangles) // every index is in range
//       draw(model.positions[t.v[0]], model.normals[t.n[0]], ...);
//
// Read past on purpose (the model shows without them): template declarations, GUIDs, names
// of anything but materials, references other than a material list's, vertex colours,
// vertex duplication indices, face wraps, skinning, animation and any unknown object. A
// texture is kept as its file name only. Normals that don't pair with the faces are made
// anew, texture coordinates that aren't one per vertex are dropped, materials a list
// declares but doesn't give are white.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace xfile {

struct Vec3 {
    float x, y, z;
};

struct Vec2 {
    float u, v;
};

struct Material {
    float r = 1, g = 1, b = 1, a = 1;
    float power = 0;
    Vec3 specular{0, 0, 0};
    Vec3 emissive{0, 0, 0};
    std::string texture;
};

// v: position indices; n: normal indices; material: index into Model::materials or -1.
// Bit i of edges is set when v[i] -> v[(i+1)%3] is an edge of the original polygon, so a
// wireframe can leave out the diagonals added by triangulation.
// Front side: the side from which v0, v1, v2 appear clockwise (left-handed coordinates);
// its normal is normalize((v1 - v0) x (v2 - v0)).
struct Triangle {
    uint32_t v[3];
    uint32_t n[3];
    int32_t material;
    uint8_t edges;
};

// All meshes of a file merged, positions already transformed by their frame hierarchy.
// Every triangle corner has a unit normal: the file's own (through the inverse transpose of the
// frame matrices), or for a mesh without them a smooth angle-weighted one, split where faces
// meet at more than about 60 degrees. Triangles keep the order of the file's faces.
struct Model {
    std::vector<Vec3> positions;
    std::vector<Vec3> normals;
    std::vector<Vec2> texcoords; // empty, or one per position
    std::vector<Triangle> triangles;
    std::vector<Material> materials; // those the triangles use
    size_t meshes = 0;               // meshes the file holds, empty ones included
    size_t dropped_faces = 0;        // left out for naming a vertex or normal that doesn't exist
};

enum class Result { Ok, FileNotFound, BadFile };

struct Limits {
    size_t max_bytes = 512u << 20;  // largest file accepted
    int max_depth = 64;             // most objects nested inside one another
    size_t max_inflated = 1u << 30; // largest decompressed body of a compressed file
};

// Parses a whole .x file held in memory. On failure the model is left empty and *error
// (when given) holds a one-line reason.
Result parse(const uint8_t* data, size_t size, Model& out, std::string* error = nullptr,
             const Limits& limits = {});

// Where a file's bytes come from when they are read as they are parsed.
class Input {
  public:
    // Up to n bytes into dst; 0 at the end (or on an error, which the caller tells apart).
    virtual size_t read(uint8_t* dst, size_t n) = 0;

  protected:
    ~Input() = default;
};

// Parses a .x file of `size` bytes read from `in` as it goes, as parse() would the same bytes:
// an uncompressed body is read a window at a time and never held whole in memory; any other
// file is read whole first. An input that ends early ends the file there.
Result parse(Input& in, size_t size, Model& out, std::string* error = nullptr,
             const Limits& limits = {});

// Reads the file as it holds when opened (FileNotFound when it can't be opened or read) and
// parses it. A file that holds no mesh, or meshes without a triangle, is read (Ok) all the same:
// the caller decides what an empty model means.
Result load(const char* path, Model& out, std::string* error = nullptr, const Limits& limits = {});

} // namespace xfile
