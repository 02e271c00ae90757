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

inline Model read_ok(const std::vector<uint8_t>& b) {
    Model m;
    std::string err;
    EXPECT_EQ(parse(b.data(), b.size(), m, &err), Result::Ok) << err;
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

// Every corner's normal is the unit front normal of its triangle: flat shading.
inline void expect_flat_normals(const Model& m, size_t first, size_t end) {
    for (size_t i = first; i < end; ++i) {
        const Vec3 fd = face_dir(m, m.triangles[i]);
        for (uint32_t n : m.triangles[i].n)
            EXPECT_NEAR(dot(m.normals[n], fd) / std::sqrt(dot(fd, fd)), 1.f, 1e-5) << i;
    }
}

// A cube of quads around the origin, fronts outside, with its own axis normals.
inline MeshDesc cube() {
    MeshDesc d;
    d.positions = {{-1, -1, -1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, -1},
                   {-1, -1, 1},  {1, -1, 1},  {-1, 1, 1},  {1, 1, 1}};
    d.faces = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    d.normals = {{0, 0, -1}, {0, 0, 1},  {0, -1, 0},
                 {0, 1, 0},  {-1, 0, 0}, {1, 0, 0}}; // face by face
    for (uint32_t i = 0; i < 6; ++i)
        d.normal_faces.push_back(std::vector<uint32_t>(4, i));
    return d;
}

inline const Format kFormats[] = {Format::Text, Format::Binary32, Format::Binary64, Format::TextZip,
                                  Format::BinaryZip};

} // namespace xtest
