// STL: a soup of facets, each with its own corners. The facet normals are not used: many
// writers leave them zero or stale, and the winding says the same; the smooth normals made for
// meshes without normals give a curved surface its shape and keep sharp edges sharp.
#include "readers.h"
#include "text.h"

#include <bit>
#include <cstring>

namespace models::detail {

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
    m.positions.resize(size_t(n) * 3);
    const uint8_t* f = in.data + 84;
    for (size_t i = 0; i < n; ++i, f += 50) {
        xfile::Vec3* v = &m.positions[3 * i];
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
    }
    triangle_soup(m);
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
    return true;
}

} // namespace models::detail
