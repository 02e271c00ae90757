// Per-frame work of the layer: lost-surface recovery, render and present.
#include "lmx_support.h"

#include <dxtest.h>

#include <vector>

namespace {

// Stands in for the viewport to see which updates the recovery forces.
struct RecordingViewport : IDirect3DRMViewport {
    std::vector<RECT> forced;
    HRESULT QueryInterface(REFIID, LPVOID*) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT Clear() override { return D3DRM_OK; }
    HRESULT Render(LPDIRECT3DRMFRAME) override { return D3DRM_OK; }
    HRESULT ForceUpdate(DWORD x1, DWORD y1, DWORD x2, DWORD y2) override {
        forced.push_back({(LONG)x1, (LONG)y1, (LONG)x2, (LONG)y2});
        return D3DRM_OK;
    }
    HRESULT SetBack(D3DVALUE) override { return D3DRM_OK; }
    HRESULT SetFront(D3DVALUE) override { return D3DRM_OK; }
    HRESULT SetField(D3DVALUE) override { return D3DRM_OK; }
    D3DVALUE GetBack() override { return 0; }
    D3DVALUE GetFront() override { return 0; }
    D3DVALUE GetField() override { return 0; }
};

class Frame : public LayerTest {
  protected:
    void SetUp() override {
        LayerTest::SetUp();
        ASSERT_TRUE(BringUpViewport());
        LMXSetRunning(1);
        debug.Clear();
    }
    // Runs the recovery with the recording viewport in place of the real one.
    std::vector<RECT> ForcedUpdates() {
        RecordingViewport recorder;
        LPDIRECT3DRMVIEWPORT real = State().lpViewport;
        State().lpViewport = &recorder;
        EXPECT_EQ(LMXRestoreSurfaces(), 1);
        State().lpViewport = real;
        return recorder.forced;
    }
};

TEST_F(Frame, QuietWhenRunningNothingWhenStopped) {
    EXPECT_TRUE(ForcedUpdates().empty());
    EXPECT_EQ(LMXRender(root), 1);
    EXPECT_EQ(LMXPresent(), 1);
    EXPECT_EQ(LMXRender(nullptr), 0);
    EXPECT_EQ(LMXIsRunning(), 1); // no teardown for a missing frame
    LMXSetRunning(0);
    DXTestLoseSurface(State().lpDDSPrimary);
    EXPECT_TRUE(ForcedUpdates().empty());
    EXPECT_EQ(LMXRender(root), 0);
    EXPECT_EQ(LMXPresent(), 0);
    EXPECT_EQ(debug.Text(), "");
    EXPECT_NE(State().lpViewport, nullptr);
}

TEST_F(Frame, LostSurfacesAreRestoredWithAFullRedraw) {
    // What a mode change takes: the screen and the z-buffer (the back surface
    // lives in system memory and is not checked).
    DXTestLoseSurface(State().lpDDSPrimary);
    DXTestLoseSurface(State().lpDDSZBuffer);
    std::vector<RECT> forced = ForcedUpdates();
    // Each restore forces the whole viewport.
    ASSERT_EQ(forced.size(), 2u);
    for (const RECT& r : forced)
        EXPECT_TRUE(r.left == 0 && r.top == 0 && r.right == 640 && r.bottom == 480);
    EXPECT_EQ(State().lpDDSPrimary->IsLost(), DD_OK);
    EXPECT_EQ(State().lpDDSZBuffer->IsLost(), DD_OK);
    EXPECT_TRUE(ForcedUpdates().empty());
    EXPECT_EQ(LMXRender(root), 1);
    EXPECT_EQ(LMXPresent(), 1);
    EXPECT_EQ(debug.Text(), "");

    DXTestLoseSurface(State().lpDDSPrimary);
    EXPECT_EQ(ForcedUpdates().size(), 1u);
    DXTestLoseSurface(State().lpDDSZBuffer);
    EXPECT_EQ(ForcedUpdates().size(), 1u);
    EXPECT_EQ(LMXIsRunning(), 1);
}

TEST_F(Frame, FailuresAreReportedOnceThenSilence) {
    const struct {
        const char* operation;
        HRESULT code;
        const char* heading;
    } cases[] = {{"Blt", DDERR_SURFACELOST, "DirectDraw Error DDERR_SURFACELOST"},
                 {"Clear", D3DRMERR_BADOBJECT, "Direct3D-RM Error : D3DRMERR_BADOBJECT"},
                 {"Render", D3DRMERR_BADVALUE, "Direct3D-RM Error : D3DRMERR_BADVALUE"},
                 // A DirectDraw code from a retained-mode call has no name here.
                 {"Update", DDERR_SURFACELOST, "Direct3D-RM Error : Unknown Error"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        if (!State().lpViewport) { // torn down by the case before
            ASSERT_TRUE(BringUpViewport());
            LMXSetRunning(1);
        }
        debug.Clear();
        DXTestFailCall(c.operation, 1, c.code);
        // The copy fails after a good render; a failed render leaves nothing to copy.
        bool copy = c.operation[0] == 'B';
        EXPECT_EQ(LMXRender(root), copy ? 1 : 0);
        EXPECT_EQ(LMXPresent(), 0);
        Report report;
        ASSERT_TRUE(
            ReportsAt(debug.Text(), c.heading, (std::string(c.operation) + "(").c_str(), &report));
        EXPECT_EQ(debug.Text(), std::string(c.heading) + "\nin file " + report.path + " at line " +
                                    std::to_string(report.line) + "\nLMX:Lumaxis Cleanup\n");
        EXPECT_TRUE(AllInterfacesNull(State()));
        EXPECT_EQ(LMXIsRunning(), 0);
        debug.Clear();
        for (int pass = 0; pass < 3; ++pass) {
            EXPECT_EQ(LMXRestoreSurfaces(), 1);
            EXPECT_EQ(LMXRender(root), 0);
            EXPECT_EQ(LMXPresent(), 0);
        }
        EXPECT_EQ(debug.Text(), "");
    }
}

} // namespace
