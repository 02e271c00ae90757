// Retained-mode device and viewport: the scene walk that feeds the rasterizer.
//
// Viewport defaults follow the platform's documentation of the viewport: front
// clipping plane 1.0, field 0.5 (half the extent of the view on the front plane,
// measured along the device's larger side), perspective projection with uniform
// scaling; the back plane starts at 100.0 and callers normally set it.
#include "rm_internal.h"

#include <algorithm>
#include <cmath>

namespace dx {

// The renderer takes the render quality as it is.
static_assert(raster::SHADE_FLAT == D3DRMSHADE_FLAT &&
              raster::SHADE_GOURAUD == D3DRMSHADE_GOURAUD && raster::SHADE_MASK == D3DRMSHADE_MASK);
static_assert(raster::LIGHT_OFF == D3DRMLIGHT_OFF && raster::LIGHT_ON == D3DRMLIGHT_ON &&
              raster::LIGHT_MASK == D3DRMLIGHT_MASK);
static_assert(raster::FILL_POINTS == D3DRMFILL_POINTS &&
              raster::FILL_WIREFRAME == D3DRMFILL_WIREFRAME &&
              raster::FILL_SOLID == D3DRMFILL_SOLID && raster::FILL_MASK == D3DRMFILL_MASK);

namespace {

raster::Mat4 to_mat4(const Xform& m) {
    raster::Mat4 out{};
    for (int i = 0; i < 3; ++i) {
        out.m[i][0] = float(m.r[i].x);
        out.m[i][1] = float(m.r[i].y);
        out.m[i][2] = float(m.r[i].z);
    }
    out.m[3][0] = float(m.t.x);
    out.m[3][1] = float(m.t.y);
    out.m[3][2] = float(m.t.z);
    out.m[3][3] = 1;
    return out;
}

// The mesh asks for a quality; the device's quality is the most it gets.
uint32_t effective_quality(D3DRMRENDERQUALITY mesh, D3DRMRENDERQUALITY device) {
    const uint32_t shade = std::min(mesh & D3DRMSHADE_MASK, device & D3DRMSHADE_MASK);
    const uint32_t fill = std::min(mesh & D3DRMFILL_MASK, device & D3DRMFILL_MASK);
    const uint32_t light =
        (mesh & D3DRMLIGHT_MASK) && (device & D3DRMLIGHT_MASK) ? D3DRMLIGHT_ON : D3DRMLIGHT_OFF;
    return shade | fill | light;
}

} // namespace

// ---- Device --------------------------------------------------------------------------

RMDevice::RMDevice(D3DDevice* device) : device_(device) {}

HRESULT RMDevice::QueryInterface(REFIID riid, LPVOID* object) {
    return query_interface(
        this, riid, object, D3DRMERR_BADVALUE,
        as<IDirect3DRMDevice2>(IID_IUnknown, IID_IDirect3DRMDevice, IID_IDirect3DRMDevice2));
}

HRESULT RMDevice::SetBufferCount(DWORD count) {
    DX_FAILPOINT("SetBufferCount");
    if (count < 1 || count > 3) return D3DRMERR_BADVALUE;
    buffer_count_ = count;
    return D3DRM_OK;
}

HRESULT RMDevice::SetShades(DWORD shades) {
    DX_FAILPOINT("SetShades");
    if (shades == 0 || (shades & (shades - 1)) != 0) return D3DRMERR_BADVALUE;
    shades_ = shades;
    return D3DRM_OK;
}

HRESULT RMDevice::SetDither(BOOL dither) {
    DX_FAILPOINT("SetDither");
    dither_ = dither;
    return D3DRM_OK;
}

HRESULT RMDevice::SetQuality(D3DRMRENDERQUALITY quality) {
    DX_FAILPOINT("SetQuality");
    quality_ = quality;
    return D3DRM_OK;
}

HRESULT RMDevice::SetTextureQuality(D3DRMTEXTUREQUALITY quality) {
    DX_FAILPOINT("SetTextureQuality");
    if (quality > D3DRMTEXTURE_LINEAR) return D3DRMERR_BADVALUE;
    texture_quality_ = quality;
    return D3DRM_OK;
}

HRESULT RMDevice::Update() {
    DX_FAILPOINT("Update");
    // A software device has finished the frame already; what changed is recorded
    // on the render target for the next copy to the screen.
    return D3DRM_OK;
}

raster::Palette8* RMDevice::begin_palette() {
    Surface* surface = target();
    if (surface->format() != raster::Format::Indexed8) return nullptr;
    if (!palette8_) palette8_ = std::make_unique<raster::Palette8>();
    Palette* pal = surface->palette();
    if (pal && (pal != synced_palette_ || pal->version != synced_version_)) {
        raster::Palette8& p = *palette8_;
        for (int i = 0; i < 256; ++i) {
            const PALETTEENTRY& e = pal->entries[i];
            p.entries[i] = {e.peRed, e.peGreen, e.peBlue};
            // Read-only entries are matched but never set; reserved ones are left
            // alone entirely; free and PC_RESERVED entries are the renderer's.
            p.writable[i] = !(e.peFlags & (D3DPAL_READONLY | D3DPAL_RESERVED));
            p.changed[i] = false;
        }
        p.reset();
        for (int i = 0; i < 256; ++i)
            if (pal->entries[i].peFlags & D3DPAL_RESERVED) p.used[i] = false;
        synced_palette_ = pal;
        synced_version_ = pal->version;
    }
    return palette8_.get();
}

void RMDevice::end_palette() {
    Palette* pal = target()->palette();
    if (!palette8_ || !pal || pal != synced_palette_) return;
    bool any = false;
    for (int i = 0; i < 256; ++i) {
        if (!palette8_->changed[i]) continue;
        palette8_->changed[i] = false;
        if (!palette8_->writable[i]) continue; // never touch what isn't ours
        PALETTEENTRY& e = pal->entries[i];
        e.peRed = palette8_->entries[i].r;
        e.peGreen = palette8_->entries[i].g;
        e.peBlue = palette8_->entries[i].b;
        any = true;
    }
    if (any) {
        ++pal->version;
        synced_version_ = pal->version;
    }
}

// ---- Viewport ------------------------------------------------------------------------

Viewport::Viewport(RMDevice* device, Frame* camera, int x, int y, int width, int height)
    : device_(device), camera_(camera), x_(x), y_(y), width_(width), height_(height) {}

HRESULT Viewport::QueryInterface(REFIID riid, LPVOID* object) {
    return query_interface(this, riid, object, D3DRMERR_BADVALUE,
                           as<IDirect3DRMViewport>(IID_IUnknown, IID_IDirect3DRMViewport));
}

HRESULT Viewport::SetBack(D3DVALUE back) {
    DX_FAILPOINT("SetBack");
    if (!std::isfinite(back) || back <= front_) return D3DRMERR_BADVALUE;
    back_ = back;
    return D3DRM_OK;
}

HRESULT Viewport::SetFront(D3DVALUE front) {
    DX_FAILPOINT("SetFront");
    if (!std::isfinite(front) || front <= 0 || front >= back_) return D3DRMERR_BADVALUE;
    front_ = front;
    return D3DRM_OK;
}

HRESULT Viewport::SetField(D3DVALUE field) {
    DX_FAILPOINT("SetField");
    if (!std::isfinite(field) || field <= 0) return D3DRMERR_BADVALUE;
    field_ = field;
    return D3DRM_OK;
}

HRESULT Viewport::ForceUpdate(DWORD x1, DWORD y1, DWORD x2, DWORD y2) {
    DX_FAILPOINT("ForceUpdate");
    if (x1 > x2 || y1 > y2) return D3DRMERR_BADVALUE;
    Surface* target = device_->target();
    const raster::Rect r =
        intersect({int(std::min<DWORD>(x1, 1u << 20)), int(std::min<DWORD>(y1, 1u << 20)),
                   int(std::min<DWORD>(x2, 1u << 20)), int(std::min<DWORD>(y2, 1u << 20))},
                  {0, 0, target->width(), target->height()});
    forced_ = unite(forced_, r);
    target->add_damage(r);
    return D3DRM_OK;
}

HRESULT Viewport::Clear() {
    DX_FAILPOINT("Clear");
    Surface* target = device_->target();
    const raster::Rect area{x_, y_, x_ + width_, y_ + height_};
    // Only what the last frame drew (and what was forced) needs clearing; the
    // rest of the viewport is still background. The first time, that is whatever
    // anything wrote since the surfaces were made: fresh memory reads as cleared.
    Surface* z = target->zbuffer();
    raster::Rect dirty = unite(drawn_, forced_);
    if (!cleared_once_)
        dirty = unite(dirty, unite(target->written(), z ? z->written() : raster::Rect{}));
    const raster::Rect region = intersect(dirty, area);
    cleared_once_ = true;
    drawn_ = forced_ = {0, 0, 0, 0};
    if (region.empty()) return D3DRM_OK;
    raster::Target t{target->pixels(),       target->width(),         target->height(),
                     target->pitch(),        target->format(),        z ? z->depth() : nullptr,
                     z ? z->pitch() / 2 : 0, device_->begin_palette()};
    const uint32_t black = 0;
    raster::clear(t, region, black, 0xFFFF);
    target->add_damage(region);
    return D3DRM_OK;
}

void Viewport::collect_lights(const Frame& frame, const Xform& world, const Xform& view,
                              raster::Lighting& lighting) {
    for (const Light* light : frame.lights()) {
        if (light->type() == D3DRMLIGHT_AMBIENT) {
            for (int c = 0; c < 3; ++c)
                lighting.ambient[c] += light->color[c];
        } else if (light->type() == D3DRMLIGHT_DIRECTIONAL && lighting.directional_count < 8) {
            // A directional light shines along its frame's +z.
            const V3 dir = rotate(world.r[2], view);
            auto& d = lighting.directional[lighting.directional_count++];
            d.dir = {float(dir.x), float(dir.y), float(dir.z)};
            for (int c = 0; c < 3; ++c)
                d.color[c] = light->color[c];
        }
    }
    for (const Frame* child : frame.children())
        collect_lights(*child, compose(child->local(), world), view, lighting);
}

void Viewport::draw_mesh(const RenderMesh& mesh, D3DRMRENDERQUALITY quality, raster::Target& target,
                         raster::DrawParams& params) {
    params.quality = effective_quality(quality, device_->GetQuality());
    const bool wireframe = (params.quality & D3DRMFILL_MASK) == D3DRMFILL_WIREFRAME;
    // Solid meshes may be drawn from a simplified copy that shows the same picture; outlines
    // and points are the model's own, whatever their size.
    const int level = (params.quality & D3DRMFILL_MASK) == D3DRMFILL_SOLID
                          ? pick_detail_level(mesh, params.model_to_camera, params.projection)
                          : -1;
    if (level >= 0) {
        const DetailLevel& d = mesh.levels[size_t(level)];
        for (size_t i = 0; i < mesh.groups.size(); ++i) {
            const raster::Mesh m{d.positions.data(),
                                 d.normals.data(),
                                 uint32_t(d.positions.size()),
                                 d.indices[i].data(),
                                 uint32_t(d.indices[i].size() / 3),
                                 nullptr};
            for (int c = 0; c < 3; ++c)
                params.color[c] = mesh.groups[i].color[c];
            renderer_.draw(target, m, params);
        }
        return;
    }
    for (const RenderGroup& g : mesh.groups) {
        raster::Mesh m{mesh.positions.data(),           mesh.normals.data(),
                       uint32_t(mesh.positions.size()), g.indices.data(),
                       uint32_t(g.indices.size() / 3),  g.edges.data()};
        if (wireframe) {
            if (!g.wire_ready) {
                raster::build_edges(m, g.wire);
                g.wire_ready = true;
            }
            m.edges = g.wire.data();
            m.edge_count = uint32_t(g.wire.size());
        }
        for (int c = 0; c < 3; ++c)
            params.color[c] = g.color[c];
        renderer_.draw(target, m, params);
    }
}

void Viewport::draw_tree(const Frame& frame, const Xform& world, const Xform& view,
                         raster::Target& target, raster::DrawParams& params) {
    if (!frame.visuals().empty()) {
        params.model_to_camera = to_mat4(compose(world, view));
        for (const Frame::Visual& v : frame.visuals()) {
            if (v.mesh) draw_mesh(v.mesh->data(), v.mesh->quality(), target, params);
            if (v.builder)
                draw_mesh(v.builder->render_form(), v.builder->GetQuality(), target, params);
        }
    }
    for (const Frame* child : frame.children())
        draw_tree(*child, compose(child->local(), world), view, target, params);
}

HRESULT Viewport::Render(LPDIRECT3DRMFRAME frame) {
    DX_FAILPOINT("Render");
    auto* root = dynamic_cast<Frame*>(frame);
    if (!root) return D3DRMERR_BADOBJECT;
    Surface* surface = device_->target();
    Surface* z = surface->zbuffer();

    // Draw into the viewport's rectangle only: the target starts at its corner.
    raster::Target target{surface->pixels() + ptrdiff_t(y_) * surface->pitch() +
                              ptrdiff_t(x_) * bytes_per_pixel(surface->format()),
                          width_,
                          height_,
                          surface->pitch(),
                          surface->format(),
                          z ? z->depth() + ptrdiff_t(y_) * (z->pitch() / 2) + x_ : nullptr,
                          z ? z->pitch() / 2 : 0,
                          device_->begin_palette()};

    const Xform view = inverse(camera_->world());
    const Xform root_world = root->world();
    raster::Lighting lighting{};
    collect_lights(*root, root_world, view, lighting);

    raster::DrawParams params{};
    const float scale = front_ / field_ * 0.5f * float(std::max(width_, height_));
    params.projection = {scale, scale, 0.5f * float(width_), 0.5f * float(height_), front_, back_};
    params.lighting = &lighting;

    renderer_.reset_drawn();
    draw_tree(*root, root_world, view, target, params);
    device_->end_palette();

    const raster::Rect d = renderer_.drawn();
    if (!d.empty()) {
        const raster::Rect in_device{d.left + x_, d.top + y_, d.right + x_, d.bottom + y_};
        drawn_ = unite(drawn_, in_device);
        surface->add_damage(in_device);
        surface->add_written(in_device);
        if (z) z->add_written(in_device);
    }
    return D3DRM_OK;
}

} // namespace dx
