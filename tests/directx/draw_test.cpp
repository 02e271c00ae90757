// DirectDraw: surfaces, attachment, palettes, clipping of copies to the window,
// presentation of what changed, lost surfaces, device enumeration and creation,
// and object lifetime.
#include "dx_test_util.h"

#include <SDL.h>

#include <cstring>
#include <tuple>

namespace dxt {
namespace {

class Draw : public DxTest {
  protected:
    void SetUp() override {
        DxTest::SetUp();
        Win32TestSetDisplay(640, 480, 32);
        ASSERT_EQ(DirectDrawCreate(nullptr, out(dd), nullptr), DD_OK);
        ASSERT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
    }
    void TearDown() override {
        dd.reset();
        DxTest::TearDown();
    }

    Ptr<IDirectDrawSurface> create(DDSURFACEDESC desc, HRESULT expected = DD_OK) {
        Ptr<IDirectDrawSurface> s;
        EXPECT_EQ(dd->CreateSurface(&desc, out(s), nullptr), expected);
        return s;
    }
    static DDSURFACEDESC desc_of(IDirectDrawSurface* s, DWORD size = DDSURFACEDESC_SIZE_32) {
        DDSURFACEDESC d{};
        d.dwSize = size;
        EXPECT_EQ(s->GetSurfaceDesc(&d), DD_OK);
        return d;
    }
    Ptr<IDirectDrawSurface> offscreen(int w, int h) { return create(offscreen_desc(w, h)); }
    Ptr<IDirectDrawSurface> zbuffer(int w, int h, DWORD bits = 16, HRESULT expected = DD_OK) {
        return create(zbuffer_desc(w, h, bits), expected);
    }
    Ptr<IDirectDrawSurface> primary(HRESULT expected = DD_OK) {
        return create(surface_desc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE), expected);
    }
    // A clipper on the primary following a new popup window.
    Ptr<IDirectDrawClipper> clip_to(IDirectDrawSurface* p, HWND& hwnd, int x, int y, int w, int h) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "DxClipTest";
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        RegisterClassA(&wc);
        hwnd = CreateWindowExA(0, "DxClipTest", "clip", WS_POPUP | WS_VISIBLE, x, y, w, h, nullptr,
                               nullptr, nullptr, nullptr);
        EXPECT_NE(hwnd, nullptr);
        UpdateWindow(hwnd); // black: a first copy sends only what its source drew
        Ptr<IDirectDrawClipper> clipper;
        EXPECT_EQ(dd->CreateClipper(0, out(clipper), nullptr), DD_OK);
        EXPECT_EQ(clipper->SetHWnd(0, hwnd), DD_OK);
        EXPECT_EQ(p->SetClipper(clipper.get()), DD_OK);
        return clipper;
    }

    Ptr<IDirectDraw> dd;
};

// The pattern value of a pixel: a tag in bits 20-23, y and x below.
uint32_t pat(uint32_t tag, uint32_t x, uint32_t y) {
    return tag | (y << 10) | x;
}

// Fills a 32-bit surface with the pattern.
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

TEST_F(Draw, SurfacesFollowTheDisplayAndCheckDescriptorsAndAttachments) {
    for (int bits : {8, 16, 24, 32}) {
        Win32TestSetDisplay(640, 480, bits);
        auto back = offscreen(64, 32);
        ASSERT_TRUE(back);
        const DDSURFACEDESC d = desc_of(back.get(), sizeof(DDSURFACEDESC));
        EXPECT_TRUE(d.dwWidth == 64 && d.dwHeight == 32 && d.ddsCaps.dwCaps & DDSCAPS_3DDEVICE);
        EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, DWORD(bits == 24 ? 32 : bits)) << bits;
        EXPECT_EQ(bool(d.ddpfPixelFormat.dwFlags & DDPF_PALETTEINDEXED8), bits == 8);
    }
    Win32TestSetDisplay(640, 480, 32);
    // Both descriptor sizes are accepted, nothing else; a size is needed off screen.
    DDSURFACEDESC desc = surface_desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT,
                                      DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, 8, 8);
    desc.dwSize = sizeof(DDSURFACEDESC);
    EXPECT_TRUE(create(desc));
    desc.dwSize = 100;
    EXPECT_FALSE(create(desc, DDERR_INVALIDPARAMS));
    EXPECT_FALSE(create(surface_desc(DDSD_CAPS, DDSCAPS_OFFSCREENPLAIN), DDERR_INVALIDPARAMS));

    auto p = primary();
    EXPECT_TRUE(desc_of(p.get()).dwWidth == 640 && desc_of(p.get()).dwHeight == 480);
    EXPECT_FALSE(primary(DDERR_PRIMARYSURFACEALREADYEXISTS));

    // Without a cooperative level nothing can be created.
    Ptr<IDirectDraw> fresh;
    ASSERT_EQ(DirectDrawCreate(nullptr, out(fresh), nullptr), DD_OK);
    Ptr<IDirectDrawSurface> s;
    desc = surface_desc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE);
    EXPECT_EQ(fresh->CreateSurface(&desc, out(s), nullptr), DDERR_NOCOOPERATIVELEVELSET);
    EXPECT_FALSE(s);

    // A z-buffer attaches only when it matches.
    auto back = offscreen(64, 32);
    auto z = zbuffer(64, 32);
    const DDSURFACEDESC d = desc_of(z.get());
    EXPECT_TRUE(d.dwZBufferBitDepth == 16 && d.ddsCaps.dwCaps & DDSCAPS_ZBUFFER);
    EXPECT_EQ(back->AddAttachedSurface(nullptr), DDERR_CANNOTATTACHSURFACE);
    EXPECT_EQ(back->AddAttachedSurface(zbuffer(32, 32).get()), DDERR_CANNOTATTACHSURFACE);
    EXPECT_EQ(back->AddAttachedSurface(offscreen(64, 32).get()), DDERR_CANNOTATTACHSURFACE);
    EXPECT_EQ(back->AddAttachedSurface(z.get()), DD_OK);
    EXPECT_EQ(back->AddAttachedSurface(z.get()), DDERR_SURFACEALREADYATTACHED);
    EXPECT_FALSE(zbuffer(8, 8, 24, DDERR_INVALIDPIXELFORMAT));
}

TEST_F(Draw, CopyToThePrimaryIsClippedToTheWindowAndOnlyWhatChanged) {
    auto p = primary();
    auto back = offscreen(640, 480);
    fill_pattern(back.get(), 0x100000);
    // Without a window the copy covers the display.
    RECT all{0, 0, 640, 480};
    ASSERT_EQ(p->Blt(&all, back.get(), &all, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(pixel(p.get(), 600, 400), pat(0x100000, 600, 400));

    // Scribbled over, the screen isn't repainted from an unchanged back surface.
    fill_pattern(p.get(), 0x400000);
    ASSERT_EQ(p->Blt(&all, back.get(), &all, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(pixel(p.get(), 10, 10), pat(0x400000, 10, 10));

    // A window at (100, 50), 200 x 100: a changed surface lands only inside it.
    HWND hwnd = nullptr;
    auto clipper = clip_to(p.get(), hwnd, 100, 50, 200, 100);
    fill_pattern(back.get(), 0x200000);
    ASSERT_EQ(p->Blt(&all, back.get(), &all, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(pixel(p.get(), 100, 50), pat(0x200000, 100, 50));
    EXPECT_EQ(pixel(p.get(), 299, 149), pat(0x200000, 299, 149));
    EXPECT_EQ(pixel(p.get(), 99, 50) >> 20, 4u) << "left of the window";
    EXPECT_EQ(pixel(p.get(), 300, 149) >> 20, 4u) << "right of the window";
    EXPECT_EQ(pixel(p.get(), 150, 150) >> 20, 4u) << "below the window";
    DestroyWindow(hwnd);
}

TEST_F(Draw, WindowedPrimaryPresentsIntoTheWindowSurfaceUntilLost) {
    DXTestSetHeadless(FALSE);
    auto p = primary();
    HWND hwnd = nullptr;
    auto clipper = clip_to(p.get(), hwnd, 40, 30, 160, 120);
    auto back = offscreen(160, 120);
    fill_pattern(back.get(), 0x300000);

    // Offset by 20 pixels to the left: the source's first 20 columns fall outside the window.
    RECT src{0, 0, 160, 120}, dst{20, 30, 180, 150};
    SDL_Surface* ws = nullptr;
    auto at = [&](int x, int y) {
        return reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(ws->pixels) +
                                                 y * ws->pitch)[x] &
               0xFFFFFF;
    };
    for (int w : {160, 200}) {
        EXPECT_EQ(p->IsLost(), DD_OK);
        ASSERT_EQ(p->Blt(&dst, back.get(), &src, DDBLT_WAIT, nullptr), DD_OK);
        ASSERT_NE(ws = SDL_GetWindowSurface(Win32GetSdlWindow(hwnd)), nullptr);
        EXPECT_EQ(ws->w, w);
        // Window pixel (0, 0) is screen (40, 30) = source (20, 0); the whole frame each time.
        EXPECT_EQ(at(0, 0), pat(0x300000, 20, 0)) << w;
        EXPECT_EQ(at(139, 119), pat(0x300000, 159, 119)) << w;
        EXPECT_EQ(at(140, 0), 0u) << "beyond the source's right edge nothing was copied";
        // A resized window invalidates the window surface: the primary is lost until restored.
        SDL_SetWindowSize(Win32GetSdlWindow(hwnd), w + 40, 150);
        EXPECT_EQ(p->IsLost(), DDERR_SURFACELOST);
        EXPECT_EQ(p->Blt(&dst, back.get(), &src, DDBLT_WAIT, nullptr), DDERR_SURFACELOST);
        EXPECT_EQ(p->Restore(), DD_OK);
    }
    // Restored over the window's last picture, a copy of a source that drew a corner is whole.
    auto corner = offscreen(160, 120);
    RECT c{0, 0, 8, 8};
    ASSERT_EQ(corner->Blt(&c, back.get(), &c, DDBLT_WAIT, nullptr), DD_OK);
    for (IDirectDrawSurface* from : {back.get(), corner.get()}) {
        EXPECT_EQ(p->Restore(), DD_OK);
        ASSERT_EQ(p->Blt(&dst, from, &src, DDBLT_WAIT, nullptr), DD_OK);
    }
    ASSERT_NE(ws = SDL_GetWindowSurface(Win32GetSdlWindow(hwnd)), nullptr);
    EXPECT_EQ(at(139, 119), 0u) << "the last picture stayed";
    p.reset();
    clipper.reset();
    back.reset();
    DestroyWindow(hwnd);
}

TEST_F(Draw, FormatsAndPalettesAreAppliedOnTheWayToTheScreen) {
    // A 565 source on a true-colour screen.
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
    const uint16_t px[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
    std::memcpy(l.lpSurface, px, sizeof px);
    back565->Unlock(l.lpSurface);
    RECT src{0, 0, 4, 1}, stretched{0, 0, 8, 2}, outside{0, 0, 5, 1};
    ASSERT_EQ(p->Blt(&src, back565.get(), &src, DDBLT_WAIT, nullptr), DD_OK);
    const uint32_t want[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(pixel(p.get(), x, 0), want[x]) << x;
    EXPECT_EQ(p->Blt(&stretched, back565.get(), &src, DDBLT_WAIT, nullptr), DDERR_NOSTRETCHHW);
    EXPECT_EQ(p->Blt(&src, back565.get(), &outside, DDBLT_WAIT, nullptr), DDERR_INVALIDRECT);
    p.reset();

    // A shared palette: an 8-bit frame goes to an 8-bit screen index for index.
    Win32TestSetDisplay(64, 64, 8);
    p = primary();
    auto back = offscreen(4, 1);
    PALETTEENTRY entries[256]{};
    entries[7] = {10, 20, 30, PC_RESERVED};
    Ptr<IDirectDrawPalette> palette;
    EXPECT_EQ(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_INITIALIZE, nullptr, out(palette), nullptr),
              DDERR_INVALIDPARAMS);
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_INITIALIZE, entries, out(palette), nullptr),
              DD_OK);
    ASSERT_EQ(back->SetPalette(palette.get()), DD_OK);
    ASSERT_EQ(p->SetPalette(palette.get()), DD_OK);
    EXPECT_EQ(palette->GetEntries(0, 250, 10, entries), DDERR_INVALIDPARAMS);
    ASSERT_EQ(back->Lock(nullptr, &l, 0, nullptr), DD_OK);
    std::memset(l.lpSurface, 7, 4);
    back->Unlock(l.lpSurface);
    ASSERT_EQ(p->Blt(&src, back.get(), &src, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(pixel(p.get(), 3, 0), 7u);
    // A palette can't go on a surface without indices.
    Win32TestSetDisplay(64, 64, 32);
    EXPECT_EQ(offscreen(4, 4)->SetPalette(palette.get()), DDERR_NOTPALETTIZED);
}

TEST_F(Draw, LostSurfacesFailUntilRestored) {
    auto p = primary();
    auto back = offscreen(64, 64);
    auto z = zbuffer(64, 64);
    RECT r{0, 0, 64, 64};
    auto copy = [&] { return p->Blt(&r, back.get(), &r, DDBLT_WAIT, nullptr); };
    // Primary, back, z-buffer: L lost, - not.
    auto lost = [&] {
        std::string state;
        for (auto* s : {p.get(), back.get(), z.get()})
            state += s->IsLost() == DD_OK ? '-' : s->IsLost() == DDERR_SURFACELOST ? 'L' : '?';
        return state;
    };
    EXPECT_EQ(lost(), "---");
    DXTestLoseSurfaces();
    EXPECT_EQ(lost(), "LLL");
    EXPECT_EQ(copy(), DDERR_SURFACELOST);
    EXPECT_EQ(p->Restore(), DD_OK);
    EXPECT_EQ(copy(), DDERR_SURFACELOST) << "the source is still lost";
    EXPECT_EQ(back->Restore(), DD_OK);
    EXPECT_EQ(lost(), "--L");
    EXPECT_EQ(copy(), DD_OK);
    DXTestLoseSurface(p.get());
    EXPECT_EQ(lost(), "L-L");
    EXPECT_EQ(z->Restore(), DD_OK);
    EXPECT_EQ(lost(), "L--");
}

HRESULT CALLBACK record_device(LPGUID guid, LPSTR, LPSTR name, LPD3DDEVICEDESC hw,
                               LPD3DDEVICEDESC em, LPVOID context) {
    static_cast<std::vector<std::tuple<std::string, GUID, D3DDEVICEDESC, D3DDEVICEDESC>>*>(context)
        ->emplace_back(name, *guid, *hw, *em);
    return D3DENUMRET_OK;
}

TEST_F(Draw, DevicesAreEnumeratedAndCreationFallsBackToRampWhenMMXIsMissing) {
    D3DDEVICEDESC hw{}, em{};
    hw.dwSize = em.dwSize = sizeof hw;
    hw.dwDeviceZBufferBitDepth = DDBD_24;
    const GUID fake = {0x12345678, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
    DXTestAddDevice(fake, "Test HAL", hw, em);
    Ptr<IDirect3D2> d3d;
    ASSERT_EQ(dd->QueryInterface(IID_IDirect3D2, out(d3d)), DD_OK);
    std::vector<std::tuple<std::string, GUID, D3DDEVICEDESC, D3DDEVICEDESC>> seen;
    ASSERT_EQ(d3d->EnumDevices(record_device, &seen), DD_OK);
    // Added devices first, then the emulation devices with no hardware description.
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(std::get<0>(seen[0]), "Test HAL");
    EXPECT_EQ(std::get<2>(seen[0]).dwDeviceZBufferBitDepth, DWORD(DDBD_24));
    EXPECT_EQ(std::get<0>(seen[1]), "Ramp Emulation");
    EXPECT_TRUE(std::get<1>(seen[1]) == IID_IDirect3DRampDevice);
    EXPECT_EQ(std::get<3>(seen[1]).dwDeviceZBufferBitDepth, DWORD(DDBD_16));
    EXPECT_EQ(std::get<0>(seen[2]), "MMX Emulation");
    EXPECT_TRUE(std::get<1>(seen[2]) == IID_IDirect3DMMXDevice);
    for (size_t i = 1; i < 3; ++i)
        EXPECT_TRUE(std::get<2>(seen[i]).dcmColorModel == 0 &&
                    std::get<2>(seen[i]).dwSize == sizeof(D3DDEVICEDESC) &&
                    std::get<3>(seen[i]).dcmColorModel & D3DCOLOR_MONO);

    auto back = offscreen(32, 32);
    auto p = primary();
    Ptr<IDirect3DDevice2> device;
    Ptr<IDirectDrawSurface> target;
    EXPECT_EQ(d3d->CreateDevice(IID_IDirect3DMMXDevice, p.get(), out(device)), DDERR_INVALIDCAPS);
    DXTestSetMMXAvailable(FALSE);
    EXPECT_NE(d3d->CreateDevice(IID_IDirect3DMMXDevice, back.get(), out(device)), DD_OK);
    EXPECT_FALSE(device);
    EXPECT_EQ(d3d->CreateDevice(IID_IDirect3DRGBDevice, back.get(), out(device)),
              DDERR_INVALIDPARAMS);
    ASSERT_EQ(d3d->CreateDevice(IID_IDirect3DRampDevice, back.get(), out(device)), DD_OK);
    ASSERT_EQ(device->GetRenderTarget(out(target)), DD_OK);
    EXPECT_EQ(target.get(), back.get());
}

TEST_F(Draw, SurfacesKeepTheirOwnersAliveAndAllGoAway) {
    auto p = primary();
    auto back = offscreen(16, 16);
    auto z = zbuffer(16, 16);
    ASSERT_EQ(back->AddAttachedSurface(z.get()), DD_OK);
    Ptr<IDirectDrawClipper> clipper;
    ASSERT_EQ(dd->CreateClipper(0, out(clipper), nullptr), DD_OK);
    ASSERT_EQ(p->SetClipper(clipper.get()), DD_OK);
    clipper.reset();
    EXPECT_EQ(DXTestLiveObjects(), 5);
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
