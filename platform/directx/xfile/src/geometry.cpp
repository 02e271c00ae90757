#include "geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace xfile::detail {

Vec3 unit(const D3& v, const Vec3& fallback) {
    const double len = std::sqrt(dot(v, v));
    if (!(len > 1e-30) || !std::isfinite(len)) return fallback;
    return {float(v.x / len), float(v.y / len), float(v.z / len)};
}

void Triangulator::fan_ring(uint32_t start, uint32_t m, uint32_t n, std::vector<Corner3>& out) {
    uint32_t a = start, b = next_[a];
    for (uint32_t k = 0; k + 2 < m; ++k) {
        uint32_t c = next_[b];
        out.push_back({a, b, c, edge_bits(a, b, c, n)});
        b = c;
    }
}

void Triangulator::run(const Vec3* pos, const uint32_t* idx, uint32_t n,
                       std::vector<Corner3>& out) {
    if (n == 3) {
        out.push_back({0, 1, 2, 7});
        return;
    }
    prev_.resize(n);
    next_.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
        prev_[i] = i ? i - 1 : n - 1;
        next_[i] = i + 1 == n ? 0 : i + 1;
    }
    // Plane of the polygon (Newell), then work in 2D on the two other axes.
    double nx = 0, ny = 0, nz = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const Vec3& a = pos[idx[i]];
        const Vec3& b = pos[idx[next_[i]]];
        nx += (double(a.y) - b.y) * (double(a.z) + b.z);
        ny += (double(a.z) - b.z) * (double(a.x) + b.x);
        nz += (double(a.x) - b.x) * (double(a.y) + b.y);
    }
    double ax = std::fabs(nx), ay = std::fabs(ny), az = std::fabs(nz);
    double big = std::max(ax, std::max(ay, az));
    if (!(big > 0) || !std::isfinite(big)) {
        fan_ring(0, n, n, out);
        return;
    }
    x_.resize(n);
    y_.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
        const Vec3& p = pos[idx[i]];
        if (big == ax)
            x_[i] = p.y, y_[i] = p.z;
        else if (big == ay)
            x_[i] = p.z, y_[i] = p.x;
        else
            x_[i] = p.x, y_[i] = p.y;
    }
    double area = 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t j = next_[i];
        area += x_[i] * y_[j] - x_[j] * y_[i];
    }
    if (!(area != 0) || !std::isfinite(area)) {
        fan_ring(0, n, n, out);
        return;
    }
    const double sgn = area > 0 ? 1 : -1;
    auto turn = [&](uint32_t a, uint32_t b, uint32_t c) {
        return sgn * ((x_[b] - x_[a]) * (y_[c] - y_[b]) - (y_[b] - y_[a]) * (x_[c] - x_[b]));
    };
    bool convex = true;
    for (uint32_t i = 0; i < n && convex; ++i)
        convex = turn(prev_[i], i, next_[i]) >= 0;
    if (convex) {
        fan_ring(0, n, n, out);
        return;
    }

    // Ear clipping. Only reflex vertices can lie inside an ear; the point tests are budgeted
    // so a huge concave polygon costs linear time (its remainder then becomes a fan).
    auto side = [&](uint32_t a, uint32_t b, uint32_t p) {
        return sgn * ((x_[b] - x_[a]) * (y_[p] - y_[a]) - (y_[b] - y_[a]) * (x_[p] - x_[a]));
    };
    auto same = [&](uint32_t i, uint32_t j) { return x_[i] == x_[j] && y_[i] == y_[j]; };
    uint64_t budget = uint64_t(n) * 16 + 8192;
    uint32_t m = n, i = 0, stall = 0;
    auto is_ear = [&](uint32_t a, uint32_t b, uint32_t c) {
        if (turn(a, b, c) <= 0) return false;
        for (uint32_t j = next_[c]; j != a; j = next_[j]) {
            if (budget) --budget;
            if (turn(prev_[j], j, next_[j]) > 0) continue; // convex: can't be inside
            if (same(j, a) || same(j, b) || same(j, c)) continue;
            if (side(a, b, j) >= 0 && side(b, c, j) >= 0 && side(c, a, j) >= 0) return false;
        }
        return true;
    };
    auto clip = [&](uint32_t b) {
        uint32_t a = prev_[b], c = next_[b];
        out.push_back({a, b, c, edge_bits(a, b, c, n)});
        next_[a] = c;
        prev_[c] = a;
        --m;
        stall = 0;
    };
    while (m > 3 && budget) {
        --budget; // every candidate counts, rejected ones too
        uint32_t a = prev_[i], c = next_[i];
        if (is_ear(a, i, c)) {
            clip(i);
            i = c;
            continue;
        }
        i = next_[i];
        if (++stall < m) continue;
        // A whole pass without an ear: drop a flat (collinear) corner if there is one,
        // otherwise the polygon is not simple.
        uint32_t j = i;
        bool found = false;
        for (uint32_t k = 0; k < m; ++k, j = next_[j]) {
            if (turn(prev_[j], j, next_[j]) == 0) {
                found = true;
                break;
            }
        }
        if (!found) break;
        i = next_[j];
        clip(j);
    }
    // Out of budget: clipping convex corners alone still turns no triangle over, though
    // triangles may now overlap; a bounded walk, then a fan for anything left.
    for (uint64_t steps = uint64_t(n) * 8; m > 3 && steps; --steps) {
        uint32_t a = prev_[i], c = next_[i];
        if (turn(a, i, c) > 0) {
            clip(i);
            i = a;
        } else {
            i = c;
            if (++stall >= m) break;
        }
    }
    fan_ring(i, m, n, out);
}

void NormalBuilder::run(const Vec3* pos, uint32_t base, uint32_t nv, Triangle* tris, size_t ntris,
                        const uint32_t* face_sizes, size_t nfaces, std::vector<Vec3>& normals) {
    // Weld corners by exact position, so vertices split only for texture seams still smooth.
    canon_.resize(nv);
    size_t tsize = 16;
    while (tsize < size_t(nv) * 2)
        tsize *= 2;
    table_.assign(tsize, 0);
    auto bits = [](float f) {
        f += 0.0f; // -0 and +0 alike
        uint32_t u;
        std::memcpy(&u, &f, 4);
        return u;
    };
    for (uint32_t v = 0; v < nv; ++v) {
        const Vec3& p = pos[base + v];
        uint64_t h =
            (uint64_t(bits(p.x)) << 32 | bits(p.y)) ^ (uint64_t(bits(p.z)) * 0x9E3779B97F4A7C15u);
        h ^= h >> 30, h *= 0xbf58476d1ce4e5b9u, h ^= h >> 27, h *= 0x94d049bb133111ebu,
            h ^= h >> 31;
        size_t slot = size_t(h) & (tsize - 1);
        canon_[v] = v;
        // A bounded probe: a vertex whose run is too long is simply not welded.
        for (int probe = 0; probe < 64; ++probe, slot = (slot + 1) & (tsize - 1)) {
            uint32_t t = table_[slot];
            if (!t) {
                table_[slot] = v + 1;
                break;
            }
            const Vec3& q = pos[base + t - 1];
            if (bits(q.x) == bits(p.x) && bits(q.y) == bits(p.y) && bits(q.z) == bits(p.z)) {
                canon_[v] = t - 1;
                break;
            }
        }
    }

    // Face normals: the area-weighted sum over a face's triangles (its plane for a flat face).
    face_n_.resize(ntris);
    size_t t = 0;
    for (size_t f = 0; f < nfaces && t < ntris; ++f) {
        size_t cnt = face_sizes[f] >= 3 ? face_sizes[f] - 2 : 0;
        D3 s{0, 0, 0};
        for (size_t k = 0; k < cnt; ++k) {
            const D3 c = area_normal(pos, tris[t + k]);
            s.x += c.x, s.y += c.y, s.z += c.z;
        }
        const Vec3 fn = unit(s, {0, 0, 0});
        for (size_t k = 0; k < cnt; ++k)
            face_n_[t + k] = fn;
        t += cnt;
    }

    // Corners grouped by welded vertex.
    start_.assign(size_t(nv) + 1, 0);
    for (size_t i = 0; i < ntris; ++i)
        for (int k = 0; k < 3; ++k)
            ++start_[canon_[tris[i].v[k] - base] + 1];
    for (uint32_t v = 0; v < nv; ++v)
        start_[v + 1] += start_[v];
    corners_.resize(ntris * 3);
    {
        std::vector<uint32_t>& fill = table_; // reuse as write cursors
        fill.assign(start_.begin(), start_.end() - 1);
        for (size_t i = 0; i < ntris; ++i)
            for (int k = 0; k < 3; ++k)
                corners_[fill[canon_[tris[i].v[k] - base]]++] = uint32_t(i * 3 + k);
    }
    cluster_.resize(ntris * 3);

    constexpr int kMaxClusters = 8;
    const double kCrease = 0.5; // cos 60 degrees
    for (uint32_t v = 0; v < nv; ++v) {
        uint32_t b = start_[v], e = start_[v + 1];
        if (b == e) continue;
        D3 seed[kMaxClusters], acc[kMaxClusters];
        int nc = 0;
        for (uint32_t j = b; j < e; ++j) {
            uint32_t corner = corners_[j];
            size_t ti = corner / 3;
            int k = int(corner % 3);
            const Vec3& fnf = face_n_[ti];
            D3 fn{fnf.x, fnf.y, fnf.z};
            if (fn.x == 0 && fn.y == 0 && fn.z == 0) {
                cluster_[corner] = 0xff;
                continue;
            }
            int best = -1;
            double best_dot = -2;
            for (int c = 0; c < nc; ++c) {
                double d = dot(seed[c], fn);
                if (d >= kCrease) {
                    best = c;
                    break;
                }
                if (d > best_dot) best_dot = d, best = c;
            }
            if (best < 0 || (dot(seed[best], fn) < kCrease && nc < kMaxClusters)) {
                best = nc++;
                seed[best] = fn;
                acc[best] = {0, 0, 0};
            }
            const Triangle& tr = tris[ti];
            D3 e1 = sub(pos[tr.v[(k + 1) % 3]], pos[tr.v[k]]);
            D3 e2 = sub(pos[tr.v[(k + 2) % 3]], pos[tr.v[k]]);
            D3 cr = cross(e1, e2);
            double w = std::atan2(std::sqrt(dot(cr, cr)), dot(e1, e2));
            if (!(w > 0)) w = 0;
            acc[best].x += fn.x * w, acc[best].y += fn.y * w, acc[best].z += fn.z * w;
            cluster_[corner] = uint8_t(best);
        }
        uint32_t first = uint32_t(normals.size());
        for (int c = 0; c < nc; ++c)
            normals.push_back(unit(acc[c], {float(seed[c].x), float(seed[c].y), float(seed[c].z)}));
        if (nc == 0) normals.push_back({0, 0, -1}); // only degenerate faces here
        for (uint32_t j = b; j < e; ++j) {
            uint32_t corner = corners_[j];
            uint8_t c = cluster_[corner];
            tris[corner / 3].n[corner % 3] = first + (c == 0xff ? 0 : c);
        }
    }
}

} // namespace xfile::detail
