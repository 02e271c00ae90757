#include "user_test_support.h"

#include <cstdlib>
#include <string>

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

bool g_failNextCreate = false;
std::vector<HWND> g_made;

} // namespace

std::vector<Sent>& SentLog() {
    static std::vector<Sent> log;
    return log;
}

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SentLog().push_back(Sent{hwnd, message, wParam, lParam, IsWindow(hwnd) != FALSE});
    if (message == WM_CREATE && g_failNextCreate) {
        g_failNextCreate = false;
        return -1;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void FailNextCreate() {
    g_failNextCreate = true;
}

void EnsureTestClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = "TestWindow";
    registered = RegisterClassA(&wc) != 0;
}

HWND MakeTestWindow(DWORD style, int x, int y, int width, int height) {
    EnsureTestClass();
    HWND hwnd = CreateWindowExA(0, "TestWindow", "test", style, x, y, width, height, nullptr,
                                nullptr, nullptr, nullptr);
    if (hwnd) g_made.push_back(hwnd);
    return hwnd;
}

std::vector<MSG> TakeAll() {
    std::vector<MSG> out;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        out.push_back(msg);
        if (msg.message == WM_QUIT) break;
    }
    return out;
}

std::vector<MSG> TakeAll(UINT message) {
    std::vector<MSG> out;
    for (const MSG& m : TakeAll())
        if (m.message == message) out.push_back(m);
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
    SentLog().clear();
}

Uint32 SdlId(HWND hwnd) {
    return SDL_GetWindowID(Win32GetSdlWindow(hwnd));
}
