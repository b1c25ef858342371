// Fault injection: for every member road, each telephony operation that the
// road reaches fails in turn (once, and from that call on), and where the
// operation hands out an object it also succeeds with a null one. Every run
// ends with nothing of the service referenced, nothing released twice and no
// started call left up; where the host is promised a particular answer for
// the failing operation (the tables below), the member gives exactly that,
// and otherwise an answer that a host can read: a success, or a failure with
// at most one description of the message table.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>

#include "comkit/module.h"
#include "dialer_test_support.h"
#include "support/scratch_file.h"

using Microsoft::WRL::ComPtr;
using namespace dialer_test;
namespace op = telsim::op;

namespace {

constexpr HRESULT kInjected = static_cast<HRESULT>(0x8004FA01);
constexpr wchar_t kSentinel[] = L"left by the test";
constexpr wchar_t kUnknownError[] = L"Unknown error.";
constexpr wchar_t kNoValidAddress[] = L"Couldn't locate valid modem or TSP driver.";
constexpr wchar_t kTranslationFailed[] = L"Couldn't translate phone number.";
constexpr wchar_t kInitFailed[] = L"TAPI initialization failed.";

enum class Mode { FailOnce, FailOnward, NullOnce };

struct Injection {
    std::wstring operation;
    int index = 0;
    Mode mode = Mode::FailOnce;
    HRESULT hr = S_OK;

    telsim::Fault ToFault() const {
        telsim::Fault fault;
        fault.hr = hr;
        fault.nullOut = mode == Mode::NullOnce;
        fault.skip = index;
        fault.count = mode == Mode::FailOnward ? -1 : 1;
        return fault;
    }

    std::string Describe() const {
        char text[96];
        const char* how = mode == Mode::NullOnce     ? "null out"
                          : mode == Mode::FailOnward ? "fails onward"
                                                     : "fails";
        std::snprintf(text, sizeof text, " call #%d %s 0x%08lX", index, how,
                      static_cast<unsigned long>(hr));
        return std::string(operation.begin(), operation.end()) + text;
    }
};

// What a host is promised when an operation fails.
enum class Answer {
    Injected,          // the operation's own code, no description
    InjectedInitText,  // its code, "TAPI initialization failed."
    InjectedCallText,  // its code, described by code (no modem, or unknown error)
    NoAddress,         // E_FAIL, "Couldn't locate valid modem or TSP driver."
    NoTranslation,     // E_FAIL, "Couldn't translate phone number."
    Unknown,           // E_FAIL, "Unknown error."
    AsIfClean,         // what the run without a fault answered
};

struct Promise {
    const wchar_t* operation;
    bool null;     // the row is for a null out object rather than a failure
    HRESULT only;  // S_OK: any failure code; else only this one
    Answer answer;
};

struct Run {
    std::shared_ptr<telsim::Service> service;
    ComPtr<ITAPIDialer> dialer;
};

struct Observed {
    HRESULT hr = S_OK;
    std::optional<ThreadError> error;  // taken by the member itself when set
    std::optional<VARIANT_BOOL> success;
    std::optional<std::wstring> list;
    std::optional<bool> callReleased;
    std::vector<std::pair<HRESULT, bool>> events;  // each event's answer, and Connected after it
};

struct Scenario {
    const char* name;
    std::vector<telsim::AddressSpec> addresses;
    telsim::CallScript script;
    telsim::Delivery delivery = telsim::Delivery::Apartment;
    std::function<void(Run&)> setup;
    std::function<Observed(Run&)> member;
    std::vector<Promise> promises;
    // Whether the road places calls: every call started must then be down
    // once the host has hung up.
    bool dials = false;
};

// Operations that hand out an object (or a string, or a handle), so that a
// null-out success means something.
const std::set<std::wstring>& OperationsWithOutObject() {
    static const std::set<std::wstring> names = {op::EnumerateAddresses,
                                                 op::AddressNext,
                                                 op::GetAddressName,
                                                 op::CreateCall,
                                                 op::TranslateAddress,
                                                 op::GetDialableString,
                                                 op::GetDefaultStaticTerminal,
                                                 op::EnumerateStreams,
                                                 op::StreamNext,
                                                 op::FindConnectionPoint,
                                                 op::RegisterCallNotifications,
                                                 op::CallStateEventGetCall,
                                                 op::CallNotificationEventGetCall,
                                                 op::QueryConnectionPointContainer,
                                                 op::QueryCapabilities,
                                                 op::QueryMediaSupport,
                                                 op::QueryTranslation,
                                                 op::QueryTerminalSupport,
                                                 op::QueryStreamControl,
                                                 op::QueryCallStateEvent,
                                                 op::QueryCallNotificationEvent};
    return names;
}

// Further failure codes worth a run of their own: the two that earn a call's
// failure the "no modem" text, and the "interface missing" answer that a
// call without streams gives.
std::vector<HRESULT> ExtraCodes(const std::wstring& name) {
    if (name == op::CreateCall || name == op::CallConnect) {
        return {static_cast<HRESULT>(0x8004003D), static_cast<HRESULT>(0x80040052)};
    }
    if (name == op::QueryStreamControl || name == op::EnumerateStreams) {
        return {E_NOINTERFACE};
    }
    return {};
}

const Promise* PromiseFor(const std::vector<Promise>& promises, const Injection& injection) {
    const bool null = injection.mode == Mode::NullOnce;
    for (const Promise& promise : promises) {
        if (injection.operation == promise.operation && promise.null == null &&
            (promise.only == S_OK || promise.only == injection.hr)) {
            return &promise;
        }
    }
    return nullptr;
}

std::wstring CallText(HRESULT hr) {
    return hr == static_cast<HRESULT>(0x8004003D) || hr == static_cast<HRESULT>(0x80040052)
               ? kNoValidAddress
               : kUnknownError;
}

HRESULT Dial(Run& run) {
    const HRESULT hr = dialer_test::Dial(run.dialer.Get());
    run.service->Notifications().WaitIdle();
    return hr;
}

ComPtr<ITBasicCallControl> LatestCall(Run& run) {
    auto calls = run.service->World().Calls();
    return calls.empty() ? nullptr : calls.back();
}

// Whether the dialer has let go of the call (the test holds the one left).
bool Released(Run& run, ITBasicCallControl* call) {
    return call && run.service->Ledger().RefCount(call) == 1;
}

class FaultWalk {
public:
    explicit FaultWalk(const Scenario& scenario) : m_scenario(scenario) {}

    // The clean run, then every injection point of the operations it reached.
    int Walk() {
        std::vector<std::pair<std::wstring, int>> reached;
        m_clean = RunOnce(nullptr, &reached);
        int points = 0;
        for (const auto& [name, count] : reached) {
            for (int index = 0; index < count; ++index) {
                std::vector<Injection> injections{{name, index, Mode::FailOnce, kInjected}};
                if (index + 1 < count) {
                    injections.push_back({name, index, Mode::FailOnward, kInjected});
                }
                if (OperationsWithOutObject().count(name)) {
                    injections.push_back({name, index, Mode::NullOnce, S_OK});
                }
                for (HRESULT hr : ExtraCodes(name)) {
                    injections.push_back({name, index, Mode::FailOnce, hr});
                }
                for (const Injection& injection : injections) {
                    RunOnce(&injection, nullptr);
                    ++points;
                    if (::testing::Test::HasFatalFailure()) {
                        return points;
                    }
                }
            }
        }
        std::printf("[ %s ] %d injection points over %zu operations\n", m_scenario.name, points,
                    reached.size());
        return points;
    }

private:
    Observed RunOnce(const Injection* injection,
                     std::vector<std::pair<std::wstring, int>>* reached) {
        SCOPED_TRACE(std::string(m_scenario.name) + ": " +
                     (injection ? injection->Describe() : std::string("clean run")));
        Run run;
        run.service = telsim::Service::Create();
        run.service->World().SetAddresses(m_scenario.addresses);
        run.service->World().SetCallScript(m_scenario.script);
        run.service->World().SetDelivery(m_scenario.delivery);
        EXPECT_HR(S_OK, run.service->RegisterClassObject());
        EXPECT_HR(S_OK, CreateDialer(run.dialer));
        if (!run.dialer) {
            return {};
        }
        if (m_scenario.setup) {
            m_scenario.setup(run);
        }
        run.service->Notifications().WaitIdle();
        run.service->Recorder().ClearOperations();
        if (injection) {
            run.service->Recorder().Inject(injection->operation, injection->ToFault());
        }

        SetThreadError(kSentinel);
        Observed seen = m_scenario.member(run);
        run.service->Notifications().WaitIdle();
        if (!seen.error) {
            seen.error = TakeThreadError();
        }
        if (reached) {
            for (const std::wstring& name : run.service->Recorder().OperationNames()) {
                if (name != op::SinkEvent) {
                    reached->emplace_back(name,
                                          static_cast<int>(run.service->Recorder().CountOf(name)));
                }
            }
        }

        ExpectReadable(seen);
        if (injection) {
            if (const Promise* promise = PromiseFor(m_scenario.promises, *injection)) {
                ExpectPromise(*promise, *injection, seen);
            }
            ExpectEventsReadable(seen);
        }
        if (m_scenario.dials) {
            ExpectNoCallLeftUp(run, injection);
        }

        run.dialer.Reset();
        run.service->Notifications().WaitIdle();
        EXPECT_EQ("", run.service->Ledger().Leaks());
        EXPECT_TRUE(run.service->Ledger().Misuses().empty());
        run.service->RevokeClassObject();
        run.service->Notifications().ReleaseSinks();
        EXPECT_EQ(0, comkit::GetModule().GetLockCount());
        return seen;
    }

    // Whatever failed: success or failure, and a description only from the
    // message table, only on a failure, on behalf of the dialer.
    static void ExpectReadable(const Observed& seen) {
        EXPECT_TRUE(FAILED(seen.hr) || seen.hr == S_OK || seen.hr == S_FALSE) << Hex(seen.hr);
        const ThreadError& error = *seen.error;
        if (!error.present || error.description == kSentinel) {
            return;
        }
        EXPECT_TRUE(FAILED(seen.hr)) << "a description after " << Hex(seen.hr);
        const std::set<std::wstring> table = {kUnknownError, kNoValidAddress, kTranslationFailed,
                                              kInitFailed};
        EXPECT_EQ(1u, table.count(error.description)) << "a description not in the message table";
        EXPECT_TRUE(IsEqualGUID(IID_ITAPIDialer, error.guid));
    }

    void ExpectPromise(const Promise& promise, const Injection& injection,
                       const Observed& seen) const {
        HRESULT hr = injection.hr;
        std::wstring description = kSentinel;
        switch (promise.answer) {
        case Answer::Injected:
            break;
        case Answer::InjectedInitText:
            description = kInitFailed;
            break;
        case Answer::InjectedCallText:
            description = CallText(injection.hr);
            break;
        case Answer::NoAddress:
            hr = E_FAIL;
            description = kNoValidAddress;
            break;
        case Answer::NoTranslation:
            hr = E_FAIL;
            description = kTranslationFailed;
            break;
        case Answer::Unknown:
            hr = E_FAIL;
            description = kUnknownError;
            break;
        case Answer::AsIfClean:
            hr = m_clean.hr;
            EXPECT_EQ(m_clean.success, seen.success);
            EXPECT_EQ(m_clean.list, seen.list);
            break;
        }
        EXPECT_HR(hr, seen.hr);
        EXPECT_EQ(description, seen.error->present ? seen.error->description : L"(none)");
        if (seen.success && promise.answer != Answer::AsIfClean) {
            EXPECT_EQ(VARIANT_FALSE, *seen.success);
        }
    }

    // An event spoilt by a fault changes nothing, or reads as idle.
    void ExpectEventsReadable(const Observed& seen) const {
        ASSERT_EQ(m_clean.events.size(), seen.events.size());
        bool before = true;
        for (std::size_t i = 0; i < seen.events.size(); ++i) {
            const bool connected = seen.events[i].second;
            EXPECT_TRUE(connected == m_clean.events[i].second || connected == before || !connected)
                << "event #" << i;
            before = connected;
        }
    }

    // Once the host hangs up, no call that was started is still up, unless
    // the service itself refused to drop it.
    static void ExpectNoCallLeftUp(Run& run, const Injection* injection) {
        run.dialer->Disconnect();
        run.service->Notifications().WaitIdle();
        if (injection && injection->operation == op::CallDisconnect) {
            return;
        }
        for (const auto& call : run.service->World().Calls()) {
            const CALL_STATE state = run.service->World().CallStateOf(call.Get());
            EXPECT_TRUE(state != CS_CONNECTED && state != CS_INPROGRESS) << "a call left up";
        }
    }

    const Scenario& m_scenario;
    Observed m_clean;
};

void Initialize(Run& run) {
    ASSERT_HR(S_OK, run.dialer->InitializeTAPI());
}

void InitializeAndDial(Run& run) {
    Initialize(run);
    ASSERT_HR(S_OK, Dial(run));
}

Observed SelectByName(Run& run) {
    Observed seen;
    Bstr name(L"Line 2");
    VARIANT_BOOL success = 0x1234;
    seen.hr = run.dialer->SetDeviceAddress(name.Get(), &success);
    seen.success = success;
    return seen;
}

Observed Connect(Run& run) {
    Observed seen;
    seen.hr = Dial(run);
    return seen;
}

// The answers promised for a Connect on an address already selected.
std::vector<Promise> DialPromises() {
    return {
        {op::QueryConnectionPointContainer, false, S_OK, Answer::Injected},
        {op::FindConnectionPoint, false, S_OK, Answer::Injected},
        {op::Advise, false, S_OK, Answer::Injected},
        {op::PutEventFilter, false, S_OK, Answer::Injected},
        {op::RegisterCallNotifications, false, S_OK, Answer::Injected},
        {op::QueryTranslation, false, S_OK, Answer::NoTranslation},
        {op::TranslateAddress, false, S_OK, Answer::Injected},
        {op::TranslateAddress, true, S_OK, Answer::NoTranslation},
        {op::GetDialableString, false, S_OK, Answer::Injected},
        {op::CreateCall, false, S_OK, Answer::InjectedCallText},
        {op::QueryStreamControl, false, E_NOINTERFACE, Answer::AsIfClean},
        {op::QueryStreamControl, false, S_OK, Answer::Unknown},
        {op::EnumerateStreams, false, E_NOINTERFACE, Answer::AsIfClean},
        {op::EnumerateStreams, false, S_OK, Answer::Unknown},
        {op::CallConnect, false, S_OK, Answer::InjectedCallText},
        // Hanging up the call that a redial replaces, and letting go of the
        // registration of a line no longer dialled, are not in its way.
        {op::CallDisconnect, false, S_OK, Answer::AsIfClean},
        {op::UnregisterNotifications, false, S_OK, Answer::AsIfClean},
    };
}

std::vector<Promise> SelectionPromises() {
    return {{op::EnumerateAddresses, false, S_OK, Answer::Injected},
            {op::AddressNext, false, S_OK, Answer::Injected}};
}

std::vector<Scenario> Scenarios(const std::wstring& devicePath) {
    telsim::AddressSpec fax;
    fax.name = L"Fax";
    fax.mediaAnswer = VARIANT_FALSE;
    const std::vector<telsim::AddressSpec> lines = {telsim::AddressSpec{L"Line 1"}, fax,
                                                    telsim::AddressSpec{L"Line 2"}};
    const telsim::CallScript script;
    std::vector<Scenario> scenarios;

    scenarios.push_back({"InitializeTAPI",
                         lines,
                         script,
                         telsim::Delivery::Apartment,
                         nullptr,
                         [](Run& run) {
                             Observed seen;
                             seen.hr = run.dialer->InitializeTAPI();
                             seen.error = TakeThreadError();
                             if (FAILED(seen.hr)) {
                                 // Without its root object the dialer stays so,
                                 // and calls nothing in the service.
                                 const std::size_t before =
                                     run.service->Recorder().CountOf(op::Initialize);
                                 EXPECT_HR(E_FAIL, run.dialer->InitializeTAPI());
                                 EXPECT_EQ(kInitFailed, TakeThreadError().description);
                                 EXPECT_HR(E_FAIL, dialer_test::Dial(run.dialer.Get()));
                                 EXPECT_EQ(kInitFailed, TakeThreadError().description);
                                 EXPECT_EQ(before, run.service->Recorder().CountOf(op::Initialize));
                             }
                             return seen;
                         },
                         {{op::Initialize, false, S_OK, Answer::InjectedInitText}}});

    const auto list = [](Run& run) {
        Observed seen;
        const BSTR marker = SysAllocString(L"marker");
        BSTR names = marker;
        seen.hr = run.dialer->GetAddressNameCSVList(&names);
        if (names != marker) {
            seen.list = names ? std::wstring(names, SysStringLen(names)) : L"(null)";
            SysFreeString(names);
        }
        SysFreeString(marker);
        return seen;
    };
    scenarios.push_back({"GetAddressNameCSVList", lines, script, telsim::Delivery::Apartment,
                         Initialize, list, SelectionPromises()});
    // Blank names: an empty first name leaves no trace, a later one two
    // adjacent separators.
    scenarios.push_back({"GetAddressNameCSVList with blank names",
                         {telsim::AddressSpec{L""}, telsim::AddressSpec{L"Line 1"},
                          telsim::AddressSpec{std::nullopt}, telsim::AddressSpec{L"Line 2"}},
                         script,
                         telsim::Delivery::Apartment,
                         Initialize,
                         list,
                         SelectionPromises()});

    scenarios.push_back({"SetDeviceAddress", lines, script, telsim::Delivery::Apartment, Initialize,
                         SelectByName, SelectionPromises()});
    scenarios.push_back({"ReadDeviceAddressFromFile", lines, script, telsim::Delivery::Apartment,
                         Initialize,
                         [devicePath](Run& run) {
                             Observed seen;
                             Bstr path(devicePath.c_str());
                             VARIANT_BOOL success = 0x1234;
                             seen.hr = run.dialer->ReadDeviceAddressFromFile(path.Get(), &success);
                             seen.success = success;
                             return seen;
                         },
                         SelectionPromises()});

    std::vector<Promise> selecting = DialPromises();
    selecting.push_back({op::EnumerateAddresses, false, S_OK, Answer::NoAddress});
    scenarios.push_back({"Connect selecting the address", lines, script,
                         telsim::Delivery::Apartment, Initialize, Connect, selecting, true});

    // One stream: a failure that costs the stream costs every terminal.
    telsim::CallScript oneStream;
    oneStream.streams = {telsim::StreamSpec{TAPIMEDIATYPE_AUDIO, TD_CAPTURE}};
    std::vector<Promise> oneStreamPromises = selecting;
    for (const wchar_t* step :
         {op::StreamGetMediaType, op::StreamGetDirection, op::QueryTerminalSupport,
          op::GetDefaultStaticTerminal, op::SelectTerminal}) {
        oneStreamPromises.push_back({step, false, S_OK, Answer::Unknown});
    }
    scenarios.push_back({"Connect on a call with one stream", lines, oneStream,
                         telsim::Delivery::Apartment, Initialize, Connect, oneStreamPromises,
                         true});

    telsim::CallScript noStreams;
    noStreams.hasStreamControl = false;
    scenarios.push_back({"Connect on a call without streams", lines, noStreams,
                         telsim::Delivery::Apartment, Initialize, Connect, selecting, true});

    scenarios.push_back({"Connect on the address selected by name", lines, script,
                         telsim::Delivery::Apartment,
                         [](Run& run) {
                             Initialize(run);
                             EXPECT_HR(S_OK, SelectByName(run).hr);
                         },
                         Connect, DialPromises(), true});

    scenarios.push_back({"Connect replacing a started call", lines, script,
                         telsim::Delivery::Apartment, InitializeAndDial,
                         [](Run& run) {
                             const auto previous = LatestCall(run);
                             Observed seen = Connect(run);
                             seen.callReleased = Released(run, previous.Get());
                             EXPECT_EQ(1u, run.service->Recorder().CountOf(op::CallDisconnect))
                                 << "the replaced call";
                             EXPECT_TRUE(*seen.callReleased);
                             return seen;
                         },
                         DialPromises(), true});

    scenarios.push_back({"Connect to a new line after a call", lines, script,
                         telsim::Delivery::Apartment,
                         [](Run& run) {
                             InitializeAndDial(run);
                             EXPECT_HR(S_OK, SelectByName(run).hr);
                         },
                         Connect, DialPromises(), true});

    scenarios.push_back({"Disconnect of a started call",
                         lines,
                         script,
                         telsim::Delivery::Apartment,
                         InitializeAndDial,
                         [](Run& run) {
                             Observed seen;
                             const auto call = LatestCall(run);
                             seen.hr = run.dialer->Disconnect();
                             run.service->Notifications().WaitIdle();
                             // The sink follows a hung-up call until it reports
                             // its end; one whose end never reaches it goes
                             // with the line.
                             if (!Released(run, call.Get())) {
                                 (void)run.dialer->ShutdownTAPI();
                             }
                             EXPECT_TRUE(Released(run, call.Get()));
                             return seen;
                         },
                         {{op::CallDisconnect, false, S_OK, Answer::Injected}}});

    scenarios.push_back({"ShutdownTAPI after a call",
                         lines,
                         script,
                         telsim::Delivery::Apartment,
                         InitializeAndDial,
                         [](Run& run) {
                             Observed seen;
                             const auto call = LatestCall(run);
                             seen.hr = run.dialer->ShutdownTAPI();
                             // Root, address and call all given up: the test's
                             // own reference on the call is all that is left.
                             EXPECT_TRUE(Released(run, call.Get()));
                             EXPECT_EQ(1u, run.service->Ledger().LiveObjects());
                             return seen;
                         },
                         {{op::Shutdown, false, S_OK, Answer::Injected},
                          {op::UnregisterNotifications, false, S_OK, Answer::AsIfClean}}});

    // The same roads with the call's events delivered inside the call's own
    // Connect and Disconnect, on the host's thread; the far end hangs up
    // while Connect is still placing the call.
    telsim::CallScript hangUp;
    hangUp.onConnect = {
        {CS_INPROGRESS, 0}, {CS_CONNECTED, 0}, {CS_DISCONNECTED, 0, CEC_DISCONNECT_NORMAL}};
    scenarios.push_back({"Connect selecting the address, events inside the call, far end hangs up",
                         lines, hangUp, telsim::Delivery::Synchronous, Initialize, Connect,
                         selecting, true});
    for (const char* name : {"Connect replacing a started call", "Disconnect of a started call",
                             "ShutdownTAPI after a call"}) {
        const auto found = std::find_if(scenarios.begin(), scenarios.end(), [&](const Scenario& s) {
            return std::string(s.name) == name;
        });
        Scenario inside = *found;
        inside.name = std::string(name) == "Connect replacing a started call"
                          ? "Connect replacing a started call, events inside the call"
                      : std::string(name) == "Disconnect of a started call"
                          ? "Disconnect of a started call, events inside the call"
                          : "ShutdownTAPI after a call, events inside the call";
        inside.delivery = telsim::Delivery::Synchronous;
        scenarios.push_back(inside);
    }

    // Raised events are delivered inside RaiseEvent, so that what the sink
    // answers reaches the test; the call's own hang-up raises none.
    telsim::CallScript quietHangUp;
    quietHangUp.onDisconnect.clear();
    scenarios.push_back({"the sink's Event",
                         lines,
                         quietHangUp,
                         telsim::Delivery::Synchronous,
                         InitializeAndDial,
                         [](Run& run) {
                             static const std::pair<TAPI_EVENT, CALL_STATE> events[] = {
                                 {TE_CALLSTATE, CS_INPROGRESS}, {TE_CALLNOTIFICATION, CS_CONNECTED},
                                 {TE_CALLSTATE, CS_HOLD},       {TE_CALLSTATE, CS_OFFERING},
                                 {TE_CALLSTATE, CS_HOLD},       {TE_CALLSTATE, CS_DISCONNECTED}};
                             Observed seen;
                             const auto call = LatestCall(run);
                             for (const auto& [kind, state] : events) {
                                 telsim::EventSpec event;
                                 event.kind = kind;
                                 event.callState = state;
                                 event.call = call.Get();
                                 event.ignoreFilter = true;
                                 const HRESULT hr = run.service->Notifications().RaiseEvent(event);
                                 VARIANT_BOOL connected = 0x1234;
                                 EXPECT_HR(S_OK, run.dialer->get_Connected(&connected));
                                 seen.events.emplace_back(hr, connected == VARIANT_TRUE);
                             }
                             return seen;
                         },
                         {}});
    return scenarios;
}

TEST(FaultInjection, EveryReachableOperationFailsInTurn) {
    Apartment apartment;
    test_support::ScratchFile deviceFile;
    ASSERT_TRUE(deviceFile.Write("Line 2\r\nLine 1\r\n"));
    const DWORD start = GetTickCount();
    int points = 0;
    for (const Scenario& scenario : Scenarios(deviceFile.Path())) {
        points += FaultWalk(scenario).Walk();
        if (::testing::Test::HasFatalFailure()) {
            break;
        }
    }
    std::printf("fault injection: %d injection points covered, %lu ms\n", points,
                static_cast<unsigned long>(GetTickCount() - start));
    EXPECT_GT(points, 200);
}

// Creation is the first road: when the telephony root object cannot be
// made, no dialer exists, and nothing of the module or the service is held.
TEST(FaultInjection, RootCreationFails) {
    Apartment apartment;
    auto service = telsim::Service::Create();
    ASSERT_HR(S_OK, service->RegisterClassObject());
    service->World().FailCreation(kInjected);
    ComPtr<ITAPIDialer> dialer;
    EXPECT_HR(kInjected, CreateDialer(dialer));
    EXPECT_EQ(nullptr, dialer.Get());
    EXPECT_EQ(0, comkit::GetModule().GetLockCount());
    service->World().FailCreation(S_OK);
    EXPECT_HR(S_OK, CreateDialer(dialer));
    dialer.Reset();
    EXPECT_EQ("", service->Ledger().Leaks());
    service->RevokeClassObject();
}

}  // namespace
