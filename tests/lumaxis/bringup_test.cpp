// Reset, surface bring-up, running flag and teardown of the device layer.
#include "lmx_support.h"

#include <dxtest.h>
#include <win32ext.h>

#include <cstring>

namespace {

using BringUp = LayerTest;

TEST_F(BringUp, ResetLeavesDefaultsAndOneLine) {
    memset(&State(), 0x5A, sizeof(LumaxisState));
    EXPECT_EQ(LumaxisInitialize(), 1);
    EXPECT_EQ(debug.Text(), "LMX:Lumaxis Initialize\n");
    EXPECT_TRUE(AllInterfacesNull(State()));
    EXPECT_EQ(State().width, 320);
    EXPECT_EQ(State().height, 240);
    EXPECT_EQ(State().bitsPerPixel, 16);
    EXPECT_EQ(State().bRunning, 0);
    EXPECT_EQ(State().colorModel, 0);
    EXPECT_EQ(State().hWnd, nullptr);
    EXPECT_EQ(State().palEntries[255].peFlags, 0);
    EXPECT_EQ(LMXGetDeviceLatch(), FALSE);
}

TEST_F(BringUp, CleanupIsIdempotent) {
    LumaxisInitialize();
    debug.Clear();
    EXPECT_EQ(LumaxisCleanup(), 1);
    EXPECT_EQ(LumaxisCleanup(), 1);
    EXPECT_EQ(debug.Text(), "LMX:Lumaxis Cleanup\nLMX:Lumaxis Cleanup\n");
    EXPECT_EQ(State().width, 320);
}

TEST_F(BringUp, SetRunningTakesOnlyZeroAndOne) {
    LumaxisInitialize();
    EXPECT_EQ(LMXSetRunning(1), 1);
    EXPECT_EQ(LMXIsRunning(), 1);
    EXPECT_EQ(LMXSetRunning(2), 1);
    EXPECT_EQ(LMXSetRunning(-1), 1);
    EXPECT_EQ(LMXIsRunning(), 1);
    EXPECT_EQ(LMXSetRunning(0), 1);
    EXPECT_EQ(LMXSetRunning(2), 1);
    EXPECT_EQ(LMXIsRunning(), 0);
}

TEST_F(BringUp, SurfacesForTheWholeWindow) {
    UseDisplay(800, 600, 24);
    ASSERT_TRUE(BringUpSurfaces());
    EXPECT_EQ(debug.Text(),
              "LMX:Lumaxis Initialize\nLMX:CreateDirectDrawWin\nLMX:Lumaxis Cleanup\n");
    LumaxisState& s = State();
    EXPECT_NE(s.lpDD, nullptr);
    EXPECT_NE(s.lpDDSPrimary, nullptr);
    EXPECT_NE(s.lpDDSBack, nullptr);
    EXPECT_NE(s.lpDDClipper, nullptr);
    EXPECT_EQ(s.lpDDSZBuffer, nullptr);
    EXPECT_EQ(s.hWnd, Window());
    EXPECT_EQ(s.width, 800);
    EXPECT_EQ(s.height, 600);
    EXPECT_EQ(s.bitsPerPixel, 24);
    EXPECT_EQ(s.rcWindow.left, 0);
    EXPECT_EQ(s.rcWindow.bottom, 600);
    EXPECT_EQ(s.colorModel, D3DCOLOR_MONO);
    EXPECT_EQ(s.bRunning, 0);

    DDSURFACEDESC desc;
    memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    ASSERT_EQ(s.lpDDSBack->GetSurfaceDesc(&desc), DD_OK);
    EXPECT_EQ(desc.dwWidth, 800u);
    EXPECT_EQ(desc.dwHeight, 600u);
    EXPECT_TRUE(desc.ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY);
    HWND clipped = nullptr;
    EXPECT_EQ(s.lpDDClipper->GetHWnd(&clipped), DD_OK);
    EXPECT_EQ(clipped, Window());
}

TEST_F(BringUp, EightBitDesktopDepthIsKept) {
    UseDisplay(640, 480, 8);
    ASSERT_TRUE(BringUpSurfaces());
    EXPECT_EQ(State().bitsPerPixel, 8);
}

struct FailingStep {
    const char* operation;
    int nth;
    HRESULT code;
    const char* name;
    const char* callText; // what the reported source line must contain
};

class BringUpFailure : public LayerTest, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(BringUpFailure, ReportsReleasesEverythingAndReturnsZero) {
    const FailingStep& step = GetParam();
    LumaxisInitialize();
    HWND hwnd = Window();
    debug.Clear();
    DXTestFailCall(step.operation, step.nth, step.code);
    EXPECT_EQ(CreateDirectDrawWin(hwnd), 0);

    EXPECT_TRUE(AllInterfacesNull(State()));
    EXPECT_EQ(State().bRunning, 0);
    EXPECT_EQ(DXTestLiveObjects(), 0);
    // What the earlier steps found survives the failure.
    EXPECT_EQ(State().width, 640);
    EXPECT_EQ(State().height, 480);

    Report report;
    ASSERT_TRUE(FindReport(debug.Text(), &report)) << debug.Text();
    EXPECT_EQ(report.heading, std::string("DirectDraw Error ") + step.name);
    EXPECT_NE(SourceLine(report).find(step.callText), std::string::npos)
        << report.path << ":" << report.line;
    std::string expected = std::string("LMX:CreateDirectDrawWin\nLMX:Lumaxis Cleanup\n") +
                           report.heading + "\nin file " + report.path + " at line " +
                           std::to_string(report.line) + "\nLMX:Lumaxis Cleanup\n";
    EXPECT_EQ(debug.Text(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, BringUpFailure,
    ::testing::Values(
        FailingStep{"DirectDrawCreate", 1, MAKE_DDHRESULT(563), "DDERR_NODIRECTDRAWHW",
                    "DirectDrawCreate("},
        FailingStep{"SetCooperativeLevel", 1, DDERR_HWNDALREADYSET, "DDERR_HWNDALREADYSET",
                    "SetCooperativeLevel("},
        FailingStep{"CreateSurface", 1, DDERR_PRIMARYSURFACEALREADYEXISTS,
                    "DDERR_PRIMARYSURFACEALREADYEXISTS", "lpDDSPrimary, nullptr"},
        FailingStep{"CreateSurface", 2, DDERR_OUTOFMEMORY, "DDERR_OUTOFMEMORY",
                    "lpDDSBack, nullptr"},
        FailingStep{"CreateClipper", 1, DDERR_GENERIC, "DDERR_GENERIC", "CreateClipper("},
        FailingStep{"SetHWnd", 1, DDERR_INVALIDPARAMS, "DDERR_INVALIDPARAMS", "SetHWnd("},
        FailingStep{"SetClipper", 1, DDERR_NOCLIPPERATTACHED, "DDERR_NOCLIPPERATTACHED",
                    "SetClipper("}),
    [](const ::testing::TestParamInfo<FailingStep>& info) {
        return std::string(info.param.operation) + std::to_string(info.param.nth);
    });

} // namespace

namespace {
TEST_F(BringUp, WindowAwayFromTheOriginShiftsTheRectangleOnly) {
    PlaceWindow(40, 30, 320, 200);
    ASSERT_TRUE(BringUpSurfaces());
    EXPECT_EQ(State().rcWindow.left, 40);
    EXPECT_EQ(State().rcWindow.top, 30);
    EXPECT_EQ(State().rcWindow.right, 360);
    EXPECT_EQ(State().rcWindow.bottom, 230);
    EXPECT_EQ(State().width, 320);
    EXPECT_EQ(State().height, 200);
}

} // namespace
