// glTF 2.0, as JSON (.gltf, buffers in data URIs or in files beside it) or in the binary
// container (.glb). Only the geometry of triangle primitives is read (triangles, strips and
// fans, indexed or not), placed by the default scene's node hierarchy. Everything a file
// declares is checked against the data it really holds before it is used: accessors against
// their views, views against their buffers, buffers against the bytes that back them.
#include "json.h"
#include "readers.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>

namespace models::detail {
namespace {

using json::Kind;
using json::kNone;
using M4 = std::array<double, 16>;

constexpr M4 kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Row vectors: the result applies a first.
M4 mul(const M4& a, const M4& b) {
    M4 r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                r[size_t(i * 4 + j)] += a[size_t(i * 4 + k)] * b[size_t(k * 4 + j)];
    return r;
}

uint32_t rd32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

bool base64(std::string_view s, std::vector<uint8_t>& out) {
    static const std::array<int8_t, 256> table = [] {
        std::array<int8_t, 256> t;
        t.fill(-1);
        for (int i = 0; i < 26; ++i)
            t[size_t('A' + i)] = int8_t(i), t[size_t('a' + i)] = int8_t(26 + i);
        for (int i = 0; i < 10; ++i)
            t[size_t('0' + i)] = int8_t(52 + i);
        t['+'] = t['-'] = 62; // the URL-safe alphabet too
        t['/'] = t['_'] = 63;
        return t;
    }();
    while (!s.empty() && s.back() == '=')
        s.remove_suffix(1);
    const size_t tail = s.size() % 4;
    if (tail == 1) return false;
    out.resize(s.size() / 4 * 3 + (tail ? tail - 1 : 0));
    uint8_t* o = out.data();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    auto at = [p](size_t i) { return int32_t(table[p[i]]); };
    size_t i = 0;
    for (const size_t whole = s.size() - tail; i < whole; i += 4) {
        const int32_t a = at(i), b = at(i + 1), c = at(i + 2), d = at(i + 3);
        if ((a | b | c | d) < 0) return false;
        const uint32_t v = uint32_t(a << 18 | b << 12 | c << 6 | d);
        *o++ = uint8_t(v >> 16), *o++ = uint8_t(v >> 8), *o++ = uint8_t(v);
    }
    if (tail) {
        const int32_t a = at(i), b = at(i + 1), c = tail == 3 ? at(i + 2) : 0;
        if ((a | b | c) < 0) return false;
        const uint32_t v = uint32_t(a << 18 | b << 12 | c << 6);
        *o++ = uint8_t(v >> 16);
        if (tail == 3) *o++ = uint8_t(v >> 8);
    }
    return true;
}

int hexval(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A relative reference to a file in the model's folder or below it, percent-decoded; false for
// anything that could reach elsewhere: a scheme, an absolute path, "..", backslashes, NUL.
bool local_name(const std::string& uri, std::string& out) {
    out.clear();
    for (size_t i = 0; i < uri.size(); ++i) {
        char c = uri[i];
        if (c == '%') {
            if (i + 2 >= uri.size() || hexval(uri[i + 1]) < 0 || hexval(uri[i + 2]) < 0)
                return false;
            c = char(hexval(uri[i + 1]) * 16 + hexval(uri[i + 2]));
            i += 2;
        }
        if (c == '\0' || c == '\\' || c == ':' || c == '?' || c == '#') return false;
        out += c;
    }
    if (out.empty() || out[0] == '/') return false;
    size_t b = 0;
    while (b <= out.size()) {
        size_t e = out.find('/', b);
        if (e == std::string::npos) e = out.size();
        if (out.compare(b, e - b, "..") == 0) return false;
        b = e + 1;
    }
    return out.back() != '/';
}

struct Buffer {
    bool loaded = false;
    std::vector<uint8_t> own;
    const uint8_t* data = nullptr;
    size_t size = 0; // byteLength, checked against the data
};

struct View {
    bool read = false;
    uint64_t buffer = 0, offset = 0, length = 0, stride = 0;
};

struct Accessor {
    const uint8_t* data; // first element
    size_t count, stride;
    int comps;
    uint32_t type; // component type
    bool normalized;
};

// One mesh as the file keeps it; copied for each node that shows it.
using Meshes = std::vector<xfile::PolyMesh>;

class Reader {
  public:
    Reader(Input& in, const BufferReader& buffers) : in_(in), external_(buffers) {}

    bool run(bool binary, Scene& out) {
        const char* text = reinterpret_cast<const char*>(in_.data);
        size_t size = in_.size;
        if (binary && !container(text, size)) return false;
        if (!binary && size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) text += 3, size -= 3;
        if (!doc_.parse(text, size, in_.limits.max_depth, in_.error)) return false;
        // Output may exceed the input only through nodes sharing a mesh: allow a generous
        // multiple of the data read, never an amount a small file can name.
        budget_ = 64 * (in_.size + 4096);
        return header() && scene(out);
    }

  private:
    bool fail(const std::string& why) { return in_.fail("glTF: " + why); }

    bool container(const char*& text, size_t& size) {
        if (in_.size < 20) return fail("binary container shorter than its header");
        const uint32_t version = rd32(in_.data + 4), length = rd32(in_.data + 8);
        if (version != 2)
            return fail("binary container version " + std::to_string(version) + ", not 2");
        if (length > in_.size || length < 20)
            return fail("binary container declares " + std::to_string(length) + " bytes, has " +
                        std::to_string(in_.size));
        text = nullptr;
        for (size_t at = 12; at + 8 <= length;) {
            const size_t n = rd32(in_.data + at), type = rd32(in_.data + at + 4);
            if (n > length - at - 8) return fail("chunk runs past the end of the container");
            const uint8_t* body = in_.data + at + 8;
            if (!text) {
                if (type != 0x4E4F534Au) return fail("binary container without its JSON chunk");
                text = reinterpret_cast<const char*>(body);
                size = n;
            } else if (type == 0x004E4942u && !bin_) {
                bin_ = body;
                bin_size_ = n;
            }
            at += 8 + n;
        }
        if (!text) return fail("binary container without chunks");
        return true;
    }

    bool header() {
        if (!doc_.is(0, Kind::Object)) return fail("the document is not a JSON object");
        std::string version;
        if (!doc_.string(doc_.member(doc_.member(0, "asset"), "version"), version))
            return fail("no asset version");
        if (version.empty() || version[0] != '2')
            return fail("version " + version.substr(0, 20) + " is not 2.x");
        const uint32_t req = doc_.member(0, "extensionsRequired");
        for (uint32_t e : doc_.items(req)) {
            std::string name;
            doc_.string(e, name);
            // Materials and textures are not shown; anything else may change the geometry.
            if (name.rfind("KHR_materials_", 0) != 0 && name.rfind("KHR_texture_", 0) != 0 &&
                name.rfind("EXT_texture_", 0) != 0 && name != "KHR_mesh_quantization" &&
                name != "KHR_lights_punctual")
                return fail("needs the extension " + name.substr(0, 60));
        }
        buffer_nodes_ = doc_.items(doc_.member(0, "buffers"));
        views_ = doc_.items(doc_.member(0, "bufferViews"));
        accessors_ = doc_.items(doc_.member(0, "accessors"));
        meshes_ = doc_.items(doc_.member(0, "meshes"));
        nodes_ = doc_.items(doc_.member(0, "nodes"));
        buffers_.resize(buffer_nodes_.size());
        accessor_state_.resize(accessors_.size());
        accessors_read_.resize(accessors_.size());
        views_read_.resize(views_.size());
        return true;
    }

    // The index in member `key` of `object` into a list of `n`; `missing` when absent.
    bool ref(uint32_t object, const char* key, size_t n, uint64_t& out, bool required,
             const char* what) {
        const uint32_t v = doc_.member(object, key);
        if (v == kNone && !required) {
            out = kNone;
            return true;
        }
        if (!doc_.index(v, out) || out >= n)
            return fail(std::string(what) + " refers to a missing " + key);
        return true;
    }
    bool number(uint32_t object, const char* key, uint64_t& out, uint64_t fallback) {
        const uint32_t v = doc_.member(object, key);
        if (v == kNone) {
            out = fallback;
            return true;
        }
        if (!doc_.index(v, out)) return fail(std::string(key) + " is not a whole number");
        return true;
    }

    bool buffer(size_t i, Buffer*& out) {
        Buffer& b = buffers_[i];
        out = &b;
        if (b.loaded) return true;
        const uint32_t o = buffer_nodes_[i];
        uint64_t length;
        if (!number(o, "byteLength", length, kNone) || length == kNone)
            return fail("buffer " + std::to_string(i) + " without byteLength");
        std::string uri;
        const bool has_uri = doc_.string(doc_.member(o, "uri"), uri);
        if (!has_uri) {
            if (!bin_ || i != 0) return fail("buffer " + std::to_string(i) + " has no data");
            b.data = bin_;
            b.size = bin_size_;
        } else if (uri.rfind("data:", 0) == 0) {
            const size_t comma = uri.find(',');
            if (comma == std::string::npos || comma < 12 ||
                uri.compare(comma - 7, 7, ";base64") != 0 ||
                !base64(std::string_view(uri).substr(comma + 1), b.own))
                return fail("buffer " + std::to_string(i) + " has a malformed data URI");
            b.data = b.own.data();
            b.size = b.own.size();
        } else {
            std::string name;
            if (!local_name(uri, name))
                return fail("buffer " + std::to_string(i) +
                            " names a file outside the model's folder");
            if (!external_) return fail("external buffer " + name.substr(0, 80) + " refused");
            const size_t allowed = in_.limits.max_bytes - std::min(in_.limits.max_bytes, read_);
            std::string why;
            if (!external_(name, allowed, b.own, why))
                return fail("buffer " + name.substr(0, 80) + ": " + why);
            if (b.own.size() > allowed) return fail("external buffers larger than the limit");
            read_ += b.own.size();
            budget_ += 64 * b.own.size();
            b.data = b.own.data();
            b.size = b.own.size();
        }
        if (length > b.size)
            return fail("buffer " + std::to_string(i) + " declares " + std::to_string(length) +
                        " bytes, has " + std::to_string(b.size));
        b.size = size_t(length);
        b.loaded = true;
        return true;
    }

    // Each accessor is read once, however many primitives name it: no file can make the
    // reader walk one large object over and over.
    bool accessor(uint64_t index, Accessor& a, bool indices) {
        const std::string what = "accessor " + std::to_string(index);
        uint8_t& state = accessor_state_[size_t(index)];
        if (state == 0) state = read_accessor(index, accessors_read_[size_t(index)]) ? 1 : 2;
        if (state == 2) return fail(what + " is malformed");
        a = accessors_read_[size_t(index)];
        if (a.comps != (indices ? 1 : 3))
            return fail(what + " is not a list of " + (indices ? "indices" : "3-vectors"));
        if (indices && a.type != 5121 && a.type != 5123 && a.type != 5125)
            return fail(what + " holds indices of a signed or float type");
        return true;
    }

    bool read_accessor(uint64_t index, Accessor& a) {
        const uint32_t o = accessors_[size_t(index)];
        const std::string what = "accessor " + std::to_string(index);
        if (doc_.member(o, "sparse") != kNone) return fail(what + " is sparse (not supported)");
        uint64_t view, offset, count, type;
        if (!ref(o, "bufferView", views_.size(), view, true, what.c_str()) ||
            !number(o, "byteOffset", offset, 0) || !number(o, "count", count, kNone) ||
            !number(o, "componentType", type, kNone))
            return false;
        std::string shape;
        doc_.string(doc_.member(o, "type"), shape);
        a.comps = shape == "SCALAR" ? 1 : shape == "VEC2" ? 2 : shape == "VEC3" ? 3 : 0;
        if (a.comps == 0 || count == kNone || count == 0)
            return fail(what + " is not a list of numbers or 2- or 3-vectors");
        size_t csize;
        switch (type) {
        case 5120:
        case 5121:
            csize = 1;
            break; // (unsigned) byte
        case 5122:
        case 5123:
            csize = 2;
            break; // (unsigned) short
        case 5125:
        case 5126:
            csize = 4;
            break; // unsigned int, float
        default:
            return fail(what + " has component type " + std::to_string(type));
        }
        View& v = views_read_[size_t(view)];
        if (!v.read) {
            const uint32_t vo = views_[size_t(view)];
            if (!ref(vo, "buffer", buffer_nodes_.size(), v.buffer, true, "buffer view") ||
                !number(vo, "byteOffset", v.offset, 0) ||
                !number(vo, "byteLength", v.length, kNone) ||
                !number(vo, "byteStride", v.stride, 0))
                return false;
            v.read = true;
        }
        const uint64_t buf = v.buffer, voffset = v.offset, vlength = v.length;
        uint64_t stride = v.stride;
        Buffer* b;
        if (!buffer(size_t(buf), b)) return false;
        if (vlength == kNone || voffset > b->size || vlength > b->size - voffset)
            return fail("buffer view " + std::to_string(view) + " runs past its buffer");
        const uint64_t elem = csize * uint64_t(a.comps);
        if (stride == 0) stride = elem;
        if (stride < elem || stride > 252)
            return fail("buffer view " + std::to_string(view) + " has a bad stride");
        if (offset > vlength || elem > vlength - offset ||
            count - 1 > (vlength - offset - elem) / stride)
            return fail(what + " of " + std::to_string(count) + " items runs past its view");
        a.data = b->data + voffset + offset;
        a.count = size_t(count);
        a.stride = size_t(stride);
        a.type = uint32_t(type);
        a.normalized = doc_.kind(doc_.member(o, "normalized")) == Kind::True;
        return true;
    }

    static float component(const uint8_t* p, uint32_t type, bool normalized) {
        switch (type) {
        case 5126: {
            float f;
            std::memcpy(&f, p, 4);
            if constexpr (std::endian::native == std::endian::big)
                f = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<uint32_t>(f)));
            return f;
        }
        case 5120:
            return normalized ? std::max(int8_t(p[0]) / 127.0f, -1.0f) : int8_t(p[0]);
        case 5121:
            return normalized ? p[0] / 255.0f : p[0];
        case 5122: {
            const int16_t v = int16_t(p[0] | (p[1] << 8));
            return normalized ? std::max(v / 32767.0f, -1.0f) : v;
        }
        case 5123: {
            const uint16_t v = uint16_t(p[0] | (p[1] << 8));
            return normalized ? v / 65535.0f : v;
        }
        default:
            return float(rd32(p)); // 5125
        }
    }

    static void vectors(const Accessor& a, std::vector<xfile::Vec3>& out) {
        out.resize(a.count);
        const uint8_t* p = a.data;
        const size_t cs = a.type == 5126 || a.type == 5125 ? 4 : a.type >= 5122 ? 2 : 1;
        for (size_t i = 0; i < a.count; ++i, p += a.stride) {
            if (a.type == 5126 && std::endian::native == std::endian::little) {
                std::memcpy(&out[i], p, 12);
            } else {
                out[i] = {component(p, a.type, a.normalized),
                          component(p + cs, a.type, a.normalized),
                          component(p + 2 * cs, a.type, a.normalized)};
            }
        }
    }

    bool charge(size_t items) {
        if (items > budget_) return fail("meshes shown more often than the file's size allows");
        budget_ -= items;
        return true;
    }

    // The primitives of mesh `index`, grouped by the vertex data they share.
    bool mesh(size_t index, Meshes& out) {
        const uint32_t o = meshes_[index];
        std::map<std::pair<uint64_t, uint64_t>, size_t> by_data;
        std::vector<uint32_t> idx;
        for (uint32_t p : doc_.items(doc_.member(o, "primitives"))) {
            uint64_t mode;
            if (!number(p, "mode", mode, 4)) return false;
            if (mode < 4 || mode > 6) continue; // points and lines: nothing to fill
            const uint32_t attrs = doc_.member(p, "attributes");
            if (doc_.member(attrs, "POSITION") == kNone) continue;
            uint64_t pos, nrm, ind;
            if (!ref(attrs, "POSITION", accessors_.size(), pos, true, "primitive") ||
                !ref(attrs, "NORMAL", accessors_.size(), nrm, false, "primitive") ||
                !ref(p, "indices", accessors_.size(), ind, false, "primitive"))
                return false;
            Accessor pa, na{};
            if (!accessor(pos, pa, false)) return false;
            if (nrm != kNone && (!accessor(nrm, na, false) || na.count != pa.count)) {
                in_.error.clear();
                nrm = kNone; // normals that don't fit the positions: make them instead
            }
            auto [it, fresh] = by_data.try_emplace({pos, nrm}, out.size());
            if (fresh) {
                if (!charge(pa.count * (nrm != kNone ? 2 : 1))) return false;
                xfile::PolyMesh& m = out.emplace_back();
                vectors(pa, m.positions);
                for (const xfile::Vec3& v : m.positions)
                    if (!finite3(v))
                        return fail("accessor " + std::to_string(pos) + " is not finite");
                if (nrm != kNone) {
                    vectors(na, m.normals);
                    for (xfile::Vec3& v : m.normals)
                        if (!finite3(v)) v = {0, 0, 1};
                }
            }
            xfile::PolyMesh& m = out[it->second];
            idx.clear();
            if (ind != kNone) {
                Accessor ia;
                if (!accessor(ind, ia, true)) return false;
                if (!charge(ia.count)) return false;
                idx.resize(ia.count);
                const uint8_t* q = ia.data;
                for (size_t i = 0; i < ia.count; ++i, q += ia.stride)
                    idx[i] = ia.type == 5121   ? q[0]
                             : ia.type == 5123 ? uint32_t(q[0] | (q[1] << 8))
                                               : rd32(q);
            } else {
                if (!charge(pa.count)) return false;
                idx.resize(pa.count);
                for (size_t i = 0; i < pa.count; ++i)
                    idx[i] = uint32_t(i);
            }
            triangles(uint32_t(mode), idx, m, nrm != kNone);
        }
        return true;
    }

    static void triangles(uint32_t mode, const std::vector<uint32_t>& v, xfile::PolyMesh& m,
                          bool normals) {
        const size_t n = v.size();
        const size_t tris = mode == 4 ? n / 3 : n >= 3 ? n - 2 : 0;
        m.face_sizes.insert(m.face_sizes.end(), tris, 3);
        auto& pi = m.position_index;
        pi.reserve(pi.size() + 3 * tris);
        for (size_t t = 0; t < tris; ++t) {
            if (mode == 4) {
                pi.insert(pi.end(), {v[3 * t], v[3 * t + 1], v[3 * t + 2]});
            } else if (mode == 5) { // strip: every other triangle turns the other way
                pi.insert(pi.end(), {v[t], v[t + 1 + t % 2], v[t + 2 - t % 2]});
            } else { // fan
                pi.insert(pi.end(), {v[t + 1], v[t + 2], v[0]});
            }
        }
        if (normals) m.normal_index = pi;
    }

    bool local(uint32_t node, size_t i, M4& m) {
        const std::string what = "node " + std::to_string(i);
        auto numbers = [&](const char* key, double* out, size_t n) {
            const uint32_t a = doc_.member(node, key);
            if (a == kNone) return true;
            const std::vector<uint32_t> v = doc_.items(a);
            if (v.size() != n) return fail(what + " has a malformed " + key);
            for (size_t k = 0; k < n; ++k) {
                if (!doc_.is(v[k], Kind::Number) || !std::isfinite(doc_[v[k]].number))
                    return fail(what + " has a malformed " + key);
                out[k] = doc_[v[k]].number;
            }
            return true;
        };
        m = kIdentity;
        if (doc_.member(node, "matrix") != kNone) // column-major columns are our rows
            return numbers("matrix", m.data(), 16);
        double t[3] = {0, 0, 0}, r[4] = {0, 0, 0, 1}, s[3] = {1, 1, 1};
        if (!numbers("translation", t, 3) || !numbers("rotation", r, 4) || !numbers("scale", s, 3))
            return false;
        const double len = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2] + r[3] * r[3]);
        if (len > 0)
            for (double& q : r)
                q /= len;
        else
            r[3] = 1;
        const double x = r[0], y = r[1], z = r[2], w = r[3];
        const double rot[3][3] = {
            {1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
            {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
            {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
        for (int c = 0; c < 3; ++c) {
            for (int row = 0; row < 3; ++row)
                m[size_t(c * 4 + row)] = rot[row][c] * s[c];
            m[size_t(12 + c)] = t[c];
        }
        return true;
    }

    bool scene(Scene& out) {
        // The roots shown: the default scene's, else the first scene's, else every node that
        // is nobody's child; a file without nodes shows its meshes as they are.
        std::vector<uint32_t> scenes = doc_.items(doc_.member(0, "scenes"));
        uint64_t chosen = 0;
        if (!ref(0, "scene", scenes.size(), chosen, false, "the document")) return false;
        std::vector<uint64_t> roots;
        const uint32_t list = chosen != kNone  ? doc_.member(scenes[size_t(chosen)], "nodes")
                              : scenes.empty() ? kNone
                                               : doc_.member(scenes[0], "nodes");
        std::vector<uint8_t> seen(nodes_.size(), 0);
        struct Instance {
            uint64_t mesh;
            M4 matrix;
        };
        std::vector<Instance> shown;
        if (list != kNone || !scenes.empty()) {
            for (uint32_t v : doc_.items(list)) {
                uint64_t n;
                if (!doc_.index(v, n) || n >= nodes_.size())
                    return fail("scene names a missing node");
                roots.push_back(n);
            }
        } else if (!nodes_.empty()) {
            std::vector<uint8_t> child(nodes_.size(), 0);
            for (uint32_t node : nodes_)
                for (uint32_t c : doc_.items(doc_.member(node, "children"))) {
                    uint64_t n;
                    if (doc_.index(c, n) && n < nodes_.size()) child[size_t(n)] = 1;
                }
            for (size_t n = 0; n < nodes_.size(); ++n)
                if (!child[n]) roots.push_back(n);
        } else {
            for (size_t i = 0; i < meshes_.size(); ++i)
                shown.push_back({i, kIdentity});
        }
        // Depth first without recursion; a node reached twice means a loop or a shared child.
        struct Visit {
            uint64_t node;
            int depth;
            M4 parent;
        };
        std::vector<Visit> stack;
        auto push = [&](uint64_t n, int depth, const M4& parent) {
            if (seen[size_t(n)]++) return fail("node " + std::to_string(n) + " is reached twice");
            if (depth > in_.limits.max_depth)
                return fail("nodes nested deeper than " + std::to_string(in_.limits.max_depth));
            stack.push_back({n, depth, parent});
            return true;
        };
        for (auto it = roots.rbegin(); it != roots.rend(); ++it)
            if (!push(*it, 1, kIdentity)) return false;
        while (!stack.empty()) {
            const auto [n, depth, parent] = stack.back();
            stack.pop_back();
            const uint32_t node = nodes_[size_t(n)];
            M4 m;
            if (!local(node, size_t(n), m)) return false;
            m = mul(m, parent);
            uint64_t mesh;
            if (!ref(node, "mesh", meshes_.size(), mesh, false, "node")) return false;
            if (mesh != kNone) shown.push_back({mesh, m});
            const std::vector<uint32_t> kids = doc_.items(doc_.member(node, "children"));
            for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
                uint64_t c;
                if (!doc_.index(*it, c) || c >= nodes_.size())
                    return fail("node " + std::to_string(n) + " has a missing child");
                if (!push(c, depth + 1, m)) return false;
            }
        }

        // Each mesh is read once; the last node showing it takes it, earlier ones copy it.
        std::vector<Meshes> made(meshes_.size());
        std::vector<size_t> uses(meshes_.size(), 0), size(meshes_.size(), 0);
        std::vector<uint8_t> read(meshes_.size(), 0);
        for (const Instance& s : shown)
            ++uses[size_t(s.mesh)];
        for (const Instance& s : shown) {
            const size_t k = size_t(s.mesh);
            if (!read[k]) {
                read[k] = 1;
                if (!mesh(k, made[k])) return false;
                for (const xfile::PolyMesh& m : made[k])
                    size[k] += m.positions.size() + m.normals.size() + 2 * m.position_index.size();
            } else if (!charge(size[k])) {
                return false;
            }
            const bool last = --uses[k] == 0;
            for (xfile::PolyMesh& m : made[k]) {
                if (m.face_sizes.empty()) continue;
                Part& part = out.parts.emplace_back();
                if (last)
                    part.mesh = std::move(m);
                else
                    part.mesh = m;
                part.placed = s.matrix != kIdentity;
                part.matrix = s.matrix;
            }
        }
        size_t faces = 0;
        for (const Part& p : out.parts)
            faces += p.mesh.face_sizes.size();
        if (faces == 0) return fail("no triangles in the scene");
        return true;
    }

    Input& in_;
    const BufferReader& external_;
    json::Document doc_;
    const uint8_t* bin_ = nullptr;
    size_t bin_size_ = 0;
    size_t budget_ = 0; // output items still allowed
    size_t read_ = 0;   // bytes of external buffers
    std::vector<uint32_t> buffer_nodes_, views_, accessors_, meshes_, nodes_;
    std::vector<Buffer> buffers_;
    std::vector<uint8_t> accessor_state_; // 0 not read, 1 read, 2 malformed
    std::vector<Accessor> accessors_read_;
    std::vector<View> views_read_;
};

} // namespace

bool read_gltf(Input& in, bool binary, const BufferReader& buffers, Scene& out) {
    Reader r(in, buffers);
    return r.run(binary, out);
}

} // namespace models::detail
