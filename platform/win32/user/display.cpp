// SDL video start, screen metrics, the cursor display count and the system
// palette: what belongs to the screen, whatever windows are on it.
#include "user_internal.h"

#include <win32ext.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace win32u {
namespace {

bool g_videoTried = false;
bool g_videoReady = false;
std::atomic<bool> g_displayLost{false};
std::vector<SDL_Rect> g_testMonitors; // the primary first
int g_testBits = 0;
int g_cursorCount = 0;

void QuitVideoAtExit() {
    // A dead X connection must not be touched again, not even to close it.
    if (g_videoReady && !DisplayLost()) SDL_Quit();
}

// The windows here read keys, never text, yet SDL opens Xlib's input method,
// which parses the locale's compose table (half a megabyte of text, a quarter of
// the CPU time before the first frame) unless another, here an empty one, is
// named. The name is ours only while SDL starts: nothing started later inherits it.
bool InitVideoWithoutCompose() {
    const bool named = std::getenv("XCOMPOSEFILE") != nullptr;
    if (!named) setenv("XCOMPOSEFILE", "/dev/null", 1);
    const bool ok = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    if (!named) unsetenv("XCOMPOSEFILE");
    return ok;
}

} // namespace

bool EnsureVideo() {
    if (g_videoReady) return true;
    if (g_videoTried || DisplayLost()) return false;
    g_videoTried = true;
    // Shared-memory presentation of the window surface is far faster than the
    // accelerated path for a software-rendered frame.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // Signals are ours to turn into WM_CLOSE, and a window that loses focus
    // stays where it is.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    if (!InitVideoWithoutCompose()) {
        std::fprintf(stderr, "plumora: cannot open the display: %s\n", SDL_GetError());
        return false;
    }
    // With no display SDL falls back to drivers that show nothing; a saver
    // there would run unseen until killed. They serve only when asked for.
    const char* requested = SDL_getenv("SDL_VIDEODRIVER");
    const char* driver = SDL_GetCurrentVideoDriver();
    if ((!requested || !*requested) && driver &&
        (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0)) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        std::fprintf(stderr, "plumora: cannot open the display: no display available\n");
        return false;
    }
    if (Hosted() && !AdoptHostWindow()) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    g_videoReady = true;
    SDL_StopTextInput();
    std::atexit(QuitVideoAtExit);
    ApplyCursorState();
    return true;
}

bool VideoReady() {
    return g_videoReady && !DisplayLost();
}

bool DisplayLost() {
    return g_displayLost.load(std::memory_order_relaxed);
}

void MarkDisplayLost() {
    g_displayLost.store(true, std::memory_order_relaxed);
}

Display CurrentDisplay() {
    if (!g_testMonitors.empty())
        return Display{g_testMonitors[0].w, g_testMonitors[0].h, g_testBits};
    Display d;
    if (!EnsureVideo()) return d;
    if (Hosted()) return HostDisplay();
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return d;
    d.width = mode.w;
    d.height = mode.h;
    d.bitsPerPixel = int(SDL_BITSPERPIXEL(mode.format));
    return d;
}

std::vector<SDL_Rect> Monitors() {
    if (!g_testMonitors.empty()) return g_testMonitors;
    std::vector<SDL_Rect> monitors;
    if (!EnsureVideo()) return monitors;
    if (Hosted()) {
        Display d = HostDisplay();
        monitors.push_back(SDL_Rect{0, 0, d.width, d.height});
        return monitors;
    }
    for (int i = 0, n = SDL_GetNumVideoDisplays(); i < n; ++i) {
        SDL_Rect r;
        if (SDL_GetDisplayBounds(i, &r) == 0) monitors.push_back(r);
    }
    return monitors;
}

SDL_Point PrimaryOrigin() {
    if (!g_testMonitors.empty()) return SDL_Point{g_testMonitors[0].x, g_testMonitors[0].y};
    SDL_Rect r;
    if (VideoReady() && !Hosted() && SDL_GetDisplayBounds(0, &r) == 0) return SDL_Point{r.x, r.y};
    return SDL_Point{0, 0};
}

void ApplyCursorState() {
    // A host's window shows the host's cursor; SDL would set ours on it too.
    if (VideoReady() && !Hosted()) SDL_ShowCursor(g_cursorCount >= 0 ? SDL_ENABLE : SDL_DISABLE);
}

} // namespace win32u

using namespace win32u;

void Win32TestSetDisplay(int width, int height, int bitsPerPixel) {
    RECT primary{0, 0, width, height};
    Win32TestSetDisplays(&primary, width > 0 && height > 0 ? 1 : 0, bitsPerPixel);
}

void Win32TestSetDisplays(const RECT* monitors, int count, int bitsPerPixel) {
    g_testMonitors.clear();
    for (int i = 0; monitors && i < count; ++i) {
        const RECT& m = monitors[i];
        if (m.right > m.left && m.bottom > m.top)
            g_testMonitors.push_back(SDL_Rect{m.left, m.top, m.right - m.left, m.bottom - m.top});
    }
    g_testBits = bitsPerPixel;
}

int GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXSCREEN:
        return CurrentDisplay().width;
    case SM_CYSCREEN:
        return CurrentDisplay().height;
    case SM_CXICON:
    case SM_CYICON:
        return 32;
    default:
        return 0;
    }
}

int ShowCursor(BOOL show) {
    g_cursorCount += show ? 1 : -1;
    ApplyCursorState();
    return g_cursorCount;
}

int GetDeviceCaps(HDC dc, int index) {
    if (!dc) return 0;
    switch (index) {
    case BITSPIXEL:
        return CurrentDisplay().bitsPerPixel;
    case HORZRES:
        return CurrentDisplay().width;
    case VERTRES:
        return CurrentDisplay().height;
    default:
        return 0;
    }
}

UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, LPPALETTEENTRY entries) {
    // The 20 static colours that palette-based displays reserve, ten at each end.
    static const BYTE kLow[10][3] = {
        {0, 0, 0},     {128, 0, 0},   {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
        {128, 0, 128}, {0, 128, 128}, {192, 192, 192}, {192, 220, 192}, {166, 202, 240}};
    static const BYTE kHigh[10][3] = {
        {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},   {0, 255, 0},
        {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255}, {255, 255, 255}};
    if (!dc || start >= 256) return 0;
    if (count > 256 - start) count = 256 - start;
    if (!entries) return 256;
    for (UINT i = 0; i < count; ++i) {
        UINT n = start + i;
        const BYTE* rgb = nullptr;
        if (n < 10)
            rgb = kLow[n];
        else if (n >= 246)
            rgb = kHigh[n - 246];
        static const BYTE kBlack[3] = {0, 0, 0};
        if (!rgb) rgb = kBlack;
        entries[i] = PALETTEENTRY{rgb[0], rgb[1], rgb[2], 0};
    }
    return count;
}
