// Writes a UV-sphere .x file (per-vertex normals, unit radius) of about N triangles
// to standard output; the one-line summary goes to standard error.
//
//   make_sphere --tris N --format text|bin|bin64|tzip|bzip [--out FILE] [--normals yes|no]
//               [--materials K] [--bumps B]
//
// Without normals the loader computes smooth ones; K materials colour the faces in bands.
// Bumps make a less regular model: the radius rises and falls by 1.5 / B with
// sin(B x / 2) sin(B y / 2) sin(B z / 2 + 1), steep enough to shade each bump from bright to
// dark; its normals are left to the loader.
#include "bench_util.h"

#include <xfile/xwriter.h>

#include <cmath>
#include <unistd.h>

int main(int argc, char** argv) {
    const bench::Args args(argc, argv,
                           "make_sphere --tris N --format text|bin|bin64|tzip|bzip [--out FILE] "
                           "[--normals yes|no] [--materials K] [--bumps B]");
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

    const std::string normals = args.get("normals", "yes");
    if (normals != "yes" && normals != "no") args.fail(normals.c_str());
    const long materials = args.number("materials", 0, 0, 256);
    const long bumps = args.number("bumps", 0, 0, 100000);

    xfile::MeshDesc sphere = xfile::make_uv_sphere(int(tris), 1.0f);
    if (bumps) {
        const double amplitude = 1.5 / double(bumps);
        const double k = double(bumps) / 2;
        for (xfile::Vec3& p : sphere.positions) {
            const float r = float(1 + amplitude * std::sin(k * p.x) * std::sin(k * p.y) *
                                          std::sin(k * p.z + 1));
            p = {p.x * r, p.y * r, p.z * r};
        }
    }
    if (normals == "no" || bumps) {
        sphere.normals.clear();
        sphere.normal_faces.clear();
    }
    for (long k = 0; k < materials; ++k) {
        xfile::MaterialSlot slot;
        slot.material.r = float(k + 1) / float(materials);
        slot.material.g = 1.0f - float(k) / float(materials);
        slot.material.b = 0.5f;
        sphere.materials.push_back(slot);
    }
    if (materials)
        for (size_t f = 0; f < sphere.faces.size(); ++f)
            sphere.face_materials.push_back(uint32_t(f * size_t(materials) / sphere.faces.size()));
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
