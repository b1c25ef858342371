// Fault injection: for every member road, each telephony operation that the
// road reaches fails in turn (once, and from that call on), and where the
// operation hands out an object it also succeeds with a null one. The
// member's HRESULT, outputs and error description are held against the
// model of the rules (fault_model.h); every run ends with nothing of the
// service referenced and nothing released twice.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <set>

#include "../dialer/dialer_test_support.h"
#include "comkit/module.h"
#include "fault_model.h"

using Microsoft::WRL::ComPtr;
using namespace dialer_test;
using namespace reliability;
namespace op = telsim::op;

namespace {

constexpr HRESULT kInjected = static_cast<HRESULT>(0x8004FA01);
constexpr wchar_t kSentinel[] = L"left by the test";
constexpr wchar_t kNumber[] = L"5550100";

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
    std::optional<HRESULT> disconnect;
    std::vector<std::pair<HRESULT, bool>> events;
};

struct Scenario {
    const char* name;
    World world;
    telsim::Delivery delivery = telsim::Delivery::NotificationThread;
    std::function<void(Run&)> setup;
    std::function<Observed(Run&)> member;
    std::function<Outcome(FaultPlan&)> model;
};

// Operations that hand out an object (or a string, or a handle), so that a
// null-out success means something; the queries among them are the ones the
// service records as such.
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

World DefaultWorld() {
    World world;
    telsim::AddressSpec fax;
    fax.name = L"Fax";
    fax.mediaAnswer = VARIANT_FALSE;
    world.addresses = {telsim::AddressSpec{L"Line 1"}, fax, telsim::AddressSpec{L"Line 2"}};
    return world;
}

HRESULT Dial(Run& run) {
    Bstr number(kNumber);
    const HRESULT hr = run.dialer->Connect(number.Get());
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

std::wstring Text(const std::optional<std::wstring>& text) {
    return text ? L"\"" + *text + L"\"" : L"(unwritten)";
}

struct Tally {
    int points = 0;
    int fixed = 0;
};

class FaultWalk {
public:
    explicit FaultWalk(const Scenario& scenario) : m_scenario(scenario) {}

    // The clean run, then every injection point of the operations it reached.
    Tally Walk() {
        std::vector<std::pair<std::wstring, int>> reached;
        RunOnce(nullptr, &reached);
        Tally tally;
        std::printf("[ %s ] clean run reaches %zu operations:", m_scenario.name, reached.size());
        for (const auto& [name, count] : reached) {
            std::printf(" %ls x%d;", name.c_str(), count);
        }
        std::printf("\n");
        for (const auto& [name, count] : reached) {
            for (int index = 0; index < count; ++index) {
                std::vector<Injection> injections{{name, index, FaultMode::FailOnce, kInjected}};
                if (index + 1 < count) {
                    injections.push_back({name, index, FaultMode::FailOnward, kInjected});
                }
                if (OperationsWithOutObject().count(name)) {
                    injections.push_back({name, index, FaultMode::NullOnce, S_OK});
                }
                for (HRESULT hr : ExtraCodes(name)) {
                    injections.push_back({name, index, FaultMode::FailOnce, hr});
                }
                for (const Injection& injection : injections) {
                    tally.fixed += RunOnce(&injection, nullptr) ? 1 : 0;
                    ++tally.points;
                    if (::testing::Test::HasFatalFailure()) {
                        return tally;
                    }
                }
            }
        }
        std::printf("[ %s ] %d injection points, %d with an outcome the rules fix\n", m_scenario.name,
                    tally.points, tally.fixed);
        return tally;
    }

private:
    // Returns whether the rules fixed the outcome of this run.
    bool RunOnce(const Injection* injection, std::vector<std::pair<std::wstring, int>>* reached) {
        SCOPED_TRACE(std::string(m_scenario.name) + ": " +
                     (injection ? injection->Describe() : std::string("clean run")));
        Run run;
        run.service = telsim::Service::Create();
        run.service->World().SetAddresses(m_scenario.world.addresses);
        run.service->World().SetCallScript(m_scenario.world.script);
        run.service->World().SetDelivery(m_scenario.delivery);
        EXPECT_HR(S_OK, run.service->RegisterClassObject());
        EXPECT_HR(S_OK, CreateDialer(run.dialer));
        if (!run.dialer) {
            return false;
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
        const ThreadError error = seen.error ? *seen.error : TakeThreadError();

        if (reached) {
            for (const std::wstring& name : run.service->Recorder().OperationNames()) {
                if (name != op::SinkEvent) {
                    reached->emplace_back(name, static_cast<int>(run.service->Recorder().CountOf(name)));
                }
            }
        }

        FaultPlan plan(injection);
        const Outcome expected = Predict([&] { return m_scenario.model(plan); });
        if (expected.fixed) {
            Compare(expected, seen, error);
        } else {
            EXPECT_TRUE(FAILED(seen.hr) || seen.hr == S_OK || seen.hr == S_FALSE) << Hex(seen.hr);
            EXPECT_FALSE(error.present && error.description != kSentinel &&
                         error.description != kUnknownError && error.description != kNoValidAddress &&
                         error.description != kTranslationFailed && error.description != kInitFailed)
                << "a description not in the message table";
        }

        run.dialer.Reset();
        run.service->Notifications().WaitIdle();
        EXPECT_EQ("", run.service->Ledger().Leaks());
        EXPECT_TRUE(run.service->Ledger().Misuses().empty());
        EXPECT_EQ(0, comkit::GetModule().GetLockCount());
        run.service->RevokeClassObject();
        run.service->Notifications().ReleaseSinks();
        return expected.fixed;
    }

    static void Compare(const Outcome& expected, const Observed& seen, const ThreadError& error) {
        EXPECT_HR(expected.hr, seen.hr);
        const std::wstring description = error.present ? error.description : L"(none)";
        EXPECT_EQ(expected.description.empty() ? std::wstring(kSentinel) : expected.description, description);
        if (!expected.description.empty()) {
            EXPECT_TRUE(IsEqualGUID(IID_ITAPIDialer, error.guid));
        }
        if (expected.success) {
            EXPECT_EQ(*expected.success, seen.success.value_or(0x1234));
        }
        if (seen.list || expected.list) {
            EXPECT_EQ(Text(expected.list), Text(seen.list));
        }
        if (expected.callReleased) {
            EXPECT_EQ(*expected.callReleased, seen.callReleased.value_or(!*expected.callReleased));
        }
        if (expected.disconnect) {
            EXPECT_HR(*expected.disconnect, seen.disconnect.value_or(0x1234));
        }
        EXPECT_EQ(expected.events.size(), seen.events.size());
        for (std::size_t i = 0; i < expected.events.size() && i < seen.events.size(); ++i) {
            SCOPED_TRACE("event #" + std::to_string(i));
            if (expected.events[i].hr) {
                EXPECT_HR(*expected.events[i].hr, seen.events[i].first);
            }
            EXPECT_EQ(expected.events[i].connected, seen.events[i].second);
        }
    }

    const Scenario& m_scenario;
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

std::wstring WriteDeviceFile() {
    wchar_t directory[MAX_PATH];
    GetTempPathW(MAX_PATH, directory);
    const std::wstring path =
        std::wstring(directory) + L"brevlin-fault-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    std::ofstream(path.c_str(), std::ios::binary) << "Line 2\r\nLine 1\r\n";
    return path;
}

std::vector<Scenario> Scenarios(const std::wstring& devicePath) {
    const World world = DefaultWorld();
    std::vector<Scenario> scenarios;

    scenarios.push_back({"InitializeTAPI", world, telsim::Delivery::NotificationThread, nullptr,
                         [](Run& run) {
                             Observed seen;
                             seen.hr = run.dialer->InitializeTAPI();
                             seen.error = TakeThreadError();
                             if (FAILED(seen.hr)) {
                                 // Without its root object the dialer stays so,
                                 // and calls nothing in the service.
                                 const std::size_t before = run.service->Recorder().CountOf(op::Initialize);
                                 Bstr number(kNumber);
                                 EXPECT_HR(E_FAIL, run.dialer->InitializeTAPI());
                                 EXPECT_EQ(kInitFailed, TakeThreadError().description);
                                 EXPECT_HR(E_FAIL, run.dialer->Connect(number.Get()));
                                 EXPECT_EQ(kInitFailed, TakeThreadError().description);
                                 EXPECT_EQ(before, run.service->Recorder().CountOf(op::Initialize));
                             }
                             return seen;
                         },
                         [](FaultPlan& plan) { return ModelInitialize(plan); }});

    scenarios.push_back({"GetAddressNameCSVList", world, telsim::Delivery::NotificationThread, Initialize,
                         [](Run& run) {
                             Observed seen;
                             const BSTR marker = SysAllocString(L"marker");
                             BSTR list = marker;
                             seen.hr = run.dialer->GetAddressNameCSVList(&list);
                             if (list != marker) {
                                 seen.list = list ? std::wstring(list, SysStringLen(list)) : L"(null)";
                                 SysFreeString(list);
                             }
                             SysFreeString(marker);
                             return seen;
                         },
                         [world](FaultPlan& plan) { return ModelAddressList(plan, world); }});

    // Blank names: an empty first name leaves no trace, a later one two
    // adjacent separators.
    World blankNames = world;
    blankNames.addresses = {telsim::AddressSpec{L""}, telsim::AddressSpec{L"Line 1"},
                            telsim::AddressSpec{std::nullopt}, telsim::AddressSpec{L"Line 2"}};
    scenarios.push_back({"GetAddressNameCSVList with blank names", blankNames,
                         telsim::Delivery::NotificationThread, Initialize, scenarios.back().member,
                         [blankNames](FaultPlan& plan) { return ModelAddressList(plan, blankNames); }});

    scenarios.push_back({"SetDeviceAddress", world, telsim::Delivery::NotificationThread, Initialize,
                         SelectByName,
                         [world](FaultPlan& plan) { return ModelSetDeviceAddress(plan, world, L"Line 2"); }});

    scenarios.push_back({"ReadDeviceAddressFromFile", world, telsim::Delivery::NotificationThread, Initialize,
                         [devicePath](Run& run) {
                             Observed seen;
                             Bstr path(devicePath.c_str());
                             VARIANT_BOOL success = 0x1234;
                             seen.hr = run.dialer->ReadDeviceAddressFromFile(path.Get(), &success);
                             seen.success = success;
                             return seen;
                         },
                         [world](FaultPlan& plan) { return ModelSetDeviceAddress(plan, world, L"Line 2"); }});

    scenarios.push_back({"Connect selecting the address", world, telsim::Delivery::NotificationThread,
                         Initialize,
                         [](Run& run) {
                             Observed seen;
                             seen.hr = Dial(run);
                             return seen;
                         },
                         [world](FaultPlan& plan) { return ModelConnect(plan, world, std::nullopt); }});

    // One stream: a failure that costs the stream costs every terminal.
    World oneStream = world;
    oneStream.script.streams = {telsim::StreamSpec{TAPIMEDIATYPE_AUDIO, TD_CAPTURE}};
    scenarios.push_back({"Connect on a call with one stream", oneStream, telsim::Delivery::NotificationThread,
                         Initialize, scenarios.back().member, [oneStream](FaultPlan& plan) {
                             return ModelConnect(plan, oneStream, std::nullopt);
                         }});

    World noStreams = world;
    noStreams.script.hasStreamControl = false;
    scenarios.push_back({"Connect on a call without streams", noStreams, telsim::Delivery::NotificationThread,
                         Initialize, scenarios.back().member, [noStreams](FaultPlan& plan) {
                             return ModelConnect(plan, noStreams, std::nullopt);
                         }});

    scenarios.push_back({"Connect on the address selected by name", world,
                         telsim::Delivery::NotificationThread,
                         [](Run& run) {
                             Initialize(run);
                             EXPECT_HR(S_OK, SelectByName(run).hr);
                         },
                         [](Run& run) {
                             Observed seen;
                             seen.hr = Dial(run);
                             return seen;
                         },
                         [world](FaultPlan& plan) { return ModelConnect(plan, world, 2); }});

    scenarios.push_back({"Connect replacing a started call", world, telsim::Delivery::NotificationThread,
                         InitializeAndDial,
                         [](Run& run) {
                             Observed seen;
                             const auto previous = LatestCall(run);
                             seen.hr = Dial(run);
                             seen.callReleased = Released(run, previous.Get());
                             seen.disconnect = run.dialer->Disconnect();
                             return seen;
                         },
                         [world](FaultPlan& plan) {
                             Outcome outcome = ModelConnect(plan, world, 0);
                             outcome.callReleased = true;
                             // The flag stays set from the replaced call, so a
                             // new call that was never started is dropped too,
                             // and the service refuses that.
                             outcome.disconnect = S_OK;
                             if (outcome.callCreated) {
                                 const Answer drop = plan.Next(op::CallDisconnect);
                                 outcome.disconnect = drop.Failed()         ? drop.hr
                                                      : outcome.callStarted ? S_OK
                                                                            : TAPI_E_INVALCALLSTATE;
                             }
                             return outcome;
                         }});

    scenarios.push_back({"Disconnect of a started call", world, telsim::Delivery::NotificationThread,
                         InitializeAndDial,
                         [](Run& run) {
                             Observed seen;
                             const auto call = LatestCall(run);
                             seen.hr = run.dialer->Disconnect();
                             run.service->Notifications().WaitIdle();
                             seen.callReleased = Released(run, call.Get());
                             return seen;
                         },
                         [](FaultPlan& plan) { return ModelDisconnect(plan); }});

    scenarios.push_back({"ShutdownTAPI after a call", world, telsim::Delivery::NotificationThread,
                         InitializeAndDial,
                         [](Run& run) {
                             Observed seen;
                             const auto call = LatestCall(run);
                             seen.hr = run.dialer->ShutdownTAPI();
                             // Root, address and call all given up: the test's
                             // own reference on the call is all that is left.
                             seen.callReleased = Released(run, call.Get()) && run.service->Ledger().LiveObjects() == 1;
                             return seen;
                         },
                         [](FaultPlan& plan) { return ModelShutdown(plan); }});

    // The same roads with the call's events delivered inside the call's own
    // Connect and Disconnect, on the host's thread; the far end hangs up
    // while Connect is still placing the call.
    World hangUp = world;
    hangUp.script.onConnect = {
        {CS_INPROGRESS, 0}, {CS_CONNECTED, 0}, {CS_DISCONNECTED, 0, CEC_DISCONNECT_NORMAL}};
    scenarios.push_back({"Connect selecting the address, events inside the call, far end hangs up", hangUp,
                         telsim::Delivery::Synchronous, Initialize,
                         [](Run& run) {
                             Observed seen;
                             seen.hr = Dial(run);
                             return seen;
                         },
                         [hangUp](FaultPlan& plan) { return ModelConnect(plan, hangUp, std::nullopt); }});
    for (const char* name : {"Disconnect of a started call", "ShutdownTAPI after a call"}) {
        const auto found = std::find_if(scenarios.begin(), scenarios.end(),
                                        [&](const Scenario& s) { return std::string(s.name) == name; });
        Scenario inside = *found;
        inside.name = found->name == std::string("Disconnect of a started call")
                          ? "Disconnect of a started call, events inside the call"
                          : "ShutdownTAPI after a call, events inside the call";
        inside.delivery = telsim::Delivery::Synchronous;
        scenarios.push_back(inside);
    }

    // Raised events are delivered inside RaiseEvent, so that what the sink
    // answers reaches the test; the call's own hang-up raises none.
    World eventWorld = world;
    eventWorld.script.onDisconnect.clear();
    static const std::vector<RaisedEvent> events = {
        {TE_CALLSTATE, CS_INPROGRESS}, {TE_CALLNOTIFICATION, CS_CONNECTED},
        {TE_CALLSTATE, CS_HOLD},       {TE_CALLSTATE, CS_OFFERING},
        {TE_CALLSTATE, CS_HOLD},       {TE_CALLSTATE, CS_DISCONNECTED}};
    scenarios.push_back({"the sink's Event", eventWorld, telsim::Delivery::Synchronous, InitializeAndDial,
                         [](Run& run) {
                             Observed seen;
                             const auto call = LatestCall(run);
                             for (const RaisedEvent& raised : events) {
                                 telsim::EventSpec event;
                                 event.kind = raised.kind;
                                 event.callState = raised.state;
                                 event.call = call.Get();
                                 event.ignoreFilter = true;
                                 const HRESULT hr = run.service->Notifications().RaiseEvent(event);
                                 VARIANT_BOOL connected = 0x1234;
                                 EXPECT_HR(S_OK, run.dialer->get_Connected(&connected));
                                 seen.events.emplace_back(hr, connected == VARIANT_TRUE);
                             }
                             seen.callReleased = Released(run, call.Get());
                             return seen;
                         },
                         [](FaultPlan& plan) { return ModelEvents(plan, events, CS_CONNECTED); }});
    return scenarios;
}

TEST(FaultInjection, EveryReachableOperationFailsInTurn) {
    Apartment apartment(false);
    const std::wstring devicePath = WriteDeviceFile();
    const DWORD start = GetTickCount();
    Tally total;
    for (const Scenario& scenario : Scenarios(devicePath)) {
        const Tally tally = FaultWalk(scenario).Walk();
        total.points += tally.points;
        total.fixed += tally.fixed;
        if (::testing::Test::HasFatalFailure()) {
            break;
        }
    }
    DeleteFileW(devicePath.c_str());
    std::printf(
        "fault injection: %d injection points covered, %d with the outcome fixed by the rules, "
        "%d checked for safety only, %lu ms\n",
        total.points, total.fixed, total.points - total.fixed,
        static_cast<unsigned long>(GetTickCount() - start));
    EXPECT_GT(total.points, 200);
}

// Creation is the first road: when the telephony root object cannot be
// made, no dialer exists, and nothing of the module or the service is held.
TEST(FaultInjection, RootCreationFails) {
    Apartment apartment(false);
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
    std::printf("fault injection: root object creation failure, 1 injection point\n");
}

}  // namespace
