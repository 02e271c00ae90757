// xshot: reads what an X server shows, for end-to-end tests and the run script.
//   xshot png FILE             write the screen as a PNG
//   xshot ppm FILE             write the screen as a binary PPM (P6)
//   xshot stats [X Y W H]      one line of key=value figures about the pixels
//   xshot cursor               "hidden" when the pointer's image is fully transparent
//   xshot window X Y W H       a grey window of another program: prints its id,
//                              then obeys lines on stdin ("size W H"); ends, and
//                              destroys the window, at end of input
// Stats: nonblack (pixels brighter than a small threshold), total, their mean
// colour and centroid, and a hash of the whole region to tell frames apart.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Rgb {
    uint8_t r, g, b;
};

struct Shot {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
};

int channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (!(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    unsigned long v = (pixel >> shift) & mask;
    return static_cast<int>(v * 255 / mask);
}

bool grab(Shot& shot, int x, int y, int w, int h) {
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "xshot: cannot open display\n");
        return false;
    }
    Window root = DefaultRootWindow(dpy);
    XWindowAttributes attrs;
    XGetWindowAttributes(dpy, root, &attrs);
    if (w <= 0 || h <= 0) {
        x = 0;
        y = 0;
        w = attrs.width;
        h = attrs.height;
    }
    XImage* img = XGetImage(dpy, root, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h),
                            AllPlanes, ZPixmap);
    if (!img) {
        std::fprintf(stderr, "xshot: cannot read the screen\n");
        XCloseDisplay(dpy);
        return false;
    }
    shot.width = w;
    shot.height = h;
    shot.pixels.resize(static_cast<size_t>(w) * h);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            unsigned long p = XGetPixel(img, i, j);
            shot.pixels[static_cast<size_t>(j) * w + i] = {
                static_cast<uint8_t>(channel(p, img->red_mask)),
                static_cast<uint8_t>(channel(p, img->green_mask)),
                static_cast<uint8_t>(channel(p, img->blue_mask))};
        }
    XDestroyImage(img);
    XCloseDisplay(dpy);
    return true;
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<uint8_t>(v >> s));
}

void chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    put32(out, static_cast<uint32_t>(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, out.data() + start, static_cast<uInt>(out.size() - start));
    put32(out, static_cast<uint32_t>(crc));
}

bool write_png(const Shot& shot, const char* path) {
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(shot.height) * (1 + 3 * shot.width));
    for (int j = 0; j < shot.height; ++j) {
        raw.push_back(0); // no filter
        for (int i = 0; i < shot.width; ++i) {
            const Rgb& p = shot.pixels[static_cast<size_t>(j) * shot.width + i];
            raw.insert(raw.end(), {p.r, p.g, p.b});
        }
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packed_size);
    if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 6) !=
        Z_OK)
        return false;
    packed.resize(packed_size);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<uint8_t> header;
    put32(header, static_cast<uint32_t>(shot.width));
    put32(header, static_cast<uint32_t>(shot.height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", packed);
    chunk(png, "IEND", {});

    FILE* f = std::fopen(path, "wb");
    if (!f) {
        std::fprintf(stderr, "xshot: cannot write %s\n", path);
        return false;
    }
    bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    return std::fclose(f) == 0 && ok;
}

bool write_ppm(const Shot& shot, const char* path) {
    FILE* f = std::fopen(path, "wb");
    if (!f) {
        std::fprintf(stderr, "xshot: cannot write %s\n", path);
        return false;
    }
    std::fprintf(f, "P6\n%d %d\n255\n", shot.width, shot.height);
    static_assert(sizeof(Rgb) == 3, "pixels are written as packed RGB");
    bool ok = std::fwrite(shot.pixels.data(), 3, shot.pixels.size(), f) == shot.pixels.size();
    return std::fclose(f) == 0 && ok;
}

bool print_cursor() {
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "xshot: cannot open display\n");
        return false;
    }
    int event_base, error_base;
    XFixesCursorImage* image =
        XFixesQueryExtension(dpy, &event_base, &error_base) ? XFixesGetCursorImage(dpy) : nullptr;
    if (image) {
        bool visible = false;
        for (int i = 0; i < int(image->width) * int(image->height); ++i)
            if ((image->pixels[i] >> 24) & 0xFF) visible = true;
        XFree(image);
        std::printf("%s\n", visible ? "visible" : "hidden");
    } else {
        std::fprintf(stderr, "xshot: cannot read the cursor\n");
    }
    XCloseDisplay(dpy);
    return image != nullptr;
}

void print_stats(const Shot& shot) {
    uint64_t count = 0, sr = 0, sg = 0, sb = 0, sx = 0, sy = 0;
    uint64_t hash = 1469598103934665603ull;
    for (int j = 0; j < shot.height; ++j)
        for (int i = 0; i < shot.width; ++i) {
            const Rgb& p = shot.pixels[static_cast<size_t>(j) * shot.width + i];
            hash = (hash ^ (p.r | p.g << 8 | p.b << 16)) * 1099511628211ull;
            if (p.r + p.g + p.b <= 24) continue;
            ++count;
            sr += p.r;
            sg += p.g;
            sb += p.b;
            sx += static_cast<uint64_t>(i);
            sy += static_cast<uint64_t>(j);
        }
    double n = count ? static_cast<double>(count) : 1.0;
    std::printf("nonblack=%llu total=%llu mean_r=%.0f mean_g=%.0f mean_b=%.0f cx=%.0f cy=%.0f "
                "hash=%016llx\n",
                static_cast<unsigned long long>(count),
                static_cast<unsigned long long>(shot.pixels.size()), sr / n, sg / n, sb / n, sx / n,
                sy / n, static_cast<unsigned long long>(hash));
}

// Stands in for a host's window (a preview pane, a saver window of a daemon).
int host_window(int x, int y, int w, int h) {
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "xshot: cannot open display\n");
        return 1;
    }
    Window win = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), x, y, unsigned(w), unsigned(h), 0,
                                     0, 0x404040);
    XMapWindow(dpy, win);
    XSync(dpy, False);
    std::printf("0x%lx\n", win);
    std::fflush(stdout);
    char line[128];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::sscanf(line, "size %d %d", &w, &h) == 2 && w > 0 && h > 0)
            XResizeWindow(dpy, win, unsigned(w), unsigned(h));
        XSync(dpy, False);
        std::printf("ok\n");
        std::fflush(stdout);
    }
    XDestroyWindow(dpy, win);
    XCloseDisplay(dpy);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 6 && std::strcmp(argv[1], "window") == 0)
        return host_window(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
                           std::atoi(argv[5]));
    if (argc >= 3 && std::strcmp(argv[1], "png") == 0) {
        Shot shot;
        return grab(shot, 0, 0, 0, 0) && write_png(shot, argv[2]) ? 0 : 1;
    }
    if (argc >= 3 && std::strcmp(argv[1], "ppm") == 0) {
        Shot shot;
        return grab(shot, 0, 0, 0, 0) && write_ppm(shot, argv[2]) ? 0 : 1;
    }
    if (argc >= 2 && std::strcmp(argv[1], "cursor") == 0) return print_cursor() ? 0 : 1;
    if (argc >= 2 && std::strcmp(argv[1], "stats") == 0) {
        int r[4] = {0, 0, 0, 0};
        if (argc >= 6)
            for (int i = 0; i < 4; ++i)
                r[i] = std::atoi(argv[2 + i]);
        Shot shot;
        if (!grab(shot, r[0], r[1], r[2], r[3])) return 1;
        print_stats(shot);
        return 0;
    }
    std::fprintf(stderr,
                 "usage: xshot png FILE | ppm FILE | stats [X Y W H] | cursor | window X Y W H\n");
    return 2;
}
