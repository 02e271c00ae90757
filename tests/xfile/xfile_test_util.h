// Helpers shared by the .x reader tests: fixtures built with our writer, model comparison.
#pragma once

#include <xfile/xfile.h>
#include <xfile/xwriter.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

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

// Puts every face of a closed mesh around the origin clockwise seen from outside.
inline void orient_outward(MeshDesc& d) {
    for (auto& f : d.faces) {
        Vec3 a = d.positions[f[0]], b = d.positions[f[1]], c = d.positions[f[2]];
        Vec3 centre = {(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3, (a.z + b.z + c.z) / 3};
        if (dot(cross(sub(b, a), sub(c, a)), centre) < 0) std::reverse(f.begin(), f.end());
    }
}

// A unit cube of quads, fronts outside.
inline MeshDesc cube() {
    MeshDesc d;
    d.name = "Cube";
    for (int i = 0; i < 8; ++i)
        d.positions.push_back({i & 1 ? 1.f : -1.f, i & 2 ? 1.f : -1.f, i & 4 ? 1.f : -1.f});
    d.faces = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
    orient_outward(d);
    return d;
}

inline void expect_same(const Model& a, const Model& b) {
    ASSERT_EQ(a.positions.size(), b.positions.size());
    for (size_t i = 0; i < a.positions.size(); ++i) {
        EXPECT_EQ(a.positions[i].x, b.positions[i].x);
        EXPECT_EQ(a.positions[i].y, b.positions[i].y);
        EXPECT_EQ(a.positions[i].z, b.positions[i].z);
    }
    ASSERT_EQ(a.normals.size(), b.normals.size());
    for (size_t i = 0; i < a.normals.size(); ++i) {
        EXPECT_EQ(a.normals[i].x, b.normals[i].x);
        EXPECT_EQ(a.normals[i].y, b.normals[i].y);
        EXPECT_EQ(a.normals[i].z, b.normals[i].z);
    }
    ASSERT_EQ(a.texcoords.size(), b.texcoords.size());
    for (size_t i = 0; i < a.texcoords.size(); ++i) {
        EXPECT_EQ(a.texcoords[i].u, b.texcoords[i].u);
        EXPECT_EQ(a.texcoords[i].v, b.texcoords[i].v);
    }
    ASSERT_EQ(a.triangles.size(), b.triangles.size());
    for (size_t i = 0; i < a.triangles.size(); ++i) {
        const Triangle &s = a.triangles[i], &t = b.triangles[i];
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(s.v[k], t.v[k]);
            EXPECT_EQ(s.n[k], t.n[k]);
        }
        EXPECT_EQ(s.material, t.material);
        EXPECT_EQ(s.edges, t.edges);
    }
    ASSERT_EQ(a.materials.size(), b.materials.size());
    for (size_t i = 0; i < a.materials.size(); ++i) {
        const Material &s = a.materials[i], &t = b.materials[i];
        EXPECT_EQ(s.r, t.r);
        EXPECT_EQ(s.g, t.g);
        EXPECT_EQ(s.b, t.b);
        EXPECT_EQ(s.a, t.a);
        EXPECT_EQ(s.power, t.power);
        EXPECT_EQ(s.specular.x, t.specular.x);
        EXPECT_EQ(s.emissive.z, t.emissive.z);
        EXPECT_EQ(s.texture, t.texture);
    }
}

inline const Format kFormats[] = {Format::Text, Format::Binary32, Format::Binary64, Format::TextZip,
                                  Format::BinaryZip};

} // namespace xtest
