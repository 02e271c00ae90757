// Seams of the graphics stand-in, used only by tests and benchmarks.
#pragma once

#include "d3drm.h"

// Number of stand-in objects alive (every interface object counts itself).
int DXTestLiveObjects(void);

// Make the nth next call (1 = the very next) of the named operation fail with
// the given code, e.g. DXTestFailCall("SetHWnd", 1, DDERR_GENERIC). Operation
// names are the SDK's: "DirectDrawCreate", "SetCooperativeLevel", "CreateSurface",
// "CreateClipper", "SetHWnd", "SetClipper", "QueryInterface", "EnumDevices",
// "AddAttachedSurface", "CreateDevice", "Direct3DRMCreate", "CreateDeviceFromD3D",
// "CreateViewport", "SetBack", "Move", "Clear", "Render", "Update", "Blt", ...
void DXTestFailCall(const char* operation, int nth, HRESULT code);
void DXTestClearFailures(void);

// Called at every Release of a stand-in object with the address of the whole
// object (dynamic_cast<const void*> of any of its interfaces) and the references
// left, before a last release deletes it; null stops it. Shows the order of releases.
typedef void (*DXReleaseHook)(const void* object, ULONG left, void* context);
void DXTestSetReleaseHook(DXReleaseHook hook, void* context);

// Primary surfaces created afterwards present without pacing (tests, benchmarks).
void DXTestSetUnpaced(BOOL unpaced);

// Primary surfaces created afterwards keep their pixels in memory only and show
// nothing (headless benchmarks); Lock still reads them.
void DXTestSetHeadless(BOOL headless);

// Meshes created afterwards are always drawn whole: no simplified copies are made for
// frames where their triangles fall below a pixel (to compare pictures and costs).
void DXTestSetFullDetail(BOOL full);

// Mark every live surface as lost until it is restored.
void DXTestLoseSurfaces(void);
// Mark one surface as lost until it is restored (e.g. only the primary).
void DXTestLoseSurface(IDirectDrawSurface* surface);

// Whether the MMX emulation device can be created (to reach the ramp fallback).
void DXTestSetMMXAvailable(BOOL available);

// Extra device reported first by EnumDevices, e.g. a hardware device.
void DXTestAddDevice(const GUID& guid, const char* name, const D3DDEVICEDESC& hardware,
                     const D3DDEVICEDESC& emulation);
void DXTestClearDevices(void);
