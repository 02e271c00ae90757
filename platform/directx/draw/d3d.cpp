// IDirect3D2 over the DirectDraw object: device enumeration and the two
// software emulation devices (ramp and MMX), which both draw with our rasterizer.
#include "draw_internal.h"

#include <cstring>
#include <deque>
#include <new>
#include <string>

namespace dx {
namespace {

struct TestDevice {
    GUID guid;
    std::string name;
    D3DDEVICEDESC hardware;
    D3DDEVICEDESC emulation;
};

// A deque keeps the GUIDs handed to callbacks where they are as devices are added.
std::deque<TestDevice>& test_devices() {
    static std::deque<TestDevice> devices;
    return devices;
}

// The callback receives pointers it may keep for the enumeration's lifetime (and
// beyond): give it storage that lasts.
GUID g_ramp_guid = IID_IDirect3DRampDevice;
GUID g_mmx_guid = IID_IDirect3DMMXDevice;

D3DDEVICEDESC emulation_desc(D3DCOLORMODEL model) {
    D3DDEVICEDESC d;
    std::memset(&d, 0, sizeof d);
    d.dwSize = sizeof d;
    d.dwFlags = D3DDD_COLORMODEL | D3DDD_DEVICEZBUFFERBITDEPTH;
    d.dcmColorModel = model;
    d.bClipping = TRUE;
    d.dwDeviceRenderBitDepth = DDBD_8 | DDBD_16 | DDBD_24 | DDBD_32;
    d.dwDeviceZBufferBitDepth = DDBD_16;
    d.dwMaxVertexCount = 65535;
    return d;
}

D3DDEVICEDESC no_hardware() {
    D3DDEVICEDESC d;
    std::memset(&d, 0, sizeof d);
    d.dwSize = sizeof d;
    return d;
}

class Direct3D final : public IDirect3D2 {
  public:
    explicit Direct3D(DirectDraw* owner) : owner_(owner) {}

    HRESULT QueryInterface(REFIID riid, LPVOID* object) override {
        auto ask_owner = [this](LPVOID* out) {
            return owner_->QueryInterface(IID_IDirectDraw, out);
        };
        return query_interface(this, riid, object, DDERR_INVALIDPARAMS,
                               as<IDirect3D2>(IID_IUnknown, IID_IDirect3D2),
                               via(IID_IDirectDraw, ask_owner));
    }

    HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK callback, LPVOID context) override {
        DX_FAILPOINT("EnumDevices");
        if (!callback) return DDERR_INVALIDPARAMS;
        for (TestDevice& t : test_devices()) {
            D3DDEVICEDESC hw = t.hardware, em = t.emulation;
            if (callback(&t.guid, t.name.data(), t.name.data(), &hw, &em, context) ==
                D3DENUMRET_CANCEL)
                return DD_OK;
        }
        char ramp_desc[] = "Software ramp emulation", ramp_name[] = "Ramp Emulation";
        D3DDEVICEDESC hw = no_hardware(), em = emulation_desc(D3DCOLOR_MONO);
        if (callback(&g_ramp_guid, ramp_desc, ramp_name, &hw, &em, context) == D3DENUMRET_CANCEL)
            return DD_OK;
        char mmx_desc[] = "Software MMX emulation", mmx_name[] = "MMX Emulation";
        hw = no_hardware();
        em = emulation_desc(D3DCOLOR_RGB | D3DCOLOR_MONO);
        callback(&g_mmx_guid, mmx_desc, mmx_name, &hw, &em, context);
        return DD_OK;
    }

    HRESULT CreateDevice(REFCLSID guid, LPDIRECTDRAWSURFACE surface,
                         LPDIRECT3DDEVICE2* device) override {
        DX_FAILPOINT("CreateDevice");
        if (!device) return DDERR_INVALIDPARAMS;
        *device = nullptr;
        const bool ramp = guid == IID_IDirect3DRampDevice;
        if (!ramp && !(guid == IID_IDirect3DMMXDevice)) return DDERR_INVALIDPARAMS;
        if (!ramp && !mmx_available()) return DDERR_UNSUPPORTED;
        // A z-buffer attached to the target is used when present; without one the
        // device draws without a depth test.
        auto* target = dynamic_cast<Surface*>(surface);
        if (!target) return DDERR_INVALIDPARAMS;
        if (target->kind() != SurfaceKind::Offscreen) return DDERR_INVALIDCAPS;
        if (target->lost()) return DDERR_SURFACELOST;
        auto* d = new (std::nothrow) D3DDevice(target, ramp);
        if (!d) return DDERR_OUTOFMEMORY;
        *device = d;
        return DD_OK;
    }

    DX_REFCOUNTED;

  private:
    ~Direct3D() override = default;
    Ref<DirectDraw> owner_;
};

} // namespace

IUnknown* create_direct3d2(DirectDraw* owner) {
    return static_cast<IDirect3D2*>(new (std::nothrow) Direct3D(owner));
}

D3DDevice::D3DDevice(Surface* target, bool ramp) : target_(target), ramp_(ramp) {}

HRESULT D3DDevice::QueryInterface(REFIID riid, LPVOID* object) {
    return query_interface(this, riid, object, DDERR_INVALIDPARAMS,
                           as<IDirect3DDevice2>(IID_IUnknown, IID_IDirect3DDevice2));
}

HRESULT D3DDevice::GetRenderTarget(LPDIRECTDRAWSURFACE* surface) {
    DX_FAILPOINT("GetRenderTarget");
    if (!surface) return DDERR_INVALIDPARAMS;
    target_->AddRef();
    *surface = target_.get();
    return DD_OK;
}

} // namespace dx

void DXTestAddDevice(const GUID& guid, const char* name, const D3DDEVICEDESC& hardware,
                     const D3DDEVICEDESC& emulation) {
    dx::test_devices().push_back({guid, name ? name : "", hardware, emulation});
}

void DXTestClearDevices(void) {
    dx::test_devices().clear();
}
