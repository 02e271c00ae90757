// Writes a UV-sphere .x file (per-vertex normals, unit radius) of about N triangles
// to standard output; the one-line summary goes to standard error.
//
//   make_sphere --tris N --format text|bin|bin64|tzip|bzip [--out FILE]
#include "bench_util.h"

#include <xfile/xwriter.h>

#include <unistd.h>

int main(int argc, char** argv) {
    const bench::Args args(argc, argv,
                           "make_sphere --tris N --format text|bin|bin64|tzip|bzip [--out FILE]");
    const long tris = args.number("tris", 10000, 8, 50000000);
    const std::string name = args.get("format", "text");
    xfile::Format format;
    if (name == "text")
        format = xfile::Format::Text;
    else if (name == "bin")
        format = xfile::Format::Binary32;
    else if (name == "bin64")
        format = xfile::Format::Binary64;
    else if (name == "tzip")
        format = xfile::Format::TextZip;
    else if (name == "bzip")
        format = xfile::Format::BinaryZip;
    else
        args.fail(name.c_str());

    const xfile::MeshDesc sphere = xfile::make_uv_sphere(int(tris), 1.0f);
    const std::vector<uint8_t> bytes = xfile::write(sphere, format);
    const char* out = args.get("out", nullptr);
    if (out) {
        if (!xfile::save(out, bytes)) {
            std::fprintf(stderr, "make_sphere: cannot write '%s'\n", out);
            return 1;
        }
    } else {
        if (isatty(STDOUT_FILENO)) {
            std::fprintf(stderr, "make_sphere: refusing to write a model to a terminal\n");
            return 1;
        }
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                std::fprintf(stderr, "make_sphere: cannot write to standard output\n");
                return 1;
            }
            done += size_t(n);
        }
    }
    std::fprintf(stderr, "format=%s tris=%zu vertices=%zu bytes=%zu\n", name.c_str(),
                 sphere.faces.size(), sphere.positions.size(), bytes.size());
    return 0;
}
