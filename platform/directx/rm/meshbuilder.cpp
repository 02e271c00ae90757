// Mesh builder: a model (.x, OBJ, STL, PLY or glTF) loaded through the readers, scaled and
// coloured, and converted once into the renderer's form for a mesh.
#include "rm_internal.h"

#include <models/models.h>
#include <win32ext.h>
#include <xfile/xfile.h>

#include <cmath>
#include <cstdio>
#include <new>
#include <unordered_map>

namespace dx {
namespace {

xfile::Vec3 normalized(xfile::Vec3 v, xfile::Vec3 fallback) {
    const double len = std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
    if (!(len > 1e-20) || !std::isfinite(len)) return fallback;
    return {float(v.x / len), float(v.y / len), float(v.z / len)};
}

// One line on standard error about the model, named as given and, when the name was mapped,
// where it was looked for.
void tell(const char* what, const char* given, const std::string& path, const std::string& why) {
    if (path == given)
        std::fprintf(stderr, "plumora: %s '%s': %s\n", what, given, why.c_str());
    else
        std::fprintf(stderr, "plumora: %s '%s' (%s): %s\n", what, given, path.c_str(), why.c_str());
}

uint8_t channel(float f) {
    if (!(f > 0)) return 0;
    if (f >= 1) return 255;
    return uint8_t(f * 255.0f + 0.5f);
}

} // namespace

MeshBuilder::MeshBuilder() = default;

HRESULT MeshBuilder::QueryInterface(REFIID riid, LPVOID* object) {
    return query_interface(this, riid, object, D3DRMERR_BADVALUE,
                           as<IDirect3DRMMeshBuilder2>(IID_IUnknown, IID_IDirect3DRMMeshBuilder,
                                                       IID_IDirect3DRMMeshBuilder2));
}

HRESULT MeshBuilder::Load(LPVOID filename, LPVOID, D3DRMLOADOPTIONS flags, D3DRMLOADTEXTURECALLBACK,
                          LPVOID) {
    DX_FAILPOINT("Load");
    // Only loading from a named file is offered (the low four bits name the source). Every
    // mesh of the file is loaded, merged into one, whatever object name is given.
    if (!filename || (flags & 0x0F) != D3DRMLOAD_FROMFILE) return D3DRMERR_BADVALUE;
    const char* given = static_cast<const char*>(filename);
    const std::string path = Win32MapPath(given);

    positions_.clear();
    normals_.clear();
    faces_.clear();
    colors_.clear();
    cache_valid_ = false;

    xfile::Model model;
    std::string reason;
    const xfile::Result result = models::load_model(path.c_str(), model, &reason);
    if (result != xfile::Result::Ok) {
        if (reason.empty())
            reason = result == xfile::Result::FileNotFound ? "file not found"
                                                           : "not a model file Plumora can read";
        tell("cannot load model", given, path, reason);
        return result == xfile::Result::FileNotFound ? D3DRMERR_FILENOTFOUND : D3DRMERR_BADFILE;
    }
    // As the platform: a file without a mesh has nothing to load, but a mesh with no face left
    // to draw still loads. Either way the user, who would see a black screen, reads why.
    if (model.meshes == 0) {
        tell("cannot load model", given, path, "no mesh in the file");
        return D3DRMERR_NOTFOUND;
    }
    if (model.dropped_faces)
        tell("model", given, path,
             "faces left out for naming a vertex or normal that doesn't exist: " +
                 std::to_string(model.dropped_faces));
    if (model.triangles.empty()) tell("model", given, path, "no triangle to show");

    positions_ = std::move(model.positions);
    const size_t np = positions_.size();

    colors_.reserve(model.materials.size());
    for (const xfile::Material& m : model.materials)
        colors_.push_back(RGBA_MAKE(channel(m.r), channel(m.g), channel(m.b), channel(m.a)));

    // The reader gives every corner a position and a normal; a face that names anything else
    // would be dropped here rather than indexed past the end, a missing material is white.
    faces_ = std::move(model.triangles);
    const size_t nn = model.normals.size();
    size_t kept = 0;
    for (size_t i = 0; i < faces_.size(); ++i) {
        xfile::Triangle& t = faces_[i];
        if (t.v[0] >= np || t.v[1] >= np || t.v[2] >= np) continue;
        if (t.n[0] >= nn || t.n[1] >= nn || t.n[2] >= nn) continue;
        if (t.material >= 0 && size_t(t.material) >= colors_.size()) t.material = -1;
        // Written back only once a face has been dropped: a sound model is left untouched.
        if (kept != i) faces_[kept] = t;
        ++kept;
    }
    faces_.resize(kept);
    normals_ = std::move(model.normals);
    for (xfile::Vec3& n : normals_)
        n = normalized(n, {0, 0, -1});
    return D3DRM_OK;
}

HRESULT MeshBuilder::GetBox(LPD3DRMBOX box) {
    DX_FAILPOINT("GetBox");
    if (!box) return D3DRMERR_BADVALUE;
    // An empty builder has the zero box (and succeeds), so callers never read garbage.
    *box = {{0, 0, 0}, {0, 0, 0}};
    if (positions_.empty()) return D3DRM_OK;
    xfile::Vec3 lo = positions_[0], hi = positions_[0];
    for (const xfile::Vec3& p : positions_) {
        lo = {std::fmin(lo.x, p.x), std::fmin(lo.y, p.y), std::fmin(lo.z, p.z)};
        hi = {std::fmax(hi.x, p.x), std::fmax(hi.y, p.y), std::fmax(hi.z, p.z)};
    }
    *box = {{lo.x, lo.y, lo.z}, {hi.x, hi.y, hi.z}};
    return D3DRM_OK;
}

HRESULT MeshBuilder::Scale(D3DVALUE sx, D3DVALUE sy, D3DVALUE sz) {
    DX_FAILPOINT("Scale");
    // A zero or non-finite factor would flatten the model and break its normals.
    if (!std::isfinite(sx) || !std::isfinite(sy) || !std::isfinite(sz) || sx == 0 || sy == 0 ||
        sz == 0)
        return D3DRMERR_BADVALUE;
    for (xfile::Vec3& p : positions_)
        p = {p.x * sx, p.y * sy, p.z * sz};
    // Normals follow the inverse transpose, then get unit length again.
    for (xfile::Vec3& n : normals_)
        n = normalized({n.x / sx, n.y / sy, n.z / sz}, n);
    cache_valid_ = false;
    return D3DRM_OK;
}

HRESULT MeshBuilder::Translate(D3DVALUE tx, D3DVALUE ty, D3DVALUE tz) {
    DX_FAILPOINT("Translate");
    if (!std::isfinite(tx) || !std::isfinite(ty) || !std::isfinite(tz)) return D3DRMERR_BADVALUE;
    for (xfile::Vec3& p : positions_)
        p = {p.x + tx, p.y + ty, p.z + tz};
    cache_valid_ = false;
    return D3DRM_OK;
}

HRESULT MeshBuilder::SetQuality(D3DRMRENDERQUALITY quality) {
    DX_FAILPOINT("SetQuality");
    quality_ = quality;
    return D3DRM_OK;
}

HRESULT MeshBuilder::SetColor(D3DCOLOR color) {
    DX_FAILPOINT("SetColor");
    colors_.assign(1, color);
    for (xfile::Triangle& f : faces_)
        f.material = 0;
    cache_valid_ = false;
    return D3DRM_OK;
}

RenderMesh MeshBuilder::convert() const {
    RenderMesh out;
    // One vertex per (position, normal) pair, numbered in order of first use. A position's
    // first pair is found by its index; only further normals of a position need the map.
    constexpr uint32_t kNone = 0xFFFFFFFF;
    std::vector<uint32_t> vertex_at(positions_.size(), kNone), normal_at(positions_.size(), kNone);
    std::unordered_map<uint64_t, uint32_t> other_pairs;
    auto add = [&](uint32_t v, uint32_t n) {
        const xfile::Vec3 p = positions_[v];
        const xfile::Vec3 q = n < normals_.size() ? normals_[n] : xfile::Vec3{0, 0, -1};
        out.positions.push_back({p.x, p.y, p.z});
        out.normals.push_back({q.x, q.y, q.z});
        return uint32_t(out.positions.size() - 1);
    };
    auto vertex_for = [&](uint32_t v, uint32_t n) {
        if (vertex_at[v] == kNone) {
            normal_at[v] = n;
            return vertex_at[v] = add(v, n);
        }
        if (normal_at[v] == n) return vertex_at[v];
        auto [it, added] = other_pairs.try_emplace(uint64_t(v) << 32 | n, 0);
        if (added) it->second = add(v, n);
        return it->second;
    };
    std::vector<D3DCOLOR> group_colors;
    for (const xfile::Triangle& f : faces_) {
        const D3DCOLOR color = f.material >= 0 ? colors_[size_t(f.material)] : 0xFFFFFFFF;
        size_t g = 0;
        while (g < group_colors.size() && group_colors[g] != color)
            ++g;
        if (g == group_colors.size()) {
            group_colors.push_back(color);
            RenderGroup group;
            group.color[0] = float((color >> 16) & 0xFF) / 255.0f;
            group.color[1] = float((color >> 8) & 0xFF) / 255.0f;
            group.color[2] = float(color & 0xFF) / 255.0f;
            out.groups.push_back(std::move(group));
        }
        RenderGroup& group = out.groups[g];
        for (int i = 0; i < 3; ++i)
            group.indices.push_back(vertex_for(f.v[i], f.n[i]));
        group.edges.push_back(f.edges);
    }
    return out;
}

const RenderMesh& MeshBuilder::render_form() {
    if (!cache_valid_) {
        cached_ = convert();
        cache_valid_ = true;
    }
    return cached_;
}

HRESULT MeshBuilder::CreateMesh(LPDIRECT3DRMMESH* mesh) {
    DX_FAILPOINT("CreateMesh");
    if (!mesh) return D3DRMERR_BADVALUE;
    *mesh = nullptr;
    Mesh* m = new (std::nothrow) Mesh(convert(), quality_);
    if (!m) return D3DRMERR_BADALLOC;
    *mesh = m;
    return D3DRM_OK;
}

// ---- Mesh --------------------------------------------------------------------------

Mesh::Mesh(RenderMesh data, D3DRMRENDERQUALITY quality)
    : data_(std::move(data)), quality_(quality) {
    add_detail_levels(data_);
}

HRESULT Mesh::QueryInterface(REFIID riid, LPVOID* object) {
    return query_interface(this, riid, object, D3DRMERR_BADVALUE, as<IUnknown>(IID_IUnknown));
}

} // namespace dx
