// Linux-side extensions of the Win32 stand-in: what the graphics stand-in needs
// from the window layer, path mapping, and seams used only by tests.
#pragma once

#include "windows.h"
#include <string>

struct SDL_Window;

// The SDL window behind a window handle (null for an unknown handle).
SDL_Window* Win32GetSdlWindow(HWND hwnd);

// Whether the window shows black wherever nothing was drawn into its SDL surface
// since that surface was made (its black background was painted): a first copy
// to the window then needs to send only what it draws.
bool Win32WindowErasedBlack(HWND hwnd);

// Maps a Windows-style path to a Linux one: "C:\" is the folder above the
// program's folder, "c:\windows" the program's own folder; backslashes become
// slashes and a missing name is looked up case-insensitively. POSIX paths pass
// through unchanged.
std::string Win32MapPath(const char* path);

// The folder of the running program (from /proc/self/exe), without a final slash.
std::string Win32ProgramDir();

// Run in a host's X window instead of a screen of our own (before any window
// exists): the display is that window, the saver's screen-covering window draws
// into it, and input, cursor and stacking stay the host's. The window's
// destruction closes the windows; a change of its size starts the program
// again at the new size. Named kernel objects become per host window.
void Win32HostWindow(unsigned long windowId);

// Named kernel objects (the mutex) of this process live in this scope only, as
// if every name carried it (null or empty: the one shared scope). A scoped
// object's lock file goes when its holder ends.
void Win32SetObjectScope(const char* scope);

// ---- Test seams -------------------------------------------------------------

// Describe the display for headless runs: GetSystemMetrics, GetDeviceCaps
// (BITSPIXEL) and the window layer report this instead of the real display.
// A width or height of 0 restores the real display.
void Win32TestSetDisplay(int width, int height, int bitsPerPixel);
// The same with several monitors, in X root coordinates, the primary first
// (window positions count from its top-left corner). A count of 0 restores the
// real display.
void Win32TestSetDisplays(const RECT* monitors, int count, int bitsPerPixel);

// Send OutputDebugStringA text to a sink instead of standard error (null: stderr).
typedef void (*Win32DebugSink)(const char* text, void* context);
void Win32TestSetDebugSink(Win32DebugSink sink, void* context);

// Make Win32ProgramDir (and so "C:\" and "C:\windows") report this folder instead
// of the running program's (null or empty: the program's own again).
void Win32TestSetProgramDir(const char* dir);
