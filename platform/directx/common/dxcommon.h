// Shared machinery of the graphics stand-in: object counting, reference-counted
// holders, failure injection and the test switches.
#pragma once

#include <dxtest.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <utility>

namespace dx {

// Every interface object owns one of these, so DXTestLiveObjects sees it.
class LiveToken {
  public:
    LiveToken();
    ~LiveToken();
    LiveToken(const LiveToken&) = delete;
    LiveToken& operator=(const LiveToken&) = delete;
};

// The injected result for this call of the named operation, or DD_OK.
HRESULT injected(const char* operation);

// Tells the test's release hook, if any, that an object was released.
void released(const void* object, ULONG left);

// Test switches (set through dxtest.h).
bool unpaced();
bool headless();
bool full_detail(); // meshes made afterwards get no simplified copies
bool mmx_available();

// Holds one reference; releases it when reset or destroyed.
template <class T> class Ref {
  public:
    Ref() = default;
    explicit Ref(T* p, bool add_ref = true) : p_(p) {
        if (p_ && add_ref) p_->AddRef();
    }
    Ref(const Ref& o) : Ref(o.p_) {}
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Ref() { reset(); }
    void reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    T* p_ = nullptr;
};

// ---- QueryInterface ----------------------------------------------------------
//
// Every object answers QueryInterface the same way; only its answers differ:
//
//     return dx::query_interface(this, riid, object, DDERR_INVALIDPARAMS,
//                                dx::as<IDirectDrawSurface>(IID_IUnknown, IID_IDirectDrawSurface));

// The object itself, as an I, for any of these IIDs (one more reference).
template <class I, std::size_t N> struct As {
    std::array<const IID*, N> iids;
    bool matches(REFIID riid) const {
        for (const IID* iid : iids)
            if (riid == *iid) return true;
        return false;
    }
    template <class Self> HRESULT answer(Self* self, LPVOID* object) const {
        self->AddRef();
        *object = static_cast<I*>(self);
        return S_OK;
    }
};
template <class I, class... Iids> As<I, sizeof...(Iids)> as(const Iids&... iids) {
    return {{&iids...}};
}

// For one IID, whatever get(object) hands out: another object, or another's answer.
template <class Get> struct Via {
    const IID* iid;
    Get get;
    bool matches(REFIID riid) const { return riid == *iid; }
    template <class Self> HRESULT answer(Self*, LPVOID* object) const { return get(object); }
};
template <class Get> Via<Get> via(REFIID iid, Get get) {
    return {&iid, std::move(get)};
}

// A null out-pointer is the interface's own bad-value error; otherwise the
// out-pointer is cleared before anything else, so a failure (an injected one
// included) always leaves it null. The first answer that lists riid is given.
template <class Self, class... Answers>
HRESULT query_interface(Self* self, REFIID riid, LPVOID* object, HRESULT bad_value,
                        const Answers&... answers) {
    if (!object) return bad_value;
    *object = nullptr;
    if (const HRESULT failure = injected("QueryInterface"); failure != DD_OK) return failure;
    HRESULT result = E_NOINTERFACE;
    (void)((answers.matches(riid) && ((result = answers.answer(self, object)), true)) || ...);
    return result;
}

} // namespace dx

// Checked at the top of every named operation: a test may make it fail.
#define DX_FAILPOINT(name)                                                                         \
    do {                                                                                           \
        const HRESULT dx_injected_ = dx::injected(name);                                           \
        if (dx_injected_ != DD_OK) return dx_injected_;                                            \
    } while (0)

// AddRef/Release for a class with `std::atomic<ULONG> refs_{1}` and a LiveToken.
#define DX_REFCOUNTED                                                                              \
    ULONG AddRef() override {                                                                      \
        return ++refs_;                                                                            \
    }                                                                                              \
    ULONG Release() override {                                                                     \
        const ULONG left = --refs_;                                                                \
        dx::released(this, left);                                                                  \
        if (left == 0) delete this;                                                                \
        return left;                                                                               \
    }                                                                                              \
    std::atomic<ULONG> refs_{1};                                                                   \
    dx::LiveToken live_
