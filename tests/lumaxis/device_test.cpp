// 3D bring-up: retained-mode object, palette, device choice, enumeration, viewport.
#include "lmx_support.h"

#include <dxtest.h>
#include <win32ext.h>

#include <regex>

namespace {

using Device = LayerTest;

const char kSurfaceLines[] =
    "LMX:Lumaxis Initialize\nLMX:CreateDirectDrawWin\nLMX:Lumaxis Cleanup\n";

// The emulation devices are the stand-in's; their names and GUIDs are its own.
const char kEnumeratedDevice[] = "LMX:DeviceName :[^\\n]+ [0-9a-f]+\\n";

TEST_F(Device, FullBringUpSaysWhatItMade) {
    ASSERT_TRUE(BringUpViewport());
    std::regex expected(std::string(kSurfaceLines) + "LMX:CreateD3DRM\\n(" + kEnumeratedDevice +
                        ")?LMX:DeviceGuid 0\\n"
                        "LMX:Created Direct3DDevice with MMX\\(HEL\\)\\n"
                        "LMX:LMXViewport\\nLMX:Viewport width:640 height:480\\n"
                        "phase 3\\nphase 4\\n");
    EXPECT_TRUE(std::regex_match(debug.Text(), expected)) << debug.Text();

    LumaxisState& s = State();
    EXPECT_TRUE(!s.lpD3DRM && s.lpD3DRM2 && s.lpD3D2 && s.lpD3DDevice2 && s.lpViewport);
    EXPECT_EQ(s.lpDDPalette, nullptr);
    EXPECT_EQ(s.lpRMDevice2->GetQuality(), (D3DRMRENDERQUALITY)D3DRMRENDER_GOURAUD);
    EXPECT_TRUE(s.lpRMDevice2->GetWidth() == 640 && s.lpRMDevice2->GetHeight() == 480);
    EXPECT_EQ(s.lpViewport->GetBack(), 5000.0f);

    // The z-buffer: the back surface's size, 16 bits, system memory.
    ASSERT_NE(s.lpDDSZBuffer, nullptr);
    DDSURFACEDESC desc = {};
    desc.dwSize = sizeof desc;
    ASSERT_EQ(s.lpDDSZBuffer->GetSurfaceDesc(&desc), DD_OK);
    EXPECT_TRUE(desc.dwWidth == 640 && desc.dwHeight == 480 && desc.dwZBufferBitDepth == 16);
    EXPECT_EQ(desc.ddsCaps.dwCaps & (DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY),
              (DWORD)(DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY));

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
    EXPECT_EQ(s.bitsPerPixel, 8);
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
    EXPECT_EQ(s.lpDDPalette, nullptr);
    EXPECT_NE(s.lpRMDevice2, nullptr);
}

TEST_F(Device, RampDeviceWhenMMXIsMissing) {
    DXTestSetMMXAvailable(FALSE);
    ASSERT_TRUE(BringUpDevice());
    std::regex expected(std::string(kSurfaceLines) + "LMX:CreateD3DRM\\n(" + kEnumeratedDevice +
                        ")?LMX:DeviceGuid 0\\nLMX:Created Direct3DDevice with RAMP\\(HEL\\)\\n");
    EXPECT_TRUE(std::regex_match(debug.Text(), expected)) << debug.Text();
    EXPECT_NE(State().lpD3DDevice2, nullptr);
}

TEST_F(Device, NoSoftwareDeviceEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Win32TestSetDebugSink(nullptr, nullptr); // to standard error, for the matcher
            DXTestSetMMXAvailable(FALSE);
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

const GUID kHardware = {0x1a2b3c4d, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST_F(Device, HardwareDeviceIsLatchedOnlyWithAUsableDepth) {
    // The shallow device's emulation description would match, but it is skipped whole.
    D3DDEVICEDESC none = DeviceDesc(0, 0), mono = DeviceDesc(D3DCOLOR_MONO, DDBD_16);
    DXTestAddDevice(kHardware, "Shallow Accelerator", DeviceDesc(D3DCOLOR_MONO, DDBD_8), mono);
    ASSERT_TRUE(BringUpDevice());
    EXPECT_EQ(debug.Text().find("Shallow Accelerator"), std::string::npos);
    EXPECT_FALSE(LMXGetDeviceLatch());

    LumaxisCleanup();
    DXTestClearDevices();
    DXTestAddDevice(kHardware, "Test Accelerator", mono, none);
    debug.Clear();
    ASSERT_TRUE(BringUpDevice());
    // The enumeration only reports: the software device is still the one made.
    EXPECT_EQ(debug.Text(), std::string(kSurfaceLines) +
                                "LMX:CreateD3DRM\nLMX:HAL DeviceName :Test Accelerator 1a2b3c4d\n"
                                "LMX:DeviceGuid 0\nLMX:Created Direct3DDevice with MMX(HEL)\n");
    EXPECT_TRUE(LMXGetDeviceLatch());
}

TEST(EnumDeviceCallback, FirstEmulationDeviceOnlyThenLatchOnHardware) {
    DebugCapture debug;
    LumaxisInitialize();
    debug.Clear();
    DeviceSearch search = {};
    search.colorModel = D3DCOLOR_MONO;
    GUID first = {0xabc, 0, 0, {}}, second = {0xdef, 0, 0, {}}, hal = {0x42, 0, 0, {}};
    D3DDEVICEDESC none = DeviceDesc(0, 0), mono = DeviceDesc(D3DCOLOR_MONO, DDBD_16);
    D3DDEVICEDESC rgb = DeviceDesc(D3DCOLOR_RGB, DDBD_16);
    char desc[] = "d", a[] = "Emu A", b[] = "Emu B", c[] = "RGB only", h[] = "Card";
    // An emulation device of another colour model, the first and a second matching one,
    // a hardware device, and a second hardware device that finds the search latched.
    const struct {
        GUID* guid;
        char* name;
        D3DDEVICEDESC *hw, *sw;
    } calls[] = {{&first, c, &none, &rgb},
                 {&first, a, &none, &mono},
                 {&second, b, &none, &mono},
                 {&hal, h, &mono, &none},
                 {&second, h, &mono, &none}};
    for (const auto& call : calls)
        EXPECT_EQ(EnumDeviceCallback(call.guid, desc, call.name, call.hw, call.sw, &search),
                  D3DENUMRET_OK);
    EXPECT_EQ(search.emulationGuid, &first);
    EXPECT_EQ(search.hardwareGuid, &hal);
    EXPECT_EQ(search.hardwareDesc.dwDeviceZBufferBitDepth, (DWORD)DDBD_16);
    EXPECT_EQ(debug.Text(), "LMX:DeviceName :Emu A abc\nLMX:HAL DeviceName :Card 42\n");
}

TEST_F(Device, FailureAtEachStepTearsDownWithoutLeaks) {
    const char device[] = "(LMX:DeviceName :[^\\n]+\\n)?LMX:DeviceGuid 0\\n";
    const char failed[] = "LMX:Lumaxis Cleanup\\nLMX:Error:Fail to Direct3D create \\n ";
    struct Step {
        const char* operation;
        int nth;
        HRESULT code;
        std::string expectedTail; // regex for what follows "LMX:CreateD3DRM\n"
    };
    const Step steps[] = {
        {"Direct3DRMCreate", 1, D3DRMERR_BADALLOC, "LMX:Lumaxis Cleanup\\n"},
        {"QueryInterface", 1, E_NOINTERFACE, "LMX:Lumaxis Cleanup\\n"},
        {"QueryInterface", 2, E_NOINTERFACE,
         std::string("LMX:Error:Failed to QI Direct3D2 from DirectDraw\\n") + failed},
        {"AddAttachedSurface", 1, DDERR_CANNOTATTACHSURFACE, std::string(device) + failed},
        {"CreateDeviceFromD3D", 1, D3DRMERR_BADDEVICE,
         std::string(device) +
             "LMX:Created Direct3DDevice with MMX\\(HEL\\)\\n"
             "Direct3D-RM Error : D3DRMERR_BADDEVICE\\nin file .*device\\.cpp at line "
             "[0-9]+\\nLMX:Lumaxis Cleanup\\n"}};
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.operation) + std::to_string(step.nth));
        ASSERT_TRUE(BringUpSurfaces());
        debug.Clear();
        DXTestFailCall(step.operation, step.nth, step.code);
        EXPECT_EQ(CreateDirect3DRM(), 0);
        DXTestClearFailures();
        EXPECT_TRUE(AllInterfacesNull(State()));
        EXPECT_EQ(State().bRunning, 0);
        EXPECT_EQ(DXTestLiveObjects(), 0);
        EXPECT_TRUE(
            std::regex_match(debug.Text(), std::regex("LMX:CreateD3DRM\\n" + step.expectedTail)))
            << debug.Text();
    }
}

TEST_F(Device, ViewportFailuresTearTheLayerDown) {
    for (const char* operation : {"CreateViewport", "SetBack"}) {
        SCOPED_TRACE(operation);
        DXTestFailCall(operation, 1, D3DRMERR_BADVALUE);
        EXPECT_FALSE(BringUpViewport());
        DXTestClearFailures();
        EXPECT_TRUE(AllInterfacesNull(State()));
        Report report;
        ASSERT_TRUE(
            ReportsAt(debug.Text(), "Direct3D-RM Error : D3DRMERR_BADVALUE", operation, &report));
        // "phase 3" only once the viewport exists; never "phase 4".
        std::string tail = std::string("LMX:LMXViewport\nLMX:Viewport width:640 height:480\n") +
                           (operation[0] == 'S' ? "phase 3\n" : "") + report.heading +
                           "\nin file " + report.path + " at line " + std::to_string(report.line) +
                           "\nLMX:Lumaxis Cleanup\n";
        EXPECT_TRUE(debug.Text().ends_with(tail)) << debug.Text();
        debug.Clear();
    }
}

} // namespace
