// Retained Mode objects of the stand-in.
#pragma once

#include "draw_internal.h"
#include "rm_math.h"

#include <xfile/xfile.h>

#include <memory>
#include <string>
#include <vector>

namespace dx {

class Light final : public IDirect3DRMLight {
  public:
    Light(D3DRMLIGHTTYPE type, float r, float g, float b);
    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    HRESULT SetColorRGB(D3DVALUE red, D3DVALUE green, D3DVALUE blue) override;
    D3DRMLIGHTTYPE GetType() override { return type_; }
    DX_REFCOUNTED;

    D3DRMLIGHTTYPE type() const { return type_; }

    float color[3];

  private:
    ~Light() override = default;
    D3DRMLIGHTTYPE type_;
};

// Geometry in the renderer's form: unique (position, normal) vertices and one
// index list per face colour.
struct RenderGroup {
    float color[3];
    std::vector<uint32_t> indices;
    std::vector<uint8_t> edges;
    // Shared edges listed once, for wireframe: made when the group is first drawn as one, so
    // a solid model never pays for them.
    mutable std::vector<raster::MeshEdge> wire;
    mutable bool wire_ready = false;
};

// A simplified copy of a mesh: vertices of its own (each one of the mesh's, with its normal)
// and an index list for each group of the mesh.
struct DetailLevel {
    std::vector<raster::Vec3> positions;
    std::vector<raster::Vec3> normals;
    std::vector<std::vector<uint32_t>> indices; // per RenderGroup, possibly empty
    float edge = 0;                             // mean edge length, model units
    float error = 0; // how far the mesh strays from the copy (nearly everywhere), model units
    float turn = 0;  // how far normals turn from the mesh's (nearly everywhere), |n - m|
};

struct RenderMesh {
    std::vector<raster::Vec3> positions;
    std::vector<raster::Vec3> normals;
    std::vector<RenderGroup> groups;
    // Coarser copies, finer first, made once by add_detail_levels (none for small models),
    // with what choosing among them per frame needs: the mesh's own mean edge length and a
    // sphere around it.
    std::vector<DetailLevel> levels;
    float edge = 0;
    raster::Vec3 centre{0, 0, 0};
    float radius = 0;
};

// Makes the simplified copies of a mesh whose triangles may fall far below a pixel.
void add_detail_levels(RenderMesh& mesh);

// The copy to draw for a placement and projection: the coarsest whose error stays under a
// quarter pixel where the mesh comes nearest the camera, or -1 for the mesh itself (also when
// it reaches the front plane).
int pick_detail_level(const RenderMesh& mesh, const raster::Mat4& model_to_camera,
                      const raster::Projection& projection);

class Mesh final : public IDirect3DRMMesh {
  public:
    Mesh(RenderMesh data, D3DRMRENDERQUALITY quality);
    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    unsigned GetGroupCount() override { return unsigned(data_.groups.size()); }
    DX_REFCOUNTED;

    const RenderMesh& data() const { return data_; }
    D3DRMRENDERQUALITY quality() const { return quality_; }

  private:
    ~Mesh() override = default;
    RenderMesh data_;
    D3DRMRENDERQUALITY quality_;
};

class MeshBuilder final : public IDirect3DRMMeshBuilder2 {
  public:
    MeshBuilder();
    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    HRESULT Load(LPVOID filename, LPVOID name, D3DRMLOADOPTIONS flags,
                 D3DRMLOADTEXTURECALLBACK loadTexture, LPVOID arg) override;
    HRESULT GetBox(LPD3DRMBOX box) override;
    HRESULT Scale(D3DVALUE sx, D3DVALUE sy, D3DVALUE sz) override;
    HRESULT Translate(D3DVALUE tx, D3DVALUE ty, D3DVALUE tz) override;
    HRESULT SetQuality(D3DRMRENDERQUALITY quality) override;
    D3DRMRENDERQUALITY GetQuality() override { return quality_; }
    HRESULT SetColor(D3DCOLOR color) override;
    HRESULT CreateMesh(LPDIRECT3DRMMESH* mesh) override;
    int GetFaceCount() override { return int(faces_.size()); }
    DWORD GetVertexCount() override { return DWORD(positions_.size()); }
    DX_REFCOUNTED;

    // The builder drawn directly as a visual: converted again only after a change.
    const RenderMesh& render_form();

  private:
    ~MeshBuilder() override = default;
    RenderMesh convert() const;

    // Kept in the reader's own form, taken over from the loaded model without a copy.
    std::vector<xfile::Vec3> positions_;
    std::vector<xfile::Vec3> normals_;
    // A face's material is an index into colors_, or negative for white.
    std::vector<xfile::Triangle> faces_;
    std::vector<D3DCOLOR> colors_;
    D3DRMRENDERQUALITY quality_ = D3DRMRENDER_GOURAUD;
    RenderMesh cached_;
    bool cache_valid_ = false;
};

class Frame final : public IDirect3DRMFrame2 {
  public:
    Frame();
    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    HRESULT AddChild(LPDIRECT3DRMFRAME child) override;
    HRESULT AddLight(LPDIRECT3DRMLIGHT light) override;
    HRESULT AddVisual(LPDIRECT3DRMVISUAL visual) override;
    HRESULT GetParent(LPDIRECT3DRMFRAME* parent) override;
    HRESULT GetPosition(LPDIRECT3DRMFRAME reference, LPD3DVECTOR position) override;
    HRESULT SetPosition(LPDIRECT3DRMFRAME reference, D3DVALUE x, D3DVALUE y, D3DVALUE z) override;
    HRESULT SetOrientation(LPDIRECT3DRMFRAME reference, D3DVALUE dx, D3DVALUE dy, D3DVALUE dz,
                           D3DVALUE ux, D3DVALUE uy, D3DVALUE uz) override;
    HRESULT GetOrientation(LPDIRECT3DRMFRAME reference, LPD3DVECTOR dir, LPD3DVECTOR up) override;
    HRESULT SetVelocity(LPDIRECT3DRMFRAME reference, D3DVALUE x, D3DVALUE y, D3DVALUE z,
                        BOOL withRotation) override;
    HRESULT SetRotation(LPDIRECT3DRMFRAME reference, D3DVALUE x, D3DVALUE y, D3DVALUE z,
                        D3DVALUE theta) override;
    HRESULT Move(D3DVALUE delta) override;
    DX_REFCOUNTED;

    struct Visual {
        IUnknown* object; // one reference held
        Mesh* mesh;
        MeshBuilder* builder;
    };

    // Placement in world coordinates (the top of this frame's tree).
    Xform world() const;
    const Xform& local() const { return local_; }
    const std::vector<Frame*>& children() const { return children_; }
    const std::vector<Light*>& lights() const { return lights_; }
    const std::vector<Visual>& visuals() const { return visuals_; }

  private:
    ~Frame() override;
    void detach_child(Frame* child);
    void advance(double delta);
    // World placement of a reference frame; null means this frame's parent.
    Xform reference_world(Frame* reference) const;
    Xform parent_world() const;

    Frame* parent_ = nullptr; // not held: the parent holds us
    std::vector<Frame*> children_;
    std::vector<Light*> lights_;
    std::vector<Visual> visuals_;
    Xform local_;
    V3 velocity_; // parent coordinates, units per time unit
    V3 axis_;     // parent coordinates, unit length or zero
    double theta_ = 0;
    bool velocity_with_rotation_ = false;
};

class RMDevice final : public IDirect3DRMDevice2 {
  public:
    explicit RMDevice(D3DDevice* device);
    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    HRESULT SetBufferCount(DWORD count) override;
    HRESULT SetShades(DWORD shades) override;
    HRESULT SetDither(BOOL dither) override;
    HRESULT SetQuality(D3DRMRENDERQUALITY quality) override;
    HRESULT SetTextureQuality(D3DRMTEXTUREQUALITY quality) override;
    D3DRMRENDERQUALITY GetQuality() override { return quality_; }
    DWORD GetWidth() override { return DWORD(target()->width()); }
    DWORD GetHeight() override { return DWORD(target()->height()); }
    HRESULT Update() override;
    DX_REFCOUNTED;

    Surface* target() const { return device_->target(); }
    // The 8-bit palette the renderer allocates colours in, kept in step with the
    // surface's palette object; null for other formats.
    raster::Palette8* begin_palette();
    void end_palette();

  private:
    ~RMDevice() override = default;
    Ref<D3DDevice> device_;
    D3DRMRENDERQUALITY quality_ = D3DRMRENDER_FLAT;
    D3DRMTEXTUREQUALITY texture_quality_ = D3DRMTEXTURE_NEAREST;
    DWORD buffer_count_ = 1, shades_ = 32;
    BOOL dither_ = TRUE;
    std::unique_ptr<raster::Palette8> palette8_;
    Palette* synced_palette_ = nullptr;
    uint32_t synced_version_ = 0;
};

class Viewport final : public IDirect3DRMViewport {
  public:
    Viewport(RMDevice* device, Frame* camera, int x, int y, int width, int height);
    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    HRESULT Clear() override;
    HRESULT Render(LPDIRECT3DRMFRAME frame) override;
    HRESULT ForceUpdate(DWORD x1, DWORD y1, DWORD x2, DWORD y2) override;
    HRESULT SetBack(D3DVALUE back) override;
    HRESULT SetFront(D3DVALUE front) override;
    HRESULT SetField(D3DVALUE field) override;
    D3DVALUE GetBack() override { return back_; }
    D3DVALUE GetFront() override { return front_; }
    D3DVALUE GetField() override { return field_; }
    DX_REFCOUNTED;

  private:
    ~Viewport() override = default;
    void collect_lights(const Frame& frame, const Xform& world, const Xform& view,
                        raster::Lighting& lighting);
    void draw_tree(const Frame& frame, const Xform& world, const Xform& view,
                   raster::Target& target, raster::DrawParams& params);
    void draw_mesh(const RenderMesh& mesh, D3DRMRENDERQUALITY quality, raster::Target& target,
                   raster::DrawParams& params);

    Ref<RMDevice> device_;
    Ref<Frame> camera_;
    int x_, y_, width_, height_;
    // Defaults of the platform's viewport (perspective, uniform scaling).
    float front_ = 1.0f, back_ = 100.0f, field_ = 0.5f;
    raster::Renderer renderer_;
    raster::Rect drawn_{0, 0, 0, 0};  // device coordinates, since the last Clear
    raster::Rect forced_{0, 0, 0, 0}; // device coordinates
    bool cleared_once_ = false;
};

} // namespace dx
