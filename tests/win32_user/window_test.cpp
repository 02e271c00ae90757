// Window classes, windows and the default procedure.
#include "user_test_support.h"

#include <gtest/gtest.h>

namespace {

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetWindowLayer(); }
    void TearDown() override { ResetWindowLayer(); }
};

LRESULT CALLBACK PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

TEST_F(WindowTest, ClassTableRecordsTheClassAndRefusesDuplicatesWhateverTheCase) {
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = PlainProc;
    wc.cbWndExtra = 4;
    wc.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(1));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = "CaseClass";
    ASSERT_NE(RegisterClassA(&wc), 0);

    wc.lpszClassName = "CASECLASS";
    EXPECT_EQ(RegisterClassA(&wc), 0) << "class names match case-insensitively";

    WNDCLASSA got{};
    ASSERT_TRUE(GetClassInfoA(nullptr, "caseclass", &got));
    EXPECT_EQ(got.style, UINT(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(got.lpfnWndProc, &PlainProc);
    EXPECT_EQ(got.cbWndExtra, 4);
    EXPECT_NE(got.hIcon, nullptr);
    EXPECT_EQ(got.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(got.hbrBackground, GetStockObject(BLACK_BRUSH));
    EXPECT_STREQ(got.lpszClassName, "CaseClass");

    WNDCLASSA noProc{};
    noProc.lpszClassName = "NoProc";
    EXPECT_EQ(RegisterClassA(&noProc), 0);
    EXPECT_EQ(CreateWindowExA(0, "Unregistered", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);
}

TEST_F(WindowTest, CreationSendsWmCreateAndKeepsTheRequestedGeometry) {
    HWND hwnd = MakeTestWindow(WS_POPUP, 30, 20, 200, 100);
    ASSERT_NE(hwnd, nullptr);
    ASSERT_FALSE(SentLog().empty());
    EXPECT_EQ(SentLog().front().message, UINT(WM_CREATE));
    EXPECT_EQ(SentLog().front().hwnd, hwnd);

    RECT rc{};
    ASSERT_TRUE(GetClientRect(hwnd, &rc));
    EXPECT_EQ(rc.left, 0);
    EXPECT_EQ(rc.top, 0);
    EXPECT_EQ(rc.right, 200);
    EXPECT_EQ(rc.bottom, 100);
    POINT origin{0, 0};
    ASSERT_TRUE(ClientToScreen(hwnd, &origin));
    EXPECT_EQ(origin.x, 30);
    EXPECT_EQ(origin.y, 20);

    SDL_Window* sdl = Win32GetSdlWindow(hwnd);
    ASSERT_NE(sdl, nullptr);
    int w = 0, h = 0;
    SDL_GetWindowSize(sdl, &w, &h);
    EXPECT_EQ(w, 200);
    EXPECT_EQ(h, 100);
    Uint32 flags = SDL_GetWindowFlags(sdl);
    EXPECT_TRUE(flags & SDL_WINDOW_BORDERLESS);
    EXPECT_FALSE(flags & SDL_WINDOW_ALLOW_HIGHDPI);
    EXPECT_EQ(Win32GetSdlWindow(nullptr), nullptr);
}

TEST_F(WindowTest, CreateFailsWhenWmCreateAsksTo) {
    FailNextCreate();
    EXPECT_EQ(MakeTestWindow(), nullptr);
    EXPECT_EQ(GetActiveWindow(), nullptr);
}

TEST_F(WindowTest, DestroySendsWmDestroyWhileTheWindowStillExists) {
    HWND hwnd = MakeTestWindow();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(GetActiveWindow(), hwnd);
    SentLog().clear();

    ASSERT_TRUE(DestroyWindow(hwnd));
    ASSERT_EQ(SentLog().size(), 1u) << "sent synchronously, before DestroyWindow returns";
    EXPECT_EQ(SentLog()[0].message, UINT(WM_DESTROY));
    EXPECT_TRUE(SentLog()[0].windowAlive);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(Win32GetSdlWindow(hwnd), nullptr);
    EXPECT_EQ(GetActiveWindow(), nullptr);
    EXPECT_FALSE(DestroyWindow(hwnd)) << "a handle is never valid again";
    EXPECT_EQ(SendMessageA(hwnd, WM_CLOSE, 0, 0), 0);
}

TEST_F(WindowTest, DefaultProcedureClosesOnWmCloseAndOnTheCloseCommandOnly) {
    HWND a = MakeTestWindow();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(SendMessageA(a, WM_SYSCOMMAND, SC_KEYMENU, 0), 0);
    EXPECT_EQ(SendMessageA(a, WM_SYSCOMMAND, SC_SCREENSAVE, 0), 0);
    EXPECT_TRUE(IsWindow(a));
    SendMessageA(a, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindow(a));

    HWND b = MakeTestWindow();
    ASSERT_NE(b, nullptr);
    SentLog().clear();
    SendMessageA(b, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(b));
    ASSERT_EQ(SentLog().size(), 2u);
    EXPECT_EQ(SentLog()[1].message, UINT(WM_DESTROY));
}

TEST_F(WindowTest, ReleasingAltAsksForTheKeyboardMenu) {
    HWND hwnd = MakeTestWindow();
    ASSERT_NE(hwnd, nullptr);
    SentLog().clear();
    SendMessageA(hwnd, WM_SYSKEYUP, 0x12, LPARAM(0xC0000001u));
    ASSERT_EQ(SentLog().size(), 2u);
    EXPECT_EQ(SentLog()[1].message, UINT(WM_SYSCOMMAND));
    EXPECT_EQ(SentLog()[1].wParam, WPARAM(SC_KEYMENU));
    EXPECT_TRUE(IsWindow(hwnd));
}

TEST_F(WindowTest, UpdatePaintsTheBackgroundBlackOnceAndSendsWmPaint) {
    HWND hwnd = MakeTestWindow(WS_POPUP | WS_VISIBLE, 0, 0, 16, 16);
    ASSERT_NE(hwnd, nullptr);
    SDL_Surface* surface = SDL_GetWindowSurface(Win32GetSdlWindow(hwnd));
    ASSERT_NE(surface, nullptr);
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 255, 255, 255));
    SentLog().clear();

    ASSERT_TRUE(UpdateWindow(hwnd));
    Uint32 pixel = static_cast<Uint32*>(surface->pixels)[0];
    Uint8 r, g, b;
    SDL_GetRGB(pixel, surface->format, &r, &g, &b);
    EXPECT_EQ(r + g + b, 0);
    ASSERT_EQ(SentLog().size(), 1u);
    EXPECT_EQ(SentLog()[0].message, UINT(WM_PAINT));

    // Painted once: nothing is invalid any more.
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 255, 255, 255));
    UpdateWindow(hwnd);
    SDL_GetRGB(static_cast<Uint32*>(surface->pixels)[0], surface->format, &r, &g, &b);
    EXPECT_EQ(r, 255);
}

TEST_F(WindowTest, ShowWindowReportsThePreviousVisibility) {
    HWND hwnd = MakeTestWindow(WS_POPUP);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_FALSE(ShowWindow(hwnd, SW_SHOWDEFAULT));
    EXPECT_TRUE(SDL_GetWindowFlags(Win32GetSdlWindow(hwnd)) & SDL_WINDOW_SHOWN);
    EXPECT_EQ(GetActiveWindow(), hwnd);
    EXPECT_TRUE(ShowWindow(hwnd, SW_HIDE));
    EXPECT_FALSE(ShowWindow(hwnd, SW_SHOW));
}

TEST_F(WindowTest, CursorDisplayCountHidesBelowZero) {
    ASSERT_NE(MakeTestWindow(), nullptr); // SDL video is up
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    EXPECT_EQ(ShowCursor(FALSE), -2);
    EXPECT_EQ(ShowCursor(TRUE), -1);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    EXPECT_EQ(ShowCursor(TRUE), 0);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    EXPECT_EQ(ShowCursor(TRUE), 1);
    EXPECT_EQ(ShowCursor(FALSE), 0);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

} // namespace
