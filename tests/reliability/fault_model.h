// What a dialer member must answer when one telephony operation fails or
// hands back a null object: a small model of the member's road, written from
// the rules alone. It counts the calls of each operation exactly as the
// simulated service does, so a fault given to the service for the n-th call
// of an operation reaches the model at the same step.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "telsim/telsim.h"

namespace reliability {

enum class FaultMode {
    FailOnce,    // the chosen call fails
    FailOnward,  // the chosen call and every later one fail
    NullOnce,    // the chosen call succeeds with a null out object
};

struct Injection {
    std::wstring operation;
    int index = 0;
    FaultMode mode = FaultMode::FailOnce;
    HRESULT hr = S_OK;

    telsim::Fault ToFault() const;
    std::string Describe() const;
};

struct Answer {
    HRESULT hr = S_OK;
    bool null = false;
    bool Failed() const { return FAILED(hr); }
};

class FaultPlan {
public:
    explicit FaultPlan(const Injection* injection) : m_injection(injection) {}
    Answer Next(const wchar_t* operation);

private:
    const Injection* m_injection;
    std::map<std::wstring, int> m_calls;
};

// Thrown inside a model where the injected answer leaves the rules silent.
struct Unfixed {};

struct EventOutcome {
    std::optional<HRESULT> hr;  // nullopt: the rules leave it open
    bool connected = false;
};

struct Outcome {
    bool fixed = true;  // false: only "no crash, no leak" can be asked
    HRESULT hr = S_OK;
    std::wstring description;  // empty: the member leaves no error information
    std::optional<VARIANT_BOOL> success;
    std::optional<std::wstring> list;  // nullopt: the output is left unwritten
    std::optional<bool> callReleased;
    // Connect: whether the new call was created, and whether it was started.
    bool callCreated = false;
    bool callStarted = false;
    // What a Disconnect right after the member returns.
    std::optional<HRESULT> disconnect;
    std::vector<EventOutcome> events;
};

// The world the models walk: the service's addresses and call script.
struct World {
    std::vector<telsim::AddressSpec> addresses;
    telsim::CallScript script;
};

extern const wchar_t kUnknownError[];
extern const wchar_t kNoValidAddress[];
extern const wchar_t kTranslationFailed[];
extern const wchar_t kInitFailed[];

Outcome ModelInitialize(FaultPlan& plan);
Outcome ModelAddressList(FaultPlan& plan, const World& world);
Outcome ModelSetDeviceAddress(FaultPlan& plan, const World& world, const std::wstring& name);
// The dialer is initialised; `selected` is the index of the address already
// selected, nullopt on the road where Connect selects one itself.
Outcome ModelConnect(FaultPlan& plan, const World& world, std::optional<std::size_t> selected);
// A started call is held.
Outcome ModelDisconnect(FaultPlan& plan);
// A call is held and the call notifications are registered.
Outcome ModelShutdown(FaultPlan& plan);

struct RaisedEvent {
    TAPI_EVENT kind;
    CALL_STATE state;
};
// The sink tracks `trackedBefore`, and its dialer holds a started call.
Outcome ModelEvents(FaultPlan& plan, const std::vector<RaisedEvent>& events, LONG trackedBefore);

// Runs a model, turning an Unfixed into an outcome that only asks for safety.
template <class Fn>
Outcome Predict(Fn&& model) {
    try {
        return model();
    } catch (const Unfixed&) {
        Outcome open;
        open.fixed = false;
        return open;
    }
}

}  // namespace reliability
