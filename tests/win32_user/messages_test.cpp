// The message queue: SDL input turned into Win32 messages, posting, quitting,
// and the ending signals.
#include "user_test_support.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <thread>

namespace {

constexpr WPARAM kVkMenu = 0x12, kVkEscape = 0x1B, kVkF10 = 0x79;

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

    void PushKey(Uint32 type, SDL_Keycode sym, SDL_Scancode code, Uint16 mod = KMOD_NONE) {
        SDL_Event e{};
        e.type = type;
        e.key.windowID = SdlId(hwnd);
        e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.sym = sym;
        e.key.keysym.scancode = code;
        e.key.keysym.mod = mod;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }
    void PushButton(Uint8 button, int x, int y) {
        SDL_Event e{};
        e.type = SDL_MOUSEBUTTONDOWN;
        e.button.windowID = SdlId(hwnd);
        e.button.state = SDL_PRESSED;
        e.button.button = button;
        e.button.x = x;
        e.button.y = y;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }
    // The one message with this number that the pushed event produced.
    MSG Only(UINT message) {
        std::vector<MSG> found = TakeAll(message);
        EXPECT_EQ(found.size(), 1u) << "message " << std::hex << message;
        return found.empty() ? MSG{} : found[0];
    }

    HWND hwnd = nullptr;
};

TEST_F(MessageTest, KeysBecomeKeyMessagesAndAltOrF10SystemKeys) {
    PushKey(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A);
    MSG m = Only(WM_KEYDOWN);
    EXPECT_EQ(m.hwnd, hwnd);
    EXPECT_EQ(m.wParam, WPARAM('A'));
    EXPECT_EQ(m.lParam & 0xFFFF, 1) << "repeat count";
    EXPECT_EQ(m.lParam & (1 << 29), 0);

    PushKey(SDL_KEYDOWN, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
    EXPECT_EQ(Only(WM_KEYDOWN).wParam, kVkEscape);

    PushKey(SDL_KEYDOWN, SDLK_LALT, SDL_SCANCODE_LALT, KMOD_LALT);
    m = Only(WM_SYSKEYDOWN);
    EXPECT_EQ(m.wParam, kVkMenu);
    EXPECT_NE(m.lParam & (1 << 29), 0) << "context code: Alt is down";

    PushKey(SDL_KEYDOWN, SDLK_RALT, SDL_SCANCODE_RALT);
    EXPECT_EQ(Only(WM_SYSKEYDOWN).wParam, kVkMenu);

    PushKey(SDL_KEYDOWN, SDLK_x, SDL_SCANCODE_X, KMOD_RALT);
    EXPECT_EQ(Only(WM_SYSKEYDOWN).wParam, WPARAM('X'));

    PushKey(SDL_KEYDOWN, SDLK_F10, SDL_SCANCODE_F10);
    EXPECT_EQ(Only(WM_SYSKEYDOWN).wParam, kVkF10);

    PushKey(SDL_KEYUP, SDLK_a, SDL_SCANCODE_A);
    m = Only(WM_KEYUP);
    EXPECT_NE(DWORD(m.lParam) & (1u << 31), 0u) << "transition state";
    PushKey(SDL_KEYUP, SDLK_LALT, SDL_SCANCODE_LALT);
    EXPECT_EQ(Only(WM_SYSKEYUP).wParam, kVkMenu);
}

TEST_F(MessageTest, MouseButtonsAndMotionCarryClientCoordinates) {
    PushButton(SDL_BUTTON_LEFT, 10, 20);
    MSG m = Only(WM_LBUTTONDOWN);
    EXPECT_EQ(m.hwnd, hwnd);
    EXPECT_EQ(LOWORD(m.lParam), 10);
    EXPECT_EQ(HIWORD(m.lParam), 20);
    EXPECT_EQ(m.wParam & 1, 1u) << "MK_LBUTTON";

    PushButton(SDL_BUTTON_RIGHT, 300, 199);
    m = Only(WM_RBUTTONDOWN);
    EXPECT_EQ(LOWORD(m.lParam), 300);
    EXPECT_EQ(HIWORD(m.lParam), 199);

    PushButton(SDL_BUTTON_MIDDLE, 1, 2);
    Only(WM_MBUTTONDOWN);

    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = SdlId(hwnd);
    e.motion.x = 5;
    e.motion.y = 7;
    e.motion.xrel = 5;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    m = Only(WM_MOUSEMOVE);
    EXPECT_EQ(m.hwnd, hwnd);
    EXPECT_EQ(LOWORD(m.lParam), 5);
    EXPECT_EQ(HIWORD(m.lParam), 7);
}

TEST_F(MessageTest, InputWithoutAWindowGoesToTheActiveWindow) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.keysym.sym = SDLK_SPACE;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    EXPECT_EQ(Only(WM_KEYDOWN).hwnd, hwnd);
}

TEST_F(MessageTest, CloseRequestsAndQuitBecomeWmClose) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = SdlId(hwnd);
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    EXPECT_EQ(Only(WM_CLOSE).hwnd, hwnd);

    SDL_Event quit{};
    quit.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&quit), 1);
    EXPECT_EQ(Only(WM_CLOSE).hwnd, hwnd);
}

TEST_F(MessageTest, ExposureAsksForOnePaint) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = SdlId(hwnd);
    e.window.event = SDL_WINDOWEVENT_EXPOSED;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, UINT(WM_PAINT));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, UINT(WM_PAINT));
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageTest, PostedMessagesKeepOrderAndFiltersApply) {
    ASSERT_TRUE(PostMessageA(hwnd, WM_NULL + 0x400, 1, 2));
    ASSERT_TRUE(PostMessageA(nullptr, WM_NULL + 0x401, 3, 4));
    EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(uintptr_t(0xDEAD0)), WM_CLOSE, 0, 0));

    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0x401, 0x401, PM_REMOVE));
    EXPECT_EQ(m.wParam, 3u);
    EXPECT_EQ(m.hwnd, nullptr);
    ASSERT_TRUE(PeekMessageA(&m, hwnd, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, UINT(0x400));
    ASSERT_TRUE(PeekMessageA(&m, hwnd, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.lParam, 2);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageTest, QuitComesAfterWaitingMessagesWithItsCode) {
    PostQuitMessage(7);
    ASSERT_TRUE(PostMessageA(hwnd, 0x400, 0, 0));
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, UINT(0x400));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, UINT(WM_QUIT));
    EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), FALSE);
    EXPECT_EQ(m.wParam, 7u);
    EXPECT_EQ(m.hwnd, nullptr);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageTest, DispatchCallsTheWindowProcedure) {
    ASSERT_TRUE(PostMessageA(hwnd, 0x400, 5, 6));
    MSG m;
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), TRUE);
    EXPECT_TRUE(TranslateMessage(&m) == FALSE);
    DispatchMessageA(&m);
    ASSERT_EQ(SentLog().size(), 1u);
    EXPECT_EQ(SentLog()[0].message, UINT(0x400));
    EXPECT_EQ(SentLog()[0].wParam, 5u);
}

TEST_F(MessageTest, EndingSignalsArriveAsWmClose) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        raise(sig);
        std::vector<MSG> closes = TakeAll(WM_CLOSE);
        ASSERT_EQ(closes.size(), 1u) << "signal " << sig;
        EXPECT_EQ(closes[0].hwnd, hwnd);
    }
    // The default procedure then ends the window as any close does.
    raise(SIGTERM);
    MSG m;
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), TRUE);
    ASSERT_EQ(m.message, UINT(WM_CLOSE));
    DispatchMessageA(&m);
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(MessageTest, ASignalWakesABlockedWait) {
    pthread_t self = pthread_self();
    std::thread sender([self] {
        usleep(100 * 1000);
        pthread_kill(self, SIGTERM);
    });
    EXPECT_TRUE(WaitMessage());
    sender.join();
    // Whatever woke the wait, the signal is on the queue now.
    bool closed = false;
    for (int i = 0; i < 10 && !closed; ++i) {
        for (const MSG& m : TakeAll())
            closed = closed || m.message == WM_CLOSE;
        if (!closed) WaitMessage();
    }
    EXPECT_TRUE(closed);
}

} // namespace
