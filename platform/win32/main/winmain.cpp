// Process entry: hands the command line to the program's WinMain the way the
// platform does, as one text after the program's name. A screensaver host on
// X gives a window to draw into instead: "--window-id ID", or the environment
// variable XSCREENSAVER_WINDOW with "--root" (or nothing) on the command line.
// Such a start runs the saver (/s) in that window.
#include <windows.h>
#include <win32ext.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool IsRoot(const char* arg) {
    return std::strcmp(arg, "--root") == 0 || std::strcmp(arg, "-root") == 0;
}

// The window a host gave, as its text; null when none was given.
const char* GivenWindow(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--window-id") == 0 || std::strcmp(a, "-window-id") == 0)
            return i + 1 < argc ? argv[i + 1] : "";
        if (std::strncmp(a, "--window-id=", 12) == 0) return a + 12;
    }
    // The host's variable alone does not make a hosted run: the saver's own
    // switches keep their meaning wherever it happens to be set.
    const char* variable = std::getenv("XSCREENSAVER_WINDOW");
    if (!variable || !*variable) return nullptr;
    for (int i = 1; i < argc; ++i)
        if (!IsRoot(argv[i])) return nullptr;
    return variable;
}

// "0x..." hex or decimal, as hosts write window ids; 0 when it is neither.
unsigned long ParseWindowId(const char* text) {
    if (!text || !*text || *text == '-' || *text == '+') return 0;
    errno = 0;
    char* end = nullptr;
    unsigned long id = std::strtoul(text, &end, 0);
    return errno == 0 && end && *end == '\0' ? id : 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string text;
    if (const char* given = GivenWindow(argc, argv)) {
        unsigned long window = ParseWindowId(given);
        if (!window) {
            std::fprintf(stderr, "plumora: not a window id: \"%s\"\n", given);
            return 1;
        }
        Win32HostWindow(window);
        text = "/s";
    } else {
        // The platform skips the blanks after the program's name; joining the
        // arguments with single blanks gives the same text for what a host passes.
        for (int i = 1; i < argc; ++i) {
            if (i > 1) text += ' ';
            text += argv[i];
        }
    }
    // The program image's handle: a token, never dereferenced.
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(uintptr_t(0x400000));
    return WinMain(instance, nullptr, text.data(), SW_SHOWDEFAULT);
}
