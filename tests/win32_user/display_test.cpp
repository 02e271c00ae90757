// Screen metrics, device contexts and the system palette.
#include "user_test_support.h"

#include <gtest/gtest.h>

namespace {

class DisplayTest : public ::testing::Test {
  protected:
    void TearDown() override { Win32TestSetDisplay(0, 0, 0); }
};

TEST_F(DisplayTest, TestDescriptionDrivesMetricsAndDepth) {
    Win32TestSetDisplay(800, 600, 8);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 600);
    EXPECT_EQ(GetSystemMetrics(SM_CXICON), 32);
    EXPECT_EQ(GetSystemMetrics(SM_CYICON), 32);
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 8);
    EXPECT_EQ(GetDeviceCaps(screen, HORZRES), 800);
    EXPECT_EQ(GetDeviceCaps(screen, VERTRES), 600);
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);

    Win32TestSetDisplay(1280, 720, 32);
    HWND hwnd = MakeTestWindow();
    ASSERT_NE(hwnd, nullptr);
    HDC dc = GetDC(hwnd);
    ASSERT_NE(dc, nullptr);
    EXPECT_NE(dc, screen);
    EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 32);
    ReleaseDC(hwnd, dc);
    ResetWindowLayer();
    EXPECT_EQ(GetDC(hwnd), nullptr) << "no DC for a destroyed window";
}

TEST_F(DisplayTest, WithoutADescriptionTheRealDisplayIsReported) {
    Win32TestSetDisplay(0, 0, 0);
    SDL_DisplayMode mode;
    ASSERT_NE(GetSystemMetrics(SM_CXSCREEN), 0); // brings SDL video up
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &mode), 0);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), mode.w);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), mode.h);
    EXPECT_EQ(GetDeviceCaps(GetDC(nullptr), BITSPIXEL), int(SDL_BITSPERPIXEL(mode.format)));
}

TEST_F(DisplayTest, SystemPaletteHasTheStaticColoursAtBothEnds) {
    PALETTEENTRY entries[256];
    HDC dc = GetDC(nullptr);
    ASSERT_EQ(GetSystemPaletteEntries(dc, 0, 256, entries), 256u);
    auto rgb = [&](int i) {
        return (entries[i].peRed << 16) | (entries[i].peGreen << 8) | entries[i].peBlue;
    };
    EXPECT_EQ(rgb(0), 0x000000);
    EXPECT_EQ(rgb(7), 0xC0C0C0);
    EXPECT_EQ(rgb(9), 0xA6CAF0);
    EXPECT_EQ(rgb(249), 0xFF0000);
    EXPECT_EQ(rgb(252), 0x0000FF);
    EXPECT_EQ(rgb(255), 0xFFFFFF);
    for (int i = 10; i < 246; ++i)
        ASSERT_EQ(rgb(i), 0) << "entry " << i;
    for (const PALETTEENTRY& e : entries)
        ASSERT_EQ(e.peFlags, 0);

    // A range past the end is cut short; a start past it gives nothing.
    EXPECT_EQ(GetSystemPaletteEntries(dc, 250, 20, entries), 6u);
    EXPECT_EQ(entries[5].peRed, 255);
    EXPECT_EQ(GetSystemPaletteEntries(dc, 256, 1, entries), 0u);
    EXPECT_EQ(GetSystemPaletteEntries(nullptr, 0, 1, entries), 0u);
}

} // namespace
