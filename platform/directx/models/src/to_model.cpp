// The whole loading path of a model file: .x through the .x reader, the other formats through
// their readers and the shared mesh finishing.
#include "readers.h"

#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace models {
namespace {

// A regular file that opens as a .x file: the .x reader reads it as it parses, never whole.
bool x_file(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    char head[4];
    const bool x = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::read(fd, head, 4) == 4 &&
                   std::memcmp(head, "xof ", 4) == 0;
    ::close(fd);
    return x;
}

// Bytes to a Model. `release` drops the file's bytes once the readers are done with them, so
// that they and the finished model are never held at once.
xfile::Result to_model(const uint8_t* data, size_t size, xfile::Model& out, std::string* error,
                       const xfile::Limits& limits, const BufferReader& buffers,
                       const std::function<void()>& release) {
    out = xfile::Model{};
    if (detect(data, size) == Format::X) return xfile::parse(data, size, out, error, limits);
    std::string err;
    auto fail = [&](xfile::Result r) {
        out = xfile::Model{};
        detail::one_line(err);
        if (error) *error = err;
        return r;
    };
    Scene scene;
    const xfile::Result r = parse(data, size, scene, &err, limits, buffers);
    if (r != xfile::Result::Ok) return fail(r);
    if (release) release();
    try {
        size_t dropped = 0;
        for (Part& part : scene.parts)
            if (!xfile::append_mesh(part.mesh, part.placement(), out, &dropped, &err))
                return fail(xfile::Result::BadFile);
    } catch (const std::bad_alloc&) {
        err = "out of memory";
        return fail(xfile::Result::BadFile);
    }
    if (out.triangles.empty()) {
        err = std::string(format_name(scene.format)) + " file whose faces all name missing data";
        return fail(xfile::Result::BadFile);
    }
    if (error) error->clear();
    return xfile::Result::Ok;
}

} // namespace

xfile::Result parse_model(const uint8_t* data, size_t size, xfile::Model& out, std::string* error,
                          const xfile::Limits& limits, const BufferReader& buffers) {
    return to_model(data, size, out, error, limits, buffers, {});
}

xfile::Result load_model(const char* path, xfile::Model& out, std::string* error,
                         const xfile::Limits& limits) {
    out = xfile::Model{};
    if (path && x_file(path)) return xfile::load(path, out, error, limits);
    std::string err;
    detail::Bytes bytes;
    const xfile::Result r = detail::read_file(path, limits.max_bytes, bytes, err);
    if (r != xfile::Result::Ok) {
        detail::one_line(err);
        if (error) *error = err;
        return r;
    }
    return to_model(bytes.data.get(), bytes.size, out, error, limits, detail::folder_reader(path),
                    [&bytes] { bytes = detail::Bytes{}; });
}

} // namespace models
