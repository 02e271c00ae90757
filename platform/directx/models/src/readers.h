// The readers behind models::parse. Each fills the scene or returns false with a one-line
// reason in `error`; the entry clears a partial scene.
#pragma once

#include <models/models.h>

#include <cmath>
#include <memory>
#include <string>

namespace models::detail {

struct Input {
    const uint8_t* data;
    size_t size;
    const xfile::Limits& limits;
    std::string& error;

    bool fail(const std::string& why) {
        if (error.empty()) error = why;
        return false;
    }
};

bool read_obj(Input& in, Scene& out);
bool read_stl_ascii(Input& in, Scene& out);
bool read_stl_binary(Input& in, Scene& out);
bool read_ply(Input& in, Scene& out);
bool read_gltf(Input& in, bool binary, const BufferReader& buffers, Scene& out);

struct Bytes {
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;
};

// Reads a whole regular file of at most max_bytes. FileNotFound when it can't be opened or
// isn't a regular file, BadFile when it is too large.
xfile::Result read_file(const char* path, size_t max_bytes, Bytes& out, std::string& error);

// Cuts a reason to one printable line, whatever names the file held.
void one_line(std::string& s);

// Reads external glTF buffers from the folder of the model at `path`.
BufferReader folder_reader(const char* path);

inline bool finite3(const xfile::Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

} // namespace models::detail
