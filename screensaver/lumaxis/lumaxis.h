// Lumaxis: the saver's device layer over DirectDraw and Retained Mode.
#pragma once

#include <windows.h>
#include <ddraw.h>
#include <d3d.h>
#include <d3drm.h>

int LumaxisInitialize(void);
int CreateDirectDrawWin(HWND hwnd);
int LMXSetRunning(int running);
int LumaxisCleanup(void);
int CreateDirect3DRM(void);
int LMXViewport(LPDIRECT3DRMFRAME camera);
int LMXRestoreSurfaces(void);
int LMXRender(LPDIRECT3DRMFRAME frame);
int LMXPresent(void);

void LMXDebugPrint(const char* text);
void LMXReportDDError(HRESULT code, const char* path, int line);
void LMXReportRMError(HRESULT code, const char* path, int line);
