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

void PushKeyDown(SDL_Keycode sym) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.keysym.sym = sym;
    SDL_PushEvent(&e);
}

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

void EndOnFrame(int frame, SDL_Keycode key = SDLK_a) {
    Fake().onStep = [frame, key](int n) {
        if (n == frame) PushKeyDown(key);
    };
}

const char kFullRun[] = "\\[calls: LumaxisInitialize CreateDirectDrawWin CreateDirect3DRM "
                        "BuildScene LumaxisCleanup\\] \\[window: 1\\] \\[requeued quit: 1\\]";
const char kNothingRan[] = "\\[calls: \\] \\[window: 0\\]";

TEST(SaverEntry, ASaverSwitchRunsTheStartInOrderAndAKeyEndsWith0) {
    for (const char* line : {"/s", "-S", "/S", "--s", "/x/s", "/p 1234 /s", "-s 123"}) {
        EXPECT_EXIT(
            {
                EndOnFrame(3);
                RunAndReport(line);
            },
            ::testing::ExitedWithCode(0), kFullRun)
            << line;
    }
}

TEST(SaverEntry, WithoutASaverSwitchNothingStartsAndTheResultIs1) {
    for (const char* line : {"", "/p 1234", "/a", "s", "/", "-", "/ s", "\\s", "/p/a"}) {
        EXPECT_EXIT(RunAndReport(line), ::testing::ExitedWithCode(1), kNothingRan) << line;
    }
}

TEST(SaverEntry, ConfigureWinsOverTheSaverSwitch) {
    for (const char* line : {"/c", "-C", "/c /s", "/s /c", "/S-c"}) {
        EXPECT_EXIT(RunAndReport(line), ::testing::ExitedWithCode(1), kNothingRan) << line;
    }
}

TEST(SaverEntry, DeviceStartFailuresEndTheProcessWith1AndOneDebugLine) {
    EXPECT_EXIT(
        {
            Fake().ddResult = 0;
            RunAndReport("/s");
        },
        ::testing::ExitedWithCode(1), "^LMX:DDCreateError $");
    EXPECT_EXIT(
        {
            Fake().rmResult = 0;
            RunAndReport("/s");
        },
        ::testing::ExitedWithCode(1), "^LMX:CreateDirect3DRM Error!!!! $");
    EXPECT_EXIT(
        {
            Fake().sceneResult = 0;
            RunAndReport("/s");
        },
        ::testing::ExitedWithCode(1), "BuildScene\\] \\[window: 1\\]");
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

TEST_F(SaverWindow, ClassIsRegisteredAsTheSaverNeedsIt) {
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
}

TEST_F(SaverWindow, WindowCoversTheScreenWithTheCursorHidden) {
    ASSERT_TRUE(CreateSaverWindow(kInstance, SW_SHOWDEFAULT));
    HWND hwnd = g_hSaverWnd;
    ASSERT_TRUE(IsWindow(hwnd));
    RECT rc{};
    GetClientRect(hwnd, &rc);
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    EXPECT_EQ(origin.x, 0);
    EXPECT_EQ(origin.y, 0);
    EXPECT_EQ(rc.right, 320);
    EXPECT_EQ(rc.bottom, 240);
    EXPECT_EQ(GetActiveWindow(), hwnd);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    EXPECT_TRUE(SDL_GetWindowFlags(Win32GetSdlWindow(hwnd)) & SDL_WINDOW_SHOWN);

    // Its destruction shows the cursor again and asks the loop to quit with 0.
    DestroyWindow(hwnd);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    EXPECT_EQ(Fake().cleanups, 1);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_QUIT));
    EXPECT_EQ(msg.wParam, 0u);
}

TEST_F(SaverWindow, EndingMessagesDestroyTheWindow) {
    for (UINT message : {WM_NCMOUSEMOVE, WM_NCLBUTTONDOWN, WM_NCRBUTTONDOWN, WM_KEYDOWN,
                         WM_SYSKEYDOWN, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_CLOSE}) {
        HWND hwnd = Make();
        int cleanups = Fake().cleanups;
        EXPECT_EQ(SaverWndProc(hwnd, message, 0, 0), 0);
        EXPECT_FALSE(IsWindow(hwnd)) << std::hex << message;
        EXPECT_EQ(Fake().cleanups, cleanups + 1);
        std::vector<MSG> quits = TakeAll(WM_QUIT);
        ASSERT_EQ(quits.size(), 1u);
        EXPECT_EQ(quits[0].wParam, 0u);
    }
}

TEST_F(SaverWindow, OnlyTheExactKeyboardMenuCommandIsSwallowed) {
    HWND hwnd = Make();
    EXPECT_EQ(SaverWndProc(hwnd, WM_SYSCOMMAND, 0xF100, 0), 0);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(SaverWndProc(hwnd, WM_SYSCOMMAND, 0xF101, 0), 0);
    EXPECT_TRUE(IsWindow(hwnd));
    // A close command is not swallowed: the default procedure closes.
    EXPECT_EQ(SaverWndProc(hwnd, WM_SYSCOMMAND, 0xF060, 0), 0);
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(SaverWindow, OtherMessagesLeaveTheWindowAlone) {
    HWND hwnd = Make();
    for (UINT message : {WM_MOUSEMOVE, WM_MBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONUP, WM_KEYUP,
                         WM_SYSKEYUP, WM_CHAR, WM_PAINT, WM_MOUSEWHEEL, WM_SIZE, WM_ACTIVATE}) {
        SaverWndProc(hwnd, message, 0, 0);
        EXPECT_TRUE(IsWindow(hwnd)) << std::hex << message;
    }
    EXPECT_EQ(Fake().cleanups, 0);

    // A motion event from SDL (as at window map) dispatched like the loop does.
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = SdlId(hwnd);
    SDL_PushEvent(&e);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    EXPECT_TRUE(IsWindow(hwnd));
}

TEST_F(SaverWindow, DestroyTearsDownPostsQuitAndShowsTheCursor) {
    HWND hwnd = Make();
    int count = ShowCursor(FALSE);
    EXPECT_EQ(SaverWndProc(hwnd, WM_DESTROY, 0, 0), 0);
    EXPECT_EQ(Fake().calls, "LumaxisCleanup");
    EXPECT_EQ(ShowCursor(FALSE), count) << "one increment";
    ShowCursor(TRUE);
    std::vector<MSG> quits = TakeAll(WM_QUIT);
    ASSERT_EQ(quits.size(), 1u);
    EXPECT_EQ(quits[0].wParam, 0u);
}

} // namespace
