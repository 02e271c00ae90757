// Shared machinery of the graphics stand-in: object counting, reference-counted
// holders, failure injection and the test switches.
#pragma once

#include <dxtest.h>

#include <atomic>
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

// Test switches (set through dxtest.h).
bool unpaced();
bool headless();
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
        if (left == 0) delete this;                                                                \
        return left;                                                                               \
    }                                                                                              \
    std::atomic<ULONG> refs_{1};                                                                   \
    dx::LiveToken live_
