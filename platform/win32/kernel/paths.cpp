// Windows-style paths on Linux. "C:\" is the folder above the program's folder
// and "C:\windows" the program's own folder, so the installed layout
// (windows/Plumora.scr, windows/Quenset.exe, XFile/parasol.x) works from the
// build tree and from an installation alike.
#include "kernel_util.h"
#include "win32ext.h"

#include <climits>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::mutex g_programDirLock;
std::string g_programDirOverride;

std::string ParentOf(const std::string& dir) {
    size_t slash = dir.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return dir.substr(0, slash);
}

std::string Join(const std::string& base, const std::string& name) {
    if (base.empty()) return name;
    if (base.back() == '/') return base + name;
    return base + "/" + name;
}

// The exact name if it exists, else the first (in byte order) entry of base
// whose name matches without regard to letter case, else the name unchanged.
std::string MatchComponent(const std::string& base, const std::string& name) {
    std::string exact = Join(base, name);
    struct stat st;
    if (name == "." || name == ".." || lstat(exact.c_str(), &st) == 0) return exact;
    DIR* dir = opendir(base.empty() ? "." : base.c_str());
    if (!dir) return exact;
    std::string best;
    while (struct dirent* entry = readdir(dir)) {
        if (win32k::EqualNoCase(entry->d_name, name) && (best.empty() || best > entry->d_name))
            best = entry->d_name;
    }
    closedir(dir);
    return best.empty() ? exact : Join(base, best);
}

} // namespace

void Win32TestSetProgramDir(const char* dir) {
    std::lock_guard<std::mutex> hold(g_programDirLock);
    g_programDirOverride = dir ? dir : "";
    while (g_programDirOverride.size() > 1 && g_programDirOverride.back() == '/')
        g_programDirOverride.pop_back();
}

std::string Win32ProgramDir() {
    {
        std::lock_guard<std::mutex> hold(g_programDirLock);
        if (!g_programDirOverride.empty()) return g_programDirOverride;
    }
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return ".";
    return ParentOf(std::string(exe, size_t(n)));
}

std::string Win32MapPath(const char* path) {
    if (!path) return std::string();
    if (path[0] == '/') return path;

    std::string_view rest = path;
    std::string base; // empty: relative to the current directory
    bool rooted = false;
    if (rest.size() >= 2 && rest[1] == ':' &&
        ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'))) {
        rest.remove_prefix(2);
        rooted = true;
    } else if (!rest.empty() && rest[0] == '\\') {
        rooted = true; // root of the current drive
    }

    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || rest[i] == '\\' || rest[i] == '/') {
            if (i > start) parts.emplace_back(rest.substr(start, i - start));
            start = i + 1;
        }
    }
    bool trailingSlash = !rest.empty() && (rest.back() == '\\' || rest.back() == '/');

    size_t first = 0;
    if (rooted) {
        std::string programDir = Win32ProgramDir();
        if (!parts.empty() && win32k::EqualNoCase(parts[0], "windows")) {
            base = programDir;
            first = 1;
        } else {
            base = ParentOf(programDir);
        }
    }
    for (size_t i = first; i < parts.size(); ++i)
        base = MatchComponent(base, parts[i]);
    if (base.empty()) base.push_back('.');
    if (trailingSlash && base.back() != '/') base += '/';
    return base;
}
