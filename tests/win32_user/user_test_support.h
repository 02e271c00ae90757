// Shared pieces of the window-layer tests: a headless SDL set-up, a window
// procedure that records what it is sent, and queue helpers.
#pragma once

#include <windows.h>
#include <win32ext.h>

#include <SDL.h>

#include <vector>

struct Sent {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool windowAlive; // IsWindow(hwnd) while the message was handled
};

// Everything RecordingProc was sent, in order; cleared by each fixture.
std::vector<Sent>& SentLog();
// Records, then hands the message to DefWindowProcA. Returns -1 for WM_CREATE
// when FailNextCreate() was called.
LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void FailNextCreate();

// Registers the recording class "TestWindow" once per process.
void EnsureTestClass();
HWND MakeTestWindow(DWORD style = WS_POPUP | WS_VISIBLE, int x = 0, int y = 0, int width = 64,
                    int height = 48);

// Takes every waiting message (PM_REMOVE) without dispatching.
std::vector<MSG> TakeAll();
// Takes every waiting message and keeps those with the given number.
std::vector<MSG> TakeAll(UINT message);
// Destroys the windows MakeTestWindow made and empties the queue, quit included.
void ResetWindowLayer();

Uint32 SdlId(HWND hwnd);
