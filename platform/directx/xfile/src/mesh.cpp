#include "assembler.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

namespace xfile {
namespace detail {
namespace {

constexpr uint8_t kEarly = 1; // named a missing position: never triangulated
constexpr uint8_t kLate = 2;  // named a missing normal: its triangles are taken out again

bool finite3(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool is_identity(const double* m) {
    for (int i = 0; i < 16; ++i)
        if (m[i] != (i % 5 == 0 ? 1.0 : 0.0)) return false;
    return true;
}

} // namespace

void MeshAssembler::begin(Model& out, uint32_t count, size_t faces) {
    out_ = &out;
    base_ = uint32_t(out.positions.size() - count);
    count_ = count;
    first_triangle_ = out.triangles.size();
    corners_ = 0;
    ndropped_ = 0;
    sizes_.clear();
    dropped_.clear();
    reserve(sizes_, faces);
    grow(out.triangles, faces);
}

void MeshAssembler::polygon(const uint32_t* idx, uint32_t n) {
    const size_t f = sizes_.size();
    sizes_.push_back(n);
    corners_ += n;
    for (uint32_t k = 0; k < n; ++k)
        if (idx[k] >= count_) return drop(f, kEarly);
    if (n < 3) return; // a point or a line: no triangles
    std::vector<Triangle>& tris = out_->triangles;
    const uint32_t b = base_;
    cut_.clear();
    cut_.reserve(n - 2);
    triangulator_.run(out_->positions.data() + b, idx, n, cut_);
    grow(tris, cut_.size());
    // Until the normals are known, a corner's normal index is its number in the face.
    for (const Corner3& t : cut_)
        tris.push_back({{b + idx[t.a], b + idx[t.b], b + idx[t.c]}, {t.a, t.b, t.c}, -1, t.edges});
}

template <class F> void MeshAssembler::each_face(F f) {
    Triangle* t = out_->triangles.data() + first_triangle_;
    const uint32_t* sizes = sizes_.data();
    const size_t nfaces = sizes_.size();
    const uint8_t* dropped = ndropped_ ? dropped_.data() : nullptr; // all faces once any is
    size_t corner = 0;
    for (size_t i = 0; i < nfaces; ++i) {
        const uint32_t s = sizes[i];
        const uint32_t count = s >= 3 && !(dropped && dropped[i]) ? s - 2 : 0;
        f(i, t, count, corner);
        t += count;
        corner += s;
    }
}

void MeshAssembler::missing_face(uint32_t n) {
    sizes_.push_back(n);
    corners_ += n;
    drop(sizes_.size() - 1, kEarly);
}

void MeshAssembler::drop(size_t f, uint8_t how) {
    if (dropped_.size() <= f) dropped_.resize(f + 1, 0);
    dropped_[f] = how;
    ++ndropped_;
}

void MeshAssembler::drop_bad_normals(const GivenNormals& given) {
    size_t corner = 0;
    for (size_t f = 0; f < sizes_.size(); corner += sizes_[f], ++f) {
        if (f < dropped_.size() && dropped_[f]) continue;
        for (uint32_t k = 0; k < sizes_[f]; ++k)
            if (corner + k >= given.corners || given.index[corner + k] >= given.normals.size()) {
                drop(f, kLate);
                break;
            }
    }
}

void MeshAssembler::remove_dropped() {
    dropped_.resize(sizes_.size(), 0);
    std::vector<Triangle>& tris = out_->triangles;
    size_t from = first_triangle_, to = first_triangle_;
    kept_sizes_.resize(sizes_.size());
    for (size_t f = 0; f < sizes_.size(); ++f) {
        const size_t had = sizes_[f] >= 3 && dropped_[f] != kEarly ? sizes_[f] - 2 : 0;
        kept_sizes_[f] = dropped_[f] ? 0 : sizes_[f];
        if (dropped_[f]) {
            from += had;
            continue;
        }
        for (size_t k = 0; k < had; ++k)
            tris[to++] = tris[from++];
    }
    tris.resize(to);
}

bool MeshAssembler::place(const Placement& placement, double cof[9], std::string& error) {
    Vec3* p = out_->positions.data() + base_;
    for (int i = 0; i < 9; ++i)
        cof[i] = i % 4 == 0 ? 1 : 0;
    bool mirror = false;
    const double* a = placement.matrix;
    if (a && !is_identity(a)) {
        for (uint32_t i = 0; i < count_; ++i) {
            const double x = p[i].x, y = p[i].y, z = p[i].z;
            p[i].x = float(x * a[0] + y * a[4] + z * a[8] + a[12]);
            p[i].y = float(x * a[1] + y * a[5] + z * a[9] + a[13]);
            p[i].z = float(x * a[2] + y * a[6] + z * a[10] + a[14]);
            if (!finite3(p[i])) {
                error = "transformed vertex not a finite number";
                return false;
            }
        }
        // Normals go through the inverse transpose: the cofactors, up to a positive scale.
        auto e = [a](int r, int c) { return a[r * 4 + c]; };
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
                cof[r * 3 + c] = e(r1, c1) * e(r2, c2) - e(r1, c2) * e(r2, c1);
            }
        mirror = e(0, 0) * cof[0] + e(0, 1) * cof[1] + e(0, 2) * cof[2] < 0;
        if (mirror)
            for (int i = 0; i < 9; ++i)
                cof[i] = -cof[i];
    }
    // Right-handed axes become ours by negating z: the picture stays the same, so fronts stay
    // counter-clockwise on screen where ours are clockwise. Corners swap as under a mirroring
    // matrix, and a mirroring matrix in such a file cancels that out.
    if (placement.right_handed) {
        mirror = !mirror;
        for (uint32_t i = 0; i < count_; ++i)
            p[i].z = -p[i].z;
    }
    if (mirror) {
        // Faces turned inside out: swap two corners to keep their fronts outside.
        std::vector<Triangle>& tris = out_->triangles;
        for (size_t t = first_triangle_; t < tris.size(); ++t) {
            Triangle& tr = tris[t];
            std::swap(tr.v[1], tr.v[2]);
            std::swap(tr.n[1], tr.n[2]);
            tr.edges = uint8_t((tr.edges & 2) | ((tr.edges & 1) << 2) | ((tr.edges >> 2) & 1));
        }
    }
    return true;
}

void MeshAssembler::map_normals(const GivenNormals& given, const double cof[9], bool flip_z) {
    std::vector<Vec3>& normals = out_->normals;
    const uint32_t nbase = uint32_t(normals.size());
    const size_t count = given.normals.size();
    if (nbase == 0) {
        normals.swap(given.normals);
    } else {
        grow(normals, count);
        normals.insert(normals.end(), given.normals.begin(), given.normals.end());
    }
    Vec3* mapped = normals.data() + nbase;
    bool broken = false;
    for (size_t i = 0; i < count; ++i) {
        const Vec3 n = mapped[i];
        double x = n.x * cof[0] + n.y * cof[3] + n.z * cof[6];
        double y = n.x * cof[1] + n.y * cof[4] + n.z * cof[7];
        double z = n.x * cof[2] + n.y * cof[5] + n.z * cof[8];
        if (flip_z) z = -z;
        double len = std::sqrt(x * x + y * y + z * z);
        if (!(len > 1e-30) || !std::isfinite(len)) {
            broken = true;
            mapped[i] = {0, 0, 0};
        } else {
            mapped[i] = {float(x / len), float(y / len), float(z / len)};
        }
    }
    const uint32_t* index = given.index;
    each_face([nbase, index](size_t, Triangle* t, uint32_t count, size_t corner) {
        for (; count; --count, ++t)
            for (uint32_t& c : t->n)
                c = nbase + index[corner + c];
    });
    if (!broken) return;
    std::vector<Triangle>& tris = out_->triangles;
    // Zero or broken normals take the front normal of a face that uses them.
    const Vec3* pos = out_->positions.data();
    for (size_t i = first_triangle_; i < tris.size(); ++i)
        for (uint32_t c : tris[i].n) {
            Vec3& n = normals[c];
            if (n.x == 0 && n.y == 0 && n.z == 0) n = unit(area_normal(pos, tris[i]), {0, 0, -1});
        }
    for (size_t i = nbase; i < normals.size(); ++i)
        if (normals[i].x == 0 && normals[i].y == 0 && normals[i].z == 0) normals[i] = {0, 0, -1};
}

bool MeshAssembler::end(const Placement& placement, const GivenNormals* given,
                        const int32_t* values, std::string& error) {
    if (given) {
        uint32_t top = 0; // one pass the compiler can widen, for the usual case of no bad index
        for (size_t i = 0; i < given->corners; ++i)
            top = std::max(top, given->index[i]);
        if (top >= given->normals.size() || given->corners < corners_) drop_bad_normals(*given);
    }
    if (ndropped_) remove_dropped();
    double cof[9];
    if (!place(placement, cof, error)) return false;
    std::vector<Triangle>& tris = out_->triangles;
    if (given) {
        map_normals(*given, cof, placement.right_handed);
    } else {
        const std::vector<uint32_t>& sizes = ndropped_ ? kept_sizes_ : sizes_;
        normal_builder_.run(out_->positions.data(), base_, count_, tris.data() + first_triangle_,
                            tris.size() - first_triangle_, sizes.data(), sizes.size(),
                            out_->normals);
    }
    if (values)
        each_face([values](size_t f, Triangle* t, uint32_t count, size_t) {
            for (; count; --count, ++t)
                t->material = values[f];
        });
    ++out_->meshes;
    out_->dropped_faces += ndropped_;
    return true;
}

namespace {

bool append(PolyMesh& mesh, const Placement& placement, Model& out, std::string& error) {
    const size_t count = mesh.positions.size();
    if (out.positions.size() + count >= 0xfffffff0u) {
        error = "too many vertices";
        return false;
    }
    for (const Vec3& p : mesh.positions)
        if (!finite3(p)) {
            error = "vertex not a finite number";
            return false;
        }
    if (out.positions.empty())
        out.positions = std::move(mesh.positions);
    else
        out.positions.insert(out.positions.end(), mesh.positions.begin(), mesh.positions.end());
    MeshAssembler assembler;
    assembler.begin(out, uint32_t(count), mesh.face_sizes.size());
    const std::vector<uint32_t>& idx = mesh.position_index;
    size_t off = 0;
    for (uint32_t n : mesh.face_sizes) {
        if (n > idx.size() - off) {
            assembler.missing_face(n);
            off = idx.size();
            continue;
        }
        assembler.face(idx.data() + off, n);
        off += n;
    }
    const MeshAssembler::GivenNormals given{mesh.normals, mesh.normal_index.data(), idx.size()};
    const bool paired = !mesh.normals.empty() && mesh.normal_index.size() == idx.size();
    if (!assembler.end(placement, paired ? &given : nullptr, nullptr, error)) return false;
    if (!out.texcoords.empty()) out.texcoords.resize(out.positions.size(), Vec2{0, 0});
    return true;
}

} // namespace
} // namespace detail

bool append_mesh(PolyMesh& mesh, const Placement& placement, Model& out, size_t* dropped,
                 std::string* error) {
    const size_t positions = out.positions.size(), normals = out.normals.size(),
                 triangles = out.triangles.size(), meshes = out.meshes,
                 dropped_before = out.dropped_faces;
    std::string why;
    bool ok;
    try {
        ok = detail::append(mesh, placement, out, why);
    } catch (const std::bad_alloc&) {
        ok = false;
        why = "out of memory";
    }
    mesh = PolyMesh{};
    if (!ok) { // the model as it was
        out.positions.resize(positions);
        out.normals.resize(normals);
        out.triangles.resize(triangles);
        if (!out.texcoords.empty()) out.texcoords.resize(positions);
        out.meshes = meshes;
        out.dropped_faces = dropped_before;
    }
    if (dropped) *dropped += out.dropped_faces - dropped_before;
    if (error) *error = ok ? std::string() : why;
    return ok;
}

} // namespace xfile
