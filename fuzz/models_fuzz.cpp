// Fuzz target: any bytes through format detection and the OBJ, STL, PLY and glTF readers, then
// through the whole loading path the mesh builder takes. External glTF buffers come from a
// callback that checks the names it is handed never leave the model's folder. An accepted scene
// must be consistent and finite, as the shared mesh finishing takes it unchecked but for its
// indices; an accepted model must index only what it holds, as the renderer does unchecked.
#include <models/models.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void Broken(const char* what) {
    fprintf(stderr, "models_fuzz: %s\n", what);
    abort();
}

bool Finite(const xfile::Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool Buffer(const std::string& name, size_t max_bytes, std::vector<uint8_t>& out,
            std::string& error) {
    const std::string segments = "/" + name + "/";
    if (name.empty() || name[0] == '/' || segments.find("/../") != std::string::npos ||
        name.find('\\') != name.npos || name.find(':') != name.npos || name.find('\0') != name.npos)
        Broken("an external buffer name leaves the model's folder");
    if (name != "b.bin") {
        error = "not found";
        return false;
    }
    out.assign(std::min<size_t>(max_bytes, 256), 0); // small vectors and indices
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = uint8_t(i % 4 == 3 ? 0x3f : i % 7);
    return true;
}

void CheckScene(const models::Scene& s) {
    if (s.parts.empty()) Broken("accepted scene without meshes");
    for (const models::Part& p : s.parts) {
        const xfile::PolyMesh& m = p.mesh;
        for (const xfile::Vec3& v : m.positions)
            if (!Finite(v)) Broken("position not finite");
        for (const xfile::Vec3& v : m.normals)
            if (!Finite(v)) Broken("normal not finite");
        size_t corners = 0;
        for (uint32_t n : m.face_sizes)
            corners += n;
        if (corners != m.position_index.size()) Broken("face sizes don't add up to the corners");
        if (m.normals.empty() != m.normal_index.empty() ||
            (!m.normal_index.empty() && m.normal_index.size() != corners))
            Broken("normal indices not one per corner");
        for (double d : p.matrix)
            if (!std::isfinite(d)) Broken("placement not finite");
    }
}

void CheckModel(const xfile::Model& m) {
    if (m.triangles.empty()) Broken("accepted model without triangles");
    for (const xfile::Vec3& v : m.positions)
        if (!Finite(v)) Broken("model position not finite");
    for (const xfile::Vec3& v : m.normals)
        if (!Finite(v)) Broken("model normal not finite");
    for (const xfile::Triangle& t : m.triangles)
        for (int i = 0; i < 3; ++i)
            if (t.v[i] >= m.positions.size() || t.n[i] >= m.normals.size())
                Broken("model index out of range");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    xfile::Limits limits; // small bounds keep each run fast; the checks they guard are the same
    limits.max_bytes = 1 << 20;
    limits.max_depth = 32;
    models::Scene scene;
    std::string error;
    const xfile::Result r = models::parse(data, size, scene, &error, limits, Buffer);
    if (r == xfile::Result::Ok) {
        CheckScene(scene);
    } else {
        if (r != xfile::Result::BadFile) Broken("parse reported a missing file");
        if (error.empty() || error.find('\n') != std::string::npos)
            Broken("a rejected file needs a one-line reason");
        if (!scene.parts.empty()) Broken("a rejected file left a partial scene");
    }
    xfile::Model model;
    if (models::parse_model(data, size, model, &error, limits, Buffer) == xfile::Result::Ok) {
        if (r != xfile::Result::Ok && models::detect(data, size) != models::Format::X)
            Broken("a model from a file its reader rejects");
        CheckModel(model);
    } else if (error.empty() || error.find('\n') != std::string::npos || !model.triangles.empty()) {
        Broken("a rejected model needs a one-line reason and no triangles");
    }
    return 0;
}
