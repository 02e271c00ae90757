// Rendered scenes through the whole stand-in, checked by their properties, the
// steady-state frame loop's freedom from allocation, and failure injection.
#include "dx_test_util.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>

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

TEST_F(Render, FacesAreLitAsTheLightDirectionImplies) {
    Stage s(160, 120);
    // The light travels along +z, straight onto the faces that look at the camera.
    s.add_lights(0.1f, 0.9f);
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_GE(s.lit_box().left, s.lit_box().right) << "an empty scene is black";
    // The file makes the front face blue; the colour set on the builder paints every face.
    auto mesh = box_mesh(-1, -1, -1, 1, 1, 1);
    mesh.materials.push_back({colour(0, 0, 1), ""});
    mesh.face_materials[0] = 1;
    IDirect3DRMFrame2* box = s.add_model(save_model("lit.x", mesh), 0, 0, 8, D3DRMRENDER_GOURAUD,
                                         RGBA_MAKE(255, 0, 0, 255));
    ASSERT_EQ(s.frame(), DD_OK);
    const uint32_t facing = s.pixel(80, 60);
    EXPECT_GE(red(facing), 240) << std::hex << facing;
    EXPECT_LE(green(facing) + blue(facing), 8) << "the model's own colour";
    EXPECT_EQ(s.pixel(2, 2), 0u);

    // A quad turned 60 degrees about y gets cos 60 of the light.
    box->SetPosition(s.scene.get(), 0, 0, -100); // behind the camera
    IDirect3DRMFrame2* quad =
        s.add_model(save_model("tilt.x", quad_mesh(-1, -1, 1, 1, 0)), 0, 0, 8);
    ASSERT_EQ(quad->SetOrientation(s.scene.get(), std::sin(1.0472f), 0, std::cos(1.0472f), 0, 1, 0),
              DD_OK);
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_NEAR(red(s.pixel(80, 60)), int(255 * (0.1 + 0.9 * 0.5)), 8);
    // Turned away from the light (and the camera) it isn't drawn at all.
    ASSERT_EQ(quad->SetOrientation(s.scene.get(), 0, 0, -1, 0, 1, 0), DD_OK);
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_EQ(s.pixel(80, 60), 0u);
}

TEST_F(Render, TheSideTowardTheLightIsBrighter) {
    Stage s(200, 100);
    // Light travelling along +x lights faces that look toward -x.
    s.add_lights(0.1f, 0.9f, 1, 0, 0);
    s.add_model(save_model("sphere.x", xfile::make_uv_sphere(800, 1.0f)), 0, 0, 5);
    ASSERT_EQ(s.frame(), DD_OK);
    const RECT box = s.lit_box();
    ASSERT_LT(box.left, box.right);
    const int cy = (box.top + box.bottom) / 2, w = box.right - box.left;
    EXPECT_GT(red(s.pixel(box.left + w / 5, cy)), 120);
    EXPECT_NEAR(red(s.pixel(box.right - w / 5, cy)), 26, 6) << "ambient only";
}

TEST_F(Render, NearerSurfacesWinWhateverTheOrder) {
    for (bool with_zbuffer : {true, false}) {
        Stage s(160, 120, 32, with_zbuffer);
        s.add_lights(1.0f, 0.0f);
        // The far quad is added last, so it is drawn last.
        s.add_model(save_model("near.x", quad_mesh(-1, -1, 1, 1, 0, colour(0, 1, 0))), 0, 0, 6);
        s.add_model(save_model("far.x", quad_mesh(-3, -3, 3, 3, 0, colour(0, 0, 1))), 0, 0, 9);
        ASSERT_EQ(s.frame(), DD_OK);
        const uint32_t centre = s.pixel(80, 60);
        EXPECT_GT(blue(s.pixel(80, 100)), 200) << "the far quad shows around the near one";
        if (!with_zbuffer) continue; // the device still draws, in order
        EXPECT_GT(green(centre), 200);
        EXPECT_EQ(blue(centre), 0);
    }
}

TEST_F(Render, WireframeDrawsOnlyTheFaceEdges) {
    // Wireframe asked of the mesh, or of the device (which caps every mesh's quality).
    for (bool device : {false, true}) {
        Stage s(160, 120);
        s.add_lights(0.1f, 0.9f);
        s.add_model(save_model("wire.x", box_mesh(-1, -1, -1, 1, 1, 1)), 0, 0, 8,
                    device ? D3DRMRENDER_GOURAUD : D3DRMRENDER_WIREFRAME);
        ASSERT_EQ(device ? s.rm_device->SetQuality(D3DRMRENDER_WIREFRAME) : DD_OK, DD_OK);
        ASSERT_EQ(s.frame(), DD_OK);
        const RECT box = s.lit_box();
        ASSERT_LT(box.left, box.right);
        // The square face's diagonal, where the quad was split, is not an edge.
        EXPECT_EQ(s.pixel(80, 60), 0u) << device;
        EXPECT_EQ(s.pixel((box.left + 80) / 2, (box.top + 60) / 2), 0u) << device;
        // The outline is there, in the unlit model colour.
        EXPECT_GT(red(s.pixel(box.left, 60)) + red(s.pixel(box.left + 1, 60)), 200) << device;
    }
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
    // Fresh surfaces read as cleared: black, depth at the back plane. What is written through
    // locks before the first frame (pixels, the nearest depth everywhere) is cleared by it.
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    for (IDirectDrawSurface* surface : {s.back.get(), s.zbuffer.get()}) {
        ASSERT_EQ(surface->Lock(nullptr, &d, 0, nullptr), DD_OK);
        const bool depth = surface == s.zbuffer.get();
        for (int y = 0; y < 120; ++y) {
            auto* row = static_cast<uint8_t*>(d.lpSurface) + ptrdiff_t(y) * d.lPitch;
            for (int x = 0; x < 160; ++x) {
                if (depth) {
                    ASSERT_EQ(reinterpret_cast<uint16_t*>(row)[x], 0xFFFF);
                    reinterpret_cast<uint16_t*>(row)[x] = 0;
                } else {
                    ASSERT_EQ(reinterpret_cast<uint32_t*>(row)[x], 0u);
                }
            }
        }
        if (!depth) static_cast<uint32_t*>(d.lpSurface)[5] = 0xABCDEF;
        surface->Unlock(d.lpSurface);
    }
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_NE(s.pixel(20, 60), 0u);
    EXPECT_EQ(s.pixel(5, 0), 0u);
    // Moved right, the old place is cleared and the screen follows.
    model->SetPosition(s.scene.get(), 3, 0, 8);
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_EQ(s.pixel(20, 60), 0u);
    EXPECT_EQ(pixel(s.primary.get(), 20, 60), 0u);
    EXPECT_NE(pixel(s.primary.get(), 140, 60), 0u);

    // A forced update repaints the whole viewport on screen.
    ASSERT_EQ(s.primary->Lock(nullptr, &d, 0, nullptr), DD_OK);
    static_cast<uint32_t*>(d.lpSurface)[0] = 0x123456;
    s.primary->Unlock(d.lpSurface);
    ASSERT_EQ(s.viewport->ForceUpdate(0, 0, 160, 120), DD_OK);
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_EQ(pixel(s.primary.get(), 0, 0), 0u);
}

TEST_F(Render, PalettizedRenderingSetsOnlyReservedEntries) {
    Stage s(160, 120, 8);
    s.add_lights(0.1f, 0.9f, 0.3f, -0.2f, 1.0f);
    s.add_model(save_model("pal.x", xfile::make_uv_sphere(600, 1.0f)), 0, 0, 5, D3DRMRENDER_GOURAUD,
                RGBA_MAKE(40, 200, 90, 255));
    PALETTEENTRY before[256], after[256];
    ASSERT_EQ(s.palette->GetEntries(0, 0, 256, before), DD_OK);
    ASSERT_EQ(s.frame(), DD_OK);
    ASSERT_EQ(s.palette->GetEntries(0, 0, 256, after), DD_OK);
    int changed = 0;
    for (int i = 0; i < 256; ++i) {
        const bool same = !std::memcmp(&before[i], &after[i], sizeof(PALETTEENTRY));
        EXPECT_TRUE(same || !(before[i].peFlags & D3DPAL_READONLY)) << "read-only entry " << i;
        changed += !same;
    }
    EXPECT_GT(changed, 0) << "the model's shades were allocated";
    // The sphere's centre maps to an entry holding a green-dominated colour, the background to
    // black.
    const PALETTEENTRY centre = after[s.pixel(80, 60)], corner = after[s.pixel(0, 0)];
    EXPECT_TRUE(centre.peGreen > centre.peRed && centre.peGreen > centre.peBlue);
    EXPECT_EQ(corner.peRed + corner.peGreen + corner.peBlue, 0);
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

TEST_F(Render, InjectedFailuresHitTheNamedCallOnceAndBadViewportsAreRefused) {
    Stage s(64, 48);
    Ptr<IDirectDraw> dd;
    Ptr<IDirect3D2> d3d;
    Ptr<IDirectDrawSurface> surface;
    Ptr<IDirectDrawClipper> clipper;
    Ptr<IDirect3DRM> rm;
    Ptr<IDirect3DRMFrame2> frame;
    Ptr<IDirect3DRMViewport> viewport;
    ASSERT_EQ(s.dd->CreateClipper(0, out(clipper), nullptr), DD_OK);
    DDSURFACEDESC desc = offscreen_desc(8, 8);
    const std::pair<const char*, std::function<HRESULT()>> calls[] = {
        {"Clear", [&] { return s.frame(); }},
        {"Render", [&] { return s.frame(); }},
        {"Update", [&] { return s.frame(); }},
        {"Blt", [&] { return s.frame(); }},
        {"Move", [&] { return s.scene->Move(1.0f); }},
        {"DirectDrawCreate", [&] { return DirectDrawCreate(nullptr, out(dd), nullptr); }},
        {"QueryInterface", [&] { return s.dd->QueryInterface(IID_IDirect3D2, out(d3d)); }},
        {"CreateSurface", [&] { return s.dd->CreateSurface(&desc, out(surface), nullptr); }},
        {"SetHWnd", [&] { return clipper->SetHWnd(0, nullptr); }},
        {"Direct3DRMCreate", [&] { return Direct3DRMCreate(out(rm)); }},
        {"CreateFrame", [&] { return s.rm->CreateFrame(s.scene.get(), out(frame)); }},
        {"CreateViewport",
         [&] {
             return s.rm->CreateViewport(s.rm_device.get(), s.camera.get(), 0, 0, 64, 48,
                                         out(viewport));
         }},
    };
    for (const auto& [op, call] : calls) {
        DXTestFailCall(op, 2, D3DRMERR_BADALLOC);
        EXPECT_EQ(call(), DD_OK) << op;
        EXPECT_EQ(call(), D3DRMERR_BADALLOC) << op;
        EXPECT_TRUE(!dd && !d3d && !surface && !rm && !frame && !viewport) << op << ": no object";
        EXPECT_EQ(call(), DD_OK) << op;
        dd.reset(), d3d.reset(), surface.reset(), rm.reset(), frame.reset(), viewport.reset();
    }
    EXPECT_EQ(s.rm->CreateViewport(s.rm_device.get(), s.camera.get(), 0, 0, 65, 48, out(viewport)),
              D3DRMERR_BADVALUE)
        << "wider than the device";
    EXPECT_EQ(s.viewport->SetBack(0.5f), D3DRMERR_BADVALUE) << "behind the front plane";
    EXPECT_EQ(s.viewport->SetField(0), D3DRMERR_BADVALUE);
}

} // namespace
} // namespace dxt
