#include "kernel_util.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <pwd.h>

namespace win32k {

void Warn(const char* format, ...) {
    char line[1024];
    int n = snprintf(line, sizeof line, "plumora: ");
    va_list args;
    va_start(args, format);
    int m = vsnprintf(line + n, sizeof line - n - 1, format, args);
    va_end(args);
    size_t len = size_t(n) + (m < 0 ? 0 : size_t(m));
    if (len > sizeof line - 2) len = sizeof line - 2;
    line[len++] = '\n';
    ssize_t r;
    do {
        r = write(STDERR_FILENO, line, len);
    } while (r < 0 && errno == EINTR);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string ConfigDir() {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/plumora";
    const char* home = getenv("HOME");
    std::string base;
    if (home && home[0] == '/') {
        base = home;
    } else {
        struct passwd* pw = getpwuid(getuid());
        base = (pw && pw->pw_dir) ? pw->pw_dir : "/tmp";
    }
    return base + "/.config/plumora";
}

bool MakeDirs(const std::string& path, unsigned mode) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace win32k
