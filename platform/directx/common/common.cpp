// Object counting, failure injection, test switches and the interface identifiers.
#include "dxcommon.h"

#include <cstring>

namespace {

std::atomic<int> g_live{0};

// A handful of pending failures is all a test needs; a fixed table keeps the
// check free of allocation on every call.
struct PendingFailure {
    char operation[48];
    int remaining; // calls of the operation still to let through, plus one
    HRESULT code;
};
constexpr int kMaxFailures = 32;
PendingFailure g_failures[kMaxFailures];
int g_failure_count = 0;

bool g_unpaced = false;
bool g_headless = false;
bool g_full_detail = false;
bool g_mmx_available = true;

std::atomic<DXReleaseHook> g_release_hook{nullptr};
void* g_release_context = nullptr;

} // namespace

namespace dx {

LiveToken::LiveToken() {
    ++g_live;
}
LiveToken::~LiveToken() {
    --g_live;
}

HRESULT injected(const char* operation) {
    if (g_failure_count == 0) return DD_OK;
    HRESULT result = DD_OK;
    for (int i = 0; i < g_failure_count; ++i) {
        PendingFailure& f = g_failures[i];
        if (std::strcmp(f.operation, operation) != 0) continue;
        if (--f.remaining == 0 && result == DD_OK) result = f.code;
    }
    // Drop the failures that have fired.
    int kept = 0;
    for (int i = 0; i < g_failure_count; ++i)
        if (g_failures[i].remaining > 0) g_failures[kept++] = g_failures[i];
    g_failure_count = kept;
    return result;
}

void released(const void* object, ULONG left) {
    if (DXReleaseHook hook = g_release_hook.load(std::memory_order_acquire))
        hook(object, left, g_release_context);
}

bool unpaced() {
    return g_unpaced;
}
bool headless() {
    return g_headless;
}

bool full_detail() {
    return g_full_detail;
}
bool mmx_available() {
    return g_mmx_available;
}

} // namespace dx

int DXTestLiveObjects(void) {
    return g_live.load();
}

void DXTestFailCall(const char* operation, int nth, HRESULT code) {
    if (!operation || nth < 1 || g_failure_count == kMaxFailures) return;
    PendingFailure& f = g_failures[g_failure_count++];
    std::strncpy(f.operation, operation, sizeof f.operation - 1);
    f.operation[sizeof f.operation - 1] = '\0';
    f.remaining = nth;
    f.code = code;
}

void DXTestClearFailures(void) {
    g_failure_count = 0;
}

void DXTestSetReleaseHook(DXReleaseHook hook, void* context) {
    g_release_hook.store(nullptr, std::memory_order_release);
    g_release_context = context;
    g_release_hook.store(hook, std::memory_order_release);
}

void DXTestSetUnpaced(BOOL unpaced) {
    g_unpaced = unpaced != FALSE;
}

void DXTestSetHeadless(BOOL headless) {
    g_headless = headless != FALSE;
}

void DXTestSetFullDetail(BOOL full) {
    g_full_detail = full != FALSE;
}

void DXTestSetMMXAvailable(BOOL available) {
    g_mmx_available = available != FALSE;
}

// ---- Interface identifiers ---------------------------------------------------

const GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID IID_IDirectDraw = {
    0x6C14DB80, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
const GUID IID_IDirectDrawSurface = {
    0x6C14DB81, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
const GUID IID_IDirect3D2 = {
    0x6AAE1EC1, 0x662A, 0x11D0, {0x88, 0x9D, 0x00, 0xAA, 0x00, 0xBB, 0xB7, 0x6A}};
const GUID IID_IDirect3DDevice2 = {
    0x93281501, 0x8CF8, 0x11D0, {0x89, 0xAB, 0x00, 0xA0, 0xC9, 0x05, 0x41, 0x29}};
const GUID IID_IDirect3DRampDevice = {
    0xF2086B20, 0x259F, 0x11CF, {0xA3, 0x1A, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
const GUID IID_IDirect3DRGBDevice = {
    0xA4665C60, 0x2673, 0x11CF, {0xA3, 0x1A, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
const GUID IID_IDirect3DMMXDevice = {
    0x881949A1, 0xD6F3, 0x11D0, {0x89, 0xAB, 0x00, 0xA0, 0xC9, 0x05, 0x41, 0x29}};
const GUID IID_IDirect3DRM = {
    0x2BC49361, 0x8327, 0x11CF, {0xAC, 0x4A, 0x00, 0x00, 0xC0, 0x38, 0x25, 0xA1}};
const GUID IID_IDirect3DRM2 = {
    0x4516ECC8, 0x8F20, 0x11D0, {0x9B, 0x6D, 0x00, 0x00, 0xC0, 0x78, 0x1B, 0xC3}};
const GUID IID_IDirect3DRMFrame = {
    0xEB16CB03, 0xD271, 0x11CE, {0xAC, 0x48, 0x00, 0x00, 0xC0, 0x38, 0x25, 0xA1}};
const GUID IID_IDirect3DRMFrame2 = {
    0xC3DFBD60, 0x3988, 0x11D0, {0x9E, 0xC2, 0x00, 0x00, 0xC0, 0x29, 0x1A, 0xC3}};
const GUID IID_IDirect3DRMMeshBuilder = {
    0xA3A80D01, 0x6E12, 0x11CF, {0xAC, 0x4A, 0x00, 0x00, 0xC0, 0x38, 0x25, 0xA1}};
const GUID IID_IDirect3DRMMeshBuilder2 = {
    0x4516EC77, 0x8F20, 0x11D0, {0x9B, 0x6D, 0x00, 0x00, 0xC0, 0x78, 0x1B, 0xC3}};
const GUID IID_IDirect3DRMDevice = {
    0xE9E19280, 0x6E05, 0x11CF, {0xAC, 0x4A, 0x00, 0x00, 0xC0, 0x38, 0x25, 0xA1}};
const GUID IID_IDirect3DRMDevice2 = {
    0x4516EC78, 0x8F20, 0x11D0, {0x9B, 0x6D, 0x00, 0x00, 0xC0, 0x78, 0x1B, 0xC3}};
const GUID IID_IDirect3DRMViewport = {
    0xEB16CB02, 0xD271, 0x11CE, {0xAC, 0x48, 0x00, 0x00, 0xC0, 0x38, 0x25, 0xA1}};
