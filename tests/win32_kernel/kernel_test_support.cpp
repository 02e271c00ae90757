#include "kernel_test_support.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

void KernelTest::SetUp() {
    char pattern[] = "/tmp/plumora-kernel-XXXXXX";
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

void KernelTest::TearDown() {
    Win32TestSetProgramDir(nullptr);
    Win32TestSetDebugSink(nullptr, nullptr);
    std::error_code ignored;
    // Restore write permission that a test took away before removing everything.
    for (auto it = std::filesystem::recursive_directory_iterator(root, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) chmod(it->path().c_str(), 0755);
    std::filesystem::remove_all(root, ignored);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (struct dirent* e = readdir(dir))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(dir);
    }
    return names;
}

int RunInChild(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void DropRootInChild() {
    if (geteuid() != 0) return;
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
}
