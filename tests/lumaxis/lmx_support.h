// Shared by the device-layer and scene tests: a headless window, captured
// debug output, the stand-in reset between tests, and report parsing.
#pragma once

#include <lumaxis/lumaxis.h>

#include <gtest/gtest.h>

#include <string>

// Collects everything sent to the debug output while alive.
struct DebugCapture {
    DebugCapture();
    ~DebugCapture();
    const std::string& Text() const { return text; }
    void Clear() { text.clear(); }
    std::string text;
};

// A two-line error report as the layer sends it.
struct Report {
    std::string heading; // "DirectDraw Error NAME" or "Direct3D-RM Error : NAME"
    std::string path;
    int line = 0;
};
// The first report in the text has this heading and points at a source line
// holding callText.
::testing::AssertionResult ReportsAt(const std::string& text, const std::string& heading,
                                     const char* callText, Report* report = nullptr);

// Base for tests that bring the layer up on a headless window of the given
// size and depth; tears everything down and checks for leaks afterwards.
class LayerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    HWND Window();
    // Reset and surfaces; 3D device; a viewport on a fresh camera frame.
    bool BringUpSurfaces();
    bool BringUpDevice();
    bool BringUpViewport();
    LumaxisState& State() { return *LMXGetState(); }

    DebugCapture debug;
    LPDIRECT3DRMFRAME2 root = nullptr;   // scene root for viewport tests
    LPDIRECT3DRMFRAME2 camera = nullptr; // child of root
    // Set before the window is made: the display, and where the window goes
    // when it isn't to cover the display.
    struct {
        int width = 640, height = 480, bits = 32;
    } display;
    RECT place = {};

  private:
    HWND window_ = nullptr;
};

// Every interface pointer of the layer, for "all released" checks.
bool AllInterfacesNull(const LumaxisState& s);
