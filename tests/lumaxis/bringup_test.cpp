// Reset, running flag and teardown of the device layer, and what every failing
// step leaves behind.
#include "lmx_support.h"

#include <dxtest.h>
#include <win32ext.h>

#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <vector>

namespace {

using BringUp = LayerTest;

TEST_F(BringUp, ResetAndRunningFlag) {
    memset(&State(), 0x5A, sizeof(LumaxisState));
    EXPECT_EQ(LumaxisInitialize(), 1);
    LumaxisState& s = State();
    EXPECT_TRUE(AllInterfacesNull(s) && s.width == 320 && s.height == 240 && s.bitsPerPixel == 16 &&
                !s.bRunning && !s.colorModel && !s.hWnd && !s.palEntries[255].peFlags &&
                !LMXGetDeviceLatch());

    // Only 0 and 1 change the flag.
    EXPECT_TRUE(LMXSetRunning(1) && LMXSetRunning(2) && LMXSetRunning(-1) && LMXIsRunning());
    EXPECT_TRUE(LMXSetRunning(0) && LMXSetRunning(2) && !LMXIsRunning());
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

// Every call of a bring-up and a frame that can fail, failed in turn, each time it is made:
// the step gives 0 and leaves nothing held or running; a checked call's report (its location
// line pointing at that call) and the teardown end the output. What the surfaces step found
// survives the teardown, and afterwards the frame functions do nothing and say nothing.
TEST_F(BringUp, EveryFailureTearsTheLayerDown) {
    // DirectDraw calls, then from Direct3DRMCreate on retained-mode ones.
    std::istringstream calls("DirectDrawCreate SetCooperativeLevel CreateSurface CreateClipper "
                             "SetHWnd SetClipper QueryInterface AddAttachedSurface Blt "
                             "Direct3DRMCreate CreateDeviceFromD3D CreateViewport SetBack Clear "
                             "Render Update");
    // Failures the layer meets in its own words, or in none.
    const std::set<std::string> unchecked = {"CreateSurface3", "QueryInterface1", "QueryInterface2",
                                             "AddAttachedSurface1", "Direct3DRMCreate1"};
    int failures = 0;
    bool isRM = false;
    for (std::string call; calls >> call;)
        for (int nth = 1;; ++nth) {
            isRM |= call == "Direct3DRMCreate";
            const std::string step = call + std::to_string(nth);
            SCOPED_TRACE(step);
            LumaxisCleanup(); // what the run before left: the layer, a failure not reached
            DXTestClearFailures();
            debug.Clear();
            DXTestFailCall(call.c_str(), nth, isRM ? D3DRMERR_BADVALUE : DDERR_GENERIC);
            if (BringUpViewport() && LMXSetRunning(1) && LMXRender(root) && LMXPresent())
                break; // made fewer calls than that
            ++failures;
            EXPECT_TRUE(AllInterfacesNull(State()) && !LMXIsRunning());
            EXPECT_EQ(DXTestLiveObjects(), root ? 2 : 0) << "the frames only";
            EXPECT_TRUE(State().width == 640 && State().height == 480);
            const std::string heading =
                isRM ? "Direct3D-RM Error : D3DRMERR_BADVALUE" : "DirectDraw Error DDERR_GENERIC";
            Report report;
            if (!unchecked.count(step)) {
                ASSERT_TRUE(ReportsAt(debug.Text(), heading, call.c_str(), &report));
                EXPECT_TRUE(debug.Text().ends_with(heading + "\nin file " + report.path +
                                                   " at line " + std::to_string(report.line) +
                                                   "\nLMX:Lumaxis Cleanup\n"))
                    << debug.Text();
            }
            debug.Clear();
            EXPECT_EQ(LMXRestoreSurfaces(), 1);
            EXPECT_FALSE(LMXRender(root) || LMXPresent());
            EXPECT_EQ(debug.Text(), "");
        }
    EXPECT_EQ(failures, 19); // none of them ignored
}

} // namespace
