// Geometry of the default parasol model, built from parametric surfaces.
#include "parasol_mesh.h"

#include <cmath>
#include <functional>

namespace parasol {
namespace {

const double kPi = 3.14159265358979323846;

// Canopy: eight panels, taut between the ribs, the hem rising between rib tips.
const int kPanels = 8;
const double kRadius = 1.0;
const double kCrown = 0.42;     // height of the apex above the hem at a rib
const double kTaut = 0.8;       // 0: round canopy, 1: straight chords between ribs
const double kScallop = 0.07;   // how far the hem rises between ribs (fraction of radius)
const double kSag = 0.03;       // fabric drop between ribs
const double kThickness = 0.01; // gap between outer and inner canopy surfaces

const double kShaftRadius = 0.022;
const double kShaftBottom = -0.75;
const double kGripTop = -0.72, kGripBottom = -1.08, kGripRadius = 0.05;
const double kHookBend = 0.14, kHookRadius = 0.038;

Vec operator+(Vec a, Vec b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec operator*(Vec a, double k) {
    return {a.x * k, a.y * k, a.z * k};
}
double Dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec Cross(Vec a, Vec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double Length(Vec a) {
    return std::sqrt(Dot(a, a));
}
Vec Normalize(Vec a) {
    double l = Length(a);
    return l > 0 ? a * (1.0 / l) : Vec{0, 0, 0};
}

using Surface = std::function<Vec(double u, double v)>;
using Outward = std::function<Vec(Vec p, double u, double v)>;

class Builder {
  public:
    explicit Builder(Mesh& mesh) : mesh_(mesh) {}

    uint32_t Vertex(Vec p, Vec n) {
        mesh_.positions.push_back(p);
        mesh_.normals.push_back(Normalize(n));
        return static_cast<uint32_t>(mesh_.positions.size() - 1);
    }

    // Front side clockwise: (v1 - v0) x (v2 - v0) must agree with the normals.
    void Triangle(uint32_t a, uint32_t b, uint32_t c) {
        const Vec& pa = mesh_.positions[a];
        Vec geometric = Cross(mesh_.positions[b] - pa, mesh_.positions[c] - pa);
        if (Length(geometric) < 1e-12) return; // collapsed at a pole
        Vec shading = mesh_.normals[a] + mesh_.normals[b] + mesh_.normals[c];
        if (Dot(geometric, shading) < 0) std::swap(b, c);
        mesh_.triangles.insert(mesh_.triangles.end(), {a, b, c});
    }

    // A rows x cols grid over the surface; normals from the surface's tangents,
    // turned to the outward side. A back side is the same surface moved in by
    // `inset` and facing the other way.
    void Grid(int rows, int cols, const Surface& surface, const Outward& outward, bool back = false,
              double inset = 0.0) {
        uint32_t first = static_cast<uint32_t>(mesh_.positions.size());
        for (int i = 0; i <= rows; ++i) {
            for (int j = 0; j <= cols; ++j) {
                double u = double(i) / rows, v = double(j) / cols;
                Vec p = surface(u, v);
                Vec n = SurfaceNormal(surface, outward, u, v);
                if (back) {
                    p = p - n * inset;
                    n = n * -1.0;
                }
                Vertex(p, n);
            }
        }
        for (int i = 0; i < rows; ++i) {
            for (int j = 0; j < cols; ++j) {
                uint32_t a = first + i * (cols + 1) + j, b = a + 1;
                uint32_t d = a + (cols + 1), c = d + 1;
                Triangle(a, b, c);
                Triangle(a, c, d);
            }
        }
    }

    // A flat disc closing a tube end: centre plus ring, facing `normal`.
    void Cap(Vec centre, Vec normal, const std::vector<Vec>& ring) {
        uint32_t c = Vertex(centre, normal);
        uint32_t first = static_cast<uint32_t>(mesh_.positions.size());
        for (const Vec& p : ring)
            Vertex(p, normal);
        for (size_t k = 0; k < ring.size(); ++k)
            Triangle(c, first + k, first + (k + 1) % ring.size());
    }

    static Vec SurfaceNormal(const Surface& surface, const Outward& outward, double u, double v) {
        const double h = 1e-4;
        Vec du = surface(std::min(u + h, 1.0), v) - surface(std::max(u - h, 0.0), v);
        Vec dv = surface(u, std::min(v + h, 1.0)) - surface(u, std::max(v - h, 0.0));
        Vec n = Cross(du, dv);
        Vec hint = outward(surface(u, v), u, v);
        if (Length(n) < 1e-9) return Normalize(hint); // pole
        n = Normalize(n);
        return Dot(n, hint) < 0 ? n * -1.0 : n;
    }

  private:
    Mesh& mesh_;
};

// A point of the outer canopy: s runs from the apex (0) to the hem (1), t across
// one panel from rib (0) to rib (1).
Vec CanopyPoint(int panel, double s, double t) {
    double angle = 2 * kPi * (panel + t) / kPanels;
    double half = kPi / kPanels;
    double chord = std::cos(half) / std::cos((t - 0.5) * 2 * half);
    double across = 1.0 + kTaut * (chord - 1.0);
    double reach = s * (1.0 - kScallop * std::sin(kPi * t));
    double r = kRadius * reach * across;
    double y = kCrown * (1.0 - std::pow(reach, 1.7)) - kSag * std::sin(kPi * t) * reach;
    return {r * std::cos(angle), y, r * std::sin(angle)};
}

// The canopy bulges away from a point well below its apex.
Vec CanopyOutward(Vec p, double, double) {
    return p - Vec{0, -1.0, 0};
}

void AddCanopy(Builder& b) {
    for (int k = 0; k < kPanels; ++k) {
        Surface panel = [k](double u, double v) { return CanopyPoint(k, u, v); };
        b.Grid(14, 8, panel, CanopyOutward);
        b.Grid(14, 8, panel, CanopyOutward, true, kThickness);
    }
}

// A tube around a curve lying in a plane with the given normal.
void AddTube(Builder& b, const std::function<Vec(double)>& path, double radius, Vec planeNormal,
             int along, int sides, bool capStart, bool capEnd) {
    auto frame = [&](double u, Vec& e1, Vec& e2) {
        const double h = 1e-4;
        Vec tangent = Normalize(path(std::min(u + h, 1.0)) - path(std::max(u - h, 0.0)));
        e2 = Normalize(planeNormal);
        e1 = Normalize(Cross(e2, tangent));
        return tangent;
    };
    Surface surface = [&](double u, double v) {
        Vec e1, e2;
        frame(u, e1, e2);
        double a = 2 * kPi * v;
        return path(u) + (e1 * std::cos(a) + e2 * std::sin(a)) * radius;
    };
    Outward outward = [&](Vec p, double u, double) { return p - path(u); };
    b.Grid(along, sides, surface, outward);

    auto ring = [&](double u) {
        std::vector<Vec> points;
        for (int j = 0; j < sides; ++j)
            points.push_back(surface(u, double(j) / sides));
        return points;
    };
    Vec e1, e2;
    if (capStart) b.Cap(path(0), frame(0, e1, e2) * -1.0, ring(0));
    if (capEnd) b.Cap(path(1), frame(1, e1, e2), ring(1));
}

Vec Lerp(Vec a, Vec b, double u) {
    return a + (b - a) * u;
}

void AddShaft(Builder& b) {
    Vec bottom{0, kShaftBottom, 0}, top{0, kCrown + 0.01, 0};
    AddTube(
        b, [&](double u) { return Lerp(bottom, top, u); }, kShaftRadius, {0, 0, 1}, 8, 16, false,
        false);
    // Finial: a cone on the apex.
    Surface cone = [](double u, double v) {
        double r = 0.035 * (1.0 - u), a = 2 * kPi * v;
        return Vec{r * std::cos(a), kCrown + 0.14 * u, r * std::sin(a)};
    };
    b.Grid(4, 16, cone, [](Vec p, double, double) { return Vec{p.x, 0.3, p.z}; });
    // Runner: the collar that holds the stretchers.
    Vec low{0, 0.0, 0}, high{0, 0.08, 0};
    AddTube(
        b, [&](double u) { return Lerp(low, high, u); }, 0.045, {0, 0, 1}, 1, 16, true, true);
}

// Ribs follow the panel seams just under the fabric and end in small tips past
// the hem; stretchers join each rib to the runner.
void AddRibs(Builder& b) {
    for (int k = 0; k < kPanels; ++k) {
        double angle = 2 * kPi * k / kPanels;
        Vec plane{-std::sin(angle), 0, std::cos(angle)};
        auto rib = [k](double u) {
            double s = 0.04 + 1.0 * u; // a little past the hem
            Vec p = CanopyPoint(k, std::min(s, 1.0), 0);
            if (s > 1.0) p = p + (p - CanopyPoint(k, 0.99, 0)) * ((s - 1.0) / 0.01);
            return p - Vec{0, 0.022, 0};
        };
        AddTube(b, rib, 0.012, plane, 12, 6, false, true);
        Vec from{0.045 * std::cos(angle), 0.08, 0.045 * std::sin(angle)};
        Vec to = rib(0.5);
        AddTube(
            b, [&](double u) { return Lerp(from, to, u); }, 0.009, plane, 1, 6, false, false);
    }
}

// The handle: a thicker grip on the shaft's end, then a J-shaped hook.
void AddHandle(Builder& b) {
    Vec top{0, kGripTop, 0}, bottom{0, kGripBottom, 0};
    AddTube(
        b, [&](double u) { return Lerp(top, bottom, u); }, kGripRadius, {0, 0, 1}, 4, 20, true,
        false);
    auto hook = [](double u) {
        if (u < 0.1) return Vec{0, kGripBottom + 0.04 - 0.4 * u, 0}; // inside the grip
        double a = kPi * (u - 0.1) / 0.9;
        return Vec{-kHookBend + kHookBend * std::cos(a), kGripBottom - kHookBend * std::sin(a), 0};
    };
    AddTube(b, hook, kHookRadius, {0, 0, 1}, 24, 16, false, true);
}

} // namespace

Mesh Build() {
    Mesh mesh;
    Builder b(mesh);
    AddCanopy(b);
    AddShaft(b);
    AddRibs(b);
    AddHandle(b);
    return mesh;
}

xfile::MeshDesc Describe(const Mesh& mesh) {
    xfile::MeshDesc desc;
    desc.name = "parasol";
    auto single = [](const Vec& v) {
        return xfile::Vec3{static_cast<float>(v.x), static_cast<float>(v.y),
                           static_cast<float>(v.z)};
    };
    for (const Vec& p : mesh.positions)
        desc.positions.push_back(single(p));
    for (const Vec& n : mesh.normals)
        desc.normals.push_back(single(n));
    for (size_t t = 0; t + 2 < mesh.triangles.size(); t += 3) {
        std::vector<uint32_t> face(mesh.triangles.begin() + t, mesh.triangles.begin() + t + 3);
        desc.faces.push_back(face);
        desc.normal_faces.push_back(face); // normals pair with positions one to one
    }
    desc.materials.push_back(xfile::MaterialSlot{});
    desc.face_materials.assign(desc.faces.size(), 0);
    return desc;
}

} // namespace parasol
