// Reading well-formed files: every encoding alike, materials, frames, normals, lenient text.
#include "xfile_test_util.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace xtest;

namespace {

// Opaque, with a grey highlight and a little blue glow.
Material colour(float r, float g, float b, const char* texture = "") {
    return {r, g, b, 1, 8, {.5f, .5f, .5f}, {0, 0, .25f}, texture};
}

// A cube in two nested frames with its own normals, texture coordinates and a material list
// mixing inline materials with named references: one defined after the meshes, one defined
// nowhere. Then a sphere without normals, large enough to fill several full compressed blocks.
FileDesc rich_file() {
    FileDesc f;
    f.materials = {{"Red", colour(1, 0, 0)}, {"Green", colour(0, 1, 0)}, {"Blue", colour(0, 0, 1)}};
    f.trailing_materials = {{"Late", colour(0.5f, 0.25f, 0.125f)}};
    MeshDesc c = cube();
    for (size_t i = 0; i < c.positions.size(); ++i)
        c.texcoords.push_back({i * 0.125f, 1 - i * 0.0625f});
    const Material yellow = colour(1, 1, 0, "wood grain.bmp"), none;
    c.materials = {{none, "Blue"}, {yellow, ""}, {none, "Red"}, {none, "Late"}, {none, "Missing"}};
    c.face_materials = {2, 0, 1, 3, 4}; // one short: the last holds for face 5
    c.frames = {{2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1},
                {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1}};
    MeshDesc s = make_uv_sphere(5000, 1.5f);
    s.normals.clear();
    s.normal_faces.clear();
    // A seam of duplicated positions, as exporters write for texture seams.
    const uint32_t dup = uint32_t(s.positions.size());
    s.positions.push_back(s.positions[5]);
    for (auto& face : s.faces)
        for (auto& v : face)
            if (v == 5 && &face < &s.faces[s.faces.size() / 2]) v = dup;
    f.meshes = {c, s};
    return f;
}

} // namespace

TEST(XFileRead, EveryEncodingReadsTheSameModel) {
    const FileDesc f = rich_file();
    const Model ref = read_ok(write(f, Format::Text));
    ASSERT_EQ(ref.triangles.size(), f.meshes[1].faces.size() + 12);
    WriteOptions split; // templates, number lists in several tokens, many small blocks
    split.templates = true;
    split.binary_list_chunk = 5;
    split.block_size = 777;
    for (Format fmt : kFormats)
        for (const WriteOptions& o : {WriteOptions{}, split}) {
            const Model m = read_ok(write(f, fmt, o));
            EXPECT_TRUE(m.positions == ref.positions && m.normals == ref.normals &&
                        m.texcoords == ref.texcoords && m.triangles == ref.triangles &&
                        m.materials == ref.materials)
                << int(fmt);
        }
}

TEST(XFileRead, FramesMaterialsTextureCoordinatesAndComputedNormals) {
    const FileDesc f = rich_file();
    const Model m = read_ok(write(f, Format::Text));
    // The inner frame moves the cube, then the outer one scales it: child before parent.
    for (size_t i = 0; i < 8; ++i) {
        const Vec3 p = f.meshes[0].positions[i];
        EXPECT_TRUE(m.positions[i] == (Vec3{(p.x + 10) * 2, (p.y + 20) * 2, (p.z + 30) * 2}));
    }
    // Two triangles per cube face, in face order: Red, Blue, the inline yellow, Late (defined
    // after the mesh), Missing (white); with fewer indexes than faces the last one holds.
    const Material& yellow = f.meshes[0].materials[1].material;
    const Material want[6] = {colour(1, 0, 0), colour(0, 0, 1), yellow, colour(0.5f, 0.25f, 0.125f),
                              Material{},      Material{}};
    for (size_t t = 0; t < 12; ++t)
        EXPECT_TRUE(m.materials.at(size_t(m.triangles[t].material)) == want[t / 2]) << t;
    EXPECT_EQ(m.triangles[12].material, -1); // the sphere has no material list
    EXPECT_EQ(m.materials.size(), 5u);       // only those in use: not Green
    // One pair per position: the sphere had none.
    ASSERT_EQ(m.texcoords.size(), m.positions.size());
    EXPECT_TRUE(m.texcoords[3] == (Vec2{0.375f, 0.8125f}));
    EXPECT_TRUE(m.texcoords[8] == (Vec2{0, 0}));
    // The sphere, after the frames and indexed past the cube, has smooth normals, across the
    // seam too.
    for (size_t t = 12; t < m.triangles.size(); ++t)
        for (int k = 0; k < 3; ++k) {
            const Vec3 p = m.positions[m.triangles[t].v[k]];
            EXPECT_GT(dot(m.normals[m.triangles[t].n[k]], p) / std::sqrt(dot(p, p)), 0.995f);
        }
}

TEST(XFileRead, LenientTextAndRepairedNormals) {
    const Model m = read_text(R"(
# a comment
template Vector { <3D82AB5E-62DA-11cf-AB39-0020AF71E433> FLOAT x; FLOAT y; FLOAT z; }
// another comment
Mesh Strict-Name_1 {
  4;;
  -1.0;-1.0;0.0;, -1;1;0;;, 1e0;+1;.0, 10E-1,-1.,0
  2 3,0 1 2,, 3;0;2;3
  MeshMaterialList { 3;2;0,2;; Material{1;0;nan;1;;0;0;0;0;;0;0;0;;} }
  VertexDuplicationIndices { 4; 4; 0,1,2,3; }
  AnimationSet Nested { Animation { { Strict-Name_1 <12345678-1234-1234-1234-123456789abc> }
    AnimationKey { 0; 1; 0; 4; 1,0,0,0;;; } } }
}
)");
    EXPECT_TRUE(m.positions == (std::vector<Vec3>{{-1, -1, 0}, {-1, 1, 0}, {1, 1, 0}, {1, -1, 0}}));
    ASSERT_EQ(m.triangles.size(), 2u);
    EXPECT_EQ(m.triangles[1].v[2], 3u);
    // A channel that isn't a number is full; the second face's material is declared but not
    // given: white.
    const Material& first = m.materials.at(size_t(m.triangles[0].material));
    EXPECT_TRUE((Vec3{first.r, first.g, first.b} == Vec3{1, 0, 1}));
    EXPECT_TRUE(m.materials.at(size_t(m.triangles[1].material)) == Material{});
    // Comments end at any line break, old Mac ones included; object names may look like
    // numbers; a number too small for a float is zero. Normals that don't pair with the faces,
    // or a zero or not-a-number normal: the face's front normal instead.
    const std::string tri = "Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;;";
    for (const std::string& body :
         {std::string("# comment\rMesh { 3; 0;0;0;, // and\r 0;1;0;, 1;0;0;;\r\n 1; 3;0,1,2;; }"),
          std::string("Frame 01 { Mesh 2 { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; } }"),
          std::string("Mesh { 3; 0;1e-60;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }"),
          tri + " MeshNormals { 1; 1;0;0;; 1; 4;0,0,0,0;; } }",
          tri + " MeshNormals { 1; 0;0;0;; 1; 3;0,0,0;; } }",
          tri + " MeshNormals { 1; 1.#QNAN0;0;0;; 1; 3;0,0,0;; } }"}) {
        const Model n = read_text(body);
        ASSERT_EQ(n.triangles.size(), 1u) << body;
        expect_flat_normals(n, 0, 1);
    }
}

TEST(XFileRead, LoadReadsRegularFilesOnly) {
    const std::string file = testing::TempDir() + "xfile_load_" + std::to_string(getpid());
    const char* path = file.c_str();
    ASSERT_TRUE(save(path, write(cube(), Format::BinaryZip)));
    Model m;
    std::string err;
    EXPECT_EQ(load(path, m, &err), Result::Ok) << err;
    EXPECT_EQ(m.triangles.size(), 12u);
    Limits small;
    small.max_bytes = 20;
    EXPECT_EQ(load(path, m, &err, small), Result::BadFile);
    std::remove(path);
    ASSERT_EQ(mkfifo(path, 0600), 0); // would block an fopen until a writer came
    for (const char* bad : {path, "/tmp", "/dev/zero", "/no/such/model.x"}) {
        err.clear();
        EXPECT_EQ(load(bad, m, &err), Result::FileNotFound) << bad;
        EXPECT_FALSE(err.empty());
    }
    std::remove(path);
}
