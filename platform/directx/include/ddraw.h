// DirectDraw stand-in: surfaces in system memory, clipper, palette, and a
// primary surface presented through the SDL window of the owning HWND.
#pragma once

#include "unknwn.h"

// ---- Result codes ----------------------------------------------------------

#define _FACDD 0x876
#define MAKE_DDHRESULT(code) ((HRESULT)(0x88760000u | (uint32_t)(code)))

#define DD_OK ((HRESULT)0)
#define DDERR_GENERIC E_FAIL
#define DDERR_UNSUPPORTED E_NOTIMPL
#define DDERR_OUTOFMEMORY E_OUTOFMEMORY
#define DDERR_INVALIDPARAMS E_INVALIDARG
#define DDERR_NOTINITIALIZED ((HRESULT)0x800401F0)
#define DDERR_ALREADYINITIALIZED MAKE_DDHRESULT(5)
#define DDERR_CANNOTATTACHSURFACE MAKE_DDHRESULT(10)
#define DDERR_INVALIDCAPS MAKE_DDHRESULT(100)
#define DDERR_INVALIDOBJECT MAKE_DDHRESULT(130)
#define DDERR_INVALIDPIXELFORMAT MAKE_DDHRESULT(145)
#define DDERR_INVALIDRECT MAKE_DDHRESULT(150)
#define DDERR_NOTFOUND MAKE_DDHRESULT(255)
#define DDERR_NOZBUFFERHW MAKE_DDHRESULT(340)
#define DDERR_SURFACEALREADYATTACHED MAKE_DDHRESULT(410)
#define DDERR_SURFACEBUSY MAKE_DDHRESULT(430)
#define DDERR_SURFACELOST MAKE_DDHRESULT(450)
#define DDERR_SURFACENOTATTACHED MAKE_DDHRESULT(460)
#define DDERR_TOOBIGSIZE MAKE_DDHRESULT(480)
#define DDERR_UNSUPPORTEDFORMAT MAKE_DDHRESULT(510)
#define DDERR_WASSTILLDRAWING MAKE_DDHRESULT(540)
#define DDERR_PRIMARYSURFACEALREADYEXISTS MAKE_DDHRESULT(564)
#define DDERR_NOCLIPPERATTACHED MAKE_DDHRESULT(568)
#define DDERR_NOHWND MAKE_DDHRESULT(569)
#define DDERR_HWNDALREADYSET MAKE_DDHRESULT(571)
#define DDERR_NOPALETTEATTACHED MAKE_DDHRESULT(572)
#define DDERR_NOTPALETTIZED MAKE_DDHRESULT(589)
#define DDERR_NOCOOPERATIVELEVELSET MAKE_DDHRESULT(212)
#define DDERR_NOSTRETCHHW MAKE_DDHRESULT(310)
#define DDERR_CANTLOCKSURFACE MAKE_DDHRESULT(435)
#define DDERR_INVALIDDIRECTDRAWGUID MAKE_DDHRESULT(561)
#define DDERR_NODIRECTDRAWHW MAKE_DDHRESULT(563)
#define DDERR_NOTLOCKED MAKE_DDHRESULT(584)
#define DDERR_INVALIDSURFACETYPE MAKE_DDHRESULT(592)

// ---- Structures ------------------------------------------------------------

typedef struct _DDCOLORKEY {
    DWORD dwColorSpaceLowValue;
    DWORD dwColorSpaceHighValue;
} DDCOLORKEY;

typedef struct _DDSCAPS {
    DWORD dwCaps;
} DDSCAPS, *LPDDSCAPS;

typedef struct _DDPIXELFORMAT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwFourCC;
    union {
        DWORD dwRGBBitCount;
        DWORD dwZBufferBitDepth;
    };
    union {
        DWORD dwRBitMask;
    };
    union {
        DWORD dwGBitMask;
    };
    union {
        DWORD dwBBitMask;
    };
    union {
        DWORD dwRGBAlphaBitMask;
    };
} DDPIXELFORMAT, *LPDDPIXELFORMAT;

typedef struct _DDSURFACEDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwHeight;
    DWORD dwWidth;
    union {
        LONG lPitch;
        DWORD dwLinearSize;
    };
    DWORD dwBackBufferCount;
    union {
        DWORD dwMipMapCount;
        DWORD dwZBufferBitDepth;
        DWORD dwRefreshRate;
    };
    DWORD dwAlphaBitDepth;
    DWORD dwReserved;
    LPVOID lpSurface;
    DDCOLORKEY ddckCKDestOverlay;
    DDCOLORKEY ddckCKDestBlt;
    DDCOLORKEY ddckCKSrcOverlay;
    DDCOLORKEY ddckCKSrcBlt;
    DDPIXELFORMAT ddpfPixelFormat;
    DDSCAPS ddsCaps;
} DDSURFACEDESC, *LPDDSURFACEDESC;

// The platform's 32-bit size of DDSURFACEDESC. Callers may pass it or sizeof(DDSURFACEDESC).
#define DDSURFACEDESC_SIZE_32 108

#define DDSD_CAPS 0x00000001l
#define DDSD_HEIGHT 0x00000002l
#define DDSD_WIDTH 0x00000004l
#define DDSD_PITCH 0x00000008l
#define DDSD_BACKBUFFERCOUNT 0x00000020l
#define DDSD_ZBUFFERBITDEPTH 0x00000040l
#define DDSD_LPSURFACE 0x00000800l
#define DDSD_PIXELFORMAT 0x00001000l

#define DDSCAPS_BACKBUFFER 0x00000004l
#define DDSCAPS_COMPLEX 0x00000008l
#define DDSCAPS_FLIP 0x00000010l
#define DDSCAPS_FRONTBUFFER 0x00000020l
#define DDSCAPS_OFFSCREENPLAIN 0x00000040l
#define DDSCAPS_PALETTE 0x00000100l
#define DDSCAPS_PRIMARYSURFACE 0x00000200l
#define DDSCAPS_SYSTEMMEMORY 0x00000800l
#define DDSCAPS_3DDEVICE 0x00002000l
#define DDSCAPS_VIDEOMEMORY 0x00004000l
#define DDSCAPS_ZBUFFER 0x00020000l

#define DDPF_ALPHAPIXELS 0x00000001l
#define DDPF_PALETTEINDEXED8 0x00000020l
#define DDPF_RGB 0x00000040l
#define DDPF_ZBUFFER 0x00000400l

#define DDSCL_FULLSCREEN 0x00000001l
#define DDSCL_NORMAL 0x00000008l
#define DDSCL_EXCLUSIVE 0x00000010l

#define DDBLT_WAIT 0x01000000l

#define DDLOCK_WAIT 0x00000001l
#define DDLOCK_READONLY 0x00000010l

#define DDPCAPS_8BIT 0x00000004l
#define DDPCAPS_INITIALIZE 0x00000008l
#define DDPCAPS_ALLOW256 0x00000040l

#define DDBD_8 0x00000800l
#define DDBD_16 0x00000400l
#define DDBD_24 0x00000200l
#define DDBD_32 0x00000100l

typedef struct _DDBLTFX DDBLTFX, *LPDDBLTFX;

// ---- Interfaces ------------------------------------------------------------

struct IDirectDraw;
struct IDirectDrawSurface;
struct IDirectDrawClipper;
struct IDirectDrawPalette;
typedef IDirectDraw* LPDIRECTDRAW;
typedef IDirectDrawSurface* LPDIRECTDRAWSURFACE;
typedef IDirectDrawClipper* LPDIRECTDRAWCLIPPER;
typedef IDirectDrawPalette* LPDIRECTDRAWPALETTE;

extern const GUID IID_IDirectDraw;
extern const GUID IID_IDirectDrawSurface;

struct IDirectDraw : IUnknown {
    virtual HRESULT SetCooperativeLevel(HWND hwnd, DWORD flags) = 0;
    virtual HRESULT CreateSurface(LPDDSURFACEDESC desc, LPDIRECTDRAWSURFACE* surface,
                                  IUnknown* outer) = 0;
    virtual HRESULT CreateClipper(DWORD flags, LPDIRECTDRAWCLIPPER* clipper, IUnknown* outer) = 0;
    virtual HRESULT CreatePalette(DWORD flags, LPPALETTEENTRY entries, LPDIRECTDRAWPALETTE* palette,
                                  IUnknown* outer) = 0;
};

struct IDirectDrawSurface : IUnknown {
    virtual HRESULT Blt(LPRECT destRect, LPDIRECTDRAWSURFACE source, LPRECT sourceRect, DWORD flags,
                        LPDDBLTFX fx) = 0;
    virtual HRESULT IsLost() = 0;
    virtual HRESULT Restore() = 0;
    virtual HRESULT GetSurfaceDesc(LPDDSURFACEDESC desc) = 0;
    virtual HRESULT AddAttachedSurface(LPDIRECTDRAWSURFACE surface) = 0;
    virtual HRESULT SetClipper(LPDIRECTDRAWCLIPPER clipper) = 0;
    virtual HRESULT SetPalette(LPDIRECTDRAWPALETTE palette) = 0;
    virtual HRESULT Lock(LPRECT rect, LPDDSURFACEDESC desc, DWORD flags, HANDLE event) = 0;
    virtual HRESULT Unlock(LPVOID surfaceData) = 0;
};

struct IDirectDrawClipper : IUnknown {
    virtual HRESULT SetHWnd(DWORD flags, HWND hwnd) = 0;
    virtual HRESULT GetHWnd(HWND* hwnd) = 0;
};

struct IDirectDrawPalette : IUnknown {
    virtual HRESULT GetEntries(DWORD flags, DWORD base, DWORD count, LPPALETTEENTRY entries) = 0;
    virtual HRESULT SetEntries(DWORD flags, DWORD start, DWORD count, LPPALETTEENTRY entries) = 0;
};

HRESULT WINAPI DirectDrawCreate(GUID* driverGuid, LPDIRECTDRAW* directDraw, IUnknown* outer);
