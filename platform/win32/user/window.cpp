// Window classes and windows over SDL windows; the default window procedure,
// device contexts, icons, cursors and stock objects. Everything about the
// screen itself comes from the display stand-in, which knows nothing of windows.
#include "user_internal.h"

#include <win32ext.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

namespace win32u {
namespace {

// The screen DC has a handle of its own; a window's DC is its handle with the
// low bit set (window handles are 16-byte aligned tokens).
HDC const kScreenDc = reinterpret_cast<HDC>(uintptr_t(0x7D00));

struct WindowClass {
    WNDCLASSA wc{};
    std::string name;
    std::string menuName;
};

std::string FoldName(const char* name) {
    std::string s(name);
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

std::map<std::string, WindowClass>& Classes() {
    static std::map<std::string, WindowClass> classes;
    return classes;
}

// Handles are never reused, so a stale handle can't reach a newer window.
std::map<uintptr_t, std::unique_ptr<Window>>& Windows() {
    static std::map<uintptr_t, std::unique_ptr<Window>> windows;
    return windows;
}
uintptr_t g_nextWindow = 1;
HWND g_active = nullptr;
ATOM g_nextAtom = 0xC000;

uintptr_t Key(HWND hwnd) {
    return reinterpret_cast<uintptr_t>(hwnd);
}

bool CoversDisplay(const Window& w) {
    Display d = CurrentDisplay();
    return w.x <= 0 && w.y <= 0 && w.x + w.width >= d.width && w.y + w.height >= d.height;
}

void FillBlack(SDL_Window* window) {
    SDL_Surface* surface = SDL_GetWindowSurface(window);
    if (!surface) return;
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
    SDL_UpdateWindowSurface(window);
}

// Only the stock black brush exists here. The X server paints it where it can, so
// neither a fill nor a copy of the whole window surface comes before the first picture.
void SetBackground(Window& w) {
    if (!w.background || w.hosted || !SetServerBackground(w.sdl)) return;
    for (Cover& c : w.covers)
        SetServerBackground(c.sdl);
    w.serverBackground = w.erasedBlack = true;
}

void FillBackground(Window& w) {
    if (!w.sdl || !w.visible || !VideoReady() || w.serverBackground) return;
    for (Cover& c : w.covers)
        FillBlack(c.sdl);
    if (!w.background) return;
    if (!w.hosted || !FillOnServer(w.sdl)) FillBlack(w.sdl);
    w.erasedBlack = true;
}

// A window over the whole primary monitor blanks every other monitor too.
void AddCovers(Window& w, Uint32 flags) {
    std::vector<SDL_Rect> monitors = Monitors();
    for (size_t i = 1; i < monitors.size(); ++i) {
        const SDL_Rect& m = monitors[i];
        Cover c;
        c.rect = m;
        c.sdl = SDL_CreateWindow(w.title.c_str(), m.x, m.y, m.w, m.h, flags);
        if (!c.sdl) {
            std::fprintf(stderr, "plumora: cannot cover monitor %zu: %s\n", i, SDL_GetError());
            continue;
        }
        c.sdlId = SDL_GetWindowID(c.sdl);
        w.covers.push_back(c);
    }
}

bool HostWindowTaken() {
    for (auto& [key, w] : Windows())
        if (w->hosted) return true;
    return false;
}

} // namespace

Window* FindWindow(HWND hwnd) {
    auto it = Windows().find(Key(hwnd));
    return it == Windows().end() ? nullptr : it->second.get();
}

Window* FindWindowBySdlId(Uint32 id) {
    if (id == 0) return nullptr;
    for (auto& [key, w] : Windows())
        if (w->sdlId == id) return w.get();
    return nullptr;
}

Window* FindCoverOwner(Uint32 id, POINT* offset) {
    if (id == 0) return nullptr;
    const SDL_Point origin = PrimaryOrigin();
    for (auto& [key, w] : Windows())
        for (const Cover& c : w->covers)
            if (c.sdlId == id) {
                if (offset) *offset = POINT{c.rect.x - origin.x - w->x, c.rect.y - origin.y - w->y};
                return w.get();
            }
    return nullptr;
}

Window* DefaultInputWindow() {
    if (Window* w = FindWindow(g_active)) return w;
    for (auto& [key, w] : Windows())
        if (!w->destroying) return w.get();
    return nullptr;
}

std::vector<HWND> LiveTopLevelWindows() {
    std::vector<HWND> out;
    for (auto& [key, w] : Windows())
        if (!w->destroying) out.push_back(w->handle);
    return out;
}

Window* FindPaintPending(HWND hwnd) {
    for (auto& [key, w] : Windows())
        if (w->paintPending && w->visible && !w->destroying && (!hwnd || w->handle == hwnd))
            return w.get();
    return nullptr;
}

void SetActiveWindow(HWND hwnd) {
    if (FindWindow(hwnd)) g_active = hwnd;
}

void RepresentWindow(Window& w) {
    if (!w.sdl || !w.visible || !VideoReady()) return;
    // Fails harmlessly (an SDL error) while nobody has drawn into the window.
    SDL_UpdateWindowSurface(w.sdl);
    for (Cover& c : w.covers)
        SDL_UpdateWindowSurface(c.sdl);
}

} // namespace win32u

using namespace win32u;

ATOM RegisterClassA(const WNDCLASSA* wndClass) {
    if (!wndClass || !wndClass->lpszClassName || !*wndClass->lpszClassName ||
        !wndClass->lpfnWndProc || wndClass->cbWndExtra < 0 || wndClass->cbClsExtra < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string key = FoldName(wndClass->lpszClassName);
    if (Classes().count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass cls;
    cls.wc = *wndClass;
    cls.name = wndClass->lpszClassName;
    if (IS_INTRESOURCE(wndClass->lpszMenuName) || !wndClass->lpszMenuName) {
        cls.menuName.clear();
    } else {
        cls.menuName = wndClass->lpszMenuName;
    }
    auto& stored = Classes()[key] = std::move(cls);
    stored.wc.lpszClassName = stored.name.c_str();
    if (!IS_INTRESOURCE(wndClass->lpszMenuName) && wndClass->lpszMenuName)
        stored.wc.lpszMenuName = stored.menuName.c_str();
    return g_nextAtom++;
}

BOOL GetClassInfoA(HINSTANCE, LPCSTR className, LPWNDCLASSA wndClass) {
    if (!className || !wndClass) return FALSE;
    auto it = Classes().find(FoldName(className));
    if (it == Classes().end()) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return FALSE;
    }
    *wndClass = it->second.wc;
    return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND, HMENU, HINSTANCE, LPVOID) {
    if (!className) return nullptr;
    auto cls = Classes().find(FoldName(className));
    if (cls == Classes().end()) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (!EnsureVideo()) return nullptr;

    auto window = std::make_unique<Window>();
    Window& w = *window;
    w.handle = reinterpret_cast<HWND>(g_nextWindow++ << 4);
    w.className = cls->second.name;
    w.title = windowName ? windowName : "";
    w.proc = cls->second.wc.lpfnWndProc;
    w.background = cls->second.wc.hbrBackground;
    w.style = style;
    w.exStyle = exStyle;
    w.x = x;
    w.y = y;
    // SDL has no empty windows; sizes are device pixels either way.
    w.width = std::max(width, 1);
    w.height = std::max(height, 1);
    w.extra.assign(size_t(cls->second.wc.cbWndExtra), 0);
    w.visible = (style & WS_VISIBLE) != 0;

    Uint32 flags = w.visible ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
    const bool screenCover = (style & WS_POPUP) && CoversDisplay(w);
    if (style & WS_POPUP) {
        flags |= SDL_WINDOW_BORDERLESS;
        // A pop-up over the whole display is a screen cover: keep it above panels.
        if (screenCover) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
    }
    if (screenCover && HostSdlWindow() && !HostWindowTaken()) {
        // In a hosted run the screen is the host's window.
        w.sdl = HostSdlWindow();
        w.hosted = true;
    } else {
        const SDL_Point origin = PrimaryOrigin();
        w.sdl =
            SDL_CreateWindow(w.title.c_str(), x + origin.x, y + origin.y, w.width, w.height, flags);
    }
    if (!w.sdl) {
        std::fprintf(stderr, "plumora: cannot create a window: %s\n", SDL_GetError());
        return nullptr;
    }
    if (screenCover && !w.hosted) AddCovers(w, flags);
    SetBackground(w);
    w.sdlId = SDL_GetWindowID(w.sdl);
    HWND hwnd = w.handle;
    Windows()[Key(hwnd)] = std::move(window);
    InstallEndingHandlers();
    if (w.visible) {
        g_active = hwnd;
        w.paintPending = true;
    }

    // No CREATESTRUCT in this subset: WM_CREATE carries a null pointer.
    if (w.proc(hwnd, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
    Window* w = FindWindow(hwnd);
    if (!w || w->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    w->destroying = true;
    // The procedure sees WM_DESTROY before anything of the window is gone.
    w->proc(hwnd, WM_DESTROY, 0, 0);
    if (!DisplayLost()) {
        for (Cover& c : w->covers)
            SDL_DestroyWindow(c.sdl);
        // The host's window stays the host's.
        if (w->sdl && !w->hosted) SDL_DestroyWindow(w->sdl);
    }
    if (g_active == hwnd) g_active = nullptr;
    Windows().erase(Key(hwnd));
    return TRUE;
}

BOOL IsWindow(HWND hwnd) {
    return FindWindow(hwnd) != nullptr;
}

BOOL ShowWindow(HWND hwnd, int showCommand) {
    Window* w = FindWindow(hwnd);
    if (!w) return FALSE;
    BOOL wasVisible = w->visible;
    // Mapping, stacking and focus of a host's window are the host's business.
    const bool own = w->sdl && !w->hosted && VideoReady();
    if (showCommand == SW_HIDE) {
        if (w->visible && own) {
            SDL_HideWindow(w->sdl);
            for (Cover& c : w->covers)
                SDL_HideWindow(c.sdl);
        }
        w->visible = false;
        return wasVisible;
    }
    if (!w->visible) {
        w->visible = true;
        w->paintPending = true;
        if (own) {
            for (Cover& c : w->covers)
                SDL_ShowWindow(c.sdl);
            SDL_ShowWindow(w->sdl);
        }
    }
    if (own) {
        SDL_RaiseWindow(w->sdl);
        // Showing activates: without a window manager nobody else gives the
        // window the keyboard.
        SDL_SetWindowInputFocus(w->sdl);
    }
    g_active = hwnd;
    return wasVisible;
}

BOOL UpdateWindow(HWND hwnd) {
    Window* w = FindWindow(hwnd);
    if (!w) return FALSE;
    if (!w->paintPending) return TRUE;
    w->paintPending = false;
    FillBackground(*w);
    w->proc(hwnd, WM_PAINT, 0, 0);
    return TRUE;
}

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(hwnd, WM_CLOSE, 0, 0);
        // SC_KEYMENU: there is no menu bar to open.
        return 0;
    case WM_SYSKEYDOWN:
        if (wParam == kVkF4 && (lParam & (1 << 29))) SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    case WM_SYSKEYUP:
        // Releasing Alt or F10 asks for the keyboard menu, as on the platform.
        if (wParam == kVkMenu || wParam == kVkF10) SendMessageA(hwnd, WM_SYSCOMMAND, SC_KEYMENU, 0);
        return 0;
    case WM_PAINT:
        if (Window* w = FindWindow(hwnd)) RepresentWindow(*w);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    default:
        return 0;
    }
}

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = FindWindow(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return w->proc(hwnd, message, wParam, lParam);
}

HWND GetActiveWindow(void) {
    return g_active;
}

// Cursors and icons are tokens: nothing here draws them.
HCURSOR LoadCursorA(HINSTANCE, LPCSTR name) {
    if (!name) return nullptr;
    uintptr_t id = IS_INTRESOURCE(name) ? reinterpret_cast<uintptr_t>(name) : 0xFFFF;
    return reinterpret_cast<HCURSOR>(0x100000 | (id << 4));
}

HICON LoadIconA(HINSTANCE, LPCSTR name) {
    if (!name) return nullptr;
    uintptr_t id = IS_INTRESOURCE(name) ? reinterpret_cast<uintptr_t>(name) : 0xFFFF;
    return reinterpret_cast<HICON>(0x200000 | (id << 4));
}

HGDIOBJ GetStockObject(int object) {
    if (object < 0 || object > 19) return nullptr;
    return reinterpret_cast<HGDIOBJ>(uintptr_t(0x300000) | (uintptr_t(object) << 4));
}

HDC GetDC(HWND hwnd) {
    if (!hwnd) return kScreenDc;
    if (!FindWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<HDC>(reinterpret_cast<uintptr_t>(hwnd) | 1);
}

int ReleaseDC(HWND, HDC dc) {
    return dc ? 1 : 0;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
    Window* w = FindWindow(hwnd);
    if (!w || !rect) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = RECT{0, 0, w->width, w->height};
    return TRUE;
}

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
    Window* w = FindWindow(hwnd);
    if (!w || !point) return FALSE;
    point->x += w->x;
    point->y += w->y;
    return TRUE;
}

SDL_Window* Win32GetSdlWindow(HWND hwnd) {
    Window* w = FindWindow(hwnd);
    return w ? w->sdl : nullptr;
}

bool Win32WindowErasedBlack(HWND hwnd) {
    Window* w = FindWindow(hwnd);
    return w && w->erasedBlack;
}
