// The layer's share of each frame: lost-surface recovery, drawing the scene
// into the back surface, and copying it to the window.
#include "lumaxis.h"

namespace {

// Lost memory is brought back and the whole viewport is redrawn next update.
void RestoreIfLost(LumaxisState& s, LPDIRECTDRAWSURFACE surface) {
    if (surface->IsLost() == DD_OK) return;
    surface->Restore();
    if (s.lpViewport)
        s.lpViewport->ForceUpdate(0, 0, static_cast<DWORD>(s.width), static_cast<DWORD>(s.height));
}

int FailRM(HRESULT result, int line) {
    LMXReportRMError(result, __FILE__, line);
    LumaxisCleanup();
    return 0;
}

} // namespace

int LMXRestoreSurfaces(void) {
    LumaxisState& s = *LMXGetState();
    if (!s.bRunning || !s.lpDDSPrimary) return 1;
    RestoreIfLost(s, s.lpDDSPrimary);
    if (s.lpDDSZBuffer) RestoreIfLost(s, s.lpDDSZBuffer);
    return 1;
}

int LMXRender(LPDIRECT3DRMFRAME frame) {
    LumaxisState& s = *LMXGetState();
    if (!s.bRunning || !frame) return 0;
    // Running without a viewport would mean the scene was never given one.
    if (!s.lpViewport || !s.lpRMDevice2) return FailRM(D3DRMERR_BADOBJECT, __LINE__);

    HRESULT result = s.lpViewport->Clear();
    if (result != D3DRM_OK) return FailRM(result, __LINE__ - 1);
    result = s.lpViewport->Render(frame);
    if (result != D3DRM_OK) return FailRM(result, __LINE__ - 1);
    result = s.lpRMDevice2->Update();
    if (result != D3DRM_OK) return FailRM(result, __LINE__ - 1);
    return 1;
}

int LMXPresent(void) {
    LumaxisState& s = *LMXGetState();
    if (!s.bRunning) return 0;
    if (!s.lpDDSPrimary || !s.lpDDSBack) return 0;

    RECT source = {0, 0, s.width, s.height};
    HRESULT result = s.lpDDSPrimary->Blt(&s.rcWindow, s.lpDDSBack, &source, DDBLT_WAIT, nullptr);
    if (result != DD_OK) {
        LMXReportDDError(result, __FILE__, __LINE__ - 2);
        LumaxisCleanup();
        return 0;
    }
    return 1;
}
