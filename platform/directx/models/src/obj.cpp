// Wavefront OBJ: positions, normals and polygons; everything else (texture coordinates,
// materials, groups, smoothing, curves) is read past. Objects and groups share one vertex list,
// so all faces form one mesh; faces that carry normals go into a second mesh beside the faces
// that don't, since a mesh has normals for every face or for none.
#include "readers.h"
#include "text.h"

namespace models::detail {
namespace {

constexpr uint32_t kMissing = 0xffffffffu; // names nothing: append_mesh drops the face

// 1-based, or negative counting back from the newest item; 0 names nothing.
uint32_t resolve(long long i, size_t count) {
    if (i > 0) return i <= 0xfffffffell ? uint32_t(i - 1) : kMissing;
    if (i < 0 && -i <= (long long)count) return uint32_t((long long)count + i);
    return kMissing;
}

bool read_vec(Text& t, std::vector<xfile::Vec3>& to) {
    xfile::Vec3 v;
    if (!t.number(v.x) || !t.number(v.y) || !t.number(v.z) || !finite3(v)) return false;
    if (to.size() >= 0xfffffff0u) return false;
    to.push_back(v);
    return true;
}

} // namespace

bool read_obj(Input& in, Scene& out) {
    Text t(in.data, in.size);
    std::vector<xfile::Vec3> positions, normals;
    xfile::PolyMesh plain, with_normals;
    std::vector<uint32_t> pi, ni;
    while (!t.end()) {
        t.skip_blanks();
        if (t.at_eol()) {
            t.next_line();
            continue;
        }
        const std::string_view kw = t.word();
        if (kw == "v") {
            if (!read_vec(t, positions))
                return in.fail("OBJ vertex without three finite numbers" + at_line(t));
        } else if (kw == "vn") {
            if (!read_vec(t, normals))
                return in.fail("OBJ normal without three finite numbers" + at_line(t));
        } else if (kw == "f") {
            pi.clear();
            ni.clear();
            bool all_normals = true;
            for (t.skip_blanks(); !t.at_eol(); t.skip_blanks()) {
                long long v = 0, vt = 0, vn = 0;
                bool has_n = false;
                if (!t.number(v)) return in.fail("OBJ face corner malformed" + at_line(t));
                if (t.p < t.e && *t.p == '/') {
                    ++t.p;
                    if (t.p < t.e && *t.p != '/' && !t.number(vt))
                        return in.fail("OBJ face corner malformed" + at_line(t));
                    if (t.p < t.e && *t.p == '/') {
                        ++t.p;
                        if (!t.number(vn)) return in.fail("OBJ face normal malformed" + at_line(t));
                        has_n = true;
                    }
                }
                pi.push_back(resolve(v, positions.size()));
                ni.push_back(has_n ? resolve(vn, normals.size()) : kMissing);
                all_normals &= has_n;
            }
            if (pi.size() >= 3) {
                xfile::PolyMesh& m = all_normals ? with_normals : plain;
                m.face_sizes.push_back(uint32_t(pi.size()));
                m.position_index.insert(m.position_index.end(), pi.begin(), pi.end());
                if (all_normals) m.normal_index.insert(m.normal_index.end(), ni.begin(), ni.end());
            }
        }
        // Anything else is read past: vt, vp, o, g, s, usemtl, mtllib (never opened), l, p,
        // free-form geometry.
        t.next_line();
    }
    // A face naming a normal the file lacks gets made ones rather than being lost.
    if (!with_normals.face_sizes.empty()) {
        xfile::PolyMesh kept;
        size_t at = 0;
        for (uint32_t n : with_normals.face_sizes) {
            const uint32_t* p = &with_normals.position_index[at];
            const uint32_t* q = &with_normals.normal_index[at];
            at += n;
            bool valid = true;
            for (uint32_t k = 0; k < n; ++k)
                valid &= q[k] < normals.size();
            xfile::PolyMesh& m = valid ? kept : plain;
            m.face_sizes.push_back(n);
            m.position_index.insert(m.position_index.end(), p, p + n);
            if (valid) m.normal_index.insert(m.normal_index.end(), q, q + n);
        }
        with_normals = std::move(kept);
    }
    if (plain.face_sizes.empty() && with_normals.face_sizes.empty())
        return in.fail("OBJ file without faces");
    if (!with_normals.face_sizes.empty()) {
        with_normals.normals = std::move(normals);
        if (!plain.face_sizes.empty()) plain.positions = positions;
        with_normals.positions = std::move(positions);
        out.parts.emplace_back().mesh = std::move(with_normals);
    } else {
        plain.positions = std::move(positions);
    }
    if (!plain.face_sizes.empty()) out.parts.emplace_back().mesh = std::move(plain);
    return true;
}

} // namespace models::detail
