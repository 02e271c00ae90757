// Named mutex over flock(2). The lock stands for the named object's existence:
// it is held while the creating handle is open, so a later CreateMutexA of the
// same name (from any process, this one included) reports ERROR_ALREADY_EXISTS.
// The kernel drops the lock when the holder dies, so a crashed saver never
// blocks the next one. A scoped name (one per host window) would leave a file
// per window behind, so its holder removes the file when it ends.
#include "kernel_util.h"
#include "win32ext.h"
#include "windows.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace {

struct MutexObject {
    int fd = -1;            // lock file, holding the flock when created here; -1 otherwise
    bool owned = false;     // ownership in the platform's sense (released by ReleaseMutex)
    std::string scopedPath; // removed with the lock (scoped names only)
};

std::mutex g_handlesLock;
std::unordered_set<MutexObject*> g_handles;
std::string g_scope;
std::vector<std::string> g_scopedFiles; // held by this process, removed at its end

void RemoveScopedFiles() {
    std::lock_guard<std::mutex> hold(g_handlesLock);
    for (const std::string& path : g_scopedFiles)
        unlink(path.c_str());
    g_scopedFiles.clear();
}

// Whether the open file is still the one the path names (a holder ending
// removes its file, maybe after another process opened it).
bool StillNamed(int fd, const std::string& path) {
    struct stat held, named;
    return fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

MutexObject* Lookup(HANDLE handle) {
    std::lock_guard<std::mutex> hold(g_handlesLock);
    auto it = g_handles.find(static_cast<MutexObject*>(handle));
    return it == g_handles.end() ? nullptr : *it;
}

std::string LockPath(const char* name) {
    // Slashes and backslashes ("Global\\x") cannot be part of a file name.
    std::string safe;
    for (const char* p = name; *p; ++p)
        safe += (*p == '/' || *p == '\\') ? '_' : *p;
    {
        std::lock_guard<std::mutex> hold(g_handlesLock);
        if (!g_scope.empty()) safe += "@" + g_scope;
    }
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/" + safe + ".lock";
    return "/tmp/" + safe + "-" + std::to_string(getuid()) + ".lock";
}

HANDLE Register(MutexObject* object) {
    std::lock_guard<std::mutex> hold(g_handlesLock);
    g_handles.insert(object);
    return object;
}

} // namespace

HANDLE CreateMutexA(LPVOID, BOOL initialOwner, LPCSTR name) {
    auto* object = new MutexObject;
    if (!name || !*name) {
        object->owned = initialOwner != FALSE;
        SetLastError(ERROR_SUCCESS);
        return Register(object);
    }
    std::string path = LockPath(name);
    int fd = -1, r = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // O_NOFOLLOW: in /tmp someone else could plant a symlink under our name.
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            win32k::Warn("CreateMutexA: cannot open %s: %s", path.c_str(), strerror(errno));
            delete object;
            SetLastError(errno == EACCES || errno == ELOOP ? ERROR_ACCESS_DENIED
                                                           : ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
        do {
            r = flock(fd, LOCK_EX | LOCK_NB);
        } while (r != 0 && errno == EINTR);
        if (r != 0 || attempt == 2 || StillNamed(fd, path)) break;
        close(fd); // locked a file its holder had just removed: take the new one
    }
    if (r != 0) {
        close(fd);
        if (errno != EWOULDBLOCK) {
            win32k::Warn("CreateMutexA: cannot lock %s: %s", path.c_str(), strerror(errno));
            delete object;
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        // Another holder exists: a handle to the existing object, not owned.
        Register(object);
        SetLastError(ERROR_ALREADY_EXISTS);
        return object;
    }
    object->fd = fd;
    object->owned = initialOwner != FALSE;
    {
        std::lock_guard<std::mutex> hold(g_handlesLock);
        if (!g_scope.empty()) {
            object->scopedPath = path;
            g_scopedFiles.push_back(path);
        }
    }
    SetLastError(ERROR_SUCCESS);
    return Register(object);
}

BOOL ReleaseMutex(HANDLE handle) {
    MutexObject* object = Lookup(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!object->owned) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    object->owned = false;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    MutexObject* object;
    {
        std::lock_guard<std::mutex> hold(g_handlesLock);
        auto it = g_handles.find(static_cast<MutexObject*>(handle));
        if (it == g_handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = *it;
        g_handles.erase(it);
    }
    if (!object->scopedPath.empty()) {
        std::lock_guard<std::mutex> hold(g_handlesLock);
        unlink(object->scopedPath.c_str());
        std::erase(g_scopedFiles, object->scopedPath);
    }
    if (object->fd >= 0) close(object->fd); // drops the flock
    delete object;
    return TRUE;
}

void Win32SetObjectScope(const char* scope) {
    static const bool registered = std::atexit(RemoveScopedFiles) == 0;
    (void)registered;
    std::lock_guard<std::mutex> hold(g_handlesLock);
    g_scope.clear();
    // The scope becomes part of a file name.
    for (const char* p = scope; p && *p; ++p)
        g_scope += (*p == '/' || *p == '\\') ? '_' : *p;
}
