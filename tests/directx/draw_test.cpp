// DirectDraw: surfaces, attachment, palettes, clipping of copies to the window,
// presentation of what changed, lost surfaces, device enumeration and creation,
// and object lifetime.
#include "dx_test_util.h"

#include <SDL.h>

#include <cstring>

namespace dxt {
namespace {

using Draw = DxTest;

// A new popup window, which a clipper on the stage's primary follows.
HWND clip_to(Stage& s, int x, int y, int w, int h) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "DxClipTest";
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "DxClipTest", "clip", WS_POPUP | WS_VISIBLE, x, y, w, h, nullptr,
                                nullptr, nullptr, nullptr);
    UpdateWindow(hwnd); // black: a first copy sends only what its source drew
    Ptr<IDirectDrawClipper> clipper;
    EXPECT_EQ(s.dd->CreateClipper(0, out(clipper), nullptr), DD_OK);
    EXPECT_EQ(clipper->SetHWnd(0, hwnd), DD_OK);
    EXPECT_EQ(s.primary->SetClipper(clipper.get()), DD_OK);
    return hwnd;
}

TEST_F(Draw, SurfacesFollowTheDisplayAndCheckDescriptorsAndAttachments) {
    Stage s(640, 480, 32, false);
    for (int bits : {8, 16, 24, 32}) {
        Win32TestSetDisplay(640, 480, bits);
        DDSURFACEDESC d{};
        d.dwSize = sizeof d; // both descriptor sizes are accepted
        ASSERT_EQ(create(s.dd.get(), offscreen_desc(64, 32))->GetSurfaceDesc(&d), DD_OK);
        EXPECT_TRUE(d.dwWidth == 64 && d.dwHeight == 32 && d.ddsCaps.dwCaps & DDSCAPS_3DDEVICE);
        EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, DWORD(bits == 24 ? 32 : bits)) << bits;
        EXPECT_EQ(bool(d.ddpfPixelFormat.dwFlags & DDPF_PALETTEINDEXED8), bits == 8);
    }
    DDSURFACEDESC odd = offscreen_desc(8, 8);
    odd.dwSize = 100;
    create(s.dd.get(), odd, DDERR_INVALIDPARAMS);
    create(s.dd.get(), surface_desc(DDSD_CAPS, DDSCAPS_OFFSCREENPLAIN), DDERR_INVALIDPARAMS);
    create(s.dd.get(), zbuffer_desc(8, 8, 24), DDERR_INVALIDPIXELFORMAT);
    create(s.dd.get(), surface_desc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE),
           DDERR_PRIMARYSURFACEALREADYEXISTS);
    // Without a cooperative level nothing can be created.
    Ptr<IDirectDraw> fresh;
    ASSERT_EQ(DirectDrawCreate(nullptr, out(fresh), nullptr), DD_OK);
    create(fresh.get(), surface_desc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE),
           DDERR_NOCOOPERATIVELEVELSET);

    // A palette needs its entries, gives only those it has, and suits only indexed surfaces.
    PALETTEENTRY entries[256]{};
    Ptr<IDirectDrawPalette> palette;
    EXPECT_EQ(
        s.dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_INITIALIZE, nullptr, out(palette), nullptr),
        DDERR_INVALIDPARAMS);
    ASSERT_EQ(s.dd->CreatePalette(DDPCAPS_8BIT, entries, out(palette), nullptr), DD_OK);
    EXPECT_EQ(palette->GetEntries(0, 250, 10, entries), DDERR_INVALIDPARAMS);
    EXPECT_EQ(s.back->SetPalette(palette.get()), DDERR_NOTPALETTIZED);

    // A z-buffer attaches only when it matches.
    auto z = create(s.dd.get(), zbuffer_desc(640, 480)),
         half = create(s.dd.get(), zbuffer_desc(320, 480)),
         plain = create(s.dd.get(), offscreen_desc(640, 480));
    IDirectDrawSurface* const mismatched[] = {nullptr, half.get(), plain.get(), s.back.get()};
    for (IDirectDrawSurface* other : mismatched)
        EXPECT_EQ(s.back->AddAttachedSurface(other), DDERR_CANNOTATTACHSURFACE);
    EXPECT_EQ(s.back->AddAttachedSurface(z.get()), DD_OK);
    EXPECT_EQ(s.back->AddAttachedSurface(z.get()), DDERR_SURFACEALREADYATTACHED);
}

TEST_F(Draw, CopyToThePrimaryIsClippedToTheWindowAndOnlyWhatChanged) {
    Stage s(640, 480);
    RECT all{0, 0, 640, 480};
    auto copy = [&] { return s.primary->Blt(&all, s.back.get(), &all, DDBLT_WAIT, nullptr); };
    ASSERT_EQ(s.primary->SetClipper(nullptr), DD_OK);
    // Without a window the copy covers the display.
    fill_pattern(s.back.get(), 0x100000);
    ASSERT_EQ(copy(), DD_OK);
    EXPECT_EQ(pixel(s.primary.get(), 600, 400), pat(0x100000, 600, 400));
    // Scribbled over, the screen isn't repainted from an unchanged back surface.
    fill_pattern(s.primary.get(), 0x400000);
    ASSERT_EQ(copy(), DD_OK);
    EXPECT_EQ(pixel(s.primary.get(), 10, 10), pat(0x400000, 10, 10));

    // A window at (100, 50), 200 x 100: a changed surface lands only inside it.
    HWND hwnd = clip_to(s, 100, 50, 200, 100);
    fill_pattern(s.back.get(), 0x200000);
    ASSERT_EQ(copy(), DD_OK);
    for (auto [x, y] : {std::pair{100, 50}, {299, 149}, {99, 50}, {300, 149}, {150, 150}})
        EXPECT_EQ(pixel(s.primary.get(), x, y),
                  pat(x >= 100 && x < 300 && y < 150 ? 0x200000 : 0x400000, x, y))
            << x << "," << y;
    DestroyWindow(hwnd);
}

TEST_F(Draw, WindowedPrimaryPresentsIntoTheWindowSurfaceUntilLost) {
    DXTestSetHeadless(FALSE);
    Stage s(640, 480);
    HWND hwnd = clip_to(s, 40, 30, 160, 120);
    fill_pattern(s.back.get(), 0x300000);
    // Offset by 20 pixels to the left: the source's first 20 columns fall outside the window.
    // The primary, locked, shows the window's own pixels.
    RECT src{0, 0, 160, 120}, dst{20, 30, 180, 150};
    for (int w : {160, 200}) {
        ASSERT_EQ(s.primary->Blt(&dst, s.back.get(), &src, DDBLT_WAIT, nullptr), DD_OK);
        // Window pixel (0, 0) is screen (40, 30) = source (20, 0); the whole frame each time,
        // and nothing beyond the source's right edge.
        EXPECT_EQ(pixel(s.primary.get(), 0, 0), pat(0x300000, 20, 0)) << w;
        EXPECT_EQ(pixel(s.primary.get(), 139, 119), pat(0x300000, 159, 119)) << w;
        EXPECT_EQ(pixel(s.primary.get(), w - 1, 0), 0u) << w;
        // A resized window invalidates the window surface: the primary is lost until restored.
        SDL_SetWindowSize(Win32GetSdlWindow(hwnd), w + 40, 150);
        EXPECT_EQ(s.primary->IsLost(), DDERR_SURFACELOST);
        EXPECT_EQ(s.primary->Blt(&dst, s.back.get(), &src, DDBLT_WAIT, nullptr), DDERR_SURFACELOST);
        EXPECT_EQ(s.primary->Restore(), DD_OK);
    }
    // Restored over the window's last picture, a copy of a source that drew a corner is whole.
    auto corner = create(s.dd.get(), offscreen_desc(160, 120));
    RECT c{0, 0, 8, 8};
    ASSERT_EQ(corner->Blt(&c, s.back.get(), &c, DDBLT_WAIT, nullptr), DD_OK);
    for (IDirectDrawSurface* from : {s.back.get(), corner.get()}) {
        EXPECT_EQ(s.primary->Restore(), DD_OK);
        ASSERT_EQ(s.primary->Blt(&dst, from, &src, DDBLT_WAIT, nullptr), DD_OK);
    }
    EXPECT_EQ(pixel(s.primary.get(), 139, 119), 0u) << "the last picture stayed";
    s.primary.reset();
    DestroyWindow(hwnd);
}

TEST_F(Draw, ABackSurfaceTheSizeOfTheWindowIsDrawnInTheWindowsOwnMemory) {
    DXTestSetHeadless(FALSE);
    Stage s(640, 480);
    RECT all{0, 0, 640, 480};
    auto present = [&] { return s.primary->Blt(&all, s.back.get(), &all, DDBLT_WAIT, nullptr); };
    auto back_memory = [&] {
        DDSURFACEDESC d{};
        d.dwSize = sizeof d;
        EXPECT_EQ(s.back->Lock(nullptr, &d, DDLOCK_READONLY, nullptr), DD_OK);
        s.back->Unlock(d.lpSurface);
        return d.lpSurface;
    };
    HWND hwnd = clip_to(s, 0, 0, 640, 480);
    auto window_memory = [&] { return SDL_GetWindowSurface(Win32GetSdlWindow(hwnd))->pixels; };
    fill_pattern(s.back.get(), 0x100000);
    ASSERT_EQ(present(), DD_OK);
    EXPECT_EQ(back_memory(), window_memory());
    // A primary restored while the window stays: the back surface keeps its picture.
    fill_pattern(s.back.get(), 0x200000);
    ASSERT_EQ(s.primary->Restore(), DD_OK);
    EXPECT_NE(back_memory(), window_memory());
    EXPECT_EQ(pixel(s.back.get(), 600, 400), pat(0x200000, 600, 400));

    // When SDL frees the window's memory (a new surface after a resize, the window gone), the
    // back surface is blank and nothing is drawn into freed memory.
    for (bool resize : {true, false}) {
        ASSERT_EQ(present(), DD_OK);
        ASSERT_EQ(back_memory(), window_memory()) << resize;
        if (resize) {
            SDL_SetWindowSize(Win32GetSdlWindow(hwnd), 320, 240);
            window_memory();
            EXPECT_EQ(s.primary->Restore(), DD_OK);
        } else {
            DestroyWindow(hwnd);
        }
        EXPECT_EQ(pixel(s.back.get(), 600, 400), 0u) << resize;
        fill_pattern(s.back.get(), 0x300000);
        EXPECT_EQ(pixel(s.back.get(), 600, 400), pat(0x300000, 600, 400)) << resize;
        if (resize) SDL_SetWindowSize(Win32GetSdlWindow(hwnd), 640, 480);
    }
    // A new window of the same size takes the picture and then lends its memory.
    hwnd = clip_to(s, 0, 0, 640, 480);
    EXPECT_EQ(s.primary->Restore(), DD_OK);
    ASSERT_EQ(present(), DD_OK);
    EXPECT_EQ(back_memory(), window_memory());
    EXPECT_EQ(pixel(s.primary.get(), 600, 400), pat(0x300000, 600, 400));
    s.primary.reset();
    DestroyWindow(hwnd);
}

TEST_F(Draw, FormatsAndPalettesAreAppliedOnTheWayToTheScreen) {
    // A 565 source on a true-colour screen; an 8-bit one, through a shared palette, on an 8-bit
    // screen index for index.
    for (int bits : {32, 8}) {
        Stage s(4, 1, bits, false);
        DDSURFACEDESC d = surface_desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT,
                                       DDSCAPS_OFFSCREENPLAIN, 4, 1);
        d.ddpfPixelFormat.dwFlags = bits == 8 ? DDPF_PALETTEINDEXED8 : DDPF_RGB;
        d.ddpfPixelFormat.dwRGBBitCount = bits == 8 ? 8 : 16;
        auto source = create(s.dd.get(), d);
        ASSERT_EQ(source->Lock(nullptr, &d, 0, nullptr), DD_OK);
        const uint16_t px[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
        std::memcpy(d.lpSurface, px, bits == 8 ? 4 : sizeof px);
        source->Unlock(d.lpSurface);
        RECT all{0, 0, 4, 1}, stretched{0, 0, 8, 2}, outside{0, 0, 5, 1};
        ASSERT_EQ(s.primary->Blt(&all, source.get(), &all, DDBLT_WAIT, nullptr), DD_OK);
        const uint32_t want[2][4] = {{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}, {0, 0xF8, 0xE0, 7}};
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixel(s.primary.get(), x, 0), want[bits == 8][x]) << bits << " " << x;
        EXPECT_EQ(s.primary->Blt(&stretched, source.get(), &all, DDBLT_WAIT, nullptr),
                  DDERR_NOSTRETCHHW);
        EXPECT_EQ(s.primary->Blt(&all, source.get(), &outside, DDBLT_WAIT, nullptr),
                  DDERR_INVALIDRECT);
    }
}

TEST_F(Draw, LostSurfacesFailUntilRestoredAndOwnersStayAlive) {
    Stage s(64, 64);
    // Primary, back, z-buffer: L lost, - not.
    auto lost = [&] {
        std::string state;
        for (auto* x : {s.primary.get(), s.back.get(), s.zbuffer.get()})
            state += x->IsLost() == DD_OK ? '-' : x->IsLost() == DDERR_SURFACELOST ? 'L' : '?';
        return state;
    };
    // Shown once, then scribbled over on screen: a restored back surface is shown whole again.
    ASSERT_EQ(s.frame(), DD_OK);
    fill_pattern(s.primary.get(), 0x100000);
    DXTestLoseSurfaces();
    EXPECT_EQ(lost(), "LLL");
    EXPECT_EQ(s.frame(), DDERR_SURFACELOST);
    const std::pair<IDirectDrawSurface*, const char*> restores[] = {
        {s.primary.get(), "-LL"}, {s.back.get(), "--L"}, {s.zbuffer.get(), "---"}};
    for (auto [surface, state] : restores) {
        EXPECT_EQ(surface->Restore(), DD_OK);
        EXPECT_EQ(lost(), state);
        s.hr = DD_OK;
        EXPECT_EQ(s.frame(), surface == s.primary.get() ? DDERR_SURFACELOST : DD_OK) << state;
    }
    EXPECT_EQ(pixel(s.primary.get(), 1, 1), 0u);
    // Surfaces hold what is attached to them and their DirectDraw object: without the
    // stage's own references only Direct3D goes.
    DestroyWindow(clip_to(s, 0, 0, 8, 8));
    const int all = DXTestLiveObjects();
    s.zbuffer.reset();
    s.dd.reset();
    s.d3d.reset();
    EXPECT_EQ(DXTestLiveObjects(), all - 1);
}

HRESULT CALLBACK record_device(LPGUID, LPSTR, LPSTR name, LPD3DDEVICEDESC, LPD3DDEVICEDESC,
                               LPVOID seen) {
    *static_cast<std::string*>(seen) += std::string(name) + ",";
    return D3DENUMRET_OK;
}

TEST_F(Draw, DevicesAreEnumeratedAndCreationFallsBackToRampWhenMMXIsMissing) {
    D3DDEVICEDESC hw{};
    hw.dwSize = sizeof hw;
    DXTestAddDevice(IID_IDirect3DRGBDevice, "Test HAL", hw, hw);
    Stage s(32, 32);
    std::string seen;
    ASSERT_EQ(s.d3d->EnumDevices(record_device, &seen), DD_OK);
    EXPECT_EQ(seen, "Test HAL,Ramp Emulation,MMX Emulation,") << "added devices first";
    Ptr<IDirect3DDevice2> device;
    Ptr<IDirectDrawSurface> target;
    EXPECT_EQ(s.d3d->CreateDevice(IID_IDirect3DMMXDevice, s.primary.get(), out(device)),
              DDERR_INVALIDCAPS);
    EXPECT_EQ(s.d3d->CreateDevice(IID_IDirect3DRGBDevice, s.back.get(), out(device)),
              DDERR_INVALIDPARAMS);
    DXTestSetMMXAvailable(FALSE);
    EXPECT_NE(s.d3d->CreateDevice(IID_IDirect3DMMXDevice, s.back.get(), out(device)), DD_OK);
    ASSERT_EQ(s.d3d->CreateDevice(IID_IDirect3DRampDevice, s.back.get(), out(device)), DD_OK);
    ASSERT_EQ(device->GetRenderTarget(out(target)), DD_OK);
    EXPECT_EQ(target.get(), s.back.get());
}

} // namespace
} // namespace dxt
