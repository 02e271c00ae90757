// Shared by the reliability tests: a fresh settings and runtime folder per test,
// and small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <string>

class FreshFolders : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string root;     // temporary folder of this test
    std::string settings; // where the bare name "Mirel.ini" resolves to
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);
