// Private-profile (INI) files with the platform's reading rules, and writes that
// keep every byte of the file they do not change.
//
// Writes are atomic: the new content goes to a temporary file in the same folder
// which is synced and renamed over the old one, so a reader (which takes no lock)
// opens either the old file or the new one. Writers serialise on an advisory lock
// on a separate lock file held across read-modify-write; a temporary file left by
// a killed writer is simply overwritten by the next one, who holds the lock.
#include "kernel_util.h"
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

using win32k::EqualNoCase;
using win32k::TrimBlanks;
using win32k::Warn;

// A settings file is a few hundred bytes; anything this large is not one, and
// reading it whole on every call would be unbounded work.
constexpr off_t kMaxProfileSize = 1 << 20;

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

// ---- Parsing ----------------------------------------------------------------

enum class LineKind { Other, Section, Key };

struct Line {
    size_t begin = 0; // first byte of the line's text
    size_t end = 0;   // one past its text, before the line end
    size_t next = 0;  // start of the following line (after "\n" or "\r\n")
    LineKind kind = LineKind::Other;
    std::string_view name; // section or key name, trimmed
    size_t valueBegin = 0; // key lines: the value after '=' and its leading blanks
};

struct Parsed {
    std::vector<Line> lines;
    const char* lineEnd = "\n"; // style of the file's first line end
};

Parsed Parse(std::string_view text) {
    Parsed parsed;
    bool styleKnown = false;
    size_t pos = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3; // UTF-8 byte-order mark
    while (pos < text.size()) {
        Line line;
        line.begin = pos;
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            line.end = line.next = text.size();
        } else {
            line.next = nl + 1;
            line.end = (nl > pos && text[nl - 1] == '\r') ? nl - 1 : nl;
            if (!styleKnown) {
                parsed.lineEnd = line.end < nl ? "\r\n" : "\n";
                styleKnown = true;
            }
        }
        std::string_view body = text.substr(line.begin, line.end - line.begin);
        std::string_view trimmed = TrimBlanks(body);
        if (!trimmed.empty() && trimmed[0] == '[') {
            size_t close = trimmed.rfind(']');
            if (close != std::string_view::npos) {
                line.kind = LineKind::Section;
                line.name = TrimBlanks(trimmed.substr(1, close - 1));
            }
        } else if (!trimmed.empty() && trimmed[0] != ';') {
            size_t eq = body.find('=');
            if (eq != std::string_view::npos) {
                std::string_view key = TrimBlanks(body.substr(0, eq));
                if (!key.empty()) {
                    line.kind = LineKind::Key;
                    line.name = key;
                    size_t v = line.begin + eq + 1;
                    while (v < line.end && win32k::IsBlank(text[v]))
                        ++v;
                    line.valueBegin = v;
                }
            }
        }
        parsed.lines.push_back(line);
        pos = line.next;
    }
    return parsed;
}

// Lines [first, last) of the first section with this name; nullopt when absent.
// Duplicate sections after the first are not consulted, as on the platform.
struct Range {
    size_t header, first, last;
};
std::optional<Range> FindSection(const Parsed& parsed, std::string_view section) {
    const auto& lines = parsed.lines;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != LineKind::Section || !EqualNoCase(lines[i].name, section)) continue;
        size_t j = i + 1;
        while (j < lines.size() && lines[j].kind != LineKind::Section)
            ++j;
        return Range{i, i + 1, j};
    }
    return std::nullopt;
}

std::optional<size_t> FindKey(const Parsed& parsed, const Range& range, std::string_view key) {
    for (size_t i = range.first; i < range.last; ++i)
        if (parsed.lines[i].kind == LineKind::Key && EqualNoCase(parsed.lines[i].name, key))
            return i;
    return std::nullopt;
}

// The value as read: trimmed, and without a pair of enclosing double quotes.
std::string_view ValueOf(std::string_view text, const Line& line) {
    std::string_view value = TrimBlanks(text.substr(line.valueBegin, line.end - line.valueBegin));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return value;
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

// A list of NUL-terminated names ending in an extra NUL. When it does not fit,
// the platform cuts it, keeps both final NULs and returns size - 2.
DWORD CopyList(const std::vector<std::string_view>& names, LPSTR buffer, DWORD size) {
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

// Looks the value up; false when the file, section or key is absent or unreadable.
bool LookUp(LPCSTR section, LPCSTR key, LPCSTR fileName, std::string& value) {
    auto path = ResolvePath(fileName);
    if (!path || !section || !key) return false;
    std::string text;
    if (ReadWhole(path->file, text, nullptr) != ReadResult::Ok) return false;
    Parsed parsed = Parse(text);
    auto range = FindSection(parsed, section);
    if (!range) return false;
    auto index = FindKey(parsed, *range, key);
    if (!index) return false;
    value = ValueOf(text, parsed.lines[*index]);
    return true;
}

// The platform's integer reading: leading blanks, an optional sign, then decimal
// digits up to the first other character; no digits reads as 0. Values beyond
// the int range saturate rather than wrap, so a huge speed clamps as "too fast".
int ParseProfileInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && win32k::IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 1LL + INT_MAX) value = 1LL + INT_MAX;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return int(value);
}

// ---- Writing ----------------------------------------------------------------

bool HasAny(const char* text, const char* forbidden) {
    return strpbrk(text, forbidden) != nullptr;
}

// Applies the change to text; returns false when nothing changes.
bool Edit(std::string& text, const char* section, const char* key, const char* value) {
    Parsed parsed = Parse(text);
    const std::string eol = parsed.lineEnd;
    auto range = FindSection(parsed, section);
    const auto& lines = parsed.lines;

    if (!key) { // delete the section with its keys and the lines between them
        if (!range) return false;
        size_t from = lines[range->header].begin;
        size_t to = range->last < lines.size() ? lines[range->last].begin : text.size();
        text.erase(from, to - from);
        return true;
    }

    if (!value) { // delete the key, duplicates included, so it then reads as absent
        if (!range) return false;
        bool changed = false;
        for (size_t i = range->last; i-- > range->first;) {
            if (lines[i].kind == LineKind::Key && EqualNoCase(lines[i].name, key)) {
                text.erase(lines[i].begin, lines[i].next - lines[i].begin);
                changed = true;
            }
        }
        return changed;
    }

    if (!range) { // a new section at the end
        std::string add;
        if (!text.empty() && text.back() != '\n') add += eol;
        add.append("[").append(section).append("]").append(eol);
        add.append(key).append("=").append(value).append(eol);
        text += add;
        return true;
    }

    if (auto index = FindKey(parsed, *range, key)) {
        // Replace only the value; the key's spelling and the blanks around '='
        // stay as the user wrote them.
        // A value that brings its own leading blanks replaces the ones there, or
        // every write of it would add more.
        const Line& line = lines[*index];
        size_t from = line.valueBegin;
        if (win32k::IsBlank(value[0]))
            while (from > line.begin && text[from - 1] != '=')
                --from;
        std::string_view old(text.data() + from, line.end - from);
        if (old == value) return false;
        text.replace(from, line.end - from, value);
        return true;
    }

    // A new key after the section's last non-blank line, so blank lines that
    // separate it from the next section stay where they are.
    size_t after = range->header;
    for (size_t i = range->first; i < range->last; ++i)
        if (!TrimBlanks(
                 std::string_view(text).substr(lines[i].begin, lines[i].end - lines[i].begin))
                 .empty())
            after = i;
    const Line& anchor = lines[after];
    std::string add = std::string(key) + "=" + value;
    if (anchor.next == anchor.end) // last line of a file without a final line end
        text.insert(anchor.end, eol + add);
    else
        text.insert(anchor.next, add + eol);
    return true;
}

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
    std::string value;
    // An empty value counts as absent, as on the platform.
    if (!LookUp(section, key, fileName, value) || value.empty()) return UINT(defaultValue);
    return UINT(ParseProfileInt(value));
}

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                               DWORD size, LPCSTR fileName) {
    if (!buffer || size == 0) return 0;
    if (!defaultValue) defaultValue = "";

    if (!section || !key) { // enumerate section names, or a section's key names
        auto path = ResolvePath(fileName);
        std::string text;
        if (!path || ReadWhole(path->file, text, nullptr) != ReadResult::Ok)
            return CopyList({}, buffer, size);
        Parsed parsed = Parse(text);
        std::vector<std::string_view> names;
        if (!section) {
            for (const Line& line : parsed.lines)
                if (line.kind == LineKind::Section) names.push_back(line.name);
        } else if (auto range = FindSection(parsed, section)) {
            for (size_t i = range->first; i < range->last; ++i)
                if (parsed.lines[i].kind == LineKind::Key) names.push_back(parsed.lines[i].name);
        }
        return CopyList(names, buffer, size);
    }

    std::string value;
    if (!LookUp(section, key, fileName, value)) return CopyOut(defaultValue, buffer, size);
    return CopyOut(value, buffer, size);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
    auto path = ResolvePath(fileName);
    if (!path || !section) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    // Names and values must not be able to start lines of their own: a value
    // with a line break could otherwise plant keys or sections in the file.
    if (HasAny(section, "\r\n[]") ||
        (key && (HasAny(key, "\r\n[]=") || key[0] == ';' || TrimBlanks(key).empty())) ||
        (value && HasAny(value, "\r\n"))) {
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
        } else if (!Edit(text, section, key, value)) {
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
