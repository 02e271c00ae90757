// The OBJ, STL, PLY and glTF readers up to their meshes: detection by content, what the readers
// keep of OBJ, placement by glTF's nodes, and external glTF buffers that may only come from the
// model's own folder. Every format read back from our writer's files is the mesh builder's test.
#include <models/models.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using models::Format;
using xfile::Vec3;

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

models::Scene Read(const std::vector<uint8_t>& b, const models::BufferReader& buffers = {}) {
    models::Scene s;
    std::string why;
    EXPECT_EQ(models::parse(b.data(), b.size(), s, &why, {}, buffers), xfile::Result::Ok) << why;
    return s;
}

Vec3 Placed(const models::Part& p, Vec3 v) {
    if (!p.placed) return v;
    const auto& m = p.matrix;
    return {float(v.x * m[0] + v.y * m[4] + v.z * m[8] + m[12]),
            float(v.x * m[1] + v.y * m[5] + v.z * m[9] + m[13]),
            float(v.x * m[2] + v.y * m[6] + v.z * m[10] + m[14])};
}

TEST(Models, DetectionGoesByContentAlone) {
    std::vector<uint8_t> stl(84 + 50, 0);
    std::memcpy(stl.data(), "solid but binary", 16);
    stl[80] = 1;
    const std::pair<std::string, Format> cases[] = {
        {"xof 0303txt 0032\nMesh{}", Format::X},
        {"glTF\x02", Format::Glb},
        {"\xEF\xBB\xBF  {\"asset\":{}}", Format::Gltf},
        {"{\"a\":1}", Format::Unknown},
        {"ply\r\nformat ascii 1.0", Format::Ply},
        {"plywood", Format::Unknown},
        {"solid cube\nfacet normal 0 0 1", Format::StlAscii},
        {"solidity", Format::Unknown},
        {"# made by hand\n\nmtllib a.mtl\nv 0 0 0", Format::Obj},
        {"vertices 1 2 3", Format::Unknown},
        {"", Format::Unknown},
        {std::string(stl.begin(), stl.end()), Format::StlBinary},
        {std::string(stl.begin(), stl.end() - 1), Format::StlAscii},
    };
    for (const auto& [text, format] : cases)
        EXPECT_EQ(models::detect(Bytes(text).data(), text.size()), format) << text;
}

TEST(Models, ObjIndicesCountBackAndFacesWithNormalsKeepThem) {
    const models::Scene s = Read(Bytes("o a\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvn 0 0 1\n"
                                       "g top\nf 1//1 2//1 3//1 4//1\no b\nv 0 0 1\nv 1 0 1\n"
                                       "v 0 1 1\nf -3 -2 -1\nf 5/1 6/1 0\n"));
    ASSERT_EQ(s.parts.size(), 2u);
    EXPECT_EQ(s.parts[0].mesh.normal_index, (std::vector<uint32_t>{0, 0, 0, 0}));
    EXPECT_EQ(s.parts[1].mesh.normals.size(), 0u);
    // "0" names nothing: that face is dropped later, like any face naming missing data.
    EXPECT_EQ(s.parts[1].mesh.position_index, (std::vector<uint32_t>{4, 5, 6, 4, 5, 0xffffffffu}));
}

std::string DataUri(const std::vector<float>& floats) {
    std::vector<uint8_t> b(floats.size() * 4);
    std::memcpy(b.data(), floats.data(), b.size());
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s = "data:application/octet-stream;base64,";
    for (size_t i = 0; i < b.size(); i += 3) { // a multiple of 3 bytes in the tests
        const uint32_t v = uint32_t(b[i]) << 16 | uint32_t(b[i + 1]) << 8 | b[i + 2];
        for (int k = 18; k >= 0; k -= 6)
            s += abc[(v >> k) & 63];
    }
    return s;
}

// One triangle (0,0,0) (1,0,0) (0,1,0) as a strip, shown by the nodes given.
std::string Gltf(const std::string& nodes_and_scenes, const std::string& uri = "") {
    return "{\"asset\":{\"version\":\"2.0\"}," + nodes_and_scenes +
           ",\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0},\"mode\":5}]}],"
           "\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":3,\"type\":"
           "\"VEC3\"}],\"bufferViews\":[{\"buffer\":0,\"byteLength\":36}],\"buffers\":[{"
           "\"byteLength\":36,\"uri\":\"" +
           (uri.empty() ? DataUri({0, 0, 0, 1, 0, 0, 0, 1, 0}) : uri) + "\"}]}";
}

TEST(Models, GltfPlacesMeshesByTheDefaultScenesNodes) {
    // Scene 1 is the default: a parent turned a quarter about z and moved by (5,0,0) (TRS),
    // its child scaled by 2 (matrix); scene 0's node must not show.
    const models::Scene s = Read(Bytes(Gltf(
        "\"scene\":1,\"scenes\":[{\"nodes\":[2]},{\"nodes\":[0]}],\"nodes\":[{\"translation\":"
        "[5,0,0],\"rotation\":[0,0,0.70710678,0.70710678],\"children\":[1]},{\"matrix\":[2,0,0,0,"
        "0,2,0,0,0,0,2,0,0,0,0,1],\"mesh\":0},{\"mesh\":0}]")));
    ASSERT_EQ(s.parts.size(), 1u);
    const Vec3 x = Placed(s.parts[0], {1, 0, 0}), y = Placed(s.parts[0], {0, 1, 0});
    EXPECT_NEAR(x.x, 5, 1e-6);
    EXPECT_NEAR(x.y, 2, 1e-6);
    EXPECT_NEAR(y.x, 3, 1e-6);
    EXPECT_NEAR(y.y, 0, 1e-6);
    EXPECT_EQ(s.parts[0].mesh.position_index.size(), 3u);
}

TEST(Models, GltfExternalBuffersStayInsideTheModelsFolder) {
    const std::string refused[] = {
        "/etc/passwd", "../b.bin",     "a/../../b.bin",     "%2e%2e/b.bin", "file:///etc/passwd",
        "C:\\b.bin",   "a\\..\\b.bin", "http://host/b.bin", "sub/",         "b.bin%00.png"};
    std::vector<std::string> asked;
    models::BufferReader record = [&](const std::string& name, size_t, std::vector<uint8_t>& out,
                                      std::string&) {
        asked.push_back(name);
        const float tri[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
        out.assign(reinterpret_cast<const uint8_t*>(tri),
                   reinterpret_cast<const uint8_t*>(tri + 9));
        return true;
    };
    for (const std::string& uri : refused) {
        models::Scene s;
        const std::string text = Gltf("\"nodes\":[{\"mesh\":0}]", uri);
        EXPECT_EQ(models::parse(Bytes(text).data(), text.size(), s, nullptr, {}, record),
                  xfile::Result::BadFile)
            << uri;
    }
    EXPECT_TRUE(asked.empty());
    Read(Bytes(Gltf("\"nodes\":[{\"mesh\":0}]", "sub/my%20b.bin")), record);
    EXPECT_EQ(asked, std::vector<std::string>{"sub/my b.bin"});

    // From files: the buffer beside the model loads; one reached through a link to elsewhere, a
    // FIFO and a file beyond the size limit fail at once; bytes without a folder refuse any file.
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("models-test-" + std::to_string(getpid()));
    fs::create_directories(dir / "model");
    const float tri[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    std::ofstream(dir / "model" / "b.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(tri), sizeof tri);
    fs::copy_file(dir / "model" / "b.bin", dir / "outside.bin");
    fs::create_symlink(dir / "outside.bin", dir / "model" / "link.bin");
    ASSERT_EQ(mkfifo((dir / "model" / "fifo.bin").c_str(), 0600), 0);
    std::ofstream(dir / "model" / "huge.bin").close();
    fs::resize_file(dir / "model" / "huge.bin", xfile::Limits{}.max_bytes + 1); // sparse
    for (const char* name : {"b.bin", "link.bin", "fifo.bin", "huge.bin"}) {
        const std::string text = Gltf("\"nodes\":[{\"mesh\":0}]", name);
        std::ofstream(dir / "model" / "m.gltf") << text;
        models::Scene s;
        std::string why;
        const xfile::Result r = models::load((dir / "model" / "m.gltf").c_str(), s, &why);
        EXPECT_EQ(r == xfile::Result::Ok, std::string(name) == "b.bin") << name << ": " << why;
        EXPECT_EQ(models::parse(Bytes(text).data(), text.size(), s, &why), xfile::Result::BadFile);
    }
    fs::remove_all(dir);
}

} // namespace
