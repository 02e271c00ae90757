// Scene construction from the settings, the motion step and the render pass over it.
#include "scene_support.h"

#include <dxtest.h>

#include <fstream>
#include <filesystem>

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

TEST_F(Scene, FitScalesTheLargerOfWidthAndHeightToThreeUnitsAroundTheOrigin) {
    struct Case {
        double w, h, d, scale;
        double at, centre; // the box's x in the file, and once fitted
    };
    // Off its origin the model is centred first; within a fraction of a pixel it is left alone.
    const Case cases[] = {{4, 2, 1, 0.75, 0, 0},
                          {1, 5, 1, 0.6, 0, 0},
                          {1, 0.5, 10, 3.0, 0, 0},
                          {4, 2, 1, 0.75, 20, 0},
                          {2, 1, 1, 1.5, 1e-3, 1.5e-3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.d << " at " << c.at);
        const std::string path = WriteFile("box.x", BoxModel(c.w, c.h, c.d, c.at));
        LPDIRECT3DRMMESHBUILDER2 builder = nullptr;
        ASSERT_EQ(State().lpD3DRM2->CreateMeshBuilder(&builder), D3DRM_OK);
        ASSERT_EQ(
            builder->Load((LPVOID)path.c_str(), nullptr, D3DRMLOAD_FROMFILE, nullptr, nullptr),
            D3DRM_OK);
        EXPECT_NEAR(SceneFitModel(builder), c.scale, 1e-6);
        D3DRMBOX box;
        ASSERT_EQ(builder->GetBox(&box), D3DRM_OK);
        const double w = box.max.x - box.min.x, h = box.max.y - box.min.y;
        EXPECT_NEAR(std::max(w, h), 3.0, 1e-4);
        EXPECT_NEAR(box.max.z - box.min.z, c.d * c.scale, 1e-4);
        EXPECT_NEAR((box.min.x + box.max.x) / 2, c.centre, 1e-6);
        builder->Release();
    }
}

TEST_F(Scene, ModelBuiltAwayFromItsOriginStaysInViewForAWholeBounceCycle) {
    // Spun about its file's origin, a box at x = 20 would circle far outside the view.
    WriteSettings(Settings(WriteFile("aside.x", BoxModel(1, 1, 1, 20))));
    ASSERT_EQ(BuildScene(), 1);
    debug.Clear();
    for (int frame = 0; frame < 400; ++frame) { // every wall of the box met at least once
        if (frame == 200) {                     // the render pass restores lost surfaces on its own
            DXTestLoseSurface(State().lpDDSPrimary);
            DXTestLoseSurface(State().lpDDSZBuffer);
        }
        StepMotion();
        ASSERT_EQ(RenderFrame(), 1);
        ASSERT_GT(LitPixels(State().lpDDSBack), 500) << "frame " << frame;
    }
    EXPECT_EQ(debug.Text(), "");
}

TEST_F(Scene, EachStepTravelsAndSpinsAlongTheDiagonalFlippedAtEachWallCrossed) {
    WriteSettings(Settings(WriteFile("box.x", BoxModel(1, 1, 1))));
    ASSERT_EQ(BuildScene(), 1);
    const LPDIRECT3DRMFRAME2 scene = SceneGetState()->scene, model = SceneGetState()->model;
    LPDIRECT3DRMFRAME2 twin = nullptr;
    ASSERT_EQ(State().lpD3DRM2->CreateFrame(scene, &twin), D3DRM_OK);
    const struct {
        D3DVECTOR at;
        MotionState before, after;
    } steps[] = {{{0, 0, 15}, {1, 1, 1}, {1, 1, 1}},
                 // A bound itself is still inside.
                 {{7, -4, 50}, {1, 1, 1}, {1, 1, 1}},
                 {{-7, 4, 12}, {1, 1, 1}, {1, 1, 1}},
                 {{7.0001f, 0, 15}, {1, 1, 1}, {-1, 1, 1}},
                 // Still outside on the next step: it flips back (one frame's overshoot is
                 // undone by the travel in between in a real run).
                 {{6.9f, -4.01f, 50.2f}, {-1, 1, 1}, {-1, -1, -1}}};
    for (const auto& s : steps) {
        SCOPED_TRACE(testing::Message() << s.at.x << " " << s.at.y << " " << s.at.z);
        *MotionGetState() = s.before;
        // The twin is given the motion the step must ask for: 0.1, 0.08 and 0.2 per frame
        // along the box's axes and the speed in degrees about the diagonal, signs as travelled.
        const MotionState& d = s.after;
        for (LPDIRECT3DRMFRAME2 f : {model, twin}) {
            f->SetPosition(scene, s.at.x, s.at.y, s.at.z);
            f->SetOrientation(scene, 0, 0, 1, 0, 1, 0);
        }
        twin->SetVelocity(scene, 0.1f * d.dirX, 0.08f * d.dirY, 0.2f * d.dirZ, FALSE);
        twin->SetRotation(scene, d.dirX, d.dirY, d.dirZ, float(5 * 3.14159265359 / 180));
        ASSERT_EQ(StepMotion(), 1);
        ASSERT_EQ(scene->Move(1), D3DRM_OK);
        D3DVECTOR got[3], want[3];
        model->GetPosition(scene, &got[0]);
        model->GetOrientation(scene, &got[1], &got[2]);
        twin->GetPosition(scene, &want[0]);
        twin->GetOrientation(scene, &want[1], &want[2]);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(got[i].x, want[i].x, 1e-6) << i;
            EXPECT_NEAR(got[i].y, want[i].y, 1e-6) << i;
            EXPECT_NEAR(got[i].z, want[i].z, 1e-6) << i;
        }
    }
    twin->Release();
    SceneGetState()->model = nullptr;
    EXPECT_EQ(StepMotion(), 0);
}

TEST_F(Scene, SettingsGiveSpinColourQualityAndTheModelByItsWholePath) {
    // Over 255 characters: a path cut there would name a folder, not the model.
    const std::string folder = dir + "/" + std::string(150, 'a') + "/" + std::string(150, 'b');
    ASSERT_TRUE(std::filesystem::create_directories(folder));
    const std::string model = folder + "/box.x";
    std::ofstream(model) << BoxModel(2, 1, 1);
    const struct {
        const char *ss, *colour;
        double speed;
        D3DCOLOR color;
        int quality;
    } cases[] = {
        {"", "", 5, 0xFFFFFFFF, D3DRMRENDER_GOURAUD},
        {"SPEED=11\nSHADE=1\n", "ColorR=255\nColorG=128\nColorB=0\n", 10, 0xFFFF8000,
         D3DRMRENDER_WIREFRAME},
        {"SPEED=0\nSHADE=2\n", "ColorR=300\nColorG=-4\n", 1, 0xFFFF00FF, D3DRMRENDER_GOURAUD}};
    SceneState& s = *SceneGetState();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ss) + c.colour);
        Restart();
        WriteSettings(std::string("[SS_SECTION]\n") + c.ss + "[SETTING]\n" + c.colour +
                      "FILENAME=" + model + "\n");
        EXPECT_EQ(BuildScene(), 1);
        EXPECT_TRUE(s.speed == c.speed && s.alpha == 1.0);
        EXPECT_EQ(s.color, c.color);
        EXPECT_EQ(s.quality, (D3DRMRENDERQUALITY)c.quality);
        EXPECT_NEAR(s.scale, 1.5, 1e-6);
        EXPECT_TRUE(s.scene && s.camera && s.model && State().lpViewport && LMXIsRunning());
        D3DVECTOR p;
        ASSERT_EQ(s.model->GetPosition(s.scene, &p), D3DRM_OK);
        EXPECT_TRUE(p.x == 0.0f && p.y == 0.0f && p.z == 15.0f);
    }
    // Every channel value survives the fraction.
    for (int n = 0; n <= 255; ++n) {
        s.red = s.green = s.blue = n / 255.0;
        ASSERT_EQ(SceneColor(), 0xFF000000u | (DWORD)n << 16 | (DWORD)n << 8 | (DWORD)n) << n;
    }
}

TEST_F(Scene, FailedCreationsSkipWhatDependsOnThem) {
    struct Case {
        const char* operation;
        int nth;
        bool running; // without scene, camera or viewport there is nothing to show
    };
    const Case cases[] = {{"CreateFrame", 1, false},
                          {"CreateFrame", 2, false},
                          {"CreateViewport", 1, false},
                          {"CreateFrame", 3, true},
                          {"CreateFrame", 4, true},
                          {"CreateLightRGB", 1, true},
                          {"CreateLightRGB", 2, true},
                          {"CreateMeshBuilder", 1, true},
                          {"CreateMesh", 1, true},
                          {"GetBox", 1, true},
                          {"Load", 1, true}};
    const std::string model = WriteFile("box.x", BoxModel(1, 1, 1));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.operation) + " " + std::to_string(c.nth));
        Restart();
        WriteSettings(Settings(model));
        DXTestFailCall(c.operation, c.nth, D3DRMERR_BADALLOC);
        EXPECT_EQ(BuildScene(), 1);
        DXTestClearFailures();
        EXPECT_EQ(LMXIsRunning(), c.running ? 1 : 0);
        if (!c.running) {
            EXPECT_EQ(SceneGetState()->model, nullptr);
        }
        debug.Clear();
        StepMotion();
        EXPECT_EQ(RenderFrame(), 1);
        EXPECT_EQ(debug.Text(), "");
    }
    // Without a layer nothing is built.
    SceneRelease();
    LumaxisCleanup();
    EXPECT_EQ(BuildScene(), 1);
    EXPECT_TRUE(SceneGetState()->scene == nullptr && !LMXIsRunning());
}

TEST_F(Scene, RenderPassWaitsForTheLayerThenReportsAFailedMove) {
    WriteSettings(Settings(WriteFile("box.x", BoxModel(2, 2, 2))));
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

} // namespace
