// Runs the saver on the X display named by DISPLAY and measures what the user sees
// and pays: when the first non-black pixels reach the screen (and the saver's CPU
// time until then), and its CPU use (utime + stime from /proc) over a window of the
// run, after a settling time. The root window must be
// black before the start (Xvfb -br).
//
//   saver_probe --program PATH [--seconds S] [--settle S] [--server-pid PID]
#include "bench_util.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cmath>
#include <cstdint>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The central third of the screen: where the model starts.
struct Probe {
    Display* display = nullptr;
    Window root = 0;
    int x = 0, y = 0, w = 0, h = 0;

    bool open() {
        display = XOpenDisplay(nullptr);
        if (!display) return false;
        root = DefaultRootWindow(display);
        XWindowAttributes a;
        if (!XGetWindowAttributes(display, root, &a)) return false;
        w = a.width / 3;
        h = a.height / 3;
        x = (a.width - w) / 2;
        y = (a.height - h) / 2;
        return true;
    }

    long lit() {
        XImage* img = XGetImage(display, root, x, y, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
        if (!img) return -1;
        long n = 0;
        if (img->bits_per_pixel == 32) {
            // Direct read: XGetPixel per pixel would slow the polling down.
            const uint32_t mask = uint32_t(img->red_mask | img->green_mask | img->blue_mask);
            for (int j = 0; j < h; ++j) {
                const auto* row = reinterpret_cast<const uint32_t*>(
                    img->data + ptrdiff_t(j) * img->bytes_per_line);
                for (int i = 0; i < w; ++i)
                    n += (row[i] & mask) != 0;
            }
        } else {
            for (int j = 0; j < h; ++j)
                for (int i = 0; i < w; ++i)
                    n += (XGetPixel(img, i, j) & 0xFFFFFF) != 0;
        }
        XDestroyImage(img);
        return n;
    }
};

// utime + stime of a process, in milliseconds; -1 when it can't be read.
double cpu_of(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE* f = std::fopen(path, "r");
    if (!f) return -1;
    char buf[2048];
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = 0;
    // Fields after the command name, which may hold spaces, start after the last ')'.
    const char* p = std::strrchr(buf, ')');
    if (!p) return -1;
    unsigned long utime = 0, stime = 0;
    // state ppid pgrp session tty_nr tpgid flags minflt cminflt majflt cmajflt utime stime
    if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) !=
        2)
        return -1;
    return double(utime + stime) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

void sleep_until(double wall_target_ms) {
    for (;;) {
        const double left = wall_target_ms - bench::wall_ms();
        if (left <= 0) return;
        const timespec ts{time_t(left / 1000), long(std::fmod(left, 1000.0) * 1e6)};
        nanosleep(&ts, nullptr);
    }
}

} // namespace

int main(int argc, char** argv) {
    const bench::Args args(
        argc, argv, "saver_probe --program PATH [--seconds S] [--settle S] [--server-pid PID]");
    const char* program = args.get("program", nullptr);
    if (!program) args.fail("--program missing");
    const long seconds = args.number("seconds", 10, 1, 3600);
    const long settle = args.number("settle", 1, 0, 60);
    const pid_t server = pid_t(args.number("server-pid", 0, 0, 1 << 30));

    Probe probe;
    if (!probe.open()) {
        std::fprintf(stderr, "saver_probe: cannot open the display\n");
        return 1;
    }
    if (probe.lit() != 0) {
        std::fprintf(stderr, "saver_probe: the screen is not black before the start\n");
        return 1;
    }

    char* child_argv[] = {const_cast<char*>(program), const_cast<char*>("/s"), nullptr};
    pid_t pid = 0;
    const double start = bench::wall_ms();
    if (posix_spawn(&pid, program, nullptr, nullptr, child_argv, environ) != 0) {
        std::fprintf(stderr, "saver_probe: cannot start '%s'\n", program);
        return 1;
    }

    // Poll until the model shows, for at most five seconds.
    double first_frame = -1, first_frame_cpu = -1;
    long polls = 0;
    while (bench::wall_ms() - start < 5000) {
        ++polls;
        const long n = probe.lit();
        if (n > 0) {
            first_frame = bench::wall_ms() - start;
            first_frame_cpu = cpu_of(pid);
            break;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "saver_probe: the saver ended before showing anything\n");
            return 1;
        }
        const timespec ts{0, 1000000};
        nanosleep(&ts, nullptr);
    }
    XCloseDisplay(probe.display);

    sleep_until(start + double(settle) * 1000);
    const double c0 = cpu_of(pid), s0 = server ? cpu_of(server) : 0, w0 = bench::wall_ms();
    sleep_until(w0 + double(seconds) * 1000);
    const double c1 = cpu_of(pid), s1 = server ? cpu_of(server) : 0, w1 = bench::wall_ms();

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    const int exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

    const double span = w1 - w0;
    std::printf("first_frame_ms=%.1f first_frame_cpu_ms=%.0f polls=%ld cpu_pct=%.2f "
                "server_cpu_pct=%.2f window_s=%.1f exit=%d\n",
                first_frame, first_frame_cpu, polls,
                c0 < 0 || c1 < 0 ? -1.0 : 100.0 * (c1 - c0) / span,
                server ? 100.0 * (s1 - s0) / span : -1.0, span / 1000, exit_code);
    return first_frame < 0 || c0 < 0 || c1 < 0;
}
