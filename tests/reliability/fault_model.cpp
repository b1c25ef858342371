#include "fault_model.h"

#include <cstdio>

namespace op = telsim::op;

namespace reliability {

const wchar_t kUnknownError[] = L"Unknown error.";
const wchar_t kNoValidAddress[] = L"Couldn't locate valid modem or TSP driver.";
const wchar_t kTranslationFailed[] = L"Couldn't translate phone number.";
const wchar_t kInitFailed[] = L"TAPI initialization failed.";

telsim::Fault Injection::ToFault() const {
    telsim::Fault fault;
    fault.hr = hr;
    fault.nullOut = mode == FaultMode::NullOnce;
    fault.skip = index;
    fault.count = mode == FaultMode::FailOnward ? -1 : 1;
    return fault;
}

std::string Injection::Describe() const {
    std::string name(operation.begin(), operation.end());
    char text[96];
    const char* how = mode == FaultMode::NullOnce     ? "null out"
                      : mode == FaultMode::FailOnward ? "fails from there on"
                                                      : "fails";
    std::snprintf(text, sizeof text, " call #%d %s 0x%08lX", index, how, static_cast<unsigned long>(hr));
    return name + text;
}

Answer FaultPlan::Next(const wchar_t* operation) {
    const int call = m_calls[operation]++;
    if (!m_injection || m_injection->operation != operation) {
        return {};
    }
    const bool hit =
        m_injection->mode == FaultMode::FailOnward ? call >= m_injection->index : call == m_injection->index;
    if (!hit) {
        return {};
    }
    if (m_injection->mode == FaultMode::NullOnce) {
        return {S_OK, true};
    }
    return {m_injection->hr, false};
}

namespace {

Outcome Result(HRESULT hr, const wchar_t* description = L"") {
    Outcome outcome;
    outcome.hr = hr;
    outcome.description = description;
    return outcome;
}

const wchar_t* TextForHresult(HRESULT hr) {
    return hr == static_cast<HRESULT>(0x8004003D) || hr == static_cast<HRESULT>(0x80040052) ? kNoValidAddress
                                                                                            : kUnknownError;
}

// A query for an optional interface: false when the object does not offer
// it. A success without an object is outside what the rules expect.
bool Query(FaultPlan& plan, const wchar_t* operation, bool offered) {
    const Answer answer = plan.Next(operation);
    if (answer.Failed()) {
        return false;
    }
    if (answer.null && offered) {
        throw Unfixed{};
    }
    return offered;
}

bool Suitable(FaultPlan& plan, const telsim::AddressSpec& address) {
    if (!Query(plan, op::QueryCapabilities, address.capabilities)) {
        return false;
    }
    if (plan.Next(op::GetAddressCapability).Failed() || FAILED(address.capabilityResult) ||
        (address.addressTypes & LINEADDRESSTYPE_PHONENUMBER) == 0) {
        return false;
    }
    if (!Query(plan, op::QueryMediaSupport, address.mediaSupport)) {
        return false;
    }
    if (plan.Next(op::QueryMediaType).Failed() || FAILED(address.mediaResult)) {
        return false;
    }
    return address.mediaAnswer == VARIANT_TRUE;
}

// One step of an address enumeration: the index of the address delivered,
// or nullopt when the step ends the enumeration (result in `hr`).
std::optional<std::size_t> NextAddress(FaultPlan& plan, const World& world, std::size_t& position,
                                       HRESULT& hr) {
    const Answer answer = plan.Next(op::AddressNext);
    if (answer.Failed()) {
        hr = answer.hr;
        return std::nullopt;
    }
    if (answer.null) {
        throw Unfixed{};
    }
    if (position >= world.addresses.size()) {
        hr = S_FALSE;
        return std::nullopt;
    }
    hr = S_OK;
    return position++;
}

// The address name as read, nullopt when the read fails; a null name reads
// as the empty string.
std::optional<std::wstring> AddressName(FaultPlan& plan, const telsim::AddressSpec& address) {
    const Answer answer = plan.Next(op::GetAddressName);
    if (answer.Failed() || FAILED(address.nameResult)) {
        return std::nullopt;
    }
    if (answer.null || !address.name) {
        return std::wstring();
    }
    return *address.name;
}

HRESULT SelectTerminals(FaultPlan& plan, const World& world) {
    const Answer query = plan.Next(op::QueryStreamControl);
    HRESULT hr = query.hr;
    if (SUCCEEDED(hr) && !world.script.hasStreamControl) {
        hr = E_NOINTERFACE;
    }
    if (SUCCEEDED(hr)) {
        if (query.null) {
            throw Unfixed{};
        }
        const Answer streams = plan.Next(op::EnumerateStreams);
        if (streams.null) {
            throw Unfixed{};
        }
        hr = streams.hr;
    }
    if (FAILED(hr)) {
        return hr == E_NOINTERFACE ? S_OK : E_FAIL;
    }

    int selected = 0;
    for (std::size_t position = 0;;) {
        const Answer next = plan.Next(op::StreamNext);
        if (next.Failed()) {
            break;
        }
        if (next.null) {
            throw Unfixed{};
        }
        if (position >= world.script.streams.size()) {
            break;
        }
        const telsim::StreamSpec& stream = world.script.streams[position++];
        if (plan.Next(op::StreamGetMediaType).Failed() || FAILED(stream.mediaTypeResult)) {
            continue;
        }
        if (plan.Next(op::StreamGetDirection).Failed() || FAILED(stream.directionResult)) {
            continue;
        }
        if (!Query(plan, op::QueryTerminalSupport, true)) {
            continue;
        }
        const Answer terminal = plan.Next(op::GetDefaultStaticTerminal);
        if (terminal.null) {
            throw Unfixed{};
        }
        if (terminal.Failed() || !stream.hasDefaultTerminal) {
            continue;
        }
        if (!plan.Next(op::SelectTerminal).Failed() && SUCCEEDED(stream.selectResult)) {
            ++selected;
        }
    }
    return selected > 0 ? S_OK : E_FAIL;
}

}  // namespace

Outcome ModelInitialize(FaultPlan& plan) {
    const Answer answer = plan.Next(op::Initialize);
    return answer.Failed() ? Result(answer.hr, kInitFailed) : Result(S_OK);
}

Outcome ModelAddressList(FaultPlan& plan, const World& world) {
    const Answer enumeration = plan.Next(op::EnumerateAddresses);
    if (enumeration.Failed()) {
        return Result(enumeration.hr);
    }
    if (enumeration.null) {
        throw Unfixed{};
    }
    std::wstring list;
    std::size_t position = 0;
    HRESULT hr = S_OK;
    while (const auto index = NextAddress(plan, world, position, hr)) {
        const telsim::AddressSpec& address = world.addresses[*index];
        if (!Suitable(plan, address)) {
            continue;
        }
        if (const auto name = AddressName(plan, address)) {
            if (!list.empty()) {
                list += L',';
            }
            list += *name;
        }
    }
    Outcome outcome = Result(hr);
    outcome.list = list;
    return outcome;
}

Outcome ModelSetDeviceAddress(FaultPlan& plan, const World& world, const std::wstring& wanted) {
    Outcome outcome;
    outcome.success = VARIANT_FALSE;
    const Answer enumeration = plan.Next(op::EnumerateAddresses);
    if (enumeration.Failed()) {
        outcome.hr = enumeration.hr;
        return outcome;
    }
    if (enumeration.null) {
        throw Unfixed{};
    }
    std::size_t position = 0;
    HRESULT hr = S_OK;
    while (const auto index = NextAddress(plan, world, position, hr)) {
        const telsim::AddressSpec& address = world.addresses[*index];
        const auto name = AddressName(plan, address);
        if (!name || *name != wanted) {
            continue;
        }
        if (Suitable(plan, address)) {
            outcome.success = VARIANT_TRUE;
        }
        break;
    }
    outcome.hr = hr;
    return outcome;
}

Outcome ModelConnect(FaultPlan& plan, const World& world, std::optional<std::size_t> selected) {
    if (!selected) {
        const Answer enumeration = plan.Next(op::EnumerateAddresses);
        if (enumeration.null) {
            throw Unfixed{};
        }
        if (!enumeration.Failed()) {
            std::size_t position = 0;
            HRESULT hr = S_OK;
            while (const auto index = NextAddress(plan, world, position, hr)) {
                if (Suitable(plan, world.addresses[*index])) {
                    selected = *index;
                    break;
                }
            }
        }
        if (!selected) {
            return Result(E_FAIL, kNoValidAddress);
        }
        // What follows a root object without a connection point container is
        // the implementer's choice.
        const Answer container = plan.Next(op::QueryConnectionPointContainer);
        if (container.Failed() || container.null) {
            throw Unfixed{};
        }
        const Answer point = plan.Next(op::FindConnectionPoint);
        if (point.Failed()) {
            return Result(point.hr);
        }
        if (point.null) {
            throw Unfixed{};
        }
        for (const wchar_t* step : {op::Advise, op::PutEventFilter, op::RegisterCallNotifications}) {
            // A null registration handle is a success: nothing to unregister.
            const Answer answer = plan.Next(step);
            if (answer.Failed()) {
                return Result(answer.hr);
            }
        }
    }

    if (!Query(plan, op::QueryTranslation, world.addresses[*selected].translation)) {
        return Result(E_FAIL, kTranslationFailed);
    }
    const Answer translated = plan.Next(op::TranslateAddress);
    if (translated.Failed()) {
        return Result(translated.hr);
    }
    if (translated.null) {
        return Result(E_FAIL, kTranslationFailed);
    }
    // A null dialable string is the empty string, and is dialled as such.
    const Answer dialable = plan.Next(op::GetDialableString);
    if (dialable.Failed()) {
        return Result(dialable.hr);
    }
    const Answer created = plan.Next(op::CreateCall);
    if (created.Failed()) {
        return Result(created.hr, TextForHresult(created.hr));
    }
    if (created.null) {
        throw Unfixed{};
    }
    Outcome outcome = Result(S_OK);
    if (FAILED(SelectTerminals(plan, world))) {
        outcome = Result(E_FAIL, kUnknownError);
    } else if (const Answer started = plan.Next(op::CallConnect); started.Failed()) {
        outcome = Result(started.hr, TextForHresult(started.hr));
    } else {
        outcome.callStarted = true;
    }
    outcome.callCreated = true;
    return outcome;
}

Outcome ModelDisconnect(FaultPlan& plan) {
    // The call is released whatever its Disconnect answers.
    Outcome outcome = Result(plan.Next(op::CallDisconnect).hr);
    outcome.callReleased = true;
    return outcome;
}

Outcome ModelShutdown(FaultPlan& plan) {
    plan.Next(op::UnregisterNotifications);  // its failure is ignored
    Outcome outcome = Result(plan.Next(op::Shutdown).hr);
    outcome.callReleased = true;
    return outcome;
}

Outcome ModelEvents(FaultPlan& plan, const std::vector<RaisedEvent>& events, LONG tracked) {
    Outcome outcome;
    bool callActive = true;
    for (const RaisedEvent& event : events) {
        EventOutcome result;
        const bool stateEvent = event.kind == TE_CALLSTATE;
        const Answer query = plan.Next(stateEvent ? op::QueryCallStateEvent : op::QueryCallNotificationEvent);
        if (query.Failed() || query.null) {
            // An event without its interface: ignored or refused, the
            // implementer's choice; the tracked state stays either way.
            result.hr.reset();
        } else {
            const Answer call =
                plan.Next(stateEvent ? op::CallStateEventGetCall : op::CallNotificationEventGetCall);
            if (call.Failed() || call.null) {
                result.hr = call.hr;
            } else {
                const Answer read = plan.Next(op::GetCallState);
                // A failed read leaves the state at 0, idle.
                const LONG state = read.Failed() ? CS_IDLE : event.state;
                result.hr = read.hr;
                switch (state) {
                case CS_INPROGRESS:
                case CS_CONNECTED:
                case CS_DISCONNECTED:
                    tracked = state;
                    break;
                case CS_HOLD:
                    tracked = tracked == CS_CONNECTED ? CS_CONNECTED : CS_HOLD;
                    break;
                default:
                    tracked = CS_IDLE;
                    break;
                }
                if (tracked == CS_DISCONNECTED && callActive) {
                    callActive = false;
                    plan.Next(op::CallDisconnect);
                }
            }
        }
        result.connected = tracked == CS_INPROGRESS || tracked == CS_CONNECTED;
        outcome.events.push_back(result);
    }
    outcome.callReleased = !callActive;
    return outcome;
}

}  // namespace reliability
