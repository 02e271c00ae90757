// The retained-mode object: creation of frames, lights, mesh builders, devices
// and viewports.
#include "rm_internal.h"

#include <new>

namespace dx {

// ---- Light -----------------------------------------------------------------------

Light::Light(D3DRMLIGHTTYPE type, float r, float g, float b) : color{r, g, b}, type_(type) {}

HRESULT Light::QueryInterface(REFIID riid, LPVOID* object) {
    return query_interface(this, riid, object, D3DRMERR_BADVALUE, as<IUnknown>(IID_IUnknown));
}

HRESULT Light::SetColorRGB(D3DVALUE red, D3DVALUE green, D3DVALUE blue) {
    DX_FAILPOINT("SetColorRGB");
    if (!std::isfinite(red) || !std::isfinite(green) || !std::isfinite(blue))
        return D3DRMERR_BADVALUE;
    color[0] = red;
    color[1] = green;
    color[2] = blue;
    return D3DRM_OK;
}

namespace {

class RetainedMode final : public IDirect3DRM, public IDirect3DRM2 {
  public:
    HRESULT QueryInterface(REFIID riid, LPVOID* object) override {
        return query_interface(this, riid, object, D3DRMERR_BADVALUE,
                               as<IDirect3DRM>(IID_IUnknown, IID_IDirect3DRM),
                               as<IDirect3DRM2>(IID_IDirect3DRM2));
    }

    HRESULT CreateFrame(LPDIRECT3DRMFRAME parent, LPDIRECT3DRMFRAME* frame) override {
        LPDIRECT3DRMFRAME2 created = nullptr;
        const HRESULT hr = make_frame(parent, &created);
        if (frame) *frame = created;
        return hr;
    }

    HRESULT CreateFrame(LPDIRECT3DRMFRAME parent, LPDIRECT3DRMFRAME2* frame) override {
        return make_frame(parent, frame);
    }

    HRESULT CreateMeshBuilder(LPDIRECT3DRMMESHBUILDER2* builder) override {
        DX_FAILPOINT("CreateMeshBuilder");
        if (!builder) return D3DRMERR_BADVALUE;
        *builder = new (std::nothrow) MeshBuilder();
        return *builder ? D3DRM_OK : D3DRMERR_BADALLOC;
    }

    HRESULT CreateLightRGB(D3DRMLIGHTTYPE type, D3DVALUE red, D3DVALUE green, D3DVALUE blue,
                           LPDIRECT3DRMLIGHT* light) override {
        DX_FAILPOINT("CreateLightRGB");
        if (!light) return D3DRMERR_BADVALUE;
        *light = nullptr;
        if (type < D3DRMLIGHT_AMBIENT || type > D3DRMLIGHT_PARALLELPOINT) return D3DRMERR_BADVALUE;
        if (!std::isfinite(red) || !std::isfinite(green) || !std::isfinite(blue))
            return D3DRMERR_BADVALUE;
        *light = new (std::nothrow) Light(type, red, green, blue);
        return *light ? D3DRM_OK : D3DRMERR_BADALLOC;
    }

    HRESULT CreateDeviceFromD3D(LPDIRECT3D2 d3d, LPDIRECT3DDEVICE2 device,
                                LPDIRECT3DRMDEVICE2* rmDevice) override {
        DX_FAILPOINT("CreateDeviceFromD3D");
        if (!rmDevice) return D3DRMERR_BADVALUE;
        *rmDevice = nullptr;
        auto* d = dynamic_cast<D3DDevice*>(device);
        if (!d3d || !d) return D3DRMERR_BADOBJECT;
        if (d->target()->lost()) return DDERR_SURFACELOST;
        *rmDevice = new (std::nothrow) RMDevice(d);
        return *rmDevice ? D3DRM_OK : D3DRMERR_BADALLOC;
    }

    HRESULT CreateViewport(LPDIRECT3DRMDEVICE device, LPDIRECT3DRMFRAME camera, DWORD x, DWORD y,
                           DWORD width, DWORD height, LPDIRECT3DRMVIEWPORT* viewport) override {
        DX_FAILPOINT("CreateViewport");
        if (!viewport) return D3DRMERR_BADVALUE;
        *viewport = nullptr;
        auto* d = dynamic_cast<RMDevice*>(device);
        auto* c = dynamic_cast<Frame*>(camera);
        if (!d || !c) return D3DRMERR_BADOBJECT;
        const uint64_t right = uint64_t(x) + width, bottom = uint64_t(y) + height;
        if (width == 0 || height == 0 || right > d->GetWidth() || bottom > d->GetHeight())
            return D3DRMERR_BADVALUE;
        *viewport = new (std::nothrow) Viewport(d, c, int(x), int(y), int(width), int(height));
        return *viewport ? D3DRM_OK : D3DRMERR_BADALLOC;
    }

    HRESULT SetDefaultTextureColors(DWORD colors) override {
        DX_FAILPOINT("SetDefaultTextureColors");
        texture_colors_ = colors;
        return D3DRM_OK;
    }

    HRESULT SetDefaultTextureShades(DWORD shades) override {
        DX_FAILPOINT("SetDefaultTextureShades");
        texture_shades_ = shades;
        return D3DRM_OK;
    }

    DX_REFCOUNTED;

  private:
    ~RetainedMode() override = default;

    HRESULT make_frame(LPDIRECT3DRMFRAME parent, LPDIRECT3DRMFRAME2* frame) {
        DX_FAILPOINT("CreateFrame");
        if (!frame) return D3DRMERR_BADVALUE;
        *frame = nullptr;
        auto* p = dynamic_cast<Frame*>(parent);
        if (parent && !p) return D3DRMERR_BADOBJECT;
        Frame* f = new (std::nothrow) Frame();
        if (!f) return D3DRMERR_BADALLOC;
        if (p) p->AddChild(f);
        *frame = f;
        return D3DRM_OK;
    }

    DWORD texture_colors_ = 0, texture_shades_ = 0;
};

} // namespace
} // namespace dx

HRESULT WINAPI Direct3DRMCreate(LPDIRECT3DRM* d3drm) {
    DX_FAILPOINT("Direct3DRMCreate");
    if (!d3drm) return D3DRMERR_BADVALUE;
    auto* rm = new (std::nothrow) dx::RetainedMode();
    *d3drm = rm;
    return rm ? D3DRM_OK : D3DRMERR_BADALLOC;
}
