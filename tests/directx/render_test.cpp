// Rendered scenes through the whole stand-in, checked by their properties; simplified copies of
// meshes, the steady-state frame loop's freedom from allocation, and failure injection.
#include "dx_test_util.h"

#include <cmath>
#include <cstring>
#include <sstream>

namespace dxt {
namespace {

using Render = DxTest;

TEST_F(Render, TheSideTowardTheLightIsBrighterInTheBuildersColour) {
    Stage s(200, 100, 32, false); // convex: no z-buffer needed
    // Light travelling along +x lights faces that look toward -x.
    s.add_lights(0.1f, 0.9f, 1, 0);
    s.add_model(save_model("sphere.x", xfile::make_uv_sphere(800, 1.0f)), 0, 0, 5,
                D3DRMRENDER_GOURAUD, RGBA_MAKE(255, 0, 0, 255));
    ASSERT_EQ(s.frame(), DD_OK);
    const RECT box = s.lit_box();
    const int cy = (box.top + box.bottom) / 2, w = box.right - box.left;
    const uint32_t lit = s.pixel(box.left + w / 5, cy);
    EXPECT_TRUE(red(lit) > 120 && green(lit) + blue(lit) == 0) << std::hex << lit;
    EXPECT_NEAR(red(s.pixel(box.right - w / 5, cy)), 26, 6) << "ambient only";
}

TEST_F(Render, WireframeDrawsOnlyTheFaceEdges) {
    // Wireframe asked of the mesh, or of the device (which caps every mesh's quality).
    for (bool device : {false, true}) {
        Stage s(160, 120, 32, device); // the mesh case without a z-buffer: none is needed
        s.add_lights(0.1f, 0.9f);
        s.add_model(save_model("wire.x", box_mesh(-1, -1, -1, 1, 1, 1)), 0, 0, 8,
                    device ? D3DRMRENDER_GOURAUD : D3DRMRENDER_WIREFRAME);
        ASSERT_EQ(device ? s.rm_device->SetQuality(D3DRMRENDER_WIREFRAME) : DD_OK, DD_OK);
        ASSERT_EQ(s.frame(), DD_OK);
        const RECT box = s.lit_box();
        // The square face's diagonal, where the quad was split, is not an edge; the outline is
        // there, in the unlit model colour.
        EXPECT_EQ(s.pixel(80, 60), 0u) << device;
        EXPECT_EQ(s.pixel((box.left + 80) / 2, (box.top + 60) / 2), 0u) << device;
        EXPECT_GT(red(s.pixel(box.left, 60)) + red(s.pixel(box.left + 1, 60)), 200) << device;
    }
}

TEST_F(Render, ProjectionFollowsThePlatformDefaultsAndSteadyFramesAllocateNothing) {
    Stage s(320, 180);
    s.add_lights(1.0f, 0.0f);
    s.add_model(save_model("unit.x", xfile::make_uv_sphere(400, 1.5f)), 0, 0, 15);
    // The sphere shows a third of the height, centred; moved to x = 7 (the bounce box's wall)
    // it lies just inside the right edge.
    for (auto [x, lo, hi] : {std::tuple{0, 158, 162}, {7, 288, 320}}) {
        s.models[0]->SetPosition(s.scene.get(), float(x), 0, 15);
        ASSERT_EQ(s.frame(), DD_OK);
        const RECT box = s.lit_box();
        EXPECT_TRUE(box.bottom - box.top > 0.3 * 180 && box.bottom - box.top < 0.4 * 180) << x;
        EXPECT_TRUE(box.left + box.right >= 2 * lo && box.left + box.right <= 2 * hi) << x;
    }
    Ptr<IDirect3DRMViewport> viewport;
    EXPECT_EQ(
        s.rm->CreateViewport(s.rm_device.get(), s.camera.get(), 0, 0, 321, 180, out(viewport)),
        D3DRMERR_BADVALUE)
        << "wider than the device";
    EXPECT_EQ(s.viewport->SetBack(0.5f), D3DRMERR_BADVALUE) << "behind the front plane";
    EXPECT_EQ(s.viewport->SetField(0), D3DRMERR_BADVALUE);
    // Once running, the frames of a moving, turning model allocate nothing.
    s.models[0]->SetVelocity(s.scene.get(), 0.1f, 0.08f, 0.2f, FALSE);
    s.models[0]->SetRotation(s.scene.get(), 1, 1, 1, 0.087f);
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(s.frame(), DD_OK);
    const long before = g_allocations.load();
    for (int i = 0; i < 50; ++i)
        s.frame();
    EXPECT_EQ(g_allocations.load() - before, 0);
}

TEST_F(Render, ClearAndCopyFollowWhatWasDrawn) {
    Stage s(160, 120);
    s.add_lights(1.0f, 0.0f);
    s.add_model(save_model("move.x", box_mesh(-1, -1, 0, 1, 1, 0, 0x00FFFF)), -3, 0, 8);
    // Fresh surfaces read as cleared: black, depth at the back plane. What is written through
    // locks before the first frame (a pattern, the nearest depth everywhere) is cleared by it.
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    ASSERT_EQ(s.zbuffer->Lock(nullptr, &d, 0, nullptr), DD_OK);
    const auto* depth = static_cast<uint16_t*>(d.lpSurface);
    EXPECT_TRUE(depth[0] == 0xFFFF && depth[d.lPitch / 2 * 120 - 1] == 0xFFFF);
    std::memset(d.lpSurface, 0, size_t(d.lPitch) * 120);
    s.zbuffer->Unlock(d.lpSurface);
    fill_pattern(s.back.get(), 0x100000);
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_TRUE(s.pixel(20, 60) && !s.pixel(5, 0));
    // The device depth-tests through the attached z-buffer (which of two surfaces wins: raster).
    ASSERT_EQ(s.zbuffer->Lock(nullptr, &d, 0, nullptr), DD_OK);
    EXPECT_LT(static_cast<uint16_t*>(d.lpSurface)[60 * d.lPitch / 2 + 20], 0xFFFF);
    s.zbuffer->Unlock(d.lpSurface);
    // Moved right, the old place is cleared and the screen follows.
    s.models[0]->SetPosition(s.scene.get(), 3, 0, 8);
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_EQ(s.pixel(20, 60), 0u);
    EXPECT_TRUE(!pixel(s.primary.get(), 20, 60) && pixel(s.primary.get(), 140, 60));
    // A forced update repaints the whole viewport on screen.
    fill_pattern(s.primary.get(), 0x100000);
    ASSERT_EQ(s.viewport->ForceUpdate(0, 0, 160, 120), DD_OK);
    ASSERT_EQ(s.frame(), DD_OK);
    EXPECT_EQ(pixel(s.primary.get(), 0, 0), 0u);
}

// Simplified copies of a mesh, chosen by how large it shows, never change the picture: of the
// pixels lit in either frame, at most 1 % differ by more than 24 levels from the whole mesh's,
// from where it reaches through the front plane until it is a speck.
TEST_F(Render, SimplifiedCopiesKeepThePicture) {
    for (float bumps : {0.0f, 6.0f}) {
        xfile::MeshDesc m = xfile::make_uv_sphere(40000, 1.0f);
        for (xfile::Vec3& p : m.positions) {
            const float r = 1 + 0.06f * std::sin(bumps * p.x) * std::sin(bumps * p.y);
            p = {p.x * r, p.y * r, p.z * r};
        }
        m.normals.clear(); // the reader makes them
        m.normal_faces.clear();
        const std::string path = save_model("bumpy.x", m);
        Stage whole(320, 240), fast(320, 240);
        DXTestSetFullDetail(TRUE);
        whole.add_model(path, 0, 0, 1.5f);
        DXTestSetFullDetail(FALSE);
        fast.add_model(path, 0, 0, 1.5f);
        for (float z = 1.5f; z < 400; z *= 1.2f) {
            for (Stage* s : {&whole, &fast}) {
                if (z == 1.5f) s->add_lights(0.1f, 0.9f);
                s->models[0]->SetPosition(s->scene.get(), 0, 0, z);
                ASSERT_EQ(s->frame(), DD_OK);
            }
            const std::vector<uint32_t> a = whole.picture(), b = fast.picture();
            long lit = 0, differ = 0;
            for (size_t i = 0; i < a.size(); ++i) {
                lit += (a[i] | b[i]) != 0;
                differ += std::abs(red(a[i]) - red(b[i])) > 24; // grey: one channel tells
            }
            EXPECT_LE(differ * 100, lit) << "bumps " << bumps << " z " << z;
        }
    }
}

// Every named operation of a bring-up and a frame fails when asked, once, with the code asked
// for; what was made up to then is all released.
TEST_F(Render, EveryInjectedFailureIsReportedOnceAndLeavesNothing) {
    const std::string model = save_model("fail.x", box_mesh(-1, -1, -1, 1, 1, 1));
    const HRESULT code = HRESULT(0x8876ABCD);
    std::istringstream ops(
        "DirectDrawCreate SetCooperativeLevel CreateSurface CreateClipper SetHWnd SetClipper "
        "CreatePalette SetPalette "
        "AddAttachedSurface QueryInterface CreateDevice Direct3DRMCreate CreateDeviceFromD3D "
        "SetQuality CreateFrame CreateViewport SetBack CreateLightRGB AddLight SetOrientation "
        "SetPosition CreateMeshBuilder Load SetColor CreateMesh AddVisual Move Clear Render Update "
        "Blt");
    for (std::string op; ops >> op;) {
        DXTestFailCall(op.c_str(), 1, code);
        for (HRESULT want : {code, HRESULT(DD_OK)}) {
            Stage s(32, 24, 8);
            s.add_lights(0.5f, 0.5f);
            s.add_model(model, 0, 0, 5, D3DRMRENDER_GOURAUD, RGBA_MAKE(255, 0, 0, 255));
            EXPECT_EQ(s.frame(), want) << op;
            if (want != DD_OK) continue;
            // On the 8-bit screen the model's shade is set in an entry that isn't read-only.
            PALETTEENTRY e[2]{}; // the model's centre and the black corner
            for (int i : {0, 1})
                ASSERT_EQ(s.palette->GetEntries(0, s.pixel(16 * i, 12 * i), 1, &e[i]), DD_OK);
            EXPECT_TRUE(e[1].peRed > 100 && !e[1].peGreen && !e[1].peBlue &&
                        !(e[1].peFlags & D3DPAL_READONLY) &&
                        !(e[0].peRed | e[0].peGreen | e[0].peBlue))
                << op;
        }
        EXPECT_EQ(DXTestLiveObjects(), 0) << op;
    }
}

} // namespace
} // namespace dxt
