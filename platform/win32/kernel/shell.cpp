// ShellExecuteA "open": starts a program that lies directly in the mapped folder,
// never through a shell. The file name comes from the programs themselves, but a
// settings or model file must never be able to start anything else, so names
// with a path in them are refused outright.
#include "kernel_util.h"
#include "win32ext.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

HINSTANCE Result(intptr_t code) {
    return reinterpret_cast<HINSTANCE>(code);
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           win32k::EqualNoCase(text.substr(text.size() - suffix.size()), suffix);
}

// Words separated by blanks; double quotes group a word that holds blanks.
std::vector<std::string> SplitWords(const char* text) {
    std::vector<std::string> words;
    if (!text) return words;
    std::string word;
    bool inWord = false, quoted = false;
    for (const char* p = text; *p; ++p) {
        if (*p == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && win32k::IsBlank(*p)) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += *p;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

// The entry of folder named name, exactly or else without regard to case.
std::string FindEntry(const std::string& folder, const char* name) {
    struct stat st;
    std::string exact = folder + "/" + name;
    if (lstat(exact.c_str(), &st) == 0) return exact;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return std::string();
    std::string best;
    while (struct dirent* entry = readdir(dir))
        if (win32k::EqualNoCase(entry->d_name, name) && (best.empty() || best > entry->d_name))
            best = entry->d_name;
    closedir(dir);
    return best.empty() ? std::string() : folder + "/" + best;
}

// Between fork and exec only async-signal-safe calls: the settings program is
// multi-threaded, and any other call could deadlock on a lock another thread held.
[[noreturn]] void RunGrandchild(const char* folder, const char* path, char* const* argv,
                                int reportFd) {
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // Leave the new program only standard input, output and error (and the
    // report pipe, which closes itself on exec).
    if (reportFd > 3) close_range(3, unsigned(reportFd) - 1, 0);
    close_range(unsigned(reportFd) + 1, ~0U, 0);
    int err = 0;
    if (chdir(folder) != 0) err = errno;
    if (err == 0) {
        execv(path, argv);
        err = errno;
    }
    ssize_t ignored = write(reportFd, &err, sizeof err);
    (void)ignored;
    _exit(127);
}

} // namespace

HINSTANCE ShellExecuteA(HWND, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                        INT) {
    if (operation && !win32k::EqualNoCase(operation, "open")) return Result(SE_ERR_NOASSOC);
    if (!file || !*file) return Result(SE_ERR_FNF);
    if (strchr(file, '/') || strchr(file, '\\') || strstr(file, "..")) {
        win32k::Warn("ShellExecuteA: refused to start \"%s\": not a plain program name", file);
        return Result(SE_ERR_ACCESSDENIED);
    }
    // Without a folder, the programs' own folder: nothing else is searched.
    std::string folder = directory && *directory ? Win32MapPath(directory) : Win32ProgramDir();
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Result(SE_ERR_PNF);
    // Only the programs beside this one are ever started, whatever folder is named.
    struct stat own;
    if (stat(Win32ProgramDir().c_str(), &own) != 0 || own.st_dev != st.st_dev ||
        own.st_ino != st.st_ino) {
        win32k::Warn("ShellExecuteA: refused to start \"%s\" from %s: not the program folder", file,
                     folder.c_str());
        return Result(SE_ERR_ACCESSDENIED);
    }
    std::string path = FindEntry(folder, file);
    if (path.empty()) return Result(SE_ERR_FNF);
    if (stat(path.c_str(), &st) != 0) return Result(SE_ERR_FNF);
    if (!S_ISREG(st.st_mode) || access(path.c_str(), X_OK) != 0) {
        win32k::Warn("ShellExecuteA: %s is not an executable file", path.c_str());
        return Result(SE_ERR_ACCESSDENIED);
    }

    // A screensaver file opens the way the platform's association runs it.
    std::vector<std::string> words{path};
    if (EndsWithNoCase(file, ".scr")) {
        words.push_back("/S");
    } else {
        for (std::string& w : SplitWords(parameters))
            words.push_back(std::move(w));
    }
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    // The grandchild reports a failed exec through this pipe; a successful exec
    // closes it (O_CLOEXEC) and the parent reads end-of-file.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return Result(SE_ERR_OOM);
    pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return Result(SE_ERR_OOM);
    }
    if (child == 0) {
        // New session, then a second fork: the program is not our child, so it
        // neither needs reaping nor belongs to our terminal's job control.
        close(report[0]);
        setsid();
        pid_t grandchild = fork();
        if (grandchild == 0) RunGrandchild(folder.c_str(), path.c_str(), argv.data(), report[1]);
        if (grandchild < 0) {
            int err = errno;
            ssize_t ignored = write(report[1], &err, sizeof err);
            (void)ignored;
        }
        _exit(0);
    }
    close(report[1]);
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n;
    do {
        n = read(report[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    if (n == ssize_t(sizeof err)) {
        win32k::Warn("ShellExecuteA: cannot start %s: %s", path.c_str(), strerror(err));
        if (err == ENOENT) return Result(SE_ERR_FNF);
        if (err == ENOMEM || err == EAGAIN) return Result(SE_ERR_OOM);
        return Result(SE_ERR_ACCESSDENIED);
    }
    return Result(42); // any value above 32 means success
}
