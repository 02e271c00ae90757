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
    if (!s.lpViewport || !s.lpRMDevice2) return LMX_CHECK_RM(D3DRMERR_BADOBJECT);

    if (!LMX_CHECK_RM(s.lpViewport->Clear())) return 0;
    if (!LMX_CHECK_RM(s.lpViewport->Render(frame))) return 0;
    if (!LMX_CHECK_RM(s.lpRMDevice2->Update())) return 0;
    return 1;
}

int LMXPresent(void) {
    LumaxisState& s = *LMXGetState();
    if (!s.bRunning) return 0;
    if (!s.lpDDSPrimary || !s.lpDDSBack) return 0;

    RECT source = {0, 0, s.width, s.height};
    RECT* target = &s.rcWindow;
    return LMX_CHECK_DD(s.lpDDSPrimary->Blt(target, s.lpDDSBack, &source, DDBLT_WAIT, nullptr));
}
