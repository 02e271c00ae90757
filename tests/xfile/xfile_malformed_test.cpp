// Malformed input: every failure is a clean BadFile with a one-line reason and an empty model.
#include "xfile_test_util.h"

#include <cstring>
#include <random>
#include <tuple>

using namespace xtest;

namespace {

// Why the bytes are refused, once the contract for failures is checked; empty when they read.
std::string refusal(const std::vector<uint8_t>& b, const Limits& lim = {}) {
    Model m;
    m.positions.push_back({1, 2, 3}); // must be cleared whatever happens
    std::string err;
    const Result r = parse(b.data(), b.size(), m, &err, lim);
    if (r == Result::Ok) return "";
    EXPECT_EQ(r, Result::BadFile);
    EXPECT_TRUE(!err.empty() && err.find('\n') == std::string::npos) << err;
    EXPECT_TRUE(m.positions.empty() && m.triangles.empty() && m.materials.empty());
    return err;
}

void expect_refused(const std::vector<uint8_t>& b, const std::string& reason = "",
                    const Limits& lim = {}) {
    const std::string why = refusal(b, lim);
    EXPECT_FALSE(why.empty()) << "read";
    EXPECT_NE(why.find(reason), std::string::npos) << why;
}

// A framed cube with its own normals and a material list naming a top-level material.
FileDesc small_file() {
    FileDesc f;
    f.materials = {{"Shared", Material{}}};
    MeshDesc d = cube();
    d.materials = {{Material{}, {}}, {Material{}, "Shared"}};
    d.face_materials = {0, 1, 1};
    d.frames = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1}};
    f.meshes.push_back(d);
    return f;
}

} // namespace

TEST(XFileMalformed, BadTextBodiesFailWithTheirReason) {
    const std::string tri = "Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;;";
    const size_t depth = size_t(Limits{}.max_depth);
    std::string frames; // nested as deep as allowed
    for (size_t i = 0; i < depth; ++i)
        frames += "Frame {";
    const std::pair<std::string, const char*> cases[] = {
        // A count larger than the file fails before allocating: a billion vertices in 50 bytes.
        {"Mesh { 1000000000; 0;0;0;, 1;1;1;; 1; 3;0,1,2;; }", "larger than the file"},
        {"Mesh { 99999999999; }", "out of range"}, // beyond 32 bits
        // Indices that aren't indices, or name a material that doesn't exist.
        {"Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,-1,2;; }", "non-negative"},
        {tri + " MeshMaterialList { 1; 1; 1;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } }",
         "out of range"},
        // Non-finite numbers, the C runtime's spellings included (not a number and a comment).
        {"Mesh { 3; 0;nan;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }", "finite"},
        {"Mesh { 3; 0;-1.#IND00;0;,\n 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }", "finite"},
        {"Mesh { 3; 0;1.#INF00;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }", "finite"},
        // Finite in the file, infinite once placed.
        {"Frame { FrameTransformMatrix { 1e30,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1;; }"
         " Mesh { 3; 1e30;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; } }",
         "finite"},
        // Nesting past the limit, in objects read, skipped, or in a template; or unmatched.
        {frames + "Frame {", "nested"},
        {"Unknown {" + std::string(depth, '{'), "nested"},
        {"template T { <11111111-1111-1111-1111-111111111111> Unknown {" + std::string(depth, '{'),
         "nested"},
        {frames + std::string(depth + 1, '}'), "unmatched"},
        // Garbage.
        {"Material M { 1;1;1;1;; 1; 0;0;0;; 0;0;0;; TextureFilename { \"a }", "unterminated"},
    };
    for (const auto& [body, reason] : cases) {
        SCOPED_TRACE(body.substr(0, 100));
        expect_refused(bytes_of("xof 0303txt 0032\n" + body), reason);
    }
    // Up to the limit is fine.
    EXPECT_EQ(read_text(frames + std::string(depth, '}')).meshes, 0u);
}

TEST(XFileMalformed, FacesNamingMissingDataAreLeftOutAndCounted) {
    // Faces 0 and 2 (a line) name vertices that don't exist, face 3 a normal: the rest keep
    // their normals and materials, paired with the faces by number as the file gives them.
    Model m = read_text(R"(Mesh { 4; 0;0;0;, 0;1;0;, 1;0;0;, 1;1;0;;
  5; 3;0,1,7;, 4;0,1,3,2;, 2;0,9;, 3;0,1,2;, 3;1,3,2;;
  MeshNormals { 3; 0;0;-1;, 1;0;0;, 0;3;0;; 5; 3;0,0,0;, 4;2,0,1,0;, 2;0,0;, 3;0,0,3;, 3;1,2,1;; }
  MeshMaterialList { 2; 5; 1,1,0,0,0;;
    Material { 1;0;0;1;; 0; 0;0;0;; 0;0;0;; } Material { 0;0;1;1;; 0; 0;0;0;; 0;0;0;; } } })");
    ASSERT_EQ(m.triangles.size(), 3u);
    EXPECT_TRUE(m.dropped_faces == 3 && m.meshes == 1);
    // Each corner takes its face's normal for it, wherever triangulation put the corner: by
    // position, the quad's take normals 2, 0, 0, 1 and the triangle's -, 1, 1, 2.
    const Vec3 normal[3] = {{0, 0, -1}, {1, 0, 0}, {0, 1, 0}}; // renormalised
    const uint32_t want[2][4] = {{2, 0, 0, 1}, {0, 1, 1, 2}};
    for (size_t t = 0; t < 3; ++t) {
        const Triangle& tri = m.triangles[t];
        EXPECT_EQ(m.materials.at(size_t(tri.material)).b, t < 2 ? 1.f : 0.f);
        for (int k = 0; k < 3; ++k)
            EXPECT_TRUE(m.normals[tri.n[k]] == normal[want[t / 2][tri.v[k]]]) << t << " " << k;
    }
    // Nothing left: still a mesh, without a triangle.
    m = read_text("Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,3;; }");
    EXPECT_TRUE(m.triangles.empty() && m.dropped_faces == 1 && m.meshes == 1);
}

TEST(XFileMalformed, CorruptCompressedBodiesFailWithTheirReason) {
    WriteOptions o;
    o.block_size = 200;
    const std::vector<uint8_t> z = write(small_file(), Format::TextZip, o);
    ASSERT_EQ(refusal(z), "");
    uint32_t total;
    std::memcpy(&total, &z[16], 4);
    const uint32_t block = uint32_t(z[20] | z[21] << 8);
    // At 16 the total size, then the first block's uncompressed size, compressed size and
    // signature.
    const std::tuple<size_t, uint32_t, size_t, const char*> edits[] = {
        {16, 0xfffffff0u, 4, "limit"},
        {24, 'X', 1, "CK"},
        {22, 1, 2, "CK"},
        {20, 0, 2, ""}, // a block of nothing
        {20, 0x8101, 2, "32768"},
        {22, 0xffff, 2, "past the end"},
        {20, block + 1, 2, "corrupt"}};
    for (const auto& [at, value, bytes, reason] : edits) {
        SCOPED_TRACE(testing::Message() << at << " " << value);
        std::vector<uint8_t> b = z;
        std::memcpy(&b[at], &value, bytes); // little-endian, as the format
        expect_refused(b, reason);
    }
    // Megabytes of one letter compress to almost nothing: reading stops at the inflate limit,
    // or at the declared size when the total understates it.
    FileDesc f = small_file();
    f.materials[0].material.texture = std::string(4 << 20, 'q');
    std::vector<uint8_t> bomb = write(f, Format::TextZip);
    ASSERT_EQ(refusal(bomb), "");
    Limits lim;
    lim.max_bytes = bomb.size() - 1; // the file itself has a limit too
    expect_refused(bomb, "limit", lim);
    lim.max_bytes = bomb.size();
    lim.max_inflated = 1 << 20;
    expect_refused(bomb, "limit", lim);
    std::memcpy(&bomb[16], "\0\0\1\0", 4); // a total of 64 KiB understates it
    expect_refused(bomb, "", lim);
}

TEST(XFileMalformed, HeadersAndEmptyBodies) {
    for (const char* head : {"", "xof 0303txt 003", "xof 0303abc 0032", "xof 0303txt 0016",
                             "zof 0303txt 0032", "xof 0304txt 0032", "xof 0203txt 0032"})
        expect_refused(bytes_of(head));
    // A binary body of a lone line break, plain or in a stored deflate block, holds no token.
    const std::string zipped("xof 0303bzip0032\x11\0\0\0\x01\0\x08\0CK\x01\x01\0\xfe\xff\n", 32);
    for (const std::string& empty :
         {std::string("xof 0302txt 0032"), zipped, std::string("xof 0303bin 0032\n")})
        EXPECT_EQ(read_ok(bytes_of(empty)).meshes, 0u);
}

TEST(XFileMalformed, EveryCutNoiseAfterTheHeaderAndBitFlipsFailCleanly) {
    // Compressed forms in several blocks, so that any of them can be cut or corrupt.
    WriteOptions o;
    o.block_size = 200;
    std::mt19937 rng(1234);
    for (Format fmt : kFormats) {
        SCOPED_TRACE(int(fmt));
        const std::vector<uint8_t> good = write(small_file(), fmt, o);
        ASSERT_EQ(refusal(good), "");
        size_t whole = good.size(); // a text body's trailing blanks may go
        while (fmt == Format::Text && good[whole - 1] != '}')
            --whole;
        int read = 0;
        for (size_t len = 0; len < whole; ++len) {
            const std::vector<uint8_t> cut(good.begin(), good.begin() + long(len));
            if (!refusal(cut).empty()) continue;
            ++read;
            EXPECT_EQ(read_ok(cut).meshes, 0u) << "half a mesh read from length " << len;
        }
        // Only a plain body cut between top-level objects is a shorter whole file (here: the
        // material alone); compressed bodies have a size to check.
        EXPECT_LE(read, fmt == Format::TextZip || fmt == Format::BinaryZip ? 0 : 8);
        for (int i = 0; i < 1800; ++i) {
            std::vector<uint8_t> b = good;
            if (i < 300) { // the header, then random bytes
                b.resize(16 + rng() % 400);
                for (size_t k = 16; k < b.size(); ++k)
                    b[k] = uint8_t(rng());
            } else {
                for (int k = 0, flips = 1 + int(rng() % 4); k < flips; ++k) {
                    const size_t at = 16 + rng() % (good.size() - 16);
                    b[at] = uint8_t(b[at] ^ (1u << (rng() % 8)));
                }
            }
            refusal(b);
        }
    }
}
