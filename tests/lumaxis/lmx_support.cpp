#include "lmx_support.h"

#include <dxtest.h>
#include <win32ext.h>

#include <fstream>
#include <regex>

DebugCapture::DebugCapture() {
    Win32TestSetDebugSink(
        [](const char* text, void* self) { static_cast<DebugCapture*>(self)->text += text; }, this);
}

DebugCapture::~DebugCapture() {
    Win32TestSetDebugSink(nullptr, nullptr);
}

::testing::AssertionResult ReportsAt(const std::string& text, const std::string& heading,
                                     const char* callText, Report* out) {
    static const std::regex pattern(
        "((?:DirectDraw Error|Direct3D-RM Error :) [^\\n]*)\\nin file (.*) at line (-?[0-9]+)\\n");
    std::smatch match;
    if (!std::regex_search(text, match, pattern)) return ::testing::AssertionFailure() << text;
    Report report{match[1], match[2], std::stoi(match[3])};
    if (out) *out = report;
    if (report.heading != heading) return ::testing::AssertionFailure() << report.heading;
    std::ifstream in(report.path);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n)
        if (n == report.line && line.find(callText) != std::string::npos)
            return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << report.path << ":" << report.line << " lacks " << callText;
}

namespace {
const char kClassName[] = "LumaxisTestWindow";
} // namespace

void LayerTest::SetUp() {
    DXTestClearFailures();
    DXTestClearDevices();
    DXTestSetMMXAvailable(TRUE);
    DXTestSetUnpaced(TRUE);
    DXTestSetHeadless(TRUE);
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = kClassName;
        registered = RegisterClassA(&wc) != 0;
    }
    ASSERT_EQ(DXTestLiveObjects(), 0) << "objects left over from an earlier test";
}

void LayerTest::TearDown() {
    if (camera) camera->Release();
    if (root) root->Release();
    LumaxisCleanup();
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    DXTestClearFailures();
    DXTestClearDevices();
    EXPECT_EQ(DXTestLiveObjects(), 0) << "objects outlived the teardown";
}

HWND LayerTest::Window() {
    if (!window_) {
        Win32TestSetDisplay(display.width, display.height, display.bits);
        RECT r = place.right > place.left ? place : RECT{0, 0, display.width, display.height};
        window_ =
            CreateWindowExA(0, kClassName, kClassName, WS_POPUP, r.left, r.top, r.right - r.left,
                            r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
        if (window_) ShowWindow(window_, SW_SHOW);
    }
    return window_;
}

bool LayerTest::BringUpSurfaces() {
    LumaxisInitialize();
    return CreateDirectDrawWin(Window()) == 1;
}

bool LayerTest::BringUpDevice() {
    return BringUpSurfaces() && CreateDirect3DRM() == 1;
}

bool LayerTest::BringUpViewport() {
    if (camera) camera->Release();
    if (root) root->Release();
    camera = root = nullptr;
    if (!BringUpDevice()) return false;
    LPDIRECT3DRM2 rm = State().lpD3DRM2;
    if (rm->CreateFrame(nullptr, &root) != D3DRM_OK) return false;
    if (rm->CreateFrame(root, &camera) != D3DRM_OK) return false;
    return LMXViewport(camera) == 1;
}

bool AllInterfacesNull(const LumaxisState& s) {
    return !s.lpDD && !s.lpD3D2 && !s.lpD3DRM2 && !s.lpD3DRM && !s.lpDDSPrimary && !s.lpDDSBack &&
           !s.lpDDSZBuffer && !s.lpDDPalette && !s.lpDDClipper && !s.lpD3DDevice2 &&
           !s.lpRMDevice2 && !s.lpViewport;
}
