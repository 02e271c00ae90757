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

} // namespace

xfile::Result load_model(const char* path, xfile::Model& out, std::string* error,
                         const xfile::Limits& limits) {
    out = xfile::Model{};
    std::string err;
    auto fail = [&](xfile::Result r) {
        out = xfile::Model{};
        detail::one_line(err);
        if (error) *error = err;
        return r;
    };
    if (path && x_file(path)) {
        const xfile::Result r = xfile::load(path, out, &err, limits);
        if (r != xfile::Result::Ok) return fail(r);
        if (error) error->clear();
        return r;
    }
    detail::Bytes bytes;
    xfile::Result r = detail::read_file(path, limits.max_bytes, bytes, err);
    if (r != xfile::Result::Ok) return fail(r);
    if (detect(bytes.data.get(), bytes.size) == Format::X)
        return xfile::parse(bytes.data.get(), bytes.size, out, error, limits);
    Scene scene;
    r = parse(bytes.data.get(), bytes.size, scene, &err, limits, detail::folder_reader(path));
    if (r != xfile::Result::Ok) return fail(r);
    bytes = detail::Bytes{};
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

} // namespace models
