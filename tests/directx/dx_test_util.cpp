#include "dx_test_util.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <unistd.h>

// Counting replacements, so a test can show that the steady-state frame loop allocates nothing.
// Every form is replaced: a sanitizer supplies its own for any left out, and its allocations
// would then meet our free().
std::atomic<long> g_allocations{0};

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++g_allocations;
    return std::malloc(size ? size : 1);
}
void* operator new(std::size_t size) {
    if (void* p = operator new(size, std::nothrow)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace dxt {
namespace {

// A quad's corners, clockwise seen from outside, with its outward normal.
void add_face(xfile::MeshDesc& m, std::vector<xfile::Vec3> corners, xfile::Vec3 outward) {
    const uint32_t base = uint32_t(m.positions.size()), n = uint32_t(m.normals.size());
    m.positions.insert(m.positions.end(), corners.begin(), corners.end());
    m.faces.push_back({base, base + 1, base + 2, base + 3});
    m.normals.push_back(outward);
    m.normal_faces.push_back({n, n, n, n});
}

} // namespace

std::string temp_dir() {
    static std::string dir = (std::filesystem::temp_directory_path() / "dxtestXXXXXX").string();
    static const char* made = mkdtemp(dir.data());
    return made ? dir : "/tmp";
}

std::string save_model(const std::string& name, const xfile::MeshDesc& mesh, xfile::Format format) {
    const std::string path = temp_dir() + "/" + name;
    EXPECT_TRUE(xfile::save(path.c_str(), xfile::write(mesh, format)));
    return path;
}

xfile::MeshDesc box_mesh(float x0, float y0, float z0, float x1, float y1, float z1, uint32_t rgb) {
    xfile::MeshDesc m;
    add_face(m, {{x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}, {x1, y0, z0}}, {0, 0, -1});
    add_face(m, {{x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}}, {0, 0, 1});
    add_face(m, {{x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0}}, {-1, 0, 0});
    add_face(m, {{x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}, {x1, y0, z1}}, {1, 0, 0});
    add_face(m, {{x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}, {x0, y0, z1}}, {0, -1, 0});
    add_face(m, {{x0, y1, z0}, {x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}}, {0, 1, 0});
    m.materials.push_back(
        {{red(rgb) / 255.0f, green(rgb) / 255.0f, blue(rgb) / 255.0f, 1, 0, {}, {}, ""}, ""});
    m.face_materials.assign(m.faces.size(), 0);
    return m;
}

DDSURFACEDESC surface_desc(DWORD flags, DWORD caps, DWORD width, DWORD height) {
    DDSURFACEDESC d{};
    d.dwSize = DDSURFACEDESC_SIZE_32;
    d.dwFlags = flags;
    d.ddsCaps.dwCaps = caps;
    d.dwWidth = width;
    d.dwHeight = height;
    return d;
}

DDSURFACEDESC offscreen_desc(int w, int h) {
    return surface_desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT,
                        DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY | DDSCAPS_3DDEVICE, DWORD(w),
                        DWORD(h));
}

DDSURFACEDESC zbuffer_desc(int w, int h, DWORD bits) {
    DDSURFACEDESC d = surface_desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH,
                                   DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY, DWORD(w), DWORD(h));
    d.dwZBufferBitDepth = bits;
    return d;
}

Ptr<IDirectDrawSurface> create(IDirectDraw* dd, DDSURFACEDESC desc, HRESULT expected) {
    Ptr<IDirectDrawSurface> s;
    EXPECT_EQ(dd->CreateSurface(&desc, out(s), nullptr), expected);
    EXPECT_EQ(bool(s), expected == DD_OK);
    return s;
}

// ---- Stage ------------------------------------------------------------------------

// A step of the stage unless one failed already; the first failure stays in hr.
#define STEP(call)                                                                                 \
    if (hr != DD_OK || (hr = (call)) != DD_OK) return

Stage::Stage(int w, int h, int bits, bool with_zbuffer) : width(w), height(h) {
    Win32TestSetDisplay(w, h, bits); // headless and unpaced as DxTest sets them
    build(bits, with_zbuffer);
}

void Stage::build(int bits, bool with_zbuffer) {
    DDSURFACEDESC p = surface_desc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE),
                  b = offscreen_desc(width, height), z = zbuffer_desc(width, height);
    // A grey ramp; as the layer sets it, the ten entries at either end are read-only.
    PALETTEENTRY entries[256];
    for (int i = 0; i < 256; ++i)
        entries[i] = {BYTE(i), BYTE(i), BYTE(i),
                      BYTE(i < 10 || i >= 246 ? D3DPAL_READONLY : PC_RESERVED)};
    Ptr<IDirect3DRM> rm1;
    STEP(DirectDrawCreate(nullptr, out(dd), nullptr));
    STEP(dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL));
    STEP(dd->CreateSurface(&p, out(primary), nullptr));
    STEP(dd->CreateClipper(0, out(clipper), nullptr));
    STEP(clipper->SetHWnd(0, nullptr)); // no window: the whole display
    STEP(primary->SetClipper(clipper.get()));
    STEP(dd->CreateSurface(&b, out(back), nullptr));
    if (bits == 8) {
        STEP(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_INITIALIZE, entries, out(palette), nullptr));
        STEP(back->SetPalette(palette.get()));
        STEP(primary->SetPalette(palette.get()));
    }
    if (with_zbuffer) {
        STEP(dd->CreateSurface(&z, out(zbuffer), nullptr));
        STEP(back->AddAttachedSurface(zbuffer.get()));
    }
    STEP(dd->QueryInterface(IID_IDirect3D2, out(d3d)));
    STEP(d3d->CreateDevice(IID_IDirect3DMMXDevice, back.get(), out(device)));
    STEP(Direct3DRMCreate(out(rm1)));
    STEP(rm1->QueryInterface(IID_IDirect3DRM2, out(rm)));
    STEP(rm->CreateDeviceFromD3D(d3d.get(), device.get(), out(rm_device)));
    STEP(rm_device->SetQuality(bits == 8 ? D3DRMRENDER_FLAT : D3DRMRENDER_GOURAUD));
    STEP(rm->CreateFrame(nullptr, out(scene)));
    STEP(rm->CreateFrame(scene.get(), out(camera)));
    STEP(rm->CreateViewport(rm_device.get(), camera.get(), 0, 0, DWORD(width), DWORD(height),
                            out(viewport)));
    STEP(viewport->SetBack(5000.0f));
}

void Stage::add_lights(float ambient, float directional, float dx, float dz) {
    Ptr<IDirect3DRMLight> light, beam;
    Ptr<IDirect3DRMFrame2> frame;
    STEP(rm->CreateLightRGB(D3DRMLIGHT_AMBIENT, ambient, ambient, ambient, out(light)));
    STEP(scene->AddLight(light.get()));
    STEP(rm->CreateFrame(scene.get(), out(frame)));
    STEP(frame->SetOrientation(scene.get(), dx, 0, dz, 0, 1, 0));
    STEP(rm->CreateLightRGB(D3DRMLIGHT_DIRECTIONAL, directional, directional, directional,
                            out(beam)));
    STEP(frame->AddLight(beam.get()));
}

void Stage::add_model(const std::string& path, float x, float y, float z,
                      D3DRMRENDERQUALITY quality, D3DCOLOR color) {
    Ptr<IDirect3DRMMeshBuilder2> builder;
    Ptr<IDirect3DRMMesh> mesh;
    Ptr<IDirect3DRMFrame2>& frame = models.emplace_back();
    STEP(rm->CreateFrame(scene.get(), out(frame)));
    STEP(frame->SetPosition(scene.get(), x, y, z));
    STEP(rm->CreateMeshBuilder(out(builder)));
    STEP(builder->Load((void*)path.c_str(), nullptr, D3DRMLOAD_FROMFILE, nullptr, nullptr));
    STEP(builder->SetQuality(quality));
    if (color) STEP(builder->SetColor(color));
    STEP(builder->CreateMesh(out(mesh)));
    STEP(frame->AddVisual(mesh.get()));
}

HRESULT Stage::frame() {
    run_frame();
    return hr;
}

void Stage::run_frame() {
    RECT all{0, 0, width, height};
    STEP(scene->Move(1.0f));
    STEP(viewport->Clear());
    STEP(viewport->Render(scene.get()));
    STEP(rm_device->Update());
    STEP(primary->Blt(&all, back.get(), &all, DDBLT_WAIT, nullptr));
}

void fill_pattern(IDirectDrawSurface* s, uint32_t tag) {
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    ASSERT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    for (DWORD y = 0; y < d.dwHeight; ++y)
        for (DWORD x = 0; x < d.dwWidth; ++x)
            reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(d.lpSurface) + y * d.lPitch)[x] =
                pat(tag, x, y);
    s->Unlock(d.lpSurface);
}

uint32_t pixel(IDirectDrawSurface* surface, int x, int y) {
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    RECT one{x, y, x + 1, y + 1};
    if (surface->Lock(&one, &d, DDLOCK_READONLY | DDLOCK_WAIT, nullptr) != DD_OK) return 0xDEAD;
    const uint32_t c = d.ddpfPixelFormat.dwRGBBitCount == 8
                           ? *static_cast<const uint8_t*>(d.lpSurface)
                           : *static_cast<const uint32_t*>(d.lpSurface) & 0xFFFFFF;
    surface->Unlock(d.lpSurface);
    return c;
}

std::vector<uint32_t> Stage::picture() {
    std::vector<uint32_t> all(size_t(width) * size_t(height));
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    if (back->Lock(nullptr, &d, DDLOCK_READONLY, nullptr) != DD_OK) return all;
    for (int y = 0; y < height; ++y)
        std::memcpy(&all[size_t(y * width)],
                    static_cast<const uint8_t*>(d.lpSurface) + y * d.lPitch, size_t(width) * 4);
    back->Unlock(d.lpSurface);
    return all;
}

RECT Stage::lit_box() {
    RECT r{width, height, 0, 0};
    const std::vector<uint32_t> all = picture();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (all[size_t(y * width + x)] & 0xFFFFFF)
                r = {std::min<LONG>(r.left, x), std::min<LONG>(r.top, y),
                     std::max<LONG>(r.right, x + 1), std::max<LONG>(r.bottom, y + 1)};
    return r;
}

void DxTest::SetUp() {
    DXTestClearFailures();
    DXTestClearDevices();
    DXTestSetMMXAvailable(TRUE);
    DXTestSetHeadless(TRUE);
    DXTestSetUnpaced(TRUE);
}

DxTest::~DxTest() {
    DXTestClearFailures();
    Win32TestSetDisplay(0, 0, 0);
    EXPECT_EQ(DXTestLiveObjects(), 0) << "stand-in objects outlived the test";
}

} // namespace dxt

int main(int argc, char** argv) {
    // Never the user's own folders or display.
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("XDG_CONFIG_HOME", dxt::temp_dir().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dxt::temp_dir().c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(dxt::temp_dir(), ec);
    return result;
}
