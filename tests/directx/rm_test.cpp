// Retained Mode without drawing: frame placement and motion, the frame tree's
// lifetime and model loading into the mesh builder.
#include "dx_test_util.h"
#include "rm_internal.h"

#include <models/writer.h>

#include <algorithm>
#include <cmath>
#include <fstream>

namespace dxt {
namespace {

// A stage's Retained Mode object and scene frame, and an empty mesh builder.
class Frames : public DxTest {
  protected:
    void SetUp() override {
        DxTest::SetUp();
        ASSERT_EQ(s.rm->CreateMeshBuilder(out(builder)), DD_OK);
    }
    Ptr<IDirect3DRMFrame2> frame(IDirect3DRMFrame* parent) {
        Ptr<IDirect3DRMFrame2> f;
        EXPECT_EQ(s.rm->CreateFrame(parent, out(f)), DD_OK);
        return f;
    }
    HRESULT load(const std::string& path) {
        return builder->Load((void*)path.c_str(), nullptr, D3DRMLOAD_FROMFILE, nullptr, nullptr);
    }
    std::vector<float> box() {
        D3DRMBOX b{{9, 9, 9}, {9, 9, 9}};
        EXPECT_EQ(builder->GetBox(&b), DD_OK);
        return {b.min.x, b.min.y, b.min.z, b.max.x, b.max.y, b.max.z};
    }

    Stage s{16, 16};
    IDirect3DRMFrame2* scene = s.scene.get();
    Ptr<IDirect3DRMMeshBuilder2> builder;
};
using Builder = Frames;

// Where f is and, given dir and up, which way it looks, in ref's terms.
void expect_at(IDirect3DRMFrame* f, IDirect3DRMFrame* ref, D3DVECTOR at, D3DVECTOR dir = {},
               D3DVECTOR up = {0, 1, 0}) {
    D3DVECTOR v[3]{};
    ASSERT_EQ(f->GetPosition(ref, &v[0]), DD_OK);
    ASSERT_EQ(f->GetOrientation(ref, &v[1], &v[2]), DD_OK);
    const D3DVECTOR want[3] = {at, dir, up};
    for (int i = 0; i < (dir.x || dir.y || dir.z ? 3 : 1); ++i)
        EXPECT_TRUE(std::abs(v[i].x - want[i].x) < 1e-3 && std::abs(v[i].y - want[i].y) < 1e-3 &&
                    std::abs(v[i].z - want[i].z) < 1e-3)
            << i << ": " << v[i].x << " " << v[i].y << " " << v[i].z;
}

TEST_F(Frames, VelocityAndRotationAdvanceByTheirStepEachTimeUnit) {
    auto model = frame(scene);
    ASSERT_EQ(model->SetPosition(scene, 0, 0, 15), DD_OK);
    ASSERT_EQ(model->SetVelocity(scene, 0.1f, 0.08f, 0.2f, FALSE), DD_OK);
    ASSERT_EQ(model->SetRotation(scene, 0, 2, 0, float(M_PI / 2)), DD_OK);
    // Seen from +y looking down, +z turns toward +x: the left-handed sense. The frame turns
    // about its own origin, so the turn doesn't move it.
    ASSERT_EQ(scene->Move(1.0f), DD_OK);
    expect_at(model.get(), scene, {0.1f, 0.08f, 15.2f}, {1, 0, 0});
    for (int i = 1; i < 70; ++i)
        ASSERT_EQ(scene->Move(1.0f), DD_OK);
    expect_at(model.get(), scene, {7, 5.6f, 29}, {0, 0, -1}); // 70 quarter turns
    // A zero axis turns nothing. (The saver only ever moves by whole steps.)
    ASSERT_EQ(model->SetRotation(scene, 0, 0, 0, 1.0f), DD_OK);
    ASSERT_EQ(scene->Move(1.0f), DD_OK);
    expect_at(model.get(), scene, {7.1f, 5.68f, 29.2f}, {0, 0, -1});

    // Long runs keep an exact rotation: 100000 turns of 5 degrees are 1388 whole turns and 320
    // degrees, where one turn of -40 degrees brings the same axes.
    auto many = frame(scene), one = frame(scene);
    ASSERT_EQ(many->SetRotation(scene, 1, -1, 1, float(5 * M_PI / 180)), DD_OK);
    ASSERT_EQ(one->SetRotation(scene, 1, -1, 1, float(-40 * M_PI / 180)), DD_OK);
    for (int i = 0; i < 100000; ++i)
        ASSERT_EQ(many->Move(1.0f), DD_OK);
    ASSERT_EQ(one->Move(1.0f), DD_OK);
    D3DVECTOR dir{}, up{};
    ASSERT_EQ(one->GetOrientation(scene, &dir, &up), DD_OK);
    expect_at(many.get(), scene, {0, 0, 0}, dir, up);
}

TEST_F(Frames, ChildrenMoveWithTheirParentAndPositionsConvertBetweenFrames) {
    auto parent = frame(scene), child = frame(parent.get());
    ASSERT_EQ(parent->SetPosition(scene, 0, 0, 10), DD_OK);
    ASSERT_EQ(child->SetPosition(parent.get(), 1, 0, 0), DD_OK);
    // Turning the parent 90 degrees about y carries the child from +x to -z.
    ASSERT_EQ(parent->SetOrientation(scene, 1, 0, 0, 0, 1, 0), DD_OK);
    expect_at(child.get(), scene, {0, 0, 9});
    expect_at(child.get(), nullptr, {1, 0, 0}); // null reference: the parent
    expect_at(scene, child.get(), {9, 0, 0});
    // Move reaches every descendant, each with its own velocity: the parent's carries the child.
    ASSERT_EQ(child->SetVelocity(scene, 0, 1, 0, FALSE), DD_OK);
    ASSERT_EQ(parent->SetVelocity(scene, 0, 0, 1, FALSE), DD_OK);
    ASSERT_EQ(scene->Move(2.0f), DD_OK);
    expect_at(child.get(), scene, {0, 2, 11});

    // An orientation needs distinct direction and up; up is made perpendicular. Given in the
    // scene's terms, it lands there whatever the parent's turn.
    EXPECT_EQ(child->SetOrientation(scene, 0, 0, 1, 0, 0, 2), D3DRMERR_BADVALUE);
    EXPECT_EQ(child->SetOrientation(scene, 0, 0, 0, 0, 1, 0), D3DRMERR_BADVALUE);
    ASSERT_EQ(child->SetOrientation(scene, 0, 0, 2, 0, 1, 1), DD_OK);
    expect_at(child.get(), scene, {0, 2, 11}, {0, 0, 1});
}

TEST_F(Frames, ParentsKeepChildrenLightsAndVisualsAlive) {
    const int base = DXTestLiveObjects();
    {
        auto parent = frame(scene), child = frame(parent.get());
        Ptr<IDirect3DRMLight> light;
        Ptr<IDirect3DRMMesh> mesh;
        Ptr<IDirect3DRMFrame> got;
        ASSERT_EQ(s.rm->CreateLightRGB(D3DRMLIGHT_DIRECTIONAL, 1, 1, 1, out(light)), DD_OK);
        ASSERT_EQ(child->AddLight(light.get()), DD_OK);
        ASSERT_EQ(builder->CreateMesh(out(mesh)), DD_OK);
        ASSERT_EQ(child->AddVisual(mesh.get()), DD_OK);
        ASSERT_EQ(child->AddVisual(builder.get()), DD_OK);
        EXPECT_EQ(child->AddVisual(scene), D3DRMERR_BADOBJECT);
        light.reset();
        mesh.reset();
        builder.reset();
        ASSERT_EQ(child->GetParent(out(got)), DD_OK);
        EXPECT_EQ(got.get(), parent.get());
        got.reset();
        EXPECT_EQ(scene->AddChild(scene), D3DRMERR_BADVALUE);
        EXPECT_EQ(child->AddChild(parent.get()), D3DRMERR_BADVALUE) << "a cycle";
    }
    EXPECT_EQ(DXTestLiveObjects(), base + 4) << "the scene holds the parent, the parent the rest";
    s.scene.reset();
    EXPECT_EQ(DXTestLiveObjects(), base - 2) << "all of them, the builder and the scene go";
}

// Every format of every reader, from our writers: the box in front of the camera keeps its place
// (nothing mirrored), its faces and normals face outward (nothing inside out), and the corners an
// STL file repeats per facet are one vertex again.
TEST_F(Builder, LoadsEveryFileFormatWithItsBoxOutsideOutAndScalesIt) {
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
        EXPECT_EQ(box(), (std::vector<float>{-1, -2, 3, 1, 2, 4}));
        // Fronts (clockwise) face out: six times the box's volume, signed. Each corner's normal
        // points away from the box's centre.
        const dx::RenderMesh& m = static_cast<dx::MeshBuilder*>(builder.get())->render_form();
        const std::vector<uint32_t>& idx = m.groups.at(0).indices;
        float volume = 0;
        for (size_t t = 0; t < idx.size(); t += 3) {
            const raster::Vec3 a = m.positions[idx[t]], b = m.positions[idx[t + 1]],
                               c = m.positions[idx[t + 2]];
            volume += a.x * (b.y * c.z - b.z * c.y) + a.y * (b.z * c.x - b.x * c.z) +
                      a.z * (b.x * c.y - b.y * c.x);
        }
        EXPECT_NEAR(volume, 48, 1e-3);
        for (uint32_t k : idx) {
            const raster::Vec3 p = m.positions[k], n = m.normals[k];
            EXPECT_GT(n.x * p.x + n.y * p.y + n.z * (p.z - 3.5f), 0.2f) << k;
        }
    }
    // The last one, scaled about the origin.
    ASSERT_EQ(builder->Scale(1.5f, 1.5f, 1.5f), DD_OK);
    EXPECT_EQ(box(), (std::vector<float>{-1.5f, -3, 4.5f, 1.5f, 3, 6}));
    EXPECT_EQ(builder->Scale(0, 1, 1), D3DRMERR_BADVALUE);
    EXPECT_EQ(builder->Scale(NAN, 1, 1), D3DRMERR_BADVALUE);
    // Windows paths are mapped to the program's folders: the drive's root is above them.
    Win32TestSetProgramDir((temp_dir() + "/windows").c_str());
    EXPECT_EQ(load("C:\\box0.x"), DD_OK);
    Win32TestSetProgramDir(nullptr);
    EXPECT_EQ(box(), (std::vector<float>{-1, -2, 3, 1, 2, 4}));
}

// A file that can't be loaded leaves the builder empty; a model with faces left out, or nothing
// to show, loads. Either way one line on standard error names the model and says why.
TEST_F(Builder, BadFilesAreReportedOnOneLine) {
    const std::string dir = temp_dir() + "/";
    std::ofstream(dir + "garbage.x") << "not a model at all";
    std::ofstream(dir + "material.x")
        << "xof 0302txt 0032\nMaterial { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; }";
    xfile::MeshDesc bad = box_mesh(0, 0, 0, 1, 1, 1);
    bad.faces[1][2] = 99;
    bad.faces[4][0] = 42;
    const struct {
        std::string path;
        HRESULT code;
        int faces;
        const char* says;
    } cases[] = {{dir + "missing.x", D3DRMERR_FILENOTFOUND, 0, "cannot load model"},
                 {dir + "garbage.x", D3DRMERR_BADFILE, 0, "cannot load model"},
                 {dir + "material.x", D3DRMERR_NOTFOUND, 0, "cannot load model"},
                 {save_model("bad.x", bad), DD_OK, 8, "left out for naming a vertex or normal"},
                 {save_model("empty.x", xfile::MeshDesc{}), DD_OK, 0, "no triangle to show"}};
    for (const auto& c : cases) {
        ASSERT_EQ(load(save_model("first.x", box_mesh(0, 0, 0, 1, 1, 1))), DD_OK);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(load(c.path), c.code) << c.path;
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("model '" + c.path + "'"), std::string::npos) << err;
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(builder->GetFaceCount(), c.faces) << c.path;
        EXPECT_TRUE(c.code == DD_OK ||
                    (builder->GetVertexCount() == 0 && box() == std::vector<float>(6, 0.0f)));
    }
}

} // namespace
} // namespace dxt
