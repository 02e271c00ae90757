#include <xfile/xfile.h>

#include "parser.h"
#include "source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string_view>
#include <unordered_map>

namespace xfile {
namespace detail {
namespace {

struct Header {
    bool text, zip, doubles;
};

// The 16-byte header of a file of `size` bytes.
bool read_header(const uint8_t* data, size_t size, const Limits& limits, Header& h,
                 std::string& error) {
    if (size > limits.max_bytes) {
        error = "file of " + std::to_string(size) + " bytes, more than the limit of " +
                std::to_string(limits.max_bytes);
        return false;
    }
    if (size < 16 || std::memcmp(data, "xof ", 4) != 0) {
        error = "not a .x file (no \"xof \" header)";
        return false;
    }
    // Versions 3.2 and 3.3 share one syntax; what another version means is unknown.
    std::string_view version(reinterpret_cast<const char*>(data) + 4, 4);
    if (version != "0302" && version != "0303") {
        error = "unknown .x format version \"" + std::string(version) + "\"";
        return false;
    }
    std::string_view fmt(reinterpret_cast<const char*>(data) + 8, 4);
    std::string_view fsz(reinterpret_cast<const char*>(data) + 12, 4);
    if (fmt == "txt ")
        h.text = true, h.zip = false;
    else if (fmt == "bin ")
        h.text = false, h.zip = false;
    else if (fmt == "tzip")
        h.text = true, h.zip = true;
    else if (fmt == "bzip")
        h.text = false, h.zip = true;
    else {
        error = "unknown .x format \"" + std::string(fmt) + "\"";
        return false;
    }
    if (fsz == "0032")
        h.doubles = false;
    else if (fsz == "0064")
        h.doubles = true;
    else {
        error = "unknown float size \"" + std::string(fsz) + "\" in the .x header";
        return false;
    }
    return true;
}

Result parse_source(Source& src, const Header& h, Model& model, std::string& error,
                    const Limits& limits) {
    if (!src.open(error)) return Result::BadFile;
    const bool ok = read_objects(src, h.text, h.doubles, model, limits, error);
    if (!ok && error.empty()) error = "malformed file";
    return ok ? Result::Ok : Result::BadFile;
}

Result parse_body(const uint8_t* data, size_t size, Model& model, std::string& error,
                  const Limits& limits) {
    Header h;
    if (!read_header(data, size, limits, h, error)) return Result::BadFile;
    std::unique_ptr<Source> src =
        h.zip
            ? std::make_unique<Source>(data + 16, size - 16, limits.max_inflated, size_t(16) << 20)
            : std::make_unique<Source>(data + 16, size - 16);
    return parse_source(*src, h, model, error, limits);
}

size_t read_up_to(Input& in, uint8_t* dst, size_t n) {
    size_t have = 0;
    while (have < n) {
        const size_t got = in.read(dst + have, n - have);
        if (got == 0 || got > n - have) break;
        have += got;
    }
    return have;
}

// An uncompressed body straight from the input; anything else read whole, then parsed.
Result parse_input(Input& in, size_t size, Model& model, std::string& error, const Limits& limits) {
    uint8_t head[16];
    const size_t have = read_up_to(in, head, std::min<size_t>(size, 16));
    if (have < 16 && size <= limits.max_bytes) return parse_body(head, have, model, error, limits);
    Header h;
    if (!read_header(head, size, limits, h, error)) return Result::BadFile;
    if (!h.zip) {
        Source src(in, size - 16);
        return parse_source(src, h, model, error, limits);
    }
    // Not zero-filled first: every byte parsed has been read into.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
    std::memcpy(bytes.get(), head, 16);
    const size_t total = 16 + read_up_to(in, bytes.get() + 16, size - 16);
    return parse_body(bytes.get(), total, model, error, limits);
}

} // namespace
} // namespace detail

namespace {

// Runs a parse with its failures made one clean line and an empty model.
template <class F> Result guarded(Model& out, std::string* error, F parse) {
    out = Model{};
    std::string err;
    Result r;
    try {
        r = parse(err);
    } catch (const std::bad_alloc&) {
        err = "out of memory";
        r = Result::BadFile;
    } catch (...) {
        err = "internal error";
        r = Result::BadFile;
    }
    if (r != Result::Ok) {
        out = Model{};
        // One printable line, whatever names the file held.
        if (err.size() > 200) err.resize(200);
        for (char& c : err)
            if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) c = '?';
    }
    if (error) *error = r == Result::Ok ? std::string() : err;
    return r;
}

} // namespace

Result parse(const uint8_t* data, size_t size, Model& out, std::string* error,
             const Limits& limits) {
    return guarded(out, error, [&](std::string& err) {
        return detail::parse_body(data, size, out, err, limits);
    });
}

Result parse(Input& in, size_t size, Model& out, std::string* error, const Limits& limits) {
    return guarded(out, error, [&](std::string& err) {
        return detail::parse_input(in, size, out, err, limits);
    });
}

Result load(const char* path, Model& out, std::string* error, const Limits& limits) {
    out = Model{};
    auto fail = [&](Result r, const std::string& why) {
        if (error) *error = why;
        return r;
    };
    if (!path) return fail(Result::FileNotFound, "no file name");
    // Only regular files: opening a FIFO would wait for a writer, a device may never end.
    std::error_code ec;
    auto st = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::is_directory(st))
        return fail(Result::FileNotFound, std::string(path) + " is a folder, not a file");
    if (!ec && std::filesystem::exists(st) && !std::filesystem::is_regular_file(st))
        return fail(Result::FileNotFound, std::string(path) + " is not a regular file");
    FILE* f = std::fopen(path, "rb");
    if (!f) return fail(Result::FileNotFound, std::string("can't open ") + path);
    long len = std::fseek(f, 0, SEEK_END) == 0 ? std::ftell(f) : -1;
    std::rewind(f);
    if (len > 0 && size_t(len) > limits.max_bytes) {
        std::fclose(f);
        return fail(Result::BadFile, std::string(path) + ": file of " + std::to_string(len) +
                                         " bytes, more than the limit");
    }
    struct FileInput final : Input {
        FILE* f;
        explicit FileInput(FILE* file) : f(file) {}
        size_t read(uint8_t* dst, size_t n) override { return std::fread(dst, 1, n, f); }
    } in(f);
    const Result r = parse(in, len > 0 ? size_t(len) : 0, out, error, limits);
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) {
        out = Model{};
        return fail(Result::FileNotFound, std::string("can't read ") + path);
    }
    return r;
}

} // namespace xfile
