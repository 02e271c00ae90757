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

Result parse_body(const uint8_t* data, size_t size, Model& model, std::string& error,
                  const Limits& limits) {
    if (size > limits.max_bytes) {
        error = "file of " + std::to_string(size) + " bytes, more than the limit of " +
                std::to_string(limits.max_bytes);
        return Result::BadFile;
    }
    if (size < 16 || std::memcmp(data, "xof ", 4) != 0) {
        error = "not a .x file (no \"xof \" header)";
        return Result::BadFile;
    }
    // Versions 3.2 and 3.3 share one syntax; what another version means is unknown.
    std::string_view version(reinterpret_cast<const char*>(data) + 4, 4);
    if (version != "0302" && version != "0303") {
        error = "unknown .x format version \"" + std::string(version) + "\"";
        return Result::BadFile;
    }
    std::string_view fmt(reinterpret_cast<const char*>(data) + 8, 4);
    std::string_view fsz(reinterpret_cast<const char*>(data) + 12, 4);
    bool text, zip;
    if (fmt == "txt ")
        text = true, zip = false;
    else if (fmt == "bin ")
        text = false, zip = false;
    else if (fmt == "tzip")
        text = true, zip = true;
    else if (fmt == "bzip")
        text = false, zip = true;
    else {
        error = "unknown .x format \"" + std::string(fmt) + "\"";
        return Result::BadFile;
    }
    bool doubles;
    if (fsz == "0032")
        doubles = false;
    else if (fsz == "0064")
        doubles = true;
    else {
        error = "unknown float size \"" + std::string(fsz) + "\" in the .x header";
        return Result::BadFile;
    }
    std::unique_ptr<Source> src =
        zip ? std::make_unique<Source>(data + 16, size - 16, limits.max_inflated, size_t(16) << 20)
            : std::make_unique<Source>(data + 16, size - 16);
    if (!src->open(error)) return Result::BadFile;
    const bool ok = read_objects(*src, text, doubles, model, limits, error);
    if (!ok && error.empty()) error = "malformed file";
    return ok ? Result::Ok : Result::BadFile;
}

} // namespace
} // namespace detail

Result parse(const uint8_t* data, size_t size, Model& out, std::string* error,
             const Limits& limits) {
    out = Model{};
    std::string err;
    Result r;
    try {
        r = detail::parse_body(data, size, out, err, limits);
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

namespace {

enum class Read { Ok, TooLarge, NoMemory };

// Reads the rest of the file: one read of the size it had, then chunks for whatever it grew by
// since. The buffer is not zero-filled first: every byte parsed has been read into.
Read read_all(FILE* f, size_t size, size_t max_bytes, std::unique_ptr<uint8_t[]>& bytes,
              size_t& have) {
    try {
        bytes.reset(new uint8_t[size]);
        for (;;) {
            have += std::fread(bytes.get() + have, 1, size - have, f);
            if (have < size) return Read::Ok;
            uint8_t extra; // full: grow only if the file really goes on
            if (std::fread(&extra, 1, 1, f) == 0) return Read::Ok;
            if (have >= max_bytes) return Read::TooLarge;
            size = std::min(max_bytes, std::max<size_t>(have * 2, 65536));
            std::unique_ptr<uint8_t[]> grown(new uint8_t[size]);
            std::memcpy(grown.get(), bytes.get(), have);
            bytes = std::move(grown);
            bytes[have++] = extra;
        }
    } catch (const std::bad_alloc&) {
        return Read::NoMemory;
    }
}

} // namespace

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
    std::unique_ptr<uint8_t[]> bytes;
    size_t have = 0;
    const Read r = read_all(f, len > 0 ? size_t(len) : 65536, limits.max_bytes, bytes, have);
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (r == Read::TooLarge)
        return fail(Result::BadFile, std::string(path) + ": file larger than the limit");
    if (r == Read::NoMemory) return fail(Result::BadFile, std::string(path) + ": out of memory");
    if (bad) return fail(Result::FileNotFound, std::string("can't read ") + path);
    return parse(bytes.get(), have, out, error, limits);
}

} // namespace xfile
