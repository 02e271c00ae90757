// Lumaxis: the saver's device layer over DirectDraw and Retained Mode.
//
// All state lives in one static record. Every operation returns 1 on success
// and 0 on failure; a failing operation has already reported the failure and
// torn the whole layer down (LumaxisCleanup) before it returns.
#pragma once

#include <windows.h>
#include <ddraw.h>
#include <d3d.h>
#include <d3drm.h>

struct LumaxisState {
    LPDIRECTDRAW lpDD;
    LPDIRECT3D2 lpD3D2;
    LPDIRECT3DRM2 lpD3DRM2;
    LPDIRECT3DRM lpD3DRM; // only between Direct3DRMCreate and its QueryInterface
    LPDIRECTDRAWSURFACE lpDDSPrimary;
    LPDIRECTDRAWSURFACE lpDDSBack;
    LPDIRECTDRAWSURFACE lpDDSZBuffer;
    LPDIRECTDRAWPALETTE lpDDPalette;
    PALETTEENTRY palEntries[256];
    LPDIRECTDRAWCLIPPER lpDDClipper;
    LPDIRECT3DDEVICE2 lpD3DDevice2;
    LPDIRECT3DRMDEVICE2 lpRMDevice2;
    LPDIRECT3DRMVIEWPORT lpViewport;
    D3DCOLORMODEL colorModel;
    RECT rcWindow;
    BOOL bRunning;
    char debugLine[2048];
    int width;
    int height;
    int bitsPerPixel;
    HWND hWnd;
};

// Context handed to EnumDeviceCallback during one CreateD3DDevice call.
struct DeviceSearch {
    D3DCOLORMODEL colorModel;
    LPGUID hardwareGuid;
    D3DDEVICEDESC hardwareDesc;
    LPGUID emulationGuid;
    D3DDEVICEDESC emulationDesc;
};

// The layer's one state record, and the enumeration latch beside it.
LumaxisState* LMXGetState(void);
BOOL LMXGetDeviceLatch(void);

// Reset, surfaces, running flag, teardown.
int LumaxisInitialize(void);
int CreateDirectDrawWin(HWND hwnd);
int LMXSetRunning(int running);
int LMXIsRunning(void);
int LumaxisCleanup(void);

// 3D device and viewport.
int CreateDirect3DRM(void);
int CreateD3DRM(void);
int CreateD3DDevice(D3DCOLORMODEL colorModel);
HRESULT CALLBACK EnumDeviceCallback(LPGUID guid, LPSTR description, LPSTR name,
                                    LPD3DDEVICEDESC hardware, LPD3DDEVICEDESC emulation,
                                    LPVOID context);
int LMXViewport(LPDIRECT3DRMFRAME camera);

// Per-frame work.
int LMXRestoreSurfaces(void);
int LMXRender(LPDIRECT3DRMFRAME frame);
int LMXPresent(void);

// Error reporting: result codes by name, with the location of the failing call.
//
// Every tested platform call goes through a check at the call itself:
//     if (!LMX_CHECK_DD(lpDD->SetCooperativeLevel(hwnd, DDSCL_NORMAL))) return 0;
// A failure is reported with the file and line of the check, the layer is torn
// down, and the check gives 0; a success gives 1. Keep each check on one line:
// compilers differ in the line they give a macro call that spans several.
#define LMX_CHECK_DD(result) LMXCheckDD((result), __FILE__, __LINE__)
#define LMX_CHECK_RM(result) LMXCheckRM((result), __FILE__, __LINE__)
int LMXCheckDD(HRESULT result, const char* path, int line);
int LMXCheckRM(HRESULT result, const char* path, int line);
void LMXDebugPrint(const char* text);
void LMXReportDDError(HRESULT code, const char* path, int line);
void LMXReportRMError(HRESULT code, const char* path, int line);
// The names the reporters use ("Unknown Error" for codes outside the table).
const char* LMXDDErrorName(HRESULT code);
const char* LMXRMErrorName(HRESULT code);
