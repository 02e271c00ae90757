// Bounded resources: small model files that declare huge counts or nest
// without end fail cleanly, within a fixed memory budget and on a small stack,
// read the way the saver reads them (default limits, from a file).
#include <models/models.h>
#include <xfile/xfile.h>
#include <xfile/xwriter.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true; // reserves terabytes of shadow: no RLIMIT_AS
#else
constexpr bool kAddressSanitizer = false;
#endif

namespace {

constexpr long kBudgetKiB = 64 * 1024;       // peak memory growth allowed for one load
constexpr rlim_t kAddressSpace = 512u << 20; // hard cap for the whole child

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    memcpy(&b[at], &v, 4);
}

xfile::MeshDesc Triangle() {
    xfile::MeshDesc tri;
    tri.positions = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}};
    tri.faces = {{0, 1, 2}};
    return tri;
}

struct Outcome {
    bool exited = false; // the child ended normally, not by a signal
    int result = -1;     // xfile::Result
    long growthKiB = -1; // peak resident growth during the load
    char reason[200] = {};
};

// The mesh builder's loading path, for every format.
xfile::Result Load(const char* path, std::string* reason) {
    xfile::Model model;
    return models::load_model(path, model, reason);
}

// Loads the file in a child process on a small stack, with the address space capped
// where the build allows (a load that asks for too much then fails as out of
// memory), and reports how it went and what it cost.
Outcome LoadInChild(const std::string& path) {
    int pipeFd[2];
    EXPECT_EQ(pipe(pipeFd), 0);
    pid_t child = fork();
    if (child == 0) {
        struct rlimit lim = {kAddressSpace, kAddressSpace};
        if (!kAddressSanitizer) setrlimit(RLIMIT_AS, &lim);
        // A small stack: recursion per nesting level would overflow it long
        // before a million levels.
        struct rlimit stack = {256 << 10, 256 << 10};
        setrlimit(RLIMIT_STACK, &stack);
        Outcome out;
        struct rusage before, after;
        getrusage(RUSAGE_SELF, &before);
        std::string reason;
        out.result = int(Load(path.c_str(), &reason));
        getrusage(RUSAGE_SELF, &after);
        out.growthKiB = after.ru_maxrss - before.ru_maxrss;
        out.exited = true;
        snprintf(out.reason, sizeof out.reason, "%s", reason.c_str());
        _exit(write(pipeFd[1], &out, sizeof out) == ssize_t(sizeof out) ? 0 : 1);
    }
    close(pipeFd[1]);
    Outcome out;
    ssize_t n = read(pipeFd[0], &out, sizeof out);
    close(pipeFd[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (n != ssize_t(sizeof out) || !WIFEXITED(status)) out.exited = false;
    return out;
}

// The bytes, as a file of at least size bytes (a hole makes up the rest), fail as a bad
// file with a reason, without crashing and within the memory budget.
void ExpectBoundedFailure(const std::string& what, const std::vector<uint8_t>& bytes,
                          off_t size = 0) {
    SCOPED_TRACE(what);
    char name[] = "/tmp/reliability-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ASSERT_EQ(ftruncate(fd, std::max(size, off_t(bytes.size()))), 0);
    close(fd);
    Outcome out = LoadInChild(name);
    unlink(name);
    ASSERT_TRUE(out.exited) << "the load crashed";
    EXPECT_EQ(out.result, int(xfile::Result::BadFile)) << out.reason;
    EXPECT_EQ(strstr(out.reason, "out of memory"), nullptr) << out.reason;
    EXPECT_NE(out.reason[0], '\0');
    EXPECT_LT(out.growthKiB, kBudgetKiB) << out.reason;
}

TEST(BoundedResources, HugeDeclaredCountsFailWithinTheBudget) {
    const std::string mesh = "xof 0303txt 0032\nMesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; ";
    // (A billion vertices: XFileMalformed's tests.)
    const std::pair<const char*, std::string> texts[] = {
        {"faces", mesh + "1000000000; 3;0,1,2;; }"},
        {"face corners", mesh + "1; 1000000000;0,1,2;; }"},
        {"normals", mesh + "1; 3;0,1,2;; MeshNormals { 1000000000; 0;0;1;; 1; 3;0,0,0;; } }"},
        {"face materials", mesh + "1; 3;0,1,2;; MeshMaterialList { 1; 1000000000; 0;; } }"}};
    for (const auto& [what, text] : texts)
        ExpectBoundedFailure(std::string("a billion ") + what, Bytes(text));

    // Binary: the first list token's count claims a billion numbers.
    for (xfile::Format format : {xfile::Format::Binary32, xfile::Format::Binary64}) {
        std::vector<uint8_t> b = xfile::write(Triangle(), format);
        size_t i = 16;
        while (i + 6 <= b.size() && !((b[i] == 6 || b[i] == 7) && b[i + 1] == 0))
            ++i;
        ASSERT_LE(i + 6, b.size());
        Put32(b, i + 2, 1000000000u);
        ExpectBoundedFailure("a billion numbers in a binary list", b);
    }
    // Compressed: a body declared as nearly 4 GiB, and as 1 GiB, which is within
    // the inflate limit but must not be trusted either.
    std::vector<uint8_t> z = xfile::write(Triangle(), xfile::Format::BinaryZip);
    for (uint32_t declared : {0xfffffff0u, (1u << 30) - 16}) {
        Put32(z, 16, declared);
        ExpectBoundedFailure("a compressed body declared as " + std::to_string(declared), z);
    }
    // A file far beyond the reader's limit is never read whole. (FIFOs, devices and
    // folders as models: XFileRead's tests.)
    ExpectBoundedFailure("a 600 MiB file", Bytes("xof 0303txt 0032"), off_t(600) << 20);
}

// The same for the other formats: counts, lengths and sizes a few bytes declare.
TEST(BoundedResources, OtherFormatsDeclaringHugeCountsFailWithinTheBudget) {
    const std::string ply = "ply\nformat binary_little_endian 1.0\nelement vertex ";
    const std::string xyz = "property float x\nproperty float y\nproperty float z\n";
    const std::string gltf = "{\"asset\":{\"version\":\"2.0\"},\"nodes\":[{\"mesh\":0}],"
                             "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0}}]}],";
    auto accessor = [](const std::string& count) {
        return "\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":" + count +
               ",\"type\":\"VEC3\"}],\"bufferViews\":[{\"buffer\":0,\"byteLength\":36}],";
    };
    auto buffer = [](const std::string& length) { // holds 36 bytes
        return "\"buffers\":[{\"byteLength\":" + length + ",\"uri\":\"data:;base64," +
               std::string(48, 'A') + "\"}]}";
    };
    std::vector<uint8_t> stl(84 + 50, 0);
    Put32(stl, 80, 1000000000u);
    std::vector<uint8_t> glb = Bytes("glTF");
    glb.resize(28, 0);
    Put32(glb, 4, 2);
    Put32(glb, 8, 28);
    Put32(glb, 12, 0xfffffff0u); // the JSON chunk's length
    const std::pair<const char*, std::vector<uint8_t>> files[] = {
        {"PLY vertices", Bytes(ply + "1000000000\n" + xyz + "end_header\n\1\2\3\4")},
        {"PLY faces", Bytes("ply\nformat ascii 1.0\nelement vertex 3\n" + xyz +
                            "element face 1000000000\nproperty list uchar int vertex_indices\n"
                            "end_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n")},
        {"PLY corners", Bytes(ply + "3\n" + xyz +
                              "element face 1\nproperty list uint int "
                              "vertex_indices\nend_header\n" +
                              std::string(36, '\0') + "\xff\xff\xff\xff")},
        {"binary STL facets", stl},
        {"glTF accessor items", Bytes(gltf + accessor("1000000000") + buffer("36"))},
        {"glTF buffer bytes", Bytes(gltf + accessor("3") + buffer("4000000000"))},
        {"glTF container bytes", glb},
        {"glTF nesting", Bytes("{\"asset\":" + std::string(1000000, '[') + "}")},
    };
    for (const auto& [what, bytes] : files)
        ExpectBoundedFailure(std::string("huge ") + what, bytes);
}

// (Text nested past the limit: XFileMalformed's tests.)
TEST(BoundedResources, AMillionNestedFramesFailOnASmallStack) {
    // Binary: NAME "Frame" then OBRACE, a million times.
    std::vector<uint8_t> bin = Bytes("xof 0303bin 0032");
    const uint8_t level[] = {1, 0, 5, 0, 0, 0, 'F', 'r', 'a', 'm', 'e', 10, 0};
    for (int i = 0; i < 1000000; ++i)
        bin.insert(bin.end(), level, level + sizeof level);
    ExpectBoundedFailure("a million nested frames, binary", bin);

    // And compressed, where the nesting only appears after inflating: the
    // writer's frame list puts the mesh five thousand frames deep.
    xfile::MeshDesc tri = Triangle();
    tri.frames.assign(5000, xfile::Matrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    ExpectBoundedFailure("5000 nested frames, compressed",
                         xfile::write(tri, xfile::Format::TextZip));
}

} // namespace
