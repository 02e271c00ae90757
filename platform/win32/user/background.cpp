// Black backgrounds painted by the X server. A client-side fill of a 4K window
// surface writes and sends 33 MB before the first picture; the server paints the
// same black at no cost to us, so the first frame sends only what it drew.
#include "user_internal.h"

#include <SDL_syswm.h>
#include <X11/Xlib.h>

namespace win32u {
namespace {

struct XTarget {
    ::Display* display = nullptr;
    ::Window window = 0;
    unsigned long black = 0;
};

bool XTargetOf(SDL_Window* window, XTarget& target) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return false;
    target.display = info.info.x11.display;
    target.window = info.info.x11.window;
    target.black = BlackPixel(target.display, DefaultScreen(target.display));
    return true;
}

} // namespace

bool SetServerBackground(SDL_Window* window) {
    XTarget t;
    if (!XTargetOf(window, t)) return false;
    // Every exposure, the first mapping included, now comes up black; a window
    // that is already mapped is cleared at once.
    XSetWindowBackground(t.display, t.window, t.black);
    XClearWindow(t.display, t.window);
    XFlush(t.display);
    return true;
}

bool FillOnServer(SDL_Window* window) {
    XTarget t;
    if (!XTargetOf(window, t)) return false;
    int width = 0, height = 0;
    SDL_GetWindowSize(window, &width, &height);
    // A host's window keeps its own attributes: it is painted over, not changed.
    XGCValues values;
    values.foreground = t.black;
    GC gc = XCreateGC(t.display, t.window, GCForeground, &values);
    XFillRectangle(t.display, t.window, gc, 0, 0, unsigned(width), unsigned(height));
    XFreeGC(t.display, gc);
    XFlush(t.display);
    return true;
}

} // namespace win32u
