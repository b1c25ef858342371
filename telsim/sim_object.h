// Base of every object the simulated service hands out.
//
// Two counts: client references (AddRef/Release through any COM interface)
// and service references (Held, the service's own links between its
// objects). Only client references show up in leak checks. When both reach
// zero the object is destroyed: OnDestroy drops what it links to and the
// object becomes a zombie. Its memory stays with the ledger until the
// service goes, so a client that releases past zero or calls a destroyed
// object is recorded as misuse instead of crashing.
#pragma once

#include "telephony/tapi.h"
#include "telsim/held.h"
#include "telsim/ledger.h"
#include "telsim/recorder.h"

#include <atomic>
#include <mutex>
#include <string>

#include <wrl/client.h>

namespace telsim {

class Notifications;
class Service;
class World;

class SimObject {
public:
    SimObject(Service& service, const wchar_t* kind) noexcept;
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
    // The client has let go of its last reference; the object may live on
    // through the service's own links.
    virtual void OnLastClientRelease() noexcept {}
    // Records a call on a destroyed object; true if the object is a zombie.
    bool CheckAlive(const wchar_t* what) const noexcept;
    // Records a misuse of this object ("<what> on <object>").
    void Report(const wchar_t* what) const noexcept;

    // What of its service this object works with.
    telsim::Recorder& Recorder() const noexcept;
    telsim::Ledger& Ledger() const noexcept;
    telsim::World& World() const noexcept;
    telsim::Notifications& Notifications() const noexcept;

    // A new object of the service, handed out through out with one reference.
    template <class T, class Itf, class... Args>
    HRESULT HandOut(Itf** out, Args&&... args) {
        T* made = Ledger().template Make<T>(service_, std::forward<Args>(args)...);
        made->AddRef();
        *out = made;
        return S_OK;
    }
    // A new string handed out through out; E_POINTER for a null out,
    // E_OUTOFMEMORY without memory.
    HRESULT HandOutString(const std::wstring& text, BSTR* out) const noexcept;
    // The gate of an optional interface: a query for it is recorded (as a
    // query) under `op` and open to faults; an interface not offered gives
    // E_NOINTERFACE; a NullOut fault succeeds with a null pointer, as every
    // NullOut does.
    HRESULT QueryOptional(const wchar_t* op, bool offered, IUnknown* itf, void** ppv) noexcept;
    // A query table of one interface iid (besides IUnknown, and IDispatch
    // when withDispatch): itf with a new reference, or E_NOINTERFACE.
    HRESULT QueryOne(REFIID riid, REFIID iid, IUnknown* itf, void** ppv,
                     bool withDispatch = true) noexcept;
    // A name for an argument in records: the object's description, "null",
    // or "foreign" for an object not of this service.
    std::wstring DescribeArgument(IUnknown* object) const;
    // IMarshal, from the free-threaded marshaler aggregated with `self` (the
    // object's IUnknown): the service's objects are agile unless bound, so
    // one handed to a sink in another apartment reaches it as itself, not
    // as a proxy. A bound object has none.
    HRESULT QueryMarshal(IUnknown* self, void** ppv) noexcept;
    // Binds this object to the calling thread's apartment (World::Objects):
    // from then on it is called as through a proxy, which refuses a caller
    // of another apartment and answers only IUnknown locally.
    void BindToApartment() noexcept;
    // S_OK when this thread may call the object; else the refusal is
    // counted (Ledger::WrongApartmentCalls) and RPC_E_WRONG_THREAD answered.
    HRESULT Enter() const noexcept;
    // Enter, for a member that asks the service to work (anything but a
    // read: World::EventThread). From the notification thread, unless that
    // is lenient, the misuse `what` is recorded and TAPI_E_TIMEOUT answered
    // once limitMs has passed, as the real service's thread would answer
    // after waiting for itself.
    HRESULT EnterToWork(const wchar_t* what, DWORD limitMs) const noexcept;
    HRESULT EnterToWork(const wchar_t* what) const noexcept;
    // Whether this thread is the notification thread and the client may only
    // read there (World::EventThread).
    bool OnlyReadsHere() const noexcept;
    // A member the service does not simulate: E_NOTIMPL, once entered.
    HRESULT Unsimulated() const noexcept {
        RETURN_IF_FAILED(Enter());
        return E_NOTIMPL;
    }

    Service& service_;

private:
    void DestroyIfUnused() noexcept;

    const wchar_t* kind_;
    unsigned long id_ = 0;
    std::atomic<long> clients_{0};
    std::atomic<long> holds_{0};
    std::atomic<bool> destroyed_{false};
    bool bound_ = false;
    DWORD apartment_ = 0;  // of a bound object (apartment.h, CurrentApartment)
    std::once_flag marshalerMade_;
    Microsoft::WRL::ComPtr<IUnknown> marshaler_;
};

// The answer of a plain property read: E_POINTER for a null out, else the value.
template <class T, class V>
HRESULT ReadProperty(T* out, V value) noexcept {
    if (!out) {
        return E_POINTER;
    }
    *out = static_cast<T>(value);
    return S_OK;
}

// Hands out an object the caller's object links (a new reference); `none`
// when there is no such link.
template <class T, class Itf>
HRESULT HandOutLinked(Itf** out, T* linked, HRESULT none) noexcept {
    if (!out) {
        return E_POINTER;
    }
    *out = linked;
    if (!linked) {
        return none;
    }
    linked->AddRef();
    return S_OK;
}

// A member the service does not simulate: E_NOTIMPL, the out set to null.
template <class T>
HRESULT NotImplemented(T** out) noexcept {
    if (out) {
        *out = nullptr;
    }
    return E_NOTIMPL;
}

}  // namespace telsim

// IUnknown through SimObject's client count, for a class whose QueryInterface
// table is its Query member.
#define TELSIM_IUNKNOWN                                                         \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {    \
        if (!ppv) {                                                             \
            return E_POINTER;                                                   \
        }                                                                       \
        *ppv = nullptr;                                                         \
        if (CheckAlive(L"QueryInterface")) {                                    \
            return E_UNEXPECTED;                                                \
        }                                                                       \
        if (!IsEqualIID(riid, IID_IUnknown)) {                                  \
            RETURN_IF_FAILED(Enter());                                          \
        }                                                                       \
        if (IsEqualIID(riid, IID_IMarshal)) {                                   \
            void* self = nullptr;                                               \
            if (FAILED(Query(IID_IUnknown, &self)) || !self) {                  \
                return E_NOINTERFACE;                                           \
            }                                                                   \
            const HRESULT hr = QueryMarshal(static_cast<IUnknown*>(self), ppv); \
            static_cast<IUnknown*>(self)->Release();                            \
            return hr;                                                          \
        }                                                                       \
        return Query(riid, ppv);                                                \
    }                                                                           \
    STDMETHODIMP_(ULONG) AddRef() noexcept override {                           \
        return ClientAddRef();                                                  \
    }                                                                           \
    STDMETHODIMP_(ULONG) Release() noexcept override {                          \
        return ClientRelease();                                                 \
    }

// IDispatch without type information: the service is called through its
// tables of operations only.
#define TELSIM_NO_DISPATCH                                                                 \
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {                         \
        RETURN_IF_FAILED(Enter());                                                         \
        if (!count) {                                                                      \
            return E_POINTER;                                                              \
        }                                                                                  \
        *count = 0;                                                                        \
        return S_OK;                                                                       \
    }                                                                                      \
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {             \
        RETURN_IF_FAILED(Enter());                                                         \
        if (info) {                                                                        \
            *info = nullptr;                                                               \
        }                                                                                  \
        return E_NOTIMPL;                                                                  \
    }                                                                                      \
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { \
        return Unsimulated();                                                              \
    }                                                                                      \
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,     \
                        UINT*) noexcept override {                                         \
        return Unsimulated();                                                              \
    }
