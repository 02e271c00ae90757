#include <models/writer.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string_view>

namespace models {
namespace {

using xfile::MeshDesc;
using xfile::Vec3;

Vec3 flip(Vec3 v) {
    return {v.x, v.y, -v.z};
}

// Mirroring z turns clockwise fronts into clockwise backs: reverse every polygon so that its
// fronts, now counter-clockwise, stay outside.
MeshDesc mirrored(MeshDesc m) {
    for (Vec3& p : m.positions)
        p = flip(p);
    for (Vec3& n : m.normals)
        n = flip(n);
    for (auto& f : m.faces)
        std::reverse(f.begin(), f.end());
    for (auto& f : m.normal_faces)
        std::reverse(f.begin(), f.end());
    return m;
}

void append(std::vector<uint8_t>& out, std::string_view s) {
    out.insert(out.end(), s.begin(), s.end());
}

template <class T> void put(std::vector<uint8_t>& out, T v, bool big = false) {
    uint8_t b[sizeof(T)];
    std::memcpy(b, &v, sizeof v);
    if (big == (std::endian::native == std::endian::little))
        for (size_t i = 0; i < sizeof v / 2; ++i)
            std::swap(b[i], b[sizeof v - 1 - i]);
    out.insert(out.end(), b, b + sizeof v);
}

std::string num(float f) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", double(f));
    return buf;
}

std::string vec(Vec3 v) {
    return num(v.x) + " " + num(v.y) + " " + num(v.z);
}

// Normals one per position: normal_faces repeats faces.
bool per_position_normals(const MeshDesc& m) {
    return !m.normals.empty() && m.normals.size() == m.positions.size() &&
           m.normal_faces == m.faces;
}

std::vector<uint32_t> fans(const MeshDesc& m) {
    std::vector<uint32_t> out;
    for (const auto& f : m.faces)
        for (size_t k = 2; k < f.size(); ++k)
            out.insert(out.end(), {f[0], f[k - 1], f[k]});
    return out;
}

Written obj(const MeshDesc& m) {
    std::string s = "# sphere\no " + (m.name.empty() ? std::string("mesh") : m.name) + "\n";
    for (const Vec3& p : m.positions)
        s += "v " + vec(p) + "\n";
    for (const Vec3& n : m.normals)
        s += "vn " + vec(n) + "\n";
    const bool normals = !m.normals.empty() && m.normal_faces.size() == m.faces.size();
    for (size_t f = 0; f < m.faces.size(); ++f) {
        s += "f";
        for (size_t k = 0; k < m.faces[f].size(); ++k) {
            (s += ' ') += std::to_string(m.faces[f][k] + 1);
            if (normals) s += "//" + std::to_string(m.normal_faces[f][k] + 1);
        }
        s += "\n";
    }
    Written w;
    append(w.file, s);
    return w;
}

Written stl(const MeshDesc& m, bool binary) {
    const std::vector<uint32_t> t = fans(m);
    Written w;
    std::string s = "solid sphere\n";
    if (binary) {
        w.file.assign(80, ' ');
        std::memcpy(w.file.data(), "solid sphere, binary", 20); // as many writers start it
        put(w.file, uint32_t(t.size() / 3));
    }
    for (size_t i = 0; i < t.size(); i += 3) {
        const Vec3 a = m.positions[t[i]], b = m.positions[t[i + 1]], c = m.positions[t[i + 2]];
        const Vec3 u{b.x - a.x, b.y - a.y, b.z - a.z}, v{c.x - a.x, c.y - a.y, c.z - a.z};
        Vec3 n{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
        const float len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
        if (len > 0) n = {n.x / len, n.y / len, n.z / len};
        if (binary) {
            for (const Vec3& p : {n, a, b, c})
                put(w.file, p.x), put(w.file, p.y), put(w.file, p.z);
            put(w.file, uint16_t(0));
        } else {
            s += " facet normal " + vec(n) + "\n  outer loop\n   vertex " + vec(a) +
                 "\n   vertex " + vec(b) + "\n   vertex " + vec(c) + "\n  endloop\n endfacet\n";
        }
    }
    if (!binary) append(w.file, s + "endsolid sphere\n");
    return w;
}

Written ply(const MeshDesc& m, WriteFormat f) {
    const bool normals = per_position_normals(m);
    const bool big = f == WriteFormat::PlyBig;
    std::string h = "ply\nformat ";
    h += f == WriteFormat::PlyAscii ? "ascii" : big ? "binary_big_endian" : "binary_little_endian";
    h += " 1.0\ncomment made by our own writer\nelement vertex " +
         std::to_string(m.positions.size()) +
         "\nproperty float x\nproperty float y\n"
         "property float z\n";
    if (normals) h += "property float nx\nproperty float ny\nproperty float nz\n";
    h += "property uchar red\n"; // one extra property to read past
    h += "element face " + std::to_string(m.faces.size()) +
         "\nproperty list uchar int vertex_indices\nproperty float quality\nend_header\n";
    Written w;
    append(w.file, h);
    for (size_t i = 0; i < m.positions.size(); ++i) {
        const Vec3 p = m.positions[i], n = normals ? m.normals[i] : Vec3{};
        if (f == WriteFormat::PlyAscii) {
            append(w.file, vec(p));
            if (normals) append(w.file, ' ' + vec(n));
            append(w.file, " 200\n");
            continue;
        }
        for (float c : {p.x, p.y, p.z})
            put(w.file, c, big);
        if (normals)
            for (float c : {n.x, n.y, n.z})
                put(w.file, c, big);
        w.file.push_back(200);
    }
    for (const auto& face : m.faces) {
        if (f == WriteFormat::PlyAscii) {
            std::string s = std::to_string(face.size());
            for (uint32_t v : face)
                (s += ' ') += std::to_string(v);
            append(w.file, s + " 0.5\n");
            continue;
        }
        w.file.push_back(uint8_t(face.size()));
        for (uint32_t v : face)
            put(w.file, int32_t(v), big);
        put(w.file, 0.5f, big);
    }
    return w;
}

std::string base64(const std::vector<uint8_t>& b) {
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    for (size_t i = 0; i < b.size(); i += 3) {
        const uint32_t v = uint32_t(b[i]) << 16 | (i + 1 < b.size() ? b[i + 1] << 8 : 0) |
                           (i + 2 < b.size() ? b[i + 2] : 0);
        s += abc[v >> 18];
        s += abc[(v >> 12) & 63];
        s += i + 1 < b.size() ? abc[(v >> 6) & 63] : '=';
        s += i + 2 < b.size() ? abc[v & 63] : '=';
    }
    return s;
}

Written gltf(const MeshDesc& m, WriteFormat f, const std::string& bin_name) {
    const bool normals = per_position_normals(m);
    const std::vector<uint32_t> idx = fans(m);
    std::vector<uint8_t> bin;
    Vec3 lo{HUGE_VALF, HUGE_VALF, HUGE_VALF}, hi{-HUGE_VALF, -HUGE_VALF, -HUGE_VALF};
    for (const Vec3& p : m.positions) {
        put(bin, p.x), put(bin, p.y), put(bin, p.z);
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    const size_t nbytes = bin.size();
    if (normals)
        for (const Vec3& n : m.normals) {
            put(bin, n.x), put(bin, n.y), put(bin, n.z);
        }
    const size_t ioff = bin.size();
    const bool shorts = m.positions.size() <= 65536;
    for (uint32_t i : idx)
        shorts ? put(bin, uint16_t(i)) : put(bin, i);
    while (bin.size() % 4)
        bin.push_back(0);

    const std::string n = std::to_string(m.positions.size());
    std::string views =
        "{\"buffer\":0,\"byteOffset\":0,\"byteLength\":" + std::to_string(nbytes) + "}";
    std::string accessors = "{\"bufferView\":0,\"componentType\":5126,\"count\":" + n +
                            ",\"type\":\"VEC3\",\"min\":[" + num(lo.x) + "," + num(lo.y) + "," +
                            num(lo.z) + "],\"max\":[" + num(hi.x) + "," + num(hi.y) + "," +
                            num(hi.z) + "]}";
    std::string attributes = "\"POSITION\":0";
    int view = 1;
    if (normals) {
        views += ",{\"buffer\":0,\"byteOffset\":" + std::to_string(nbytes) +
                 ",\"byteLength\":" + std::to_string(nbytes) + "}";
        accessors +=
            ",{\"bufferView\":1,\"componentType\":5126,\"count\":" + n + ",\"type\":\"VEC3\"}";
        attributes += ",\"NORMAL\":1";
        view = 2;
    }
    views += ",{\"buffer\":0,\"byteOffset\":" + std::to_string(ioff) +
             ",\"byteLength\":" + std::to_string(idx.size() * (shorts ? 2 : 4)) + "}";
    accessors += ",{\"bufferView\":" + std::to_string(view) +
                 ",\"componentType\":" + (shorts ? "5123" : "5125") +
                 ",\"count\":" + std::to_string(idx.size()) + ",\"type\":\"SCALAR\"}";

    // The frames as a chain of nodes, outermost first, each one's matrix in right-handed axes
    // (S M S with S the z mirror); the mesh hangs on the innermost.
    std::string nodes;
    const size_t chain = m.frames.size();
    for (size_t i = 0; i < chain; ++i) {
        std::string mat;
        for (size_t k = 0; k < 16; ++k) {
            const bool negate = (k / 4 == 2) != (k % 4 == 2);
            if (k) mat += ',';
            mat += num(negate ? -m.frames[i][k] : m.frames[i][k]);
        }
        nodes += "{\"matrix\":[" + mat + "],\"children\":[" + std::to_string(i + 1) + "]},";
    }
    nodes += "{\"mesh\":0,\"name\":\"" + m.name + "\"}";

    std::string buffer = "{\"byteLength\":" + std::to_string(bin.size());
    if (f == WriteFormat::Gltf)
        buffer +=
            ",\"uri\":\"" +
            (bin_name.empty() ? "data:application/octet-stream;base64," + base64(bin) : bin_name) +
            "\"";
    buffer += "}";
    std::string json = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"our own writer\"},"
                       "\"scene\":0,\"scenes\":[{\"nodes\":[0]}],\"nodes\":[" +
                       nodes + "],\"meshes\":[{\"primitives\":[{\"attributes\":{" + attributes +
                       "},\"indices\":" + std::to_string(normals ? 2 : 1) +
                       ",\"mode\":4}]}],\"accessors\":[" + accessors + "],\"bufferViews\":[" +
                       views + "],\"buffers\":[" + buffer + "]}";
    Written w;
    if (f == WriteFormat::Gltf) {
        append(w.file, json);
        if (!bin_name.empty()) w.bin = std::move(bin);
        return w;
    }
    while (json.size() % 4)
        json += ' ';
    append(w.file, "glTF");
    put(w.file, uint32_t(2));
    put(w.file, uint32_t(12 + 8 + json.size() + 8 + bin.size()));
    put(w.file, uint32_t(json.size()));
    append(w.file, "JSON");
    append(w.file, json);
    put(w.file, uint32_t(bin.size()));
    append(w.file, std::string_view("BIN\0", 4));
    w.file.insert(w.file.end(), bin.begin(), bin.end());
    return w;
}

} // namespace

Written write(const MeshDesc& desc, WriteFormat format, const std::string& bin_name) {
    const MeshDesc mesh = mirrored(desc);
    switch (format) {
    case WriteFormat::Obj:
        return obj(mesh);
    case WriteFormat::StlAscii:
        return stl(mesh, false);
    case WriteFormat::StlBinary:
        return stl(mesh, true);
    case WriteFormat::Gltf:
    case WriteFormat::Glb:
        return gltf(mesh, format, bin_name);
    default:
        return ply(mesh, format);
    }
}

} // namespace models
