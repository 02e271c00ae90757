// Shared pieces of the window-layer tests: a headless SDL set-up, a window
// procedure that records what it is sent, and queue helpers.
#pragma once

#include <windows.h>
#include <win32ext.h>

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

// Before any test (and before SDL starts): a headless video driver and a runtime
// folder of our own for the named mutex.
inline const bool g_headless = [] {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    setenv("SDL_FRAMEBUFFER_ACCELERATION", "0", 1);
    // Death-test children inherit the parent's folder.
    const char* inherited = getenv("XDG_RUNTIME_DIR");
    if (inherited && std::string(inherited).rfind("/tmp/plumora-user-test-", 0) == 0) return true;
    char folder[] = "/tmp/plumora-user-test-XXXXXX";
    if (!mkdtemp(folder)) return false;
    setenv("XDG_RUNTIME_DIR", folder, 1);
    setenv("XDG_CONFIG_HOME", folder, 1);
    return true;
}();

struct Sent {
    UINT message;
    WPARAM wParam;
    bool windowAlive; // IsWindow(hwnd) while the message was handled
};

// Everything RecordingProc was sent, in order; cleared by ResetWindowLayer.
inline std::vector<Sent> g_sent;
// RecordingProc makes the next WM_CREATE fail when this is set.
inline bool g_failNextCreate = false;
// The windows MakeTestWindow made.
inline std::vector<HWND> g_made;

inline LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    g_sent.push_back(Sent{message, wParam, IsWindow(hwnd) != FALSE});
    if (message == WM_CREATE && g_failNextCreate) {
        g_failNextCreate = false;
        return -1;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A window of the recording class "TestWindow", registered on first use.
inline HWND MakeTestWindow(DWORD style = WS_POPUP | WS_VISIBLE, int x = 0, int y = 0,
                           int width = 64, int height = 48) {
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

// Takes every waiting message (PM_REMOVE) without dispatching; keeps those with
// the given number, or all for 0.
inline std::vector<MSG> TakeAll(UINT message = 0) {
    std::vector<MSG> out;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!message || msg.message == message) out.push_back(msg);
        if (msg.message == WM_QUIT) break;
    }
    return out;
}

// Destroys the windows MakeTestWindow made, empties the queue (quit included) and
// forgets any display description a test set.
inline void ResetWindowLayer() {
    for (HWND h : g_made)
        if (IsWindow(h)) DestroyWindow(h);
    g_made.clear();
    TakeAll();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    g_sent.clear();
    Win32TestSetDisplay(0, 0, 0);
}

// Every test starts and ends with no windows and an empty queue.
class WindowLayerTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetWindowLayer(); }
    void TearDown() override { ResetWindowLayer(); }
};

// The id of the SDL window behind a window.
inline Uint32 SdlId(HWND hwnd) {
    return SDL_GetWindowID(Win32GetSdlWindow(hwnd));
}
