// Writes a UV sphere (per-vertex normals, unit radius) of about N triangles to standard
// output, as a .x file or in one of the other model formats; the one-line summary goes to
// standard error.
//
//   make_sphere --tris N --format FORMAT [--out FILE] [--normals yes|no] [--materials K]
//               [--bumps B]
//
// FORMAT: text|bin|bin64|tzip|bzip (.x), obj, stl-ascii, stl-bin, ply-ascii, ply-bin-le,
// ply-bin-be, gltf (buffer in a data URI), gltf-bin (buffer in FILE's name with .bin, beside
// it; needs --out), glb. Without normals the loader computes smooth ones; K materials colour
// the faces of a .x sphere in bands. Bumps make a less regular model: the radius rises and
// falls by 1.5 / B with sin(B x / 2) sin(B y / 2) sin(B z / 2 + 1), steep enough to shade each
// bump from bright to dark; its normals are left to the loader.
#include "bench_util.h"

#include <models/writer.h>
#include <xfile/xwriter.h>

#include <cmath>
#include <filesystem>
#include <map>

#include <unistd.h>

int main(int argc, char** argv) {
    const bench::Args args(argc, argv,
                           "make_sphere --tris N --format text|bin|bin64|tzip|bzip|obj|stl-ascii|"
                           "stl-bin|ply-ascii|ply-bin-le|ply-bin-be|gltf|gltf-bin|glb [--out FILE] "
                           "[--normals yes|no] [--materials K] [--bumps B]");
    const long tris = args.number("tris", 10000, 8, 50000000);
    const std::string name = args.get("format", "text");
    const std::map<std::string, models::WriteFormat> others = {
        {"obj", models::WriteFormat::Obj},
        {"stl-ascii", models::WriteFormat::StlAscii},
        {"stl-bin", models::WriteFormat::StlBinary},
        {"ply-ascii", models::WriteFormat::PlyAscii},
        {"ply-bin-le", models::WriteFormat::PlyLittle},
        {"ply-bin-be", models::WriteFormat::PlyBig},
        {"gltf", models::WriteFormat::Gltf},
        {"gltf-bin", models::WriteFormat::Gltf},
        {"glb", models::WriteFormat::Glb}};
    const std::map<std::string, xfile::Format> x_formats = {{"text", xfile::Format::Text},
                                                            {"bin", xfile::Format::Binary32},
                                                            {"bin64", xfile::Format::Binary64},
                                                            {"tzip", xfile::Format::TextZip},
                                                            {"bzip", xfile::Format::BinaryZip}};
    const auto other = others.find(name);
    const auto x_format = x_formats.find(name);
    if (other == others.end() && x_format == x_formats.end()) args.fail(name.c_str());

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
    const char* out = args.get("out", nullptr);
    std::vector<uint8_t> bytes;
    if (other == others.end()) {
        bytes = xfile::write(sphere, x_format->second);
    } else {
        std::string bin_name;
        if (name == "gltf-bin") {
            if (!out) args.fail("gltf-bin needs --out");
            bin_name = std::filesystem::path(out).stem().string() + ".bin";
        }
        models::Written w = models::write(sphere, other->second, bin_name);
        bytes = std::move(w.file);
        const std::string bin_path =
            (std::filesystem::path(out ? out : ".").parent_path() / bin_name).string();
        if (!bin_name.empty() && !xfile::save(bin_path.c_str(), w.bin)) {
            std::fprintf(stderr, "make_sphere: cannot write '%s'\n", bin_path.c_str());
            return 1;
        }
    }
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
