// Retained Mode stand-in: frames, lights, mesh builder and mesh, device and
// viewport, rendered by our own software rasterizer.
#pragma once

#include "d3d.h"

// ---- Result codes ----------------------------------------------------------

#define D3DRM_OK DD_OK
#define D3DRMERR_BADOBJECT MAKE_DDHRESULT(781)
#define D3DRMERR_BADTYPE MAKE_DDHRESULT(782)
#define D3DRMERR_BADALLOC MAKE_DDHRESULT(783)
#define D3DRMERR_FACEUSED MAKE_DDHRESULT(784)
#define D3DRMERR_NOTFOUND MAKE_DDHRESULT(785)
#define D3DRMERR_NOTDONEYET MAKE_DDHRESULT(786)
#define D3DRMERR_FILENOTFOUND MAKE_DDHRESULT(787)
#define D3DRMERR_BADFILE MAKE_DDHRESULT(788)
#define D3DRMERR_BADDEVICE MAKE_DDHRESULT(789)
#define D3DRMERR_BADVALUE MAKE_DDHRESULT(790)
#define D3DRMERR_BADMAJORVERSION MAKE_DDHRESULT(791)
#define D3DRMERR_BADMINORVERSION MAKE_DDHRESULT(792)
#define D3DRMERR_UNABLETOEXECUTE MAKE_DDHRESULT(793)

// ---- Types and constants -----------------------------------------------------

typedef DWORD D3DRMRENDERQUALITY;
#define D3DRMSHADE_FLAT 0
#define D3DRMSHADE_GOURAUD 1
#define D3DRMSHADE_PHONG 2
#define D3DRMSHADE_MASK 7
#define D3DRMLIGHT_OFF 0
#define D3DRMLIGHT_ON 8
#define D3DRMLIGHT_MASK 56
#define D3DRMFILL_POINTS 0
#define D3DRMFILL_WIREFRAME 64
#define D3DRMFILL_SOLID 128
#define D3DRMFILL_MASK 448
#define D3DRMRENDER_WIREFRAME (D3DRMSHADE_FLAT | D3DRMLIGHT_OFF | D3DRMFILL_WIREFRAME)
#define D3DRMRENDER_UNLITFLAT (D3DRMSHADE_FLAT | D3DRMLIGHT_OFF | D3DRMFILL_SOLID)
#define D3DRMRENDER_FLAT (D3DRMSHADE_FLAT | D3DRMLIGHT_ON | D3DRMFILL_SOLID)
#define D3DRMRENDER_GOURAUD (D3DRMSHADE_GOURAUD | D3DRMLIGHT_ON | D3DRMFILL_SOLID)
#define D3DRMRENDER_PHONG (D3DRMSHADE_PHONG | D3DRMLIGHT_ON | D3DRMFILL_SOLID)

typedef DWORD D3DRMTEXTUREQUALITY;
#define D3DRMTEXTURE_NEAREST 0
#define D3DRMTEXTURE_LINEAR 1

typedef enum _D3DRMLIGHTTYPE {
    D3DRMLIGHT_AMBIENT = 0,
    D3DRMLIGHT_POINT = 1,
    D3DRMLIGHT_SPOT = 2,
    D3DRMLIGHT_DIRECTIONAL = 3,
    D3DRMLIGHT_PARALLELPOINT = 4
} D3DRMLIGHTTYPE;

typedef DWORD D3DRMLOADOPTIONS;
#define D3DRMLOAD_FROMFILE 0x00L
#define D3DRMLOAD_FIRST 0x00L

typedef struct _D3DRMBOX {
    D3DVECTOR min;
    D3DVECTOR max;
} D3DRMBOX, *LPD3DRMBOX;

#define RGBA_MAKE(r, g, b, a)                                                                      \
    ((D3DCOLOR)(((DWORD)(BYTE)(a) << 24) | ((DWORD)(BYTE)(r) << 16) | ((DWORD)(BYTE)(g) << 8) |    \
                (DWORD)(BYTE)(b)))

// ---- Interfaces ------------------------------------------------------------

struct IDirect3DRM;
struct IDirect3DRM2;
struct IDirect3DRMObject;
struct IDirect3DRMVisual;
struct IDirect3DRMFrame;
struct IDirect3DRMFrame2;
struct IDirect3DRMLight;
struct IDirect3DRMMesh;
struct IDirect3DRMMeshBuilder;
struct IDirect3DRMMeshBuilder2;
struct IDirect3DRMDevice;
struct IDirect3DRMDevice2;
struct IDirect3DRMViewport;
struct IDirect3DRMTexture;
typedef IDirect3DRM* LPDIRECT3DRM;
typedef IDirect3DRM2* LPDIRECT3DRM2;
typedef IDirect3DRMObject* LPDIRECT3DRMOBJECT;
typedef IDirect3DRMVisual* LPDIRECT3DRMVISUAL;
typedef IDirect3DRMFrame* LPDIRECT3DRMFRAME;
typedef IDirect3DRMFrame2* LPDIRECT3DRMFRAME2;
typedef IDirect3DRMLight* LPDIRECT3DRMLIGHT;
typedef IDirect3DRMMesh* LPDIRECT3DRMMESH;
typedef IDirect3DRMMeshBuilder* LPDIRECT3DRMMESHBUILDER;
typedef IDirect3DRMMeshBuilder2* LPDIRECT3DRMMESHBUILDER2;
typedef IDirect3DRMDevice* LPDIRECT3DRMDEVICE;
typedef IDirect3DRMDevice2* LPDIRECT3DRMDEVICE2;
typedef IDirect3DRMViewport* LPDIRECT3DRMVIEWPORT;
typedef IDirect3DRMTexture* LPDIRECT3DRMTEXTURE;

typedef HRESULT(CALLBACK* D3DRMLOADTEXTURECALLBACK)(char* name, void* arg,
                                                    LPDIRECT3DRMTEXTURE* texture);

extern const GUID IID_IDirect3DRM;
extern const GUID IID_IDirect3DRM2;
extern const GUID IID_IDirect3DRMFrame;
extern const GUID IID_IDirect3DRMFrame2;
extern const GUID IID_IDirect3DRMMeshBuilder;
extern const GUID IID_IDirect3DRMMeshBuilder2;
extern const GUID IID_IDirect3DRMDevice;
extern const GUID IID_IDirect3DRMDevice2;
extern const GUID IID_IDirect3DRMViewport;

struct IDirect3DRMObject : IUnknown {};

struct IDirect3DRMVisual : IDirect3DRMObject {};

struct IDirect3DRMLight : IDirect3DRMObject {
    virtual HRESULT SetColorRGB(D3DVALUE red, D3DVALUE green, D3DVALUE blue) = 0;
    virtual D3DRMLIGHTTYPE GetType() = 0;
};

struct IDirect3DRMMesh : IDirect3DRMVisual {
    virtual unsigned GetGroupCount() = 0;
};

struct IDirect3DRMMeshBuilder : IDirect3DRMVisual {
    virtual HRESULT Load(LPVOID filename, LPVOID name, D3DRMLOADOPTIONS flags,
                         D3DRMLOADTEXTURECALLBACK loadTexture, LPVOID arg) = 0;
    virtual HRESULT GetBox(LPD3DRMBOX box) = 0;
    virtual HRESULT Scale(D3DVALUE sx, D3DVALUE sy, D3DVALUE sz) = 0;
    virtual HRESULT Translate(D3DVALUE tx, D3DVALUE ty, D3DVALUE tz) = 0;
    virtual HRESULT SetQuality(D3DRMRENDERQUALITY quality) = 0;
    virtual D3DRMRENDERQUALITY GetQuality() = 0;
    virtual HRESULT SetColor(D3DCOLOR color) = 0;
    virtual HRESULT CreateMesh(LPDIRECT3DRMMESH* mesh) = 0;
    virtual int GetFaceCount() = 0;
    virtual DWORD GetVertexCount() = 0;
};

struct IDirect3DRMMeshBuilder2 : IDirect3DRMMeshBuilder {};

struct IDirect3DRMFrame : IDirect3DRMVisual {
    virtual HRESULT AddChild(LPDIRECT3DRMFRAME child) = 0;
    virtual HRESULT AddLight(LPDIRECT3DRMLIGHT light) = 0;
    virtual HRESULT AddVisual(LPDIRECT3DRMVISUAL visual) = 0;
    virtual HRESULT GetParent(LPDIRECT3DRMFRAME* parent) = 0;
    virtual HRESULT GetPosition(LPDIRECT3DRMFRAME reference, LPD3DVECTOR position) = 0;
    virtual HRESULT SetPosition(LPDIRECT3DRMFRAME reference, D3DVALUE x, D3DVALUE y,
                                D3DVALUE z) = 0;
    virtual HRESULT SetOrientation(LPDIRECT3DRMFRAME reference, D3DVALUE dx, D3DVALUE dy,
                                   D3DVALUE dz, D3DVALUE ux, D3DVALUE uy, D3DVALUE uz) = 0;
    virtual HRESULT GetOrientation(LPDIRECT3DRMFRAME reference, LPD3DVECTOR dir,
                                   LPD3DVECTOR up) = 0;
    virtual HRESULT SetVelocity(LPDIRECT3DRMFRAME reference, D3DVALUE x, D3DVALUE y, D3DVALUE z,
                                BOOL withRotation) = 0;
    virtual HRESULT SetRotation(LPDIRECT3DRMFRAME reference, D3DVALUE x, D3DVALUE y, D3DVALUE z,
                                D3DVALUE theta) = 0;
    virtual HRESULT Move(D3DVALUE delta) = 0;
};

struct IDirect3DRMFrame2 : IDirect3DRMFrame {};

struct IDirect3DRMDevice : IDirect3DRMObject {
    virtual HRESULT SetBufferCount(DWORD count) = 0;
    virtual HRESULT SetShades(DWORD shades) = 0;
    virtual HRESULT SetDither(BOOL dither) = 0;
    virtual HRESULT SetQuality(D3DRMRENDERQUALITY quality) = 0;
    virtual HRESULT SetTextureQuality(D3DRMTEXTUREQUALITY quality) = 0;
    virtual D3DRMRENDERQUALITY GetQuality() = 0;
    virtual DWORD GetWidth() = 0;
    virtual DWORD GetHeight() = 0;
    virtual HRESULT Update() = 0;
};

struct IDirect3DRMDevice2 : IDirect3DRMDevice {};

struct IDirect3DRMViewport : IDirect3DRMObject {
    virtual HRESULT Clear() = 0;
    virtual HRESULT Render(LPDIRECT3DRMFRAME frame) = 0;
    virtual HRESULT ForceUpdate(DWORD x1, DWORD y1, DWORD x2, DWORD y2) = 0;
    virtual HRESULT SetBack(D3DVALUE back) = 0;
    virtual HRESULT SetFront(D3DVALUE front) = 0;
    virtual HRESULT SetField(D3DVALUE field) = 0;
    virtual D3DVALUE GetBack() = 0;
    virtual D3DVALUE GetFront() = 0;
    virtual D3DVALUE GetField() = 0;
};

struct IDirect3DRM : IUnknown {
    virtual HRESULT CreateFrame(LPDIRECT3DRMFRAME parent, LPDIRECT3DRMFRAME* frame) = 0;
};

struct IDirect3DRM2 : IUnknown {
    virtual HRESULT CreateFrame(LPDIRECT3DRMFRAME parent, LPDIRECT3DRMFRAME2* frame) = 0;
    virtual HRESULT CreateMeshBuilder(LPDIRECT3DRMMESHBUILDER2* builder) = 0;
    virtual HRESULT CreateLightRGB(D3DRMLIGHTTYPE type, D3DVALUE red, D3DVALUE green, D3DVALUE blue,
                                   LPDIRECT3DRMLIGHT* light) = 0;
    virtual HRESULT CreateDeviceFromD3D(LPDIRECT3D2 d3d, LPDIRECT3DDEVICE2 device,
                                        LPDIRECT3DRMDEVICE2* rmDevice) = 0;
    virtual HRESULT CreateViewport(LPDIRECT3DRMDEVICE device, LPDIRECT3DRMFRAME camera, DWORD x,
                                   DWORD y, DWORD width, DWORD height,
                                   LPDIRECT3DRMVIEWPORT* viewport) = 0;
    virtual HRESULT SetDefaultTextureColors(DWORD colors) = 0;
    virtual HRESULT SetDefaultTextureShades(DWORD shades) = 0;
};

HRESULT WINAPI Direct3DRMCreate(LPDIRECT3DRM* d3drm);
