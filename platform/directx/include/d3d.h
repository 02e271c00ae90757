// Direct3D immediate-mode stand-in: device enumeration and the software
// emulation devices that render into a DirectDraw surface.
#pragma once

#include "ddraw.h"

typedef float D3DVALUE;
typedef DWORD D3DCOLOR;
typedef LONG D3DCOLORMODEL;

#define D3DCOLOR_MONO 1
#define D3DCOLOR_RGB 2

// Palette entry flags for the renderer (peFlags): read-only entries are used but
// never changed; free and PC_RESERVED entries may be set by the renderer.
#define D3DPAL_FREE 0x00
#define D3DPAL_READONLY 0x40
#define D3DPAL_RESERVED 0x80
#ifndef PC_RESERVED
#define PC_RESERVED 0x01
#endif

#define D3DENUMRET_CANCEL 0
#define D3DENUMRET_OK 1

typedef struct _D3DVECTOR {
    D3DVALUE x;
    D3DVALUE y;
    D3DVALUE z;
} D3DVECTOR, *LPD3DVECTOR;

typedef struct _D3DTRANSFORMCAPS {
    DWORD dwSize;
    DWORD dwCaps;
} D3DTRANSFORMCAPS;

typedef struct _D3DLIGHTINGCAPS {
    DWORD dwSize;
    DWORD dwCaps;
    DWORD dwLightingModel;
    DWORD dwNumLights;
} D3DLIGHTINGCAPS;

typedef struct _D3DPrimCaps {
    DWORD dwSize;
    DWORD dwMiscCaps;
    DWORD dwRasterCaps;
    DWORD dwZCmpCaps;
    DWORD dwSrcBlendCaps;
    DWORD dwDestBlendCaps;
    DWORD dwAlphaCmpCaps;
    DWORD dwShadeCaps;
    DWORD dwTextureCaps;
    DWORD dwTextureFilterCaps;
    DWORD dwTextureBlendCaps;
    DWORD dwTextureAddressCaps;
    DWORD dwStippleWidth;
    DWORD dwStippleHeight;
} D3DPRIMCAPS;

// The Direct3D 5 layout (204 bytes).
typedef struct _D3DDeviceDesc {
    DWORD dwSize;
    DWORD dwFlags;
    D3DCOLORMODEL dcmColorModel;
    DWORD dwDevCaps;
    D3DTRANSFORMCAPS dtcTransformCaps;
    BOOL bClipping;
    D3DLIGHTINGCAPS dlcLightingCaps;
    D3DPRIMCAPS dpcLineCaps;
    D3DPRIMCAPS dpcTriCaps;
    DWORD dwDeviceRenderBitDepth;
    DWORD dwDeviceZBufferBitDepth;
    DWORD dwMaxBufferSize;
    DWORD dwMaxVertexCount;
    DWORD dwMinTextureWidth, dwMinTextureHeight;
    DWORD dwMaxTextureWidth, dwMaxTextureHeight;
    DWORD dwMinStippleWidth, dwMaxStippleWidth;
    DWORD dwMinStippleHeight, dwMaxStippleHeight;
} D3DDEVICEDESC, *LPD3DDEVICEDESC;
static_assert(sizeof(D3DDEVICEDESC) == 204, "D3DDEVICEDESC must keep the Direct3D 5 layout");

#define D3DDD_COLORMODEL 0x00000001l
#define D3DDD_DEVICEZBUFFERBITDEPTH 0x00000100l

typedef HRESULT(CALLBACK* LPD3DENUMDEVICESCALLBACK)(LPGUID guid, LPSTR description, LPSTR name,
                                                    LPD3DDEVICEDESC hardware,
                                                    LPD3DDEVICEDESC emulation, LPVOID context);

struct IDirect3D2;
struct IDirect3DDevice2;
typedef IDirect3D2* LPDIRECT3D2;
typedef IDirect3DDevice2* LPDIRECT3DDEVICE2;

extern const GUID IID_IDirect3D2;
extern const GUID IID_IDirect3DDevice2;
extern const GUID IID_IDirect3DRampDevice;
extern const GUID IID_IDirect3DRGBDevice;
extern const GUID IID_IDirect3DMMXDevice;

struct IDirect3D2 : IUnknown {
    virtual HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK callback, LPVOID context) = 0;
    virtual HRESULT CreateDevice(REFCLSID deviceGuid, LPDIRECTDRAWSURFACE surface,
                                 LPDIRECT3DDEVICE2* device) = 0;
};

// The immediate-mode device is only handed on to Retained Mode.
struct IDirect3DDevice2 : IUnknown {
    virtual HRESULT GetRenderTarget(LPDIRECTDRAWSURFACE* surface) = 0;
};
