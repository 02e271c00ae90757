// A host's window as the display of a hosted run. A screensaver host (or a
// settings program's preview pane) gives the saver one of its own X windows;
// the saver then draws into it as into a screen of that size. The host owns the
// window, its input and its cursor: nothing here selects input, grabs, maps,
// raises, focuses or changes the cursor. The window's destruction, seen as
// DestroyNotify or as an X error naming it, ends the run as a close does.
#include "user_internal.h"

#include <win32ext.h>

#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace win32u {
namespace {

constexpr Uint32 kRestartSettleMs = 250; // a pane being dragged larger settles first

unsigned long g_hostId = 0;
SDL_Window* g_host = nullptr;
int g_hostWidth = 0, g_hostHeight = 0, g_hostBits = 0;
std::atomic<bool> g_hostGone{false};
bool g_goneReported = false;
bool g_restartPending = false;
Uint32 g_restartAt = 0;
int (*g_previousErrorHandler)(::Display*, XErrorEvent*) = nullptr;

// Xlib calls this from inside its own calls: only flags may change here.
int OnXError(::Display* display, XErrorEvent* error) {
    if (error->resourceid == g_hostId || g_hostGone.load(std::memory_order_relaxed)) {
        // Whatever refers to the window once it is gone fails; that is expected.
        g_hostGone.store(true, std::memory_order_relaxed);
        return 0;
    }
    return g_previousErrorHandler ? g_previousErrorHandler(display, error) : 0;
}

::Display* XDisplayOf(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return nullptr;
    return info.info.x11.display;
}

// The program's own arguments, as the kernel keeps them.
std::vector<std::string> OwnArguments() {
    std::vector<std::string> args;
    int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return args;
    std::string all;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        all.append(buffer, size_t(n));
    close(fd);
    for (size_t start = 0; start < all.size();) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        args.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

} // namespace

bool Hosted() {
    return g_hostId != 0;
}

bool AdoptHostWindow() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::strcmp(driver, "x11") != 0) {
        std::fprintf(stderr, "plumora: a host window needs an X display\n");
        return false;
    }
    g_previousErrorHandler = XSetErrorHandler(OnXError);
    g_host = SDL_CreateWindowFrom(reinterpret_cast<const void*>(uintptr_t(g_hostId)));
    ::Display* display = g_host ? XDisplayOf(g_host) : nullptr;
    if (display) {
        // Only what tells us about the window itself; input stays the host's.
        XSelectInput(display, ::Window(g_hostId), StructureNotifyMask | ExposureMask);
        XSync(display, False);
    }
    if (g_host) SDL_GetWindowSize(g_host, &g_hostWidth, &g_hostHeight);
    if (!display || g_hostGone || g_hostWidth <= 0 || g_hostHeight <= 0) {
        std::fprintf(stderr, "plumora: cannot draw into the host window 0x%lx: %s\n", g_hostId,
                     g_host ? "no such window" : SDL_GetError());
        if (g_host) SDL_DestroyWindow(g_host);
        g_host = nullptr;
        return false;
    }
    g_hostBits = int(SDL_BITSPERPIXEL(SDL_GetWindowPixelFormat(g_host)));
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    return true;
}

SDL_Window* HostSdlWindow() {
    return g_host;
}

Display HostDisplay() {
    return Display{g_hostWidth, g_hostHeight, g_hostBits};
}

void NoteHostEvent(const SDL_SysWMmsg* message) {
    if (!message || message->subsystem != SDL_SYSWM_X11) return;
    const XEvent& e = message->msg.x11.event;
    if (e.type == DestroyNotify && e.xdestroywindow.window == ::Window(g_hostId))
        g_hostGone.store(true, std::memory_order_relaxed);
}

bool TakeHostGone() {
    if (g_goneReported || !g_hostGone.load(std::memory_order_relaxed)) return false;
    g_goneReported = true;
    std::fprintf(stderr, "plumora: the host window is gone\n");
    return true;
}

void HostResized(int width, int height) {
    // Everything below the window was sized once, at the start; a run started
    // afresh at the new size shows the whole model again.
    g_restartPending = width != g_hostWidth || height != g_hostHeight;
    g_restartAt = SDL_GetTicks() + kRestartSettleMs;
}

int HostRestartWait() {
    if (!g_restartPending) return -1;
    Sint32 left = Sint32(g_restartAt - SDL_GetTicks());
    return left > 0 ? int(left) : 0;
}

void RestartForHost() {
    if (HostRestartWait() != 0 || g_hostGone) return;
    g_restartPending = false;
    std::vector<std::string> args = OwnArguments();
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (args.empty()) return;
    std::fprintf(stderr, "plumora: the host window changed size; starting again\n");
    std::fflush(nullptr);
    // Every descriptor of ours is close-on-exec, the guard's lock included, so
    // the new image starts as the host started this one.
    execve("/proc/self/exe", argv.data(), environ);
    std::fprintf(stderr, "plumora: cannot start again: %s\n", std::strerror(errno));
}

} // namespace win32u

void Win32HostWindow(unsigned long windowId) {
    win32u::g_hostId = windowId;
    // One saver per host window: the guard's name is the window's.
    char scope[32];
    std::snprintf(scope, sizeof scope, "0x%lx", windowId);
    Win32SetObjectScope(windowId ? scope : nullptr);
}
