#include "parser.h"

#include "assembler.h"
#include "binary_lexer.h"
#include "text_lexer.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_map>

namespace xfile::detail {
namespace {

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool finite3(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

float sane(float f, float fallback) {
    return std::isfinite(f) ? f : fallback;
}

struct M4 {
    double m[16];
    static M4 identity() {
        M4 r{};
        r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1;
        return r;
    }
};

// Row vectors: (a x b) applies a first.
M4 mul(const M4& a, const M4& b) {
    M4 r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0;
            for (int k = 0; k < 4; ++k)
                s += a.m[i * 4 + k] * b.m[k * 4 + j];
            r.m[i * 4 + j] = s;
        }
    return r;
}

enum class Kind : uint8_t { Top, Frame, Mesh, MatList, Material };

struct Ctx {
    Kind kind;
    int32_t material; // Material: its index in the pool
};

struct Slot {
    int32_t pool; // -1 while `name` waits to be resolved
    std::string name;
};

// State of the mesh being read (one at a time: meshes don't nest); its faces are in the
// assembler.
struct MeshState {
    uint32_t base = 0, nv = 0;
    bool has_normals = false;
    std::vector<Vec3> normals;
    std::vector<uint32_t> normal_idx;
    bool has_materials = false;
    uint32_t nmat = 0;
    std::vector<uint32_t> face_mat;
    std::vector<int32_t> slots;
    bool has_tc = false;
    std::vector<Vec2> tc;
};

template <class L> class Parser {
  public:
    Parser(L& lx, Model& model, const Limits& limits, std::string& error)
        : lx_(lx), src_(lx.source()), model_(model), limits_(limits), error_(error) {}

    bool run() {
        stack_.push_back({Kind::Top, -1});
        frames_.push_back(M4::identity());
        for (;;) {
            Tok t = lx_.next();
            switch (t) {
            case Tok::Error:
                return false;
            case Tok::End:
                if (stack_.size() > 1) return fail("file ends inside an object");
                return finish();
            case Tok::CBrace:
                if (stack_.size() == 1) return fail("unmatched }");
                if (!close()) return false;
                stack_.pop_back();
                break;
            case Tok::OBrace:
                if (!reference()) return false;
                break;
            case Tok::Template:
                if (!skip_template()) return false;
                break;
            case Tok::Name:
                if (stack_.size() == 1 && iequals(lx_.text, "template")) {
                    if (!skip_template()) return false;
                } else if (!object()) {
                    return false;
                }
                break;
            default: // data the reader doesn't use, separators, GUIDs
                break;
            }
        }
    }

  private:
    bool fail(const std::string& why) {
        if (!lx_.failed() && error_.empty())
            error_ = why + " at byte " + std::to_string(src_.offset() + 16);
        return false;
    }
    bool deeper(size_t extra) {
        if (stack_.size() - 1 + extra > size_t(std::max(limits_.max_depth, 1)))
            return fail("objects nested deeper than " + std::to_string(limits_.max_depth));
        return true;
    }

    // Reads past the rest of an object whose `{` has been read.
    bool skip_block() {
        size_t depth = 1;
        while (depth) {
            switch (lx_.next()) {
            case Tok::Error:
                return false;
            case Tok::End:
                return fail("file ends inside an object");
            case Tok::OBrace:
                ++depth;
                if (!deeper(depth)) return false;
                break;
            case Tok::CBrace:
                --depth;
                break;
            default:
                break;
            }
        }
        return true;
    }

    bool skip_template() {
        for (;;) {
            Tok t = lx_.next();
            if (t == Tok::Error) return false;
            if (t == Tok::OBrace) break;
            if (t != Tok::Name && t != Tok::Guid && t != Tok::Other)
                return fail("malformed template");
        }
        if (!deeper(1)) return false;
        return skip_block();
    }

    // `{ name }`, `{ name <GUID> }` or `{ <GUID> }`.
    bool reference() {
        Tok t = lx_.next();
        bool named = false;
        if (t == Tok::Name || t == Tok::String || (t == Tok::Number && !lx_.text.empty())) {
            ref_.assign(lx_.text);
            named = true;
            t = lx_.next();
        }
        while (t == Tok::Guid || t == Tok::Other)
            t = lx_.next(); // GUID, binary separators
        if (t == Tok::Error) return false;
        if (t != Tok::CBrace) return fail("malformed reference");
        if (stack_.back().kind == Kind::MatList && named) {
            auto it = names_.find(ref_);
            add_slot(it != names_.end() ? it->second : -1,
                     it != names_.end() ? std::string() : ref_);
        }
        return true;
    }

    void add_slot(int32_t pool, std::string name) {
        if (mesh_.slots.size() >= mesh_.nmat) return; // more materials than declared
        mesh_.slots.push_back(int32_t(slots_.size()));
        slots_.push_back({pool, std::move(name)});
    }

    bool object() {
        ident_.assign(lx_.text);
        Tok t = lx_.next();
        name_.clear();
        if (t == Tok::Name || (t == Tok::Number && !lx_.text.empty())) { // `Frame 01 {`
            name_.assign(lx_.text);
            t = lx_.next();
        }
        if (t == Tok::Error) return false;
        if (t != Tok::OBrace) return fail("expected { after " + ident_.substr(0, 64));
        if (!deeper(1)) return false;
        Kind parent = stack_.back().kind;
        bool in_frame = parent == Kind::Top || parent == Kind::Frame;
        std::string_view id = ident_;
        if (in_frame && iequals(id, "Frame")) {
            stack_.push_back({Kind::Frame, -1});
            frames_.push_back(frames_.back());
            return true;
        }
        if (in_frame && iequals(id, "Mesh")) {
            if (!read_mesh()) return false;
            stack_.push_back({Kind::Mesh, -1});
            return true;
        }
        if ((in_frame || parent == Kind::MatList) && iequals(id, "Material")) {
            int32_t index;
            if (!read_material(index)) return false;
            if (parent == Kind::MatList) add_slot(index, {});
            stack_.push_back({Kind::Material, index});
            return true;
        }
        if (parent == Kind::Frame && iequals(id, "FrameTransformMatrix"))
            return read_matrix() && skip_block();
        if (parent == Kind::Mesh) {
            if (iequals(id, "MeshNormals")) return read_normals() && skip_block();
            if (iequals(id, "MeshTextureCoords")) return read_texcoords() && skip_block();
            if (iequals(id, "MeshMaterialList")) {
                if (!read_material_list()) return false;
                stack_.push_back({Kind::MatList, -1});
                return true;
            }
        }
        if (parent == Kind::Material && iequals(id, "TextureFilename")) {
            lx_.skip_guid();
            if (!lx_.read_string(pool_[size_t(stack_.back().material)].texture)) return false;
            return skip_block();
        }
        return skip_block();
    }

    bool count(uint32_t& n, size_t per_item, const char* what) {
        if (!lx_.read_uint(n)) return false;
        if (per_item && n > lx_.numbers_bound() / per_item)
            return fail(std::string(what) + " count " + std::to_string(n) +
                        " larger than the file");
        return true;
    }

    bool read_mesh() {
        lx_.skip_guid();
        MeshState& m = mesh_;
        uint32_t nv = 0;
        if (!count(nv, 3, "vertex")) return false;
        if (model_.positions.size() + nv >= 0xfffffff0u) return fail("too many vertices");
        m.base = uint32_t(model_.positions.size());
        m.nv = nv;
        m.has_normals = m.has_materials = m.has_tc = false;
        m.nmat = 0;
        m.slots.clear();
        m.face_mat.clear();
        grow(model_.positions, src_.reserve_cap(nv));
        for (uint32_t i = 0; i < nv;) {
            size_t k = std::min<size_t>(nv - i, 1 << 14); // stays within what the data backs
            size_t at = model_.positions.size();
            model_.positions.resize(at + k);
            Vec3* v = model_.positions.data() + at;
            if (!lx_.read_floats(&v->x, 3 * k)) return false;
            for (size_t j = 0; j < k; ++j)
                if (!finite3(v[j])) return fail("vertex coordinate not a finite number");
            i += uint32_t(k);
        }
        uint32_t nf = 0;
        if (!count(nf, 1, "face")) return false;
        // A face naming a vertex the mesh doesn't have is left out by the assembler.
        assembler_.begin(model_, nv, src_.reserve_cap(nf));
        for (uint32_t f = 0; f < nf; ++f) {
            uint32_t n = 0;
            if (!count(n, 1, "face vertex")) return false;
            if (n == 3) {
                uint32_t abc[3];
                if (!lx_.read_uints(abc, 3)) return false;
                assembler_.face(abc, 3);
                continue;
            }
            idx_.resize(n);
            if (!lx_.read_uints(idx_.data(), n)) return false;
            assembler_.face(idx_.data(), n);
        }
        return true;
    }

    bool read_normals() {
        lx_.skip_guid();
        MeshState& m = mesh_;
        uint32_t nn = 0;
        if (!count(nn, 3, "normal")) return false;
        m.normals.clear();
        reserve(m.normals, src_.reserve_cap(nn));
        for (uint32_t i = 0; i < nn;) {
            size_t k = std::min<size_t>(nn - i, 1 << 14);
            size_t at = m.normals.size();
            m.normals.resize(at + k);
            if (!lx_.read_floats(&m.normals[at].x, 3 * k)) return false;
            i += uint32_t(k);
        }
        uint32_t nfn = 0;
        if (!count(nfn, 1, "normal face")) return false;
        const std::vector<uint32_t>& face_sizes = assembler_.face_sizes();
        bool valid = nfn == face_sizes.size();
        m.normal_idx.clear();
        if (valid) reserve(m.normal_idx, src_.reserve_cap(assembler_.corners()));
        for (uint32_t f = 0; f < nfn; ++f) {
            uint32_t n = 0;
            if (!count(n, 1, "normal face vertex")) return false;
            if (valid && n != face_sizes[f]) valid = false;
            if (valid) { // as many as the face's own corners, which the file held
                const size_t at = m.normal_idx.size();
                m.normal_idx.resize(at + n);
                if (!lx_.read_uints(m.normal_idx.data() + at, n)) return false;
                continue;
            }
            for (uint32_t k = 0; k < n;) { // read past, in runs
                uint32_t run[16];
                const uint32_t r = std::min<uint32_t>(n - k, 16);
                if (!lx_.read_uints(run, r)) return false;
                k += r;
            }
        }
        // Normals that don't pair with the faces are dropped and computed instead; a face naming
        // a normal that doesn't exist is left out by the assembler.
        m.has_normals = valid;
        return true;
    }

    bool read_texcoords() {
        lx_.skip_guid();
        MeshState& m = mesh_;
        uint32_t n = 0;
        if (!count(n, 2, "texture coordinate")) return false;
        m.tc.clear();
        m.tc.reserve(src_.reserve_cap(n));
        for (uint32_t i = 0; i < n; ++i) {
            Vec2 t;
            if (!lx_.read_float(t.u) || !lx_.read_float(t.v)) return false;
            m.tc.push_back({sane(t.u, 0), sane(t.v, 0)});
        }
        m.has_tc = n == m.nv;
        return true;
    }

    bool read_material_list() {
        lx_.skip_guid();
        MeshState& m = mesh_;
        uint32_t nm = 0, nfi = 0;
        if (!count(nm, 1, "material") || !count(nfi, 1, "material face")) return false;
        const size_t nfaces = assembler_.face_sizes().size();
        m.face_mat.clear();
        m.face_mat.reserve(std::min<size_t>(src_.reserve_cap(nfi), nfaces));
        for (uint32_t i = 0; i < nfi; ++i) {
            uint32_t k = 0;
            if (!lx_.read_uint(k)) return false;
            if (k >= nm)
                return fail("material index " + std::to_string(k) + " out of range " +
                            std::to_string(nm));
            if (i < nfaces) m.face_mat.push_back(k);
        }
        m.has_materials = true;
        m.nmat = nm;
        m.slots.clear();
        m.slots.reserve(std::min<size_t>(nm, 256));
        return true;
    }

    bool read_material(int32_t& index) {
        lx_.skip_guid();
        Material mt;
        float f[11];
        for (float& x : f)
            if (!lx_.read_float(x)) return false;
        mt.r = sane(f[0], 1), mt.g = sane(f[1], 1), mt.b = sane(f[2], 1), mt.a = sane(f[3], 1);
        mt.power = sane(f[4], 0);
        mt.specular = {sane(f[5], 0), sane(f[6], 0), sane(f[7], 0)};
        mt.emissive = {sane(f[8], 0), sane(f[9], 0), sane(f[10], 0)};
        index = int32_t(pool_.size());
        pool_.push_back(std::move(mt));
        if (!name_.empty()) names_[name_] = index;
        return true;
    }

    bool read_matrix() {
        lx_.skip_guid();
        M4 local;
        for (double& d : local.m) {
            float f;
            if (!lx_.read_float(f)) return false;
            if (!std::isfinite(f)) return fail("frame matrix not finite");
            d = f;
        }
        frames_.back() = mul(local, frames_[frames_.size() - 2]);
        return true;
    }

    bool close() {
        switch (stack_.back().kind) {
        case Kind::Frame:
            frames_.pop_back();
            return true;
        case Kind::Mesh:
            return finish_mesh();
        default:
            return true;
        }
    }

    bool finish_mesh() {
        MeshState& m = mesh_;
        const int32_t* values = nullptr;
        if (m.has_materials && m.nmat) {
            // Materials declared but not given are white.
            int32_t missing = -1;
            if (m.slots.size() < m.nmat) {
                missing = int32_t(slots_.size());
                slots_.push_back({default_material(), {}});
            }
            // Fewer indexes than faces: the last one holds for the rest.
            const size_t nfaces = assembler_.face_sizes().size();
            face_slot_.resize(nfaces);
            uint32_t last = 0;
            for (size_t f = 0; f < nfaces; ++f) {
                if (f < m.face_mat.size()) last = m.face_mat[f];
                face_slot_[f] = last < m.slots.size() ? m.slots[last] : missing;
            }
            values = face_slot_.data();
        }
        const MeshAssembler::GivenNormals given{m.normals, m.normal_idx.data(),
                                                m.normal_idx.size()};
        const Placement placement{frames_.back().m, false};
        std::string why;
        if (!assembler_.end(placement, m.has_normals ? &given : nullptr, values, why))
            return fail(why);
        if (m.has_tc) {
            model_.texcoords.resize(m.base, Vec2{0, 0});
            model_.texcoords.insert(model_.texcoords.end(), m.tc.begin(), m.tc.end());
        }
        return true;
    }

    int32_t default_material() {
        if (default_ < 0) {
            default_ = int32_t(pool_.size());
            pool_.push_back(Material{});
        }
        return default_;
    }

    bool finish() {
        // Named references resolve against every material of the file, later ones included.
        for (Slot& s : slots_) {
            if (s.pool >= 0) continue;
            auto it = names_.find(s.name);
            s.pool = it != names_.end() ? it->second : default_material();
        }
        std::vector<int32_t> remap(pool_.size(), -1);
        for (Triangle& t : model_.triangles) {
            if (t.material < 0) continue;
            int32_t p = slots_[size_t(t.material)].pool;
            if (remap[size_t(p)] < 0) {
                remap[size_t(p)] = int32_t(model_.materials.size());
                model_.materials.push_back(pool_[size_t(p)]);
            }
            t.material = remap[size_t(p)];
        }
        if (!model_.texcoords.empty()) model_.texcoords.resize(model_.positions.size(), Vec2{0, 0});
        return true;
    }

    L& lx_;
    Source& src_;
    Model& model_;
    const Limits& limits_;
    std::string& error_;
    std::vector<Ctx> stack_;
    std::vector<M4> frames_;
    MeshState mesh_;
    std::vector<Material> pool_;
    std::unordered_map<std::string, int32_t> names_;
    std::vector<Slot> slots_;
    int32_t default_ = -1;
    std::string ident_, name_, ref_;
    std::vector<uint32_t> idx_;
    std::vector<int32_t> face_slot_;
    MeshAssembler assembler_;
};

} // namespace

bool read_objects(Source& body, bool text, bool doubles, Model& model, const Limits& limits,
                  std::string& error) {
    if (text) {
        TextLexer lx(body, error);
        return Parser<TextLexer>(lx, model, limits, error).run();
    }
    BinaryLexer lx(body, error, doubles);
    return Parser<BinaryLexer>(lx, model, limits, error).run();
}

} // namespace xfile::detail
