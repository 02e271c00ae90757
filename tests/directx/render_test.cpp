// Rendered scenes through the whole stand-in, checked by their properties, and
// the steady-state frame loop's freedom from allocation.
#include "dx_test_util.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

// Every allocation of the test program, counted (alloc_counter.cpp).
extern std::atomic<long> g_allocations;

namespace dxt {
namespace {

using Render = DxTest;

xfile::Material colour(float r, float g, float b) {
    xfile::Material m;
    m.r = r;
    m.g = g;
    m.b = b;
    return m;
}

TEST_F(Render, EmptySceneIsBlack) {
    Stage s(160, 120);
    s.add_lights(0.1f, 0.9f);
    ASSERT_EQ(s.frame(), DD_OK);
    const RECT lit = s.lit_box();
    EXPECT_GE(lit.left, lit.right) << "nothing but black";
    EXPECT_EQ(s.viewport->GetFront(), 1.0f);
    EXPECT_EQ(s.viewport->GetField(), 0.5f);
    EXPECT_EQ(s.viewport->GetBack(), 5000.0f);
}

TEST_F(Render, FacesAreLitAsTheLightDirectionImplies) {
    Stage s(160, 120);
    // The light travels along +z, straight onto the faces that look at the camera.
    s.add_lights(0.1f, 0.9f);
    s.add_model(save_model("lit.x", box_mesh(-1, -1, -1, 1, 1, 1)), 0, 0, 8, D3DRMRENDER_GOURAUD,
                RGBA_MAKE(255, 0, 0, 255));
    ASSERT_EQ(s.frame(), DD_OK);
    const uint32_t facing = s.pixel(80, 60);
    EXPECT_GE(red(facing), 240) << std::hex << facing;
    EXPECT_LE(green(facing) + blue(facing), 8) << "the model's own colour";
    EXPECT_EQ(s.pixel(2, 2), 0u);
}

TEST_F(Render, LightFollowsTheAngleOfTheFace) {
    Stage s(160, 120);
    s.add_lights(0.1f, 0.9f);
    IDirect3DRMFrame2* model =
        s.add_model(save_model("tilt.x", quad_mesh(-1, -1, 1, 1, 0)), 0, 0, 8);
    // Turned 60 degrees about y the quad gets cos 60 of the light.
    ASSERT_EQ(
        model->SetOrientation(s.scene.get(), std::sin(1.0472f), 0, std::cos(1.0472f), 0, 1, 0),
        DD_OK);
    ASSERT_EQ(s.frame(), DD_OK);
    const int expected = int(255 * (0.1 + 0.9 * 0.5));
    EXPECT_NEAR(red(s.pixel(80, 60)), expected, 8);
    // Turned away from the light (and the camera) it isn't drawn at all.
    ASSERT_EQ(model->SetOrientation(s.scene.get(), 0, 0, -1, 0, 1, 0), DD_OK);
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_EQ(s.pixel(80, 60), 0u);
}

TEST_F(Render, TheSideTowardTheLightIsBrighter) {
    Stage s(200, 100);
    // Light travelling along +x lights faces that look toward -x.
    s.add_lights(0.1f, 0.9f, 1, 0, 0);
    auto sphere = xfile::make_uv_sphere(800, 1.0f);
    s.add_model(save_model("sphere.x", sphere), 0, 0, 5);
    ASSERT_EQ(s.frame(), DD_OK);
    const RECT box = s.lit_box();
    ASSERT_LT(box.left, box.right);
    const int cy = (box.top + box.bottom) / 2, w = box.right - box.left;
    const uint32_t left = s.pixel(box.left + w / 5, cy), right = s.pixel(box.right - w / 5, cy);
    EXPECT_GT(red(left), 120);
    EXPECT_NEAR(red(right), 26, 6) << "ambient only";
}

TEST_F(Render, NearerSurfacesWinWhateverTheOrder) {
    Stage s(160, 120);
    s.add_lights(1.0f, 0.0f);
    // The far quad is added last, so it is drawn last.
    s.add_model(save_model("near.x", quad_mesh(-1, -1, 1, 1, 0, colour(0, 1, 0))), 0, 0, 6);
    s.add_model(save_model("far.x", quad_mesh(-3, -3, 3, 3, 0, colour(0, 0, 1))), 0, 0, 9);
    ASSERT_EQ(s.frame(), DD_OK);
    const uint32_t centre = s.pixel(80, 60);
    EXPECT_GT(green(centre), 200);
    EXPECT_EQ(blue(centre), 0);
    const uint32_t rim = s.pixel(80, 60 + 40);
    EXPECT_GT(blue(rim), 200) << "the far quad shows around the near one";
}

TEST_F(Render, WithoutAZBufferTheDeviceStillDraws) {
    Stage s(80, 60, 32, false);
    s.add_lights(1.0f, 0.0f);
    s.add_model(save_model("noz.x", quad_mesh(-1, -1, 1, 1, 0)), 0, 0, 6);
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_GT(red(s.pixel(40, 30)), 200);
}

TEST_F(Render, WireframeDrawsOnlyTheFaceEdges) {
    Stage s(160, 120);
    s.add_lights(0.1f, 0.9f);
    s.add_model(save_model("wire.x", box_mesh(-1, -1, -1, 1, 1, 1)), 0, 0, 8,
                D3DRMRENDER_WIREFRAME);
    ASSERT_EQ(s.frame(), DD_OK);
    const RECT box = s.lit_box();
    ASSERT_LT(box.left, box.right);
    // The square face's diagonal, where the quad was split, is not an edge.
    EXPECT_EQ(s.pixel(80, 60), 0u);
    EXPECT_EQ(s.pixel((box.left + 80) / 2, (box.top + 60) / 2), 0u);
    // The outline is there, in the unlit model colour.
    EXPECT_GT(red(s.pixel(box.left, 60)) + red(s.pixel(box.left + 1, 60)), 200);
}

TEST_F(Render, DeviceQualityCapsTheMeshQuality) {
    Stage s(160, 120);
    s.add_lights(0.1f, 0.9f);
    s.add_model(save_model("cap.x", box_mesh(-1, -1, -1, 1, 1, 1)), 0, 0, 8);
    ASSERT_EQ(s.rm_device->SetQuality(D3DRMRENDER_WIREFRAME), DD_OK);
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_EQ(s.pixel(80, 60), 0u) << "a wireframe device draws no solid faces";
}

TEST_F(Render, ModelCrossingTheFrontPlaneDrawsCleanly) {
    Stage s(160, 120);
    s.add_lights(1.0f, 0.0f);
    // A floor one unit below the camera from behind it to far ahead.
    xfile::MeshDesc floor;
    floor.positions = {{-20, -1, -5}, {-20, -1, 60}, {20, -1, 60}, {20, -1, -5}};
    floor.faces = {{0, 1, 2, 3}};
    s.add_model(save_model("floor.x", floor), 0, 0, 0);
    ASSERT_EQ(s.frame(), DD_OK);
    // Above the horizon (the screen's middle row) nothing may be drawn.
    for (int y = 0; y < 59; ++y)
        for (int x = 0; x < 160; x += 3)
            ASSERT_EQ(s.pixel(x, y), 0u) << x << "," << y;
    // Close in front of the camera the floor fills the bottom rows.
    for (int x = 0; x < 160; x += 7)
        EXPECT_NE(s.pixel(x, 119), 0u) << x;
}

TEST_F(Render, ProjectionFollowsThePlatformDefaults) {
    Stage s(1920, 1080);
    s.add_lights(1.0f, 0.0f);
    s.add_model(save_model("unit.x", xfile::make_uv_sphere(400, 1.5f)), 0, 0, 15);
    ASSERT_EQ(s.frame(), DD_OK);
    RECT box = s.lit_box();
    const double height = box.bottom - box.top;
    EXPECT_GT(height / 1080, 0.30);
    EXPECT_LT(height / 1080, 0.40);
    EXPECT_NEAR((box.left + box.right) / 2.0, 960, 2);

    // The box's side wall at x = 7 lies just inside the screen's right edge.
    s.models.back()->SetPosition(s.scene.get(), 7, 0, 15);
    ASSERT_EQ(s.frame(), DD_OK);
    box = s.lit_box();
    const double centre = (box.left + box.right) / 2.0;
    EXPECT_GT(centre, 1920 * 0.9);
    EXPECT_LT(centre, 1920);
}

TEST_F(Render, ClearAndCopyFollowWhatWasDrawn) {
    Stage s(160, 120);
    s.add_lights(1.0f, 0.0f);
    IDirect3DRMFrame2* model =
        s.add_model(save_model("move.x", quad_mesh(-1, -1, 1, 1, 0)), -3, 0, 8);
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_NE(s.pixel(20, 60), 0u);
    // Moved right, the old place is cleared and the screen follows.
    model->SetPosition(s.scene.get(), 3, 0, 8);
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_EQ(s.pixel(20, 60), 0u);
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    ASSERT_EQ(s.primary->Lock(nullptr, &d, DDLOCK_READONLY, nullptr), DD_OK);
    auto screen = [&](int x, int y) {
        return reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(d.lpSurface) +
                                                 y * d.lPitch)[x];
    };
    EXPECT_EQ(screen(20, 60) & 0xFFFFFF, 0u);
    EXPECT_NE(screen(140, 60) & 0xFFFFFF, 0u);
    s.primary->Unlock(d.lpSurface);

    // A forced update repaints the whole viewport on screen.
    ASSERT_EQ(s.primary->Lock(nullptr, &d, 0, nullptr), DD_OK);
    static_cast<uint32_t*>(d.lpSurface)[0] = 0x123456;
    s.primary->Unlock(d.lpSurface);
    ASSERT_EQ(s.viewport->ForceUpdate(0, 0, 160, 120), DD_OK);
    ASSERT_EQ(s.frame(), DD_OK);
    ASSERT_EQ(s.primary->Lock(nullptr, &d, DDLOCK_READONLY, nullptr), DD_OK);
    EXPECT_EQ(static_cast<uint32_t*>(d.lpSurface)[0] & 0xFFFFFF, 0u);
    s.primary->Unlock(d.lpSurface);
}

TEST_F(Render, PalettizedRenderingSetsOnlyReservedEntries) {
    Stage s(160, 120, 8);
    s.add_lights(0.1f, 0.9f, 0.3f, -0.2f, 1.0f);
    auto sphere = xfile::make_uv_sphere(600, 1.0f);
    s.add_model(save_model("pal.x", sphere), 0, 0, 5, D3DRMRENDER_GOURAUD,
                RGBA_MAKE(40, 200, 90, 255));
    PALETTEENTRY before[256], after[256];
    ASSERT_EQ(s.palette->GetEntries(0, 0, 256, before), DD_OK);
    ASSERT_EQ(s.frame(), DD_OK);
    ASSERT_EQ(s.palette->GetEntries(0, 0, 256, after), DD_OK);
    int changed = 0;
    for (int i = 0; i < 256; ++i) {
        const bool same =
            before[i].peRed == after[i].peRed && before[i].peGreen == after[i].peGreen &&
            before[i].peBlue == after[i].peBlue && before[i].peFlags == after[i].peFlags;
        if (before[i].peFlags & D3DPAL_READONLY)
            EXPECT_TRUE(same) << "read-only entry " << i << " changed";
        else if (!same)
            ++changed;
    }
    EXPECT_GT(changed, 0) << "the model's shades were allocated";
    // The centre of the sphere maps to an entry holding a green-dominated colour.
    const uint32_t index = s.pixel(80, 60);
    EXPECT_GT(after[index].peGreen, after[index].peRed);
    EXPECT_GT(after[index].peGreen, after[index].peBlue);
    // The background is black.
    const uint32_t corner = s.pixel(0, 0);
    EXPECT_EQ(after[corner].peRed + after[corner].peGreen + after[corner].peBlue, 0);
}

TEST_F(Render, SteadyStateFramesAllocateNothing) {
    Stage s(320, 240);
    s.add_lights(0.1f, 0.9f);
    IDirect3DRMFrame2* model =
        s.add_model(save_model("steady.x", xfile::make_uv_sphere(2000, 1.5f)), 0, 0, 15);
    model->SetVelocity(s.scene.get(), 0.1f, 0.08f, 0.2f, FALSE);
    model->SetRotation(s.scene.get(), 1, 1, 1, 0.087f);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(s.scene->Move(1.0f), DD_OK);
        ASSERT_EQ(s.frame(), DD_OK);
    }
    const long before = g_allocations.load();
    for (int i = 0; i < 50; ++i) {
        s.scene->Move(1.0f);
        s.frame();
    }
    EXPECT_EQ(g_allocations.load() - before, 0);
}

TEST_F(Render, FailuresOfTheFrameCallsAreInjectable) {
    Stage s(64, 48);
    for (const char* op : {"Clear", "Render", "Update", "Blt"}) {
        DXTestFailCall(op, 1, D3DRMERR_BADVALUE);
        EXPECT_EQ(s.frame(), D3DRMERR_BADVALUE) << op;
        EXPECT_EQ(s.frame(), DD_OK) << op;
    }
    DXTestFailCall("CreateViewport", 1, D3DRMERR_BADOBJECT);
    IDirect3DRMViewport* vp = nullptr;
    EXPECT_EQ(s.rm->CreateViewport(s.rm_device.get(), s.camera.get(), 0, 0, 64, 48, &vp),
              D3DRMERR_BADOBJECT);
    EXPECT_EQ(s.rm->CreateViewport(s.rm_device.get(), s.camera.get(), 0, 0, 65, 48, &vp),
              D3DRMERR_BADVALUE);
    EXPECT_EQ(s.viewport->SetBack(0.5f), D3DRMERR_BADVALUE) << "behind the front plane";
    EXPECT_EQ(s.viewport->SetField(0), D3DRMERR_BADVALUE);
}

} // namespace
} // namespace dxt
