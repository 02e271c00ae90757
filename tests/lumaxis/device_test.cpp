// 3D bring-up: retained-mode object, palette, device choice, enumeration, viewport.
#include "lmx_support.h"

#include <dxtest.h>
#include <win32ext.h>

#include <regex>

namespace {

using Device = LayerTest;

// The emulation devices are the stand-in's; their names and GUIDs are its own.
const std::string kUpToDevice =
    "LMX:Lumaxis Initialize\\nLMX:CreateDirectDrawWin\\nLMX:Lumaxis Cleanup\\nLMX:CreateD3DRM\\n"
    "(LMX:DeviceName :[^\\n]+ [0-9a-f]+\\n)?LMX:DeviceGuid 0\\n";

TEST_F(Device, FullBringUpOnAPlacedWindowSaysWhatItMade) {
    display = {800, 600, 24};
    place = {40, 30, 360, 230};
    ASSERT_TRUE(BringUpViewport());
    std::regex expected(kUpToDevice + "LMX:Created Direct3DDevice with MMX\\(HEL\\)\\n"
                                      "LMX:LMXViewport\\nLMX:Viewport width:320 height:200\\n"
                                      "phase 3\\nphase 4\\n");
    EXPECT_TRUE(std::regex_match(debug.Text(), expected)) << debug.Text();

    LumaxisState& s = State();
    EXPECT_TRUE(s.lpDD && s.lpDDSPrimary && s.lpDDSBack && s.lpDDClipper && s.lpDDSZBuffer &&
                !s.lpD3DRM && s.lpD3DRM2 && s.lpD3D2 && s.lpD3DDevice2 && s.lpViewport &&
                !s.lpDDPalette);
    // The window's size, the display's depth; the rectangle is where it sits.
    EXPECT_TRUE(s.hWnd == Window() && s.width == 320 && s.height == 200 && s.bitsPerPixel == 24 &&
                s.colorModel == D3DCOLOR_MONO && !s.bRunning);
    EXPECT_TRUE(s.rcWindow.left == 40 && s.rcWindow.top == 30 && s.rcWindow.right == 360 &&
                s.rcWindow.bottom == 230);
    HWND clipped = nullptr;
    EXPECT_TRUE(s.lpDDClipper->GetHWnd(&clipped) == DD_OK && clipped == Window());
    // Drawn on the back surface, which has the window's size.
    EXPECT_TRUE(s.lpRMDevice2->GetWidth() == 320 && s.lpRMDevice2->GetHeight() == 200);
    EXPECT_EQ(s.lpRMDevice2->GetQuality(), (D3DRMRENDERQUALITY)D3DRMRENDER_GOURAUD);
    EXPECT_EQ(s.lpViewport->GetBack(), 5000.0f);

    // Made once: a second call only says so.
    debug.Clear();
    EXPECT_EQ(CreateD3DRM(), 1);
    EXPECT_EQ(debug.Text(), "LMX:CreateD3DRM\n");
}

TEST_F(Device, EightBitDesktopGetsASharedPaletteAndFlatQuality) {
    display.bits = 8;
    ASSERT_TRUE(BringUpDevice());
    EXPECT_NE(debug.Text().find("LMX:CreateD3DRM\nLMX:palettized \n"), std::string::npos);
    LumaxisState& s = State();
    ASSERT_NE(s.lpDDPalette, nullptr);
    // 20 read-only system entries at the ends, 236 reserved for the device.
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(s.palEntries[i].peFlags, i < 10 || i >= 246 ? 0x40 : 0x01) << "entry " << i;
    // Held by the layer and by both surfaces it was set on.
    EXPECT_EQ(s.lpDDPalette->AddRef(), 4u);
    s.lpDDPalette->Release();
    EXPECT_EQ(s.lpRMDevice2->GetQuality(), (D3DRMRENDERQUALITY)D3DRMRENDER_FLAT);

    // Without the palette the device is still made.
    LumaxisCleanup();
    DXTestFailCall("CreatePalette", 1, DDERR_GENERIC);
    ASSERT_TRUE(BringUpDevice());
    EXPECT_TRUE(!s.lpDDPalette && s.lpRMDevice2);
}

TEST_F(Device, RampDeviceWithoutMMXAndNoDeviceEndsTheProcess) {
    DXTestSetMMXAvailable(FALSE);
    ASSERT_TRUE(BringUpDevice());
    std::regex expected(kUpToDevice + "LMX:Created Direct3DDevice with RAMP\\(HEL\\)\\n");
    EXPECT_TRUE(std::regex_match(debug.Text(), expected)) << debug.Text();
    LumaxisCleanup();

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Win32TestSetDebugSink(nullptr, nullptr); // to standard error, for the matcher
            LumaxisInitialize();
            CreateDirectDrawWin(Window());
            DXTestFailCall("CreateDevice", 1, DDERR_GENERIC);
            DXTestFailCall("CreateDevice", 2, DDERR_GENERIC);
            CreateDirect3DRM();
        },
        ::testing::ExitedWithCode(1),
        "LMX:Created Direct3DDevice with RAMP\\(HEL\\)\nLMX:Failed to Create Direct3DDevice!\n"
        "LMX:Lumaxis Cleanup\n");
}

D3DDEVICEDESC DeviceDesc(D3DCOLORMODEL model, DWORD depths) {
    D3DDEVICEDESC desc = {};
    desc.dwSize = sizeof desc;
    desc.dwFlags = D3DDD_COLORMODEL | D3DDD_DEVICEZBUFFERBITDEPTH;
    desc.dcmColorModel = model;
    desc.dwDeviceZBufferBitDepth = depths;
    return desc;
}

TEST(EnumDeviceCallback, FirstEmulationDeviceOnlyThenLatchOnHardware) {
    DebugCapture debug;
    LumaxisInitialize();
    debug.Clear();
    DeviceSearch search = {};
    search.colorModel = D3DCOLOR_MONO;
    GUID shallow = {0x5, 0, 0, {}}, first = {0xabc, 0, 0, {}}, second = {0xdef, 0, 0, {}},
         hal = {0x42, 0, 0, {}};
    D3DDEVICEDESC none = DeviceDesc(0, 0), mono = DeviceDesc(D3DCOLOR_MONO, DDBD_16);
    D3DDEVICEDESC rgb = DeviceDesc(D3DCOLOR_RGB, DDBD_16);
    D3DDEVICEDESC mono8 = DeviceDesc(D3DCOLOR_MONO, DDBD_8);
    char desc[] = "d", s[] = "Shallow", a[] = "Emu A", b[] = "Emu B", c[] = "RGB only",
         h[] = "Card";
    // A hardware device without a usable depth is passed over whole, its
    // emulation description too; then an emulation device of another colour
    // model, the first and a second matching one, a hardware device, and a
    // second hardware device that finds the search latched.
    const struct {
        GUID* guid;
        char* name;
        D3DDEVICEDESC *hw, *sw;
    } calls[] = {{&shallow, s, &mono8, &mono}, {&first, c, &none, &rgb},
                 {&first, a, &none, &mono},    {&second, b, &none, &mono},
                 {&hal, h, &mono, &none},      {&second, h, &mono, &none}};
    for (const auto& call : calls)
        EXPECT_EQ(EnumDeviceCallback(call.guid, desc, call.name, call.hw, call.sw, &search),
                  D3DENUMRET_OK);
    EXPECT_EQ(search.emulationGuid, &first);
    EXPECT_EQ(search.hardwareGuid, &hal);
    EXPECT_EQ(search.hardwareDesc.dwDeviceZBufferBitDepth, (DWORD)DDBD_16);
    EXPECT_TRUE(LMXGetDeviceLatch());
    EXPECT_EQ(debug.Text(), "LMX:DeviceName :Emu A abc\nLMX:HAL DeviceName :Card 42\n");
}

} // namespace
