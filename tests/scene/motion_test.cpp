// The motion step: bounces inside the box, velocity and tumble axis.
#include "scene_support.h"

#include <dxtest.h>

#include <cmath>

namespace {

// Records what the motion step asks of the model frame.
struct RecordingFrame : IDirect3DRMFrame2 {
    D3DVECTOR position{0, 0, 15};
    D3DVECTOR velocity{0, 0, 0};
    BOOL withRotation = TRUE;
    D3DVECTOR axis{0, 0, 0};
    D3DVALUE theta = 0;
    LPDIRECT3DRMFRAME reference = nullptr;

    HRESULT QueryInterface(REFIID, LPVOID*) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT AddChild(LPDIRECT3DRMFRAME) override { return D3DRM_OK; }
    HRESULT AddLight(LPDIRECT3DRMLIGHT) override { return D3DRM_OK; }
    HRESULT AddVisual(LPDIRECT3DRMVISUAL) override { return D3DRM_OK; }
    HRESULT GetParent(LPDIRECT3DRMFRAME* parent) override {
        *parent = nullptr;
        return D3DRM_OK;
    }
    HRESULT GetPosition(LPDIRECT3DRMFRAME ref, LPD3DVECTOR p) override {
        reference = ref;
        *p = position;
        return D3DRM_OK;
    }
    HRESULT SetPosition(LPDIRECT3DRMFRAME, D3DVALUE x, D3DVALUE y, D3DVALUE z) override {
        position = {x, y, z};
        return D3DRM_OK;
    }
    HRESULT SetOrientation(LPDIRECT3DRMFRAME, D3DVALUE, D3DVALUE, D3DVALUE, D3DVALUE, D3DVALUE,
                           D3DVALUE) override {
        return D3DRM_OK;
    }
    HRESULT GetOrientation(LPDIRECT3DRMFRAME, LPD3DVECTOR, LPD3DVECTOR) override {
        return D3DRM_OK;
    }
    HRESULT SetVelocity(LPDIRECT3DRMFRAME, D3DVALUE x, D3DVALUE y, D3DVALUE z,
                        BOOL rotation) override {
        velocity = {x, y, z};
        withRotation = rotation;
        return D3DRM_OK;
    }
    HRESULT SetRotation(LPDIRECT3DRMFRAME, D3DVALUE x, D3DVALUE y, D3DVALUE z,
                        D3DVALUE angle) override {
        axis = {x, y, z};
        theta = angle;
        return D3DRM_OK;
    }
    HRESULT Move(D3DVALUE) override { return D3DRM_OK; }
};

class Motion : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = *SceneGetState();
        SceneState& s = *SceneGetState();
        s.scene = &root;
        s.model = &model;
        s.speed = 5.0;
        *MotionGetState() = {1, 1, 1};
    }
    void TearDown() override { *SceneGetState() = saved; }

    SceneState saved;
    RecordingFrame root, model;
};

TEST_F(Motion, InsideTheBoxKeepsGoingAlongTheDiagonal) {
    EXPECT_EQ(StepMotion(), 1);
    EXPECT_EQ(model.reference, &root);
    EXPECT_TRUE(model.velocity.x == 0.1f && model.velocity.y == 0.08f && model.velocity.z == 0.2f);
    EXPECT_FALSE(model.withRotation);
    EXPECT_TRUE(model.axis.x == 1.0f && model.axis.y == 1.0f && model.axis.z == 1.0f);
    EXPECT_EQ(model.theta, (float)(5.0 * 3.14159265359 / 180.0));
    // A bound itself is still inside.
    for (D3DVECTOR p : {D3DVECTOR{7.0f, -4.0f, 50.0f}, D3DVECTOR{-7.0f, 4.0f, 12.0f}}) {
        model.position = p;
        StepMotion();
        EXPECT_EQ(*MotionGetState(), (MotionState{1, 1, 1}));
    }
    SceneGetState()->model = nullptr;
    EXPECT_EQ(StepMotion(), 0);
}

TEST_F(Motion, CrossingAWallFlipsTravelAndSpinOnThatAxis) {
    model.position = {7.0001f, 0.0f, 15.0f};
    StepMotion();
    EXPECT_EQ(*MotionGetState(), (MotionState{-1, 1, 1}));
    EXPECT_EQ(model.velocity.x, -0.1f);
    EXPECT_TRUE(model.axis.x == -1.0f && model.axis.y == 1.0f && model.axis.z == 1.0f);
    // Still outside on the next step: it flips back (one frame's overshoot is
    // undone by the travel in between in a real run).
    model.position = {6.9f, -4.01f, 50.2f};
    StepMotion();
    EXPECT_EQ(*MotionGetState(), (MotionState{-1, -1, -1}));
    EXPECT_TRUE(model.velocity.x == -0.1f && model.velocity.y == -0.08f &&
                model.velocity.z == -0.2f);
    EXPECT_EQ(model.axis.z, -1.0f);
}

// With the stand-in's frames: the trajectory over a long run.
class Trajectory : public SceneTest {};

TEST_F(Trajectory, BouncesBetweenTheWalls) {
    ASSERT_TRUE(BuildRetainedMode());
    SceneState& s = *SceneGetState();
    ASSERT_EQ(rm->CreateFrame(nullptr, &s.scene), D3DRM_OK);
    LPDIRECT3DRMFRAME2 model = nullptr;
    ASSERT_EQ(rm->CreateFrame(s.scene, &model), D3DRM_OK);
    model->SetPosition(s.scene, 0, 0, 15);
    s.model = model;
    s.speed = 5;
    *MotionGetState() = {1, 1, 1};

    int firstXFlip = -1;
    float minZ = 1e9f, maxZ = -1e9f, maxX = 0;
    for (int step = 0; step < 1000; ++step) {
        StepMotion();
        if (firstXFlip < 0 && MotionGetState()->dirX < 0) firstXFlip = step;
        ASSERT_EQ(s.scene->Move(1.0f), D3DRM_OK);
        D3DVECTOR p;
        model->GetPosition(s.scene, &p);
        minZ = std::min(minZ, p.z);
        maxZ = std::max(maxZ, p.z);
        maxX = std::max(maxX, std::fabs(p.x));
    }
    // x passes 7.0 after about 70 steps of 0.1 and turns at the next step.
    EXPECT_GE(firstXFlip, 70);
    EXPECT_LE(firstXFlip, 72);
    EXPECT_GT(maxZ, 49.8f);
    EXPECT_LE(maxZ, 50.2f + 1e-3f);
    EXPECT_LT(minZ, 12.2f);
    EXPECT_GE(minZ, 11.8f - 1e-3f);
    EXPECT_LE(maxX, 7.1f + 1e-3f);
    model->Release();
}

} // namespace
