// DirectDraw object, surfaces (creation, description, attachment, locking,
// loss), clipper and palette. Presentation lives in present.cpp.
#include "draw_internal.h"

#include <win32ext.h>

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace dx {
namespace {

std::vector<Surface*>& live_surfaces() {
    static std::vector<Surface*> surfaces;
    return surfaces;
}

void describe_format(SurfaceKind kind, raster::Format f, DDPIXELFORMAT& pf) {
    std::memset(&pf, 0, sizeof pf);
    pf.dwSize = sizeof pf;
    if (kind == SurfaceKind::ZBuffer) {
        pf.dwFlags = DDPF_ZBUFFER;
        pf.dwZBufferBitDepth = 16;
        return;
    }
    pf.dwFlags = DDPF_RGB;
    switch (f) {
    case raster::Format::Indexed8:
    case raster::Format::Count8:
        pf.dwFlags |= DDPF_PALETTEINDEXED8;
        pf.dwRGBBitCount = 8;
        break;
    case raster::Format::RGB565:
        pf.dwRGBBitCount = 16;
        pf.dwRBitMask = 0xF800;
        pf.dwGBitMask = 0x07E0;
        pf.dwBBitMask = 0x001F;
        break;
    case raster::Format::RGB888:
    case raster::Format::XRGB8888:
        pf.dwRGBBitCount = f == raster::Format::RGB888 ? 24 : 32;
        pf.dwRBitMask = 0xFF0000;
        pf.dwGBitMask = 0x00FF00;
        pf.dwBBitMask = 0x0000FF;
        break;
    }
}

// A pixel format asked for in DDSD_PIXELFORMAT, when we can hold it.
bool format_from_desc(const DDPIXELFORMAT& pf, raster::Format& out) {
    if (pf.dwFlags & DDPF_PALETTEINDEXED8) return out = raster::Format::Indexed8, true;
    if (!(pf.dwFlags & DDPF_RGB)) return false;
    switch (pf.dwRGBBitCount) {
    case 32:
        return out = raster::Format::XRGB8888, true;
    case 24:
        return out = raster::Format::RGB888, true;
    case 16:
        return out = raster::Format::RGB565, true;
    case 8:
        return out = raster::Format::Indexed8, true;
    default:
        return false;
    }
}

constexpr int kMaxSurfaceSide = 16384;

} // namespace

bool valid_desc_size(DWORD size) {
    return size == DDSURFACEDESC_SIZE_32 || size == sizeof(DDSURFACEDESC);
}

DisplayInfo display_info() {
    DisplayInfo d{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), 32};
    if (HDC dc = GetDC(nullptr)) {
        d.bits = GetDeviceCaps(dc, BITSPIXEL);
        ReleaseDC(nullptr, dc);
    }
    if (d.width <= 0) d.width = 640;
    if (d.height <= 0) d.height = 480;
    return d;
}

raster::Format format_for_bits(int bits) {
    if (bits == 8) return raster::Format::Indexed8;
    if (bits == 15 || bits == 16) return raster::Format::RGB565;
    return raster::Format::XRGB8888;
}

// ---- Palette -------------------------------------------------------------------

Palette::Palette(DirectDraw* owner, DWORD, const PALETTEENTRY* initial) : owner_(owner) {
    owner_->AddRef();
    if (initial) std::memcpy(entries, initial, sizeof entries);
}

Palette::~Palette() {
    owner_->Release();
}

HRESULT Palette::QueryInterface(REFIID riid, LPVOID* object) {
    return query_interface(this, riid, object, DDERR_INVALIDPARAMS, as<IUnknown>(IID_IUnknown));
}

HRESULT Palette::GetEntries(DWORD, DWORD base, DWORD count, LPPALETTEENTRY out) {
    DX_FAILPOINT("GetEntries");
    if (!out || base > 256 || count > 256 - base) return DDERR_INVALIDPARAMS;
    std::memcpy(out, entries + base, count * sizeof(PALETTEENTRY));
    return DD_OK;
}

HRESULT Palette::SetEntries(DWORD, DWORD start, DWORD count, LPPALETTEENTRY in) {
    DX_FAILPOINT("SetEntries");
    if (!in || start > 256 || count > 256 - start) return DDERR_INVALIDPARAMS;
    std::memcpy(entries + start, in, count * sizeof(PALETTEENTRY));
    ++version;
    return DD_OK;
}

// ---- Clipper -------------------------------------------------------------------

Clipper::Clipper(DirectDraw* owner) : owner_(owner) {
    owner_->AddRef();
}

Clipper::~Clipper() {
    owner_->Release();
}

HRESULT Clipper::QueryInterface(REFIID riid, LPVOID* object) {
    return query_interface(this, riid, object, DDERR_INVALIDPARAMS, as<IUnknown>(IID_IUnknown));
}

HRESULT Clipper::SetHWnd(DWORD, HWND window) {
    DX_FAILPOINT("SetHWnd");
    if (window && !IsWindow(window)) return DDERR_INVALIDPARAMS;
    hwnd = window;
    return DD_OK;
}

HRESULT Clipper::GetHWnd(HWND* window) {
    DX_FAILPOINT("GetHWnd");
    if (!window) return DDERR_INVALIDPARAMS;
    *window = hwnd;
    return DD_OK;
}

// ---- Surface memory ----------------------------------------------------------------

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kMapFrom = size_t(1) << 20; // smaller blocks come from calloc
} // namespace

ZeroedMemory::~ZeroedMemory() {
    if (mapped_)
        munmap(data_, mapped_);
    else
        std::free(data_);
}

bool ZeroedMemory::allocate(size_t bytes) {
    if (bytes == 0) return false;
    if (bytes < kMapFrom) {
        data_ = static_cast<uint8_t*>(std::calloc(bytes, 1));
        if (!data_) return false;
        size_ = bytes;
        return true;
    }
    // Mapped with a huge page's slack so the block can start on a huge-page boundary.
    const size_t span = (bytes + kHugePage - 1) / kHugePage * kHugePage + kHugePage;
    void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    auto* base = static_cast<uint8_t*>(p);
    auto* start = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(base) + kHugePage - 1) &
                                             ~uintptr_t(kHugePage - 1));
    const size_t keep = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    if (start > base) munmap(base, size_t(start - base));
    if (start + keep < base + span) munmap(start + keep, size_t(base + span - (start + keep)));
    madvise(start, keep, MADV_HUGEPAGE); // advice only: small pages serve as well
    data_ = start;
    size_ = bytes;
    mapped_ = keep;
    return true;
}

void ZeroedMemory::zero() {
    if (mapped_)
        madvise(data_, mapped_, MADV_DONTNEED); // private anonymous pages come back zeroed
    else if (data_)
        std::memset(data_, 0, size_);
}

// ---- Surface -------------------------------------------------------------------

Surface::Surface(DirectDraw* owner, SurfaceKind kind, int width, int height, raster::Format format)
    : owner_(owner), kind_(kind), width_(width), height_(height), format_(format) {
    owner_->AddRef();
    const int bpp = kind == SurfaceKind::ZBuffer ? 2 : bytes_per_pixel(format);
    pitch_ = (width * bpp + 15) & ~15;
    if (kind == SurfaceKind::Primary) {
        headless_ = dx::headless();
        paced_ = !headless_ && !dx::unpaced();
        cooperative_hwnd_ = owner->cooperative_hwnd();
    }
    // Fresh memory is already black and, for a z-buffer, at the back plane: nothing to write.
    if (kind != SurfaceKind::Primary || headless_)
        memory_.allocate(size_t(pitch_) * size_t(height));
    damage_all();
    live_surfaces().push_back(this);
}

Surface::~Surface() {
    auto& all = live_surfaces();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
    if (kind_ == SurfaceKind::Primary) static_cast<DirectDraw*>(owner_)->primary_gone();
    if (guest_) end_lending(true);
    if (host_) host_->end_lending(false);
    // The references below may hold the last use of the owner; drop them first.
    zbuffer_.reset();
    clipper_.reset();
    palette_.reset();
    owner_->Release();
}

HRESULT Surface::QueryInterface(REFIID riid, LPVOID* object) {
    return query_interface(this, riid, object, DDERR_INVALIDPARAMS,
                           as<IDirectDrawSurface>(IID_IUnknown, IID_IDirectDrawSurface));
}

HRESULT Surface::IsLost() {
    DX_FAILPOINT("IsLost");
    if (!lost_ && window_surface_changed()) lost_ = true;
    return lost_ ? DDERR_SURFACELOST : DD_OK;
}

HRESULT Surface::Restore() {
    DX_FAILPOINT("Restore");
    lost_ = false;
    if (kind_ == SurfaceKind::Primary && !headless_) {
        end_lending(true);
        window_surface_ = nullptr; // acquired again at the next copy
        full_refresh_ = true;
    }
    if (kind_ == SurfaceKind::Offscreen) damage_all();
    return DD_OK;
}

HRESULT Surface::GetSurfaceDesc(LPDDSURFACEDESC desc) {
    DX_FAILPOINT("GetSurfaceDesc");
    if (!desc || !valid_desc_size(desc->dwSize)) return DDERR_INVALIDPARAMS;
    const DWORD size = desc->dwSize;
    std::memset(desc, 0, sizeof *desc);
    desc->dwSize = size;
    desc->dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
    desc->dwWidth = DWORD(width_);
    desc->dwHeight = DWORD(height_);
    desc->lPitch = pitch_;
    describe_format(kind_, format_, desc->ddpfPixelFormat);
    switch (kind_) {
    case SurfaceKind::Primary:
        desc->ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FRONTBUFFER;
        break;
    case SurfaceKind::Offscreen:
        desc->ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY | DDSCAPS_3DDEVICE;
        break;
    case SurfaceKind::ZBuffer:
        desc->dwFlags |= DDSD_ZBUFFERBITDEPTH;
        desc->dwZBufferBitDepth = 16;
        desc->ddsCaps.dwCaps = DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY;
        break;
    }
    return DD_OK;
}

HRESULT Surface::AddAttachedSurface(LPDIRECTDRAWSURFACE surface) {
    DX_FAILPOINT("AddAttachedSurface");
    auto* z = dynamic_cast<Surface*>(surface);
    if (!z || z == this || kind_ != SurfaceKind::Offscreen || z->kind_ != SurfaceKind::ZBuffer ||
        z->width_ != width_ || z->height_ != height_)
        return DDERR_CANNOTATTACHSURFACE;
    if (zbuffer_) return DDERR_SURFACEALREADYATTACHED;
    zbuffer_ = Ref<Surface>(z);
    return DD_OK;
}

HRESULT Surface::SetClipper(LPDIRECTDRAWCLIPPER clipper) {
    DX_FAILPOINT("SetClipper");
    auto* c = dynamic_cast<Clipper*>(clipper);
    if (clipper && !c) return DDERR_INVALIDOBJECT;
    clipper_ = Ref<Clipper>(c);
    full_refresh_ = true;
    return DD_OK;
}

HRESULT Surface::SetPalette(LPDIRECTDRAWPALETTE palette) {
    DX_FAILPOINT("SetPalette");
    auto* p = dynamic_cast<Palette*>(palette);
    if (palette && !p) return DDERR_INVALIDOBJECT;
    if (kind_ == SurfaceKind::ZBuffer) return DDERR_INVALIDSURFACETYPE;
    if (p && format_ != raster::Format::Indexed8) return DDERR_NOTPALETTIZED;
    palette_ = Ref<Palette>(p);
    full_refresh_ = true;
    return DD_OK;
}

HRESULT Surface::Lock(LPRECT rect, LPDDSURFACEDESC desc, DWORD flags, HANDLE) {
    DX_FAILPOINT("Lock");
    if (!desc || !valid_desc_size(desc->dwSize)) return DDERR_INVALIDPARAMS;
    if (lost_ || window_surface_changed()) return lost_ = true, DDERR_SURFACELOST;
    HRESULT hr = GetSurfaceDesc(desc);
    if (hr != DD_OK) return hr;
    uint8_t* base = memory_.empty() ? nullptr : pixels();
    int pitch = pitch_, w = width_, h = height_;
    if (kind_ == SurfaceKind::Primary && !headless_) {
        // A windowed primary hands out the window's own pixels, no longer a back surface's.
        end_lending(true);
        SDL_Window* window = Win32GetSdlWindow(target_hwnd());
        SDL_Surface* ws = window ? SDL_GetWindowSurface(window) : nullptr;
        if (!ws || SDL_LockSurface(ws) != 0) return DDERR_CANTLOCKSURFACE;
        base = static_cast<uint8_t*>(ws->pixels);
        pitch = ws->pitch;
        w = ws->w;
        h = ws->h;
        desc->dwWidth = DWORD(w);
        desc->dwHeight = DWORD(h);
        desc->lPitch = pitch;
        describe_format(kind_, raster::Format::XRGB8888, desc->ddpfPixelFormat);
        window_surface_ = ws;
        SDL_SetWindowData(window, kWrittenSurfaceKey, ws);
        window_surface_w_ = w;
        window_surface_h_ = h;
    }
    const int bpp = kind_ == SurfaceKind::ZBuffer ? 2 : bytes_per_pixel(format_);
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > w || rect->bottom > h ||
            rect->left >= rect->right || rect->top >= rect->bottom) {
            if (kind_ == SurfaceKind::Primary && !headless_) SDL_UnlockSurface(window_surface_);
            return DDERR_INVALIDRECT;
        }
        base += ptrdiff_t(rect->top) * pitch + ptrdiff_t(rect->left) * bpp;
    }
    desc->dwFlags |= DDSD_LPSURFACE;
    desc->lpSurface = base;
    if (kind_ == SurfaceKind::ZBuffer && lock_count_ == 0) complement_depth();
    ++lock_count_;
    // What is written through a lock counts as changed when this surface is copied on.
    if (!(flags & DDLOCK_READONLY)) {
        damage_all();
        add_written({0, 0, width_, height_});
    }
    return DD_OK;
}

// Between depths as the renderer keeps them and as a lock shows them; each call undoes the other.
void Surface::complement_depth() {
    uint16_t* z = depth();
    for (size_t i = 0, n = memory_.size() / 2; i < n; ++i)
        z[i] = uint16_t(~z[i]);
}

HRESULT Surface::Unlock(LPVOID) {
    DX_FAILPOINT("Unlock");
    if (lock_count_ == 0) return DDERR_NOTLOCKED;
    --lock_count_;
    if (kind_ == SurfaceKind::ZBuffer && lock_count_ == 0) complement_depth();
    if (kind_ == SurfaceKind::Primary && !headless_ && window_surface_)
        SDL_UnlockSurface(window_surface_);
    return DD_OK;
}

// ---- DirectDraw ------------------------------------------------------------------

DirectDraw::DirectDraw() = default;
DirectDraw::~DirectDraw() = default;

HRESULT DirectDraw::QueryInterface(REFIID riid, LPVOID* object) {
    // Direct3D is an object of its own, made afresh for each request.
    auto make_direct3d = [this](LPVOID* out) -> HRESULT {
        IUnknown* d3d = create_direct3d2(this);
        if (!d3d) return DDERR_OUTOFMEMORY;
        *out = d3d;
        return DD_OK;
    };
    return query_interface(this, riid, object, DDERR_INVALIDPARAMS,
                           as<IDirectDraw>(IID_IUnknown, IID_IDirectDraw),
                           via(IID_IDirect3D2, make_direct3d));
}

HRESULT DirectDraw::SetCooperativeLevel(HWND hwnd, DWORD flags) {
    DX_FAILPOINT("SetCooperativeLevel");
    if (hwnd && !IsWindow(hwnd)) return DDERR_INVALIDPARAMS;
    if ((flags & DDSCL_EXCLUSIVE) && !hwnd) return DDERR_INVALIDPARAMS;
    if (!(flags & (DDSCL_NORMAL | DDSCL_EXCLUSIVE))) return DDERR_INVALIDPARAMS;
    // The display mode is never changed: exclusive use is granted as shared use.
    hwnd_ = hwnd;
    cooperative_set_ = true;
    return DD_OK;
}

HRESULT DirectDraw::CreateSurface(LPDDSURFACEDESC desc, LPDIRECTDRAWSURFACE* surface,
                                  IUnknown* outer) {
    DX_FAILPOINT("CreateSurface");
    if (!surface) return DDERR_INVALIDPARAMS;
    *surface = nullptr;
    if (!desc || outer || !valid_desc_size(desc->dwSize)) return DDERR_INVALIDPARAMS;
    if (!cooperative_set_) return DDERR_NOCOOPERATIVELEVELSET;
    const DWORD caps = (desc->dwFlags & DDSD_CAPS) ? desc->ddsCaps.dwCaps : 0;
    const DisplayInfo display = display_info();

    Surface* created = nullptr;
    if (caps & DDSCAPS_PRIMARYSURFACE) {
        if (desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) return DDERR_INVALIDPARAMS;
        if (primary_) return DDERR_PRIMARYSURFACEALREADYEXISTS;
        created = new (std::nothrow) Surface(this, SurfaceKind::Primary, display.width,
                                             display.height, format_for_bits(display.bits));
        primary_ = created;
    } else {
        if ((desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT))
            return DDERR_INVALIDPARAMS;
        if (desc->dwWidth == 0 || desc->dwHeight == 0) return DDERR_INVALIDPARAMS;
        if (desc->dwWidth > kMaxSurfaceSide || desc->dwHeight > kMaxSurfaceSide)
            return DDERR_TOOBIGSIZE;
        const int w = int(desc->dwWidth), h = int(desc->dwHeight);
        if (caps & DDSCAPS_ZBUFFER) {
            DWORD bits = 16;
            if (desc->dwFlags & DDSD_ZBUFFERBITDEPTH)
                bits = desc->dwZBufferBitDepth;
            else if ((desc->dwFlags & DDSD_PIXELFORMAT) &&
                     (desc->ddpfPixelFormat.dwFlags & DDPF_ZBUFFER))
                bits = desc->ddpfPixelFormat.dwZBufferBitDepth;
            if (bits != 16) return DDERR_INVALIDPIXELFORMAT;
            created = new (std::nothrow)
                Surface(this, SurfaceKind::ZBuffer, w, h, raster::Format::RGB565);
        } else {
            raster::Format format = format_for_bits(display.bits);
            if ((desc->dwFlags & DDSD_PIXELFORMAT) &&
                !format_from_desc(desc->ddpfPixelFormat, format))
                return DDERR_INVALIDPIXELFORMAT;
            created = new (std::nothrow) Surface(this, SurfaceKind::Offscreen, w, h, format);
        }
    }
    if (!created) return DDERR_OUTOFMEMORY;
    if (!created->usable()) {
        created->Release();
        return DDERR_OUTOFMEMORY;
    }
    *surface = created;
    return DD_OK;
}

HRESULT DirectDraw::CreateClipper(DWORD, LPDIRECTDRAWCLIPPER* clipper, IUnknown* outer) {
    DX_FAILPOINT("CreateClipper");
    if (!clipper) return DDERR_INVALIDPARAMS;
    *clipper = nullptr;
    if (outer) return DDERR_INVALIDPARAMS;
    Clipper* c = new (std::nothrow) Clipper(this);
    if (!c) return DDERR_OUTOFMEMORY;
    *clipper = c;
    return DD_OK;
}

HRESULT DirectDraw::CreatePalette(DWORD flags, LPPALETTEENTRY entries, LPDIRECTDRAWPALETTE* palette,
                                  IUnknown* outer) {
    DX_FAILPOINT("CreatePalette");
    if (!palette) return DDERR_INVALIDPARAMS;
    *palette = nullptr;
    if (outer || !(flags & DDPCAPS_8BIT)) return DDERR_INVALIDPARAMS;
    if ((flags & DDPCAPS_INITIALIZE) && !entries) return DDERR_INVALIDPARAMS;
    Palette* p = new (std::nothrow) Palette(this, flags, entries);
    if (!p) return DDERR_OUTOFMEMORY;
    *palette = p;
    return DD_OK;
}

} // namespace dx

HRESULT WINAPI DirectDrawCreate(GUID* driverGuid, LPDIRECTDRAW* directDraw, IUnknown* outer) {
    DX_FAILPOINT("DirectDrawCreate");
    if (!directDraw) return DDERR_INVALIDPARAMS;
    *directDraw = nullptr;
    if (outer) return DDERR_INVALIDPARAMS;
    if (driverGuid) return DDERR_INVALIDDIRECTDRAWGUID;
    auto* dd = new (std::nothrow) dx::DirectDraw();
    if (!dd) return DDERR_OUTOFMEMORY;
    *directDraw = dd;
    return DD_OK;
}

void DXTestLoseSurfaces(void) {
    for (dx::Surface* s : dx::live_surfaces())
        s->set_lost();
}

void DXTestLoseSurface(IDirectDrawSurface* surface) {
    if (auto* s = dynamic_cast<dx::Surface*>(surface)) s->set_lost();
}
