#include "user_test_support.h"

#include <cstdlib>
#include <string>

std::vector<Sent> g_sent;
bool g_failNextCreate = false;

namespace {

// Before any test (and before SDL starts): a headless video driver and a
// runtime folder of our own for the named mutex.
struct HeadlessEnvironment {
    HeadlessEnvironment() {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setenv("SDL_FRAMEBUFFER_ACCELERATION", "0", 1);
        // Death-test children inherit the parent's folder.
        const char* inherited = getenv("XDG_RUNTIME_DIR");
        if (inherited && std::string(inherited).rfind("/tmp/plumora-user-test-", 0) == 0) return;
        char folder[] = "/tmp/plumora-user-test-XXXXXX";
        if (mkdtemp(folder)) {
            setenv("XDG_RUNTIME_DIR", folder, 1);
            setenv("XDG_CONFIG_HOME", folder, 1);
        }
    }
} g_environment;

std::vector<HWND> g_made;

} // namespace

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    g_sent.push_back(Sent{message, wParam, IsWindow(hwnd) != FALSE});
    if (message == WM_CREATE && g_failNextCreate) {
        g_failNextCreate = false;
        return -1;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND MakeTestWindow(DWORD style, int x, int y, int width, int height) {
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        wc.lpszClassName = "TestWindow";
        return RegisterClassA(&wc) != 0;
    }();
    HWND hwnd = CreateWindowExA(0, "TestWindow", "test", style, x, y, width, height, nullptr,
                                nullptr, nullptr, nullptr);
    if (hwnd && registered) g_made.push_back(hwnd);
    return hwnd;
}

std::vector<MSG> TakeAll(UINT message) {
    std::vector<MSG> out;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!message || msg.message == message) out.push_back(msg);
        if (msg.message == WM_QUIT) break;
    }
    return out;
}

void ResetWindowLayer() {
    for (HWND h : g_made)
        if (IsWindow(h)) DestroyWindow(h);
    g_made.clear();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    g_sent.clear();
}

Uint32 SdlId(HWND hwnd) {
    return SDL_GetWindowID(Win32GetSdlWindow(hwnd));
}
