// The private-profile (INI) functions: the file around the text rules of
// profile_text.h. Finding the file, reading it within bounds, and writing it.
//
// Writes are atomic: the new content goes to a temporary file in the same folder
// which is synced and renamed over the old one, so a reader (which takes no lock)
// opens either the old file or the new one. Writers serialise on an advisory lock
// on a separate lock file held across read-modify-write; a temporary file left by
// a killed writer is simply overwritten by the next one, who holds the lock.
#include "kernel_util.h"
#include "profile_text.h"
#include "win32ext.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using win32k::Warn;

constexpr off_t kMaxProfileSize = off_t(win32k::kMaxProfileSize);

// ---- Locating the file ------------------------------------------------------

struct ProfilePath {
    std::string file;
    bool inConfigDir = false; // bare name: the folder is ours to create
};

std::optional<ProfilePath> ResolvePath(const char* fileName) {
    if (!fileName || !*fileName) return std::nullopt;
    std::string_view name = fileName;
    bool drive = name.size() >= 2 && name[1] == ':';
    if (drive || name.find('\\') != std::string_view::npos)
        return ProfilePath{Win32MapPath(fileName), false};
    if (name.find('/') != std::string_view::npos) return ProfilePath{std::string(name), false};
    return ProfilePath{win32k::ConfigDir() + "/" + std::string(name), true};
}

std::string FolderOf(const std::string& file) {
    size_t slash = file.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return file.substr(0, slash);
}

std::string BaseNameOf(const std::string& file) {
    size_t slash = file.find_last_of('/');
    return slash == std::string::npos ? file : file.substr(slash + 1);
}

// ---- Reading the bytes ------------------------------------------------------

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadWhole(const std::string& path, std::string& out, struct stat* info) {
    out.clear();
    // O_NONBLOCK: a FIFO in the file's place must not hang the reader.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return ReadResult::Missing;
        Warn("cannot read settings file %s: %s", path.c_str(), strerror(errno));
        return ReadResult::Failed;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Warn("cannot read settings file %s: not a regular file", path.c_str());
        close(fd);
        return ReadResult::Failed;
    }
    if (st.st_size > kMaxProfileSize) {
        Warn("settings file %s is larger than %ld bytes; not used", path.c_str(),
             long(kMaxProfileSize));
        close(fd);
        return ReadResult::Failed;
    }
    if (info) *info = st;
    // Read to the end, but never past the bound, whatever fstat said.
    char chunk[8192];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            Warn("cannot read settings file %s: %s", path.c_str(), strerror(errno));
            close(fd);
            return ReadResult::Failed;
        }
        if (n == 0) break;
        out.append(chunk, size_t(n));
        if (out.size() > size_t(kMaxProfileSize)) {
            Warn("settings file %s is larger than %ld bytes; not used", path.c_str(),
                 long(kMaxProfileSize));
            close(fd);
            return ReadResult::Failed;
        }
    }
    close(fd);
    return ReadResult::Ok;
}

// The whole text of the named file; false when it is absent or unreadable.
bool ReadProfile(LPCSTR fileName, std::string& text) {
    auto path = ResolvePath(fileName);
    return path && ReadWhole(path->file, text, nullptr) == ReadResult::Ok;
}

// ---- Reading values ---------------------------------------------------------

// Copies text into the caller's buffer the platform's way: at most size - 1
// characters and a terminating NUL; returns the number copied.
DWORD CopyOut(std::string_view text, LPSTR buffer, DWORD size) {
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return DWORD(n);
}

using Names = std::vector<std::string_view>;

// A list of NUL-terminated names ending in an extra NUL. When it does not fit,
// the platform cuts it, keeps both final NULs and returns size - 2.
DWORD CopyList(const Names& names, LPSTR buffer, DWORD size) {
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    size_t pos = 0;
    for (std::string_view name : names) {
        if (pos + name.size() + 1 > size - 1) {
            size_t room = size - 2 - pos;
            memcpy(buffer + pos, name.data(), room);
            buffer[size - 2] = '\0';
            buffer[size - 1] = '\0';
            return size - 2;
        }
        memcpy(buffer + pos, name.data(), name.size());
        pos += name.size();
        buffer[pos++] = '\0';
    }
    buffer[pos] = '\0';
    return DWORD(pos == 0 ? 0 : pos);
}

// ---- Writing ----------------------------------------------------------------

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

// Replaces target with data atomically. The caller holds the writers' lock.
// The data is synced before the rename, so even a power cut leaves a whole file,
// old or new. The folder is not synced: that would only decide which of the two
// survives, and at about 10 ms per sync it would double the cost of every slider
// step in the settings program.
bool ReplaceFile(const std::string& target, const std::string& data, mode_t mode) {
    std::string folder = FolderOf(target);
    std::string temp = folder + "/." + BaseNameOf(target) + ".tmp";
    // Under the writers' lock any file of that name was left by a killed writer.
    unlink(temp.c_str());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        Warn("cannot write settings file %s: %s; left unchanged", target.c_str(), strerror(errno));
        return false;
    }
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, data) && fsync(fd) == 0;
    int savedErrno = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        Warn("cannot write settings file %s: %s; left unchanged", target.c_str(),
             strerror(savedErrno));
        return false;
    }
    return true;
}

} // namespace

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) {
    std::string text;
    if (!section || !key || !ReadProfile(fileName, text)) return UINT(defaultValue);
    return UINT(win32k::ProfileInt(text, section, key, defaultValue));
}

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                               DWORD size, LPCSTR fileName) {
    if (!buffer || size == 0) return 0;
    if (!defaultValue) defaultValue = "";

    std::string text;
    const bool read = ReadProfile(fileName, text);
    // No section: the section names; no key: the section's key names.
    if (!section) return CopyList(read ? win32k::ProfileSectionNames(text) : Names(), buffer, size);
    if (!key)
        return CopyList(read ? win32k::ProfileKeyNames(text, section) : Names(), buffer, size);

    const auto value = read ? win32k::ProfileValue(text, section, key) : std::nullopt;
    return CopyOut(value ? *value : std::string_view(defaultValue), buffer, size);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
    auto path = ResolvePath(fileName);
    if (!path || !section) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    // Names and values must not be able to start lines of their own: a value
    // with a line break could otherwise plant keys or sections in the file.
    if (win32k::BreaksProfileLines(section, key, value)) {
        Warn("refused to write settings file %s: name or value would break its lines",
             path->file.c_str());
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }

    if (path->inConfigDir && !win32k::MakeDirs(FolderOf(path->file), 0700)) {
        Warn("cannot create settings folder %s: %s", FolderOf(path->file).c_str(), strerror(errno));
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }

    // Replace a symbolic link's target, not the link.
    std::string target = path->file;
    struct stat linkInfo;
    if (lstat(target.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(target.c_str(), resolved)) target = resolved;
    }

    std::string lockPath = FolderOf(target) + "/." + BaseNameOf(target) + ".lock";
    int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0) {
        Warn("cannot write settings file %s: %s; left unchanged", target.c_str(), strerror(errno));
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    int r;
    do {
        r = flock(lockFd, LOCK_EX);
    } while (r != 0 && errno == EINTR);

    BOOL result = FALSE;
    std::string text;
    struct stat info;
    ReadResult read = ReadWhole(target, text, &info);
    if (read == ReadResult::Failed) {
        Warn("settings file %s not written, to keep what it holds", target.c_str());
        SetLastError(ERROR_ACCESS_DENIED);
    } else if (read == ReadResult::Ok && access(target.c_str(), W_OK) != 0) {
        // A read-only settings file stays as it is, as on the platform, even
        // though the folder would let us replace it.
        Warn("settings file %s is read-only; not written", target.c_str());
        SetLastError(ERROR_ACCESS_DENIED);
    } else {
        mode_t mode = read == ReadResult::Ok ? (info.st_mode & 07777) : 0600;
        if (read == ReadResult::Missing && (!key || !value)) {
            result = TRUE; // nothing to delete
        } else if (!win32k::EditProfileText(text, section, key, value)) {
            result = TRUE; // already as asked
        } else if (text.size() > size_t(kMaxProfileSize)) {
            Warn("settings file %s would exceed %ld bytes; not written", target.c_str(),
                 long(kMaxProfileSize));
            SetLastError(ERROR_ACCESS_DENIED);
        } else if (ReplaceFile(target, text, mode)) {
            result = TRUE;
        } else {
            SetLastError(ERROR_ACCESS_DENIED);
        }
    }
    close(lockFd); // drops the lock
    return result;
}
