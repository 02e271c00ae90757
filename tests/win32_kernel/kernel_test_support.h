// Shared fixture of the kernel stand-in tests: every test gets fresh XDG folders
// under a temporary root, so nothing touches the user's own configuration.
#pragma once

#include "win32ext.h"
#include "windows.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

class KernelTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string root;       // temporary folder of this test
    std::string configHome; // $XDG_CONFIG_HOME
    std::string runtimeDir; // $XDG_RUNTIME_DIR
    // Where the bare name "Mirel.ini" resolves to.
    std::string SettingsPath() const { return configHome + "/plumora/Mirel.ini"; }
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);
// Names in folder (without "." and "..").
std::vector<std::string> ListFolder(const std::string& folder);

// Runs body in a forked child and returns its exit status (body's result), or
// -1 when it died of a signal. The child never returns into the test runner.
int RunInChild(const std::function<int()>& body);

// In a forked child: give up root's right to write anywhere, so permission
// tests mean the same under root and a normal user.
void DropRootInChild();
