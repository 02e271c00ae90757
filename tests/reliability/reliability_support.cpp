#include "reliability_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

void FreshFolders::SetUp() {
    char pattern[] = "/tmp/plumora-reliability-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    mkdir((root + "/config").c_str(), 0700);
    mkdir((root + "/config/plumora").c_str(), 0700);
    mkdir((root + "/runtime").c_str(), 0700);
    settings = root + "/config/plumora/Mirel.ini";
}

void FreshFolders::TearDown() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}
