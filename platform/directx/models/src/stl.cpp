// STL: a soup of facets, each with its own corners. The facet normals are not used: many
// writers leave them zero or stale, and the winding says the same; the smooth normals made for
// meshes without normals give a curved surface its shape and keep sharp edges sharp.
#include "readers.h"
#include "text.h"

#include <bit>
#include <cstring>

namespace models::detail {
namespace {

// Corners at the same place become one vertex, as the mesh the file was written from had it:
// the model then holds and draws each vertex once rather than once per facet. Equal means equal
// bits (-0 and +0 alike). The table grows to stay at most half full; a bounded probe: a corner
// whose run is too long keeps a vertex of its own.
class Welder {
  public:
    Welder(std::vector<xfile::Vec3>& positions, size_t expected) : positions_(positions) {
        positions_.reserve(expected);
        size_t size = 1024;
        while (size < 2 * expected)
            size *= 2;
        slots_.assign(size, 0);
    }

    uint32_t add(xfile::Vec3 p) {
        p = {p.x + 0.0f, p.y + 0.0f, p.z + 0.0f}; // -0 as +0: equal places have equal bits
        const size_t mask = slots_.size() - 1;
        const uint32_t next = uint32_t(positions_.size());
        for (size_t probe = 0, slot = hash(p) & mask; probe < 64;
             ++probe, slot = (slot + 1) & mask) {
            const uint32_t s = slots_[slot];
            if (!s) {
                slots_[slot] = next + 1;
                break;
            }
            if (std::memcmp(&positions_[s - 1], &p, sizeof p) == 0) return s - 1;
        }
        positions_.push_back(p);
        if (2 * positions_.size() > slots_.size()) grow();
        return next;
    }

  private:
    static size_t hash(const xfile::Vec3& p) {
        uint32_t x, y, z;
        std::memcpy(&x, &p.x, 4);
        std::memcpy(&y, &p.y, 4);
        std::memcpy(&z, &p.z, 4);
        uint64_t h = (uint64_t(x) << 32 | y) ^ (uint64_t(z) * 0x9E3779B97F4A7C15u);
        h ^= h >> 30, h *= 0xbf58476d1ce4e5b9u, h ^= h >> 27, h *= 0x94d049bb133111ebu;
        return size_t(h ^ (h >> 31));
    }
    void grow() {
        slots_.assign(slots_.size() * 2, 0);
        const size_t mask = slots_.size() - 1;
        for (uint32_t v = 0; v < positions_.size(); ++v) {
            size_t slot = hash(positions_[v]) & mask;
            for (size_t probe = 0; probe < 64 && slots_[slot]; ++probe)
                slot = (slot + 1) & mask;
            if (!slots_[slot]) slots_[slot] = v + 1;
        }
    }

    std::vector<xfile::Vec3>& positions_;
    std::vector<uint32_t> slots_; // a kept vertex + 1, or 0
};

} // namespace

bool read_stl_binary(Input& in, Scene& out) {
    if (in.size < 84) return in.fail("binary STL shorter than its header");
    uint32_t n;
    std::memcpy(&n, in.data + 80, 4);
    if constexpr (std::endian::native == std::endian::big) n = __builtin_bswap32(n);
    if ((in.size - 84) / 50 != n || (in.size - 84) % 50)
        return in.fail("binary STL of " + std::to_string(in.size) + " bytes can't hold the " +
                       std::to_string(n) + " facets it declares");
    if (n == 0) return in.fail("binary STL without facets");
    Part& part = out.parts.emplace_back();
    xfile::PolyMesh& m = part.mesh;
    m.face_sizes.assign(n, 3);
    m.position_index.resize(size_t(n) * 3);
    Welder weld(m.positions, n / 2 + 3); // a closed mesh has about half as many vertices as faces
    const uint8_t* f = in.data + 84;
    for (size_t i = 0; i < n; ++i, f += 50) {
        xfile::Vec3 v[3];
        std::memcpy(v, f + 12, 36); // the facet normal (f[0..12)) is not used
        if constexpr (std::endian::native == std::endian::big) {
            uint32_t w[9];
            std::memcpy(w, v, 36);
            for (uint32_t& x : w)
                x = __builtin_bswap32(x);
            std::memcpy(v, w, 36);
        }
        if (!finite3(v[0]) || !finite3(v[1]) || !finite3(v[2]))
            return in.fail("binary STL facet " + std::to_string(i) +
                           " has a corner that is not a finite number");
        for (int k = 0; k < 3; ++k)
            m.position_index[3 * i + k] = weld.add(v[k]);
    }
    return true;
}

bool read_stl_ascii(Input& in, Scene& out) {
    Text t(in.data, in.size);
    Part& part = out.parts.emplace_back();
    xfile::PolyMesh& m = part.mesh;
    uint32_t corners = 0; // of the loop being read
    auto close = [&] {
        if (corners) m.face_sizes.push_back(corners);
        corners = 0;
    };
    for (;;) {
        std::string_view w = t.token();
        if (w.empty()) break;
        if (iequals(w, "vertex")) {
            xfile::Vec3 v;
            if (!t.number(v.x) || !t.number(v.y) || !t.number(v.z))
                return in.fail("ASCII STL vertex without three numbers" + at_line(t));
            if (!finite3(v)) return in.fail("ASCII STL vertex not finite" + at_line(t));
            if (m.positions.size() >= 0xfffffff0u) return in.fail("ASCII STL too large");
            m.position_index.push_back(uint32_t(m.positions.size()));
            m.positions.push_back(v);
            ++corners;
        } else if (iequals(w, "endloop") || iequals(w, "endfacet")) {
            close();
        } else if (iequals(w, "solid") || iequals(w, "endsolid")) {
            close();
            t.next_line(); // the name
        } else if (iequals(w, "facet")) {
            close();
            float x;
            if (iequals(t.word(), "normal"))
                for (int k = 0; k < 3; ++k)
                    if (!t.number(x)) return in.fail("ASCII STL normal malformed" + at_line(t));
        } else if (iequals(w, "outer")) {
            if (!iequals(t.token(), "loop")) return in.fail("ASCII STL outer without loop");
        } else {
            return in.fail("ASCII STL has \"" + std::string(w.substr(0, 40)) + "\"" + at_line(t));
        }
    }
    close();
    if (m.face_sizes.empty()) return in.fail("ASCII STL without facets");
    const std::vector<xfile::Vec3> given = std::move(m.positions);
    Welder weld(m.positions, given.size() / 6 + 3);
    for (uint32_t& c : m.position_index)
        c = weld.add(given[c]);
    return true;
}

} // namespace models::detail
