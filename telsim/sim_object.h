// Base of every object the simulated service hands out.
//
// Two counts: client references (AddRef/Release through any COM interface)
// and service references (ServiceHold/ServiceUnhold, the service's own links between its
// objects). Only client references show up in leak checks. When both reach
// zero the object is destroyed: OnDestroy drops what it links to and the
// object becomes a zombie. Its memory stays with the ServiceCore until the
// service goes, so a client that releases past zero or calls a destroyed
// object is recorded instead of crashing.
#pragma once

#include "telephony/tapi.h"

#include <atomic>
#include <string>
#include <utility>

namespace telsim {

class ServiceCore;

class SimObject {
public:
    SimObject(ServiceCore& core, const wchar_t* kind) noexcept;
    SimObject(const SimObject&) = delete;
    SimObject& operator=(const SimObject&) = delete;
    virtual ~SimObject() = default;

    ULONG ClientAddRef() noexcept;
    ULONG ClientRelease() noexcept;
    void ServiceHold() noexcept;
    void ServiceUnhold() noexcept;
    // When the service goes: drops this object's links whatever its counts,
    // so that no object is freed while another still links it.
    void Teardown() noexcept;

    long ClientRefs() const noexcept { return clients_.load(); }
    bool Destroyed() const noexcept { return destroyed_.load(); }
    const wchar_t* Kind() const noexcept { return kind_; }
    unsigned long Id() const noexcept { return id_; }
    void SetId(unsigned long id) noexcept { id_ = id; }
    // For records and leak reports, e.g. Address#3("Line 1").
    virtual std::wstring Describe() const;

protected:
    // Drops the links this object holds; runs once, with no lock held.
    virtual void OnDestroy() noexcept {}
    // Records a call on a destroyed object; true if the object is a zombie.
    bool CheckAlive(const wchar_t* what) const noexcept;
    // Records a misuse of this object ("<what> on <object>").
    void Report(const wchar_t* what) const noexcept;

    ServiceCore& core_;

private:
    void DestroyIfUnused() noexcept;

    const wchar_t* kind_;
    unsigned long id_ = 0;
    std::atomic<long> clients_{0};
    std::atomic<long> holds_{0};
    std::atomic<bool> destroyed_{false};
};

// A service reference to a SimObject-derived object: ServiceHold on copy, ServiceUnhold
// on reset.
template <class T>
class Held {
public:
    Held() noexcept = default;
    explicit Held(T* p) noexcept : p_(p) {
        if (p_) p_->ServiceHold();
    }
    Held(const Held& other) noexcept : Held(other.p_) {}
    Held(Held&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Held& operator=(Held other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Held() { Reset(); }
    void Reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) p->ServiceUnhold();
    }
    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

}  // namespace telsim

// IUnknown through SimObject's client count, for a class whose QueryInterface
// table is its Query member.
#define TELSIM_IUNKNOWN                                                              \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {        \
        if (!ppv) return E_POINTER;                                                 \
        *ppv = nullptr;                                                             \
        if (CheckAlive(L"QueryInterface")) return E_UNEXPECTED;                     \
        return Query(riid, ppv);                                                    \
    }                                                                               \
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ClientAddRef(); }      \
    STDMETHODIMP_(ULONG) Release() noexcept override { return ClientRelease(); }

// IDispatch without type information: the service is called through its
// tables of operations only.
#define TELSIM_NO_DISPATCH                                                            \
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {                  \
        if (!count) return E_POINTER;                                               \
        *count = 0;                                                                 \
        return S_OK;                                                                \
    }                                                                               \
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {      \
        if (info) *info = nullptr;                                                  \
        return E_NOTIMPL;                                                           \
    }                                                                               \
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept     \
        override {                                                                  \
        return E_NOTIMPL;                                                           \
    }                                                                               \
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,          \
                        EXCEPINFO*, UINT*) noexcept override {                      \
        return E_NOTIMPL;                                                           \
    }
