// Writes the starting corpus of the fuzz targets: small models in every .x
// encoding our writer produces (frames, normals, materials by value and by name,
// concave faces, texture coordinates), the same models in OBJ, STL, PLY and glTF
// with a few hand-written files for what our writer doesn't produce, and a few
// settings files as users keep them.
//   make_seeds <folder>   ->  <folder>/xfile/*.x, <folder>/models/*, <folder>/profile/*.ini
#include <models/writer.h>
#include <xfile/xwriter.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace xfile;

namespace {

Material Colour(float r, float g, float b) { // specular grey, no glow, no texture
    return {r, g, b, 1, 8, {0.5f, 0.5f, 0.5f}, {0, 0, 0}, ""};
}

Matrix Translate(float x, float y, float z) {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

// A cube of six quads with one normal per face and two materials.
MeshDesc Cube() {
    MeshDesc m;
    m.name = "Cube";
    m.positions = {{-1, -1, -1}, {-1, 1, -1}, {1, 1, -1}, {1, -1, -1},
                   {-1, -1, 1},  {-1, 1, 1},  {1, 1, 1},  {1, -1, 1}};
    m.faces = {{0, 1, 2, 3}, {7, 6, 5, 4}, {4, 5, 1, 0}, {3, 2, 6, 7}, {1, 5, 6, 2}, {4, 0, 3, 7}};
    m.normals = {{0, 0, -1}, {0, 0, 1}, {-1, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}};
    for (uint32_t f = 0; f < 6; ++f)
        m.normal_faces.push_back({f, f, f, f});
    m.materials = {{Colour(1, 0, 0), ""}, {Material{}, "Blue"}};
    m.face_materials = {0, 1, 0, 1}; // shorter than the face list, as files may be
    m.frames = {Translate(0, 0, 5)};
    return m;
}

// An L-shaped hexagon (concave) and a star-free pentagon, with texture coordinates.
MeshDesc Concave() {
    MeshDesc m;
    m.name = "Ell";
    m.positions = {{0, 0, 0}, {0, 2, 0}, {1, 2, 0}, {1, 1, 0}, {2, 1, 0}, {2, 0, 0},
                   {3, 0, 0}, {3, 1, 0}, {4, 2, 0}, {5, 1, 0}, {5, 0, 0}};
    m.faces = {{0, 1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}};
    for (const Vec3& p : m.positions)
        m.texcoords.push_back({p.x / 5, p.y / 2});
    m.materials = {{Colour(0, 1, 0), ""}};
    m.face_materials = {0, 0};
    // Scaled by 2 and a quarter turn about z, inside a moved frame.
    m.frames = {{0, 2, 0, 0, -2, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1}, Translate(1, 2, 3)};
    return m;
}

FileDesc Scene() {
    FileDesc f;
    f.materials = {{"Blue", Colour(0, 0, 1)}};
    f.meshes = {Cube(), Concave(), make_uv_sphere(40, 1.5f)};
    f.meshes.back().frames = {Translate(-3, 0, 4)};
    f.trailing_materials = {{"Late", Colour(1, 1, 0)}};
    // The sphere names a material that comes after it in the file.
    f.meshes.back().materials = {{Material{}, "Late"}};
    f.meshes.back().face_materials = {0};
    return f;
}

bool Save(const fs::path& path, const std::vector<uint8_t>& bytes) {
    if (save(path.c_str(), bytes)) return true;
    fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
    return false;
}

bool SaveText(const fs::path& path, const std::string& text) {
    return Save(path, {text.begin(), text.end()});
}

// Features of the other formats our writer leaves out.
const std::pair<const char*, const char*> kHandWritten[] = {
    {"groups.obj", "# two objects\nmtllib look.mtl\no a\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                   "vt 0 0\nvn 0 0 1\ng top\nusemtl red\nf 1/1/1 2/1/1 3/1/1 4/1/1\no b\n"
                   "v 0 0 1\nv 1 0 1\nv 0 1 1\ns 1\nf -3 -2 -1\nf -1/1 -2/1 -3/1\nl 1 2\n"},
    {"cases.stl", "SOLID one\nFACET NORMAL 0 0 1\nOUTER LOOP\nVERTEX 0 0 0\nVERTEX 1 0 0\n"
                  "VERTEX 0 1 0\nENDLOOP\nENDFACET\nENDSOLID one\nsolid two\nfacet normal 0 0 0\n"
                  "outer loop\nvertex 0 0 1\nvertex 1 0 1\nvertex 1 1 1\nvertex 0 1 1\nendloop\n"
                  "endfacet\nendsolid\n"},
    {"extra.ply", "ply\r\nformat ascii 1.0\r\ncomment odd\r\nelement vertex 4\r\n"
                  "property double z\r\nproperty double y\r\nproperty double x\r\n"
                  "element edge 1\r\nproperty int a\r\nproperty int b\r\nelement face 1\r\n"
                  "property list ushort uint vertex_index\r\nend_header\r\n0 0 0\r\n0 0 1\r\n"
                  "0 1 1\r\n0 1 0\r\n0 1\r\n4 0 1 2 3\r\n"},
    // TRS nodes without a scene, a strip, a fan, byte indices, a stride, quantized positions,
    // and an external buffer.
    {"trs.gltf",
     "{\"asset\":{\"version\":\"2.0\"},\"nodes\":[{\"children\":[1],\"translation\":[1,2,3],"
     "\"rotation\":[0,0.7071068,0,0.7071068],\"scale\":[2,2,2]},{\"mesh\":0},{\"mesh\":1,"
     "\"matrix\":[1,0,0,0,0,1,0,0,0,0,-1,0,0,0,0,1]}],\"meshes\":[{\"primitives\":[{\"attributes\":"
     "{\"POSITION\":0},\"mode\":5},{\"attributes\":{\"POSITION\":0},\"mode\":6,\"indices\":1}]},"
     "{\"primitives\":[{\"attributes\":{\"POSITION\":2,\"NORMAL\":2}}]}],\"accessors\":["
     "{\"bufferView\":0,\"componentType\":5126,\"count\":4,\"type\":\"VEC3\"},{\"bufferView\":1,"
     "\"componentType\":5121,\"count\":4,\"type\":\"SCALAR\"},{\"bufferView\":2,\"componentType\":"
     "5122,\"normalized\":true,\"count\":3,\"type\":\"VEC3\"}],\"bufferViews\":[{\"buffer\":0,"
     "\"byteLength\":64,\"byteStride\":16},{\"buffer\":0,\"byteOffset\":64,\"byteLength\":4},"
     "{\"buffer\":1,\"byteLength\":24,\"byteStride\":8}],\"buffers\":[{\"byteLength\":68,\"uri\":"
     "\"data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAAAAAAAAgD8AAAAAAAAAAAAAAAAAAIA/"
     "AACAPwAA"
     "AAAAAAAAAAAAAAAAgD8AAAAAAAAAAAABAgM=\"},{\"byteLength\":24,\"uri\":\"b.bin\"}]}"},
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_seeds <folder>\n");
        return 2;
    }
    const fs::path root = argv[1];
    std::error_code ec;
    for (const char* folder : {"xfile", "models", "profile"})
        fs::create_directories(root / folder, ec);

    const char* const names[] = {"text", "bin32", "bin64", "tzip", "bzip"}; // as Format lists them
    WriteOptions plain;
    WriteOptions fancy; // templates, split number lists, many small compressed blocks
    fancy.templates = true;
    fancy.binary_list_chunk = 5;
    fancy.block_size = 97;
    bool ok = true;
    const FileDesc scene = Scene();
    for (int i = 0; i < 5; ++i) {
        const Format format = Format(i);
        const std::string base = (root / "xfile" / names[i]).string();
        ok &= Save(base + "-scene.x", write(scene, format, plain));
        ok &= Save(base + "-scene-templates.x", write(scene, format, fancy));
        ok &= Save(base + "-cube.x", write(Cube(), format, plain));
        ok &= Save(base + "-concave.x", write(Concave(), format, fancy));
    }

    const char* const others[] = {"obj", "stl", "stlb", "ply", "plyl", "plyb", "gltf", "glb"};
    for (int i = 0; i < 8; ++i) { // as models::WriteFormat lists them
        const auto format = models::WriteFormat(i);
        const std::string base = (root / "models" / others[i]).string();
        ok &= Save(base + "-cube", models::write(Cube(), format).file);
        ok &= Save(base + "-concave", models::write(Concave(), format).file);
        ok &= Save(base + "-sphere", models::write(scene.meshes.back(), format).file);
    }
    ok &= Save((root / "models" / "gltf-external").string(),
               models::write(Cube(), models::WriteFormat::Gltf, "b.bin").file);
    for (const auto& [name, text] : kHandWritten)
        ok &= SaveText(root / "models" / name, text);

    const fs::path ini = root / "profile";
    ok &= SaveText(ini / "written.ini", "[SS_SECTION]\nSPEED=7\nSHADE=0\n[SETTING]\nColorR=255\n"
                                        "ColorG=128\nColorB=0\nFILENAME=C:\\XFile\\parasol.x\n");
    ok &= SaveText(ini / "hand-edited.ini",
                   "; my settings\r\n[ss_section]\r\n  speed = 12 \r\n\r\n[Other]\r\nColorR=1\r\n"
                   "[SETTING]\r\n; model\r\nFILENAME = \"/home/u/My Models/ship.x\" \r\n"
                   "colorg=-4\r\nColorR=300");
    ok &= SaveText(ini / "duplicates.ini", "[SETTING]\nColorR=1\n[SETTING]\nColorR=2\nColorR=3\n"
                                           "[SS_SECTION]\nSPEED\nSHADE=\n=5\n[broken\nSPEED=+9x\n");
    ok &= SaveText(ini / "bom-cr.ini", "\xEF\xBB\xBF[SETTING]\rColorB=9\r\n\n[SS_SECTION]\n"
                                       "SPEED=99999999999999\n");
    ok &= SaveText(ini / "empty.ini", "");
    return ok ? 0 : 1;
}
