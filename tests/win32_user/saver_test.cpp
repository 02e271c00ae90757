// The saver's entry, window procedure and frame loop against recording stand-ins
// of the device layer, scene, motion step and render pass. Whole runs happen in
// a child process each (EXPECT_EXIT): the class table, the named mutex and the
// quit request are process-wide. The window it makes on a real display, the
// inputs that end a run, and signals are driven through X in e2e_saver.
#include "user_test_support.h"

#include "plumora.h"
#include "lumaxis/lumaxis.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace {

struct FakeDevice {
    std::string calls; // names of the calls, blank-separated, in order
    int ddResult = 1, rmResult = 1, sceneResult = 1;
    bool running = true;
    int frames = 0;                        // RenderFrame calls
    int framesWhileIdle = 0;               // RenderFrame calls while not running
    std::function<void(int frame)> onStep; // called by StepMotion with the frame number
} g_fake;

int Note(const char* name, int result) {
    if (!g_fake.calls.empty()) g_fake.calls += ' ';
    g_fake.calls += name;
    return result;
}

} // namespace

int LumaxisInitialize(void) {
    return Note("LumaxisInitialize", 1);
}
int CreateDirectDrawWin(HWND) {
    return Note("CreateDirectDrawWin", g_fake.ddResult);
}
int CreateDirect3DRM(void) {
    return Note("CreateDirect3DRM", g_fake.rmResult);
}
int LumaxisCleanup(void) {
    g_fake.running = false;
    return Note("LumaxisCleanup", 1);
}
int LMXIsRunning(void) {
    return g_fake.running ? 1 : 0;
}
int BuildScene(void) {
    return Note("BuildScene", g_fake.sceneResult);
}
int StepMotion(void) {
    if (g_fake.onStep) g_fake.onStep(g_fake.frames + 1);
    return 1;
}
int RenderFrame(void) {
    ++g_fake.frames;
    g_fake.framesWhileIdle += !g_fake.running;
    return 1;
}

namespace {

HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(uintptr_t(0x400000));

// Runs WinMain in this (child) process, prints what happened on standard error and
// ends with WinMain's result. On the third frame a key press ends the run, or (idle)
// the device layer is torn down and an ending signal comes 300 ms later.
[[noreturn]] void RunAndReport(const char* commandLine, bool idle) {
    const pthread_t self = pthread_self();
    g_fake.onStep = [self, idle](int n) {
        SDL_Event key{};
        key.key = {SDL_KEYDOWN, 0, 0, SDL_PRESSED, 0, 0, 0, {SDL_SCANCODE_A, SDLK_a, 0, 0}};
        if (n == 3 && !idle) SDL_PushEvent(&key);
        if (n != 3 || !idle) return;
        g_fake.running = false;
        std::thread([self] {
            usleep(300 * 1000);
            pthread_kill(self, SIGTERM);
        }).detach();
    };
    Win32TestSetDisplay(640, 480, 32);
    std::string text = commandLine;
    int rc = WinMain(kInstance, nullptr, text.data(), SW_SHOWDEFAULT);
    MSG msg;
    bool requeued = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_QUIT;
    std::fprintf(stderr, "[calls: %s] [window: %d] [requeued quit: %d] [idle passes: %d]\n",
                 g_fake.calls.c_str(), g_hSaverWnd != nullptr, requeued, g_fake.framesWhileIdle);
    std::fflush(stderr);
    std::_Exit(rc);
}

TEST(SaverEntry, OnlyASaverSwitchStartsTheRunAndStartFailuresEndIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char kFullRun[] = "\\[calls: LumaxisInitialize CreateDirectDrawWin CreateDirect3DRM "
                            "BuildScene LumaxisCleanup\\] \\[window: 1\\] \\[requeued quit: 1\\]";
    const char kNothingRan[] = "\\[calls: \\] \\[window: 0\\]";
    struct Run {
        const char* line;
        int code;
        const char* output;
        int FakeDevice::*failing;
        bool idle = false;
    };
    // (No switch, /p, /a and configure, and /s and -S ending on input: e2e_saver.)
    std::vector<Run> runs;
    for (const char* line : {"/S", "--s", "/x/s", "/p 1234 /s", "-s 123"})
        runs.push_back({line, 0, kFullRun, nullptr});
    // Without a saver switch, or with configure anywhere, nothing starts.
    for (const char* line : {"s", "/", "-", "/ s", "\\s", "/p/a", "/s /c", "/S-c"})
        runs.push_back({line, 1, kNothingRan, nullptr});
    // Device start failures: one debug line each, and 1.
    runs.push_back({"/s", 1, "^LMX:DDCreateError $", &FakeDevice::ddResult});
    runs.push_back({"/s", 1, "^LMX:CreateDirect3DRM Error!!!! $", &FakeDevice::rmResult});
    runs.push_back({"/s", 1, "BuildScene\\] \\[window: 1\\]", &FakeDevice::sceneResult});
    // The mend to the loop: with the device layer torn down it waits for messages
    // instead of turning as fast as it can while nothing is drawn.
    runs.push_back({"-s", 0, "\\[idle passes: (10|[0-9])\\]", nullptr, true});
    for (const Run& r : runs) {
        EXPECT_EXIT(
            {
                if (r.failing) g_fake.*r.failing = 0;
                RunAndReport(r.line, r.idle);
            },
            ::testing::ExitedWithCode(r.code), r.output)
            << r.line;
    }
}

TEST(SaverWindow, ProcedureEndsTheRunOnInputAndCloseAndSwallowsOnlyTheMenuCommand) {
    ResetWindowLayer();
    RegisterSaverClass(kInstance);
    using Message = std::pair<UINT, WPARAM>;
    // (Key presses, left and right clicks, mouse moves and WM_CLOSE reach it in e2e_saver.)
    const std::vector<Message> ending = {
        {WM_NCMOUSEMOVE, 0}, {WM_NCLBUTTONDOWN, 0}, {WM_NCRBUTTONDOWN, 0}, {WM_SYSCOMMAND, 0xF060}};
    // Near misses stay: other buttons and releases, other system commands.
    const std::vector<Message> staying = {
        {WM_SYSCOMMAND, 0xF100}, {WM_SYSCOMMAND, 0xF101}, {WM_MBUTTONDOWN, 0}, {WM_LBUTTONUP, 0},
        {WM_RBUTTONUP, 0},       {WM_KEYUP, 0},           {WM_SYSKEYUP, 0}};
    for (bool ends : {true, false})
        for (const auto& [message, wParam] : ends ? ending : staying) {
            SCOPED_TRACE(testing::Message() << std::hex << message << " " << wParam);
            HWND hwnd = CreateWindowExA(0, "Tessival", "Tessival", WS_POPUP | WS_VISIBLE, 0, 0, 32,
                                        32, nullptr, nullptr, kInstance, nullptr);
            ASSERT_NE(hwnd, nullptr);
            g_fake.calls.clear();
            const int cursor = ShowCursor(FALSE);
            EXPECT_EQ(SaverWndProc(hwnd, message, wParam, 0), 0);
            EXPECT_NE(IsWindow(hwnd), ends);
            EXPECT_EQ(g_fake.calls, ends ? "LumaxisCleanup" : "");
            // Ending tears the device layer down, shows the cursor once and asks
            // the loop to quit with 0.
            EXPECT_EQ(ShowCursor(TRUE), cursor + 1 + ends);
            std::vector<MSG> quits = TakeAll(WM_QUIT);
            ASSERT_EQ(quits.size(), size_t(ends));
            if (ends) {
                EXPECT_EQ(quits[0].wParam, 0u);
                ShowCursor(FALSE);
            }
            ResetWindowLayer();
        }
}

} // namespace
