// The motion step on the stand-in's frames: bounces inside the box, velocity and tumble axis.
#include "scene_support.h"

#include <cmath>

namespace {

class Motion : public SceneTest {
  protected:
    void SetUp() override {
        SceneTest::SetUp();
        ASSERT_TRUE(BringUpDevice());
        LPDIRECT3DRM2 rm = State().lpD3DRM2;
        SceneState& s = *SceneGetState();
        ASSERT_EQ(rm->CreateFrame(nullptr, &s.scene), D3DRM_OK);
        ASSERT_EQ(rm->CreateFrame(s.scene, &model), D3DRM_OK);
        ASSERT_EQ(rm->CreateFrame(s.scene, &twin), D3DRM_OK);
        s.model = model;
        s.speed = 5;
    }
    void TearDown() override {
        model->Release();
        twin->Release();
        SceneTest::TearDown();
    }
    LPDIRECT3DRMFRAME2 model = nullptr, twin = nullptr;
};

TEST_F(Motion, EachStepTravelsAndSpinsAlongTheDiagonalFlippedAtEachWallCrossed) {
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
    LPDIRECT3DRMFRAME2 scene = SceneGetState()->scene;
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
    SceneGetState()->model = nullptr;
    EXPECT_EQ(StepMotion(), 0);
}

} // namespace
