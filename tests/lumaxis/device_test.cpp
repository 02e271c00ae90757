// 3D bring-up: retained-mode object, palette, device choice, enumeration, viewport.
#include "lmx_support.h"

#include <dxtest.h>
#include <win32ext.h>

namespace {

using Device = LayerTest;

D3DDEVICEDESC DeviceDesc(D3DCOLORMODEL model, DWORD depths) {
    D3DDEVICEDESC desc = {};
    desc.dwSize = sizeof desc;
    desc.dcmColorModel = model;
    desc.dwDeviceZBufferBitDepth = depths;
    return desc;
}

TEST_F(Device, FullBringUpOnAPlacedWindowSaysWhatItMade) {
    display = {800, 600, 24};
    place = {40, 30, 360, 230};
    // Ahead of the stand-in's own: a hardware device without a usable depth, passed over whole
    // with its emulation description; an emulation device of another colour model; the first
    // and a second matching one; a hardware device, and a second one that finds the search
    // latched, as do the stand-in's devices after it.
    const D3DDEVICEDESC none = DeviceDesc(0, 0), mono = DeviceDesc(D3DCOLOR_MONO, DDBD_16);
    const struct {
        unsigned guid;
        const char* name;
        D3DDEVICEDESC hw, sw;
    } devices[] = {{0x5, "Shallow", DeviceDesc(D3DCOLOR_MONO, DDBD_8), mono},
                   {0xabc, "RGB only", none, DeviceDesc(D3DCOLOR_RGB, DDBD_16)},
                   {0xabc, "Emu A", none, mono},
                   {0xdef, "Emu B", none, mono},
                   {0x42, "Card", mono, none},
                   {0xdef, "Card 2", mono, none}};
    for (const auto& d : devices)
        DXTestAddDevice({d.guid, 0, 0, {}}, d.name, d.hw, d.sw);
    ASSERT_TRUE(BringUpViewport());
    EXPECT_EQ(debug.Text(),
              "LMX:Lumaxis Initialize\nLMX:CreateDirectDrawWin\nLMX:Lumaxis Cleanup\n"
              "LMX:CreateD3DRM\nLMX:DeviceName :Emu A abc\nLMX:HAL DeviceName :Card 42\n"
              "LMX:DeviceGuid 0\nLMX:Created Direct3DDevice with MMX(HEL)\nLMX:LMXViewport\n"
              "LMX:Viewport width:320 height:200\nphase 3\nphase 4\n");
    EXPECT_TRUE(LMXGetDeviceLatch());

    LumaxisState& s = State();
    // The window's size, the display's depth; the rectangle is where it sits. Only the second
    // retained-mode interface is kept, and a palette only on an 8-bit desktop.
    EXPECT_TRUE(s.hWnd == Window() && s.width == 320 && s.height == 200 && s.bitsPerPixel == 24 &&
                s.colorModel == D3DCOLOR_MONO && !s.bRunning && !s.lpD3DRM && !s.lpDDPalette);
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
    EXPECT_TRUE(debug.Text().ends_with("LMX:Created Direct3DDevice with RAMP(HEL)\n"));
    LumaxisCleanup();

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Win32TestSetDebugSink(nullptr, nullptr); // to standard error, for the matcher
            BringUpSurfaces();
            DXTestFailCall("CreateDevice", 2, DDERR_GENERIC); // the MMX one fails anyway
            CreateDirect3DRM();
        },
        ::testing::ExitedWithCode(1),
        "LMX:Created Direct3DDevice with RAMP\\(HEL\\)\nLMX:Failed to Create Direct3DDevice!\n"
        "LMX:Lumaxis Cleanup\n");
}

} // namespace
