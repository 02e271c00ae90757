// Window classes, windows, the default procedure and the display they sit on.
#include "user_test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using WindowTest = WindowLayerTest;

TEST_F(WindowTest, ClassesMatchWhateverTheCaseAndWindowsLieWhereAsked) {
    g_failNextCreate = true;
    EXPECT_EQ(MakeTestWindow(), nullptr) << "WM_CREATE asked to fail";
    EXPECT_EQ(GetActiveWindow(), nullptr);
    WNDCLASSA wc{};
    ASSERT_TRUE(GetClassInfoA(nullptr, "TESTWINDOW", &wc));
    wc.lpszClassName = "testWINDOW";
    EXPECT_EQ(RegisterClassA(&wc), 0) << "a duplicate whatever its case";
    WNDCLASSA noProc{};
    noProc.lpszClassName = "NoProc";
    EXPECT_EQ(RegisterClassA(&noProc), 0);
    EXPECT_EQ(CreateWindowExA(0, "Unregistered", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);

    HWND hwnd = MakeTestWindow(WS_POPUP, 30, 20, 200, 100);
    ASSERT_NE(hwnd, nullptr);
    RECT rc{};
    POINT origin{0, 0};
    ASSERT_TRUE(GetClientRect(hwnd, &rc) && ClientToScreen(hwnd, &origin));
    SDL_Window* sdl = Win32GetSdlWindow(hwnd); // its size and place: the screen cover's test
    ASSERT_NE(sdl, nullptr);
    EXPECT_EQ(std::vector<LONG>({rc.left, rc.top, rc.right, rc.bottom, origin.x, origin.y}),
              std::vector<LONG>({0, 0, 200, 100, 30, 20}));
    EXPECT_TRUE(SDL_GetWindowFlags(sdl) & SDL_WINDOW_BORDERLESS);
    EXPECT_FALSE(ShowWindow(hwnd, SW_SHOWDEFAULT)) << "reports the previous visibility";
    EXPECT_TRUE(SDL_GetWindowFlags(sdl) & SDL_WINDOW_SHOWN);
    EXPECT_EQ(GetActiveWindow(), hwnd);
    EXPECT_TRUE(ShowWindow(hwnd, SW_HIDE));
    EXPECT_FALSE(SDL_GetWindowFlags(sdl) & SDL_WINDOW_SHOWN);
}

TEST_F(WindowTest, UpdatePaintsOnceAndOnlyACloseEndsAWindowWhichStillExistsForWmDestroy) {
    HWND hwnd = MakeTestWindow();
    ASSERT_NE(hwnd, nullptr);
    // The first update paints the background black and sends WM_PAINT; nothing is invalid after.
    SDL_Surface* surface = SDL_GetWindowSurface(Win32GetSdlWindow(hwnd));
    ASSERT_NE(surface, nullptr);
    for (Uint32 want : {0u, 0xFFFFFFu}) {
        SDL_FillRect(surface, nullptr, 0xFFFFFFFF);
        UpdateWindow(hwnd);
        EXPECT_EQ(static_cast<Uint32*>(surface->pixels)[0] & 0xFFFFFF, want);
    }
    // Releasing Alt asks for the keyboard menu, which closes nothing.
    SendMessageA(hwnd, WM_SYSKEYUP, 0x12, LPARAM(0xC0000001u));
    EXPECT_EQ(SendMessageA(hwnd, WM_SYSCOMMAND, SC_SCREENSAVE, 0), 0);
    EXPECT_TRUE(IsWindow(hwnd));
    SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    std::vector<WPARAM> sent; // messages, and system commands by their number
    for (const Sent& m : g_sent)
        sent.push_back(m.message == WM_SYSCOMMAND ? m.wParam : m.message);
    EXPECT_EQ(sent, std::vector<WPARAM>({WM_CREATE, WM_PAINT, WM_SYSKEYUP, SC_KEYMENU,
                                         SC_SCREENSAVE, SC_CLOSE, WM_CLOSE, WM_DESTROY}));
    EXPECT_TRUE(g_sent.back().windowAlive);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(Win32GetSdlWindow(hwnd), nullptr);
    EXPECT_EQ(GetActiveWindow(), nullptr);
    EXPECT_FALSE(DestroyWindow(hwnd)) << "a handle is never valid again";
    EXPECT_EQ(GetDC(hwnd), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(WindowTest, TheDisplayDescriptionDrivesMetricsAndTheCursorHidesBelowZero) {
    Win32TestSetDisplay(800, 600, 8);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(std::vector<int>({GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                GetSystemMetrics(SM_CXICON), GetDeviceCaps(screen, BITSPIXEL),
                                GetDeviceCaps(screen, HORZRES), GetDeviceCaps(screen, VERTRES)}),
              std::vector<int>({800, 600, 32, 8, 800, 600}));
    // A range of the system palette past its end is cut short.
    PALETTEENTRY entries[256];
    EXPECT_EQ(GetSystemPaletteEntries(screen, 0, 256, entries), 256u);
    EXPECT_EQ(GetSystemPaletteEntries(screen, 250, 20, entries), 6u);
    EXPECT_EQ(GetSystemPaletteEntries(nullptr, 0, 1, entries), 0u);
    EXPECT_EQ(GetSystemPaletteEntries(screen, 256, 1, entries), 0u);

    ASSERT_NE(MakeTestWindow(), nullptr); // SDL video is up
    const struct {
        BOOL show;
        int count, sdl;
    } steps[] = {{FALSE, -1, SDL_DISABLE}, {FALSE, -2, SDL_DISABLE}, {TRUE, -1, SDL_DISABLE},
                 {TRUE, 0, SDL_ENABLE},    {TRUE, 1, SDL_ENABLE},    {FALSE, 0, SDL_ENABLE}};
    for (const auto& step : steps) {
        EXPECT_EQ(ShowCursor(step.show), step.count);
        EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), step.sdl) << step.count;
    }
}

TEST_F(WindowTest, AScreenCoverBlanksEveryOtherMonitorAndTakesTheirInput) {
    // The primary to the right of a larger monitor, a third one further right.
    const RECT monitors[] = {{1920, 0, 3200, 720}, {0, 0, 1920, 1080}, {3200, 100, 4000, 700}};
    Win32TestSetDisplays(monitors, 3, 32);
    HWND small = MakeTestWindow(WS_POPUP | WS_VISIBLE, 10, 10, 64, 48);
    HWND saver = MakeTestWindow(WS_POPUP, 0, 0, 1280, 720);
    ASSERT_TRUE(small && saver);
    const Uint32 id = SdlId(saver);
    EXPECT_EQ(SdlId(small) + 1, id) << "only the screen cover gets covers";
    for (Uint32 i = id; i < id + 3; ++i)
        EXPECT_FALSE(SDL_GetWindowFlags(SDL_GetWindowFromID(i)) & SDL_WINDOW_SHOWN);
    ShowWindow(saver, SW_SHOW);
    std::vector<int> placed(12); // x, y, width, height of the saver and its covers
    for (int i = 0; i < 3; ++i) {
        SDL_Window* sdl = SDL_GetWindowFromID(id + Uint32(i));
        ASSERT_NE(sdl, nullptr);
        SDL_GetWindowPosition(sdl, &placed[4 * i], &placed[4 * i + 1]);
        SDL_GetWindowSize(sdl, &placed[4 * i + 2], &placed[4 * i + 3]);
        EXPECT_TRUE(SDL_GetWindowFlags(sdl) & SDL_WINDOW_SHOWN) << "shown with the saver";
    }
    EXPECT_EQ(placed,
              std::vector<int>({1920, 0, 1280, 720, 0, 0, 1920, 1080, 3200, 100, 800, 600}));

    // A key or a click on a cover is the saver window's, at the cover's place.
    TakeAll();
    SDL_Event input[2]{};
    input[0].button = {SDL_MOUSEBUTTONDOWN, 0, id + 2, 0, SDL_BUTTON_LEFT, SDL_PRESSED, 1, 0, 5, 6};
    input[1].key = {SDL_KEYDOWN, 0, id + 1, SDL_PRESSED, 0, 0, 0, {SDL_SCANCODE_A, SDLK_a, 0, 0}};
    ASSERT_EQ(SDL_PeepEvents(input, 2, SDL_ADDEVENT, 0, 0), 2);
    std::vector<MSG> got = TakeAll();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(std::vector<UINT>({got[0].message, got[1].message}),
              std::vector<UINT>({WM_LBUTTONDOWN, WM_KEYDOWN}));
    EXPECT_TRUE(got[0].hwnd == saver && got[1].hwnd == saver);
    EXPECT_EQ(got[0].lParam, LPARAM(106 << 16 | 1285)) << "client coordinates of the saver";

    DestroyWindow(saver);
    EXPECT_TRUE(!SDL_GetWindowFromID(id + 1) && !SDL_GetWindowFromID(id + 2)) << "covers gone";
}

} // namespace
