// Scene tests: a layer on a headless window plus a private settings folder,
// model fixtures written by the tests, and a look at the rendered pixels.
#pragma once

#include "lmx_support.h"
#include "scene.h"
#include "plumora.h"

#include <string>

class SceneTest : public LayerTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Replaces the settings file with these lines.
    void WriteSettings(const std::string& text);
    // Writes a file in the test's folder and returns its path.
    std::string WriteFile(const std::string& name, const std::string& content);

    std::string dir;
};

// A text .x box of the given size centred on the origin, or on (x, 0, 0).
std::string BoxModel(double width, double height, double depth, double x = 0);

// Pixels of the surface that aren't black.
long LitPixels(LPDIRECTDRAWSURFACE surface);
