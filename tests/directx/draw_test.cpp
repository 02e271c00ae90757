// DirectDraw: surfaces, attachment, palettes, clipping of copies to the window,
// presentation of what changed, lost surfaces, device enumeration and creation,
// failure injection and object lifetime.
#include "dx_test_util.h"

#include <SDL.h>

#include <cstring>

namespace dxt {
namespace {

class Draw : public DxTest {
  protected:
    void SetUp() override {
        DxTest::SetUp();
        Win32TestSetDisplay(640, 480, 32);
        IDirectDraw* raw = nullptr;
        ASSERT_EQ(DirectDrawCreate(nullptr, &raw, nullptr), DD_OK);
        dd.reset(raw);
        ASSERT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
    }
    void TearDown() override {
        dd.reset();
        DxTest::TearDown();
    }

    Ptr<IDirectDrawSurface> create(DDSURFACEDESC desc, HRESULT expected = DD_OK) {
        IDirectDrawSurface* s = nullptr;
        EXPECT_EQ(dd->CreateSurface(&desc, &s, nullptr), expected);
        return Ptr<IDirectDrawSurface>(s);
    }
    Ptr<IDirectDrawSurface> offscreen(int w, int h) {
        return create(surface_desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT,
                                   DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY | DDSCAPS_3DDEVICE,
                                   DWORD(w), DWORD(h)));
    }
    Ptr<IDirectDrawSurface> zbuffer(int w, int h) {
        DDSURFACEDESC d = surface_desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH,
                                       DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY, DWORD(w), DWORD(h));
        d.dwZBufferBitDepth = 16;
        return create(d);
    }
    Ptr<IDirectDrawSurface> primary() {
        return create(surface_desc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE));
    }

    Ptr<IDirectDraw> dd;
};

// The pattern value of a pixel: a tag in bits 20-23, y and x below.
uint32_t pat(uint32_t tag, uint32_t x, uint32_t y) {
    return tag | (y << 10) | x;
}

// Fills a surface with the pattern.
void fill_pattern(IDirectDrawSurface* s, uint32_t tag) {
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    ASSERT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    for (DWORD y = 0; y < d.dwHeight; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(d.lpSurface) + y * d.lPitch);
        for (DWORD x = 0; x < d.dwWidth; ++x)
            row[x] = pat(tag, x, y);
    }
    s->Unlock(d.lpSurface);
}

uint32_t read(IDirectDrawSurface* s, int x, int y) {
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    if (s->Lock(nullptr, &d, DDLOCK_READONLY, nullptr) != DD_OK) return 0xDEADDEAD;
    const uint32_t v = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(d.lpSurface) +
                                                         y * d.lPitch)[x];
    s->Unlock(d.lpSurface);
    return v & 0xFFFFFF;
}

TEST_F(Draw, SurfacesFollowTheDisplayFormatAndAcceptBothDescriptorSizes) {
    for (int bits : {8, 16, 24, 32}) {
        Win32TestSetDisplay(640, 480, bits);
        auto back = offscreen(64, 32);
        ASSERT_TRUE(back);
        DDSURFACEDESC d{};
        d.dwSize = sizeof d;
        ASSERT_EQ(back->GetSurfaceDesc(&d), DD_OK);
        EXPECT_EQ(d.dwWidth, 64u);
        EXPECT_EQ(d.dwHeight, 32u);
        EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, DWORD(bits == 24 ? 32 : bits)) << bits;
        EXPECT_EQ(bool(d.ddpfPixelFormat.dwFlags & DDPF_PALETTEINDEXED8), bits == 8);
        EXPECT_TRUE(d.ddsCaps.dwCaps & DDSCAPS_3DDEVICE);
    }
    Win32TestSetDisplay(640, 480, 32);
    DDSURFACEDESC full = surface_desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT,
                                      DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, 8, 8);
    full.dwSize = sizeof(DDSURFACEDESC);
    EXPECT_TRUE(create(full));
    DDSURFACEDESC odd = full;
    odd.dwSize = 100;
    EXPECT_FALSE(create(odd, DDERR_INVALIDPARAMS));
    DDSURFACEDESC no_size = surface_desc(DDSD_CAPS, DDSCAPS_OFFSCREENPLAIN);
    EXPECT_FALSE(create(no_size, DDERR_INVALIDPARAMS));

    auto p = primary();
    DDSURFACEDESC d{};
    d.dwSize = DDSURFACEDESC_SIZE_32;
    ASSERT_EQ(p->GetSurfaceDesc(&d), DD_OK);
    EXPECT_EQ(d.dwWidth, 640u);
    EXPECT_EQ(d.dwHeight, 480u);
    EXPECT_FALSE(
        create(surface_desc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE), DDERR_PRIMARYSURFACEALREADYEXISTS));
}

TEST_F(Draw, CreatingSurfacesNeedsACooperativeLevel) {
    IDirectDraw* raw = nullptr;
    ASSERT_EQ(DirectDrawCreate(nullptr, &raw, nullptr), DD_OK);
    Ptr<IDirectDraw> fresh(raw);
    DDSURFACEDESC d = surface_desc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE);
    IDirectDrawSurface* s = nullptr;
    EXPECT_EQ(fresh->CreateSurface(&d, &s, nullptr), DDERR_NOCOOPERATIVELEVELSET);
    EXPECT_EQ(s, nullptr);
}

TEST_F(Draw, ZBufferAttachesOnlyWhenItMatches) {
    auto back = offscreen(64, 32);
    auto z = zbuffer(64, 32);
    auto small = zbuffer(32, 32);
    DDSURFACEDESC d{};
    d.dwSize = DDSURFACEDESC_SIZE_32;
    ASSERT_EQ(z->GetSurfaceDesc(&d), DD_OK);
    EXPECT_EQ(d.dwZBufferBitDepth, 16u);
    EXPECT_TRUE(d.ddsCaps.dwCaps & DDSCAPS_ZBUFFER);

    EXPECT_EQ(back->AddAttachedSurface(nullptr), DDERR_CANNOTATTACHSURFACE);
    EXPECT_EQ(back->AddAttachedSurface(small.get()), DDERR_CANNOTATTACHSURFACE);
    EXPECT_EQ(back->AddAttachedSurface(offscreen(64, 32).get()), DDERR_CANNOTATTACHSURFACE);
    EXPECT_EQ(back->AddAttachedSurface(z.get()), DD_OK);
    EXPECT_EQ(back->AddAttachedSurface(z.get()), DDERR_SURFACEALREADYATTACHED);

    DDSURFACEDESC deep = surface_desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH,
                                      DDSCAPS_ZBUFFER, 8, 8);
    deep.dwZBufferBitDepth = 24;
    EXPECT_FALSE(create(deep, DDERR_INVALIDPIXELFORMAT));
}

TEST_F(Draw, CopyToThePrimaryIsClippedToTheWindow) {
    auto p = primary();
    auto back = offscreen(640, 480);
    fill_pattern(back.get(), 0x100000);
    IDirectDrawClipper* raw = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &raw, nullptr), DD_OK);
    Ptr<IDirectDrawClipper> clipper(raw);

    // Without a window the copy covers the display.
    RECT src{0, 0, 640, 480}, dst{0, 0, 640, 480};
    ASSERT_EQ(p->Blt(&dst, back.get(), &src, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(read(p.get(), 600, 400), pat(0x100000, 600, 400));

    // A window at (100, 50), 200 x 100: the copy lands only inside it.
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "DxClipTest";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "DxClipTest", "clip", WS_POPUP, 100, 50, 200, 100, nullptr,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    ASSERT_EQ(clipper->SetHWnd(0, hwnd), DD_OK);
    ASSERT_EQ(p->SetClipper(clipper.get()), DD_OK);
    auto second = offscreen(640, 480);
    fill_pattern(second.get(), 0x200000);
    ASSERT_EQ(p->Blt(&dst, second.get(), &src, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(read(p.get(), 100, 50), pat(0x200000, 100, 50));
    EXPECT_EQ(read(p.get(), 299, 149), pat(0x200000, 299, 149));
    EXPECT_EQ(read(p.get(), 99, 50) >> 20, 1u) << "left of the window";
    EXPECT_EQ(read(p.get(), 300, 149) >> 20, 1u) << "right of the window";
    EXPECT_EQ(read(p.get(), 150, 150) >> 20, 1u) << "below the window";
    DestroyWindow(hwnd);
}

TEST_F(Draw, WindowedPrimaryPresentsIntoTheWindowSurface) {
    DXTestSetHeadless(FALSE);
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "DxPresentTest";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "DxPresentTest", "present", WS_POPUP, 40, 30, 160, 120, nullptr,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    ASSERT_EQ(dd->SetCooperativeLevel(hwnd, DDSCL_NORMAL), DD_OK);
    auto p = primary();
    auto back = offscreen(160, 120);
    fill_pattern(back.get(), 0x300000);
    IDirectDrawClipper* raw = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &raw, nullptr), DD_OK);
    Ptr<IDirectDrawClipper> clipper(raw);
    ASSERT_EQ(clipper->SetHWnd(0, hwnd), DD_OK);
    ASSERT_EQ(p->SetClipper(clipper.get()), DD_OK);

    // Offset by 20 pixels to the left: the source's first 20 columns fall outside the window.
    RECT src{0, 0, 160, 120}, dst{20, 30, 180, 150};
    ASSERT_EQ(p->Blt(&dst, back.get(), &src, DDBLT_WAIT, nullptr), DD_OK);
    SDL_Surface* ws = SDL_GetWindowSurface(Win32GetSdlWindow(hwnd));
    ASSERT_NE(ws, nullptr);
    auto at = [&](int x, int y) {
        return reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(ws->pixels) +
                                                 y * ws->pitch)[x] &
               0xFFFFFF;
    };
    // Window pixel (0, 0) is screen (40, 30) = source (20, 0).
    EXPECT_EQ(at(0, 0), pat(0x300000, 20, 0));
    EXPECT_EQ(at(139, 119), pat(0x300000, 159, 119));
    EXPECT_EQ(at(140, 0), 0u) << "beyond the source's right edge nothing was copied";
    EXPECT_EQ(p->IsLost(), DD_OK);

    // A resized window invalidates the window surface: the primary is lost until restored.
    SDL_SetWindowSize(Win32GetSdlWindow(hwnd), 200, 150);
    EXPECT_EQ(p->IsLost(), DDERR_SURFACELOST);
    EXPECT_EQ(p->Blt(&dst, back.get(), &src, DDBLT_WAIT, nullptr), DDERR_SURFACELOST);
    EXPECT_EQ(p->Restore(), DD_OK);
    EXPECT_EQ(p->IsLost(), DD_OK);
    EXPECT_EQ(p->Blt(&dst, back.get(), &src, DDBLT_WAIT, nullptr), DD_OK);
    ws = SDL_GetWindowSurface(Win32GetSdlWindow(hwnd));
    ASSERT_NE(ws, nullptr);
    EXPECT_EQ(ws->w, 200);
    EXPECT_EQ(at(0, 0), pat(0x300000, 20, 0)) << "the whole frame again after the restore";
    p.reset();
    clipper.reset();
    back.reset();
    DestroyWindow(hwnd);
}

TEST_F(Draw, OnlyChangedRegionsReachTheScreenAfterTheFirstCopy) {
    auto p = primary();
    auto back = offscreen(640, 480);
    RECT src{0, 0, 640, 480}, dst{0, 0, 640, 480};
    ASSERT_EQ(p->Blt(&dst, back.get(), &src, DDBLT_WAIT, nullptr), DD_OK);
    // Scribble on the screen; an unchanged back surface must not repaint it.
    fill_pattern(p.get(), 0x400000);
    ASSERT_EQ(p->Blt(&dst, back.get(), &src, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(read(p.get(), 10, 10), pat(0x400000, 10, 10));
    // Writing to the back surface marks all of it changed.
    fill_pattern(back.get(), 0x500000);
    ASSERT_EQ(p->Blt(&dst, back.get(), &src, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(read(p.get(), 10, 10), pat(0x500000, 10, 10));
}

TEST_F(Draw, FormatsAreConvertedOnTheWayToTheScreen) {
    Win32TestSetDisplay(64, 64, 32);
    auto p = primary();
    DDSURFACEDESC d = surface_desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT,
                                   DDSCAPS_OFFSCREENPLAIN, 4, 1);
    d.ddpfPixelFormat.dwSize = sizeof d.ddpfPixelFormat;
    d.ddpfPixelFormat.dwFlags = DDPF_RGB;
    d.ddpfPixelFormat.dwRGBBitCount = 16;
    auto back565 = create(d);
    ASSERT_TRUE(back565);
    DDSURFACEDESC l{};
    l.dwSize = sizeof l;
    ASSERT_EQ(back565->Lock(nullptr, &l, 0, nullptr), DD_OK);
    auto* px = static_cast<uint16_t*>(l.lpSurface);
    px[0] = 0xF800;
    px[1] = 0x07E0;
    px[2] = 0x001F;
    px[3] = 0xFFFF;
    back565->Unlock(l.lpSurface);
    RECT src{0, 0, 4, 1}, dst{0, 0, 4, 1};
    ASSERT_EQ(p->Blt(&dst, back565.get(), &src, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(read(p.get(), 0, 0), 0xFF0000u);
    EXPECT_EQ(read(p.get(), 1, 0), 0x00FF00u);
    EXPECT_EQ(read(p.get(), 2, 0), 0x0000FFu);
    EXPECT_EQ(read(p.get(), 3, 0), 0xFFFFFFu);
    RECT stretched{0, 0, 8, 2};
    EXPECT_EQ(p->Blt(&stretched, back565.get(), &src, DDBLT_WAIT, nullptr), DDERR_NOSTRETCHHW);
    RECT outside{0, 0, 5, 1};
    EXPECT_EQ(p->Blt(&dst, back565.get(), &outside, DDBLT_WAIT, nullptr), DDERR_INVALIDRECT);
}

TEST_F(Draw, PaletteIsSharedAndAppliedWhenPresenting) {
    Win32TestSetDisplay(64, 64, 8);
    auto p = primary();
    auto back = offscreen(4, 1);
    PALETTEENTRY entries[256]{};
    entries[7] = {10, 20, 30, PC_RESERVED};
    IDirectDrawPalette* raw = nullptr;
    EXPECT_EQ(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_INITIALIZE, nullptr, &raw, nullptr),
              DDERR_INVALIDPARAMS);
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_INITIALIZE, entries, &raw, nullptr), DD_OK);
    Ptr<IDirectDrawPalette> palette(raw);
    ASSERT_EQ(back->SetPalette(palette.get()), DD_OK);
    ASSERT_EQ(p->SetPalette(palette.get()), DD_OK);
    PALETTEENTRY got{};
    ASSERT_EQ(palette->GetEntries(0, 7, 1, &got), DD_OK);
    EXPECT_EQ(got.peGreen, 20);
    EXPECT_EQ(palette->GetEntries(0, 250, 10, entries), DDERR_INVALIDPARAMS);

    // An 8-bit frame goes to an 8-bit screen index for index.
    DDSURFACEDESC l{};
    l.dwSize = sizeof l;
    ASSERT_EQ(back->Lock(nullptr, &l, 0, nullptr), DD_OK);
    std::memset(l.lpSurface, 7, 4);
    back->Unlock(l.lpSurface);
    RECT r{0, 0, 4, 1};
    ASSERT_EQ(p->Blt(&r, back.get(), &r, DDBLT_WAIT, nullptr), DD_OK);
    ASSERT_EQ(p->Lock(nullptr, &l, DDLOCK_READONLY, nullptr), DD_OK);
    EXPECT_EQ(static_cast<uint8_t*>(l.lpSurface)[3], 7);
    p->Unlock(l.lpSurface);

    // A palette can't go on a surface without indices.
    Win32TestSetDisplay(64, 64, 32);
    auto rgb = offscreen(4, 4);
    EXPECT_EQ(rgb->SetPalette(palette.get()), DDERR_NOTPALETTIZED);
}

TEST_F(Draw, LostSurfacesFailUntilRestored) {
    auto p = primary();
    auto back = offscreen(64, 64);
    auto z = zbuffer(64, 64);
    EXPECT_EQ(p->IsLost(), DD_OK);
    DXTestLoseSurfaces();
    EXPECT_EQ(p->IsLost(), DDERR_SURFACELOST);
    EXPECT_EQ(z->IsLost(), DDERR_SURFACELOST);
    RECT r{0, 0, 64, 64};
    EXPECT_EQ(p->Blt(&r, back.get(), &r, DDBLT_WAIT, nullptr), DDERR_SURFACELOST);
    EXPECT_EQ(p->Restore(), DD_OK);
    EXPECT_EQ(p->IsLost(), DD_OK);
    EXPECT_EQ(p->Blt(&r, back.get(), &r, DDBLT_WAIT, nullptr), DDERR_SURFACELOST)
        << "the source is still lost";
    EXPECT_EQ(back->Restore(), DD_OK);
    EXPECT_EQ(p->Blt(&r, back.get(), &r, DDBLT_WAIT, nullptr), DD_OK);

    DXTestLoseSurface(p.get());
    EXPECT_EQ(p->IsLost(), DDERR_SURFACELOST);
    EXPECT_EQ(back->IsLost(), DD_OK);
    EXPECT_EQ(z->IsLost(), DDERR_SURFACELOST) << "still lost from before";
    EXPECT_EQ(z->Restore(), DD_OK);
    EXPECT_EQ(z->IsLost(), DD_OK);
}

struct Seen {
    std::vector<std::string> names;
    std::vector<D3DDEVICEDESC> hardware, emulation;
    std::vector<GUID> guids;
};

HRESULT CALLBACK record_device(LPGUID guid, LPSTR, LPSTR name, LPD3DDEVICEDESC hw,
                               LPD3DDEVICEDESC em, LPVOID context) {
    auto* seen = static_cast<Seen*>(context);
    seen->names.push_back(name);
    seen->hardware.push_back(*hw);
    seen->emulation.push_back(*em);
    seen->guids.push_back(*guid);
    return D3DENUMRET_OK;
}

TEST_F(Draw, EnumerationReportsAddedDevicesThenTheEmulationDevices) {
    D3DDEVICEDESC hw{}, em{};
    hw.dwSize = em.dwSize = sizeof hw;
    hw.dcmColorModel = D3DCOLOR_RGB;
    hw.dwDeviceZBufferBitDepth = DDBD_24;
    const GUID fake = {0x12345678, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
    DXTestAddDevice(fake, "Test HAL", hw, em);

    void* obj = nullptr;
    ASSERT_EQ(dd->QueryInterface(IID_IDirect3D2, &obj), DD_OK);
    Ptr<IDirect3D2> d3d(static_cast<IDirect3D2*>(obj));
    Seen seen;
    ASSERT_EQ(d3d->EnumDevices(record_device, &seen), DD_OK);
    ASSERT_EQ(seen.names.size(), 3u);
    EXPECT_EQ(seen.names[0], "Test HAL");
    EXPECT_EQ(seen.hardware[0].dwDeviceZBufferBitDepth, DWORD(DDBD_24));
    EXPECT_EQ(seen.names[1], "Ramp Emulation");
    EXPECT_TRUE(seen.guids[1] == IID_IDirect3DRampDevice);
    EXPECT_EQ(seen.emulation[1].dcmColorModel, D3DCOLOR_MONO);
    EXPECT_EQ(seen.emulation[1].dwDeviceZBufferBitDepth, DWORD(DDBD_16));
    EXPECT_EQ(seen.names[2], "MMX Emulation");
    EXPECT_TRUE(seen.guids[2] == IID_IDirect3DMMXDevice);
    EXPECT_TRUE(seen.emulation[2].dcmColorModel & D3DCOLOR_MONO);
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(seen.hardware[i].dcmColorModel, 0);
        EXPECT_EQ(seen.hardware[i].dwSize, sizeof(D3DDEVICEDESC));
    }
}

TEST_F(Draw, DeviceCreationFallsBackToRampWhenMMXIsMissing) {
    auto back = offscreen(32, 32);
    auto p = primary();
    void* obj = nullptr;
    ASSERT_EQ(dd->QueryInterface(IID_IDirect3D2, &obj), DD_OK);
    Ptr<IDirect3D2> d3d(static_cast<IDirect3D2*>(obj));
    IDirect3DDevice2* dev = nullptr;
    EXPECT_EQ(d3d->CreateDevice(IID_IDirect3DMMXDevice, p.get(), &dev), DDERR_INVALIDCAPS);
    DXTestSetMMXAvailable(FALSE);
    EXPECT_NE(d3d->CreateDevice(IID_IDirect3DMMXDevice, back.get(), &dev), DD_OK);
    EXPECT_EQ(dev, nullptr);
    ASSERT_EQ(d3d->CreateDevice(IID_IDirect3DRampDevice, back.get(), &dev), DD_OK);
    Ptr<IDirect3DDevice2> device(dev);
    IDirectDrawSurface* target = nullptr;
    ASSERT_EQ(device->GetRenderTarget(&target), DD_OK);
    EXPECT_EQ(target, back.get());
    target->Release();
    EXPECT_EQ(d3d->CreateDevice(IID_IDirect3DRGBDevice, back.get(), &dev), DDERR_INVALIDPARAMS);
}

TEST_F(Draw, InjectedFailuresHitTheNamedCallOnce) {
    IDirectDrawClipper* raw = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &raw, nullptr), DD_OK);
    Ptr<IDirectDrawClipper> clipper(raw);
    DXTestFailCall("SetHWnd", 2, DDERR_GENERIC);
    EXPECT_EQ(clipper->SetHWnd(0, nullptr), DD_OK);
    EXPECT_EQ(clipper->SetHWnd(0, nullptr), DDERR_GENERIC);
    EXPECT_EQ(clipper->SetHWnd(0, nullptr), DD_OK);

    DXTestFailCall("DirectDrawCreate", 1, DDERR_NODIRECTDRAWHW);
    IDirectDraw* second = reinterpret_cast<IDirectDraw*>(1);
    EXPECT_EQ(DirectDrawCreate(nullptr, &second, nullptr), DDERR_NODIRECTDRAWHW);
    DXTestFailCall("QueryInterface", 1, E_NOINTERFACE);
    void* obj = nullptr;
    EXPECT_EQ(dd->QueryInterface(IID_IDirect3D2, &obj), E_NOINTERFACE);
    EXPECT_EQ(obj, nullptr);
    DXTestFailCall("CreateSurface", 1, DDERR_OUTOFMEMORY);
    EXPECT_FALSE(create(surface_desc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE), DDERR_OUTOFMEMORY));
    EXPECT_TRUE(primary());
    DXTestFailCall("Blt", 1, DDERR_SURFACELOST);
    DXTestClearFailures();
    auto back = offscreen(8, 8);
    auto p2 = zbuffer(8, 8);
    EXPECT_EQ(back->AddAttachedSurface(p2.get()), DD_OK);
}

TEST_F(Draw, SurfacesKeepTheirOwnersAliveAndAllGoAway) {
    auto p = primary();
    auto back = offscreen(16, 16);
    auto z = zbuffer(16, 16);
    ASSERT_EQ(back->AddAttachedSurface(z.get()), DD_OK);
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    ASSERT_EQ(p->SetClipper(clipper), DD_OK);
    clipper->Release();
    const int with_everything = DXTestLiveObjects();
    EXPECT_EQ(with_everything, 5);
    z.reset();
    EXPECT_EQ(DXTestLiveObjects(), 5) << "the attached z-buffer lives on";
    dd.reset();
    EXPECT_EQ(DXTestLiveObjects(), 5) << "surfaces keep the DirectDraw object";
    back.reset();
    p.reset();
    EXPECT_EQ(DXTestLiveObjects(), 0);
}

} // namespace
} // namespace dxt
