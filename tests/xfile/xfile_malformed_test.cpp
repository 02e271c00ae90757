// Malformed input: every failure is a clean BadFile with a reason and an empty model.
#include "xfile_test_util.h"

#include <cstring>
#include <random>

using namespace xtest;

namespace {

// Parses and checks the contract for failures; returns the result.
Result attempt(const uint8_t* data, size_t size, const Limits& lim = {},
               std::string* why = nullptr) {
    Model m;
    m.positions.push_back({1, 2, 3}); // must be cleared whatever happens
    std::string err;
    Result r = parse(data, size, m, &err, lim);
    if (r != Result::Ok) {
        EXPECT_EQ(r, Result::BadFile);
        EXPECT_FALSE(err.empty());
        EXPECT_EQ(err.find('\n'), std::string::npos);
        EXPECT_TRUE(m.positions.empty() && m.triangles.empty() && m.normals.empty() &&
                    m.materials.empty());
    } else {
        // Whatever the input, an accepted model can be indexed without checks.
        EXPECT_TRUE(err.empty());
        EXPECT_TRUE(m.texcoords.empty() || m.texcoords.size() == m.positions.size());
        for (const Vec3& p : m.positions)
            EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
        for (const Vec3& n : m.normals)
            EXPECT_NEAR(dot(n, n), 1.f, 1e-4);
        for (const Triangle& t : m.triangles) {
            for (int k = 0; k < 3; ++k) {
                EXPECT_LT(t.v[k], m.positions.size());
                EXPECT_LT(t.n[k], m.normals.size());
            }
            EXPECT_TRUE(t.material == -1 ||
                        (t.material >= 0 && size_t(t.material) < m.materials.size()));
            EXPECT_LE(t.edges, 7);
        }
    }
    if (why) *why = err;
    return r;
}
Result attempt(const std::vector<uint8_t>& b, const Limits& lim = {}, std::string* why = nullptr) {
    return attempt(b.data(), b.size(), lim, why);
}
Result attempt_text(const std::string& body, std::string* why = nullptr) {
    return attempt(bytes_of("xof 0303txt 0032\n" + body), {}, why);
}

MeshDesc small_mesh() {
    MeshDesc d = cube();
    d.normals = {{0, 0, 1}, {0, 1, 0}};
    for (auto& f : d.faces)
        d.normal_faces.push_back(std::vector<uint32_t>(f.size(), 1));
    d.materials = {{Material{}, {}}, {Material{}, "Shared"}};
    d.face_materials = {0, 1, 1};
    d.frames = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1}};
    return d;
}

FileDesc small_file() {
    FileDesc f;
    f.materials = {{"Shared", Material{}}};
    f.meshes.push_back(small_mesh());
    return f;
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    std::memcpy(&b[at], &v, 4);
}

} // namespace

TEST(XFileMalformed, EveryTruncationFailsCleanly) {
    for (Format fmt : kFormats) {
        SCOPED_TRACE(int(fmt));
        std::vector<uint8_t> b = write(small_file(), fmt);
        ASSERT_EQ(attempt(b), Result::Ok);
        bool zip = fmt == Format::TextZip || fmt == Format::BinaryZip;
        // A plain body cut between top-level objects is a shorter whole file (here: the
        // material alone); a cut anywhere else fails. Compressed bodies have a size to check.
        size_t whole = b.size();
        if (fmt == Format::Text)
            while (b[whole - 1] != '}')
                --whole;
        int failures = 0;
        for (size_t len = 0; len < whole; ++len) {
            std::vector<uint8_t> cut(b.begin(), b.begin() + long(len));
            Result r = attempt(cut);
            failures += r == Result::BadFile;
            if (zip) {
                EXPECT_EQ(r, Result::BadFile) << "length " << len;
            }
            if (r == Result::Ok) {
                Model m;
                read(cut, m);
                EXPECT_TRUE(m.positions.empty()) << "half a mesh read from length " << len;
            }
        }
        EXPECT_GE(failures, int(whole) - 8);
    }
}

TEST(XFileMalformed, BadTextBodiesFailWithTheirReason) {
    const std::string tri = "Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;;";
    const struct {
        std::string body;
        const char* reason; // part of the message, when it matters
    } cases[] = {
        // Counts larger than the file fail before allocating: a billion vertices in 50 bytes.
        {"Mesh { 1000000000; 0;0;0;, 1;1;1;; 1; 3;0,1,2;; }", "larger than the file"},
        {"Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 4000000000; 3;0,1,2;; }", ""},
        {"Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 4000000000;0,1,2;; }", ""},
        {tri + " MeshNormals { 900000000; 0;0;1;; 1; 3;0,0,0;; } }", ""},
        {tri + " MeshMaterialList { 1; 900000000; 0;; } }", ""},
        {"Mesh { 99999999999; }", ""}, // beyond 32 bits
        // Indices that aren't indices, or name a material that doesn't exist.
        {"Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,-1,2;; }", "non-negative"},
        {tri + " MeshMaterialList { 1; 1; 1;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } }", ""},
        // Non-finite numbers, the C runtime's spellings included (not a number and a comment).
        {"Mesh { 3; 0;nan;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }", ""},
        {"Mesh { 3; 0;inf;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }", ""},
        {"Mesh { 3; 0;1e39;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }", ""},
        {"Mesh { 3; 0;-1.#IND00;0;,\n 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }", "finite"},
        {"Mesh { 3; 0;1.#INF00;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }", ""},
        // Finite in the file, infinite once placed.
        {"Frame { FrameTransformMatrix { 1e30,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1;; }"
         " Mesh { 3; 1e30;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; } }",
         ""},
        // Garbage.
        {tri, ""},
        {tri + " } }", ""},
        {"Mesh { 3; 0;0;0;, 0;abc;0;, 1;0;0;; 1; 3;0,1,2;; }", ""},
        {"Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1.5,2;; }", ""},
        {"Mesh \"x\" { }", ""},
        {"Material M { 1;1;1;1;; 1; 0;0;0;; 0;0;0;; TextureFilename { \"a }", ""},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(attempt_text(c.body, &why), Result::BadFile) << c.body;
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
    EXPECT_EQ(attempt_text("Mesh { 3; 0;1e-60;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }"), Result::Ok);
}

TEST(XFileMalformed, FacesNamingMissingDataAreLeftOutAndCounted) {
    // Faces 0 and 2 (a line) name vertices that don't exist, face 3 a normal: the rest keep
    // their normals and materials, paired with the faces by number as the file gives them.
    Model m = read_text(R"(Mesh { 4; 0;0;0;, 0;1;0;, 1;0;0;, 1;1;0;;
  5; 3;0,1,7;, 4;0,1,3,2;, 2;0,9;, 3;0,1,2;, 3;1,3,2;;
  MeshNormals { 2; 0;0;-1;, 1;0;0;; 5; 3;0,0,0;, 4;0,0,0,0;, 2;0,0;, 3;0,0,5;, 3;1,1,1;; }
  MeshMaterialList { 2; 5; 1,1,0,0,0;;
    Material { 1;0;0;1;; 0; 0;0;0;; 0;0;0;; } Material { 0;0;1;1;; 0; 0;0;0;; 0;0;0;; } } })");
    ASSERT_EQ(m.triangles.size(), 3u);
    EXPECT_TRUE(m.dropped_faces == 3 && m.meshes == 1);
    for (size_t t = 0; t < 3; ++t) {
        EXPECT_EQ(m.materials.at(size_t(m.triangles[t].material)).b, t < 2 ? 1.f : 0.f);
        EXPECT_TRUE(m.normals[m.triangles[t].n[0]] == (t < 2 ? Vec3{0, 0, -1} : Vec3{1, 0, 0}));
    }
    // Nothing left: still a mesh, without a triangle.
    m = read_text("Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,3;; }");
    EXPECT_TRUE(m.triangles.empty() && m.dropped_faces == 1 && m.meshes == 1);
}

TEST(XFileMalformed, BadCountsAndIndicesInEveryEncoding) {
    // Binary: a list token claiming more numbers than bytes.
    std::vector<uint8_t> b = write(small_mesh(), Format::Binary32);
    for (size_t i = 16; i + 6 <= b.size(); ++i) {
        if (b[i] == 7 && b[i + 1] == 0) { // the first FLOAT_LIST
            put32(b, i + 2, 0x40000000u);
            break;
        }
    }
    EXPECT_EQ(attempt(b), Result::BadFile);
    // A compressed file may declare at most the inflate limit.
    std::string why;
    std::vector<uint8_t> z = write(small_mesh(), Format::TextZip);
    put32(z, 16, 0xfffffff0u);
    EXPECT_EQ(attempt(z, {}, &why), Result::BadFile);
    EXPECT_NE(why.find("limit"), std::string::npos) << why;
    // From our writer with one face index bumped past the vertex count (that face is left
    // out), or a NaN position (the file is refused).
    MeshDesc bad_index = small_mesh(), nan = small_mesh();
    bad_index.faces[2][1] = 8;
    nan.positions[3].y = std::nanf("");
    for (Format f : kFormats) {
        Model m;
        ASSERT_EQ(attempt(write(bad_index, f)), Result::Ok);
        read(write(bad_index, f), m);
        EXPECT_TRUE(m.triangles.size() == 10 && m.dropped_faces == 1 && m.meshes == 1);
        EXPECT_EQ(attempt(write(nan, f)), Result::BadFile);
    }
}

TEST(XFileMalformed, DeepNestingFailsWithoutRecursion) {
    auto repeat = [](const std::string& part, size_t n) {
        std::string all;
        for (size_t i = 0; i < n; ++i)
            all += part;
        return all;
    };
    std::string why;
    EXPECT_EQ(attempt_text(repeat("Frame {", 1000000), &why), Result::BadFile);
    EXPECT_NE(why.find("nested"), std::string::npos) << why;
    // The same inside objects the reader skips, and inside templates.
    std::string skipped = "Unknown {" + std::string(1000000, '{');
    EXPECT_EQ(attempt_text(skipped), Result::BadFile);
    EXPECT_EQ(attempt_text("template T { <11111111-1111-1111-1111-111111111111> " + skipped),
              Result::BadFile);
    // Binary: a million OBRACE tokens, each after a name.
    const std::string named_brace("\1\0\5\0\0\0Frame\12\0", 13);
    EXPECT_EQ(attempt(bytes_of("xof 0303bin 0032" + repeat(named_brace, 1000000))),
              Result::BadFile);
    // Up to the limit is fine.
    const size_t limit = size_t(Limits{}.max_depth);
    std::string ok = repeat("Frame {", limit) + std::string(limit, '}');
    EXPECT_EQ(attempt_text(ok), Result::Ok);
    EXPECT_EQ(attempt_text(ok + "}"), Result::BadFile); // unmatched
}

TEST(XFileMalformed, NonFiniteNormalsAndColoursAreRepaired) {
    Model q = read_text("Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;;\n"
                        " MeshNormals { 1; 1.#QNAN0;0;0;; 1; 3;0,0,0;; } }");
    ASSERT_EQ(q.triangles.size(), 1u);
    EXPECT_NEAR(q.normals[q.triangles[0].n[0]].z, -1.f, 1e-6);
    MeshDesc d = small_mesh();
    d.normals[0] = {std::nanf(""), 0, 0};
    d.materials[0].material.r = std::nanf("");
    Model m;
    ASSERT_EQ(read(write(d, Format::Binary32), m), Result::Ok);
    for (const Vec3& n : m.normals)
        EXPECT_TRUE(std::isfinite(n.x) && std::isfinite(n.y));
    for (const Material& mt : m.materials)
        EXPECT_TRUE(std::isfinite(mt.r));
}

TEST(XFileMalformed, BadCompressedBlocks) {
    WriteOptions o;
    o.block_size = 200;
    std::vector<uint8_t> z = write(small_mesh(), Format::TextZip, o);
    ASSERT_EQ(attempt(z), Result::Ok);
    std::string why;
    auto b = z; // first block's signature
    b[24] = 'X';
    EXPECT_EQ(attempt(b, {}, &why), Result::BadFile);
    EXPECT_NE(why.find("CK"), std::string::npos) << why;
    // A block larger than 32768, a compressed size past the end of the file, an uncompressed
    // size one larger than the block holds.
    const std::vector<std::pair<size_t, uint8_t>> edits[] = {
        {{20, 0x01}, {21, 0x81}}, {{22, 0xff}, {23, 0xff}}, {{20, uint8_t(z[20] + 1)}}};
    for (const auto& edit : edits) {
        b = z;
        for (auto [at, value] : edit)
            b[at] = value;
        EXPECT_EQ(attempt(b), Result::BadFile);
    }
    for (uint32_t delta : {1u, 100u}) { // total size field wrong either way
        b = z;
        uint32_t total;
        std::memcpy(&total, &b[16], 4);
        put32(b, 16, total + delta);
        EXPECT_EQ(attempt(b), Result::BadFile);
        put32(b, 16, total - delta);
        EXPECT_EQ(attempt(b), Result::BadFile);
    }
}

TEST(XFileMalformed, ZipBombStopsAtTheInflateLimit) {
    // Megabytes of one letter compress to almost nothing.
    FileDesc f = small_file();
    f.materials[0].material.texture = std::string(4 << 20, 'q');
    std::vector<uint8_t> z = write(f, Format::TextZip);
    EXPECT_LT(z.size(), 64u << 10);
    ASSERT_EQ(attempt(z), Result::Ok);
    Limits lim;
    lim.max_inflated = 1 << 20;
    std::string why;
    EXPECT_EQ(attempt(z, lim, &why), Result::BadFile);
    EXPECT_NE(why.find("limit"), std::string::npos) << why;
    // A total field that understates the data: stops at the declared size.
    put32(z, 16, 1 << 16);
    EXPECT_EQ(attempt(z, lim), Result::BadFile);
}

TEST(XFileMalformed, HeadersAndGarbage) {
    for (const char* head : {"", "xof 0303txt 003", "xof 0303abc 0032", "xof 0303txt 0016",
                             "zof 0303txt 0032", "xof 0304txt 0032", "xof 0203txt 0032"})
        EXPECT_EQ(attempt(bytes_of(head)), Result::BadFile) << head;
    // Empty: no meshes. A binary body of a lone line break, plain or in a stored deflate
    // block, holds no token at all.
    const std::string zipped("xof 0303bzip0032\x11\0\0\0\x01\0\x08\0CK\x01\x01\0\xfe\xff\n", 32);
    for (const std::string& empty :
         {std::string("xof 0302txt 0032"), zipped, std::string("xof 0303bin 0032\n")}) {
        Model m;
        EXPECT_EQ(attempt(bytes_of(empty)), Result::Ok);
        EXPECT_EQ(read(bytes_of(empty), m), Result::Ok);
        EXPECT_EQ(m.meshes, 0u);
    }
    Limits lim;
    lim.max_bytes = 100;
    EXPECT_EQ(attempt(write(small_mesh(), Format::Text), lim), Result::BadFile);

    // Random bytes after each header, and random bit flips in each encoding.
    std::mt19937 rng(1234);
    const char* heads[] = {"xof 0303txt 0032", "xof 0303bin 0032", "xof 0303bin 0064",
                           "xof 0303tzip0032", "xof 0303bzip0032"};
    for (const char* h : heads) {
        for (int i = 0; i < 300; ++i) {
            std::vector<uint8_t> b = bytes_of(h);
            size_t n = rng() % 400;
            for (size_t k = 0; k < n; ++k)
                b.push_back(uint8_t(rng()));
            attempt(b);
        }
    }
    // Compressed bodies in several blocks: corrupt deflate data anywhere in any of them.
    WriteOptions o;
    o.block_size = 200;
    for (Format fmt : kFormats) {
        std::vector<uint8_t> good = write(small_file(), fmt, o);
        for (int i = 0; i < 1500; ++i) {
            auto b = good;
            for (int k = 0, flips = 1 + int(rng() % 4); k < flips; ++k) {
                size_t at = 16 + rng() % (b.size() - 16);
                b[at] = uint8_t(b[at] ^ (1u << (rng() % 8)));
            }
            attempt(b);
        }
    }
}
