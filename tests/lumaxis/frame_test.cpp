// Per-frame work of the layer: lost-surface recovery, render and present
// (their failures are in bringup_test.cpp).
#include "lmx_support.h"

#include <dxtest.h>

#include <utility>
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

// Runs the recovery with a recording viewport in place of the layer's.
std::vector<RECT> ForcedUpdates() {
    RecordingViewport recorder;
    LPDIRECT3DRMVIEWPORT real = std::exchange(LMXGetState()->lpViewport, &recorder);
    EXPECT_EQ(LMXRestoreSurfaces(), 1);
    LMXGetState()->lpViewport = real;
    return recorder.forced;
}

using Frame = LayerTest;

TEST_F(Frame, LostSurfacesAreRestoredWithAFullRedrawWhileRunning) {
    ASSERT_TRUE(BringUpViewport() && LMXSetRunning(1));
    debug.Clear();
    EXPECT_TRUE(ForcedUpdates().empty());
    EXPECT_TRUE(LMXRender(root) && LMXPresent());
    EXPECT_EQ(LMXRender(nullptr), 0);
    EXPECT_EQ(LMXIsRunning(), 1); // no teardown for a missing frame
    // What a mode change takes: the screen and the z-buffer (the back surface lives in system
    // memory and is not checked). Each restore forces the whole viewport.
    LPDIRECTDRAWSURFACE primary = State().lpDDSPrimary, zBuffer = State().lpDDSZBuffer;
    DXTestLoseSurface(primary);
    DXTestLoseSurface(zBuffer);
    std::vector<RECT> forced = ForcedUpdates();
    ASSERT_EQ(forced.size(), 2u);
    for (const RECT& r : forced)
        EXPECT_TRUE(r.left == 0 && r.top == 0 && r.right == 640 && r.bottom == 480);
    EXPECT_TRUE(primary->IsLost() == DD_OK && zBuffer->IsLost() == DD_OK);
    for (LPDIRECTDRAWSURFACE surface : {primary, zBuffer}) {
        DXTestLoseSurface(surface);
        EXPECT_EQ(ForcedUpdates().size(), 1u);
    }
    EXPECT_TRUE(LMXRender(root) && LMXPresent());
    // Stopped: nothing restored, drawn or said, and nothing torn down.
    LMXSetRunning(0);
    DXTestLoseSurface(primary);
    EXPECT_TRUE(ForcedUpdates().empty());
    EXPECT_FALSE(LMXRender(root) || LMXPresent());
    EXPECT_EQ(debug.Text(), "");
    EXPECT_NE(State().lpViewport, nullptr);
}

} // namespace
