// Helpers for the graphics stand-in tests: owned interface pointers, a headless
// 3D stage (surfaces, devices, viewport, scene and camera) and model fixtures.
#pragma once

#include <dxtest.h>
#include <win32ext.h>
#include <xfile/xwriter.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Every allocation of the test program, counted (dx_test_util.cpp).
extern std::atomic<long> g_allocations;

namespace dxt {

struct Releaser {
    void operator()(IUnknown* p) const {
        if (p) p->Release();
    }
};
template <class T> using Ptr = std::unique_ptr<T, Releaser>;

// Lets a creating call store straight into an owning pointer: CreateX(..., out(p)).
template <class T> struct OutPtr {
    Ptr<T>& owner;
    T* raw = nullptr;
    ~OutPtr() { owner.reset(raw); }
    operator T**() { return &raw; }
    operator void**() { return reinterpret_cast<void**>(&raw); }
};
template <class T> OutPtr<T> out(Ptr<T>& owner) {
    return {owner};
}

// Channels of 0x00RRGGBB.
inline constexpr auto red = [](uint32_t c) { return int(c >> 16) & 0xFF; };
inline constexpr auto green = [](uint32_t c) { return int(c >> 8) & 0xFF; };
inline constexpr auto blue = [](uint32_t c) { return int(c) & 0xFF; };

// A fresh temporary folder for fixtures, removed with its files at the end of the test run.
std::string temp_dir();

// Writes a model to the temporary folder and returns its path.
std::string save_model(const std::string& name, const xfile::MeshDesc& mesh,
                       xfile::Format format = xfile::Format::Text);

// An axis-aligned box with quad faces (clockwise seen from outside), one colour (0xRRGGBB).
// Flat in z, it shows the camera (looking along +z) a single quad.
xfile::MeshDesc box_mesh(float x0, float y0, float z0, float x1, float y1, float z1,
                         uint32_t rgb = 0xFFFFFF);

DDSURFACEDESC surface_desc(DWORD flags, DWORD caps, DWORD width = 0, DWORD height = 0);
// Creates a surface, expecting the given result and a surface only on success.
Ptr<IDirectDrawSurface> create(IDirectDraw* dd, DDSURFACEDESC desc, HRESULT expected = DD_OK);
// A system-memory surface that 3D devices can render to, and a z-buffer.
DDSURFACEDESC offscreen_desc(int w, int h);
DDSURFACEDESC zbuffer_desc(int w, int h, DWORD bits = 16);

// A pattern pixel's value: a tag in bits 20-23, y and x below; and a 32-bit surface full of them.
inline uint32_t pat(uint32_t tag, uint32_t x, uint32_t y) {
    return tag | (y << 10) | x;
}
void fill_pattern(IDirectDrawSurface* s, uint32_t tag);

// A pixel of an 8- or 32-bit surface: 0x00RRGGBB, or the index on 8-bit surfaces.
uint32_t pixel(IDirectDrawSurface* surface, int x, int y);

// A complete headless 3D set-up as the device layer builds it: display, primary,
// back surface with z-buffer, MMX device, retained-mode device and a viewport
// looking from the camera (at the scene origin) along +z. Every call after a failed
// one is skipped; frame() reports the first failure.
class Stage {
  public:
    Stage(int width, int height, int bits = 32, bool with_zbuffer = true);

    // Ambient light on the scene and a directional light whose frame points along (dx, 0, dz).
    void add_lights(float ambient, float directional, float dx = 0, float dz = 1);
    // A frame under the scene at (x, y, z), added to models, showing the given model (as a
    // mesh), all in one colour unless the colour is 0 (the file's materials then stay).
    void add_model(const std::string& path, float x, float y, float z,
                   D3DRMRENDERQUALITY quality = D3DRMRENDER_GOURAUD, D3DCOLOR color = 0);
    // Move, Clear, Render, Update and the copy to the primary.
    HRESULT frame();
    uint32_t pixel(int x, int y) { return dxt::pixel(back.get(), x, y); }
    // The back surface's pixels (32 bits), row by row.
    std::vector<uint32_t> picture();
    // Bounding box of the pixels that aren't black: left, top, right, bottom (exclusive).
    RECT lit_box();

    // Declared so that they are released in the device layer's teardown order: models and
    // viewport first, the DirectDraw object last.
    int width, height;
    HRESULT hr = DD_OK; // the first failure
    Ptr<IDirectDraw> dd;
    Ptr<IDirectDrawSurface> primary, back;
    Ptr<IDirectDrawClipper> clipper;
    Ptr<IDirect3D2> d3d;
    Ptr<IDirect3DRM2> rm;
    Ptr<IDirectDrawSurface> zbuffer;
    Ptr<IDirectDrawPalette> palette;
    Ptr<IDirect3DDevice2> device;
    Ptr<IDirect3DRMDevice2> rm_device;
    Ptr<IDirect3DRMFrame2> scene, camera;
    Ptr<IDirect3DRMViewport> viewport;
    std::vector<Ptr<IDirect3DRMFrame2>> models;

  private:
    void build(int bits, bool with_zbuffer);
    void run_frame();
};

// Every test starts from a clean stand-in: no failures armed, default switches. Once the
// fixture's own objects are gone, none may be left.
class DxTest : public ::testing::Test {
  protected:
    void SetUp() override;
    ~DxTest() override;
};

} // namespace dxt
