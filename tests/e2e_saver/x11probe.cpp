// Reads back what an X server shows, for the end-to-end tests:
//   x11probe screenshot FILE   the root window as a binary PPM (P6)
//   x11probe cursor            "hidden" when the pointer's cursor image is fully
//                              transparent, else "visible"
// Exit code 0 on success, 2 on a usage error, 3 when the display can't be read.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int Screenshot(Display* display, const char* path) {
    Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, root, &attributes)) return 3;
    int width = attributes.width, height = attributes.height;
    XImage* image = XGetImage(display, root, 0, 0, width, height, AllPlanes, ZPixmap);
    if (!image) return 3;
    // Channel positions from the masks: works for 24- and 32-bit TrueColor.
    auto shiftOf = [](unsigned long mask) {
        int shift = 0;
        while (mask && !(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        return shift;
    };
    int rs = shiftOf(image->red_mask), gs = shiftOf(image->green_mask),
        bs = shiftOf(image->blue_mask);
    std::vector<unsigned char> rgb(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            unsigned char* out = &rgb[(size_t(y) * width + x) * 3];
            out[0] = (unsigned char)((p & image->red_mask) >> rs);
            out[1] = (unsigned char)((p & image->green_mask) >> gs);
            out[2] = (unsigned char)((p & image->blue_mask) >> bs);
        }
    XDestroyImage(image);
    FILE* file = std::fopen(path, "wb");
    if (!file) return 3;
    std::fprintf(file, "P6\n%d %d\n255\n", width, height);
    bool ok = std::fwrite(rgb.data(), 1, rgb.size(), file) == rgb.size();
    ok = std::fclose(file) == 0 && ok;
    return ok ? 0 : 3;
}

int CursorState(Display* display) {
    int eventBase, errorBase;
    if (!XFixesQueryExtension(display, &eventBase, &errorBase)) return 3;
    XFixesCursorImage* image = XFixesGetCursorImage(display);
    if (!image) return 3;
    bool visible = false;
    for (int i = 0; i < int(image->width) * int(image->height); ++i)
        if ((image->pixels[i] >> 24) & 0xFF) visible = true;
    XFree(image);
    std::printf("%s\n", visible ? "visible" : "hidden");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: x11probe screenshot FILE | cursor\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "x11probe: cannot open the display\n");
        return 3;
    }
    int rc = 2;
    if (std::strcmp(argv[1], "screenshot") == 0 && argc == 3)
        rc = Screenshot(display, argv[2]);
    else if (std::strcmp(argv[1], "cursor") == 0 && argc == 2)
        rc = CursorState(display);
    else
        std::fprintf(stderr, "x11probe: unknown request\n");
    XCloseDisplay(display);
    return rc;
}
