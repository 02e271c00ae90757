// Fuzz target: any bytes through the .x reader. Beyond "no crash", a model the
// reader accepts must be internally consistent and finite, since the renderer
// indexes and transforms with it unchecked.
#include <xfile/xfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void Broken(const char* what) {
    fprintf(stderr, "xfile_fuzz: accepted model is inconsistent: %s\n", what);
    abort();
}

bool Finite(const xfile::Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

void CheckModel(const xfile::Model& m) {
    for (const xfile::Vec3& p : m.positions)
        if (!Finite(p)) Broken("position not finite");
    for (const xfile::Vec3& n : m.normals)
        if (!Finite(n)) Broken("normal not finite");
    if (!m.texcoords.empty() && m.texcoords.size() != m.positions.size())
        Broken("texcoords not one per position");
    for (const xfile::Triangle& t : m.triangles) {
        for (int i = 0; i < 3; ++i) {
            if (t.v[i] >= m.positions.size()) Broken("position index out of range");
            if (t.n[i] >= m.normals.size()) Broken("normal index out of range");
        }
        if (t.material < -1 || (t.material >= 0 && size_t(t.material) >= m.materials.size()))
            Broken("material index out of range");
        if (t.edges > 7) Broken("edge bits beyond the three edges");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small bounds keep each run fast; the checks they guard are the same.
    xfile::Limits limits;
    limits.max_bytes = 1 << 20;
    limits.max_depth = 32;
    limits.max_inflated = 4 << 20;
    xfile::Model model;
    std::string error;
    xfile::Result r = xfile::parse(data, size, model, &error, limits);
    if (r == xfile::Result::Ok) {
        CheckModel(model);
    } else {
        if (r != xfile::Result::BadFile) Broken("parse reported a missing file");
        if (error.empty() || error.find('\n') != std::string::npos)
            Broken("a rejected file needs a one-line reason");
        if (!model.positions.empty() || !model.triangles.empty() || !model.materials.empty())
            Broken("a rejected file left a partial model");
    }
    return 0;
}
