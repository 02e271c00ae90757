// Scene construction from the settings, and the render pass over it.
#include "scene_support.h"

#include <dxtest.h>

#include <fstream>
#include <sys/stat.h>

namespace {

class Scene : public SceneTest {
  protected:
    // Layer up to the device, as the saver's start leaves it before the scene.
    void SetUp() override {
        SceneTest::SetUp();
        ASSERT_TRUE(BringUpDevice());
        debug.Clear();
    }
    // A fresh scene on a fresh layer.
    void Restart() {
        SceneRelease();
        LumaxisCleanup();
        ASSERT_TRUE(BringUpDevice());
    }
    std::string Settings(const std::string& model) {
        return "[SS_SECTION]\nSPEED=5\n[SETTING]\nFILENAME=" + model + "\n";
    }
};

TEST_F(Scene, ScalesTheLargerOfWidthAndHeightToThreeUnits) {
    struct Case {
        const char* name;
        double w, h, d, scale;
        double at, centre; // the box's x in the file, and once fitted
    };
    // Off its origin the model is centred first; within a fraction of a pixel it is left alone.
    const Case cases[] = {{"wide.x", 4, 2, 1, 0.75, 0, 0},
                          {"tall.x", 1, 5, 1, 0.6, 0, 0},
                          {"deep.x", 1, 0.5, 10, 3.0, 0, 0},
                          {"aside.x", 4, 2, 1, 0.75, 20, 0},
                          {"nearly.x", 2, 1, 1, 1.5, 1e-3, 1.5e-3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        WriteSettings(Settings(WriteFile(c.name, BoxModel(c.w, c.h, c.d, c.at))));
        EXPECT_EQ(BuildScene(), 1);
        EXPECT_NEAR(SceneGetState()->scale, c.scale, 1e-6);

        // The fit itself, on a builder loaded from the same file.
        LPDIRECT3DRMMESHBUILDER2 builder = nullptr;
        ASSERT_EQ(State().lpD3DRM2->CreateMeshBuilder(&builder), D3DRM_OK);
        std::string path = dir + "/" + c.name;
        ASSERT_EQ(
            builder->Load((LPVOID)path.c_str(), nullptr, D3DRMLOAD_FROMFILE, nullptr, nullptr),
            D3DRM_OK);
        EXPECT_NEAR(SceneFitModel(builder), c.scale, 1e-6);
        D3DRMBOX box;
        ASSERT_EQ(builder->GetBox(&box), D3DRM_OK);
        double w = box.max.x - box.min.x, h = box.max.y - box.min.y, d = box.max.z - box.min.z;
        EXPECT_NEAR(std::max(w, h), 3.0, 1e-4);
        EXPECT_NEAR(d, c.d * c.scale, 1e-4);
        EXPECT_NEAR((box.min.x + box.max.x) / 2, c.centre, 1e-6);
        builder->Release();
    }
}

TEST_F(Scene, ModelBuiltAwayFromItsOriginStaysInViewForAWholeBounceCycle) {
    // Spun about its file's origin, a box at x = 20 would circle far outside the view.
    WriteSettings(Settings(WriteFile("aside.x", BoxModel(1, 1, 1, 20))));
    ASSERT_EQ(BuildScene(), 1);
    for (int frame = 0; frame < 400; ++frame) { // every wall of the box met at least once
        StepMotion();
        ASSERT_EQ(RenderFrame(), 1);
        ASSERT_GT(ReadPixels(State().lpDDSBack).lit, 500) << "frame " << frame;
    }
}

TEST_F(Scene, SettingsGiveColourQualityAndSpin) {
    WriteSettings("[SS_SECTION]\nSPEED=11\nSHADE=1\n[SETTING]\nColorR=255\nColorG=128\n"
                  "ColorB=0\nFILENAME=" +
                  WriteFile("box.x", BoxModel(1, 1, 1)) + "\n");
    EXPECT_EQ(BuildScene(), 1);
    SceneState& s = *SceneGetState();
    EXPECT_EQ(s.color, 0xFFFF8000u);
    EXPECT_EQ(s.quality, (D3DRMRENDERQUALITY)D3DRMRENDER_WIREFRAME);
    EXPECT_TRUE(s.speed == 10.0 && s.alpha == 1.0);
    EXPECT_TRUE(s.scene && s.camera && s.model && State().lpViewport && LMXIsRunning());
    D3DVECTOR p;
    ASSERT_EQ(s.model->GetPosition(s.scene, &p), D3DRM_OK);
    EXPECT_TRUE(p.x == 0.0f && p.z == 15.0f);
}

TEST_F(Scene, ClampedAndDefaultSettings) {
    WriteSettings("[SS_SECTION]\nSPEED=0\nSHADE=2\n[SETTING]\nColorR=300\nColorG=-4\n");
    SceneReadSettings();
    SceneState& s = *SceneGetState();
    EXPECT_EQ(s.speed, 1.0);
    EXPECT_EQ(s.shade, 0);
    EXPECT_EQ(SceneColor(), 0xFFFF00FFu);
    EXPECT_EQ(SceneQuality(s.shade), (D3DRMRENDERQUALITY)D3DRMRENDER_GOURAUD);
    WriteSettings("");
    SceneReadSettings();
    EXPECT_EQ(s.speed, 5.0);
    EXPECT_EQ(SceneColor(), 0xFFFFFFFFu);
    // Every channel value survives the fraction.
    for (int n = 0; n <= 255; ++n) {
        s.red = s.green = s.blue = n / 255.0;
        ASSERT_EQ(SceneColor(), 0xFF000000u | (DWORD)n << 16 | (DWORD)n << 8 | (DWORD)n) << n;
    }
}

TEST_F(Scene, UnreadableModelsShowNothingAndDontScale) {
    const std::string models[] = {dir + "/missing.x", WriteFile("empty.x", ""),
                                  WriteFile("header.x", "xof 0302txt 0032\n"),
                                  WriteFile("corrupt.x", "xof 0302txt 0032\nMesh { 8; 1.0;;; {{")};
    for (const std::string& model : models) {
        SCOPED_TRACE(model);
        Restart();
        WriteSettings(Settings(model));
        EXPECT_EQ(BuildScene(), 1);
        EXPECT_EQ(SceneGetState()->scale, 0.0);
        EXPECT_EQ(LMXIsRunning(), 1);
        EXPECT_EQ(RenderFrame(), 1);
        EXPECT_EQ(ReadPixels(State().lpDDSBack).lit, 0);
    }
}

TEST_F(Scene, LongModelPathIsReadWhole) {
    // Over 255 characters: a path cut there would name a folder, not the model.
    std::string folder = dir;
    for (int i = 0; i < 6; ++i) {
        folder += "/" + std::string(50, char('a' + i));
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    }
    std::string model = folder + "/box.x";
    ASSERT_GT(model.size(), 300u);
    std::ofstream(model) << BoxModel(2, 1, 1);
    WriteSettings(Settings(model));
    EXPECT_EQ(BuildScene(), 1);
    EXPECT_NEAR(SceneGetState()->scale, 1.5, 1e-6);
}

TEST_F(Scene, FailedViewportStopsConstruction) {
    WriteSettings(Settings(WriteFile("box.x", BoxModel(1, 1, 1))));
    DXTestFailCall("CreateViewport", 1, D3DRMERR_BADDEVICE);
    EXPECT_EQ(BuildScene(), 1);
    EXPECT_TRUE(AllInterfacesNull(State()));
    EXPECT_EQ(LMXIsRunning(), 0);
    EXPECT_EQ(SceneGetState()->model, nullptr);
    debug.Clear();
    EXPECT_EQ(StepMotion(), 0);
    EXPECT_EQ(RenderFrame(), 1);
    EXPECT_EQ(debug.Text(), "");
    // Without a layer nothing is built.
    SceneRelease();
    EXPECT_EQ(BuildScene(), 1);
    EXPECT_EQ(SceneGetState()->scene, nullptr);
    EXPECT_EQ(LMXIsRunning(), 0);
}

TEST_F(Scene, FailedCreationsSkipWhatDependsOnThem) {
    struct Case {
        const char* operation;
        int nth;
        bool running; // without scene or camera there is nothing to show
    };
    const Case cases[] = {{"CreateFrame", 1, false},
                          {"CreateFrame", 2, false},
                          {"CreateFrame", 3, true},
                          {"CreateFrame", 4, true},
                          {"CreateLightRGB", 1, true},
                          {"CreateLightRGB", 2, true},
                          {"CreateMeshBuilder", 1, true},
                          {"CreateMesh", 1, true},
                          {"GetBox", 1, true},
                          {"Load", 1, true}};
    std::string model = WriteFile("box.x", BoxModel(1, 1, 1));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.operation) + " " + std::to_string(c.nth));
        Restart();
        WriteSettings(Settings(model));
        DXTestFailCall(c.operation, c.nth, D3DRMERR_BADALLOC);
        EXPECT_EQ(BuildScene(), 1);
        DXTestClearFailures();
        EXPECT_EQ(LMXIsRunning(), c.running ? 1 : 0);
        StepMotion();
        EXPECT_EQ(RenderFrame(), 1);
    }
}

class RenderPass : public Scene {
  protected:
    void SetUp() override {
        Scene::SetUp();
        WriteSettings("[SS_SECTION]\nSHADE=0\n[SETTING]\nColorR=255\nColorG=128\nColorB=0\n"
                      "FILENAME=" +
                      WriteFile("box.x", BoxModel(2, 2, 2)) + "\n");
    }
};

TEST_F(RenderPass, NothingBeforeTheLayerRunsThenAFailedMoveIsReported) {
    ASSERT_EQ(BuildScene(), 1);
    LMXSetRunning(0);
    debug.Clear();
    // A Move failure waiting for the next call shows whether Move was called.
    DXTestFailCall("Move", 1, D3DRMERR_BADVALUE);
    DXTestLoseSurface(State().lpDDSPrimary);
    EXPECT_EQ(RenderFrame(), 1);
    EXPECT_EQ(debug.Text(), "");
    EXPECT_NE(State().lpDDSPrimary->IsLost(), DD_OK); // no restore either
    LMXSetRunning(1);
    EXPECT_EQ(RenderFrame(), 0);
    Report report;
    EXPECT_TRUE(ReportsAt(debug.Text(), "Direct3D-RM Error : D3DRMERR_BADVALUE", "Move(", &report));
    EXPECT_NE(report.path.find("render.cpp"), std::string::npos);
    EXPECT_TRUE(AllInterfacesNull(State()));
    debug.Clear();
    for (int i = 0; i < 3; ++i) {
        StepMotion();
        EXPECT_EQ(RenderFrame(), 1);
    }
    EXPECT_EQ(debug.Text(), "");
}

TEST_F(RenderPass, DrawsInItsColourSolidOrWireframeAndRecoversLostSurfaces) {
    ASSERT_EQ(BuildScene(), 1);
    debug.Clear();
    for (int i = 0; i < 3; ++i) {
        StepMotion();
        EXPECT_EQ(RenderFrame(), 1);
    }
    PixelStats solid = ReadPixels(State().lpDDSBack);
    EXPECT_GT(solid.lit, 500);
    // Orange: red dominates, blue is absent.
    EXPECT_GT(solid.r, solid.g);
    EXPECT_GT(solid.g, solid.b + 10);
    EXPECT_LT(solid.b, 10);

    DXTestLoseSurface(State().lpDDSPrimary);
    DXTestLoseSurface(State().lpDDSZBuffer);
    EXPECT_EQ(RenderFrame(), 1);
    EXPECT_EQ(RenderFrame(), 1);
    EXPECT_EQ(debug.Text(), "");
    EXPECT_EQ(LMXIsRunning(), 1);
    EXPECT_GT(ReadPixels(State().lpDDSBack).lit, 0);

    Restart();
    WriteSettings("[SS_SECTION]\nSHADE=1\n[SETTING]\nFILENAME=" + dir + "/box.x\n");
    ASSERT_EQ(BuildScene(), 1);
    RenderFrame();
    long wire = ReadPixels(State().lpDDSBack).lit;
    EXPECT_GT(wire, 0);
    EXPECT_LT(wire * 3, solid.lit);
}

} // namespace
