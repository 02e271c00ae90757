// Retained Mode without drawing: frame placement and motion, the frame tree's
// lifetime and model loading into the mesh builder.
#include "dx_test_util.h"
#include "rm_internal.h"

#include <models/writer.h>

#include <cmath>
#include <algorithm>
#include <filesystem>
#include <fstream>

namespace dxt {
namespace {

// A Retained Mode object with a scene frame and an empty mesh builder.
class Frames : public DxTest {
  protected:
    void SetUp() override {
        DxTest::SetUp();
        Ptr<IDirect3DRM> rm1;
        ASSERT_EQ(Direct3DRMCreate(out(rm1)), DD_OK);
        ASSERT_EQ(rm1->QueryInterface(IID_IDirect3DRM2, out(rm)), DD_OK);
        scene = frame(nullptr);
        ASSERT_EQ(rm->CreateMeshBuilder(out(builder)), DD_OK);
    }
    void TearDown() override {
        builder.reset();
        scene.reset();
        rm.reset();
        DxTest::TearDown();
    }

    Ptr<IDirect3DRMFrame2> frame(IDirect3DRMFrame* parent) {
        Ptr<IDirect3DRMFrame2> f;
        EXPECT_EQ(rm->CreateFrame(parent, out(f)), DD_OK);
        return f;
    }
    static D3DVECTOR position(IDirect3DRMFrame* f, IDirect3DRMFrame* ref) {
        D3DVECTOR v{};
        EXPECT_EQ(f->GetPosition(ref, &v), DD_OK);
        return v;
    }
    std::pair<D3DVECTOR, D3DVECTOR> orientation(IDirect3DRMFrame* f) {
        D3DVECTOR dir{}, up{};
        EXPECT_EQ(f->GetOrientation(scene.get(), &dir, &up), DD_OK);
        return {dir, up};
    }
    HRESULT load(const std::string& path) {
        return builder->Load((void*)path.c_str(), nullptr, D3DRMLOAD_FROMFILE, nullptr, nullptr);
    }
    D3DRMBOX box() {
        D3DRMBOX b{{9, 9, 9}, {9, 9, 9}};
        EXPECT_EQ(builder->GetBox(&b), DD_OK);
        return b;
    }

    Ptr<IDirect3DRM2> rm;
    Ptr<IDirect3DRMFrame2> scene;
    Ptr<IDirect3DRMMeshBuilder2> builder;
};
using Builder = Frames;

void expect_near(D3DVECTOR v, D3DVECTOR want, double tolerance = 1e-4) {
    EXPECT_TRUE(std::abs(v.x - want.x) <= tolerance && std::abs(v.y - want.y) <= tolerance &&
                std::abs(v.z - want.z) <= tolerance)
        << v.x << " " << v.y << " " << v.z << " instead of " << want.x << " " << want.y << " "
        << want.z;
}

TEST_F(Frames, VelocityAndRotationAdvanceByTheirStepEachTimeUnit) {
    auto model = frame(scene.get());
    ASSERT_EQ(model->SetPosition(scene.get(), 0, 0, 15), DD_OK);
    ASSERT_EQ(model->SetVelocity(scene.get(), 0.1f, 0.08f, 0.2f, FALSE), DD_OK);
    ASSERT_EQ(model->SetRotation(scene.get(), 0, 2, 0, float(M_PI / 2)), DD_OK);
    auto expect_placement = [&](D3DVECTOR at, float dx, float dz) {
        expect_near(position(model.get(), scene.get()), at);
        const auto [dir, up] = orientation(model.get());
        expect_near(dir, {dx, 0, dz}, 1e-3);
        expect_near(up, {0, 1, 0}, 1e-3);
    };
    // Seen from +y looking down, +z turns toward +x: the left-handed sense. The frame turns
    // about its own origin, so the turn doesn't move it.
    ASSERT_EQ(scene->Move(1.0f), DD_OK);
    expect_placement({0.1f, 0.08f, 15.2f}, 1, 0);
    for (int i = 1; i < 70; ++i)
        ASSERT_EQ(scene->Move(1.0f), DD_OK);
    expect_placement({7, 5.6f, 29}, 0, -1); // 70 quarter turns
    // Half steps cover half the distance and half the angle.
    ASSERT_EQ(model->SetVelocity(scene.get(), -1, 0, 0, FALSE), DD_OK);
    ASSERT_EQ(scene->Move(0.5f), DD_OK);
    expect_placement({6.5f, 5.6f, 29}, -M_SQRT1_2, -M_SQRT1_2);
    // A zero axis turns nothing.
    ASSERT_EQ(model->SetRotation(scene.get(), 0, 0, 0, 1.0f), DD_OK);
    ASSERT_EQ(scene->Move(1.0f), DD_OK);
    expect_placement({5.5f, 5.6f, 29}, -M_SQRT1_2, -M_SQRT1_2);
}

TEST_F(Frames, ChildrenMoveWithTheirParentAndPositionsConvertBetweenFrames) {
    auto parent = frame(scene.get()), child = frame(parent.get()), other = frame(scene.get());
    ASSERT_EQ(parent->SetPosition(scene.get(), 0, 0, 10), DD_OK);
    ASSERT_EQ(child->SetPosition(parent.get(), 1, 0, 0), DD_OK);
    // Turning the parent 90 degrees about y carries the child from +x to -z.
    ASSERT_EQ(parent->SetOrientation(scene.get(), 1, 0, 0, 0, 1, 0), DD_OK);
    expect_near(position(child.get(), scene.get()), {0, 0, 9});
    expect_near(position(child.get(), nullptr), {1, 0, 0}); // null reference: the parent
    expect_near(position(scene.get(), child.get()), {9, 0, 0});
    // SetPosition in another frame's terms lands where asked.
    ASSERT_EQ(other->SetPosition(scene.get(), 5, 5, 5), DD_OK);
    ASSERT_EQ(child->SetPosition(other.get(), 1, 2, 3), DD_OK);
    expect_near(position(child.get(), scene.get()), {6, 7, 8});
    // Move reaches every descendant, each with its own velocity.
    ASSERT_EQ(child->SetVelocity(scene.get(), 0, 1, 0, FALSE), DD_OK);
    ASSERT_EQ(parent->SetVelocity(scene.get(), 0, 0, 1, FALSE), DD_OK);
    ASSERT_EQ(scene->Move(2.0f), DD_OK);
    expect_near(position(child.get(), scene.get()), {6, 9, 10});
    expect_near(position(parent.get(), scene.get()), {0, 0, 12});

    // An orientation needs distinct direction and up; up is made perpendicular.
    EXPECT_EQ(other->SetOrientation(scene.get(), 0, 0, 1, 0, 0, 2), D3DRMERR_BADVALUE);
    EXPECT_EQ(other->SetOrientation(scene.get(), 0, 0, 0, 0, 1, 0), D3DRMERR_BADVALUE);
    ASSERT_EQ(other->SetOrientation(scene.get(), 0, 0, 2, 0, 1, 1), DD_OK);
    expect_near(orientation(other.get()).first, {0, 0, 1});
    expect_near(orientation(other.get()).second, {0, 1, 0});
}

TEST_F(Frames, OrientationStaysOrthonormalOverLongRuns) {
    auto model = frame(scene.get()), check = frame(scene.get());
    ASSERT_EQ(model->SetRotation(scene.get(), 1, -1, 1, float(5 * M_PI / 180)), DD_OK);
    for (int i = 0; i < 100000; ++i)
        ASSERT_EQ(scene->Move(1.0f), DD_OK);
    const auto [d, u] = orientation(model.get());
    EXPECT_NEAR(d.x * d.x + d.y * d.y + d.z * d.z, 1.0, 1e-5);
    EXPECT_NEAR(u.x * u.x + u.y * u.y + u.z * u.z, 1.0, 1e-5);
    EXPECT_NEAR(d.x * u.x + d.y * u.y + d.z * u.z, 0.0, 1e-5);
    // 100000 turns of 5 degrees are 1388 whole turns and 320 degrees: compare with
    // one rotation by the remainder about the same axis.
    ASSERT_EQ(check->SetRotation(scene.get(), 1, -1, 1, float(320 * M_PI / 180)), DD_OK);
    ASSERT_EQ(check->Move(1.0f), DD_OK);
    expect_near(d, orientation(check.get()).first, 1e-3);
}

TEST_F(Frames, ParentsKeepChildrenLightsAndVisualsAlive) {
    const int base = DXTestLiveObjects(); // the scene, the builder, Retained Mode itself
    {
        auto parent = frame(scene.get());
        auto child = frame(parent.get());
        Ptr<IDirect3DRMLight> light;
        Ptr<IDirect3DRMMesh> mesh;
        Ptr<IDirect3DRMFrame> got;
        ASSERT_EQ(rm->CreateLightRGB(D3DRMLIGHT_DIRECTIONAL, 1, 1, 1, out(light)), DD_OK);
        ASSERT_EQ(child->AddLight(light.get()), DD_OK);
        ASSERT_EQ(builder->CreateMesh(out(mesh)), DD_OK);
        ASSERT_EQ(child->AddVisual(mesh.get()), DD_OK);
        ASSERT_EQ(child->AddVisual(builder.get()), DD_OK);
        EXPECT_EQ(child->AddVisual(scene.get()), D3DRMERR_BADOBJECT);
        light.reset();
        mesh.reset();
        builder.reset();
        EXPECT_EQ(DXTestLiveObjects(), base + 4);
        ASSERT_EQ(child->GetParent(out(got)), DD_OK);
        EXPECT_EQ(got.get(), parent.get());
        got.reset();
        EXPECT_EQ(scene->AddChild(scene.get()), D3DRMERR_BADVALUE);
        EXPECT_EQ(child->AddChild(parent.get()), D3DRMERR_BADVALUE) << "a cycle";
    }
    EXPECT_EQ(DXTestLiveObjects(), base + 4) << "the scene holds the parent, the parent the rest";
    scene.reset();
    EXPECT_EQ(DXTestLiveObjects(), base - 2) << "Retained Mode alone is left";
}

// Every format of every reader, from our writers: the box in front of the camera keeps its place
// (nothing mirrored), its faces and normals face outward (nothing inside out), and the corners an
// STL file repeats per facet are one vertex again.
TEST_F(Builder, LoadsEveryFileFormatWithItsBoxOutsideOut) {
    const xfile::MeshDesc mesh = box_mesh(-1, -2, 3, 1, 2, 4);
    std::vector<std::pair<std::string, DWORD>> files; // and the vertices the model keeps
    for (xfile::Format f : {xfile::Format::Text, xfile::Format::Binary32, xfile::Format::TextZip,
                            xfile::Format::BinaryZip})
        files.push_back({save_model("box" + std::to_string(int(f)) + ".x", mesh, f), 24});
    using models::WriteFormat;
    for (WriteFormat f :
         {WriteFormat::Obj, WriteFormat::StlAscii, WriteFormat::StlBinary, WriteFormat::PlyAscii,
          WriteFormat::PlyLittle, WriteFormat::PlyBig, WriteFormat::Gltf, WriteFormat::Glb}) {
        const bool stl = f == WriteFormat::StlAscii || f == WriteFormat::StlBinary;
        files.push_back({temp_dir() + "/box" + std::to_string(int(f)), stl ? 8 : 24});
        ASSERT_TRUE(xfile::save(files.back().first.c_str(), models::write(mesh, f).file));
    }
    for (const auto& [file, vertices] : files) {
        SCOPED_TRACE(file);
        ASSERT_EQ(load(file), DD_OK);
        EXPECT_EQ(builder->GetFaceCount(), 12);
        EXPECT_EQ(builder->GetVertexCount(), vertices);
        expect_near(box().min, {-1, -2, 3});
        expect_near(box().max, {1, 2, 4});
        const dx::RenderMesh& m = static_cast<dx::MeshBuilder*>(builder.get())->render_form();
        const std::vector<uint32_t>& idx = m.groups.at(0).indices;
        for (size_t t = 0; t < idx.size(); t += 3) {
            const raster::Vec3 a = m.positions[idx[t]], b = m.positions[idx[t + 1]],
                               c = m.positions[idx[t + 2]];
            const raster::Vec3 u{b.x - a.x, b.y - a.y, b.z - a.z},
                v{c.x - a.x, c.y - a.y, c.z - a.z};
            const raster::Vec3 out{(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3,
                                   (a.z + b.z + c.z) / 3 - 3.5f}; // from the box's centre
            const raster::Vec3 front{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z,
                                     u.x * v.y - u.y * v.x}; // clockwise fronts
            EXPECT_GT(front.x * out.x + front.y * out.y + front.z * out.z, 0) << t;
            for (int k = 0; k < 3; ++k) {
                const raster::Vec3 n = m.normals[idx[t + k]];
                EXPECT_GT(n.x * out.x + n.y * out.y + n.z * out.z, 0.2f) << t;
            }
        }
    }
    ASSERT_EQ(builder->Scale(1.5f, 1.5f, 1.5f), DD_OK);
    expect_near(box().max, {1.5f, 3, 6});
    EXPECT_EQ(builder->Scale(0, 1, 1), D3DRMERR_BADVALUE);
    EXPECT_EQ(builder->Scale(NAN, 1, 1), D3DRMERR_BADVALUE);
}

TEST_F(Builder, MissingOrCorruptFilesAreReportedAndLeaveTheBuilderEmpty) {
    const std::string dir = temp_dir() + "/", missing = dir + "no-such-model.x";
    std::vector<uint8_t> cut = xfile::write(box_mesh(0, 0, 0, 1, 1, 1), xfile::Format::Text);
    cut.resize(cut.size() / 2); // ends in the middle of the mesh
    ASSERT_TRUE(xfile::save((dir + "corrupt.x").c_str(), cut));
    std::ofstream(dir + "garbage.x") << "not a model at all";
    std::vector<uint8_t> later = xfile::write(box_mesh(0, 0, 0, 1, 1, 1), xfile::Format::Text);
    later[7] = '4'; // format version 3.4
    ASSERT_TRUE(xfile::save((dir + "later.x").c_str(), later));
    std::ofstream(dir + "material.x")
        << "xof 0302txt 0032\nMaterial { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; }";
    // A compressed binary body holding one line break: empty, not broken.
    std::ofstream(dir + "blank.x")
        << std::string("xof 0303bzip0032\x11\0\0\0\x01\0\x08\0CK\x01\x01\0\xfe\xff\n", 32);
    const std::pair<std::string, HRESULT> cases[] = {
        {missing, D3DRMERR_FILENOTFOUND},        {dir + "corrupt.x", D3DRMERR_BADFILE},
        {dir + "garbage.x", D3DRMERR_BADFILE},   {dir + "later.x", D3DRMERR_BADFILE},
        {dir + "material.x", D3DRMERR_NOTFOUND}, {dir + "blank.x", D3DRMERR_NOTFOUND}};
    for (const auto& [path, code] : cases) {
        ASSERT_EQ(load(save_model("first.x", box_mesh(0, 0, 0, 1, 1, 1))), DD_OK);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(load(path), code) << path;
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("cannot load model '" + path + "'"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_TRUE(builder->GetFaceCount() == 0 && builder->GetVertexCount() == 0) << path;
        const D3DRMBOX b = box();
        for (float v : {b.min.x, b.min.y, b.min.z, b.max.x, b.max.y, b.max.z})
            EXPECT_EQ(v, 0.0f) << path;
    }
}

TEST_F(Builder, FacesLeftOutOrNothingToShowLoadAndSaySo) {
    xfile::MeshDesc bad = box_mesh(0, 0, 0, 1, 1, 1), lines = bad;
    bad.faces[1][2] = 99;
    bad.faces[4][0] = 42;
    for (auto& f : lines.faces)
        f.resize(2);
    const struct {
        std::string path;
        int faces;
        const char* says;
    } cases[] = {{save_model("bad.x", bad), 8, "left out for naming a vertex or normal"},
                 {save_model("lines.x", lines), 0, "no triangle to show"},
                 {save_model("empty.x", xfile::MeshDesc{}), 0, "no triangle to show"}};
    for (const auto& c : cases) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(load(c.path), DD_OK) << c.path;
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(builder->GetFaceCount(), c.faces);
        EXPECT_NE(err.find("model '" + c.path + "'"), std::string::npos) << err;
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

TEST_F(Builder, WindowsPathsAreMappedToTheProgramsFolders) {
    const std::string root = temp_dir() + "/install";
    std::filesystem::create_directories(root + "/windows");
    std::filesystem::create_directories(root + "/XFile");
    ASSERT_TRUE(xfile::save((root + "/XFile/cube.x").c_str(),
                            xfile::write(box_mesh(0, 0, 0, 2, 2, 2), xfile::Format::Text)));
    Win32TestSetProgramDir((root + "/windows").c_str());
    EXPECT_EQ(load("C:\\XFile\\cube.x"), DD_OK);
    Win32TestSetProgramDir(nullptr);
    expect_near(box().max, {2, 2, 2});
}

} // namespace
} // namespace dxt
