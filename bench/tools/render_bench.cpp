// Times whole render passes of the saver's scene, headless: the model loaded through
// the mesh builder, scaled and placed as the saver places it, lit by the saver's two
// lights, turned each frame as the motion step turns it, and for every frame Move,
// Clear, Render, Update and the copy onto an unpaced in-memory primary surface.
//
//   render_bench --model FILE [--res WxH] [--frames N] [--mode solid|wire]
//                [--motion spin|saver] [--speed DEG] [--warmup N] [--full-detail]
//                [--dump FILE.ppm]
//
// --full-detail draws the model itself in every frame, never a simplified copy; --dump
// writes the last frame as a binary PPM, so pictures can be compared (frame_diff).
// spin keeps the model at its start, a third of the screen high (the figure the
// targets are set for); saver also lets it drift through the box as the saver does.
#include "bench_util.h"

#include <d3drm.h>
#include <dxtest.h>
#include <win32ext.h>

#include <algorithm>
#include <cmath>
#include <sys/resource.h>

namespace {

const char* kUsage = "render_bench --model FILE [--res WxH] [--frames N] [--mode solid|wire] "
                     "[--motion spin|saver] [--speed DEG] [--warmup N] [--full-detail] "
                     "[--dump FILE.ppm]";

template <class T> void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

void check(HRESULT hr, const char* what) {
    if (hr == DD_OK) return;
    std::fprintf(stderr, "render_bench: %s failed (0x%08x)\n", what, unsigned(hr));
    std::exit(1);
}

DDSURFACEDESC surface_desc(DWORD flags, DWORD caps, int width, int height) {
    DDSURFACEDESC d{};
    d.dwSize = DDSURFACEDESC_SIZE_32;
    d.dwFlags = flags;
    d.ddsCaps.dwCaps = caps;
    d.dwWidth = DWORD(width);
    d.dwHeight = DWORD(height);
    return d;
}

// The device layer's objects and the saver's scene, built in the same order with the
// same settings.
struct Pipeline {
    int width = 0, height = 0;
    IDirectDraw* dd = nullptr;
    IDirectDrawSurface *primary = nullptr, *back = nullptr, *zbuffer = nullptr;
    IDirect3D2* d3d = nullptr;
    IDirect3DDevice2* device = nullptr;
    IDirect3DRM2* rm = nullptr;
    IDirect3DRMDevice2* rm_device = nullptr;
    IDirect3DRMFrame2 *scene = nullptr, *camera = nullptr, *model = nullptr;
    IDirect3DRMViewport* viewport = nullptr;
    double load_ms = 0, mesh_ms = 0; // CPU time of the model's load and of CreateMesh

    void bring_up(int w, int h) {
        width = w;
        height = h;
        check(DirectDrawCreate(nullptr, &dd, nullptr), "DirectDrawCreate");
        check(dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL), "SetCooperativeLevel");
        DDSURFACEDESC desc = surface_desc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE, 0, 0);
        check(dd->CreateSurface(&desc, &primary, nullptr), "CreateSurface(primary)");
        desc = surface_desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT,
                            DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY | DDSCAPS_3DDEVICE, w, h);
        check(dd->CreateSurface(&desc, &back, nullptr), "CreateSurface(back)");
        desc = surface_desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH,
                            DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY, w, h);
        desc.dwZBufferBitDepth = 16;
        check(dd->CreateSurface(&desc, &zbuffer, nullptr), "CreateSurface(zbuffer)");
        check(back->AddAttachedSurface(zbuffer), "AddAttachedSurface");

        void* obj = nullptr;
        check(dd->QueryInterface(IID_IDirect3D2, &obj), "QueryInterface(IDirect3D2)");
        d3d = static_cast<IDirect3D2*>(obj);
        check(d3d->CreateDevice(IID_IDirect3DMMXDevice, back, &device), "CreateDevice");
        IDirect3DRM* rm1 = nullptr;
        check(Direct3DRMCreate(&rm1), "Direct3DRMCreate");
        check(rm1->QueryInterface(IID_IDirect3DRM2, &obj), "QueryInterface(IDirect3DRM2)");
        rm = static_cast<IDirect3DRM2*>(obj);
        rm1->Release();
        check(rm->CreateDeviceFromD3D(d3d, device, &rm_device), "CreateDeviceFromD3D");
        rm_device->SetBufferCount(2);
        rm_device->SetShades(32);
        rm->SetDefaultTextureColors(64);
        rm->SetDefaultTextureShades(32);
        rm_device->SetQuality(D3DRMRENDER_GOURAUD);
        rm_device->SetDither(FALSE);
        rm_device->SetTextureQuality(D3DRMTEXTURE_LINEAR);
    }

    // Returns the model's scale factor (0 when nothing was loaded).
    double build_scene(const char* path, D3DRMRENDERQUALITY quality, double speed_deg) {
        check(rm->CreateFrame(nullptr, &scene), "CreateFrame(scene)");
        check(rm->CreateFrame(scene, &camera), "CreateFrame(camera)");
        camera->SetPosition(scene, 0, 0, 0);
        camera->SetOrientation(scene, 0, 0, 1, 0, 1, 0);
        check(rm->CreateViewport(rm_device, camera, 0, 0, DWORD(width), DWORD(height), &viewport),
              "CreateViewport");
        check(viewport->SetBack(5000.0f), "SetBack");

        IDirect3DRMLight* light = nullptr;
        check(rm->CreateLightRGB(D3DRMLIGHT_AMBIENT, 0.1f, 0.1f, 0.1f, &light), "ambient light");
        scene->AddLight(light);
        release(light);
        IDirect3DRMFrame2* light_frame = nullptr;
        check(rm->CreateFrame(scene, &light_frame), "CreateFrame(light)");
        check(rm->CreateLightRGB(D3DRMLIGHT_DIRECTIONAL, 0.9f, 0.9f, 0.9f, &light),
              "directional light");
        light_frame->AddLight(light);
        release(light);
        release(light_frame);

        check(rm->CreateFrame(scene, &model), "CreateFrame(model)");
        model->SetPosition(scene, 0, 0, 15);
        model->SetOrientation(scene, 0, 0, 1, 0, 1, 0);
        model->SetRotation(scene, 0, 1, 0, float(speed_deg * 3.14159265359 / 180.0));

        IDirect3DRMMeshBuilder2* builder = nullptr;
        check(rm->CreateMeshBuilder(&builder), "CreateMeshBuilder");
        const double t0 = bench::cpu_ms();
        check(builder->Load(const_cast<char*>(path), nullptr, D3DRMLOAD_FROMFILE, nullptr, nullptr),
              "Load");
        load_ms = bench::cpu_ms() - t0;
        D3DRMBOX box{};
        builder->GetBox(&box);
        const double w = box.max.x - box.min.x, h = box.max.y - box.min.y;
        // As the saver: a model off its own origin is centred there first, a centred one kept.
        const double c[3] = {(box.min.x + box.max.x) / 2, (box.min.y + box.max.y) / 2,
                             (box.min.z + box.max.z) / 2};
        const double slack = std::max({w, h, double(box.max.z - box.min.z)}) / 1024;
        if (std::fabs(c[0]) > slack || std::fabs(c[1]) > slack || std::fabs(c[2]) > slack)
            builder->Translate(float(-c[0]), float(-c[1]), float(-c[2]));
        const double extent = w >= h ? w : h;
        double scale = 0;
        if (extent > 0) {
            scale = 3.0 / extent;
            builder->Scale(float(scale), float(scale), float(scale));
        }
        builder->SetQuality(quality);
        builder->SetColor(0xFFFFFFFF);
        IDirect3DRMMesh* mesh = nullptr;
        const double t1 = bench::cpu_ms();
        check(builder->CreateMesh(&mesh), "CreateMesh");
        mesh_ms = bench::cpu_ms() - t1;
        model->AddVisual(mesh);
        release(mesh);
        release(builder);
        return scale;
    }

    void tear_down() {
        release(viewport);
        release(model);
        release(camera);
        release(scene);
        release(rm_device);
        release(device);
        release(zbuffer);
        release(rm);
        release(d3d);
        release(back);
        release(primary);
        release(dd);
    }
};

// The motion step: travel directions flip when the model leaves the box; the spin
// axis is the diagonal of the directions. Without drift only the spin is set.
struct Motion {
    int dir[3] = {1, 1, 1};
    void step(IDirect3DRMFrame2* model, IDirect3DRMFrame2* scene, double speed_deg, bool drift) {
        if (drift) {
            D3DVECTOR p{};
            model->GetPosition(scene, &p);
            const float lo[3] = {-7, -4, 12}, hi[3] = {7, 4, 50};
            const float at[3] = {p.x, p.y, p.z};
            for (int i = 0; i < 3; ++i)
                if (at[i] < lo[i] || at[i] > hi[i]) dir[i] = -dir[i];
            model->SetVelocity(scene, float(dir[0] * 0.1), float(dir[1] * 0.08),
                               float(dir[2] * 0.2), FALSE);
        }
        model->SetRotation(scene, dir[0] > 0 ? 1.0f : -1.0f, dir[1] > 0 ? 1.0f : -1.0f,
                           dir[2] > 0 ? 1.0f : -1.0f, float(speed_deg * 3.14159265359 / 180.0));
    }
};

struct Coverage {
    long lit = 0;
    int top = -1, bottom = -1;
    uint64_t hash = 1469598103934665603ull; // FNV-1a of the frame's pixels
    bool dumped = true;
};

// Pixels of the presented frame that are not black, and their vertical extent; written to
// `dump` as a binary PPM when it is named.
Coverage measure(IDirectDrawSurface* primary, int width, int height, const char* dump) {
    Coverage c;
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    if (primary->Lock(nullptr, &d, DDLOCK_READONLY | DDLOCK_WAIT, nullptr) != DD_OK) return c;
    FILE* out = dump ? std::fopen(dump, "wb") : nullptr;
    c.dumped = !dump || out;
    if (out) std::fprintf(out, "P6\n%d %d\n255\n", width, height);
    std::vector<uint8_t> rgb(size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(
            static_cast<const uint8_t*>(d.lpSurface) + ptrdiff_t(y) * d.lPitch);
        long n = 0;
        for (int x = 0; x < width; ++x) {
            n += (row[x] & 0xFFFFFF) != 0;
            c.hash = (c.hash ^ (row[x] & 0xFFFFFF)) * 1099511628211ull;
            rgb[size_t(x) * 3] = uint8_t(row[x] >> 16);
            rgb[size_t(x) * 3 + 1] = uint8_t(row[x] >> 8);
            rgb[size_t(x) * 3 + 2] = uint8_t(row[x]);
        }
        if (out) c.dumped &= std::fwrite(rgb.data(), 1, rgb.size(), out) == rgb.size();
        if (n) {
            if (c.top < 0) c.top = y;
            c.bottom = y + 1;
        }
        c.lit += n;
    }
    if (out) c.dumped &= std::fclose(out) == 0;
    primary->Unlock(d.lpSurface);
    return c;
}

} // namespace

int main(int argc, char** argv) {
    const bench::Args args(argc, argv, kUsage, {"full-detail"});
    const char* model_path = args.get("model", nullptr);
    if (!model_path) args.fail("--model missing");
    int width = 1920, height = 1080;
    const char* res = args.get("res", "1920x1080");
    if (std::sscanf(res, "%dx%d", &width, &height) != 2 || width < 16 || height < 16 ||
        width > 16384 || height > 16384)
        args.fail(res);
    const int frames = int(args.number("frames", 200, 1, 1000000));
    const int warmup = int(args.number("warmup", 10, 0, 100000));
    const std::string mode = args.get("mode", "solid");
    if (mode != "solid" && mode != "wire") args.fail(mode.c_str());
    const std::string motion_name = args.get("motion", "spin");
    if (motion_name != "spin" && motion_name != "saver") args.fail(motion_name.c_str());
    const bool drift = motion_name == "saver";
    const double speed = double(args.number("speed", 5, 0, 360));
    const bool full_detail = args.flag("full-detail");
    const char* dump = args.get("dump", nullptr);

    // No window and no video driver: the display is described, the primary lives in memory.
    Win32TestSetDisplay(width, height, 32);
    DXTestSetHeadless(TRUE);
    DXTestSetUnpaced(TRUE);
    DXTestSetFullDetail(full_detail ? TRUE : FALSE);

    Pipeline p;
    p.bring_up(width, height);
    const double scale = p.build_scene(
        model_path, mode == "wire" ? D3DRMRENDER_WIREFRAME : D3DRMRENDER_GOURAUD, speed);
    if (scale == 0) {
        std::fprintf(stderr, "render_bench: the model has no extent\n");
        return 1;
    }

    Motion motion;
    RECT rect{0, 0, width, height};
    std::vector<double> wall, phase_move, phase_clear, phase_render, phase_blt;
    wall.reserve(size_t(frames));
    phase_move.reserve(size_t(frames));
    phase_clear.reserve(size_t(frames));
    phase_render.reserve(size_t(frames));
    phase_blt.reserve(size_t(frames));
    double cpu_start = 0, wall_start = 0;
    for (int f = -warmup; f < frames; ++f) {
        if (f == 0) {
            cpu_start = bench::cpu_ms();
            wall_start = bench::wall_ms();
        }
        const double t0 = bench::wall_ms();
        motion.step(p.model, p.scene, speed, drift);
        check(p.scene->Move(1.0f), "Move");
        const double t1 = bench::wall_ms();
        check(p.viewport->Clear(), "Clear");
        const double t2 = bench::wall_ms();
        check(p.viewport->Render(p.scene), "Render");
        check(p.rm_device->Update(), "Update");
        const double t3 = bench::wall_ms();
        check(p.primary->Blt(&rect, p.back, &rect, DDBLT_WAIT, nullptr), "Blt");
        const double t4 = bench::wall_ms();
        if (f < 0) continue;
        wall.push_back(t4 - t0);
        phase_move.push_back(t1 - t0);
        phase_clear.push_back(t2 - t1);
        phase_render.push_back(t3 - t2);
        phase_blt.push_back(t4 - t3);
    }
    const double cpu_total = bench::cpu_ms() - cpu_start;
    const double wall_total = bench::wall_ms() - wall_start;

    const Coverage c = measure(p.primary, width, height, dump);
    if (!c.dumped) {
        std::fprintf(stderr, "render_bench: cannot write '%s'\n", dump);
        return 1;
    }
    p.tear_down();
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);

    std::printf("res=%dx%d mode=%s motion=%s frames=%d median_ms=%.3f mean_ms=%.3f "
                "cpu_ms_per_frame=%.3f move_ms=%.3f clear_ms=%.3f render_ms=%.3f blt_ms=%.3f "
                "lit_px=%ld model_h=%.3f frame_hash=%016llx load_cpu_ms=%.1f mesh_cpu_ms=%.1f "
                "peak_rss_kb=%ld\n",
                width, height, mode.c_str(), motion_name.c_str(), frames, bench::median(wall),
                wall_total / frames, cpu_total / frames, bench::median(phase_move),
                bench::median(phase_clear), bench::median(phase_render), bench::median(phase_blt),
                c.lit, c.top < 0 ? 0.0 : double(c.bottom - c.top) / height,
                (unsigned long long)c.hash, p.load_ms, p.mesh_ms, ru.ru_maxrss);
    return 0;
}
