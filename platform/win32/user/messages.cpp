// The thread's message queue: posted messages, SDL input turned into Win32
// messages, the quit request and pending paints, in the platform's order.
#include "user_internal.h"

#include <deque>

namespace win32u {
namespace {

std::deque<MSG> g_posted;
std::deque<MSG> g_input;
bool g_quitPending = false;
int g_quitCode = 0;
POINT g_lastMouse{0, 0};

LPARAM PackPoint(int x, int y) {
    return LPARAM(DWORD(WORD(int16_t(x))) | (DWORD(WORD(int16_t(y))) << 16));
}

MSG Make(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD time) {
    MSG m{};
    m.hwnd = hwnd;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = time;
    m.pt = g_lastMouse;
    return m;
}

WPARAM VirtualKey(SDL_Keycode sym) {
    if (sym >= SDLK_a && sym <= SDLK_z) return WPARAM('A' + (sym - SDLK_a));
    if (sym >= SDLK_0 && sym <= SDLK_9) return WPARAM(sym);
    if (sym >= SDLK_F1 && sym <= SDLK_F12) return kVkF1 + WPARAM(sym - SDLK_F1);
    if (sym >= SDLK_F13 && sym <= SDLK_F24) return kVkF1 + 12 + WPARAM(sym - SDLK_F13);
    if (sym >= SDLK_KP_1 && sym <= SDLK_KP_9) return kVkNumpad0 + 1 + WPARAM(sym - SDLK_KP_1);
    switch (sym) {
    case SDLK_KP_0:
        return kVkNumpad0;
    case SDLK_BACKSPACE:
        return kVkBack;
    case SDLK_TAB:
        return kVkTab;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return kVkReturn;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
        return kVkShift;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
        return kVkControl;
    case SDLK_LALT:
    case SDLK_RALT:
        return kVkMenu;
    case SDLK_PAUSE:
        return kVkPause;
    case SDLK_CAPSLOCK:
        return kVkCapital;
    case SDLK_ESCAPE:
        return kVkEscape;
    case SDLK_SPACE:
        return kVkSpace;
    case SDLK_PAGEUP:
        return kVkPrior;
    case SDLK_PAGEDOWN:
        return kVkNext;
    case SDLK_END:
        return kVkEnd;
    case SDLK_HOME:
        return kVkHome;
    case SDLK_LEFT:
        return kVkLeft;
    case SDLK_UP:
        return kVkUp;
    case SDLK_RIGHT:
        return kVkRight;
    case SDLK_DOWN:
        return kVkDown;
    case SDLK_INSERT:
        return kVkInsert;
    case SDLK_DELETE:
        return kVkDelete;
    case SDLK_LGUI:
        return kVkLWin;
    case SDLK_RGUI:
        return kVkRWin;
    case SDLK_APPLICATION:
        return kVkApps;
    default:
        return 0xFF; // a key without a code of its own
    }
}

void TranslateKey(const SDL_KeyboardEvent& e) {
    Window* w = FindWindowBySdlId(e.windowID);
    if (!w) w = FindCoverOwner(e.windowID, nullptr);
    if (!w) w = DefaultInputWindow();
    if (!w) return;
    WPARAM vk = VirtualKey(e.keysym.sym);
    bool alt = (e.keysym.mod & KMOD_ALT) != 0 && (e.keysym.mod & KMOD_CTRL) == 0;
    // Alt itself, keys with Alt held, and F10 are system keys on the platform.
    bool system = alt || vk == kVkMenu || vk == kVkF10;
    bool down = e.state == SDL_PRESSED;
    DWORD lParam = 1 | (DWORD(e.keysym.scancode & 0xFF) << 16);
    if (alt || vk == kVkMenu) lParam |= 1u << 29;
    if (!down)
        lParam |= (1u << 30) | (1u << 31);
    else if (e.repeat)
        lParam |= 1u << 30;
    UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    g_input.push_back(Make(w->handle, message, vk, LPARAM(lParam), e.timestamp));
}

WPARAM MouseKeys(Uint32 buttons) {
    WPARAM keys = 0;
    if (buttons & SDL_BUTTON_LMASK) keys |= 0x0001;
    if (buttons & SDL_BUTTON_RMASK) keys |= 0x0002;
    if (buttons & SDL_BUTTON_MMASK) keys |= 0x0010;
    SDL_Keymod mod = SDL_GetModState();
    if (mod & KMOD_SHIFT) keys |= 0x0004;
    if (mod & KMOD_CTRL) keys |= 0x0008;
    return keys;
}

// The window a mouse event belongs to, and where its window's coordinates
// start in that window's client area (not at 0 for a cover).
Window* MouseWindow(Uint32 windowId, POINT* offset) {
    *offset = POINT{0, 0};
    if (Window* w = FindWindowBySdlId(windowId)) return w;
    if (Window* w = FindCoverOwner(windowId, offset)) return w;
    return DefaultInputWindow();
}

void TranslateWindowEvent(const SDL_WindowEvent& e) {
    Window* w = FindWindowBySdlId(e.windowID);
    if (!w) {
        // A cover: its exposure is its owner's, and a close request closes the owner.
        if (Window* owner = FindCoverOwner(e.windowID, nullptr)) {
            if (e.event == SDL_WINDOWEVENT_EXPOSED) owner->paintPending = true;
            if (e.event == SDL_WINDOWEVENT_CLOSE)
                g_input.push_back(Make(owner->handle, WM_CLOSE, 0, 0, e.timestamp));
        }
        return;
    }
    switch (e.event) {
    case SDL_WINDOWEVENT_CLOSE:
        g_input.push_back(Make(w->handle, WM_CLOSE, 0, 0, e.timestamp));
        break;
    case SDL_WINDOWEVENT_EXPOSED:
        w->paintPending = true;
        break;
    case SDL_WINDOWEVENT_MOVED:
        // A host's window is the whole screen wherever its host puts it.
        if (!w->hosted) {
            const SDL_Point origin = PrimaryOrigin();
            w->x = e.data1 - origin.x;
            w->y = e.data2 - origin.y;
        }
        break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        if (w->hosted) HostResized(e.data1, e.data2);
        if (e.data1 > 0 && e.data2 > 0 && (e.data1 != w->width || e.data2 != w->height)) {
            w->width = e.data1;
            w->height = e.data2;
            g_input.push_back(
                Make(w->handle, WM_SIZE, 0, PackPoint(w->width, w->height), e.timestamp));
        }
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        SetActiveWindow(w->handle);
        break;
    default:
        break;
    }
}

void Translate(const SDL_Event& e) {
    switch (e.type) {
    case SDL_QUIT:
        // The session or the display is going away: ask every window to close.
        for (HWND h : LiveTopLevelWindows())
            g_input.push_back(Make(h, WM_CLOSE, 0, 0, e.quit.timestamp));
        break;
    case SDL_WINDOWEVENT:
        TranslateWindowEvent(e.window);
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        TranslateKey(e.key);
        break;
    case SDL_SYSWMEVENT:
        NoteHostEvent(e.syswm.msg);
        break;
    case SDL_MOUSEMOTION: {
        POINT at;
        if (Window* w = MouseWindow(e.motion.windowID, &at)) {
            at = POINT{at.x + e.motion.x, at.y + e.motion.y};
            // Also SDL's synthetic motion at window map: the saver's procedure
            // leaves plain movement to the default procedure.
            g_lastMouse = POINT{w->x + at.x, w->y + at.y};
            g_input.push_back(Make(w->handle, WM_MOUSEMOVE, MouseKeys(e.motion.state),
                                   PackPoint(at.x, at.y), e.motion.timestamp));
        }
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        bool down = e.type == SDL_MOUSEBUTTONDOWN;
        UINT message = 0;
        if (e.button.button == SDL_BUTTON_LEFT) message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        if (e.button.button == SDL_BUTTON_RIGHT) message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        if (e.button.button == SDL_BUTTON_MIDDLE) message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
        POINT at;
        Window* w = MouseWindow(e.button.windowID, &at);
        if (!message || !w) break;
        at = POINT{at.x + e.button.x, at.y + e.button.y};
        Uint32 buttons = down ? SDL_BUTTON(e.button.button) : 0;
        g_lastMouse = POINT{w->x + at.x, w->y + at.y};
        g_input.push_back(Make(w->handle, message, MouseKeys(buttons), PackPoint(at.x, at.y),
                               e.button.timestamp));
        break;
    }
    case SDL_MOUSEWHEEL: {
        POINT at;
        if (Window* w = MouseWindow(e.wheel.windowID, &at)) {
            WPARAM delta = WPARAM(WORD(int16_t(e.wheel.y * 120))) << 16;
            g_input.push_back(Make(w->handle, WM_MOUSEWHEEL, delta,
                                   PackPoint(g_lastMouse.x, g_lastMouse.y), e.wheel.timestamp));
        }
        break;
    }
    default:
        // The wake event only interrupts a wait; signals are collected below.
        break;
    }
}

void Pump() {
    DeliverPendingSignals();
    if (!VideoReady()) return;
    // The host's window gone ends the run as a close does.
    if (TakeHostGone())
        for (HWND h : LiveTopLevelWindows())
            QueueClose(h);
    RestartForHost();
    SDL_Event e;
    while (SDL_PollEvent(&e))
        Translate(e);
}

bool Matches(const MSG& m, HWND hwnd, UINT filterMin, UINT filterMax) {
    if (hwnd == reinterpret_cast<HWND>(intptr_t(-1))) {
        if (m.hwnd) return false;
    } else if (hwnd && m.hwnd != hwnd) {
        return false;
    }
    if (filterMin == 0 && filterMax == 0) return true;
    return m.message >= filterMin && m.message <= filterMax;
}

bool TakeFrom(std::deque<MSG>& queue, LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax,
              bool remove) {
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!Matches(*it, hwnd, filterMin, filterMax)) continue;
        *msg = *it;
        if (remove) queue.erase(it);
        return true;
    }
    return false;
}

bool TakePaint(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, bool remove) {
    if (hwnd == reinterpret_cast<HWND>(intptr_t(-1))) return false;
    if ((filterMin || filterMax) && (WM_PAINT < filterMin || WM_PAINT > filterMax)) return false;
    Window* w = FindPaintPending(hwnd);
    if (!w) return false;
    *msg = Make(w->handle, WM_PAINT, 0, 0, VideoReady() ? SDL_GetTicks() : 0);
    // Nothing validates the window later in this subset: taking the message does.
    if (remove) w->paintPending = false;
    return true;
}

bool AnyMessage() {
    return !g_posted.empty() || !g_input.empty() || g_quitPending ||
           FindPaintPending(nullptr) != nullptr;
}

} // namespace

void QueueClose(HWND hwnd) {
    g_posted.push_back(Make(hwnd, WM_CLOSE, 0, 0, VideoReady() ? SDL_GetTicks() : 0));
}

bool QuitRequested(int* code) {
    if (code) *code = g_quitCode;
    return g_quitPending;
}

} // namespace win32u

using namespace win32u;

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (hwnd && !FindWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    g_posted.push_back(Make(hwnd, message, wParam, lParam, VideoReady() ? SDL_GetTicks() : 0));
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    g_quitPending = true;
    g_quitCode = exitCode;
}

BOOL PeekMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMessage) {
    if (!msg) return FALSE;
    bool remove = (removeMessage & PM_REMOVE) != 0;
    Pump();
    if (TakeFrom(g_posted, msg, hwnd, filterMin, filterMax, remove)) return TRUE;
    if (TakeFrom(g_input, msg, hwnd, filterMin, filterMax, remove)) return TRUE;
    // The quit request comes when nothing else is waiting, whatever the filter.
    if (g_quitPending) {
        *msg = Make(nullptr, WM_QUIT, WPARAM(g_quitCode), 0, VideoReady() ? SDL_GetTicks() : 0);
        if (remove) g_quitPending = false;
        return TRUE;
    }
    return TakePaint(msg, hwnd, filterMin, filterMax, remove) ? TRUE : FALSE;
}

BOOL WaitMessage(void) {
    for (;;) {
        Pump();
        if (AnyMessage()) return TRUE;
        // Without a display nothing can arrive while this thread waits.
        if (!VideoReady()) return FALSE;
        SDL_Event e;
        // The timeout only bounds how long a missed wake could delay a signal,
        // or how late a restart for a resized host's window comes.
        int restart = HostRestartWait();
        if (SDL_WaitEventTimeout(&e, restart >= 0 && restart < 1000 ? restart + 1 : 1000))
            Translate(e);
    }
}

BOOL GetMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    if (!msg) return -1;
    for (;;) {
        if (PeekMessageA(msg, hwnd, filterMin, filterMax, PM_REMOVE))
            return msg->message != WM_QUIT;
        if (!WaitMessage()) return -1;
    }
}

BOOL TranslateMessage(const MSG* msg) {
    // No character messages are made; the result follows the platform.
    if (!msg) return FALSE;
    switch (msg->message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
        return TRUE;
    default:
        return FALSE;
    }
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd) return 0;
    return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}
