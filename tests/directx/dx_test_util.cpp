#include "dx_test_util.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace dxt {
namespace {

std::string make_temp(const char* tag) {
    std::string pattern = (std::filesystem::temp_directory_path() / tag).string() + "XXXXXX";
    char* made = mkdtemp(pattern.data());
    return made ? std::string(made) : std::string("/tmp");
}

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
    static const std::string dir = make_temp("dxtest");
    return dir;
}

std::string save_model(const std::string& name, const xfile::MeshDesc& mesh, xfile::Format format) {
    const std::string path = temp_dir() + "/" + name;
    EXPECT_TRUE(xfile::save(path.c_str(), xfile::write(mesh, format)));
    return path;
}

xfile::MeshDesc box_mesh(float x0, float y0, float z0, float x1, float y1, float z1,
                         xfile::Material material) {
    xfile::MeshDesc m;
    add_face(m, {{x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}, {x1, y0, z0}}, {0, 0, -1});
    add_face(m, {{x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}}, {0, 0, 1});
    add_face(m, {{x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0}}, {-1, 0, 0});
    add_face(m, {{x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}, {x1, y0, z1}}, {1, 0, 0});
    add_face(m, {{x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}, {x0, y0, z1}}, {0, -1, 0});
    add_face(m, {{x0, y1, z0}, {x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}}, {0, 1, 0});
    m.materials.push_back({material, ""});
    m.face_materials.assign(m.faces.size(), 0);
    return m;
}

xfile::MeshDesc quad_mesh(float x0, float y0, float x1, float y1, float z,
                          xfile::Material material) {
    xfile::MeshDesc m;
    add_face(m, {{x0, y0, z}, {x0, y1, z}, {x1, y1, z}, {x1, y0, z}}, {0, 0, -1});
    m.materials.push_back({material, ""});
    m.face_materials.assign(1, 0);
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

// ---- Stage ------------------------------------------------------------------------

Stage::Stage(int w, int h, int bits, bool with_zbuffer) : width(w), height(h) {
    Win32TestSetDisplay(w, h, bits); // headless and unpaced as DxTest sets them
    EXPECT_EQ(DirectDrawCreate(nullptr, out(dd), nullptr), DD_OK);
    EXPECT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
    DDSURFACEDESC desc = surface_desc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE);
    EXPECT_EQ(dd->CreateSurface(&desc, out(primary), nullptr), DD_OK);
    desc = offscreen_desc(w, h);
    EXPECT_EQ(dd->CreateSurface(&desc, out(back), nullptr), DD_OK);

    if (bits == 8) {
        PALETTEENTRY entries[256];
        for (int i = 0; i < 256; ++i)
            entries[i] = {BYTE(i), BYTE(255 - i), BYTE(i / 2),
                          BYTE(i < 10 || i >= 246 ? D3DPAL_READONLY : PC_RESERVED)};
        entries[0] = {0, 0, 0, D3DPAL_READONLY};
        entries[255] = {255, 255, 255, D3DPAL_READONLY};
        EXPECT_EQ(
            dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_INITIALIZE, entries, out(palette), nullptr),
            DD_OK);
        EXPECT_EQ(back->SetPalette(palette.get()), DD_OK);
        EXPECT_EQ(primary->SetPalette(palette.get()), DD_OK);
    }
    if (with_zbuffer) {
        desc = zbuffer_desc(w, h);
        EXPECT_EQ(dd->CreateSurface(&desc, out(zbuffer), nullptr), DD_OK);
        EXPECT_EQ(back->AddAttachedSurface(zbuffer.get()), DD_OK);
    }
    EXPECT_EQ(dd->QueryInterface(IID_IDirect3D2, out(d3d)), DD_OK);
    EXPECT_EQ(d3d->CreateDevice(IID_IDirect3DMMXDevice, back.get(), out(device)), DD_OK);

    Ptr<IDirect3DRM> rm1;
    EXPECT_EQ(Direct3DRMCreate(out(rm1)), DD_OK);
    EXPECT_EQ(rm1->QueryInterface(IID_IDirect3DRM2, out(rm)), DD_OK);
    EXPECT_EQ(rm->CreateDeviceFromD3D(d3d.get(), device.get(), out(rm_device)), DD_OK);
    rm_device->SetQuality(bits == 8 ? D3DRMRENDER_FLAT : D3DRMRENDER_GOURAUD);
    EXPECT_EQ(rm->CreateFrame(nullptr, out(scene)), DD_OK);
    EXPECT_EQ(rm->CreateFrame(scene.get(), out(camera)), DD_OK);
    EXPECT_EQ(
        rm->CreateViewport(rm_device.get(), camera.get(), 0, 0, DWORD(w), DWORD(h), out(viewport)),
        DD_OK);
    EXPECT_EQ(viewport->SetBack(5000.0f), DD_OK);
}

void Stage::add_lights(float ambient, float directional, float dx, float dy, float dz) {
    Ptr<IDirect3DRMLight> light;
    Ptr<IDirect3DRMFrame2> frame;
    ASSERT_EQ(rm->CreateLightRGB(D3DRMLIGHT_AMBIENT, ambient, ambient, ambient, out(light)), DD_OK);
    ASSERT_EQ(scene->AddLight(light.get()), DD_OK);
    ASSERT_EQ(rm->CreateFrame(scene.get(), out(frame)), DD_OK);
    const float ux = std::abs(dy) > 0.9f ? 1.0f : 0.0f, uy = 1.0f - ux;
    ASSERT_EQ(frame->SetOrientation(scene.get(), dx, dy, dz, ux, uy, 0), DD_OK);
    ASSERT_EQ(rm->CreateLightRGB(D3DRMLIGHT_DIRECTIONAL, directional, directional, directional,
                                 out(light)),
              DD_OK);
    ASSERT_EQ(frame->AddLight(light.get()), DD_OK);
}

IDirect3DRMFrame2* Stage::add_model(const std::string& path, float x, float y, float z,
                                    D3DRMRENDERQUALITY quality, D3DCOLOR color) {
    Ptr<IDirect3DRMMeshBuilder2> builder;
    Ptr<IDirect3DRMMesh> mesh;
    models.emplace_back();
    EXPECT_EQ(rm->CreateFrame(scene.get(), out(models.back())), DD_OK);
    models.back()->SetPosition(scene.get(), x, y, z);
    EXPECT_EQ(rm->CreateMeshBuilder(out(builder)), DD_OK);
    EXPECT_EQ(builder->Load((void*)path.c_str(), nullptr, D3DRMLOAD_FROMFILE, nullptr, nullptr),
              DD_OK);
    builder->SetQuality(quality);
    if (color) builder->SetColor(color);
    EXPECT_EQ(builder->CreateMesh(out(mesh)), DD_OK);
    EXPECT_EQ(models.back()->AddVisual(mesh.get()), DD_OK);
    return models.back().get();
}

HRESULT Stage::frame() {
    HRESULT hr;
    if ((hr = viewport->Clear()) != DD_OK) return hr;
    if ((hr = viewport->Render(scene.get())) != DD_OK) return hr;
    if ((hr = rm_device->Update()) != DD_OK) return hr;
    RECT all{0, 0, width, height};
    return primary->Blt(&all, back.get(), &all, DDBLT_WAIT, nullptr);
}

uint32_t pixel(IDirectDrawSurface* surface, int x, int y) {
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    if (surface->Lock(nullptr, &d, DDLOCK_READONLY | DDLOCK_WAIT, nullptr) != DD_OK) return 0xDEAD;
    const auto* row = static_cast<const uint8_t*>(d.lpSurface) + ptrdiff_t(y) * d.lPitch;
    const uint32_t c = d.ddpfPixelFormat.dwRGBBitCount == 8
                           ? row[x]
                           : reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
    surface->Unlock(d.lpSurface);
    return c;
}

RECT Stage::lit_box() {
    RECT r{width, height, 0, 0};
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    if (back->Lock(nullptr, &d, DDLOCK_READONLY, nullptr) != DD_OK) return r;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(
            static_cast<const uint8_t*>(d.lpSurface) + y * d.lPitch);
        for (int x = 0; x < width; ++x)
            if (row[x] & 0xFFFFFF)
                r = {std::min<LONG>(r.left, x), std::min<LONG>(r.top, y),
                     std::max<LONG>(r.right, x + 1), std::max<LONG>(r.bottom, y + 1)};
    }
    back->Unlock(d.lpSurface);
    return r;
}

void DxTest::SetUp() {
    DXTestClearFailures();
    DXTestClearDevices();
    DXTestSetMMXAvailable(TRUE);
    DXTestSetHeadless(TRUE);
    DXTestSetUnpaced(TRUE);
}

void DxTest::TearDown() {
    DXTestClearFailures(); // nothing armed for the fixtures' own releases
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
