// Reading well-formed files: every encoding alike, materials, frames, normals, lenient text.
#include "xfile_test_util.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace xtest;

namespace {

Material colour(float r, float g, float b) {
    Material m;
    m.r = r, m.g = g, m.b = b, m.a = 1, m.power = 8;
    m.specular = {0.5f, 0.5f, 0.5f};
    m.emissive = {0, 0, 0.25f};
    return m;
}

// A sphere without normals, large enough to fill several full compressed blocks, then a framed
// cube with its own normals, texture coordinates and a material list mixing inline materials
// with named references: one defined after the meshes, one defined nowhere.
FileDesc rich_file() {
    FileDesc f;
    f.materials = {{"Red", colour(1, 0, 0)}, {"Green", colour(0, 1, 0)}, {"Blue", colour(0, 0, 1)}};
    f.trailing_materials = {{"Late", colour(0.5f, 0.25f, 0.125f)}};
    MeshDesc c = cube(true);
    for (size_t i = 0; i < c.positions.size(); ++i)
        c.texcoords.push_back({i * 0.125f, 1 - i * 0.0625f});
    Material yellow = colour(1, 1, 0);
    yellow.texture = "wood grain.bmp";
    const Material none;
    c.materials = {{none, "Blue"}, {yellow, ""}, {none, "Red"}, {none, "Late"}, {none, "Missing"}};
    c.face_materials = {2, 0, 1, 3, 4}; // one short: the last holds for face 5
    c.frames = {{2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 10, 20, 30, 1}};
    MeshDesc s = make_uv_sphere(5000, 1.5f);
    s.normals.clear();
    s.normal_faces.clear();
    // A seam of duplicated positions, as exporters write for texture seams.
    const uint32_t dup = uint32_t(s.positions.size());
    s.positions.push_back(s.positions[5]);
    for (auto& face : s.faces)
        for (auto& v : face)
            if (v == 5 && &face < &s.faces[s.faces.size() / 2]) v = dup;
    f.meshes = {s, c};
    return f;
}

const Material& mat(const Model& m, const Triangle& t) {
    return m.materials.at(size_t(t.material));
}

} // namespace

TEST(XFileRead, EveryEncodingReadsTheSameModel) {
    const FileDesc f = rich_file();
    const Model ref = read_ok(write(f, Format::Text));
    ASSERT_EQ(ref.triangles.size(), f.meshes[0].faces.size() + 12);
    WriteOptions split; // templates, number lists in several tokens, many small blocks
    split.templates = true;
    split.binary_list_chunk = 5;
    split.block_size = 777;
    for (Format fmt : kFormats)
        for (const WriteOptions& o : {WriteOptions{}, split}) {
            SCOPED_TRACE(int(fmt));
            expect_same(ref, read_ok(write(f, fmt, o)));
        }
}

TEST(XFileRead, MaterialsTextureCoordinatesAndComputedNormals) {
    const Model m = read_ok(write(rich_file(), Format::Text));
    const size_t cube = m.triangles.size() - 12, cube_at = m.positions.size() - 8;
    Material yellow = colour(1, 1, 0);
    yellow.texture = "wood grain.bmp";
    // Two triangles per cube face, in face order. Late is defined after the mesh, Missing is
    // white; with fewer indexes than faces the last one holds.
    const Material want[6] = {colour(1, 0, 0), colour(0, 0, 1), yellow, colour(0.5f, 0.25f, 0.125f),
                              Material{},      Material{}};
    for (size_t t = 0; t < 12; ++t)
        EXPECT_TRUE(mat(m, m.triangles[cube + t]) == want[t / 2]) << "triangle " << t;
    EXPECT_EQ(m.triangles[0].material, -1); // the sphere has no material list
    EXPECT_EQ(m.materials.size(), 5u);      // only those in use: not Green
    // One pair per position: the sphere had none.
    ASSERT_EQ(m.texcoords.size(), m.positions.size());
    EXPECT_TRUE(m.texcoords[0] == (Vec2{0, 0}));
    EXPECT_TRUE(m.texcoords[cube_at + 3] == (Vec2{0.375f, 0.8125f}));
    // The sphere's normals are made smooth, across the seam too.
    for (size_t t = 0; t < cube; ++t)
        for (int k = 0; k < 3; ++k) {
            const Vec3 p = m.positions[m.triangles[t].v[k]];
            EXPECT_GT(dot(m.normals[m.triangles[t].n[k]], p) / std::sqrt(dot(p, p)), 0.995f);
        }
}

TEST(XFileRead, NestedFramesApplyChildBeforeParent) {
    const Model m =
        read_text(R"(Frame Outer { FrameTransformMatrix { 2,0,0,0, 0,2,0,0, 0,0,2,0, 0,0,0,1;; }
  Frame Inner { FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 1,0,0,1;; }
    Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; } }
  Mesh Second { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; } }
Mesh Plain { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; })");
    // Inner: translate by x+1 then scale by 2; Second: scale only; Plain: unchanged.
    const std::vector<Vec3> want = {{2, 0, 0}, {2, 2, 0}, {4, 0, 0}, {0, 0, 0}, {0, 2, 0},
                                    {2, 0, 0}, {0, 0, 0}, {0, 1, 0}, {1, 0, 0}};
    EXPECT_TRUE(m.positions == want);
    // Indices of later meshes are offset into the merged arrays.
    ASSERT_EQ(m.triangles.size(), 3u);
    EXPECT_EQ(m.triangles[2].v[0], 6u);
    EXPECT_TRUE(m.texcoords.empty());
}

TEST(XFileRead, MeshNormalsPairWithFacesThroughTheirOwnIndices) {
    Model m = read_text(R"(Mesh { 4; 0;0;0;, 0;1;0;, 1;1;0;, 1;0;0;; 2; 4;0,1,2,3;, 3;0,1,2;;
  MeshNormals { 3; 0;0;-1;, 1;0;0;, 0;3;0;; 2; 4;2,0,1,0;, 3;1,1,2;; } })");
    ASSERT_EQ(m.triangles.size(), 3u);
    // Each face's corners take their normals wherever triangulation put them.
    const uint32_t corner_normal[2][4] = {{2, 0, 1, 0}, {1, 1, 2}};
    const Vec3 normal[3] = {{0, 0, -1}, {1, 0, 0}, {0, 1, 0}}; // renormalised
    for (size_t t = 0; t < 3; ++t)
        for (int k = 0; k < 3; ++k)
            EXPECT_TRUE(m.normals[m.triangles[t].n[k]] ==
                        normal[corner_normal[t / 2][m.triangles[t].v[k]]])
                << t << " " << k;

    // Normal faces that don't pair with the faces: computed instead.
    m = read_text("Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;;"
                  " MeshNormals { 1; 1;0;0;; 1; 4;0,0,0,0;; } }");
    ASSERT_EQ(m.triangles.size(), 1u);
    expect_flat_normals(m, 0, 1);
}

TEST(XFileRead, LenientSeparatorsCommentsAndNumberForms) {
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
    // numbers; a number too small for a float is zero.
    for (const char* body :
         {"# comment\rMesh { 3; 0;0;0;, // and\r 0;1;0;, 1;0;0;;\r\n 1; 3;0,1,2;; }",
          "Frame 01 { Mesh 2 { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; } }",
          "Mesh { 3; 0;1e-60;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }"})
        EXPECT_EQ(read_text(body).triangles.size(), 1u) << body;
}

TEST(XFileRead, LoadReadsRegularFilesOnly) {
    char path[] = "/tmp/xfile_testXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
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
    for (const char* bad : {(const char*)path, "/tmp", "/dev/zero", "/no/such/model.x"}) {
        err.clear();
        EXPECT_EQ(load(bad, m, &err), Result::FileNotFound) << bad;
        EXPECT_FALSE(err.empty());
    }
    std::remove(path);
}
