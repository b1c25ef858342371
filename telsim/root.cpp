#include "telsim/root.h"

#include "telsim/address.h"
#include "telsim/telsim.h"

namespace telsim {

Root::Root(Service& service) noexcept : SimObject(service, L"TAPI") {}

HRESULT Root::Query(REFIID riid, void** ppv) noexcept {
    if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
        return QueryOptional(op::QueryConnectionPointContainer, true,
                             static_cast<IConnectionPointContainer*>(this), ppv);
    }
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
        !IsEqualIID(riid, IID_ITTAPI)) {
        return E_NOINTERFACE;
    }
    *ppv = static_cast<ITTAPI*>(this);
    AddRef();
    return S_OK;
}

void Root::OnDestroy() noexcept {
    std::vector<Held<Address>> addresses;
    {
        std::lock_guard<std::mutex> lock(mu_);
        addresses.swap(addresses_);
    }
    try {
        Notifications().RootGone(this);
    } catch (...) {
        Report(L"sinks not released for lack of memory by");
    }
}

HRESULT Root::Initialize() noexcept {
    RETURN_IF_FAILED(EnterToWork(op::Initialize));
    return Recorder().Run(op::Initialize, [&](const Gate& gate) -> HRESULT {
        RETURN_IF_FAILED(gate.Admit());
        everInitialized_ = true;
        return initialized_.exchange(true) ? S_FALSE : S_OK;
    });
}

HRESULT Root::Shutdown() noexcept {
    RETURN_IF_FAILED(EnterToWork(op::Shutdown));
    return Recorder().Run(op::Shutdown, [&](const Gate& gate) -> HRESULT {
        RETURN_IF_FAILED(gate.Admit());
        // Without a successful Initialize there is no session to end (the
        // reference allows a failure there: TelSim takes it); a second
        // Shutdown has nothing left to do.
        if (!initialized_.exchange(false)) {
            return everInitialized_.load() ? S_FALSE : TAPI_E_NOT_INITIALIZED;
        }
        // Sinks stay advised: the real service keeps them until Unadvise or
        // the root object's final release.
        // As the platform drops the calls when the service shuts down: a
        // modem left off hook would hold its line. Bounded by the drivers'
        // timeouts.
        World().HangUpCalls();
        return S_OK;
    });
}

std::vector<Held<Address>> Root::Addresses() {
    auto [lines, version] = World().Lines();
    std::lock_guard<std::mutex> lock(mu_);
    if (version != linesVersion_) {
        std::vector<Held<Address>> made;
        made.reserve(lines.size());
        for (AddressSpec& line : lines) {
            made.emplace_back(Ledger().Make<Address>(service_, std::move(line)));
        }
        addresses_.swap(made);
        linesVersion_ = version;
    }
    return addresses_;
}

HRESULT Root::get_Addresses(VARIANT* addresses) noexcept {
    if (addresses) {
        VariantInit(addresses);
    }
    return E_NOTIMPL;
}

HRESULT Root::EnumerateAddresses(IEnumAddress** result) noexcept {
    RETURN_IF_FAILED(EnterToWork(op::EnumerateAddresses));
    return Recorder().Run(op::EnumerateAddresses, [&](const Gate& gate) -> HRESULT {
        RETURN_IF_FAILED(gate.AdmitOut(result));
        if (!IsInitialized()) {
            return TAPI_E_NOT_INITIALIZED;
        }
        if (gate.nullOut) {
            return S_OK;
        }
        return HandOut<AddressEnum>(result, Addresses());
    });
}

HRESULT Root::RegisterCallNotifications(ITAddress* address, VARIANT_BOOL monitor,
                                        VARIANT_BOOL owner, long mediaTypes, long callbackInstance,
                                        long* handle) noexcept {
    RETURN_IF_FAILED(EnterToWork(op::RegisterCallNotifications));
    const auto args = [&] {
        return ArgList(DescribeArgument(address), monitor, owner, mediaTypes, callbackInstance);
    };
    return Recorder().Run(op::RegisterCallNotifications, args, [&](const Gate& gate) -> HRESULT {
        RETURN_IF_FAILED(gate.AdmitOut(handle, 0));
        if (!IsInitialized()) {
            return TAPI_E_NOT_INITIALIZED;
        }
        if (!address || !Ledger().FindAs<Address>(address)) {
            return TAPI_E_INVALADDRESS;
        }
        if (gate.nullOut) {
            return S_OK;
        }
        *handle = Notifications().AddRegistration(this, callbackInstance);
        return S_OK;
    });
}

HRESULT Root::UnregisterNotifications(long handle) noexcept {
    RETURN_IF_FAILED(EnterToWork(op::UnregisterNotifications));
    return Recorder().Run(
        op::UnregisterNotifications, [&] { return ArgList(handle); },
        [&](const Gate& gate) -> HRESULT {
            RETURN_IF_FAILED(gate.Admit());
            return Notifications().RemoveRegistration(this, handle) ? S_OK : E_INVALIDARG;
        });
}

HRESULT Root::put_EventFilter(long filter) noexcept {
    RETURN_IF_FAILED(EnterToWork(op::PutEventFilter));
    return Recorder().Run(
        op::PutEventFilter, [&] { return ArgList(filter); },
        [&](const Gate& gate) -> HRESULT {
            RETURN_IF_FAILED(gate.Admit());
            if (!IsInitialized()) {
                return TAPI_E_NOT_INITIALIZED;
            }
            filter_ = filter;
            Notifications().FilterSet(filter);
            return S_OK;
        });
}

HRESULT Root::get_EventFilter(long* filter) noexcept {
    return ReadProperty(filter, filter_.load());
}

HRESULT Root::EnumConnectionPoints(IEnumConnectionPoints** result) noexcept {
    return NotImplemented(result);
}

HRESULT Root::FindConnectionPoint(REFIID riid, IConnectionPoint** result) noexcept {
    RETURN_IF_FAILED(EnterToWork(op::FindConnectionPoint));
    const bool events = IsEqualIID(riid, IID_ITTAPIEventNotification);
    const auto args = [&] { return std::wstring(events ? L"ITTAPIEventNotification" : L"other"); };
    return Recorder().Run(op::FindConnectionPoint, args, [&](const Gate& gate) -> HRESULT {
        RETURN_IF_FAILED(gate.AdmitOut(result));
        if (!events) {
            return CONNECT_E_NOCONNECTION;
        }
        if (gate.nullOut) {
            return S_OK;
        }
        return HandOut<ConnectionPoint>(result, this);
    });
}

ConnectionPoint::ConnectionPoint(Service& service, Root* root) noexcept
    : SimObject(service, L"ConnectionPoint"), root_(root) {}

HRESULT ConnectionPoint::Query(REFIID riid, void** ppv) noexcept {
    return QueryOne(riid, IID_IConnectionPoint, static_cast<IConnectionPoint*>(this), ppv, false);
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) noexcept {
    return ReadProperty(iid, IID_ITTAPIEventNotification);
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** result) noexcept {
    return HandOutLinked(result, root_.Get(), E_UNEXPECTED);
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) noexcept {
    RETURN_IF_FAILED(EnterToWork(op::Advise));
    const auto args = [&] { return std::wstring(sink ? L"sink" : L"null"); };
    return Recorder().Run(op::Advise, args, [&](const Gate& gate) -> HRESULT {
        if (!cookie) {
            return E_POINTER;
        }
        *cookie = 0;
        RETURN_IF_FAILED(gate.Admit(sink));
        Microsoft::WRL::ComPtr<ITTAPIEventNotification> notification;
        if (FAILED(sink->QueryInterface(IID_ITTAPIEventNotification, &notification)) ||
            !notification) {
            return CONNECT_E_CANNOTCONNECT;
        }
        *cookie = Notifications().AddSink(root_.Get(), std::move(notification));
        return S_OK;
    });
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) noexcept {
    RETURN_IF_FAILED(EnterToWork(op::Unadvise));
    return Recorder().Run(
        op::Unadvise, [&] { return ArgList(cookie); },
        [&](const Gate& gate) -> HRESULT {
            RETURN_IF_FAILED(gate.Admit());
            return Notifications().RemoveSink(root_.Get(), cookie) ? S_OK : CONNECT_E_NOCONNECTION;
        });
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** result) noexcept {
    return NotImplemented(result);
}

}  // namespace telsim
