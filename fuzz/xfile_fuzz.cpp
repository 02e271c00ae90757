// Fuzz target: any bytes through the .x reader, and bytes that aren't a .x file as a mesh
// another reader hands to append_mesh. Beyond "no crash", an accepted model must be
// internally consistent and finite, since the renderer indexes and transforms with it
// unchecked.
#include <xfile/mesh.h>
#include <xfile/xfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
        if (!Finite(n) || std::fabs(n.x * n.x + n.y * n.y + n.z * n.z - 1) > 1e-3f)
            Broken("normal not finite or not of unit length");
    if (m.dropped_faces && !m.meshes) Broken("faces dropped from no mesh");
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

// Bytes as two meshes appended to one model: positions, faces with indices a little past
// the end, maybe normals, a matrix, handedness.
void AppendMeshes(const uint8_t* data, size_t size) {
    size_t at = 0;
    auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
    const uint8_t flags = next();
    xfile::Model model;
    size_t dropped = 0;
    for (int round = 0; round < 2; ++round) {
        xfile::PolyMesh mesh;
        const float unit = flags & 8 ? 1e36f : 1.0f / 16; // large ones overflow once placed
        for (int k = next() % 32; k > 0; --k)
            mesh.positions.push_back(
                {int8_t(next()) * unit, int8_t(next()) * unit, int8_t(next()) * unit});
        for (int f = next() % 16; f > 0; --f) {
            mesh.face_sizes.push_back(next() % 7);
            for (uint32_t k = mesh.face_sizes.back(); k > 0; --k)
                mesh.position_index.push_back(next() % (mesh.positions.size() + 2));
        }
        if (flags & 16 && !mesh.position_index.empty()) mesh.position_index.pop_back();
        if (flags & 2) {
            for (int k = next() % 8; k > 0; --k)
                mesh.normals.push_back({int8_t(next()) / 8.0f, int8_t(next()) / 8.0f, 1});
            for (size_t k = 0; k < mesh.position_index.size(); ++k)
                mesh.normal_index.push_back(next() % (mesh.normals.size() + 1));
        }
        double matrix[16];
        for (double& v : matrix)
            v = int8_t(next()) / 4.0;
        const xfile::Model before = model;
        std::string error;
        if (xfile::append_mesh(mesh, {flags & 4 ? matrix : nullptr, (flags & 1) != 0}, model,
                               &dropped, &error)) {
            CheckModel(model);
        } else if (error.empty() || model.positions.size() != before.positions.size() ||
                   model.triangles.size() != before.triangles.size() ||
                   model.normals.size() != before.normals.size() || model.meshes != before.meshes) {
            Broken("a refused mesh needs a reason and leaves the model as it was");
        }
    }
    if (dropped != model.dropped_faces) Broken("dropped faces counted apart");
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
    // Pulled a few bytes at a time, the same file reads the same.
    struct Trickle final : xfile::Input {
        const uint8_t* p;
        size_t left;
        Trickle(const uint8_t* d, size_t n) : p(d), left(n) {}
        size_t read(uint8_t* dst, size_t n) override {
            n = std::min({n, left, size_t(1 + left % 7)});
            std::memcpy(dst, p, n);
            p += n, left -= n;
            return n;
        }
    } in(data, size);
    xfile::Model pulled;
    std::string why;
    if (xfile::parse(in, size, pulled, &why, limits) != r || why != error ||
        pulled.positions.size() != model.positions.size() ||
        pulled.triangles.size() != model.triangles.size() ||
        pulled.normals.size() != model.normals.size())
        Broken("a file pulled in pieces reads otherwise than whole");
    if (size < 4 || std::memcmp(data, "xof ", 4) != 0) AppendMeshes(data, size);
    return 0;
}
