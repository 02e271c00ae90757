// Ways a window ends from outside: SIGTERM, SIGINT and SIGHUP, and a display
// connection that goes away. Each reaches the window as WM_CLOSE, so the program
// tears down as on any other ending input.
#include "user_internal.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace win32u {
namespace {

volatile sig_atomic_t g_signalPending = 0;
int g_wakePipe[2] = {-1, -1};
Uint32 g_wakeEvent = Uint32(-1);
bool g_installed = false;

extern "C" void OnEndingSignal(int) {
    int saved = errno;
    g_signalPending = 1;
    char byte = 1;
    // Non-blocking: a full pipe already holds a wake-up.
    ssize_t ignored = write(g_wakePipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

// A blocked SDL wait only wakes for SDL events, and pushing one is not
// async-signal-safe, so a thread turns bytes on the pipe into wake events.
void WakeLoop() {
    char buffer[16];
    for (;;) {
        ssize_t n = read(g_wakePipe[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        SDL_Event e;
        std::memset(&e, 0, sizeof e);
        e.type = g_wakeEvent;
        SDL_PushEvent(&e);
    }
}

// Xlib ends the process when this returns, so the windows are closed here and
// the process ends with the code the program asked for.
int OnDisplayLost(void*) {
    MarkDisplayLost();
    static const char line[] = "plumora: the display connection was lost\n";
    ssize_t ignored = write(2, line, sizeof line - 1);
    (void)ignored;
    for (HWND h : LiveTopLevelWindows())
        SendMessageA(h, WM_CLOSE, 0, 0);
    int code = 1;
    if (!QuitRequested(&code)) code = 1;
    std::exit(code);
}

void InstallDisplayLostHandler() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::strcmp(driver, "x11") != 0) return;
    // SDL loads Xlib itself; reach the copy it uses without linking our own.
    void* xlib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (!xlib) return;
    using Handler = int (*)(void*);
    using SetHandler = Handler (*)(Handler);
    auto set = reinterpret_cast<SetHandler>(dlsym(xlib, "XSetIOErrorHandler"));
    if (set) set(OnDisplayLost);
    dlclose(xlib);
}

} // namespace

void InstallEndingHandlers() {
    if (g_installed) return;
    g_installed = true;
    if (pipe2(g_wakePipe, O_CLOEXEC) == 0) {
        fcntl(g_wakePipe[1], F_SETFL, fcntl(g_wakePipe[1], F_GETFL) | O_NONBLOCK);
        g_wakeEvent = SDL_RegisterEvents(1);
        if (g_wakeEvent != Uint32(-1)) std::thread(WakeLoop).detach();
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnEndingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A write to a display that went away must end as a lost display, not as a
    // signal death.
    signal(SIGPIPE, SIG_IGN);
    InstallDisplayLostHandler();
}

void DeliverPendingSignals() {
    if (!g_signalPending) return;
    std::vector<HWND> windows = LiveTopLevelWindows();
    // Kept pending until there is a window to close.
    if (windows.empty()) return;
    g_signalPending = 0;
    for (HWND h : windows)
        QueueClose(h);
}

} // namespace win32u
