// The message queue: SDL input turned into Win32 messages, posting, quitting,
// and the ending signals.
#include "user_test_support.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <thread>

namespace {

class MessageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetWindowLayer();
        hwnd = MakeTestWindow(WS_POPUP | WS_VISIBLE, 0, 0, 320, 200);
        ASSERT_NE(hwnd, nullptr);
        TakeAll(); // creation's own events
        SentLog().clear();
    }
    void TearDown() override { ResetWindowLayer(); }

    // The one message with this number that the pushed event produced.
    MSG Only(UINT message) {
        std::vector<MSG> found = TakeAll(message);
        EXPECT_EQ(found.size(), 1u) << "message " << std::hex << message;
        return found.empty() ? MSG{} : found[0];
    }

    HWND hwnd = nullptr;
};

TEST_F(MessageTest, KeysButtonsAndMotionBecomeMessagesForTheWindow) {
    constexpr WPARAM kVkMenu = 0x12, kVkEscape = 0x1B, kVkF10 = 0x79;
    constexpr LPARAM kAltDown = 1 << 29;
    const LPARAM kReleased = LPARAM(1u << 31) | (1 << 30);
    const struct {
        Uint32 type;
        SDL_Keycode sym;
        Uint16 mod;
        UINT message;
        WPARAM vk;
        LPARAM flags; // context code and transition state
    } keys[] = {{SDL_KEYDOWN, SDLK_a, KMOD_NONE, WM_KEYDOWN, 'A', 0},
                {SDL_KEYDOWN, SDLK_ESCAPE, KMOD_NONE, WM_KEYDOWN, kVkEscape, 0},
                {SDL_KEYDOWN, SDLK_LALT, KMOD_LALT, WM_SYSKEYDOWN, kVkMenu, kAltDown},
                {SDL_KEYDOWN, SDLK_RALT, KMOD_NONE, WM_SYSKEYDOWN, kVkMenu, kAltDown},
                {SDL_KEYDOWN, SDLK_x, KMOD_RALT, WM_SYSKEYDOWN, 'X', kAltDown},
                {SDL_KEYDOWN, SDLK_F10, KMOD_NONE, WM_SYSKEYDOWN, kVkF10, 0},
                {SDL_KEYUP, SDLK_a, KMOD_NONE, WM_KEYUP, 'A', kReleased},
                {SDL_KEYUP, SDLK_LALT, KMOD_NONE, WM_SYSKEYUP, kVkMenu, kAltDown | kReleased}};
    for (const auto& k : keys) {
        SDL_Event e{};
        e.type = k.type;
        e.key.windowID = k.sym == SDLK_ESCAPE ? 0 : SdlId(hwnd); // none: the active window's
        e.key.state = k.type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.sym = k.sym;
        e.key.keysym.mod = k.mod;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
        MSG m = Only(k.message);
        EXPECT_EQ(m.hwnd, hwnd) << k.sym;
        EXPECT_EQ(m.wParam, k.vk) << k.sym;
        EXPECT_EQ(m.lParam & 0xFFFF, 1) << "repeat count";
        EXPECT_EQ(DWORD(m.lParam) & 0xE0000000u, DWORD(k.flags)) << k.sym;
    }

    const struct {
        Uint8 button;
        int x, y;
        UINT message;
    } buttons[] = {{SDL_BUTTON_LEFT, 10, 20, WM_LBUTTONDOWN},
                   {SDL_BUTTON_RIGHT, 300, 199, WM_RBUTTONDOWN},
                   {SDL_BUTTON_MIDDLE, 1, 2, WM_MBUTTONDOWN},
                   {0, 5, 7, WM_MOUSEMOVE}};
    for (const auto& b : buttons) {
        SDL_Event e{};
        if (b.button) {
            e.button = {SDL_MOUSEBUTTONDOWN, 0, SdlId(hwnd), 0,   b.button,
                        SDL_PRESSED,         1, 0,           b.x, b.y};
        } else {
            e.motion = {SDL_MOUSEMOTION, 0, SdlId(hwnd), 0, 0, b.x, b.y, 5, 0};
        }
        ASSERT_EQ(SDL_PushEvent(&e), 1);
        MSG m = Only(b.message);
        EXPECT_EQ(m.hwnd, hwnd);
        EXPECT_EQ(LOWORD(m.lParam), b.x);
        EXPECT_EQ(HIWORD(m.lParam), b.y);
        if (b.button == SDL_BUTTON_LEFT) {
            EXPECT_EQ(m.wParam & 1, 1u) << "MK_LBUTTON";
        }
    }
}

TEST_F(MessageTest, CloseRequestsAndQuitBecomeWmCloseAndExposureOnePaint) {
    for (Uint32 type : {Uint32(SDL_WINDOWEVENT), Uint32(SDL_QUIT)}) {
        SDL_Event e{};
        e.type = type;
        e.window.windowID = SdlId(hwnd);
        e.window.event = SDL_WINDOWEVENT_CLOSE;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
        EXPECT_EQ(Only(WM_CLOSE).hwnd, hwnd) << type;
    }
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = SdlId(hwnd);
    e.window.event = SDL_WINDOWEVENT_EXPOSED;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, UINT(WM_PAINT));
    EXPECT_EQ(TakeAll(WM_PAINT).size(), 1u);
}

TEST_F(MessageTest, PostedMessagesKeepOrderFiltersApplyAndQuitComesLast) {
    PostQuitMessage(7);
    ASSERT_TRUE(PostMessageA(hwnd, 0x400, 1, 2));
    ASSERT_TRUE(PostMessageA(nullptr, 0x401, 3, 4));
    EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(uintptr_t(0xDEAD0)), WM_CLOSE, 0, 0));

    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0x401, 0x401, PM_REMOVE));
    EXPECT_EQ(m.wParam, 3u);
    EXPECT_EQ(m.hwnd, nullptr);
    ASSERT_TRUE(PeekMessageA(&m, hwnd, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, UINT(0x400));
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), TRUE);
    EXPECT_EQ(m.lParam, 2);
    EXPECT_TRUE(TranslateMessage(&m) == FALSE);
    DispatchMessageA(&m);
    ASSERT_EQ(SentLog().size(), 1u);
    EXPECT_EQ(SentLog()[0].message, UINT(0x400));
    EXPECT_EQ(SentLog()[0].wParam, 1u);

    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, UINT(WM_QUIT));
    EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), FALSE);
    EXPECT_EQ(m.wParam, 7u);
    EXPECT_EQ(m.hwnd, nullptr);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageTest, EndingSignalsArriveAsWmCloseAndWakeABlockedWait) {
    for (int sig : {SIGINT, SIGHUP}) {
        raise(sig);
        std::vector<MSG> closes = TakeAll(WM_CLOSE);
        ASSERT_EQ(closes.size(), 1u) << "signal " << sig;
        EXPECT_EQ(closes[0].hwnd, hwnd);
    }
    pthread_t self = pthread_self();
    std::thread sender([self] {
        usleep(100 * 1000);
        pthread_kill(self, SIGTERM);
    });
    EXPECT_TRUE(WaitMessage());
    sender.join();
    // The default procedure then ends the window as any close does.
    MSG m;
    do
        ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), TRUE);
    while (m.message != WM_CLOSE);
    DispatchMessageA(&m);
    EXPECT_FALSE(IsWindow(hwnd));
}

} // namespace
