// The message queue: SDL input turned into Win32 messages, posting, quitting
// and waiting. Each ending signal is driven through the real program in e2e_saver.
#include "user_test_support.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <thread>

namespace {

class MessageTest : public WindowLayerTest {
  protected:
    void SetUp() override {
        WindowLayerTest::SetUp();
        hwnd = MakeTestWindow(WS_POPUP | WS_VISIBLE, 0, 0, 320, 200);
        ASSERT_NE(hwnd, nullptr);
        TakeAll(); // creation's own events
        g_sent.clear();
    }

    HWND hwnd = nullptr;
};

TEST_F(MessageTest, InputAndWindowEventsBecomeMessagesForTheWindow) {
    constexpr WPARAM kVkMenu = 0x12, kVkEscape = 0x1B, kVkF10 = 0x79;
    constexpr LPARAM kAltDown = 1 << 29, kUp = LPARAM(0xC0000000u);
    const Uint32 id = SdlId(hwnd);
    auto key = [](Uint32 type, SDL_Keycode sym, Uint16 mod, Uint32 window) {
        SDL_Event e{};
        Uint8 state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.key = {type, 0, window, state, 0, 0, 0, {SDL_SCANCODE_UNKNOWN, sym, mod, 0}};
        return e;
    };
    auto button = [id](Uint8 which, int x, int y) {
        SDL_Event e{};
        e.button = {SDL_MOUSEBUTTONDOWN, 0, id, 0, which, SDL_PRESSED, 1, 0, x, y};
        return e;
    };
    auto window = [id](Uint32 type, Uint8 event) {
        SDL_Event e{};
        e.window = {type, 0, id, event, 0, 0, 0, 0, 0};
        return e;
    };
    SDL_Event motion{};
    motion.motion = {SDL_MOUSEMOTION, 0, id, 0, 0, 5, 7, 5, 0};
    // For keys lParam holds the repeat count, the context code and the
    // transition state; for the mouse, the client position.
    const struct {
        SDL_Event event;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } cases[] = {
        // No window: the active window's. (Pressing a or Alt reaches the real
        // program in e2e_saver.)
        {key(SDL_KEYDOWN, SDLK_ESCAPE, KMOD_NONE, 0), WM_KEYDOWN, kVkEscape, 1},
        {key(SDL_KEYDOWN, SDLK_x, KMOD_RALT, id), WM_SYSKEYDOWN, 'X', kAltDown | 1},
        {key(SDL_KEYDOWN, SDLK_F10, KMOD_NONE, id), WM_SYSKEYDOWN, kVkF10, 1},
        {key(SDL_KEYUP, SDLK_a, KMOD_NONE, id), WM_KEYUP, 'A', kUp | 1},
        {key(SDL_KEYUP, SDLK_LALT, KMOD_NONE, id), WM_SYSKEYUP, kVkMenu, kUp | kAltDown | 1},
        {button(SDL_BUTTON_LEFT, 10, 20), WM_LBUTTONDOWN, 1, LPARAM(20 << 16 | 10)},
        {button(SDL_BUTTON_RIGHT, 300, 199), WM_RBUTTONDOWN, 2, LPARAM(199 << 16 | 300)},
        {button(SDL_BUTTON_MIDDLE, 1, 2), WM_MBUTTONDOWN, 0x10, LPARAM(2 << 16 | 1)},
        {motion, WM_MOUSEMOVE, 0, LPARAM(7 << 16 | 5)},
        {window(SDL_WINDOWEVENT, SDL_WINDOWEVENT_CLOSE), WM_CLOSE, 0, 0},
        {window(SDL_QUIT, 0), WM_CLOSE, 0, 0},
        {window(SDL_WINDOWEVENT, SDL_WINDOWEVENT_EXPOSED), WM_PAINT, 0, 0}};
    for (const auto& c : cases) {
        SDL_Event e = c.event;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
        std::vector<MSG> got = TakeAll(c.message);
        ASSERT_EQ(got.size(), 1u) << std::hex << c.message << " " << c.wParam;
        EXPECT_EQ(got[0].hwnd, hwnd) << std::hex << c.message << " " << c.wParam;
        EXPECT_EQ(got[0].wParam, c.wParam) << std::hex << c.message;
        EXPECT_EQ(got[0].lParam, c.lParam) << std::hex << c.message << " " << c.wParam;
    }
}

TEST_F(MessageTest, PostedMessagesKeepOrderFiltersApplyQuitComesLastAndSignalsWakeAWait) {
    PostQuitMessage(7);
    ASSERT_TRUE(PostMessageA(hwnd, 0x400, 1, 2));
    ASSERT_TRUE(PostMessageA(nullptr, 0x401, 3, 4));
    EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(uintptr_t(0xDEAD0)), WM_CLOSE, 0, 0));

    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0x401, 0x401, PM_REMOVE));
    EXPECT_TRUE(m.wParam == 3 && m.hwnd == nullptr) << "a thread message";
    ASSERT_TRUE(PeekMessageA(&m, hwnd, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, UINT(0x400));
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), TRUE);
    EXPECT_EQ(m.lParam, 2);
    DispatchMessageA(&m);
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_TRUE(g_sent[0].message == 0x400 && g_sent[0].wParam == 1);

    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, UINT(WM_QUIT));
    EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), FALSE);
    EXPECT_EQ(m.wParam, 7u);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));

    // The wait the saver's loop makes once the device layer is torn down: an ending signal
    // wakes it as WM_CLOSE. (The saver's idle run, in a child process, goes through it too.)
    std::thread sender([self = pthread_self()] {
        usleep(100 * 1000); // to arrive while the wait blocks (it is delivered either way)
        pthread_kill(self, SIGTERM);
    });
    EXPECT_TRUE(WaitMessage());
    sender.join();
    const std::vector<MSG> closes = TakeAll(WM_CLOSE);
    EXPECT_TRUE(closes.size() == 1 && closes[0].hwnd == hwnd);
}

} // namespace
