// Reset, surface bring-up, running flag and teardown of the device layer.
#include "lmx_support.h"

#include <dxtest.h>
#include <win32ext.h>

#include <cstring>
#include <map>
#include <vector>

namespace {

using BringUp = LayerTest;

TEST_F(BringUp, ResetRunningFlagAndCleanup) {
    memset(&State(), 0x5A, sizeof(LumaxisState));
    EXPECT_EQ(LumaxisInitialize(), 1);
    LumaxisState& s = State();
    EXPECT_TRUE(AllInterfacesNull(s) && s.width == 320 && s.height == 240 && s.bitsPerPixel == 16 &&
                !s.bRunning && !s.colorModel && !s.hWnd && !s.palEntries[255].peFlags &&
                !LMXGetDeviceLatch());

    // Only 0 and 1 change the flag.
    for (int value : {1, 2, -1})
        EXPECT_EQ(LMXSetRunning(value), 1);
    EXPECT_EQ(LMXIsRunning(), 1);
    LMXSetRunning(0);
    LMXSetRunning(2);
    EXPECT_EQ(LMXIsRunning(), 0);

    EXPECT_EQ(LumaxisCleanup(), 1);
    EXPECT_EQ(LumaxisCleanup(), 1);
    EXPECT_EQ(debug.Text(), "LMX:Lumaxis Initialize\nLMX:Lumaxis Cleanup\nLMX:Lumaxis Cleanup\n");
    EXPECT_EQ(s.width, 320);
}

TEST_F(BringUp, TeardownReleasesInItsFixedOrder) {
    display.bits = 8; // the palette exists only on an 8-bit desktop
    ASSERT_TRUE(BringUpViewport());
    LumaxisState& s = State();
    // Retained mode first, the z-buffer before the back surface it is attached
    // to, the DirectDraw object last.
    IUnknown* const fields[] = {s.lpViewport,   s.lpRMDevice2,  s.lpD3DDevice2, s.lpDDPalette,
                                s.lpDDSZBuffer, s.lpD3DRM2,     s.lpD3D2,       s.lpDDSBack,
                                s.lpDDClipper,  s.lpDDSPrimary, s.lpDD};
    const std::vector<std::string> order = {"Viewport", "RMDevice2", "D3DDevice2", "Palette",
                                            "ZBuffer",  "D3DRM2",    "D3D2",       "Back",
                                            "Clipper",  "Primary",   "DD"};
    // An extra reference on each keeps them all alive through the teardown, so
    // the log holds the teardown's own releases and none that they set off.
    struct Log {
        std::map<const void*, std::string> names;
        std::vector<std::string> released;
    } log;
    for (size_t i = 0; i < order.size(); ++i) {
        ASSERT_NE(fields[i], nullptr) << order[i];
        fields[i]->AddRef();
        log.names[dynamic_cast<const void*>(fields[i])] = order[i];
    }
    DXTestSetReleaseHook(
        [](const void* object, ULONG, void* context) {
            Log& log = *static_cast<Log*>(context);
            if (log.names.count(object)) log.released.push_back(log.names[object]);
        },
        &log);
    LumaxisCleanup();
    DXTestSetReleaseHook(nullptr, nullptr);
    for (IUnknown* object : fields)
        object->Release();
    EXPECT_EQ(log.released, order);
}

TEST_F(BringUp, SurfacesForTheWholeWindow) {
    display = {800, 600, 24};
    place = {40, 30, 360, 230};
    ASSERT_TRUE(BringUpSurfaces());
    EXPECT_EQ(debug.Text(),
              "LMX:Lumaxis Initialize\nLMX:CreateDirectDrawWin\nLMX:Lumaxis Cleanup\n");
    LumaxisState& s = State();
    EXPECT_TRUE(s.lpDD && s.lpDDSPrimary && s.lpDDSBack && s.lpDDClipper);
    EXPECT_EQ(s.lpDDSZBuffer, nullptr);
    EXPECT_EQ(s.hWnd, Window());
    // The window's size, the display's depth; the rectangle is where it sits.
    EXPECT_EQ(s.width, 320);
    EXPECT_EQ(s.height, 200);
    EXPECT_EQ(s.bitsPerPixel, 24);
    EXPECT_EQ(s.rcWindow.left, 40);
    EXPECT_EQ(s.rcWindow.top, 30);
    EXPECT_EQ(s.rcWindow.right, 360);
    EXPECT_EQ(s.rcWindow.bottom, 230);
    EXPECT_EQ(s.colorModel, D3DCOLOR_MONO);
    EXPECT_EQ(s.bRunning, 0);

    DDSURFACEDESC desc = {};
    desc.dwSize = sizeof desc;
    ASSERT_EQ(s.lpDDSBack->GetSurfaceDesc(&desc), DD_OK);
    EXPECT_EQ(desc.dwWidth, 320u);
    EXPECT_EQ(desc.dwHeight, 200u);
    EXPECT_TRUE(desc.ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY);
    HWND clipped = nullptr;
    EXPECT_EQ(s.lpDDClipper->GetHWnd(&clipped), DD_OK);
    EXPECT_EQ(clipped, Window());
}

TEST_F(BringUp, FailureAtEachStepReportsAndReleasesEverything) {
    struct Step {
        const char* operation;
        int nth;
        HRESULT code;
        const char* name;
        const char* callText; // what the reported source line must contain
    };
    const Step steps[] = {
        {"DirectDrawCreate", 1, MAKE_DDHRESULT(563), "DDERR_NODIRECTDRAWHW", "DirectDrawCreate("},
        {"SetCooperativeLevel", 1, DDERR_HWNDALREADYSET, "DDERR_HWNDALREADYSET",
         "SetCooperativeLevel("},
        {"CreateSurface", 1, DDERR_PRIMARYSURFACEALREADYEXISTS, "DDERR_PRIMARYSURFACEALREADYEXISTS",
         "lpDDSPrimary, nullptr"},
        {"CreateSurface", 2, DDERR_OUTOFMEMORY, "DDERR_OUTOFMEMORY", "lpDDSBack, nullptr"},
        {"CreateClipper", 1, DDERR_GENERIC, "DDERR_GENERIC", "CreateClipper("},
        {"SetHWnd", 1, DDERR_INVALIDPARAMS, "DDERR_INVALIDPARAMS", "SetHWnd("},
        {"SetClipper", 1, DDERR_NOCLIPPERATTACHED, "DDERR_NOCLIPPERATTACHED", "SetClipper("}};
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.operation) + std::to_string(step.nth));
        LumaxisInitialize();
        HWND hwnd = Window();
        debug.Clear();
        DXTestFailCall(step.operation, step.nth, step.code);
        EXPECT_EQ(CreateDirectDrawWin(hwnd), 0);
        DXTestClearFailures();

        EXPECT_TRUE(AllInterfacesNull(State()));
        EXPECT_EQ(State().bRunning, 0);
        EXPECT_EQ(DXTestLiveObjects(), 0);
        // What the earlier steps found survives the failure.
        EXPECT_EQ(State().width, 640);
        EXPECT_EQ(State().height, 480);

        Report report;
        ASSERT_TRUE(ReportsAt(debug.Text(), std::string("DirectDraw Error ") + step.name,
                              step.callText, &report));
        EXPECT_EQ(debug.Text(), std::string("LMX:CreateDirectDrawWin\nLMX:Lumaxis Cleanup\n"
                                            "DirectDraw Error ") +
                                    step.name + "\nin file " + report.path + " at line " +
                                    std::to_string(report.line) + "\nLMX:Lumaxis Cleanup\n");
    }
}

} // namespace
