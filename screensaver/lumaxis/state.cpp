// The layer's state record, its reset, the DirectDraw bring-up for a window
// and the teardown that every failing operation ends in.
#include "lumaxis.h"

#include <cstring>

namespace {

LumaxisState g_lmx;

// Release a held interface and forget it; the teardown ignores the count.
template <typename T> void ReleaseField(T*& field) {
    if (field) {
        field->Release();
        field = nullptr;
    }
}

void ReadDisplayDepth(HWND hwnd) {
    HDC dc = GetDC(hwnd);
    g_lmx.bitsPerPixel = GetDeviceCaps(dc, BITSPIXEL);
    ReleaseDC(hwnd, dc);
}

// The client area in screen coordinates; everything later takes its size from here.
void ReadWindowRect(HWND hwnd) {
    GetClientRect(hwnd, &g_lmx.rcWindow);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    g_lmx.rcWindow.left += origin.x;
    g_lmx.rcWindow.right += origin.x;
    g_lmx.rcWindow.top += origin.y;
    g_lmx.rcWindow.bottom += origin.y;
    g_lmx.width = g_lmx.rcWindow.right - g_lmx.rcWindow.left;
    g_lmx.height = g_lmx.rcWindow.bottom - g_lmx.rcWindow.top;
}

} // namespace

// Shared with device.cpp: the enumeration ignores further devices once set.
BOOL deviceLatch = FALSE;

LumaxisState* LMXGetState(void) {
    return &g_lmx;
}

BOOL LMXGetDeviceLatch(void) {
    return deviceLatch;
}

int LumaxisInitialize(void) {
    OutputDebugStringA("LMX:Lumaxis Initialize\n");
    memset(&g_lmx, 0, sizeof g_lmx);
    g_lmx.width = 320;
    g_lmx.height = 240;
    g_lmx.bitsPerPixel = 16;
    deviceLatch = FALSE;
    return 1;
}

int CreateDirectDrawWin(HWND hwnd) {
    g_lmx.hWnd = hwnd;
    OutputDebugStringA("LMX:CreateDirectDrawWin\n");
    LumaxisCleanup();

    ReadDisplayDepth(hwnd);
    ReadWindowRect(hwnd);

    if (!LMX_CHECK_DD(DirectDrawCreate(nullptr, &g_lmx.lpDD, nullptr))) return 0;

    g_lmx.colorModel = D3DCOLOR_MONO;

    if (!LMX_CHECK_DD(g_lmx.lpDD->SetCooperativeLevel(hwnd, DDSCL_NORMAL))) return 0;

    // dwSize is what the caller's structure really is: the platform's 32-bit
    // layout is 108 bytes, ours holds a 64-bit pointer; the stand-in takes either.
    DDSURFACEDESC desc;
    memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof(DDSURFACEDESC);
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    if (!LMX_CHECK_DD(g_lmx.lpDD->CreateSurface(&desc, &g_lmx.lpDDSPrimary, nullptr))) return 0;

    // An independent render target in system memory, not a flipping chain.
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    desc.dwWidth = static_cast<DWORD>(g_lmx.width);
    desc.dwHeight = static_cast<DWORD>(g_lmx.height);
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY | DDSCAPS_3DDEVICE;
    if (!LMX_CHECK_DD(g_lmx.lpDD->CreateSurface(&desc, &g_lmx.lpDDSBack, nullptr))) return 0;

    if (!LMX_CHECK_DD(g_lmx.lpDD->CreateClipper(0, &g_lmx.lpDDClipper, nullptr))) return 0;
    if (!LMX_CHECK_DD(g_lmx.lpDDClipper->SetHWnd(0, hwnd))) return 0;
    if (!LMX_CHECK_DD(g_lmx.lpDDSPrimary->SetClipper(g_lmx.lpDDClipper))) return 0;
    return 1;
}

int LMXSetRunning(int running) {
    if (running == 0) g_lmx.bRunning = FALSE;
    if (running == 1) g_lmx.bRunning = TRUE;
    return 1;
}

int LMXIsRunning(void) {
    return g_lmx.bRunning;
}

int LumaxisCleanup(void) {
    OutputDebugStringA("LMX:Lumaxis Cleanup\n");
    // Retained mode first, the z-buffer before the surface it is attached to,
    // the DirectDraw object itself last.
    ReleaseField(g_lmx.lpViewport);
    ReleaseField(g_lmx.lpRMDevice2);
    ReleaseField(g_lmx.lpD3DDevice2);
    ReleaseField(g_lmx.lpDDPalette);
    ReleaseField(g_lmx.lpDDSZBuffer);
    ReleaseField(g_lmx.lpD3DRM2);
    ReleaseField(g_lmx.lpD3D2);
    ReleaseField(g_lmx.lpDDSBack);
    ReleaseField(g_lmx.lpDDClipper);
    ReleaseField(g_lmx.lpDDSPrimary);
    ReleaseField(g_lmx.lpDD);
    g_lmx.bRunning = FALSE;
    return 1;
}
