// DirectDraw objects as the rest of the stand-in sees them: Retained Mode draws
// straight into a surface's memory and reports what it changed.
#pragma once

#include "dxcommon.h"

#include <raster/raster.h>

#include <cstdint>
#include <ctime>
#include <vector>

struct SDL_Window;
struct SDL_Surface;

namespace dx {

// Rectangles and pixel sizes as the renderer defines them.
using raster::bytes_per_pixel;
using raster::intersect;
using raster::unite;

// The display the stand-in presents to: size from GetSystemMetrics, depth from GetDeviceCaps.
struct DisplayInfo {
    int width, height, bits;
};
DisplayInfo display_info();
raster::Format format_for_bits(int bits);

class DirectDraw;

class Palette final : public IDirectDrawPalette {
  public:
    Palette(DirectDraw* owner, DWORD caps, const PALETTEENTRY* entries);
    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    HRESULT GetEntries(DWORD flags, DWORD base, DWORD count, LPPALETTEENTRY entries) override;
    HRESULT SetEntries(DWORD flags, DWORD start, DWORD count, LPPALETTEENTRY entries) override;
    DX_REFCOUNTED;

    PALETTEENTRY entries[256]{};
    // Bumped by every change from outside the renderer, so a device re-reads the palette.
    uint32_t version = 1;

  private:
    ~Palette() override;
    IDirectDraw* owner_;
};

class Clipper final : public IDirectDrawClipper {
  public:
    explicit Clipper(DirectDraw* owner);
    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    HRESULT SetHWnd(DWORD flags, HWND hwnd) override;
    HRESULT GetHWnd(HWND* hwnd) override;
    DX_REFCOUNTED;

    HWND hwnd = nullptr;

  private:
    ~Clipper() override;
    IDirectDraw* owner_;
};

enum class SurfaceKind { Primary, Offscreen, ZBuffer };

// Sleeps until the next display refresh; never spins.
class FrameClock {
  public:
    void start(int refresh_hz);
    void wait();

  private:
    long long period_ns_ = 16666667;
    timespec next_{0, 0};
    bool started_ = false;
};

class Surface final : public IDirectDrawSurface {
  public:
    Surface(DirectDraw* owner, SurfaceKind kind, int width, int height, raster::Format format);

    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    HRESULT Blt(LPRECT destRect, LPDIRECTDRAWSURFACE source, LPRECT sourceRect, DWORD flags,
                LPDDBLTFX fx) override;
    HRESULT IsLost() override;
    HRESULT Restore() override;
    HRESULT GetSurfaceDesc(LPDDSURFACEDESC desc) override;
    HRESULT AddAttachedSurface(LPDIRECTDRAWSURFACE surface) override;
    HRESULT SetClipper(LPDIRECTDRAWCLIPPER clipper) override;
    HRESULT SetPalette(LPDIRECTDRAWPALETTE palette) override;
    HRESULT Lock(LPRECT rect, LPDDSURFACEDESC desc, DWORD flags, HANDLE event) override;
    HRESULT Unlock(LPVOID surfaceData) override;
    DX_REFCOUNTED;

    SurfaceKind kind() const { return kind_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int pitch() const { return pitch_; }
    raster::Format format() const { return format_; }
    uint8_t* pixels() { return memory_.data(); }
    uint16_t* depth() { return reinterpret_cast<uint16_t*>(memory_.data()); }
    Surface* zbuffer() const { return zbuffer_.get(); }
    Palette* palette() const { return palette_.get(); }
    bool lost() const { return lost_; }
    void set_lost() { lost_ = true; }

    // What changed since the last copy from this surface to the screen.
    void add_damage(const raster::Rect& r) { damage_ = unite(damage_, r); }
    void damage_all() { damage_ = {0, 0, width_, height_}; }

  private:
    ~Surface() override;
    HRESULT present(const raster::Rect& dest, Surface& src, const raster::Rect& srcRect);
    HRESULT copy_from(const raster::Rect& dest, Surface& src, const raster::Rect& srcRect);
    bool window_surface_changed();
    HWND target_hwnd() const;

    IDirectDraw* owner_;
    SurfaceKind kind_;
    int width_, height_, pitch_;
    raster::Format format_;
    std::vector<uint8_t> memory_;
    bool lost_ = false;
    Ref<Surface> zbuffer_;
    Ref<Clipper> clipper_;
    Ref<Palette> palette_;
    raster::Rect damage_{0, 0, 0, 0};
    int lock_count_ = 0;

    // Primary surface only.
    bool headless_ = false;
    bool paced_ = false;
    HWND cooperative_hwnd_ = nullptr;
    FrameClock clock_;
    SDL_Window* window_ = nullptr;
    SDL_Surface* window_surface_ = nullptr;
    int window_surface_w_ = 0, window_surface_h_ = 0;
    bool full_refresh_ = true;
    Surface* last_source_ = nullptr;
    raster::Rect last_dest_{0, 0, 0, 0};
    std::vector<uint32_t> row_;

    friend class DirectDraw;
};

class DirectDraw final : public IDirectDraw {
  public:
    DirectDraw();
    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    HRESULT SetCooperativeLevel(HWND hwnd, DWORD flags) override;
    HRESULT CreateSurface(LPDDSURFACEDESC desc, LPDIRECTDRAWSURFACE* surface,
                          IUnknown* outer) override;
    HRESULT CreateClipper(DWORD flags, LPDIRECTDRAWCLIPPER* clipper, IUnknown* outer) override;
    HRESULT CreatePalette(DWORD flags, LPPALETTEENTRY entries, LPDIRECTDRAWPALETTE* palette,
                          IUnknown* outer) override;
    DX_REFCOUNTED;

    HWND cooperative_hwnd() const { return hwnd_; }
    void primary_gone() { primary_ = nullptr; }

  private:
    ~DirectDraw() override;
    HWND hwnd_ = nullptr;
    bool cooperative_set_ = false;
    Surface* primary_ = nullptr;
};

// IDirect3D2 over a DirectDraw object, and the emulation devices it creates.
IUnknown* create_direct3d2(DirectDraw* owner);

class D3DDevice final : public IDirect3DDevice2 {
  public:
    D3DDevice(Surface* target, bool ramp);
    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    HRESULT GetRenderTarget(LPDIRECTDRAWSURFACE* surface) override;
    DX_REFCOUNTED;

    Surface* target() const { return target_.get(); }
    bool ramp() const { return ramp_; }

  private:
    ~D3DDevice() override = default;
    Ref<Surface> target_;
    bool ramp_;
};

bool valid_desc_size(DWORD size);

} // namespace dx
