#include "telsim/sim_object.h"

#include "telsim/apartment.h"
#include "telsim/notifications.h"
#include "telsim/telsim.h"

namespace telsim {

SimObject::SimObject(Service& service, const wchar_t* kind) noexcept
    : service_(service), kind_(kind) {}

std::wstring SimObject::Describe() const {
    return std::wstring(kind_) + L"#" + std::to_wstring(id_);
}

ULONG SimObject::ClientAddRef() noexcept {
    if (destroyed_.load()) {
        Report(L"AddRef on destroyed");
        return 0;
    }
    return static_cast<ULONG>(++clients_);
}

ULONG SimObject::ClientRelease() noexcept {
    long current = clients_.load();
    do {
        if (current <= 0) {
            Report(L"Release past zero on");
            return 0;
        }
    } while (!clients_.compare_exchange_weak(current, current - 1));
    if (current == 1) {
        OnLastClientRelease();
        DestroyIfUnused();
    }
    return static_cast<ULONG>(current - 1);
}

void SimObject::ServiceHold() noexcept {
    ++holds_;
}

void SimObject::ServiceUnhold() noexcept {
    if (--holds_ == 0) {
        DestroyIfUnused();
    }
}

void SimObject::Teardown() noexcept {
    if (!destroyed_.exchange(true)) {
        OnDestroy();
    }
}

void SimObject::DestroyIfUnused() noexcept {
    if (clients_.load() == 0 && holds_.load() == 0 && !destroyed_.exchange(true)) {
        OnDestroy();
    }
}

bool SimObject::CheckAlive(const wchar_t* what) const noexcept try {
    if (!destroyed_.load()) {
        return false;
    }
    const std::wstring text = std::wstring(what) + L" on destroyed";
    Report(text.c_str());
    return true;
} catch (...) {
    return true;
}

void SimObject::Report(const wchar_t* what) const noexcept {
    try {
        Ledger().ReportMisuse(std::wstring(what) + L" " + Describe());
    } catch (...) {
        // The report is lost; the object's caller must not fail for it.
    }
}

telsim::Recorder& SimObject::Recorder() const noexcept {
    return service_.Recorder();
}

telsim::Ledger& SimObject::Ledger() const noexcept {
    return service_.Ledger();
}

telsim::World& SimObject::World() const noexcept {
    return service_.World();
}

telsim::Notifications& SimObject::Notifications() const noexcept {
    return service_.Notifications();
}

HRESULT SimObject::HandOutString(const std::wstring& text, BSTR* out) const noexcept {
    if (!out) {
        return E_POINTER;
    }
    *out = Ledger().AllocString(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT SimObject::QueryOptional(const wchar_t* op, bool offered, IUnknown* itf,
                                 void** ppv) noexcept {
    telsim::Recorder& recorder = Recorder();
    const Gate gate = recorder.Begin(
        op, [] { return std::wstring(); }, true);
    HRESULT hr = gate.Admit();
    if (SUCCEEDED(hr) && !offered) {
        hr = E_NOINTERFACE;
    }
    if (SUCCEEDED(hr) && !gate.nullOut) {
        itf->AddRef();
        *ppv = itf;
    }
    return recorder.Finish(gate, hr);
}

HRESULT SimObject::QueryOne(REFIID riid, REFIID iid, IUnknown* itf, void** ppv,
                            bool withDispatch) noexcept {
    if (!IsEqualIID(riid, IID_IUnknown) && !(withDispatch && IsEqualIID(riid, IID_IDispatch)) &&
        !IsEqualIID(riid, iid)) {
        return E_NOINTERFACE;
    }
    itf->AddRef();
    *ppv = itf;
    return S_OK;
}

std::wstring SimObject::DescribeArgument(IUnknown* object) const {
    if (!object) {
        return L"null";
    }
    const SimObject* found = Ledger().Find(object);
    return found ? found->Describe() : std::wstring(L"foreign");
}

}  // namespace telsim

namespace telsim {

void SimObject::BindToApartment() noexcept {
    apartment_ = CurrentApartment();
    bound_ = true;
}

HRESULT SimObject::Enter() const noexcept {
    if (!bound_ || CurrentApartment() == apartment_) {
        return S_OK;
    }
    Ledger().CountWrongApartmentCall();
    return RPC_E_WRONG_THREAD;
}

bool SimObject::OnlyReadsHere() const noexcept {
    return Notifications().OnNotificationThread() &&
           World().CurrentEventThread() == EventThread::ReadsOnly;
}

HRESULT SimObject::EnterToWork(const wchar_t* what, DWORD limitMs) const noexcept {
    RETURN_IF_FAILED(Enter());
    if (!OnlyReadsHere()) {
        return S_OK;
    }
    try {
        Report((std::wstring(what) + L" from the notification thread, inside Event, on").c_str());
    } catch (...) {
        Report(L"work asked from the notification thread, inside Event, of");
    }
    WaitServing(limitMs);
    return TAPI_E_TIMEOUT;
}

HRESULT SimObject::EnterToWork(const wchar_t* what) const noexcept {
    if (!OnlyReadsHere()) {
        return Enter();
    }
    DWORD limitMs = 0;
    try {
        limitMs = World().Script().hangupLimitMs;
    } catch (...) {
        // Without memory to read the script the answer comes at once.
    }
    return EnterToWork(what, limitMs);
}

HRESULT SimObject::QueryMarshal(IUnknown* self, void** ppv) noexcept {
    if (bound_) {
        return E_NOINTERFACE;
    }
    try {
        std::call_once(marshalerMade_, [&] {
            if (FAILED(CoCreateFreeThreadedMarshaler(self, &marshaler_))) {
                marshaler_.Reset();
            }
        });
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    if (!marshaler_) {
        return E_NOINTERFACE;
    }
    return marshaler_->QueryInterface(IID_IMarshal, ppv);
}

}  // namespace telsim
