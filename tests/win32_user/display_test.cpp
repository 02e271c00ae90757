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
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(std::vector<int>({GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                GetDeviceCaps(screen, BITSPIXEL), GetDeviceCaps(screen, HORZRES),
                                GetDeviceCaps(screen, VERTRES)}),
              std::vector<int>({800, 600, 32, 32, 8, 800, 600}));
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
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE)) << "as every window call says";

    // Without a description the real display is reported.
    Win32TestSetDisplay(0, 0, 0);
    SDL_DisplayMode mode;
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &mode), 0);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), mode.w);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), mode.h);
    EXPECT_EQ(GetDeviceCaps(GetDC(nullptr), BITSPIXEL), int(SDL_BITSPERPIXEL(mode.format)));
}

TEST_F(DisplayTest, SystemPaletteHasTheStaticColoursAtBothEnds) {
    PALETTEENTRY entries[256];
    HDC dc = GetDC(nullptr);
    ASSERT_EQ(GetSystemPaletteEntries(dc, 0, 256, entries), 256u);
    std::vector<uint32_t> rgb; // red in the high byte, flags in the low one
    for (const PALETTEENTRY& e : entries)
        rgb.push_back(uint32_t(e.peRed << 24 | e.peGreen << 16 | e.peBlue << 8 | e.peFlags));
    EXPECT_EQ(rgb[0], 0u);
    EXPECT_EQ(rgb[7], 0xC0C0C000u);
    EXPECT_EQ(rgb[9], 0xA6CAF000u);
    EXPECT_EQ(rgb[249], 0xFF000000u);
    EXPECT_EQ(rgb[252], 0x0000FF00u);
    EXPECT_EQ(rgb[255], 0xFFFFFF00u);
    EXPECT_EQ(std::vector<uint32_t>(rgb.begin() + 10, rgb.begin() + 246),
              std::vector<uint32_t>(236, 0u));

    // A range past the end is cut short; a start past it gives nothing.
    EXPECT_EQ(GetSystemPaletteEntries(dc, 250, 20, entries), 6u);
    EXPECT_EQ(entries[5].peRed, 255);
    EXPECT_EQ(GetSystemPaletteEntries(dc, 256, 1, entries), 0u);
    EXPECT_EQ(GetSystemPaletteEntries(nullptr, 0, 1, entries), 0u);
}

} // namespace
