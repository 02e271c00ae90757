#include "win32ext.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {
std::mutex g_sinkLock;
Win32DebugSink g_sink = nullptr;
void* g_sinkContext = nullptr;
} // namespace

void Win32TestSetDebugSink(Win32DebugSink sink, void* context) {
    std::lock_guard<std::mutex> hold(g_sinkLock);
    g_sink = sink;
    g_sinkContext = context;
}

void OutputDebugStringA(LPCSTR text) {
    if (!text) return;
    {
        std::lock_guard<std::mutex> hold(g_sinkLock);
        if (g_sink) {
            g_sink(text, g_sinkContext);
            return;
        }
    }
    // One write for the whole text keeps each line in one piece when several
    // processes share the terminal.
    size_t len = strlen(text);
    if (len == 0) return;
    ssize_t r;
    do {
        r = write(STDERR_FILENO, text, len);
    } while (r < 0 && errno == EINTR);
}
