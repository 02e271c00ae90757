// Shared by the reliability tests: a fresh settings and runtime folder per test,
// and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>

class FreshFolders : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/plumora-reliability-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        for (const char* folder : {"/config", "/config/plumora", "/runtime"})
            mkdir((root + folder).c_str(), 0700);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
        settings = root + "/config/plumora/Mirel.ini";
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    std::string root;     // temporary folder of this test
    std::string settings; // where the bare name "Mirel.ini" resolves to
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    EXPECT_TRUE((out << bytes).good()) << path;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
