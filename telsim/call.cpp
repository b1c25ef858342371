#include "telsim/call.h"

#include "comkit/result.h"
#include "telsim/address.h"
#include "telsim/service_core.h"

#include <algorithm>

namespace telsim {

Call::Call(ServiceCore& core, Address* address, std::wstring destination, long addressType, long mediaTypes,
           CallScript script)
    : SimObject(core, L"Call"),
      address_(address),
      destination_(std::move(destination)),
      addressType_(addressType),
      mediaTypes_(mediaTypes),
      script_(std::move(script)) {
    for (const StreamSpec& wanted : script_.streams) streams_.emplace_back(core.Make<Stream>(wanted));
}

std::wstring Call::Describe() const {
    return SimObject::Describe() + L"(" + Quote(destination_.c_str()) + L")";
}

HRESULT Call::Query(REFIID riid, void** ppv) noexcept {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID_ITBasicCallControl)) {
        *ppv = static_cast<ITBasicCallControl*>(this);
    } else if (IsEqualIID(riid, IID_ITCallInfo)) {
        *ppv = static_cast<ITCallInfo*>(this);
    } else if (IsEqualIID(riid, IID_ITStreamControl)) {
        const Gate gate = core_.Begin(op::QueryStreamControl, [] { return std::wstring(); }, true);
        if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
        if (!script_.hasStreamControl) return core_.Finish(gate, E_NOINTERFACE);
        if (gate.nullOut) return core_.Finish(gate, S_OK);
        *ppv = static_cast<ITStreamControl*>(this);
        AddRef();
        return core_.Finish(gate, S_OK);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

void Call::UseModem(std::shared_ptr<const modem::ModemConfig> config) {
    modem_ = std::make_unique<modem::CallModem>(std::move(config), &core_);
}

void Call::OnDestroy() noexcept {
    modem_.reset();
    address_.Reset();
    streams_.clear();
}

HRESULT Call::Connect(VARIANT_BOOL sync) noexcept {
    const Gate gate = core_.Begin(op::CallConnect, [&] { return ArgList(sync); });
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (connectStarted_.exchange(true)) return core_.Finish(gate, TAPI_E_INVALCALLSTATE);
    const bool synchronous = sync == VARIANT_TRUE || core_.CurrentDelivery() == Delivery::Synchronous;
    if (modem_) {
        // The modem's states come from its own thread and are delivered from
        // the notification thread; a port that cannot be opened fails here.
        const HRESULT opened = modem_->Connect(destination_, [this](CALL_STATE state, CALL_STATE_EVENT_CAUSE cause) {
            core_.RunSteps(this, {CallStep{state, 0, cause}}, generation_.load(), false);
        });
        if (FAILED(opened)) connectStarted_.store(false);
        return core_.Finish(gate, opened);
    }
    core_.RunSteps(this, script_.onConnect, generation_.load(), synchronous);
    return core_.Finish(gate, S_OK);
}

HRESULT Call::Disconnect(DISCONNECT_CODE code) noexcept {
    const Gate gate = core_.Begin(op::CallDisconnect, [&] { return ArgList(static_cast<long>(code)); });
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    // As the real service: a call never started, already dropped, or whose
    // far end has gone, cannot be disconnected.
    if (!connectStarted_.load() || state_.load() == CS_DISCONNECTED || disconnectRequested_.exchange(true)) {
        return core_.Finish(gate, TAPI_E_INVALCALLSTATE);
    }
    if (modem_) {
        // Disconnected comes from the modem once it has hung up.
        if (!modem_->HangUp()) return core_.Finish(gate, TAPI_E_INVALCALLSTATE);
        return core_.Finish(gate, S_OK);
    }
    // Steps of the connect not delivered yet are dropped.
    const unsigned generation = ++generation_;
    core_.RunSteps(this, script_.onDisconnect, generation, core_.CurrentDelivery() == Delivery::Synchronous);
    return core_.Finish(gate, S_OK);
}

HRESULT Call::get_Address(ITAddress** address) noexcept {
    if (!address) return E_POINTER;
    *address = nullptr;
    if (!address_) return TAPI_E_INVALADDRESS;
    address_->AddRef();
    *address = address_.Get();
    return S_OK;
}

HRESULT Call::get_CallState(CALL_STATE* state) noexcept {
    const Gate gate = core_.Begin(op::GetCallState, [this] { return Describe(); });
    if (!state) return core_.Finish(gate, E_POINTER);
    // A failing read leaves the output as it was.
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    const HRESULT forced = stateReadResult_.load();
    if (FAILED(forced)) return core_.Finish(gate, forced);
    *state = state_.load();
    return core_.Finish(gate, S_OK);
}

HRESULT Call::get_Privilege(CALL_PRIVILEGE* privilege) noexcept {
    if (!privilege) return E_POINTER;
    *privilege = CP_OWNER;
    return S_OK;
}

HRESULT Call::EnumerateStreams(IEnumStream** result) noexcept {
    const Gate gate = core_.Begin(op::EnumerateStreams);
    if (!result) return core_.Finish(gate, E_POINTER);
    *result = nullptr;
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (gate.nullOut) return core_.Finish(gate, S_OK);
    return core_.Finish(gate, comkit::GuardCall([&] {
        StreamEnum* enumerator = core_.Make<StreamEnum>(streams_);
        enumerator->AddRef();
        *result = enumerator;
        return S_OK;
    }));
}

// ---- Stream

Stream::Stream(ServiceCore& core, StreamSpec wanted) noexcept : SimObject(core, L"Stream"), spec_(wanted) {}

HRESULT Stream::Query(REFIID riid, void** ppv) noexcept {
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, IID_ITStream)) {
        return E_NOINTERFACE;
    }
    *ppv = static_cast<ITStream*>(this);
    AddRef();
    return S_OK;
}

void Stream::OnDestroy() noexcept {
    std::vector<Held<Terminal>> selected;
    std::vector<Microsoft::WRL::ComPtr<ITTerminal>> foreign;
    {
        std::lock_guard<std::mutex> lock(mu_);
        selected.swap(selected_);
        foreign.swap(foreign_);
    }
}

std::size_t Stream::SelectedCount() const {
    std::lock_guard<std::mutex> lock(mu_);
    return selected_.size() + foreign_.size();
}

HRESULT Stream::get_MediaType(long* mediaType) noexcept {
    const Gate gate = core_.Begin(op::StreamGetMediaType, [this] { return Describe(); });
    if (!mediaType) return core_.Finish(gate, E_POINTER);
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (FAILED(spec_.mediaTypeResult)) return core_.Finish(gate, spec_.mediaTypeResult);
    *mediaType = spec_.mediaType;
    return core_.Finish(gate, S_OK);
}

HRESULT Stream::get_Direction(TERMINAL_DIRECTION* direction) noexcept {
    const Gate gate = core_.Begin(op::StreamGetDirection, [this] { return Describe(); });
    if (!direction) return core_.Finish(gate, E_POINTER);
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (FAILED(spec_.directionResult)) return core_.Finish(gate, spec_.directionResult);
    *direction = spec_.direction;
    return core_.Finish(gate, S_OK);
}

HRESULT Stream::get_Name(BSTR* name) noexcept {
    if (!name) return E_POINTER;
    *name = core_.AllocString(std::wstring(L"Stream"));
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT Stream::SelectTerminal(ITTerminal* terminal) noexcept {
    const Gate gate = core_.Begin(op::SelectTerminal, [&] { return ArgList(Describe(), telsim::Describe(terminal, core_)); });
    if (!terminal) return core_.Finish(gate, E_POINTER);
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (FAILED(spec_.selectResult)) return core_.Finish(gate, spec_.selectResult);
    return core_.Finish(gate, comkit::GuardCall([&] {
        std::lock_guard<std::mutex> lock(mu_);
        if (Terminal* ours = core_.FindAs<Terminal>(terminal)) {
            selected_.emplace_back(ours);
        } else {
            foreign_.emplace_back(terminal);
        }
        return S_OK;
    }));
}

HRESULT Stream::UnselectTerminal(ITTerminal* terminal) noexcept {
    if (!terminal) return E_POINTER;
    Held<Terminal> dropped;
    Microsoft::WRL::ComPtr<ITTerminal> droppedForeign;
    std::lock_guard<std::mutex> lock(mu_);
    Terminal* ours = core_.FindAs<Terminal>(terminal);
    auto it = std::find_if(selected_.begin(), selected_.end(), [&](const Held<Terminal>& t) { return t.Get() == ours; });
    if (ours && it != selected_.end()) {
        dropped = std::move(*it);
        selected_.erase(it);
        return S_OK;
    }
    auto other = std::find_if(foreign_.begin(), foreign_.end(), [&](const auto& t) { return t.Get() == terminal; });
    if (other == foreign_.end()) return TAPI_E_INVALIDTERMINAL;
    droppedForeign = std::move(*other);
    foreign_.erase(other);
    return S_OK;
}

}  // namespace telsim
