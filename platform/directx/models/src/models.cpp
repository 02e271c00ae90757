#include "readers.h"
#include "text.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <cerrno>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace models {
namespace detail {
namespace {

bool starts_with(const uint8_t* d, size_t n, const char* s) {
    const size_t k = std::strlen(s);
    return n >= k && std::memcmp(d, s, k) == 0;
}

// OBJ's statements as they open a file: the first line that isn't blank or a comment.
bool obj_statement(Text t) {
    static const char* const kws[] = {"v", "vn", "vt", "vp", "f",      "o",
                                      "g", "s",  "l",  "p",  "usemtl", "mtllib"};
    for (;;) {
        t.skip_space();
        if (t.end()) return false;
        if (*t.p != '#') break;
        t.next_line();
    }
    const std::string_view w = t.word();
    for (const char* kw : kws)
        if (w == kw) return true;
    return false;
}

} // namespace

xfile::Result read_file(const char* path, size_t max_bytes, Bytes& out, std::string& error) {
    using xfile::Result;
    out = Bytes{};
    if (!path) {
        error = "no file name";
        return Result::FileNotFound;
    }
    // Non-blocking, so that a FIFO named as a model can't wait for a writer.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = std::string("can't open ") + path;
        return Result::FileNotFound;
    }
    struct stat st {};
    Result r = Result::Ok;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error =
            std::string(path) + (S_ISDIR(st.st_mode) ? " is a folder" : " is not a regular file");
        r = Result::FileNotFound;
    } else if (uint64_t(st.st_size) > max_bytes) {
        error = std::string(path) + ": file of " + std::to_string(st.st_size) +
                " bytes, more than the limit of " + std::to_string(max_bytes);
        r = Result::BadFile;
    } else {
        // What the file held when opened; not zero-filled first, as every byte used is read.
        out.data.reset(new (std::nothrow) uint8_t[size_t(st.st_size) + 1]);
        if (!out.data) {
            error = std::string(path) + ": out of memory";
            r = Result::BadFile;
        }
        while (r == Result::Ok && out.size < size_t(st.st_size)) {
            const ssize_t n = ::read(fd, out.data.get() + out.size, size_t(st.st_size) - out.size);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error = std::string("can't read ") + path;
                r = Result::FileNotFound;
            }
            if (n <= 0) break;
            out.size += size_t(n);
        }
    }
    ::close(fd);
    if (r != Result::Ok) out = Bytes{};
    return r;
}

void one_line(std::string& s) {
    if (s.size() > 200) s.resize(200);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) c = '?';
}

// External glTF buffers come from the model's folder or below, after links are resolved.
BufferReader folder_reader(const char* path) {
    namespace fs = std::filesystem;
    return [folder = fs::path(path).parent_path()](const std::string& name, size_t max_bytes,
                                                   std::vector<uint8_t>& out, std::string& error) {
        std::error_code ec;
        const fs::path base = fs::canonical(folder.empty() ? fs::path(".") : folder, ec);
        const fs::path target = ec ? fs::path() : fs::canonical(base / name, ec);
        if (ec) {
            error = "not found";
            return false;
        }
        auto b = base.begin(), t = target.begin();
        for (; b != base.end(); ++b, ++t)
            if (t == target.end() || *t != *b) {
                error = "leads outside the model's folder";
                return false;
            }
        Bytes bytes;
        if (read_file(target.c_str(), max_bytes, bytes, error) != xfile::Result::Ok) return false;
        out.assign(bytes.data.get(), bytes.data.get() + bytes.size);
        return true;
    };
}

} // namespace detail

Format detect(const uint8_t* data, size_t size) {
    using detail::starts_with;
    if (starts_with(data, size, "xof ")) return Format::X;
    if (starts_with(data, size, "glTF")) return Format::Glb;
    if (size >= 84) {
        uint32_t n = uint32_t(data[80]) | uint32_t(data[81]) << 8 | uint32_t(data[82]) << 16 |
                     uint32_t(data[83]) << 24;
        if ((size - 84) % 50 == 0 && (size - 84) / 50 == n) return Format::StlBinary;
    }
    detail::Text t(data, size);
    if (t.left() >= 3 && std::string_view(t.p, 3) == "ply") {
        detail::Text rest = t;
        rest.p += 3;
        rest.skip_blanks();
        if (rest.end() || *rest.p == '\n' || *rest.p == '\r') return Format::Ply;
    }
    t.skip_space();
    if (!t.end() && *t.p == '{')
        return std::string_view(t.p, t.left()).find("\"asset\"") != std::string_view::npos
                   ? Format::Gltf
                   : Format::Unknown;
    if (t.left() >= 5 && detail::iequals(std::string_view(t.p, 5), "solid") &&
        (t.left() == 5 || detail::is_space(t.p[5])))
        return Format::StlAscii;
    if (detail::obj_statement(t)) return Format::Obj;
    return Format::Unknown;
}

const char* format_name(Format format) {
    switch (format) {
    case Format::X:
        return ".x";
    case Format::Obj:
        return "OBJ";
    case Format::StlAscii:
        return "ASCII STL";
    case Format::StlBinary:
        return "binary STL";
    case Format::Ply:
        return "PLY";
    case Format::Gltf:
        return "glTF";
    case Format::Glb:
        return "binary glTF";
    case Format::Unknown:
        break;
    }
    return "unknown";
}

xfile::Result parse(const uint8_t* data, size_t size, Scene& out, std::string* error,
                    const xfile::Limits& limits, const BufferReader& buffers) {
    out = Scene{};
    std::string err;
    bool ok = false;
    if (size > limits.max_bytes) {
        err = "file of " + std::to_string(size) + " bytes, more than the limit of " +
              std::to_string(limits.max_bytes);
    } else {
        out.format = detect(data, size);
        detail::Input in{data, size, limits, err};
        try {
            switch (out.format) {
            case Format::Obj:
                ok = detail::read_obj(in, out);
                break;
            case Format::StlAscii:
                ok = detail::read_stl_ascii(in, out);
                break;
            case Format::StlBinary:
                ok = detail::read_stl_binary(in, out);
                break;
            case Format::Ply:
                ok = detail::read_ply(in, out);
                break;
            case Format::Gltf:
                ok = detail::read_gltf(in, false, buffers, out);
                break;
            case Format::Glb:
                ok = detail::read_gltf(in, true, buffers, out);
                break;
            case Format::X:
                err = "a .x file, read by the .x reader";
                break;
            case Format::Unknown:
                err = "not a model file: neither .x, OBJ, STL, PLY nor glTF";
                break;
            }
        } catch (const std::bad_alloc&) {
            err = "out of memory";
            ok = false;
        } catch (...) {
            err = "internal error";
            ok = false;
        }
    }
    if (!ok) {
        out = Scene{};
        if (err.empty()) err = "malformed file";
        detail::one_line(err);
    }
    if (error) *error = ok ? std::string() : err;
    return ok ? xfile::Result::Ok : xfile::Result::BadFile;
}

xfile::Result load(const char* path, Scene& out, std::string* error, const xfile::Limits& limits) {
    out = Scene{};
    detail::Bytes bytes;
    std::string err;
    const xfile::Result r = detail::read_file(path, limits.max_bytes, bytes, err);
    if (r != xfile::Result::Ok) {
        detail::one_line(err);
        if (error) *error = err;
        return r;
    }
    return parse(bytes.data.get(), bytes.size, out, error, limits, detail::folder_reader(path));
}

} // namespace models
