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

// Kept on an SDL window: the last of its surfaces that a primary surface wrote into, so that
// any primary knows whether the window's surface still holds only what it was made with.
inline constexpr char kWrittenSurfaceKey[] = "plumora.written";

// Zeroed memory for surfaces. Large blocks are mapped from the kernel, whose fresh pages read
// as zero and cost nothing until written, and advised for huge pages, so a 4K surface takes a
// handful of page faults where it is drawn on rather than thousands up front.
class ZeroedMemory {
  public:
    ZeroedMemory() = default;
    ZeroedMemory(const ZeroedMemory&) = delete;
    ZeroedMemory& operator=(const ZeroedMemory&) = delete;
    ~ZeroedMemory();
    bool allocate(size_t bytes); // false when the memory cannot be had
    void zero();                 // reads as zero again; mapped pages go back to the kernel
    uint8_t* data() { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

  private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t mapped_ = 0; // bytes mapped, or 0 when the block came from calloc
};

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
    // An offscreen surface lent a window's memory (see Surface::lend) draws there.
    uint8_t* pixels() { return host_ ? shared_pixels() : memory_.data(); }
    // Depth buffers hold the complement of each depth (raster::Target), so fresh memory reads
    // as cleared; a lock shows the depths themselves.
    uint16_t* depth() { return reinterpret_cast<uint16_t*>(memory_.data()); }
    // False when the surface's memory could not be had (the surface is then unusable).
    bool usable() const {
        return (kind_ == SurfaceKind::Primary && !headless_) || !memory_.empty();
    }
    Surface* zbuffer() const { return zbuffer_.get(); }
    Palette* palette() const { return palette_.get(); }
    bool lost() const { return lost_; }
    void set_lost() { lost_ = true; }

    // What changed since the last copy from this surface to the screen.
    void add_damage(const raster::Rect& r) { damage_ = unite(damage_, r); }
    void damage_all() { damage_ = {0, 0, width_, height_}; }
    // The part that may differ from fresh memory (black, or the back plane): what a first
    // clear has to clear.
    const raster::Rect& written() const { return written_; }
    void add_written(const raster::Rect& r) { written_ = unite(written_, r); }

  private:
    ~Surface() override;
    HRESULT present(const raster::Rect& dest, Surface& src, const raster::Rect& srcRect);
    HRESULT copy_from(const raster::Rect& dest, Surface& src, const raster::Rect& srcRect);
    bool can_lend(const Surface& src, const raster::Rect& dest, const raster::Rect& srcRect,
                  const raster::Rect& clip, POINT window_origin) const;
    void lend(Surface& src);
    void end_lending(bool keep_content);
    uint8_t* shared_pixels();
    bool window_surface_changed();
    void complement_depth();
    HWND target_hwnd() const;

    IDirectDraw* owner_;
    SurfaceKind kind_;
    int width_, height_, pitch_;
    raster::Format format_;
    ZeroedMemory memory_;
    raster::Rect written_{0, 0, 0, 0};
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
    bool window_blank_ = false; // the window surface is fresh and its window black on screen
    Surface* last_source_ = nullptr;
    raster::Rect last_dest_{0, 0, 0, 0};
    Surface* guest_ = nullptr; // the offscreen surface drawing in the window's memory

    // Offscreen surface only: the primary whose window memory it draws in, and that window's
    // surface, on which it holds a reference of its own.
    Surface* host_ = nullptr;
    SDL_Surface* host_memory_ = nullptr;
    std::vector<uint32_t> row_;
    std::vector<uint8_t> zeros_; // a fresh row of a source, for copies of what it never wrote

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
