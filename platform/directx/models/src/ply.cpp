// PLY: a header of elements and their properties, then the items in ASCII or binary of either
// byte order. The "vertex" element gives positions (x, y, z) and normals when it has nx, ny and
// nz; the "face" element's vertex_indices (or vertex_index) list gives polygons. Every other
// element and property is read past. Counts are checked against the bytes left before anything
// is reserved for them.
#include "readers.h"
#include "text.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace models::detail {
namespace {

enum class Type : uint8_t { I8, U8, I16, U16, I32, U32, F32, F64 };

bool type_of(std::string_view s, Type& t) {
    static const struct {
        const char* a;
        const char* b;
        Type t;
    } names[] = {{"char", "int8", Type::I8},      {"uchar", "uint8", Type::U8},
                 {"short", "int16", Type::I16},   {"ushort", "uint16", Type::U16},
                 {"int", "int32", Type::I32},     {"uint", "uint32", Type::U32},
                 {"float", "float32", Type::F32}, {"double", "float64", Type::F64}};
    for (const auto& n : names)
        if (s == n.a || s == n.b) {
            t = n.t;
            return true;
        }
    return false;
}

size_t size_of(Type t) {
    static const size_t sizes[] = {1, 1, 2, 2, 4, 4, 4, 8};
    return sizes[size_t(t)];
}

struct Property {
    std::string name;
    Type type;
    bool list = false;
    Type count_type = Type::U8;
};

struct Element {
    std::string name;
    uint64_t count = 0;
    std::vector<Property> props;
};

enum class Encoding { Ascii, Little, Big };

// Reads one value of the body, in whichever encoding.
class Body {
  public:
    Body(const uint8_t* p, const uint8_t* e, Encoding enc, Input& in)
        : p_(p), e_(e), enc_(enc), in_(in), text_(p, size_t(e - p)) {
        text_.p = reinterpret_cast<const char*>(p); // no byte-order mark inside a body
    }

    size_t left() const { return enc_ == Encoding::Ascii ? text_.left() : size_t(e_ - p_); }
    bool ascii() const { return enc_ == Encoding::Ascii; }

    bool value(Type t, double& out) {
        if (ascii()) {
            if (!text_.number_any_line(out))
                return in_.fail("PLY value malformed at byte " + std::to_string(offset()));
            return true;
        }
        if (size_t(e_ - p_) < size_of(t)) return in_.fail("PLY data ends early");
        switch (t) {
        case Type::I8:
            out = int8_t(*p_++);
            break;
        case Type::U8:
            out = *p_++;
            break;
        case Type::I16:
            out = int16_t(take<uint16_t>());
            break;
        case Type::U16:
            out = take<uint16_t>();
            break;
        case Type::I32:
            out = int32_t(take<uint32_t>());
            break;
        case Type::U32:
            out = take<uint32_t>();
            break;
        case Type::F32:
            out = std::bit_cast<float>(take<uint32_t>());
            break;
        case Type::F64:
            out = std::bit_cast<double>(take<uint64_t>());
            break;
        }
        return true;
    }

    bool skip(Type t, uint64_t n) {
        if (!ascii()) {
            if (n > (e_ - p_) / size_of(t)) return in_.fail("PLY data ends early");
            p_ += n * size_of(t);
            return true;
        }
        for (double d; n; --n)
            if (!value(t, d)) return false;
        return true;
    }

    // A list's length, checked against the bytes that could hold its items.
    bool length(Type count_type, Type item, uint64_t& n) {
        double d;
        if (!value(count_type, d)) return false;
        if (!(d >= 0 && d <= 4294967295.0) || d != std::floor(d))
            return in_.fail("PLY list length " + std::to_string(d) + " is not a count");
        n = uint64_t(d);
        if (n > left() / (ascii() ? 1 : size_of(item)))
            return in_.fail("PLY list of " + std::to_string(n) + " items longer than the file");
        return true;
    }

    size_t offset() const {
        return ascii() ? size_t(reinterpret_cast<const uint8_t*>(text_.p) - in_.data)
                       : size_t(p_ - in_.data);
    }

  private:
    // The next unsigned value of the body's byte order; the caller checked the bytes are there.
    template <class T> T take() {
        T v;
        std::memcpy(&v, p_, sizeof v);
        p_ += sizeof v;
        if (swap_) {
            if constexpr (sizeof v == 2) v = __builtin_bswap16(v);
            if constexpr (sizeof v == 4) v = __builtin_bswap32(v);
            if constexpr (sizeof v == 8) v = __builtin_bswap64(v);
        }
        return v;
    }

    const uint8_t* p_;
    const uint8_t* e_;
    Encoding enc_;
    bool swap_ = (enc_ == Encoding::Big) == (std::endian::native == std::endian::little);
    Input& in_;
    Text text_;
};

bool read_header(Input& in, Text& t, Encoding& enc, std::vector<Element>& elements) {
    t.next_line(); // "ply"
    bool format = false;
    for (;;) {
        if (t.end()) return in.fail("PLY header without end_header");
        const std::string_view kw = t.word();
        if (kw == "end_header") {
            t.next_line();
            break;
        }
        if (kw == "format") {
            const std::string_view f = t.word();
            if (f == "ascii")
                enc = Encoding::Ascii;
            else if (f == "binary_little_endian")
                enc = Encoding::Little;
            else if (f == "binary_big_endian")
                enc = Encoding::Big;
            else
                return in.fail("PLY format \"" + std::string(f.substr(0, 40)) + "\" unknown");
            format = true;
        } else if (kw == "element") {
            Element& el = elements.emplace_back();
            el.name = t.word();
            if (!t.number(el.count)) return in.fail("PLY element count malformed" + at_line(t));
        } else if (kw == "property") {
            if (elements.empty()) return in.fail("PLY property before any element" + at_line(t));
            Property p;
            std::string_view type = t.word();
            if (type == "list") {
                p.list = true;
                if (!type_of(t.word(), p.count_type) || p.count_type == Type::F32 ||
                    p.count_type == Type::F64)
                    return in.fail("PLY list count type unknown" + at_line(t));
                type = t.word();
            }
            if (!type_of(type, p.type)) return in.fail("PLY property type unknown" + at_line(t));
            p.name = t.word();
            elements.back().props.push_back(std::move(p));
        } else if (!kw.empty() && kw != "comment" && kw != "obj_info") {
            return in.fail("PLY header has \"" + std::string(kw.substr(0, 40)) + "\"" + at_line(t));
        }
        t.next_line();
    }
    if (!format) return in.fail("PLY header without a format line");
    return true;
}

int find(const Element& el, const char* a, const char* b = nullptr) {
    for (size_t i = 0; i < el.props.size(); ++i)
        if (el.props[i].name == a || (b && el.props[i].name == b)) return int(i);
    return -1;
}

} // namespace

bool read_ply(Input& in, Scene& out) {
    Text t(in.data, in.size);
    Encoding enc = Encoding::Ascii;
    std::vector<Element> elements;
    if (!read_header(in, t, enc, elements)) return false;
    const uint8_t* body_start = reinterpret_cast<const uint8_t*>(t.p);
    Body body(body_start, in.data + in.size, enc, in);

    xfile::PolyMesh m;
    bool have_vertices = false, have_faces = false, have_normals = false;
    for (const Element& el : elements) {
        // Smallest item: each scalar's bytes (or "0 " in ASCII) and each list's count.
        size_t item = 0;
        for (const Property& p : el.props)
            item += body.ascii() ? 2 : size_of(p.list ? p.count_type : p.type);
        if (item == 0) {
            if (el.count) return in.fail("PLY element \"" + el.name + "\" has no properties");
            continue;
        }
        if (el.count > (body.left() + 1) / item)
            return in.fail("PLY element \"" + el.name + "\" declares " + std::to_string(el.count) +
                           " items, more than the file holds");

        const bool vertex = el.name == "vertex" && !have_vertices;
        const bool face = el.name == "face" && !have_faces;
        int role[6] = {-1, -1, -1, -1, -1, -1}; // property index -> x y z nx ny nz
        std::vector<int> slot(el.props.size(), -1);
        int list = -1;
        if (vertex) {
            static const char* names[] = {"x", "y", "z", "nx", "ny", "nz"};
            for (int k = 0; k < 6; ++k) {
                role[k] = find(el, names[k]);
                if (role[k] >= 0 && el.props[size_t(role[k])].list) role[k] = -1;
            }
            if (role[0] < 0 || role[1] < 0 || role[2] < 0)
                return in.fail("PLY vertex element without x, y and z");
            have_normals = role[3] >= 0 && role[4] >= 0 && role[5] >= 0;
            for (int k = 0; k < (have_normals ? 6 : 3); ++k)
                slot[size_t(role[k])] = k;
            if (el.count >= 0xfffffff0u) return in.fail("PLY has too many vertices");
            m.positions.resize(size_t(el.count));
            if (have_normals) m.normals.resize(size_t(el.count));
            have_vertices = true;
        } else if (face) {
            list = find(el, "vertex_indices", "vertex_index");
            if (list < 0 || !el.props[size_t(list)].list)
                return in.fail("PLY face element without a vertex_indices list");
            m.face_sizes.reserve(size_t(el.count));
            have_faces = true;
        }

        for (uint64_t i = 0; i < el.count; ++i) {
            float v[6] = {};
            for (size_t k = 0; k < el.props.size(); ++k) {
                const Property& p = el.props[k];
                if (p.list) {
                    uint64_t n;
                    if (!body.length(p.count_type, p.type, n)) return false;
                    if (int(k) != list || n < 3) {
                        if (!body.skip(p.type, n)) return false;
                        continue;
                    }
                    if (n > 0xffffffu) return in.fail("PLY face of more than 16M corners");
                    m.face_sizes.push_back(uint32_t(n));
                    for (uint64_t c = 0; c < n; ++c) {
                        double d;
                        if (!body.value(p.type, d)) return false;
                        m.position_index.push_back(d >= 0 && d < 4294967295.0 ? uint32_t(d)
                                                                              : 0xffffffffu);
                    }
                } else if (slot[k] >= 0) {
                    double d;
                    if (!body.value(p.type, d)) return false;
                    v[slot[k]] = std::fabs(d) <= FLT_MAX ? float(d) : HUGE_VALF; // NaN too
                } else if (!body.skip(p.type, 1)) {
                    return false;
                }
            }
            if (vertex) {
                xfile::Vec3& pos = m.positions[size_t(i)];
                pos = {v[0], v[1], v[2]};
                if (!finite3(pos))
                    return in.fail("PLY vertex " + std::to_string(i) + " is not finite");
                if (have_normals) m.normals[size_t(i)] = {v[3], v[4], v[5]};
            }
        }
    }
    if (!have_vertices || m.face_sizes.empty()) return in.fail("PLY file without faces");
    for (const xfile::Vec3& n : m.normals)
        if (!finite3(n)) have_normals = false; // made afresh rather than trusted in part
    if (have_normals)
        m.normal_index = m.position_index;
    else
        m.normals.clear();
    out.parts.emplace_back().mesh = std::move(m);
    return true;
}

} // namespace models::detail
