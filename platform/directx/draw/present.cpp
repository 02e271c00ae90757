// Copies between surfaces and presentation of the primary surface: one-to-one
// copies with format conversion, limited to what changed, clipped to the
// window, and paced to the display's refresh by a sleeping frame clock. A back
// surface that matches the window one to one is drawn in the window's memory
// instead, and presenting it copies nothing.
#include "draw_internal.h"

#include <win32ext.h>

#include <SDL.h>

#include <cerrno>
#include <cstring>

namespace dx {
namespace {

constexpr long long kNanos = 1000000000LL;

void add_ns(timespec& t, long long ns) {
    long long total = t.tv_nsec + ns;
    t.tv_sec += time_t(total / kNanos);
    t.tv_nsec = long(total % kNanos);
}

bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Where converted rows go.
enum class Dst { XRGB, ARGB, XBGR, RGB565, RGB888, Indexed8, Other };

Dst dst_for(raster::Format f) {
    switch (f) {
    case raster::Format::RGB565:
        return Dst::RGB565;
    case raster::Format::RGB888:
        return Dst::RGB888;
    case raster::Format::XRGB8888:
        return Dst::XRGB;
    default:
        return Dst::Indexed8;
    }
}

Dst dst_for_sdl(Uint32 format) {
    switch (format) {
    case SDL_PIXELFORMAT_RGB888:
        return Dst::XRGB;
    case SDL_PIXELFORMAT_ARGB8888:
        return Dst::ARGB;
    case SDL_PIXELFORMAT_BGR888:
        return Dst::XBGR;
    case SDL_PIXELFORMAT_RGB565:
        return Dst::RGB565;
    default:
        return Dst::Other;
    }
}

struct Source {
    const uint8_t* pixels;
    int pitch;
    raster::Format format;
    const uint32_t* lut; // Indexed8: index -> 0x00RRGGBB
};

struct Dest {
    uint8_t* pixels;
    int pitch;
    int bytes; // per pixel
    Dst kind;
    Uint32 sdl_format; // Dst::Other only
};

// Reads one row as 0x00RRGGBB; returns the row (possibly the source itself).
const uint32_t* read_row(const Source& s, const uint8_t* p, int w, uint32_t* row) {
    switch (s.format) {
    case raster::Format::XRGB8888:
        return reinterpret_cast<const uint32_t*>(p);
    case raster::Format::RGB565: {
        const auto* q = reinterpret_cast<const uint16_t*>(p);
        for (int x = 0; x < w; ++x)
            row[x] = raster::from565(q[x]);
        return row;
    }
    case raster::Format::RGB888:
        for (int x = 0; x < w; ++x)
            row[x] = raster::load888(p + 3 * x);
        return row;
    default:
        for (int x = 0; x < w; ++x)
            row[x] = s.lut[p[x]];
        return row;
    }
}

void write_row(const Dest& d, uint8_t* p, const uint32_t* row, int w) {
    switch (d.kind) {
    case Dst::XRGB:
        std::memcpy(p, row, size_t(w) * 4);
        break;
    case Dst::ARGB: {
        auto* q = reinterpret_cast<uint32_t*>(p);
        for (int x = 0; x < w; ++x)
            q[x] = row[x] | 0xFF000000u;
        break;
    }
    case Dst::XBGR: {
        auto* q = reinterpret_cast<uint32_t*>(p);
        for (int x = 0; x < w; ++x) {
            const uint32_t c = row[x];
            q[x] = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
        }
        break;
    }
    case Dst::RGB565: {
        auto* q = reinterpret_cast<uint16_t*>(p);
        for (int x = 0; x < w; ++x)
            q[x] = raster::to565(row[x]);
        break;
    }
    case Dst::RGB888:
        for (int x = 0; x < w; ++x)
            raster::store888(p + 3 * x, row[x]);
        break;
    case Dst::Indexed8:
        break; // handled by the caller: only index-to-index copies
    case Dst::Other:
        SDL_ConvertPixels(w, 1, SDL_PIXELFORMAT_RGB888, row, w * 4, d.sdl_format, p, d.pitch);
        break;
    }
}

// Copies a w x h block from (sx, sy) in the source to (dx, dy) in the destination.
void convert_block(const Source& s, int sx, int sy, const Dest& d, int dx, int dy, int w, int h,
                   std::vector<uint32_t>& row) {
    if (w <= 0 || h <= 0) return;
    if (row.size() < size_t(w)) row.resize(size_t(w)); // grows once, to the widest copy
    const int sb = bytes_per_pixel(s.format), db = d.bytes;
    const bool indexed_source =
        s.format == raster::Format::Indexed8 || s.format == raster::Format::Count8;
    for (int y = 0; y < h; ++y) {
        const uint8_t* sp = s.pixels + ptrdiff_t(sy + y) * s.pitch + ptrdiff_t(sx) * sb;
        uint8_t* dp = d.pixels + ptrdiff_t(dy + y) * d.pitch + ptrdiff_t(dx) * db;
        if (d.kind == Dst::Indexed8) {
            if (indexed_source) std::memcpy(dp, sp, size_t(w));
            continue;
        }
        if (d.kind == Dst::XRGB && s.format == raster::Format::XRGB8888) {
            std::memcpy(dp, sp, size_t(w) * 4);
            continue;
        }
        write_row(d, dp, read_row(s, sp, w, row.data()), w);
    }
}

// Copies the source rectangle r to the destination, shifted by (shift_x, shift_y). Outside
// `written` the source is fresh memory, all zero bytes: those parts are converted from a row of
// zeros instead of read, so a first full copy reads only what was drawn.
void copy_written(const Source& s, const raster::Rect& r, const raster::Rect& written,
                  const Dest& d, int shift_x, int shift_y, std::vector<uint32_t>& row,
                  std::vector<uint8_t>& zeros) {
    auto copy = [&](const Source& from, const raster::Rect& b, bool fresh) {
        if (b.empty()) return;
        const int w = b.right - b.left;
        convert_block(from, fresh ? 0 : b.left, fresh ? 0 : b.top, d, b.left + shift_x,
                      b.top + shift_y, w, b.bottom - b.top, row);
    };
    const raster::Rect in = intersect(r, written);
    const size_t zero_bytes = size_t(r.right - r.left) * 4;
    if (zeros.size() < zero_bytes) zeros.resize(zero_bytes); // grows once, to the widest copy
    const Source none{zeros.data(), 0, s.format, s.lut};     // pitch 0: every row the same
    if (in.empty()) return copy(none, r, true);
    copy(none, {r.left, r.top, r.right, in.top}, true);
    copy(none, {r.left, in.bottom, r.right, r.bottom}, true);
    copy(none, {r.left, in.top, in.left, in.bottom}, true);
    copy(none, {in.right, in.top, r.right, in.bottom}, true);
    copy(s, in, false);
}

// Whether the source's fresh memory, zero bytes, arrives as zero bytes: black, as in a fresh
// window surface (not so for alpha, which would make it transparent, or a palette whose first
// colour isn't black).
bool zero_stays_black(const Source& s, Dst kind) {
    if (kind != Dst::XRGB && kind != Dst::XBGR && kind != Dst::RGB565 && kind != Dst::RGB888)
        return false;
    const bool indexed = s.format == raster::Format::Indexed8 || s.format == raster::Format::Count8;
    return !indexed || s.lut[0] == 0;
}

void build_lut(const Palette* palette, uint32_t lut[256]) {
    for (int i = 0; i < 256; ++i) {
        if (palette) {
            const PALETTEENTRY& e = palette->entries[i];
            lut[i] = uint32_t(e.peRed) << 16 | uint32_t(e.peGreen) << 8 | e.peBlue;
        } else {
            lut[i] = uint32_t(i) * 0x010101u;
        }
    }
}

int refresh_rate(SDL_Window* window) {
    SDL_DisplayMode mode;
    const int index = SDL_GetWindowDisplayIndex(window);
    if (index >= 0 && SDL_GetCurrentDisplayMode(index, &mode) == 0 && mode.refresh_rate > 0)
        return mode.refresh_rate;
    return 60;
}

} // namespace

void FrameClock::start(int refresh_hz) {
    if (refresh_hz < 24 || refresh_hz > 500) refresh_hz = 60;
    period_ns_ = kNanos / refresh_hz;
    // Due now: the first frame goes out at once, the ones after it a period apart.
    clock_gettime(CLOCK_MONOTONIC, &next_);
    started_ = true;
}

void FrameClock::wait() {
    if (!started_) start(60);
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (before(now, next_)) {
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next_, nullptr) == EINTR) {
        }
        add_ns(next_, period_ns_);
    } else {
        // Late already: show at once and count the next refresh from now.
        next_ = now;
        add_ns(next_, period_ns_);
    }
}

// ---- Drawing in the window's memory ---------------------------------------------------------
//
// Presenting a back surface that covers the window pixel for pixel would copy every changed row
// into the window surface; at 3840x2160 that copy was a sixth of the saver's time and a third of
// the memory each frame touched. Once a full copy has made the two the same, the primary lends
// the window surface's memory to the back surface, which from then on draws there: presenting
// only tells the server what changed. The back surface's own pages go back to the kernel.
//
// SDL frees a window surface's memory when the window goes or when a new surface is asked for
// after a resize. The back surface holds a reference to the SDL_Surface, which keeps the
// structure (not its pixels) alive, and SDL clears SDL_DONTFREE on it when it lets go: that flag
// is checked before every use of the memory, so nothing is drawn into freed memory.

bool Surface::can_lend(const Surface& src, const raster::Rect& d, const raster::Rect& s,
                       const raster::Rect& clip, POINT origin) const {
    if (headless_ || !window_surface_ || SDL_MUSTLOCK(window_surface_) || guest_) return false;
    if (dst_for_sdl(window_surface_->format->format) != Dst::XRGB) return false;
    if (src.kind_ != SurfaceKind::Offscreen || src.format_ != raster::Format::XRGB8888 ||
        src.host_ || src.lock_count_ || src.memory_.empty())
        return false;
    // Same size and row length, the whole source onto the whole window, none of it clipped.
    const raster::Rect window{origin.x, origin.y, origin.x + window_surface_w_,
                              origin.y + window_surface_h_};
    const raster::Rect whole{0, 0, src.width_, src.height_};
    return src.width_ == window_surface_w_ && src.height_ == window_surface_h_ &&
           src.pitch_ == window_surface_->pitch && s == whole && d == window &&
           intersect(window, clip) == window;
}

void Surface::lend(Surface& src) {
    ++window_surface_->refcount;
    src.host_ = this;
    src.host_memory_ = window_surface_;
    src.memory_.zero();
    guest_ = &src;
}

void Surface::end_lending(bool keep_content) {
    Surface* g = guest_;
    if (!g) return;
    SDL_Surface* ws = g->host_memory_;
    guest_ = nullptr;
    g->host_ = nullptr;
    g->host_memory_ = nullptr;
    if (ws->flags & SDL_DONTFREE) {
        // Still the window's: the back surface takes back what it drew, SDL its surface.
        if (keep_content) {
            const raster::Rect& r = g->written_;
            const size_t bytes = size_t(r.right - r.left) * 4;
            for (int y = r.top; y < r.bottom; ++y) {
                const ptrdiff_t at = ptrdiff_t(y) * g->pitch_ + ptrdiff_t(r.left) * 4;
                std::memcpy(g->memory_.data() + at, static_cast<uint8_t*>(ws->pixels) + at, bytes);
            }
        }
        --ws->refcount;
    } else {
        // Gone with its window or its old size: what was drawn went with it.
        g->written_ = {0, 0, 0, 0};
        SDL_FreeSurface(ws);
    }
    g->damage_all();
}

uint8_t* Surface::shared_pixels() {
    if (!(host_memory_->flags & SDL_DONTFREE)) host_->end_lending(false);
    return host_ ? static_cast<uint8_t*>(host_memory_->pixels) : memory_.data();
}

HWND Surface::target_hwnd() const {
    if (clipper_ && clipper_->hwnd) return clipper_->hwnd;
    return cooperative_hwnd_;
}

bool Surface::window_surface_changed() {
    if (kind_ != SurfaceKind::Primary || headless_ || !window_surface_) return false;
    SDL_Window* window = Win32GetSdlWindow(target_hwnd());
    if (window != window_) return true;
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    return w != window_surface_w_ || h != window_surface_h_;
}

HRESULT Surface::Blt(LPRECT destRect, LPDIRECTDRAWSURFACE source, LPRECT sourceRect, DWORD,
                     LPDDBLTFX fx) {
    DX_FAILPOINT("Blt");
    if (fx || !source) return DDERR_UNSUPPORTED; // colour fills and effects: not offered
    auto* src = dynamic_cast<Surface*>(source);
    if (!src) return DDERR_INVALIDOBJECT;
    if (kind_ == SurfaceKind::ZBuffer || src->kind_ != SurfaceKind::Offscreen)
        return DDERR_INVALIDSURFACETYPE;
    if (lost_ || window_surface_changed()) return lost_ = true, DDERR_SURFACELOST;
    if (src->lost_) return DDERR_SURFACELOST;

    raster::Rect s{0, 0, src->width_, src->height_};
    if (sourceRect) s = {sourceRect->left, sourceRect->top, sourceRect->right, sourceRect->bottom};
    raster::Rect d{0, 0, width_, height_};
    if (destRect) d = {destRect->left, destRect->top, destRect->right, destRect->bottom};
    if (s.empty() || d.empty() || s.left < 0 || s.top < 0 || s.right > src->width_ ||
        s.bottom > src->height_)
        return DDERR_INVALIDRECT;
    if (s.right - s.left != d.right - d.left || s.bottom - s.top != d.bottom - d.top)
        return DDERR_NOSTRETCHHW;
    return kind_ == SurfaceKind::Primary ? present(d, *src, s) : copy_from(d, *src, s);
}

HRESULT Surface::copy_from(const raster::Rect& d, Surface& src, const raster::Rect& s) {
    const raster::Rect clipped = intersect(d, {0, 0, width_, height_});
    if (clipped.empty()) return DD_OK;
    if (format_ == raster::Format::Indexed8 && src.format_ != raster::Format::Indexed8)
        return DDERR_UNSUPPORTEDFORMAT;
    uint32_t lut[256];
    build_lut(src.palette_ ? src.palette_.get() : palette_.get(), lut);
    const Source in{src.pixels(), src.pitch_, src.format_, lut};
    const Dest out{pixels(), pitch_, bytes_per_pixel(format_), dst_for(format_), 0};
    const int shift_x = d.left - s.left, shift_y = d.top - s.top;
    copy_written(in,
                 {clipped.left - shift_x, clipped.top - shift_y, clipped.right - shift_x,
                  clipped.bottom - shift_y},
                 src.written_, out, shift_x, shift_y, row_, zeros_);
    add_damage(clipped);
    add_written(clipped);
    return DD_OK;
}

HRESULT Surface::present(const raster::Rect& d, Surface& src, const raster::Rect& s) {
    // Where the copy may land: the display, narrowed to the clipper's window.
    raster::Rect clip{0, 0, width_, height_};
    const HWND hwnd = target_hwnd();
    if (clipper_ && clipper_->hwnd && IsWindow(clipper_->hwnd)) {
        RECT client{0, 0, 0, 0};
        POINT origin{0, 0};
        GetClientRect(clipper_->hwnd, &client);
        ClientToScreen(clipper_->hwnd, &origin);
        clip = intersect(clip, {origin.x, origin.y, origin.x + client.right - client.left,
                                origin.y + client.bottom - client.top});
    }

    Dest out{nullptr, 0, 4, Dst::XRGB, 0};
    POINT window_origin{0, 0};
    SDL_Window* window = nullptr;
    if (headless_) {
        out = {pixels(), pitch_, bytes_per_pixel(format_), dst_for(format_), 0};
    } else {
        window = hwnd ? Win32GetSdlWindow(hwnd) : nullptr;
        if (!window) return DD_OK; // no window to show the frame in
        if (guest_ && !(window_surface_->flags & SDL_DONTFREE)) window_surface_ = nullptr;
        if (!window_surface_ || window != window_) {
            end_lending(true);
            window_surface_ = SDL_GetWindowSurface(window);
            if (!window_surface_) return DDERR_SURFACELOST;
            window_ = window;
            window_surface_w_ = window_surface_->w;
            window_surface_h_ = window_surface_->h;
            full_refresh_ = true;
            // A surface SDL made anew is fresh memory, as black as the window the window layer
            // erased: the first copy then needs only what the source drew.
            window_blank_ = SDL_GetWindowData(window, kWrittenSurfaceKey) != window_surface_ &&
                            Win32WindowErasedBlack(hwnd);
            SDL_SetWindowData(window, kWrittenSurfaceKey, window_surface_);
            if (paced_) clock_.start(refresh_rate(window));
        }
        ClientToScreen(hwnd, &window_origin);
        clip =
            intersect(clip, {window_origin.x, window_origin.y, window_origin.x + window_surface_w_,
                             window_origin.y + window_surface_h_});
        const Uint32 format = window_surface_->format->format;
        out = {static_cast<uint8_t*>(window_surface_->pixels), window_surface_->pitch,
               SDL_BYTESPERPIXEL(format), dst_for_sdl(format), format};
    }

    // Another source's pixels are about to go into the window's memory.
    if (guest_ && guest_ != &src) end_lending(true);
    uint32_t lut[256];
    build_lut(src.palette_ ? src.palette_.get() : palette_.get(), lut);
    const Source in{src.pixels(), src.pitch_, src.format_, lut};

    // Only what changed since the last copy, unless the screen needs it all again; into a
    // blank window, all of it is what the source ever drew.
    const bool full = full_refresh_ || last_source_ != &src || last_dest_ != d;
    raster::Rect region = full ? s : intersect(src.damage_, s);
    if (full && window_blank_ && zero_stays_black(in, out.kind))
        region = intersect(region, src.written_);
    src.damage_ = {0, 0, 0, 0};
    full_refresh_ = window_blank_ = false;
    last_source_ = &src;
    last_dest_ = d;

    const int shift_x = d.left - s.left, shift_y = d.top - s.top;
    const raster::Rect target = intersect({region.left + shift_x, region.top + shift_y,
                                           region.right + shift_x, region.bottom + shift_y},
                                          clip);
    if (!target.empty()) {
        if (out.kind == Dst::Indexed8 && src.format_ != raster::Format::Indexed8)
            return DDERR_UNSUPPORTEDFORMAT;
        const int w = target.right - target.left, h = target.bottom - target.top;
        const bool must_lock = window_surface_ && SDL_MUSTLOCK(window_surface_);
        if (must_lock && SDL_LockSurface(window_surface_) != 0) return DDERR_SURFACEBUSY;
        if (!headless_) out.pixels = static_cast<uint8_t*>(window_surface_->pixels);
        if (guest_ != &src)
            copy_written(in,
                         {target.left - shift_x, target.top - shift_y, target.right - shift_x,
                          target.bottom - shift_y},
                         src.written_, out, shift_x - window_origin.x, shift_y - window_origin.y,
                         row_, zeros_);
        if (must_lock) SDL_UnlockSurface(window_surface_);
        if (window) {
            if (paced_) clock_.wait();
            const SDL_Rect changed{target.left - window_origin.x, target.top - window_origin.y, w,
                                   h};
            SDL_UpdateWindowSurfaceRects(window, &changed, 1);
        }
    } else if (paced_ && window) {
        clock_.wait();
    }
    // A full copy made the window the source's picture: from now on the source draws there.
    if (full && can_lend(src, d, s, clip, window_origin)) lend(src);
    return DD_OK;
}

} // namespace dx
