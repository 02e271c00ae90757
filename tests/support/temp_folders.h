// For tests that touch files: every test gets a temporary root with XDG folders
// of its own, so nothing reaches the user's configuration; and whole-file and
// child-process helpers.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class TempFolders : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/plumora-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        chmod(root.c_str(), 0755); // reachable by the unprivileged children of some tests
        configHome = root + "/config";
        runtimeDir = root + "/runtime";
        ASSERT_EQ(mkdir(configHome.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(runtimeDir.c_str(), 0700), 0);
        setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
    }
    void TearDown() override {
        namespace fs = std::filesystem;
        std::error_code ignored;
        // Give back the write permission a test took away, then remove everything.
        for (auto it = fs::recursive_directory_iterator(root, ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored))
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                chmod(it->path().c_str(), 0755);
        fs::remove_all(root, ignored);
    }
    // Where the bare name "Mirel.ini" resolves to, and its folder.
    std::string Folder() const { return configHome + "/plumora"; }
    std::string SettingsPath() const { return Folder() + "/Mirel.ini"; }

    std::string root, configHome, runtimeDir;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    EXPECT_TRUE((out << bytes).good()) << path;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Names in folder, without "." and "..".
inline std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
        names.push_back(entry.path().filename());
    return names;
}

// A settings write, finished or failed, leaves nothing but the file and its lock file.
inline void ExpectNoTemporaryFiles(const std::string& folder) {
    for (const std::string& name : ListFolder(folder))
        EXPECT_TRUE(name == "Mirel.ini" || name == ".Mirel.ini.lock") << name;
}

// Runs body in a forked child and returns its exit status (body's result), or -1
// when it died of a signal. The child never returns into the test runner.
inline int RunInChild(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// In a forked child: give up root's right to write anywhere, so permission tests
// mean the same under root and a normal user.
inline void DropRootInChild() {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
}
