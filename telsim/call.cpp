#include "telsim/call.h"

#include "telsim/address.h"
#include "telsim/apartment.h"
#include "telsim/scripted_driver.h"
#include "telsim/telsim.h"

#include <algorithm>

namespace telsim {
namespace {

// What is left until deadline (a GetTickCount64 time), 0 once it has passed.
DWORD Remaining(ULONGLONG deadline) noexcept {
    const ULONGLONG now = GetTickCount64();
    return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
}

}  // namespace

Call::Call(Service& service, Address* address, std::wstring destination, long addressType,
           long mediaTypes, CallScript script, const LineDevice* device)
    : SimObject(service, L"Call"),
      address_(address),
      destination_(std::move(destination)),
      addressType_(addressType),
      mediaTypes_(mediaTypes),
      script_(std::move(script)) {
    if (World().CurrentObjects() == Objects::Bound) {
        BindToApartment();
    }
    for (const StreamSpec& wanted : script_.streams) {
        streams_.emplace_back(Ledger().Make<Stream>(service, wanted));
    }
    CallReports& reports = *this;
    if (device) {
        driver_ = device->MakeDriver(reports);
    } else {
        driver_ = std::make_unique<ScriptedDriver>(script_, reports);
    }
}

std::wstring Call::Describe() const {
    return SimObject::Describe() + L"(" + Quote(destination_.c_str()) + L")";
}

HRESULT Call::Query(REFIID riid, void** ppv) noexcept {
    if (IsEqualIID(riid, IID_ITStreamControl)) {
        return QueryOptional(op::QueryStreamControl, script_.hasStreamControl,
                             static_cast<ITStreamControl*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID_ITBasicCallControl)) {
        *ppv = static_cast<ITBasicCallControl*>(this);
    } else if (IsEqualIID(riid, IID_ITCallInfo)) {
        *ppv = static_cast<ITCallInfo*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

void Call::OnDestroy() noexcept {
    driver_.reset();
    address_.Reset();
    streams_.clear();
}

HRESULT Call::Connect(VARIANT_BOOL sync) noexcept {
    RETURN_IF_FAILED(EnterToWork(op::CallConnect, script_.hangupLimitMs));
    return Recorder().Run(
        op::CallConnect, [&] { return ArgList(sync); },
        [&](const Gate& gate) -> HRESULT {
            RETURN_IF_FAILED(gate.Admit());
            // Only an idle call connects: once, and not after an event moved it.
            if (state_.load() != CS_IDLE || connectStarted_.exchange(true)) {
                return TAPI_E_INVALCALLSTATE;
            }
            const bool synchronous =
                sync == VARIANT_TRUE || World().CurrentDelivery() == Delivery::Synchronous;
            const HRESULT hr = driver_->Connect(destination_, synchronous);
            if (FAILED(hr)) {
                connectStarted_.store(false);
            }
            return hr;
        });
}

HRESULT Call::Disconnect(DISCONNECT_CODE code) noexcept {
    // An ended call's hang-up is work too: from inside Event it is refused
    // like a live one's.
    HRESULT hr = EnterToWork(op::CallDisconnect, script_.hangupLimitMs);
    if (SUCCEEDED(hr)) {
        hr = HangUp(code);
    }
    Notifications().RecordHangUp();
    if (FAILED(hr)) {
        Ledger().RecordFailedHangUp(*this, hr, Notifications().OnNotificationThread());
    }
    return hr;
}

HRESULT Call::HangUp(DISCONNECT_CODE code) noexcept {
    const auto args = [&] { return ArgList(static_cast<long>(code)); };
    return Recorder().Run(op::CallDisconnect, args, [&](const Gate& gate) -> HRESULT {
        RETURN_IF_FAILED(gate.Admit());
        // S_FALSE, as the real service: a call never started is idle, and
        // one already hung up (or being hung up), or whose far end has gone,
        // has no line handle left to drop.
        if (!connectStarted_.load() || state_.load() == CS_DISCONNECTED ||
            disconnectRequested_.exchange(true)) {
            return S_FALSE;
        }
        // Synchronous: it returns when the line has hung up (a modem's after
        // its hang-up dialogue), the caller serving its apartment meanwhile.
        const ULONGLONG deadline = GetTickCount64() + script_.hangupLimitMs;
        const unsigned reportsBefore = reports_.load();
        const bool synchronous = World().CurrentDelivery() == Delivery::Synchronous;
        HRESULT hr = driver_->Disconnect(synchronous);
        if (hr == TAPI_E_INVALCALLSTATE) {
            return S_FALSE;  // the driver's call ended on its own meanwhile
        }
        if (SUCCEEDED(hr) &&
            !WaitServingUntil([this] { return !driver_->Running(); }, Remaining(deadline))) {
            hr = TAPI_E_TIMEOUT;
        }
        if (FAILED(hr)) {
            disconnectRequested_.store(false);  // the line is still up: it may be tried again
            return hr;
        }
        if (!synchronous && World().CurrentHangup() == Hangup::AfterDelivery) {
            // The line is down whatever comes of this: a second Disconnect
            // has nothing left to drop.
            RETURN_IF_FAILED(AwaitHangUpEvents(reportsBefore, deadline));
        }
        // The event saying so may come later; the call itself is over now.
        state_.store(CS_DISCONNECTED);
        return S_OK;
    });
}

HRESULT Call::AwaitHangUpEvents(unsigned reportsBefore, ULONGLONG deadline) noexcept {
    if (Notifications().OnNotificationThread()) {
        // Inside a sink's Event: the thread that must deliver the hang-up's
        // events is this one, so the real service would deadlock here until
        // its hang-up times out.
        SimObject::Report(
            L"Disconnect from the notification thread, which cannot deliver its hang-up, of");
        WaitServing(Remaining(deadline));
        return TAPI_E_TIMEOUT;
    }
    // A device's line may report its end just after its driver stops.
    if (!WaitServingUntil([&] { return reports_.load() != reportsBefore; }, Remaining(deadline)) ||
        !Notifications().AwaitDelivery(LastDue(), Remaining(deadline))) {
        return TAPI_E_TIMEOUT;
    }
    return S_OK;
}

void Call::OnLastClientRelease() noexcept {
    // The event being delivered holds its own call, so the client's last
    // release of that one is not the call's last.
    if (OnlyReadsHere() && !Notifications().Delivering(this)) {
        SimObject::Report(L"last Release from the notification thread, inside Event, of");
    }
}

void Call::Report(const std::vector<CallStep>& steps, bool synchronous) noexcept {
    Notifications().RunSteps(this, steps, generation_.load(), synchronous);
    ++reports_;
}

void Call::DropPending() noexcept {
    ++generation_;
}

HRESULT Call::get_Address(ITAddress** address) noexcept {
    RETURN_IF_FAILED(Enter());
    return HandOutLinked(address, address_.Get(), TAPI_E_INVALADDRESS);
}

HRESULT Call::get_CallState(CALL_STATE* state) noexcept {
    RETURN_IF_FAILED(Enter());
    return Recorder().Run(
        op::GetCallState, [this] { return Describe(); },
        [&](const Gate& gate) -> HRESULT {
            // A failing read leaves the output as it was.
            RETURN_IF_FAILED(gate.Admit(state));
            RETURN_IF_FAILED(stateReadResult_.load());
            *state = state_.load();
            return S_OK;
        });
}

HRESULT Call::get_Privilege(CALL_PRIVILEGE* privilege) noexcept {
    RETURN_IF_FAILED(Enter());
    return ReadProperty(privilege, CP_OWNER);
}

HRESULT Call::EnumerateStreams(IEnumStream** result) noexcept {
    RETURN_IF_FAILED(EnterToWork(op::EnumerateStreams, script_.hangupLimitMs));
    const auto args = [] { return std::wstring(); };
    return Recorder().RunHandOut(op::EnumerateStreams, args, result, [&]() -> HRESULT {
        return HandOut<StreamEnum>(result, streams_);
    });
}

// ---- Stream

Stream::Stream(Service& service, StreamSpec wanted) noexcept
    : SimObject(service, L"Stream"), spec_(wanted) {}

HRESULT Stream::Query(REFIID riid, void** ppv) noexcept {
    return QueryOne(riid, IID_ITStream, static_cast<ITStream*>(this), ppv);
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

template <class T>
HRESULT Stream::Read(const wchar_t* op, T* out, HRESULT result, T value) noexcept {
    return Recorder().Run(
        op, [this] { return Describe(); },
        [&](const Gate& gate) -> HRESULT {
            RETURN_IF_FAILED(gate.Admit(out));
            RETURN_IF_FAILED(result);
            *out = value;
            return S_OK;
        });
}

HRESULT Stream::get_MediaType(long* mediaType) noexcept {
    return Read(op::StreamGetMediaType, mediaType, spec_.mediaTypeResult, spec_.mediaType);
}

HRESULT Stream::get_Direction(TERMINAL_DIRECTION* direction) noexcept {
    return Read(op::StreamGetDirection, direction, spec_.directionResult, spec_.direction);
}

HRESULT Stream::get_Name(BSTR* name) noexcept {
    return HandOutString(L"Stream", name);
}

HRESULT Stream::SelectTerminal(ITTerminal* terminal) noexcept {
    const auto args = [&] { return ArgList(Describe(), DescribeArgument(terminal)); };
    return Recorder().Run(op::SelectTerminal, args, [&](const Gate& gate) -> HRESULT {
        RETURN_IF_FAILED(gate.Admit(terminal));
        RETURN_IF_FAILED(spec_.selectResult);
        std::lock_guard<std::mutex> lock(mu_);
        if (Terminal* ours = Ledger().FindAs<Terminal>(terminal)) {
            selected_.emplace_back(ours);
        } else {
            foreign_.emplace_back(terminal);
        }
        return S_OK;
    });
}

HRESULT Stream::UnselectTerminal(ITTerminal* terminal) noexcept {
    if (!terminal) {
        return E_POINTER;
    }
    Held<Terminal> dropped;
    Microsoft::WRL::ComPtr<ITTerminal> droppedForeign;
    std::lock_guard<std::mutex> lock(mu_);
    Terminal* ours = Ledger().FindAs<Terminal>(terminal);
    auto it = std::find_if(selected_.begin(), selected_.end(),
                           [&](const Held<Terminal>& t) { return t.Get() == ours; });
    if (ours && it != selected_.end()) {
        dropped = std::move(*it);
        selected_.erase(it);
        return S_OK;
    }
    auto other = std::find_if(foreign_.begin(), foreign_.end(),
                              [&](const auto& t) { return t.Get() == terminal; });
    if (other == foreign_.end()) {
        return TAPI_E_INVALIDTERMINAL;
    }
    droppedForeign = std::move(*other);
    foreign_.erase(other);
    return S_OK;
}

}  // namespace telsim
