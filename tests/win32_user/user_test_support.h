// Shared pieces of the window-layer tests: a headless SDL set-up, a window
// procedure that records what it is sent, and queue helpers.
#pragma once

#include <windows.h>
#include <win32ext.h>

#include <SDL.h>

#include <vector>

struct Sent {
    UINT message;
    WPARAM wParam;
    bool windowAlive; // IsWindow(hwnd) while the message was handled
};

// Everything RecordingProc was sent, in order; cleared by ResetWindowLayer.
extern std::vector<Sent> g_sent;
// RecordingProc makes the next WM_CREATE fail when this is set.
extern bool g_failNextCreate;
LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// A window of the recording class "TestWindow", registered on first use.
HWND MakeTestWindow(DWORD style = WS_POPUP | WS_VISIBLE, int x = 0, int y = 0, int width = 64,
                    int height = 48);
// Takes every waiting message (PM_REMOVE) without dispatching; keeps those with
// the given number, or all for 0.
std::vector<MSG> TakeAll(UINT message = 0);
// Destroys the windows MakeTestWindow made and empties the queue, quit included.
void ResetWindowLayer();

// The id of the SDL window behind a window.
Uint32 SdlId(HWND hwnd);
