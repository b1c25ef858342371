#include "telsim/root.h"

#include "comkit/result.h"
#include "telsim/address.h"
#include "telsim/modem/call_modem.h"
#include "telsim/service_core.h"

namespace telsim {

Root::Root(ServiceCore& core) noexcept : SimObject(core, L"TAPI") {}

HRESULT Root::Query(REFIID riid, void** ppv) noexcept {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_ITTAPI)) {
        *ppv = static_cast<ITTAPI*>(this);
    } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
        const Gate gate = core_.Begin(op::QueryConnectionPointContainer, [] { return std::wstring(); }, true);
        if (FAILED(gate.fault) || gate.nullOut) return core_.Finish(gate, FAILED(gate.fault) ? gate.fault : E_NOINTERFACE);
        *ppv = static_cast<IConnectionPointContainer*>(this);
        AddRef();
        return core_.Finish(gate, S_OK);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

void Root::OnDestroy() noexcept {
    try {
        core_.RootGone(this);
    } catch (...) {
        Report(L"sinks not released for lack of memory by");
    }
}

HRESULT Root::Initialize() noexcept {
    const Gate gate = core_.Begin(op::Initialize);
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    core_.SetInitialized(this, true);
    return core_.Finish(gate, S_OK);
}

HRESULT Root::Shutdown() noexcept {
    const Gate gate = core_.Begin(op::Shutdown);
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    // Sinks stay advised: the real service keeps them until Unadvise or the
    // root object's final release.
    core_.SetInitialized(this, false);
    // As the platform drops the calls when the service shuts down: a modem
    // left off hook would hold its line. Bounded by the modems' timeouts.
    modem::CallModem::HangUpAll(&core_);
    return core_.Finish(gate, S_OK);
}

HRESULT Root::get_Addresses(VARIANT* addresses) noexcept {
    if (addresses) VariantInit(addresses);
    return E_NOTIMPL;
}

HRESULT Root::EnumerateAddresses(IEnumAddress** result) noexcept {
    const Gate gate = core_.Begin(op::EnumerateAddresses);
    if (!result) return core_.Finish(gate, E_POINTER);
    *result = nullptr;
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (!core_.IsInitialized(this)) return core_.Finish(gate, TAPI_E_NOT_INITIALIZED);
    if (gate.nullOut) return core_.Finish(gate, S_OK);
    return core_.Finish(gate, comkit::GuardCall([&] {
        AddressEnum* enumerator = core_.Make<AddressEnum>(core_.Addresses());
        enumerator->AddRef();
        *result = enumerator;
        return S_OK;
    }));
}

HRESULT Root::RegisterCallNotifications(ITAddress* address, VARIANT_BOOL monitor, VARIANT_BOOL owner,
                                        long mediaTypes, long callbackInstance, long* handle) noexcept {
    const Gate gate = core_.Begin(op::RegisterCallNotifications, [&] {
        return ArgList(telsim::Describe(address, core_), monitor, owner, mediaTypes, callbackInstance);
    });
    if (!handle) return core_.Finish(gate, E_POINTER);
    *handle = 0;
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (!core_.IsInitialized(this)) return core_.Finish(gate, TAPI_E_NOT_INITIALIZED);
    if (!address || !core_.FindAs<Address>(address)) return core_.Finish(gate, TAPI_E_INVALADDRESS);
    if (gate.nullOut) return core_.Finish(gate, S_OK);
    return core_.Finish(gate, comkit::GuardCall([&] {
        *handle = core_.AddRegistration(this, callbackInstance);
        return S_OK;
    }));
}

HRESULT Root::UnregisterNotifications(long handle) noexcept {
    const Gate gate = core_.Begin(op::UnregisterNotifications, [&] { return ArgList(handle); });
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    return core_.Finish(gate, core_.RemoveRegistration(this, handle) ? S_OK : E_INVALIDARG);
}

HRESULT Root::put_EventFilter(long filter) noexcept {
    const Gate gate = core_.Begin(op::PutEventFilter, [&] { return ArgList(filter); });
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (!core_.IsInitialized(this)) return core_.Finish(gate, TAPI_E_NOT_INITIALIZED);
    core_.SetFilter(this, filter);
    return core_.Finish(gate, S_OK);
}

HRESULT Root::get_EventFilter(long* filter) noexcept {
    if (!filter) return E_POINTER;
    *filter = core_.Filter(this);
    return S_OK;
}

HRESULT Root::EnumConnectionPoints(IEnumConnectionPoints** result) noexcept {
    if (result) *result = nullptr;
    return E_NOTIMPL;
}

HRESULT Root::FindConnectionPoint(REFIID riid, IConnectionPoint** result) noexcept {
    const Gate gate = core_.Begin(op::FindConnectionPoint, [&] {
        return std::wstring(IsEqualIID(riid, IID_ITTAPIEventNotification) ? L"ITTAPIEventNotification" : L"other");
    });
    if (!result) return core_.Finish(gate, E_POINTER);
    *result = nullptr;
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (!IsEqualIID(riid, IID_ITTAPIEventNotification)) return core_.Finish(gate, CONNECT_E_NOCONNECTION);
    if (gate.nullOut) return core_.Finish(gate, S_OK);
    return core_.Finish(gate, comkit::GuardCall([&] {
        ConnectionPoint* point = core_.Make<ConnectionPoint>(this);
        point->AddRef();
        *result = point;
        return S_OK;
    }));
}

ConnectionPoint::ConnectionPoint(ServiceCore& core, Root* root) noexcept
    : SimObject(core, L"ConnectionPoint"), root_(root) {}

HRESULT ConnectionPoint::Query(REFIID riid, void** ppv) noexcept {
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) noexcept {
    if (!iid) return E_POINTER;
    *iid = IID_ITTAPIEventNotification;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** result) noexcept {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (!root_) return E_UNEXPECTED;
    root_->AddRef();
    *result = root_.Get();
    return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) noexcept {
    const Gate gate = core_.Begin(op::Advise, [&] { return sink ? std::wstring(L"sink") : std::wstring(L"null"); });
    if (!cookie) return core_.Finish(gate, E_POINTER);
    *cookie = 0;
    if (!sink) return core_.Finish(gate, E_POINTER);
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    Microsoft::WRL::ComPtr<ITTAPIEventNotification> notification;
    if (FAILED(sink->QueryInterface(IID_ITTAPIEventNotification, &notification)) || !notification) {
        return core_.Finish(gate, CONNECT_E_CANNOTCONNECT);
    }
    return core_.Finish(gate, comkit::GuardCall([&] {
        *cookie = core_.AddSink(root_.Get(), std::move(notification));
        return S_OK;
    }));
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) noexcept {
    const Gate gate = core_.Begin(op::Unadvise, [&] { return ArgList(cookie); });
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    return core_.Finish(gate, core_.RemoveSink(root_.Get(), cookie) ? S_OK : CONNECT_E_NOCONNECTION);
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** result) noexcept {
    if (result) *result = nullptr;
    return E_NOTIMPL;
}

}  // namespace telsim
