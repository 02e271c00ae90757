// Writes the starting corpus of the fuzz targets: small models in every .x
// encoding our writer produces (frames, normals, materials by value and by name,
// concave faces, texture coordinates) and a few settings files as users keep them.
//   make_seeds <folder>   ->  <folder>/xfile/*.x, <folder>/profile/*.ini
#include <xfile/xwriter.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace xfile;

namespace {

Material Colour(float r, float g, float b) {
    Material m;
    m.r = r, m.g = g, m.b = b, m.a = 1;
    m.power = 8;
    m.specular = {0.5f, 0.5f, 0.5f};
    return m;
}

Matrix Translate(float x, float y, float z) {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

Matrix ScaleTurn() { // scale by 2 and a quarter turn about z
    return {0, 2, 0, 0, -2, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1};
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
    m.frames = {ScaleTurn(), Translate(1, 2, 3)};
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
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (out.flush()) return true;
    fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_seeds <folder>\n");
        return 2;
    }
    const fs::path root = argv[1];
    std::error_code ec;
    fs::create_directories(root / "xfile", ec);
    fs::create_directories(root / "profile", ec);

    const struct {
        Format format;
        const char* name;
    } formats[] = {{Format::Text, "text"},
                   {Format::Binary32, "bin32"},
                   {Format::Binary64, "bin64"},
                   {Format::TextZip, "tzip"},
                   {Format::BinaryZip, "bzip"}};
    WriteOptions plain;
    WriteOptions fancy; // templates, split number lists, many small compressed blocks
    fancy.templates = true;
    fancy.binary_list_chunk = 5;
    fancy.block_size = 97;
    bool ok = true;
    const FileDesc scene = Scene();
    for (const auto& f : formats) {
        const std::string base = (root / "xfile" / f.name).string();
        ok &= Save(base + "-scene.x", write(scene, f.format, plain));
        ok &= Save(base + "-scene-templates.x", write(scene, f.format, fancy));
        ok &= Save(base + "-cube.x", write(Cube(), f.format, plain));
        ok &= Save(base + "-concave.x", write(Concave(), f.format, fancy));
    }

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
