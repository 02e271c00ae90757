#include <xfile/xwriter.h>

#include "binary_tokens.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <zlib.h>

namespace xfile {
namespace {

using detail::BinTok;

// The writer speaks in the members of the standard templates; the text form adds the usual
// punctuation, the binary form packs runs of numbers into list tokens.
class Out {
  public:
    virtual ~Out() = default;
    virtual void begin(const char* ident, const std::string& name) = 0;
    virtual void end() = 0;
    virtual void ref(const std::string& name) = 0;
    virtual void string(const std::string& s) = 0;
    virtual void count(uint32_t n) = 0;
    virtual void ints(const std::vector<uint32_t>& v) = 0;
    virtual void faces(const std::vector<std::vector<uint32_t>>& f) = 0;
    virtual void vectors(const float* v, size_t n, int dims) = 0; // array of n structs
    virtual void color(const float* v, int dims) = 0;             // one struct member
    virtual void scalar(float f) = 0;
    virtual void matrix(const float* m) = 0;
    virtual void templates() = 0;
};

class TextOut : public Out {
  public:
    explicit TextOut(std::string& s) : s_(s) {}
    void begin(const char* ident, const std::string& name) override {
        indent();
        s_ += ident;
        if (!name.empty()) s_ += ' ', s_ += name;
        s_ += " {\n";
        ++depth_;
    }
    void end() override {
        --depth_;
        indent();
        s_ += "}\n";
    }
    void ref(const std::string& name) override {
        indent();
        s_ += "{ " + name + " }\n";
    }
    void string(const std::string& v) override {
        indent();
        s_ += '"' + v + "\";\n";
    }
    void count(uint32_t n) override {
        indent();
        num(n);
        s_ += ";\n";
    }
    void ints(const std::vector<uint32_t>& v) override {
        indent();
        for (size_t i = 0; i < v.size(); ++i) {
            num(v[i]);
            s_ += i + 1 < v.size() ? "," : ";";
        }
        s_ += v.empty() ? ";\n" : ";\n";
    }
    void faces(const std::vector<std::vector<uint32_t>>& f) override {
        for (size_t i = 0; i < f.size(); ++i) {
            indent();
            num(uint32_t(f[i].size()));
            s_ += ';';
            for (size_t k = 0; k < f[i].size(); ++k) {
                num(f[i][k]);
                s_ += k + 1 < f[i].size() ? "," : ";";
            }
            s_ += i + 1 < f.size() ? ",\n" : ";\n";
        }
        if (f.empty()) indent(), s_ += ";\n";
    }
    void vectors(const float* v, size_t n, int dims) override {
        for (size_t i = 0; i < n; ++i) {
            indent();
            for (int d = 0; d < dims; ++d) {
                num(v[i * size_t(dims) + size_t(d)]);
                s_ += ';';
            }
            s_ += i + 1 < n ? ",\n" : ";\n";
        }
        if (!n) indent(), s_ += ";\n";
    }
    void color(const float* v, int dims) override {
        indent();
        for (int d = 0; d < dims; ++d)
            num(v[d]), s_ += ';';
        s_ += ";\n";
    }
    void scalar(float f) override {
        indent();
        num(f);
        s_ += ";\n";
    }
    void matrix(const float* m) override {
        indent();
        for (int i = 0; i < 16; ++i)
            num(m[i]), s_ += i < 15 ? "," : ";;\n";
    }
    void templates() override {
        s_ += "template Vector {\n <3d82ab5e-62da-11cf-ab39-0020af71e433>\n FLOAT x;\n"
              " FLOAT y;\n FLOAT z;\n}\n\n"
              "template MeshFace {\n <3d82ab5f-62da-11cf-ab39-0020af71e433>\n"
              " DWORD nFaceVertexIndices;\n array DWORD faceVertexIndices[nFaceVertexIndices];\n"
              "}\n\n"
              "template Mesh {\n <3d82ab44-62da-11cf-ab39-0020af71e433>\n DWORD nVertices;\n"
              " array Vector vertices[nVertices];\n DWORD nFaces;\n"
              " array MeshFace faces[nFaces];\n [...]\n}\n\n";
    }

  private:
    void indent() { s_.append(size_t(depth_), ' '); }
    void num(uint32_t v) {
        char b[16];
        auto r = std::to_chars(b, b + sizeof b, v);
        s_.append(b, r.ptr);
    }
    void num(float f) {
        char b[32];
        auto r = std::to_chars(b, b + sizeof b, f);
        s_.append(b, r.ptr);
    }
    std::string& s_;
    int depth_ = 0;
};

class BinaryOut : public Out {
  public:
    BinaryOut(std::string& s, bool doubles, size_t chunk)
        : s_(s), doubles_(doubles), chunk_(chunk) {}
    ~BinaryOut() override { flush(); }
    void begin(const char* ident, const std::string& name) override {
        flush();
        name_tok(ident);
        if (!name.empty()) name_tok(name);
        tok(BinTok::OBrace);
    }
    void end() override {
        flush();
        tok(BinTok::CBrace);
    }
    void ref(const std::string& name) override {
        flush();
        tok(BinTok::OBrace);
        name_tok(name);
        tok(BinTok::CBrace);
    }
    void string(const std::string& v) override {
        flush();
        tok(BinTok::String);
        u32(uint32_t(v.size()));
        s_ += v;
        tok(BinTok::Semicolon);
    }
    void count(uint32_t n) override { int_(n); }
    void ints(const std::vector<uint32_t>& v) override {
        for (uint32_t x : v)
            int_(x);
    }
    void faces(const std::vector<std::vector<uint32_t>>& f) override {
        for (const auto& face : f) {
            int_(uint32_t(face.size()));
            for (uint32_t x : face)
                int_(x);
        }
    }
    void vectors(const float* v, size_t n, int dims) override {
        for (size_t i = 0; i < n * size_t(dims); ++i)
            float_(v[i]);
    }
    void color(const float* v, int dims) override {
        for (int i = 0; i < dims; ++i)
            float_(v[i]);
    }
    void scalar(float f) override { float_(f); }
    void matrix(const float* m) override {
        for (int i = 0; i < 16; ++i)
            float_(m[i]);
    }
    void templates() override {
        flush();
        tok(BinTok::Template);
        name_tok("Vector");
        tok(BinTok::OBrace);
        guid();
        for (const char* n : {"x", "y", "z"}) {
            tok(BinTok::Float);
            name_tok(n);
            tok(BinTok::Semicolon);
        }
        tok(BinTok::CBrace);
        tok(BinTok::Template);
        name_tok("Mesh");
        tok(BinTok::OBrace);
        guid();
        tok(BinTok::Dword);
        name_tok("nVertices");
        tok(BinTok::Semicolon);
        tok(BinTok::Array);
        name_tok("Vector");
        name_tok("vertices");
        tok(BinTok::OBracket);
        name_tok("nVertices");
        tok(BinTok::CBracket);
        tok(BinTok::Semicolon);
        tok(BinTok::OBracket);
        tok(BinTok::Dot);
        tok(BinTok::Dot);
        tok(BinTok::Dot);
        tok(BinTok::CBracket);
        tok(BinTok::CBrace);
    }

  private:
    void tok(BinTok t) {
        const uint16_t v = uint16_t(t);
        s_.append(reinterpret_cast<const char*>(&v), 2);
    }
    void u32(uint32_t v) { s_.append(reinterpret_cast<const char*>(&v), 4); }
    void guid() {
        tok(BinTok::Guid);
        s_.append(16, '\x5a');
    }
    void name_tok(const std::string& n) {
        tok(BinTok::Name);
        u32(uint32_t(n.size()));
        s_ += n;
    }
    void int_(uint32_t v) {
        if (!floats_.empty()) flush();
        ints_.push_back(v);
    }
    void float_(float f) {
        if (!ints_.empty()) flush();
        floats_.push_back(f);
    }
    void flush() {
        size_t step = chunk_ ? chunk_ : std::max<size_t>(1, ints_.size() + floats_.size());
        for (size_t i = 0; i < ints_.size(); i += step) {
            size_t n = std::min(step, ints_.size() - i);
            tok(BinTok::IntegerList);
            u32(uint32_t(n));
            s_.append(reinterpret_cast<const char*>(ints_.data() + i), n * 4);
        }
        for (size_t i = 0; i < floats_.size(); i += step) {
            size_t n = std::min(step, floats_.size() - i);
            tok(BinTok::FloatList);
            u32(uint32_t(n));
            for (size_t k = 0; k < n; ++k) {
                if (doubles_) {
                    double d = floats_[i + k];
                    s_.append(reinterpret_cast<const char*>(&d), 8);
                } else {
                    s_.append(reinterpret_cast<const char*>(&floats_[i + k]), 4);
                }
            }
        }
        ints_.clear();
        floats_.clear();
    }
    std::string& s_;
    bool doubles_;
    size_t chunk_;
    std::vector<uint32_t> ints_;
    std::vector<float> floats_;
};

void material_body(Out& o, const Material& m) {
    float rgba[4] = {m.r, m.g, m.b, m.a};
    o.color(rgba, 4);
    o.scalar(m.power);
    o.color(&m.specular.x, 3);
    o.color(&m.emissive.x, 3);
    if (!m.texture.empty()) {
        o.begin("TextureFilename", {});
        o.string(m.texture);
        o.end();
    }
}

void named_material(Out& o, const NamedMaterial& m) {
    o.begin("Material", m.name);
    material_body(o, m.material);
    o.end();
}

void mesh(Out& o, const MeshDesc& m, size_t index) {
    for (size_t i = 0; i < m.frames.size(); ++i) {
        o.begin("Frame", "Frame" + std::to_string(index) + "_" + std::to_string(i));
        o.begin("FrameTransformMatrix", {});
        o.matrix(m.frames[i].data());
        o.end();
    }
    o.begin("Mesh", m.name);
    o.count(uint32_t(m.positions.size()));
    o.vectors(reinterpret_cast<const float*>(m.positions.data()), m.positions.size(), 3);
    o.count(uint32_t(m.faces.size()));
    o.faces(m.faces);
    if (!m.normals.empty()) {
        o.begin("MeshNormals", {});
        o.count(uint32_t(m.normals.size()));
        o.vectors(reinterpret_cast<const float*>(m.normals.data()), m.normals.size(), 3);
        o.count(uint32_t(m.normal_faces.size()));
        o.faces(m.normal_faces);
        o.end();
    }
    if (!m.texcoords.empty()) {
        o.begin("MeshTextureCoords", {});
        o.count(uint32_t(m.texcoords.size()));
        o.vectors(reinterpret_cast<const float*>(m.texcoords.data()), m.texcoords.size(), 2);
        o.end();
    }
    if (!m.materials.empty()) {
        o.begin("MeshMaterialList", {});
        o.count(uint32_t(m.materials.size()));
        o.count(uint32_t(m.face_materials.size()));
        o.ints(m.face_materials);
        for (const MaterialSlot& s : m.materials) {
            if (!s.ref.empty()) {
                o.ref(s.ref);
            } else {
                o.begin("Material", {});
                material_body(o, s.material);
                o.end();
            }
        }
        o.end();
    }
    o.end();
    for (size_t i = 0; i < m.frames.size(); ++i)
        o.end();
}

void put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

// MSZIP: blocks of raw deflate, each primed with the previous block's data.
void compress(const std::string& body, std::vector<uint8_t>& out, const WriteOptions& o) {
    uint32_t total = uint32_t(body.size() + 16);
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(total >> (8 * i)));
    size_t block = std::clamp<size_t>(o.block_size, 1, 32768);
    z_stream z{};
    deflateInit2(&z, std::clamp(o.compression_level, 0, 9), Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> buf(deflateBound(&z, uLong(block)) + 64);
    for (size_t pos = 0; pos < body.size(); pos += block) {
        size_t n = std::min(block, body.size() - pos);
        deflateReset(&z);
        if (pos)
            deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(body.data() + pos - block),
                                 uInt(block));
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data() + pos));
        z.avail_in = uInt(n);
        z.next_out = buf.data();
        z.avail_out = uInt(buf.size());
        deflate(&z, Z_FINISH);
        size_t c = buf.size() - z.avail_out;
        put16(out, uint32_t(n));
        put16(out, uint32_t(c + 2));
        out.push_back('C');
        out.push_back('K');
        out.insert(out.end(), buf.data(), buf.data() + c);
    }
    deflateEnd(&z);
}

} // namespace

std::vector<uint8_t> write(const FileDesc& file, Format format, const WriteOptions& options) {
    bool text = format == Format::Text || format == Format::TextZip;
    bool zip = format == Format::TextZip || format == Format::BinaryZip;
    std::string body;
    {
        TextOut t(body);
        BinaryOut b(body, format == Format::Binary64, options.binary_list_chunk);
        Out& o = text ? static_cast<Out&>(t) : static_cast<Out&>(b);
        if (text) body += '\n';
        if (options.templates) o.templates();
        for (const NamedMaterial& m : file.materials)
            named_material(o, m);
        for (size_t i = 0; i < file.meshes.size(); ++i)
            mesh(o, file.meshes[i], i);
        for (const NamedMaterial& m : file.trailing_materials)
            named_material(o, m);
    }
    const char* kind = format == Format::Text        ? "txt "
                       : format == Format::TextZip   ? "tzip"
                       : format == Format::BinaryZip ? "bzip"
                                                     : "bin ";
    std::string header =
        std::string("xof 0303") + kind + (format == Format::Binary64 ? "0064" : "0032");
    std::vector<uint8_t> out(header.begin(), header.end());
    if (zip) {
        compress(body, out, options);
    } else {
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

std::vector<uint8_t> write(const MeshDesc& m, Format format, const WriteOptions& options) {
    FileDesc f;
    f.meshes.push_back(m);
    return write(f, format, options);
}

bool save(const char* path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

MeshDesc make_uv_sphere(int approx_triangles, float radius) {
    // Rings of latitude R and slices S = 2R give 2S(R - 1) = 4R(R - 1) triangles.
    double t = std::max(approx_triangles, 8);
    int rings = std::max(2, int(std::lround((1 + std::sqrt(1 + t)) / 2)));
    int slices = 2 * rings;
    const double pi = 3.14159265358979323846;
    MeshDesc m;
    m.name = "Sphere";
    m.positions.push_back({0, radius, 0});
    for (int i = 1; i < rings; ++i) {
        double th = pi * i / rings;
        for (int j = 0; j < slices; ++j) {
            double ph = 2 * pi * j / slices;
            m.positions.push_back({float(radius * std::sin(th) * std::cos(ph)),
                                   float(radius * std::cos(th)),
                                   float(radius * std::sin(th) * std::sin(ph))});
        }
    }
    m.positions.push_back({0, -radius, 0});
    uint32_t south = uint32_t(m.positions.size() - 1);
    auto at = [slices](int ring, int j) {
        return uint32_t(1 + (ring - 1) * slices + (j % slices));
    };
    for (int j = 0; j < slices; ++j)
        m.faces.push_back({0, at(1, j + 1), at(1, j)});
    for (int i = 1; i + 1 < rings; ++i)
        for (int j = 0; j < slices; ++j) {
            uint32_t a = at(i, j), b = at(i, j + 1), c = at(i + 1, j + 1), d = at(i + 1, j);
            m.faces.push_back({a, b, c});
            m.faces.push_back({a, c, d});
        }
    for (int j = 0; j < slices; ++j)
        m.faces.push_back({at(rings - 1, j), at(rings - 1, j + 1), south});
    for (const Vec3& p : m.positions)
        m.normals.push_back({p.x / radius, p.y / radius, p.z / radius});
    m.normal_faces = m.faces;
    return m;
}

} // namespace xfile
