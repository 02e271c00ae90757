// Frames: the scene tree, placement relative to reference frames, and motion.
#include "rm_internal.h"

#include <algorithm>

namespace dx {
namespace {

D3DVECTOR to_vector(V3 v) {
    return {float(v.x), float(v.y), float(v.z)};
}

} // namespace

Frame::Frame() = default;

Frame::~Frame() {
    for (Frame* child : children_) {
        child->parent_ = nullptr;
        child->Release();
    }
    for (Light* light : lights_)
        light->Release();
    for (Visual& v : visuals_)
        v.object->Release();
}

HRESULT Frame::QueryInterface(REFIID riid, LPVOID* object) {
    return query_interface(
        this, riid, object, D3DRMERR_BADVALUE,
        as<IDirect3DRMFrame2>(IID_IUnknown, IID_IDirect3DRMFrame, IID_IDirect3DRMFrame2));
}

void Frame::detach_child(Frame* child) {
    auto it = std::find(children_.begin(), children_.end(), child);
    if (it == children_.end()) return;
    children_.erase(it);
    child->parent_ = nullptr;
    child->Release();
}

HRESULT Frame::AddChild(LPDIRECT3DRMFRAME child_frame) {
    DX_FAILPOINT("AddChild");
    auto* child = dynamic_cast<Frame*>(child_frame);
    if (!child) return D3DRMERR_BADOBJECT;
    if (child->parent_ == this) return D3DRM_OK;
    for (const Frame* f = this; f; f = f->parent_)
        if (f == child) return D3DRMERR_BADVALUE; // would make a cycle
    child->AddRef();
    if (child->parent_) child->parent_->detach_child(child);
    children_.push_back(child);
    child->parent_ = this;
    return D3DRM_OK;
}

HRESULT Frame::AddLight(LPDIRECT3DRMLIGHT light_object) {
    DX_FAILPOINT("AddLight");
    auto* light = dynamic_cast<Light*>(light_object);
    if (!light) return D3DRMERR_BADOBJECT;
    light->AddRef();
    lights_.push_back(light);
    return D3DRM_OK;
}

HRESULT Frame::AddVisual(LPDIRECT3DRMVISUAL visual) {
    DX_FAILPOINT("AddVisual");
    Visual v{visual, dynamic_cast<Mesh*>(visual), dynamic_cast<MeshBuilder*>(visual)};
    if (!v.mesh && !v.builder) return D3DRMERR_BADOBJECT;
    visual->AddRef();
    visuals_.push_back(v);
    return D3DRM_OK;
}

HRESULT Frame::GetParent(LPDIRECT3DRMFRAME* parent) {
    DX_FAILPOINT("GetParent");
    if (!parent) return D3DRMERR_BADVALUE;
    *parent = parent_;
    if (parent_) parent_->AddRef();
    return D3DRM_OK;
}

Xform Frame::world() const {
    Xform w = local_;
    for (const Frame* f = parent_; f; f = f->parent_)
        w = compose(w, f->local_);
    return w;
}

Xform Frame::parent_world() const {
    return parent_ ? parent_->world() : Xform{};
}

Xform Frame::reference_world(Frame* reference) const {
    return reference ? reference->world() : parent_world();
}

HRESULT Frame::GetPosition(LPDIRECT3DRMFRAME reference, LPD3DVECTOR position) {
    DX_FAILPOINT("GetPosition");
    auto* ref = dynamic_cast<Frame*>(reference);
    if (!position || (reference && !ref)) return D3DRMERR_BADVALUE;
    *position = to_vector(unapply(world().t, reference_world(ref)));
    return D3DRM_OK;
}

HRESULT Frame::SetPosition(LPDIRECT3DRMFRAME reference, D3DVALUE x, D3DVALUE y, D3DVALUE z) {
    DX_FAILPOINT("SetPosition");
    auto* ref = dynamic_cast<Frame*>(reference);
    const V3 p{x, y, z};
    if ((reference && !ref) || !finite(p)) return D3DRMERR_BADVALUE;
    local_.t = unapply(apply(p, reference_world(ref)), parent_world());
    return D3DRM_OK;
}

HRESULT Frame::SetOrientation(LPDIRECT3DRMFRAME reference, D3DVALUE dx, D3DVALUE dy, D3DVALUE dz,
                              D3DVALUE ux, D3DVALUE uy, D3DVALUE uz) {
    DX_FAILPOINT("SetOrientation");
    auto* ref = dynamic_cast<Frame*>(reference);
    if (reference && !ref) return D3DRMERR_BADVALUE;
    Xform basis;
    basis.r[1] = {ux, uy, uz};
    basis.r[2] = {dx, dy, dz};
    if (!finite(basis.r[1]) || !finite(basis.r[2])) return D3DRMERR_BADVALUE;
    // Up is projected onto the plane across the direction; parallel vectors are refused.
    if (!orthonormalize(basis)) return D3DRMERR_BADVALUE;
    const Xform ref_world = reference_world(ref), parent = parent_world();
    for (int i = 0; i < 3; ++i)
        local_.r[i] = unrotate(rotate(basis.r[i], ref_world), parent);
    orthonormalize(local_);
    return D3DRM_OK;
}

HRESULT Frame::GetOrientation(LPDIRECT3DRMFRAME reference, LPD3DVECTOR dir, LPD3DVECTOR up) {
    DX_FAILPOINT("GetOrientation");
    auto* ref = dynamic_cast<Frame*>(reference);
    if (!dir || !up || (reference && !ref)) return D3DRMERR_BADVALUE;
    const Xform w = world(), ref_world = reference_world(ref);
    *dir = to_vector(unrotate(w.r[2], ref_world));
    *up = to_vector(unrotate(w.r[1], ref_world));
    return D3DRM_OK;
}

HRESULT Frame::SetVelocity(LPDIRECT3DRMFRAME reference, D3DVALUE x, D3DVALUE y, D3DVALUE z,
                           BOOL withRotation) {
    DX_FAILPOINT("SetVelocity");
    auto* ref = dynamic_cast<Frame*>(reference);
    const V3 v{x, y, z};
    if ((reference && !ref) || !finite(v)) return D3DRMERR_BADVALUE;
    velocity_ = unrotate(rotate(v, reference_world(ref)), parent_world());
    velocity_with_rotation_ = withRotation != FALSE;
    return D3DRM_OK;
}

HRESULT Frame::SetRotation(LPDIRECT3DRMFRAME reference, D3DVALUE x, D3DVALUE y, D3DVALUE z,
                           D3DVALUE theta) {
    DX_FAILPOINT("SetRotation");
    auto* ref = dynamic_cast<Frame*>(reference);
    const V3 a{x, y, z};
    if ((reference && !ref) || !finite(a) || !std::isfinite(theta)) return D3DRMERR_BADVALUE;
    V3 axis = unrotate(rotate(a, reference_world(ref)), parent_world());
    const double len = length(axis);
    axis_ = len > 1e-12 ? axis * (1 / len) : V3{}; // a zero axis turns nothing
    theta_ = theta;
    return D3DRM_OK;
}

void Frame::advance(double delta) {
    // The rotational-velocity flag is kept but adds nothing: our callers never set it.
    local_.t = local_.t + velocity_ * delta;
    if (theta_ != 0 && (axis_.x != 0 || axis_.y != 0 || axis_.z != 0)) {
        const double angle = theta_ * delta, c = std::cos(angle), s = std::sin(angle);
        for (V3& row : local_.r)
            row = rotate_about(row, axis_, c, s);
        // Renormalised every step so that long runs keep an exact rotation.
        orthonormalize(local_);
    }
    for (Frame* child : children_)
        child->advance(delta);
}

HRESULT Frame::Move(D3DVALUE delta) {
    DX_FAILPOINT("Move");
    if (!std::isfinite(delta)) return D3DRMERR_BADVALUE;
    advance(delta);
    return D3DRM_OK;
}

} // namespace dx
