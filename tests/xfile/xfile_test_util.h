// Helpers shared by the .x reader tests: fixtures built with our writer, model comparison.
#pragma once

#include <xfile/xfile.h>
#include <xfile/xwriter.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

// Exact equality, for comparing what two encodings of one model read as.
namespace xfile {
inline bool operator==(const Vec3& a, const Vec3& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}
inline bool operator==(const Vec2& a, const Vec2& b) {
    return a.u == b.u && a.v == b.v;
}
inline bool operator==(const Triangle& a, const Triangle& b) {
    return std::equal(a.v, a.v + 3, b.v) && std::equal(a.n, a.n + 3, b.n) &&
           a.material == b.material && a.edges == b.edges;
}
inline bool operator==(const Material& a, const Material& b) {
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a && a.power == b.power &&
           a.specular == b.specular && a.emissive == b.emissive && a.texture == b.texture;
}
} // namespace xfile

namespace xtest {

using namespace xfile;

inline std::vector<uint8_t> bytes_of(const std::string& s) {
    return {s.begin(), s.end()};
}

inline Result read(const std::vector<uint8_t>& b, Model& m, std::string* err = nullptr,
                   const Limits& lim = {}) {
    return parse(b.data(), b.size(), m, err, lim);
}

inline Model read_ok(const std::vector<uint8_t>& b) {
    Model m;
    std::string err;
    EXPECT_EQ(read(b, m, &err), Result::Ok) << err;
    return m;
}

inline Model read_text(const std::string& body) {
    return read_ok(bytes_of("xof 0303txt 0032\n" + body));
}

inline Vec3 sub(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// The front-facing normal direction of a triangle (not normalised).
inline Vec3 face_dir(const Model& m, const Triangle& t) {
    return cross(sub(m.positions[t.v[1]], m.positions[t.v[0]]),
                 sub(m.positions[t.v[2]], m.positions[t.v[0]]));
}

inline float area(const Model& m, const Triangle& t) {
    Vec3 c = face_dir(m, t);
    return 0.5f * std::sqrt(dot(c, c));
}

// A unit cube of quads, fronts outside, optionally with its own axis normals.
inline MeshDesc cube(bool normals = false) {
    MeshDesc d;
    d.name = "Cube";
    for (int i = 0; i < 8; ++i)
        d.positions.push_back({i & 1 ? 1.f : -1.f, i & 2 ? 1.f : -1.f, i & 4 ? 1.f : -1.f});
    d.faces = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
    for (auto& f : d.faces) // face_dir pointing away from the centre
        if (dot(cross(sub(d.positions[f[1]], d.positions[f[0]]),
                      sub(d.positions[f[2]], d.positions[f[0]])),
                d.positions[f[0]]) < 0)
            std::reverse(f.begin(), f.end());
    if (normals) { // faces z-, z+, y-, y+, x-, x+
        d.normals = {{0, 0, -1}, {0, 0, 1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}};
        for (uint32_t i = 0; i < 6; ++i)
            d.normal_faces.push_back(std::vector<uint32_t>(4, i));
    }
    return d;
}

inline void expect_same(const Model& a, const Model& b) {
    EXPECT_TRUE(a.positions == b.positions);
    EXPECT_TRUE(a.normals == b.normals);
    EXPECT_TRUE(a.texcoords == b.texcoords);
    EXPECT_TRUE(a.triangles == b.triangles);
    EXPECT_TRUE(a.materials == b.materials);
}

inline const Format kFormats[] = {Format::Text, Format::Binary32, Format::Binary64, Format::TextZip,
                                  Format::BinaryZip};

} // namespace xtest
