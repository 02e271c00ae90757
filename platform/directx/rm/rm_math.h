// Frame arithmetic in double precision: row vectors, left-handed, p' = p * R + t.
#pragma once

#include <cmath>

namespace dx {

struct V3 {
    double x = 0, y = 0, z = 0;
};

inline V3 operator+(V3 a, V3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline V3 operator-(V3 a, V3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline V3 operator*(V3 a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline double dot(V3 a, V3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline V3 cross(V3 a, V3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(V3 a) {
    return std::sqrt(dot(a, a));
}
inline bool finite(V3 a) {
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

// A frame's placement in its parent: the rows of r are the frame's x, y and z
// axes in parent coordinates, t its origin there.
struct Xform {
    V3 r[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    V3 t;
};

// Direction v (row vector) through the rotation part.
inline V3 rotate(V3 v, const Xform& m) {
    return m.r[0] * v.x + m.r[1] * v.y + m.r[2] * v.z;
}
inline V3 apply(V3 p, const Xform& m) {
    return rotate(p, m) + m.t;
}
// Inverse rotation: the rows are orthonormal, so the transpose.
inline V3 unrotate(V3 v, const Xform& m) {
    return {dot(v, m.r[0]), dot(v, m.r[1]), dot(v, m.r[2])};
}
inline V3 unapply(V3 p, const Xform& m) {
    return unrotate(p - m.t, m);
}

// First a, then b.
inline Xform compose(const Xform& a, const Xform& b) {
    Xform out;
    for (int i = 0; i < 3; ++i)
        out.r[i] = rotate(a.r[i], b);
    out.t = apply(a.t, b);
    return out;
}

inline Xform inverse(const Xform& m) {
    Xform out;
    out.r[0] = {m.r[0].x, m.r[1].x, m.r[2].x};
    out.r[1] = {m.r[0].y, m.r[1].y, m.r[2].y};
    out.r[2] = {m.r[0].z, m.r[1].z, m.r[2].z};
    out.t = rotate(m.t, out) * -1.0;
    return out;
}

// Rotation of v about the unit axis k by theta, in the platform's sense: with row
// vectors in left-handed space this is clockwise looking along the axis toward
// the origin (rotating the x axis about +y by 90 degrees gives -z).
inline V3 rotate_about(V3 v, V3 k, double c, double s) {
    return v * c + cross(k, v) * s + k * (dot(k, v) * (1 - c));
}

// Gram-Schmidt from z, then y; x completes the left-handed basis (x = y x z).
inline bool orthonormalize(Xform& m) {
    V3 z = m.r[2];
    const double zl = length(z);
    if (!(zl > 1e-12)) return false;
    z = z * (1 / zl);
    V3 y = m.r[1] - z * dot(m.r[1], z);
    const double yl = length(y);
    if (!(yl > 1e-12)) return false;
    y = y * (1 / yl);
    m.r[0] = cross(y, z);
    m.r[1] = y;
    m.r[2] = z;
    return true;
}

} // namespace dx
