// The retained-mode object, the 8-bit palette, the software 3D device with its
// z-buffer, the retained-mode device over it, and the viewport.
#include "lumaxis.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern BOOL deviceLatch;

namespace {

// Formatted progress lines are built in a buffer of this size.
const size_t kLineSize = 200;

// The system colours at both ends of the palette stay put; the renderer takes
// the 236 entries between them.
const int kStaticColors = 10;

const D3DVALUE kBackPlane = 5000.0f;

void SendLine(const char* format, const char* text, unsigned value) {
    char line[kLineSize];
    snprintf(line, sizeof line, format, text ? text : "", value);
    OutputDebugStringA(line);
}

// Only the IDirect3DRM2 interface is kept; the first one is released at once.
int CreateRetainedMode(LumaxisState& s) {
    if (s.lpD3DRM2) return 1;
    if (Direct3DRMCreate(&s.lpD3DRM) != D3DRM_OK) {
        LumaxisCleanup();
        return 0;
    }
    HRESULT result = s.lpD3DRM->QueryInterface(IID_IDirect3DRM2, (LPVOID*)&s.lpD3DRM2);
    s.lpD3DRM->Release();
    s.lpD3DRM = nullptr;
    if (result != D3DRM_OK) {
        s.lpD3DRM2 = nullptr;
        LumaxisCleanup();
        return 0;
    }
    return 1;
}

void CreatePalette(LumaxisState& s) {
    OutputDebugStringA("LMX:palettized \n");
    if (!s.lpDD || !s.lpDDSBack || !s.lpDDSPrimary) return;
    HDC dc = GetDC(nullptr);
    GetSystemPaletteEntries(dc, 0, 256, s.palEntries);
    ReleaseDC(nullptr, dc);
    for (int i = 0; i < 256; ++i) {
        bool isStatic = i < kStaticColors || i >= 256 - kStaticColors;
        s.palEntries[i].peFlags = isStatic ? D3DPAL_READONLY : PC_RESERVED;
    }
    s.lpDD->CreatePalette(DDPCAPS_8BIT | DDPCAPS_INITIALIZE, s.palEntries, &s.lpDDPalette, nullptr);
    if (!s.lpDDPalette) return;
    s.lpDDSBack->SetPalette(s.lpDDPalette);
    s.lpDDSPrimary->SetPalette(s.lpDDPalette);
}

void SetQualityForDepth(LumaxisState& s) {
    if (s.bitsPerPixel == 8) {
        s.lpRMDevice2->SetDither(FALSE);
        s.lpRMDevice2->SetQuality(D3DRMRENDER_FLAT);
        s.lpRMDevice2->SetTextureQuality(D3DRMTEXTURE_NEAREST);
        s.lpRMDevice2->SetShades(8);
        return;
    }
    s.lpRMDevice2->SetShades(32);
    s.lpD3DRM2->SetDefaultTextureColors(64);
    s.lpD3DRM2->SetDefaultTextureShades(32);
    s.lpRMDevice2->SetQuality(D3DRMRENDER_GOURAUD);
    s.lpRMDevice2->SetDither(FALSE);
    s.lpRMDevice2->SetTextureQuality(D3DRMTEXTURE_LINEAR);
}

// A 16-bit z-buffer in system memory of the back surface's size, attached to it.
int AttachZBuffer(LumaxisState& s) {
    DDSURFACEDESC desc;
    memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof(DDSURFACEDESC); // see CreateDirectDrawWin
    s.lpDDSBack->GetSurfaceDesc(&desc);
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_ZBUFFERBITDEPTH;
    desc.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY;
    desc.dwZBufferBitDepth = 16;
    s.lpDD->CreateSurface(&desc, &s.lpDDSZBuffer, nullptr);
    // A z-buffer that could not be made fails here, without a report.
    if (!s.lpDDSZBuffer) return 0;
    return s.lpDDSBack->AddAttachedSurface(s.lpDDSZBuffer) == DD_OK;
}

} // namespace

int CreateDirect3DRM(void) {
    return CreateD3DRM();
}

int CreateD3DRM(void) {
    LumaxisState& s = *LMXGetState();
    OutputDebugStringA("LMX:CreateD3DRM\n");
    if (!CreateRetainedMode(s)) return 0;
    if (s.bitsPerPixel == 8) CreatePalette(s);
    if (s.lpD3DDevice2) return 1;

    if (!CreateD3DDevice(s.colorModel)) {
        LumaxisCleanup();
        OutputDebugStringA("LMX:Error:Fail to Direct3D create \n ");
        return 0;
    }
    if (!LMX_CHECK_RM(s.lpD3DRM2->CreateDeviceFromD3D(s.lpD3D2, s.lpD3DDevice2, &s.lpRMDevice2)))
        return 0;

    s.lpRMDevice2->SetBufferCount(2);
    SetQualityForDepth(s);
    return 1;
}

int CreateD3DDevice(D3DCOLORMODEL colorModel) {
    LumaxisState& s = *LMXGetState();
    if (!s.lpDD || !s.lpDDSBack) return 0;
    DeviceSearch search;
    memset(&search, 0, sizeof search);
    search.colorModel = colorModel;

    HRESULT result = s.lpDD->QueryInterface(IID_IDirect3D2, (LPVOID*)&s.lpD3D2);
    if (FAILED(result)) {
        OutputDebugStringA("LMX:Error:Failed to QI Direct3D2 from DirectDraw\n");
        s.lpD3D2 = nullptr;
        s.lpDD->Release();
        s.lpDD = nullptr;
        return 0;
    }

    deviceLatch = FALSE;
    s.lpD3D2->EnumDevices(EnumDeviceCallback, &search);
    // The enumeration only reports; the software devices below are always used.
    char line[kLineSize];
    snprintf(line, sizeof line, "LMX:DeviceGuid %x\n", 0u);
    OutputDebugStringA(line);

    if (!AttachZBuffer(s)) return 0;

    result = s.lpD3D2->CreateDevice(IID_IDirect3DMMXDevice, s.lpDDSBack, &s.lpD3DDevice2);
    if (result == DD_OK) {
        OutputDebugStringA("LMX:Created Direct3DDevice with MMX(HEL)\n");
        return 1;
    }
    s.lpD3DDevice2 = nullptr;
    result = s.lpD3D2->CreateDevice(IID_IDirect3DRampDevice, s.lpDDSBack, &s.lpD3DDevice2);
    OutputDebugStringA("LMX:Created Direct3DDevice with RAMP(HEL)\n");
    if (result != DD_OK) {
        s.lpD3DDevice2 = nullptr;
        OutputDebugStringA("LMX:Failed to Create Direct3DDevice!\n");
        LumaxisCleanup();
        exit(1); // no software device at all: the saver cannot run
    }
    return 1;
}

HRESULT CALLBACK EnumDeviceCallback(LPGUID guid, LPSTR /*description*/, LPSTR name,
                                    LPD3DDEVICEDESC hardware, LPD3DDEVICEDESC emulation,
                                    LPVOID context) {
    if (deviceLatch) return D3DENUMRET_OK;
    DeviceSearch* search = static_cast<DeviceSearch*>(context);
    unsigned data1 = guid ? guid->Data1 : 0;

    if (hardware && (hardware->dcmColorModel & search->colorModel)) {
        // A hardware device without a usable z-buffer depth is passed over entirely.
        if (!(hardware->dwDeviceZBufferBitDepth & (DDBD_32 | DDBD_24 | DDBD_16)))
            return D3DENUMRET_OK;
        memcpy(&search->hardwareDesc, hardware, sizeof(D3DDEVICEDESC));
        search->hardwareGuid = guid;
        SendLine("LMX:HAL DeviceName :%s %x\n", name, data1);
        deviceLatch = TRUE;
        return D3DENUMRET_OK;
    }

    if (emulation && (emulation->dcmColorModel & search->colorModel) && !search->emulationGuid) {
        memcpy(&search->emulationDesc, emulation, sizeof(D3DDEVICEDESC));
        SendLine("LMX:DeviceName :%s %x\n", name, data1);
        search->emulationGuid = guid;
    }
    return D3DENUMRET_OK;
}

int LMXViewport(LPDIRECT3DRMFRAME camera) {
    LumaxisState& s = *LMXGetState();
    OutputDebugStringA("LMX:LMXViewport\n");
    char line[kLineSize];
    snprintf(line, sizeof line, "LMX:Viewport width:%d height:%d\n", s.width, s.height);
    OutputDebugStringA(line);

    // A torn-down layer has nothing to make a viewport with; report it as
    // retained mode would for a missing object rather than calling through null.
    if (!s.lpD3DRM2 || !s.lpRMDevice2) return LMX_CHECK_RM(D3DRMERR_BADOBJECT);

    DWORD w = static_cast<DWORD>(s.width), h = static_cast<DWORD>(s.height);
    if (!LMX_CHECK_RM(s.lpD3DRM2->CreateViewport(s.lpRMDevice2, camera, 0, 0, w, h, &s.lpViewport)))
        return 0;
    OutputDebugStringA("phase 3\n");

    if (!LMX_CHECK_RM(s.lpViewport->SetBack(kBackPlane))) return 0;
    OutputDebugStringA("phase 4\n");
    return 1;
}
