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

// Two meshes: a framed cube with its own normals, texture coordinates and a material list
// mixing inline materials with named references (one defined after the meshes), then a sphere.
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
    c.materials = {{none, "Blue"}, {yellow, ""}, {none, "Red"}, {none, "Late"}};
    c.face_materials = {2, 0, 1, 3, 0}; // one short: the last holds for face 5
    c.frames = {{2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 10, 20, 30, 1}};
    f.meshes.push_back(c);
    MeshDesc s = make_uv_sphere(60, 1.5f);
    s.name = "Ball";
    f.meshes.push_back(s);
    return f;
}

const Material& mat(const Model& m, const Triangle& t) {
    return m.materials.at(size_t(t.material));
}

} // namespace

TEST(XFileRead, EveryEncodingReadsTheSameModel) {
    FileDesc f = rich_file();
    Model ref = read_ok(write(f, Format::Text));
    ASSERT_EQ(ref.triangles.size(), 12u + f.meshes[1].faces.size());
    for (Format fmt : kFormats) {
        SCOPED_TRACE(int(fmt));
        expect_same(ref, read_ok(write(f, fmt)));
        WriteOptions o;
        o.templates = true;
        o.binary_list_chunk = 5; // lists split across several tokens
        o.block_size = 100;      // many compressed blocks
        expect_same(ref, read_ok(write(f, fmt, o)));
    }
}

TEST(XFileRead, MultiBlockCompressedBodies) {
    MeshDesc s = make_uv_sphere(5000, 2);
    Model ref = read_ok(write(s, Format::Text));
    for (size_t block : {32768u, 4096u, 777u}) {
        WriteOptions o;
        o.block_size = block;
        std::vector<uint8_t> tz = write(s, Format::TextZip, o);
        ASSERT_GT(tz.size() / 4, 1u);
        expect_same(ref, read_ok(tz));
        expect_same(ref, read_ok(write(s, Format::BinaryZip, o)));
    }
}

TEST(XFileRead, MaterialListPicksNamedAndInlineMaterials) {
    Model m = read_ok(write(rich_file(), Format::Text));
    // Two triangles per cube face, in face order.
    Material yellow = colour(1, 1, 0);
    yellow.texture = "wood grain.bmp";
    // Late is defined after the mesh; with fewer indexes than faces the last one holds.
    const Material want[6] = {colour(1, 0, 0), colour(0, 0, 1), yellow, colour(0.5f, 0.25f, 0.125f),
                              colour(0, 0, 1), colour(0, 0, 1)};
    for (int f = 0; f < 6; ++f) {
        EXPECT_TRUE(mat(m, m.triangles[size_t(2 * f)]) == want[f]) << "face " << f;
        EXPECT_EQ(m.triangles[size_t(2 * f)].material, m.triangles[size_t(2 * f + 1)].material);
    }
    // The sphere has no material list.
    EXPECT_EQ(m.triangles.back().material, -1);
    // Only materials in use are kept: Green is not.
    EXPECT_EQ(m.materials.size(), 4u);
}

TEST(XFileRead, NamedReferencesWithGuidsAndForwardDefinitions) {
    Model m = read_text(R"(
Material Second { 0;1;0;1;; 1; 0;0;0;; 0;0;0;; }
Material First { 1;0;0;1;; 1; 0;0;0;; 0;0;0;; }
Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 4; 3;0,1,2;, 3;0,2,1;, 3;1,0,2;, 3;2,1,0;;
  MeshMaterialList { 4; 4; 2,0,1,3;;
    { Later } { First <12345678-1234-1234-1234-123456789abc> } {Second} { Missing } } }
Material Later { 0;0;1;1;; 1; 0;0;0;; 0;0;0;; }
)");
    ASSERT_EQ(m.triangles.size(), 4u);
    // Second, Later, First, and white for the unknown name.
    const Vec3 want[4] = {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}, {1, 1, 1}};
    for (size_t i = 0; i < 4; ++i) {
        const Material& got = mat(m, m.triangles[i]);
        EXPECT_TRUE((Vec3{got.r, got.g, got.b} == want[i])) << i;
    }
}

TEST(XFileRead, MaterialsDeclaredButNotGivenAreWhite) {
    Model m = read_text(R"(
Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 3; 3;0,1,2;, 3;0,2,1;, 3;1,0,2;;
  MeshMaterialList { 20; 3; 0, 19, 7;; Material { 0;0;1;1;; 1; 0;0;0;; 0;0;0;; } } }
)");
    ASSERT_EQ(m.triangles.size(), 3u);
    EXPECT_EQ(mat(m, m.triangles[0]).r, 0.f);
    EXPECT_TRUE(mat(m, m.triangles[1]) == Material{});
    EXPECT_EQ(m.triangles[1].material, m.triangles[2].material);
    EXPECT_EQ(m.materials.size(), 2u);
}

TEST(XFileRead, NestedFramesApplyChildBeforeParent) {
    Model m =
        read_text(R"(Frame Outer { FrameTransformMatrix { 2,0,0,0, 0,2,0,0, 0,0,2,0, 0,0,0,1;; }
  Frame Inner { FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 1,0,0,1;; }
    Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; } }
  Mesh Second { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; } }
Mesh Plain { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; })");
    ASSERT_EQ(m.positions.size(), 9u);
    // Inner: translate by x+1 then scale by 2; Second: scale only; Plain: unchanged.
    const std::vector<Vec3> want = {{2, 0, 0}, {2, 2, 0}, {4, 0, 0}, {0, 0, 0}, {0, 2, 0},
                                    {2, 0, 0}, {0, 0, 0}, {0, 1, 0}, {1, 0, 0}};
    EXPECT_TRUE(m.positions == want);
    // Indices of later meshes are offset into the merged arrays.
    EXPECT_EQ(m.triangles[2].v[0], 6u);
}

TEST(XFileRead, FrameNormalsUseInverseTransposeAndMirrorsKeepFrontsOutside) {
    MeshDesc c = cube();
    // Stretch along x and shear: normals must stay perpendicular to the transformed faces.
    c.frames = {{3, 0, 0, 0, 0.5f, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    for (bool mirror : {false, true}) {
        if (mirror) c.frames.push_back({-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
        for (bool own : {false, true}) { // computed, or the file's own axis normals
            MeshDesc d = cube(own);
            d.frames = c.frames;
            Model m = read_ok(write(d, Format::Text));
            ASSERT_EQ(m.triangles.size(), 12u);
            for (const Triangle& t : m.triangles) {
                Vec3 fd = face_dir(m, t);
                // The cube stays around the origin: outside is away from it.
                EXPECT_GT(dot(fd, m.positions[t.v[0]]), 0)
                    << "front turned inwards, mirror " << mirror;
                float fl = std::sqrt(dot(fd, fd));
                for (uint32_t n : t.n) {
                    const Vec3& nn = m.normals[n];
                    EXPECT_NEAR(dot(nn, nn), 1.f, 1e-5);
                    EXPECT_NEAR(dot(nn, fd) / fl, 1.f, 1e-5);
                }
            }
        }
    }
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
    EXPECT_NEAR(m.normals[m.triangles[0].n[0]].z, -1.f, 1e-6); // the face's own front normal
}

TEST(XFileRead, LenientSeparatorsCommentsAndNumberForms) {
    Model m = read_text(R"(
# a comment
template Vector { <3D82AB5E-62DA-11cf-AB39-0020AF71E433> FLOAT x; FLOAT y; FLOAT z; }
// another comment
Mesh Strict-Name_1 {
  4;;
  -1.0;-1.0;0.0;, -1;1;0;;, 1e0;+1;.0, 10E-1,-1.,0
  2 3,0 1 2,, 3;0;2;3
  MeshMaterialList { 1;2;0;0;; Material{1;1;1;1;;0;0;0;0;;0;0;0;;} }
  VertexDuplicationIndices { 4; 4; 0,1,2,3; }
  AnimationSet Nested { Animation { { Strict-Name_1 } AnimationKey { 0; 1; 0; 4; 1,0,0,0;;; } } }
}
)");
    EXPECT_TRUE(m.positions == (std::vector<Vec3>{{-1, -1, 0}, {-1, 1, 0}, {1, 1, 0}, {1, -1, 0}}));
    ASSERT_EQ(m.triangles.size(), 2u);
    EXPECT_EQ(m.triangles[1].v[2], 3u);
    ASSERT_EQ(m.materials.size(), 1u);
    // Comments end at any line break, old Mac ones included.
    Model cr =
        read_text("# comment\rMesh { 3; 0;0;0;, // and\r 0;1;0;, 1;0;0;;\r\n 1; 3;0,1,2;; }");
    EXPECT_EQ(cr.triangles.size(), 1u);
    // Object names may look like numbers.
    EXPECT_EQ(read_text("Frame 01 { Mesh 2 { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; } }")
                  .triangles.size(),
              1u);
}

TEST(XFileRead, TextureCoordinatesKeptOnePerPosition) {
    Model m = read_text(R"(
Mesh A { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }
Mesh B { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;;
  MeshTextureCoords { 3; 0.5;0.25;, 1;1;, 0;1;; } }
)");
    ASSERT_EQ(m.texcoords.size(), 6u);
    EXPECT_EQ(m.texcoords[0].u, 0.f); // A had none
    EXPECT_TRUE(m.texcoords[3] == (Vec2{0.5f, 0.25f}));
    EXPECT_EQ(read_text("Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }").texcoords.size(), 0u);
}

TEST(XFileRead, LoadReadsFilesAndReportsMissingOnes) {
    char path[] = "/tmp/xfile_testXXXXXX";
    int fd = mkstemp(path);
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
    EXPECT_TRUE(m.positions.empty());
    std::remove(path);
    EXPECT_EQ(load(path, m, &err), Result::FileNotFound);
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(load("/tmp", m, &err), Result::FileNotFound);
    EXPECT_EQ(load("/dev/zero", m, &err), Result::FileNotFound);
    ASSERT_EQ(mkfifo(path, 0600), 0); // would block an fopen until a writer came
    EXPECT_EQ(load(path, m, &err), Result::FileNotFound);
    std::remove(path);
}
