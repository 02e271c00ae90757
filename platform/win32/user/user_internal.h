// State shared by the window-layer sources; not part of the Win32 surface.
#pragma once

#include <windows.h>

#include <SDL.h>

#include <cstdint>
#include <string>
#include <vector>

namespace win32u {

// Virtual-key codes the translation produces and the default procedure checks.
enum : WPARAM {
    kVkBack = 0x08,
    kVkTab = 0x09,
    kVkReturn = 0x0D,
    kVkShift = 0x10,
    kVkControl = 0x11,
    kVkMenu = 0x12,
    kVkPause = 0x13,
    kVkCapital = 0x14,
    kVkEscape = 0x1B,
    kVkSpace = 0x20,
    kVkPrior = 0x21,
    kVkNext = 0x22,
    kVkEnd = 0x23,
    kVkHome = 0x24,
    kVkLeft = 0x25,
    kVkUp = 0x26,
    kVkRight = 0x27,
    kVkDown = 0x28,
    kVkInsert = 0x2D,
    kVkDelete = 0x2E,
    kVkLWin = 0x5B,
    kVkRWin = 0x5C,
    kVkApps = 0x5D,
    kVkNumpad0 = 0x60,
    kVkF1 = 0x70,
    kVkF4 = 0x73,
    kVkF10 = 0x79,
};

// A plain black window over a monitor other than the primary, shown, hidden and
// destroyed with the screen-covering window that owns it; its input is the
// owner's.
struct Cover {
    SDL_Window* sdl = nullptr;
    Uint32 sdlId = 0;
    SDL_Rect rect{}; // X root coordinates
};

struct Window {
    HWND handle = nullptr;
    std::string className;
    std::string title;
    WNDPROC proc = nullptr;
    HBRUSH background = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;
    SDL_Window* sdl = nullptr;
    Uint32 sdlId = 0;
    bool visible = false;
    bool destroying = false;
    bool paintPending = false;
    bool hosted = false;           // draws into the host's window, which is not ours to change
    bool serverBackground = false; // the X server paints the black background of it and its covers
    bool erasedBlack = false;      // black on the screen wherever nothing was drawn since
    std::vector<unsigned char> extra; // cbWndExtra bytes
    std::vector<Cover> covers;
};

struct Display {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
};

// ---- The display (display.cpp): knows nothing of windows ----------------------

// Brings SDL video up once (hints first). False, with one line on standard
// error, when no display can be opened.
bool EnsureVideo();
bool VideoReady();

// The X connection is gone: no SDL call may touch the display any more.
bool DisplayLost();
void MarkDisplayLost();

// What the metrics report: the test description when set, else the host's
// window in a hosted run, else the primary display.
Display CurrentDisplay();
// Every monitor in X root coordinates, the primary first (only the host's
// window in a hosted run); empty without video.
std::vector<SDL_Rect> Monitors();
// Where window coordinates start: the primary monitor's top-left corner.
SDL_Point PrimaryOrigin();

// Re-applies the cursor display count to SDL (after video start).
void ApplyCursorState();

// ---- A host's window (host.cpp): the display of a hosted run -----------------

bool Hosted(); // Win32HostWindow was given a window
// At video start: takes the host's window; false, with a line, when it can't.
bool AdoptHostWindow();
SDL_Window* HostSdlWindow(); // null until adopted
Display HostDisplay();       // its size and depth when adopted
// X events of the host's window (SDL_SYSWMEVENT) and whether it went away;
// true once, for the first look after it did.
void NoteHostEvent(const SDL_SysWMmsg* message);
bool TakeHostGone();
// Its size changed: the run starts again at the new size once it settles.
void HostResized(int width, int height);
int HostRestartWait(); // milliseconds until then, -1 when nothing is due
void RestartForHost(); // replaces the process when due; returns otherwise

// ---- Backgrounds painted by the X server (background.cpp) ----------------------

// Makes black the background the server paints on every exposure of a window of
// ours (and paints it now if the window is mapped); false without an X server.
bool SetServerBackground(SDL_Window* window);
// Paints a host's window black once, its attributes untouched; false without X.
bool FillOnServer(SDL_Window* window);

// ---- Windows (window.cpp): built on the display --------------------------------

Window* FindWindow(HWND hwnd);        // live windows only (also while destroying)
Window* FindWindowBySdlId(Uint32 id); // null for unknown ids
// The owner of a cover window, and where the cover lies in the owner's client
// coordinates; null for other ids.
Window* FindCoverOwner(Uint32 id, POINT* offset);
Window* DefaultInputWindow();            // where input without a window goes
std::vector<HWND> LiveTopLevelWindows(); // in creation order
// The first visible window waiting for WM_PAINT (any window when hwnd is null);
// looked at on every empty poll, so it allocates nothing.
Window* FindPaintPending(HWND hwnd);
void SetActiveWindow(HWND hwnd);
// Copies the window's surface to the screen again (after an exposure).
void RepresentWindow(Window& window);

// ---- Endings (endings.cpp) and the queue (messages.cpp): built on windows -------

// Signals and a lost display end as WM_CLOSE; installed with the first window.
void InstallEndingHandlers();
// Queues WM_CLOSE for every window when a signal arrived since the last call.
void DeliverPendingSignals();
// Posts WM_CLOSE to a window (signals, lost display).
void QueueClose(HWND hwnd);
// Whether PostQuitMessage was called and the quit not yet taken, and its code.
bool QuitRequested(int* code);

} // namespace win32u
