// Frame timings of the software renderer at 1920x1080 (one case at 3840x2160) XRGB8888 (one case
// RGB565) with a 16-bit depth buffer:
// a UV sphere one third of the screen high, tumbling, cleared over the previous frame's drawn
// rectangle, drawn, and copied out as a presentation would. Prints the median ms per frame.
//
//   raster_bench [frames] [case name part]

#include <raster/raster.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

struct Sphere {
    std::vector<raster::Vec3> pos, nrm;
    std::vector<uint32_t> idx;
};

// Triangles: 2 * slices * (stacks - 1); front faces clockwise seen from outside.
Sphere make_sphere(int slices, int stacks) {
    Sphere s;
    for (int i = 0; i <= stacks; ++i) {
        const float th = float(M_PI) * float(i) / float(stacks);
        for (int j = 0; j <= slices; ++j) {
            const float ph = 2.0f * float(M_PI) * float(j) / float(slices);
            const raster::Vec3 n{std::sin(th) * std::cos(ph), std::cos(th),
                                 std::sin(th) * std::sin(ph)};
            s.pos.push_back(n);
            s.nrm.push_back(n);
        }
    }
    auto at = [&](int i, int j) { return uint32_t(i * (slices + 1) + j); };
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            const uint32_t a = at(i, j), b = at(i, j + 1), c = at(i + 1, j), d = at(i + 1, j + 1);
            if (i != 0) s.idx.insert(s.idx.end(), {a, b, c});
            if (i != stacks - 1) s.idx.insert(s.idx.end(), {b, d, c});
        }
    return s;
}

raster::Mat4 rotation(float t, float dist) {
    const float a = t, b = t * 0.7f;
    const float ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
    // Rotation about y, then about x; translation along +z.
    raster::Mat4 m{};
    m.m[0][0] = ca;
    m.m[0][1] = sa * sb;
    m.m[0][2] = -sa * cb;
    m.m[1][1] = cb;
    m.m[1][2] = sb;
    m.m[2][0] = sa;
    m.m[2][1] = -ca * sb;
    m.m[2][2] = ca * cb;
    m.m[3][2] = dist;
    m.m[3][3] = 1;
    return m;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Buffers {
    int W, H;
    raster::Format format = raster::Format::XRGB8888;
    std::vector<uint32_t> colour = std::vector<uint32_t>(size_t(W) * H);
    std::vector<uint16_t> depth = std::vector<uint16_t>(size_t(W) * H);
    std::vector<uint32_t> screen = std::vector<uint32_t>(size_t(W) * H);
    raster::Target target() {
        return {reinterpret_cast<uint8_t*>(colour.data()),
                W,
                H,
                W * (format == raster::Format::RGB565 ? 2 : 4),
                format,
                depth.data(),
                W,
                nullptr};
    }
};

using Clock = std::chrono::steady_clock;

// CPU time of this thread: the draw figure stays meaningful on a busy machine.
double cpu_ms() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) * 1e-6;
}

// Median over `frames` frames; `draw_ms` receives the median of the draw call alone.
// edges: the mesh's edge list for wireframe, or null.
double run(Buffers& buf, const Sphere* s, const std::vector<raster::MeshEdge>* edges,
           uint32_t quality, int frames, bool full_clear, double* draw_ms, long* pixels) {
    raster::Target t = buf.target();
    const int W = buf.W, H = buf.H;
    raster::Renderer r;
    raster::Lighting light{};
    light.ambient[0] = light.ambient[1] = light.ambient[2] = 0.1f;
    light.directional_count = 1;
    light.directional[0].dir = {0.3f, -0.5f, 0.8f};
    light.directional[0].color[0] = light.directional[0].color[1] = light.directional[0].color[2] =
        0.9f;
    raster::Mesh mesh{};
    if (s)
        mesh = {s->pos.data(),
                s->nrm.data(),
                uint32_t(s->pos.size()),
                s->idx.data(),
                uint32_t(s->idx.size() / 3),
                nullptr};
    if (s && edges) {
        mesh.edges = edges->data();
        mesh.edge_count = uint32_t(edges->size());
    }
    raster::DrawParams p{};
    const float dist = 6.0f;
    p.projection = {float(H) / 6 * dist, float(H) / 6 * dist, W / 2.0f, H / 2.0f, 1.0f, 5000.0f};
    p.quality = quality;
    p.color[0] = 1;
    p.color[1] = 0.8f;
    p.color[2] = 0.6f;
    p.lighting = &light;
    raster::clear(t, {0, 0, W, H}, 0, 0xFFFF);
    std::vector<double> total, draw;
    raster::Rect prev{0, 0, W, H};
    for (int f = 0; f < frames; ++f) {
        p.model_to_camera = rotation(0.05f * float(f), dist);
        const auto t0 = Clock::now();
        raster::clear(t, full_clear ? raster::Rect{0, 0, W, H} : prev, 0, 0xFFFF);
        r.reset_drawn();
        const double c1 = cpu_ms();
        if (s) r.draw(t, mesh, p);
        const double c2 = cpu_ms();
        std::memcpy(buf.screen.data(), buf.colour.data(), buf.colour.size() * 4);
        const auto t3 = Clock::now();
        prev = r.drawn();
        total.push_back(std::chrono::duration<double, std::milli>(t3 - t0).count());
        draw.push_back(c2 - c1);
    }
    if (draw_ms) *draw_ms = median(draw);
    if (pixels) {
        *pixels = 0;
        for (uint32_t c : buf.screen)
            *pixels += c != 0;
    }
    return median(total);
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    Buffers buf{1920, 1080}, big{3840, 2160}, b565{1920, 1080, raster::Format::RGB565};
    const Sphere s10k = make_sphere(100, 51), s100k = make_sphere(250, 201);
    using namespace raster;
    const uint32_t gouraud = SHADE_GOURAUD | LIGHT_ON | FILL_SOLID;
    const uint32_t wire = SHADE_GOURAUD | LIGHT_ON | FILL_WIREFRAME;
    // Built once per mesh, as a caller caching its meshes would.
    std::vector<MeshEdge> edges10k;
    build_edges({s10k.pos.data(), s10k.nrm.data(), uint32_t(s10k.pos.size()), s10k.idx.data(),
                 uint32_t(s10k.idx.size() / 3), nullptr},
                edges10k);

    std::printf("raster_bench XRGB8888 unless named, 16-bit depth, median of %d frames\n", frames);
    if (argc <= 2) {
        const double floor_ms = run(buf, nullptr, nullptr, gouraud, frames, true, nullptr, nullptr);
        std::printf("  %-40s %7.3f ms\n", "floor: full clear + copy", floor_ms);
    }
    struct Case {
        const char* name;
        const Sphere* s;
        uint32_t q;
        Buffers* b;
        const std::vector<MeshEdge>* edges = nullptr;
    } cases[] = {{"10k triangles, Gouraud", &s10k, gouraud, &buf},
                 {"100k triangles, Gouraud", &s100k, gouraud, &buf},
                 {"10k triangles, wireframe", &s10k, wire, &buf},
                 {"10k triangles, edge list", &s10k, wire, &buf, &edges10k},
                 {"10k triangles, flat", &s10k, SHADE_FLAT | LIGHT_ON | FILL_SOLID, &buf},
                 {"3840x2160 10k Gouraud", &s10k, gouraud, &big},
                 {"RGB565 10k Gouraud", &s10k, gouraud, &b565}};
    for (const Case& c : cases) {
        if (argc > 2 && !std::strstr(c.name, argv[2])) continue;
        double draw_ms = 0;
        long px = 0;
        const double rect = run(*c.b, c.s, c.edges, c.q, frames, false, &draw_ms, &px);
        const double full = run(*c.b, c.s, c.edges, c.q, frames, true, nullptr, nullptr);
        std::printf("  %-26s frame %7.3f ms (full clear %7.3f), draw %7.3f ms (CPU), %ld px\n",
                    c.name, rect, full, draw_ms, px);
    }
    return 0;
}
