// Simplified copies of a mesh for frames where its detail falls below what a pixel shows: made
// once when the mesh is made, chosen per frame by how large the mesh shows.
//
// Each copy is made from the one before with about a quarter of its triangles (a very large
// mesh's first with a sixteenth). Large ones come from vertex clustering: every vertex moves to
// the one of its grid cell nearest the cell's centre, in one pass (the mesh optimiser's own
// clustering searches for its grid over every vertex and triangle several times, costs three
// times as much and strays further); copies of up to 32768 triangles come from the optimiser's
// edge collapse, which keeps a small mesh's shape best. Copies keep vertices of the mesh with
// their normals, so they are lit as the mesh is.
//
// Every copy is measured against the mesh on a sample of its triangles, by area: how far the
// triangles' centres lie from the copy's surface, and how far the copy's blended normals there
// turn from the mesh's. A copy is drawn only where the first stays within a pixel (less on a
// small picture); a copy whose normals turn far enough to change the light visibly is never
// drawn, and no coarser one made.
#include "rm_internal.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <cmath>

namespace dx {
namespace {

constexpr size_t kMinTriangles = 16384;  // smaller meshes are always drawn whole
constexpr size_t kFewest = 256;          // no copy with fewer triangles than this
constexpr size_t kClusterAbove = 400000; // larger meshes lose 15 of 16 triangles at once
constexpr size_t kClusterBelow = 32768;  // smaller copies are made by edge collapse, by halves
constexpr size_t kSamples = 4096;        // triangles of the mesh each copy is measured on
// How far a drawn copy may stray, in pixels: one pixel, less on a small picture, whose outline
// is a larger share of its pixels (an outline that far off is 2 x error / radius of the
// picture, so a 1 % share needs the radius / 200). Below a radius of kMinRadius pixels a few
// pixels are already 1 %: the mesh itself is drawn.
constexpr float kMaxErrorPixels = 1.0f, kMinRadius = 16;
// How far normals may turn, |n - m|: the light (a dot product with a unit direction) then
// changes by at most this share of its range, about 20 of 255 levels.
constexpr float kMaxTurn = 0.08f;

using raster::Vec3;

Vec3 sub(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

float dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

float norm(Vec3 a) {
    return std::sqrt(dot(a, a));
}

Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

bool finite(Vec3 a) {
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

// A mesh or a copy as the steps below read it: vertices, all triangles in one list, and the
// group of the mesh each vertex is drawn in (null: all in the first).
struct View {
    const Vec3* positions;
    const Vec3* normals;
    const uint32_t* groups;
    size_t vertices;
    const uint32_t* indices;
    size_t index_count;
};

// A copy being made: what a View of it reads.
struct Work {
    std::vector<Vec3> positions, normals;
    std::vector<uint32_t> groups, indices;
    View view() const {
        return {positions.data(), normals.data(), groups.empty() ? nullptr : groups.data(),
                positions.size(), indices.data(), indices.size()};
    }
};

// Mean edge length and mean area of the triangles, from at most about 8192 of them.
void measure_triangles(const View& m, float& edge, float& area) {
    double edges = 0, areas = 0;
    size_t n = 0;
    const size_t step = 3 * std::max<size_t>(1, m.index_count / 3 / 8192);
    for (size_t i = 0; i + 2 < m.index_count; i += step) {
        const Vec3 a = m.positions[m.indices[i]], b = m.positions[m.indices[i + 1]],
                   c = m.positions[m.indices[i + 2]];
        const float e = norm(sub(a, b)) + norm(sub(b, c)) + norm(sub(c, a));
        const float t = 0.5f * norm(cross(sub(b, a), sub(c, a)));
        if (std::isfinite(e) && std::isfinite(t)) edges += e, areas += t, ++n;
    }
    edge = n ? float(edges / double(3 * n)) : 0.0f;
    area = n ? float(areas / double(n)) : 0.0f;
}

// Grid cells of points, each packed into one key.
struct Cells {
    Vec3 origin;
    float inverse; // 1 / cell size
    static uint64_t axis(float v, float o, float inverse, int d) {
        // Truncation is the floor: points lie at or above the origin (the lowest corner).
        const float c = std::clamp((v - o) * inverse, 0.0f, float(1 << 20));
        return uint64_t(std::clamp<int64_t>(int64_t(c) + d, 0, (1 << 21) - 1));
    }
    uint64_t key(Vec3 p) const {
        return axis(p.x, origin.x, inverse, 0) << 42 | axis(p.y, origin.y, inverse, 0) << 21 |
               axis(p.z, origin.z, inverse, 0);
    }
    // The 27 cells around p's.
    void near(Vec3 p, uint64_t keys[27]) const {
        for (int i = 0; i < 27; ++i)
            keys[i] = axis(p.x, origin.x, inverse, i % 3 - 1) << 42 |
                      axis(p.y, origin.y, inverse, i / 3 % 3 - 1) << 21 |
                      axis(p.z, origin.z, inverse, i / 9 - 1);
    }
};

// Cell keys to numbers: open addressing in one block, for the few hundred thousand lookups of
// a mesh's copies.
class CellTable {
  public:
    explicit CellTable(size_t expected) {
        size_t n = 16;
        while (n < 2 * expected)
            n *= 2;
        slots_.assign(n, {kEmpty, 0});
    }
    // The value stored for key, or `value` stored now; `added` tells which.
    uint32_t& at(uint64_t key, uint32_t value, bool& added) {
        if (2 * (count_ + 1) > slots_.size()) grow();
        size_t i = slot(key);
        added = slots_[i].first == kEmpty;
        if (added) slots_[i] = {key, value}, ++count_;
        return slots_[i].second;
    }
    const uint32_t* find(uint64_t key) const {
        const size_t i = slot(key);
        return slots_[i].first == kEmpty ? nullptr : &slots_[i].second;
    }

  private:
    static constexpr uint64_t kEmpty = ~uint64_t(0); // keys use 63 bits
    size_t slot(uint64_t key) const {
        const size_t mask = slots_.size() - 1;
        size_t i = size_t((key * 0x9E3779B97F4A7C15ull) >> 20) & mask;
        while (slots_[i].first != kEmpty && slots_[i].first != key)
            i = (i + 1) & mask;
        return i;
    }
    void grow() {
        std::vector<std::pair<uint64_t, uint32_t>> old(slots_.size() * 2, {kEmpty, 0});
        old.swap(slots_);
        for (const auto& e : old)
            if (e.first != kEmpty) slots_[slot(e.first)] = e;
    }
    std::vector<std::pair<uint64_t, uint32_t>> slots_;
    size_t count_ = 0;
};

// The lowest corner of a box around the finite positions.
Vec3 lowest(const std::vector<Vec3>& positions) {
    Vec3 lo{INFINITY, INFINITY, INFINITY};
    for (const Vec3& v : positions)
        if (finite(v)) lo = {std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
    return finite(lo) ? lo : Vec3{0, 0, 0};
}

// Vertex clustering into cells of the given size: every vertex becomes the one of its cell
// nearest the cell's mean position, and triangles whose corners meet are dropped. Indices stay
// the input's.
std::vector<uint32_t> cluster(const View& in, Vec3 origin, float cell) {
    const Cells cells{origin, 1.0f / cell};
    struct Cell {
        Vec3 sum{0, 0, 0}; // then the mean
        uint32_t count = 0, best = 0;
        float distance = INFINITY;
    };
    CellTable slot(in.index_count / 64); // cell key -> index into `found`
    std::vector<Cell> found;
    found.reserve(in.index_count / 64);
    constexpr uint32_t kAlone = 0xFFFFFFFF;        // not finite: a cell of its own
    std::vector<uint32_t> to(in.vertices, kAlone); // the cell, then the vertex it becomes
    for (uint32_t v = 0; v < to.size(); ++v) {
        const Vec3 p = in.positions[v];
        if (!finite(p)) continue;
        bool added = false;
        const uint32_t at = slot.at(cells.key(p), uint32_t(found.size()), added);
        if (added) found.emplace_back();
        Cell& c = found[at];
        c.sum = {c.sum.x + p.x, c.sum.y + p.y, c.sum.z + p.z};
        ++c.count;
        to[v] = at;
    }
    for (Cell& c : found)
        c.sum = {c.sum.x / float(c.count), c.sum.y / float(c.count), c.sum.z / float(c.count)};
    for (uint32_t v = 0; v < to.size(); ++v) {
        if (to[v] == kAlone) continue;
        Cell& c = found[to[v]];
        const Vec3 d = sub(in.positions[v], c.sum);
        if (dot(d, d) < c.distance) c.distance = dot(d, d), c.best = v;
    }
    for (uint32_t v = 0; v < to.size(); ++v)
        to[v] = to[v] == kAlone ? v : found[to[v]].best;
    std::vector<uint32_t> out;
    out.reserve(in.index_count / 8);
    for (size_t i = 0; i + 2 < in.index_count; i += 3) {
        const uint32_t a = to[in.indices[i]], b = to[in.indices[i + 1]], c = to[in.indices[i + 2]];
        if (a != b && b != c && c != a) out.push_back(a), out.push_back(b), out.push_back(c);
    }
    return out;
}

// The copy's own vertices: those `indices` (numbered as in `from`) use, in order of first use.
Work compact(const View& from, const std::vector<uint32_t>& indices) {
    constexpr uint32_t kUnused = 0xFFFFFFFF;
    std::vector<uint32_t> at(from.vertices, kUnused);
    Work out;
    out.indices.reserve(indices.size());
    for (uint32_t v : indices) {
        if (at[v] == kUnused) {
            at[v] = uint32_t(out.positions.size());
            out.positions.push_back(from.positions[v]);
            out.normals.push_back(from.normals[v]);
            if (from.groups) out.groups.push_back(from.groups[v]);
        }
        out.indices.push_back(at[v]);
    }
    return out;
}

// A value measured at a point of the mesh, and the area the point stands for.
struct Sample {
    float value, area;
};

// The value the samples of `share` of the area stay within (samples reordered).
float within(std::vector<Sample>& samples, double share) {
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.value < b.value; });
    double total = 0;
    for (const Sample& s : samples)
        total += s.area;
    double sum = 0;
    for (const Sample& s : samples)
        if ((sum += s.area) >= share * total) return s.value;
    return samples.empty() ? 0 : samples.back().value;
}

// The point of triangle abc nearest p, as weights of a, b and c.
Vec3 nearest_on(Vec3 p, Vec3 a, Vec3 b, Vec3 c) {
    const Vec3 ab = sub(b, a), ac = sub(c, a), ap = sub(p, a);
    const float d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0) return {1, 0, 0};
    const Vec3 bp = sub(p, b);
    const float d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) return {0, 1, 0};
    const float vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) {
        const float v = d1 / (d1 - d3);
        return {1 - v, v, 0};
    }
    const Vec3 cp = sub(p, c);
    const float d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) return {0, 0, 1};
    const float vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) {
        const float w = d2 / (d2 - d6);
        return {1 - w, 0, w};
    }
    const float va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        const float w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return {0, 1 - w, w};
    }
    const float denom = va + vb + vc;
    if (!(std::fabs(denom) > 0)) return {1, 0, 0}; // degenerate: its first corner
    const float v = vb / denom, w = vc / denom;
    return {1 - v - w, v, w};
}

Vec3 blend(Vec3 w, Vec3 a, Vec3 b, Vec3 c) {
    return {w.x * a.x + w.y * b.x + w.z * c.x, w.x * a.y + w.y * b.y + w.z * c.y,
            w.x * a.z + w.y * b.z + w.z * c.z};
}

// A triangle of the mesh a copy is measured at: its centre, its area (the pixels it stands
// for) and its normal (its corners' blended).
struct Probe {
    Vec3 centre, normal;
    float area;
};

// About kSamples triangles spread over the mesh, taken once for all its copies: a pass over a
// large mesh's memory costs more than measuring a small copy.
std::vector<Probe> probes(const View& mesh) {
    std::vector<Probe> out;
    const size_t n = mesh.index_count / 3, step = std::max<size_t>(1, n / kSamples);
    out.reserve(n / step + 1);
    for (size_t s = 0; s < n; s += step) {
        const uint32_t* f = &mesh.indices[s * 3];
        const Vec3 fa = mesh.positions[f[0]], fb = mesh.positions[f[1]], fc = mesh.positions[f[2]];
        const Vec3 p{(fa.x + fb.x + fc.x) / 3, (fa.y + fb.y + fc.y) / 3, (fa.z + fb.z + fc.z) / 3};
        const float area = 0.5f * norm(cross(sub(fb, fa), sub(fc, fa)));
        const Vec3 np =
            blend({1, 1, 1}, mesh.normals[f[0]], mesh.normals[f[1]], mesh.normals[f[2]]);
        const float length = norm(np);
        if (finite(p) && std::isfinite(area) && length > 0)
            out.push_back({p, {np.x / length, np.y / length, np.z / length}, area});
    }
    return out;
}

// How the copy meets the mesh at its probes: from each probe's centre, the nearest point of
// the copy's triangles around its nearest vertices. `error`: how far the centres lie from those
// points; `turn`: |n - m| of the probe's normal and the copy's normal blended there; each the
// value that 99 % of the area stays within.
void measure(const std::vector<Probe>& mesh, const View& copy, Vec3 origin, float edge,
             float& error, float& turn) {
    const Cells cells{origin, 1.0f / edge};
    std::vector<std::pair<uint64_t, uint32_t>> sorted;
    sorted.reserve(copy.vertices);
    for (uint32_t v = 0; v < copy.vertices; ++v)
        if (finite(copy.positions[v])) sorted.push_back({cells.key(copy.positions[v]), v});
    std::sort(sorted.begin(), sorted.end());
    CellTable start(sorted.size()); // cell -> first entry in `sorted`
    for (uint32_t i = 0; i < sorted.size(); ++i) {
        bool added = false;
        start.at(sorted[i].first, i, added);
    }
    // The triangles around each vertex of the copy.
    std::vector<uint32_t> first(copy.vertices + 1, 0), around(copy.index_count);
    for (size_t i = 0; i < copy.index_count; ++i)
        ++first[copy.indices[i] + 1];
    for (size_t v = 0; v < copy.vertices; ++v)
        first[v + 1] += first[v];
    std::vector<uint32_t> fill(first.begin(), first.end() - 1);
    for (size_t i = 0; i < copy.index_count; ++i)
        around[fill[copy.indices[i]]++] = uint32_t(i / 3);

    std::vector<Sample> off, turns;
    std::vector<std::pair<uint32_t, float>> near; // vertex, squared distance
    for (const auto& [p, np, area] : mesh) {
        // The copy's vertices in the cells around p (cells as large as the copy's edges, so its
        // nearest vertex is among them); the triangles around those nearly as near as the
        // nearest (a position may repeat) hold its nearest point.
        uint64_t keys[27];
        cells.near(p, keys);
        near.clear();
        float best = INFINITY;
        for (uint64_t key : keys) {
            const uint32_t* at = start.find(key);
            for (uint32_t i = at ? *at : uint32_t(sorted.size());
                 i < sorted.size() && sorted[i].first == key; ++i) {
                const Vec3 d = sub(copy.positions[sorted[i].second], p);
                near.push_back({sorted[i].second, dot(d, d)});
                best = std::min(best, dot(d, d));
            }
        }
        float gap = INFINITY, change = 2; // nothing of the copy nearby: as bad as can be
        for (const auto& [v, d2] : near) {
            if (!(d2 <= 4 * best + 1e-12f)) continue;
            for (uint32_t k = first[v]; k < first[v + 1]; ++k) {
                const uint32_t* t = &copy.indices[size_t(around[k]) * 3];
                const Vec3 a = copy.positions[t[0]], b = copy.positions[t[1]],
                           c = copy.positions[t[2]];
                const Vec3 w = nearest_on(p, a, b, c);
                const float d = norm(sub(p, blend(w, a, b, c)));
                if (!(d < gap)) continue;
                gap = d;
                const Vec3 m = blend(w, copy.normals[t[0]], copy.normals[t[1]], copy.normals[t[2]]);
                const float length = norm(m);
                change = length > 0 ? norm(sub(np, {m.x / length, m.y / length, m.z / length})) : 2;
            }
        }
        off.push_back({gap, area});
        turns.push_back({change, area});
    }
    error = within(off, 0.99);
    turn = within(turns, 0.99);
}

} // namespace

void add_detail_levels(RenderMesh& mesh) {
    mesh.levels.clear();
    const size_t vertices = mesh.positions.size();
    if (full_detail() || mesh.normals.size() != vertices || mesh.groups.empty()) return;
    // All triangles in one list (the only group's own when there is one), and each vertex's
    // group when there are more.
    std::vector<uint32_t> all, groups;
    const std::vector<uint32_t>* indices = &mesh.groups[0].indices;
    if (mesh.groups.size() > 1) {
        groups.assign(vertices, 0);
        for (uint32_t g = 0; g < mesh.groups.size(); ++g) {
            for (uint32_t v : mesh.groups[g].indices)
                if (v < vertices) groups[v] = g;
            all.insert(all.end(), mesh.groups[g].indices.begin(), mesh.groups[g].indices.end());
        }
        indices = &all;
    }
    const View full{mesh.positions.data(),
                    mesh.normals.data(),
                    groups.empty() ? nullptr : groups.data(),
                    vertices,
                    indices->data(),
                    indices->size()};
    if (full.index_count / 3 < kMinTriangles ||
        !std::all_of(indices->begin(), indices->end(), [&](uint32_t v) { return v < vertices; }))
        return;
    float area = 0;
    measure_triangles(full, mesh.edge, area);
    if (!(mesh.edge > 0)) return;
    const Vec3 lo = lowest(mesh.positions);
    Vec3 hi = lo;
    for (const Vec3& p : mesh.positions)
        if (finite(p)) hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    mesh.centre = {(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
    float reach = 0; // squared
    for (const Vec3& p : mesh.positions) {
        const Vec3 d = sub(p, mesh.centre);
        if (finite(p)) reach = std::max(reach, dot(d, d));
    }
    mesh.radius = std::sqrt(reach);

    const std::vector<Probe> at = probes(full);
    Work work; // the last copy made
    View from = full;
    while (from.index_count / 3 >= 4 * kFewest) {
        const size_t triangles = from.index_count / 3;
        std::vector<uint32_t> kept;
        if (triangles > kClusterBelow) {
            // Cells for a quarter of the triangles (a sixteenth of a very large mesh's): a
            // surface of area A crosses about 1.5 A / c^2 cells of size c, and a mesh has about
            // two triangles per vertex.
            float edge = 0, mean_area = 0;
            measure_triangles(from, edge, mean_area);
            const double area = double(mean_area) * double(triangles);
            const double share = triangles > kClusterAbove ? 32 : 8;
            kept = cluster(from, lo, float(std::sqrt(1.5 * area / (double(triangles) / share))));
        } else {
            // Half the triangles a step: with a quarter, a picture whose size fell between two
            // copies' errors was drawn from one up to four times as dense as it needed.
            kept.resize(from.index_count);
            kept.resize(meshopt_simplify(kept.data(), from.indices, from.index_count,
                                         &from.positions[0].x, from.vertices, sizeof(Vec3),
                                         from.index_count / 2, 1.0f, 0, nullptr));
        }
        // Stop where simplifying no longer pays.
        if (kept.size() / 3 < kFewest || kept.size() > from.index_count * 3 / 4) break;
        work = compact(from, kept);
        from = work.view();

        DetailLevel level;
        measure_triangles(from, level.edge, area);
        measure(at, from, lo, std::max(level.edge, mesh.edge), level.error, level.turn);
        if (!(level.turn <= kMaxTurn)) break;
        level.positions = work.positions;
        level.normals = work.normals;
        level.indices.resize(mesh.groups.size());
        if (work.groups.empty()) {
            level.indices[0] = work.indices;
        } else {
            for (size_t i = 0; i + 2 < work.indices.size(); i += 3) {
                std::vector<uint32_t>& to = level.indices[work.groups[work.indices[i]]];
                to.insert(to.end(), work.indices.begin() + ptrdiff_t(i),
                          work.indices.begin() + ptrdiff_t(i) + 3);
            }
        }
        mesh.levels.push_back(std::move(level));
    }
}

int pick_detail_level(const RenderMesh& mesh, const raster::Mat4& m,
                      const raster::Projection& projection) {
    if (mesh.levels.empty()) return -1;
    // The largest stretch of the placement, and the mesh's nearest depth.
    float stretch = 0;
    for (int r = 0; r < 3; ++r)
        stretch = std::max(stretch, norm({m.m[r][0], m.m[r][1], m.m[r][2]}));
    const Vec3 c = mesh.centre;
    const float z = c.x * m.m[0][2] + c.y * m.m[1][2] + c.z * m.m[2][2] + m.m[3][2];
    const float nearest = z - mesh.radius * stretch;
    if (!(nearest > projection.front)) return -1;
    const float pixels =
        std::max(std::fabs(projection.scale_x), std::fabs(projection.scale_y)) * stretch / nearest;
    if (!std::isfinite(pixels)) return -1;
    const float radius = mesh.radius * pixels;
    if (radius < kMinRadius) return -1;
    const float allowed = std::min(radius / 200.0f, kMaxErrorPixels);
    int pick = -1;
    for (int i = 0; i < int(mesh.levels.size()); ++i)
        if (mesh.levels[size_t(i)].error * pixels <= allowed) pick = i;
    return pick;
}

} // namespace dx
