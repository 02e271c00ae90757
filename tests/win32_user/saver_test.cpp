// The saver's entry, window procedure and frame loop against the recording
// fakes. Whole runs happen in a child process each (EXPECT_EXIT): the class
// table, the named mutex and the quit request are process-wide. The inputs that
// end a run, and signals, are driven through a real X server in e2e_saver.
#include "saver_fakes.h"
#include "user_test_support.h"

#include "plumora.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(uintptr_t(0x400000));

// Set once gtest is up: its flags don't exist yet during static initialisation.
class DeathTestStyle : public ::testing::Environment {
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};
::testing::Environment* const g_style = ::testing::AddGlobalTestEnvironment(new DeathTestStyle);

// Runs WinMain in this (child) process, prints what happened on standard error
// and ends with WinMain's result.
[[noreturn]] void RunAndReport(const char* commandLine) {
    Win32TestSetDisplay(640, 480, 32);
    std::string text = commandLine;
    int rc = WinMain(kInstance, nullptr, text.data(), SW_SHOWDEFAULT);
    MSG msg;
    bool requeued = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_QUIT;
    std::fprintf(stderr, "[calls: %s] [window: %d] [requeued quit: %d]\n", Fake().calls.c_str(),
                 g_hSaverWnd != nullptr, requeued);
    std::fflush(stderr);
    std::_Exit(rc);
}

// A key press on that frame ends the run.
void EndOnFrame(int frame) {
    Fake().onStep = [frame](int n) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.state = SDL_PRESSED;
        e.key.keysym.sym = SDLK_a;
        if (n == frame) SDL_PushEvent(&e);
    };
}

const char kFullRun[] = "\\[calls: LumaxisInitialize CreateDirectDrawWin CreateDirect3DRM "
                        "BuildScene LumaxisCleanup\\] \\[window: 1\\] \\[requeued quit: 1\\]";
const char kNothingRan[] = "\\[calls: \\] \\[window: 0\\]";

TEST(SaverEntry, OnlyASaverSwitchStartsTheRunAndStartFailuresEndIt) {
    struct Run {
        const char* line;
        int code;
        const char* output;
        int FakeDevice::*failing;
    };
    std::vector<Run> runs;
    for (const char* line : {"/s", "-S", "/S", "--s", "/x/s", "/p 1234 /s", "-s 123"})
        runs.push_back({line, 0, kFullRun, nullptr});
    // Without a saver switch, or with configure anywhere, nothing starts.
    for (const char* line : {"", "/p 1234", "/a", "s", "/", "-", "/ s", "\\s", "/p/a", "/c", "-C",
                             "/c /s", "/s /c", "/S-c"})
        runs.push_back({line, 1, kNothingRan, nullptr});
    // Device start failures: one debug line each, and 1.
    runs.push_back({"/s", 1, "^LMX:DDCreateError $", &FakeDevice::ddResult});
    runs.push_back({"/s", 1, "^LMX:CreateDirect3DRM Error!!!! $", &FakeDevice::rmResult});
    runs.push_back({"/s", 1, "BuildScene\\] \\[window: 1\\]", &FakeDevice::sceneResult});
    for (const Run& r : runs) {
        EXPECT_EXIT(
            {
                if (r.failing) Fake().*r.failing = 0;
                EndOnFrame(3);
                RunAndReport(r.line);
            },
            ::testing::ExitedWithCode(r.code), r.output)
            << r.line;
    }
}

// The mend to the loop: with the device layer torn down it waits for messages
// instead of turning as fast as it can while nothing is drawn.
TEST(SaverEntry, ALoopWithTheLayerTornDownWaitsForMessages) {
    EXPECT_EXIT(
        {
            pthread_t self = pthread_self();
            Fake().onStep = [self](int n) {
                if (n != 3) return;
                Fake().running = false;
                std::thread([self] {
                    usleep(300 * 1000);
                    pthread_kill(self, SIGTERM);
                }).detach();
            };
            Win32TestSetDisplay(640, 480, 32);
            char line[] = "/s";
            int rc = WinMain(kInstance, nullptr, line, SW_SHOWDEFAULT);
            std::fprintf(stderr, "idle passes=%d\n", Fake().framesWhileIdle);
            std::_Exit(rc == 0 && Fake().framesWhileIdle <= 10 ? 0 : 2);
        },
        ::testing::ExitedWithCode(0), "idle passes=");
}

class SaverWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetWindowLayer();
        ResetFake();
        RegisterSaverClass(kInstance); // once per process; later calls fail harmlessly
        Win32TestSetDisplay(320, 240, 32);
    }
    void TearDown() override {
        ResetWindowLayer();
        Win32TestSetDisplay(0, 0, 0);
    }
    HWND Make() {
        HWND hwnd = CreateWindowExA(0, "Tessival", "Tessival", WS_POPUP | WS_VISIBLE, 0, 0, 32, 32,
                                    nullptr, nullptr, kInstance, nullptr);
        EXPECT_NE(hwnd, nullptr);
        return hwnd;
    }
};

TEST_F(SaverWindow, ClassAndWindowAreAsTheSaverNeeds) {
    WNDCLASSA wc{};
    ASSERT_TRUE(GetClassInfoA(kInstance, "TESSIVAL", &wc));
    EXPECT_EQ(wc.style, 3u);
    EXPECT_EQ(wc.lpfnWndProc, &SaverWndProc);
    EXPECT_EQ(wc.cbClsExtra, 0);
    EXPECT_EQ(wc.cbWndExtra, 4);
    EXPECT_NE(wc.hIcon, nullptr);
    EXPECT_EQ(wc.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(wc.hbrBackground, GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(wc.lpszMenuName, nullptr);

    // The window covers the screen with the cursor hidden.
    ASSERT_TRUE(CreateSaverWindow(kInstance, SW_SHOWDEFAULT));
    HWND hwnd = g_hSaverWnd;
    ASSERT_TRUE(IsWindow(hwnd));
    RECT rc{};
    GetClientRect(hwnd, &rc);
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    EXPECT_EQ(std::vector<LONG>({origin.x, origin.y, rc.right, rc.bottom}),
              std::vector<LONG>({0, 0, 320, 240}));
    EXPECT_EQ(GetActiveWindow(), hwnd);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    EXPECT_TRUE(SDL_GetWindowFlags(Win32GetSdlWindow(hwnd)) & SDL_WINDOW_SHOWN);
    DestroyWindow(hwnd); // what that does is the procedure's test below
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

TEST_F(SaverWindow, ProcedureEndsTheRunOnInputAndCloseAndSwallowsOnlyTheMenuCommand) {
    using Message = std::pair<UINT, WPARAM>;
    const std::vector<Message> ending = {
        {WM_NCMOUSEMOVE, 0}, {WM_NCLBUTTONDOWN, 0}, {WM_NCRBUTTONDOWN, 0},
        {WM_KEYDOWN, 0},     {WM_SYSKEYDOWN, 0},    {WM_LBUTTONDOWN, 0},
        {WM_RBUTTONDOWN, 0}, {WM_CLOSE, 0},         {WM_SYSCOMMAND, 0xF060}};
    const std::vector<Message> staying = {
        {WM_SYSCOMMAND, 0xF100}, {WM_SYSCOMMAND, 0xF101}, {WM_MOUSEMOVE, 0},
        {WM_MBUTTONDOWN, 0},     {WM_LBUTTONUP, 0},       {WM_RBUTTONUP, 0},
        {WM_KEYUP, 0},           {WM_SYSKEYUP, 0},        {WM_CHAR, 0},
        {WM_PAINT, 0},           {WM_MOUSEWHEEL, 0},      {WM_SIZE, 0},
        {WM_ACTIVATE, 0}};
    for (bool ends : {true, false})
        for (const auto& [message, wParam] : ends ? ending : staying) {
            SCOPED_TRACE(testing::Message() << std::hex << message << " " << wParam);
            HWND hwnd = Make();
            Fake().calls.clear();
            const int cursor = ShowCursor(FALSE);
            EXPECT_EQ(SaverWndProc(hwnd, message, wParam, 0), 0);
            EXPECT_NE(IsWindow(hwnd), ends);
            EXPECT_EQ(Fake().calls, ends ? "LumaxisCleanup" : "");
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
