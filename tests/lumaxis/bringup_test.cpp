// Reset, running flag and teardown of the device layer, and what every failing
// step leaves behind.
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

// Every failure the layer checks, and those it handles in its own words, in
// the order of a bring-up and a frame. Each step gives 0, leaves nothing held
// or running, and the output ends with the report of the failing call (its
// location line pointing at that call) and the teardown.
TEST_F(BringUp, EveryFailureTearsTheLayerDown) {
    enum Phase { Surfaces, Device, Viewport, Frame };
    const std::string DD = "DirectDraw Error ", RM = "Direct3D-RM Error : ";
    const char kFailed[] = "LMX:Lumaxis Cleanup\nLMX:Error:Fail to Direct3D create \n ";
    const struct {
        Phase phase;
        const char* operation;
        int nth;
        HRESULT code;
        std::string said; // the report's heading, or all that the step says
    } steps[] = {
        {Surfaces, "DirectDrawCreate", 1, MAKE_DDHRESULT(563), DD + "DDERR_NODIRECTDRAWHW"},
        {Surfaces, "SetCooperativeLevel", 1, DDERR_HWNDALREADYSET, DD + "DDERR_HWNDALREADYSET"},
        {Surfaces, "CreateSurface", 1, DDERR_PRIMARYSURFACEALREADYEXISTS,
         DD + "DDERR_PRIMARYSURFACEALREADYEXISTS"},
        {Surfaces, "CreateSurface", 2, DDERR_OUTOFMEMORY, DD + "DDERR_OUTOFMEMORY"},
        {Surfaces, "CreateClipper", 1, DDERR_GENERIC, DD + "DDERR_GENERIC"},
        {Surfaces, "SetHWnd", 1, DDERR_INVALIDPARAMS, DD + "DDERR_INVALIDPARAMS"},
        {Surfaces, "SetClipper", 1, DDERR_NOCLIPPERATTACHED, DD + "DDERR_NOCLIPPERATTACHED"},
        {Device, "Direct3DRMCreate", 1, D3DRMERR_BADALLOC,
         "LMX:CreateD3DRM\nLMX:Lumaxis Cleanup\n"},
        {Device, "QueryInterface", 1, E_NOINTERFACE, "LMX:CreateD3DRM\nLMX:Lumaxis Cleanup\n"},
        {Device, "QueryInterface", 2, E_NOINTERFACE,
         std::string("LMX:Error:Failed to QI Direct3D2 from DirectDraw\n") + kFailed},
        {Device, "AddAttachedSurface", 1, DDERR_CANNOTATTACHSURFACE,
         std::string("LMX:DeviceGuid 0\n") + kFailed},
        {Device, "CreateDeviceFromD3D", 1, D3DRMERR_BADDEVICE, RM + "D3DRMERR_BADDEVICE"},
        {Viewport, "CreateViewport", 1, D3DRMERR_BADVALUE, RM + "D3DRMERR_BADVALUE"},
        {Viewport, "SetBack", 1, D3DRMERR_BADVALUE, RM + "D3DRMERR_BADVALUE"},
        {Frame, "Clear", 1, D3DRMERR_BADOBJECT, RM + "D3DRMERR_BADOBJECT"},
        {Frame, "Render", 1, D3DRMERR_BADVALUE, RM + "D3DRMERR_BADVALUE"},
        // A DirectDraw code from a retained-mode call has no name there.
        {Frame, "Update", 1, DDERR_SURFACELOST, RM + "Unknown Error"},
        {Frame, "Blt", 1, DDERR_SURFACELOST, DD + "DDERR_SURFACELOST"}};
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(step.operation) + std::to_string(step.nth));
        if (step.phase == Surfaces) LumaxisInitialize();
        ASSERT_TRUE(step.phase != Device || BringUpSurfaces());
        ASSERT_TRUE(step.phase != Frame || (BringUpViewport() && LMXSetRunning(1)));
        debug.Clear();
        DXTestFailCall(step.operation, step.nth, step.code);
        // A failed render leaves nothing to copy.
        EXPECT_FALSE(step.phase == Surfaces   ? CreateDirectDrawWin(Window())
                     : step.phase == Device   ? CreateDirect3DRM()
                     : step.phase == Viewport ? BringUpViewport()
                                              : LMXRender(root) && LMXPresent());
        DXTestClearFailures();
        EXPECT_TRUE(AllInterfacesNull(State()) && !LMXIsRunning());
        EXPECT_EQ(DXTestLiveObjects(), step.phase < Viewport ? 0 : 2) << "the frames only";
        // What the surfaces step found survives the teardown.
        EXPECT_TRUE(State().width == 640 && State().height == 480);

        std::string tail = step.said;
        if (tail.starts_with(DD) || tail.starts_with(RM)) {
            Report report;
            ASSERT_TRUE(ReportsAt(debug.Text(), step.said, step.operation, &report));
            tail += "\nin file " + report.path + " at line " + std::to_string(report.line) +
                    "\nLMX:Lumaxis Cleanup\n";
        }
        EXPECT_TRUE(debug.Text().ends_with(tail)) << debug.Text();
        // Afterwards the frame functions do nothing and say nothing.
        debug.Clear();
        EXPECT_EQ(LMXRestoreSurfaces(), 1);
        EXPECT_FALSE(LMXRender(root) || LMXPresent());
        EXPECT_EQ(debug.Text(), "");
    }
}

} // namespace
