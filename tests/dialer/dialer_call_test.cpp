// Placing calls, the call-event sink and the tracked call state, in a
// single- and a multi-threaded apartment, with events delivered as the real
// service does (into the sink's apartment; the test pumps while it waits)
// and inside the triggering call.
#include "dialer_test_support.h"
#include "support/scratch_file.h"

#include "comkit/module.h"

#include <tuple>

using Microsoft::WRL::ComPtr;
using namespace dialer_test;
namespace op = telsim::op;

namespace {

using Mode = std::tuple<bool, telsim::Delivery>;

std::string ModeName(const ::testing::TestParamInfo<Mode>& info) {
    return std::string(std::get<0>(info.param) ? "Sta" : "Mta") +
           (std::get<1>(info.param) == telsim::Delivery::Synchronous ? "Synchronous" : "Apartment");
}

class DialerCallTest : public ::testing::TestWithParam<Mode>, protected DialerFixture {
protected:
    // Lenient (agile calls): these cases are about what the dialer makes of
    // each event and the call's own state on whatever thread it comes; calls
    // bound to the host's apartment are the host tests'.
    void SetUp() override {
        Start(std::get<0>(GetParam()), std::get<1>(GetParam()));
        m_service->World().SetObjects(telsim::Objects::Agile);
    }
    void TearDown() override { Finish(); }

    bool Synchronous() const { return std::get<1>(GetParam()) == telsim::Delivery::Synchronous; }

    HRESULT Dial(const wchar_t* number = kNumber) {
        const HRESULT hr = Connect(number);
        m_service->Notifications().WaitIdle();
        return hr;
    }

    bool Connected() {
        VARIANT_BOOL value = 0x1234;
        EXPECT_HR(S_OK, m_dialer->get_Connected(&value));
        EXPECT_TRUE(value == VARIANT_TRUE || value == VARIANT_FALSE) << value;
        return value == VARIANT_TRUE;
    }

    // An event of this kind about a call in this state; an unfiltered one
    // reaches the sink whatever its filter.
    static telsim::EventSpec Event(CALL_STATE state, TAPI_EVENT kind = TE_CALLSTATE,
                                   bool unfiltered = false) {
        telsim::EventSpec event;
        event.kind = kind;
        event.callState = state;
        event.ignoreFilter = unfiltered;
        return event;
    }

    // An event about `call`, by default the dialer's latest call; a call of
    // someone else on the line is Stranger().
    HRESULT Raise(CALL_STATE state, IUnknown* call = nullptr) {
        telsim::EventSpec event = Event(state);
        event.call = call;
        return Raise(event);
    }

    HRESULT Raise(telsim::EventSpec event) {
        ComPtr<ITBasicCallControl> latest;
        if (!event.call && m_service->World().CallsCreated() > 0) {
            latest = Call(m_service->World().CallsCreated() - 1);
            event.call = latest.Get();
        }
        // A drop handed to the dialer's own thread holds the module.
        const LONG before = comkit::GetModule().GetLockCount();
        const HRESULT hr = m_service->Notifications().RaiseEvent(event);
        m_service->Notifications().WaitIdle();
        EXPECT_TRUE(Eventually([&] { return comkit::GetModule().GetLockCount() <= before; }));
        return hr;
    }

    // Raises the event; delivered inside the raise, it answers with the sink's answer.
    void RaiseAnswering(HRESULT answer, const telsim::EventSpec& event) {
        const HRESULT hr = Raise(event);
        if (Synchronous()) {
            EXPECT_HR(answer, hr);
        }
    }

    // A call that the dialer did not place: the service makes one for the
    // event, and delivers it whatever the filter.
    HRESULT RaiseForStranger(CALL_STATE state) {
        const HRESULT hr = m_service->Notifications().RaiseEvent(Event(state, TE_CALLSTATE, true));
        m_service->Notifications().WaitIdle();
        return hr;
    }

    // Selects the line through a device-address file naming it.
    bool SelectFromFile(const char* line) {
        test_support::ScratchFile file;
        EXPECT_TRUE(file.Write(line));
        Bstr fileSpec(file.Path().c_str());
        VARIANT_BOOL success = VARIANT_FALSE;
        EXPECT_HR(S_OK, m_dialer->ReadDeviceAddressFromFile(fileSpec.Get(), &success));
        return success == VARIANT_TRUE;
    }

    bool SelectByName(const wchar_t* line) {
        Bstr name(line);
        VARIANT_BOOL success = VARIANT_FALSE;
        EXPECT_HR(S_OK, m_dialer->SetDeviceAddress(name.Get(), &success));
        return success == VARIANT_TRUE;
    }

    // A dialer with its sink registered, following its first call, which
    // has reported nothing yet.
    void Register() {
        telsim::CallScript silent;
        silent.onConnect.clear();
        m_service->World().SetCallScript(silent);
        ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
        ASSERT_HR(S_OK, Dial());
        m_service->Recorder().ClearOperations();
    }

    ComPtr<ITBasicCallControl> Call(std::size_t index) {
        return m_service->World().Calls().at(index);
    }

    void ExpectError(const wchar_t* description) {
        const ThreadError error = TakeThreadError();
        EXPECT_TRUE(error.present);
        EXPECT_EQ(description, error.description);
    }
};

INSTANTIATE_TEST_SUITE_P(Modes, DialerCallTest,
                         // Synchronous, lenient: each event's effect is there before the member
                         // returns, the strictest order the dialer can meet.
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(telsim::Delivery::Synchronous,
                                                              telsim::Delivery::Apartment)),
                         ModeName);

TEST_P(DialerCallTest, FirstConnectRegistersInOrderAndTracksTheCall) {
    EXPECT_FALSE(Connected());
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    m_service->Recorder().ClearOperations();
    EXPECT_HR(S_OK, Dial());
    EXPECT_TRUE(Connected());

    std::vector<std::wstring> names;
    std::wstring registration;
    for (const auto& operation : m_service->Recorder().Operations()) {
        names.push_back(operation.name);
        if (operation.name == op::RegisterCallNotifications) {
            registration = operation.args;
        }
    }
    auto position = [&](const wchar_t* name) {
        return std::find(names.begin(), names.end(), name) - names.begin();
    };
    EXPECT_LT(position(op::EnumerateAddresses), position(op::FindConnectionPoint));
    EXPECT_LT(position(op::FindConnectionPoint), position(op::Advise));
    EXPECT_LT(position(op::Advise), position(op::PutEventFilter));
    EXPECT_LT(position(op::PutEventFilter), position(op::RegisterCallNotifications));
    EXPECT_LT(position(op::RegisterCallNotifications), position(op::TranslateAddress));
    EXPECT_LT(position(op::TranslateAddress), position(op::CreateCall));
    EXPECT_LT(position(op::CreateCall), position(op::CallConnect));
    EXPECT_NE(std::wstring::npos, registration.find(L"-1,0,24,")) << registration;
    EXPECT_EQ(TE_CALLSTATE, m_service->Notifications().EventFilter());
    EXPECT_EQ(1u, m_service->Notifications().AdvisedSinks());
    EXPECT_EQ(1, m_service->Notifications().RegistrationsHeld());

    // Later calls register nothing more.
    EXPECT_HR(S_OK, Dial());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::Advise));
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::RegisterCallNotifications));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_TRUE(Connected());  // the last tracked state outlives the service
}

TEST_P(DialerCallTest, ACallOnALineChosenByNameIsFollowedToItsEnd) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    ASSERT_TRUE(SelectByName(L"Line 2"));
    EXPECT_HR(S_OK, Dial());
    EXPECT_TRUE(Connected());
    EXPECT_EQ(1u, m_service->Notifications().AdvisedSinks());
    EXPECT_EQ(1, m_service->Notifications().RegistrationsHeld());

    // The far end hangs up: the dialer drops and releases its call.
    ComPtr<ITBasicCallControl> call = Call(0);
    Raise(CS_DISCONNECTED, call.Get());
    EXPECT_FALSE(Connected());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_EQ(1, m_service->Ledger().RefCount(call.Get()));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::UnregisterNotifications));
}

TEST_P(DialerCallTest, ANewLineIsFollowedFromTheNextConnect) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    ASSERT_HR(S_OK, Dial());
    ASSERT_HR(S_OK, m_dialer->Disconnect());
    m_service->Notifications().WaitIdle();
    // The same line again keeps its registration.
    ASSERT_TRUE(SelectByName(L"Line 1"));
    ASSERT_HR(S_OK, Dial());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::RegisterCallNotifications));
    ASSERT_HR(S_OK, m_dialer->Disconnect());
    m_service->Notifications().WaitIdle();

    ASSERT_TRUE(SelectFromFile("Line 2\r\n"));
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::UnregisterNotifications));
    ASSERT_HR(S_OK, Dial());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::UnregisterNotifications));
    EXPECT_EQ(2u, m_service->Recorder().CountOf(op::RegisterCallNotifications));
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::Advise));
    EXPECT_EQ(1, m_service->Notifications().RegistrationsHeld());
    EXPECT_TRUE(Connected());
    Raise(CS_DISCONNECTED);
    EXPECT_FALSE(Connected());
    EXPECT_EQ(3u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_P(DialerCallTest, TrackedStateFollowsTheCallsOwnState) {
    Register();
    struct Step {
        CALL_STATE state;
        bool connected;
    };
    const Step steps[] = {
        {CS_INPROGRESS, true},
        {CS_IDLE, false},
        {CS_CONNECTED, true},
        {CS_OFFERING, false},
        {CS_INPROGRESS, true},
        {CS_QUEUED, false},
        {CS_CONNECTED, true},
        {static_cast<CALL_STATE>(7), false},
        {CS_CONNECTED, true},
        {static_cast<CALL_STATE>(-1), false},
        {CS_CONNECTED, true},
        {CS_DISCONNECTED, false},
        // An ended call is followed no more.
        {CS_CONNECTED, false},
    };
    for (const Step& step : steps) {
        telsim::EventSpec event = Event(step.state);
        // The event object's own state is not what counts.
        event.eventState = step.connected ? CS_DISCONNECTED : CS_CONNECTED;
        Raise(event);
        EXPECT_EQ(step.connected, Connected()) << "state " << step.state;
    }
}

TEST_P(DialerCallTest, HoldKeepsAConnectedCallConnectedOnly) {
    Register();
    Raise(CS_CONNECTED);
    Raise(CS_HOLD);
    EXPECT_TRUE(Connected());
    Raise(CS_HOLD);
    EXPECT_TRUE(Connected());
    Raise(CS_INPROGRESS);
    Raise(CS_HOLD);
    EXPECT_FALSE(Connected());
    Raise(CS_CONNECTED);
    EXPECT_TRUE(Connected());
}

TEST_P(DialerCallTest, EventsThatTellNothingChangeNothing) {
    Register();
    Raise(CS_CONNECTED);

    telsim::EventSpec other = Event(CS_IDLE, TE_ADDRESS, true);
    EXPECT_HR(S_OK, Raise(other));
    other.kind = TE_CALLMEDIA;
    EXPECT_HR(S_OK, Raise(other));
    EXPECT_TRUE(Connected());

    telsim::EventSpec noCall = Event(CS_IDLE);
    noCall.getCallResult = E_UNEXPECTED;
    RaiseAnswering(E_UNEXPECTED, noCall);
    EXPECT_TRUE(Connected());

    noCall.getCallResult = S_OK;
    noCall.nullCall = true;
    Raise(noCall);
    EXPECT_TRUE(Connected());

    telsim::EventSpec wrongObject = Event(CS_IDLE);
    wrongObject.withoutEventInterface = true;
    Raise(wrongObject);
    EXPECT_TRUE(Connected());
}

TEST_P(DialerCallTest, CallNotificationsAreReadLikeCallStates) {
    Register();
    telsim::EventSpec notification = Event(CS_CONNECTED, TE_CALLNOTIFICATION, true);
    Raise(notification);
    EXPECT_TRUE(Connected());
    notification.withoutEventInterface = true;
    notification.callState = CS_IDLE;
    Raise(notification);
    EXPECT_TRUE(Connected());
}

// The call's own state cannot be read: the state the event carries tells,
// and an end is not lost; a call notification, which carries none, changes
// nothing.
TEST_P(DialerCallTest, AFailedStateReadTakesTheEventsOwnState) {
    Register();
    Raise(CS_CONNECTED);
    telsim::EventSpec event = Event(CS_INPROGRESS, TE_CALLNOTIFICATION, true);
    event.callStateResult = E_UNEXPECTED;
    RaiseAnswering(E_UNEXPECTED, event);
    EXPECT_TRUE(Connected());
    event = Event(CS_DISCONNECTED);
    event.callStateResult = E_UNEXPECTED;
    RaiseAnswering(E_UNEXPECTED, event);
    EXPECT_FALSE(Connected());
    EXPECT_EQ(1, m_service->Ledger().RefCount(Call(0).Get()));
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
}

// A drop that fails is not tried again, on any thread.
TEST_P(DialerCallTest, ADisconnectedStateDropsTheActiveCallOnceEvenWhenTheDropFails) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    ASSERT_HR(S_OK, Dial());
    ASSERT_TRUE(Connected());
    ComPtr<ITBasicCallControl> call = Call(0);
    m_service->Recorder().FailOperation(op::CallDisconnect, E_UNEXPECTED);

    Raise(CS_DISCONNECTED, call.Get());
    EXPECT_FALSE(Connected());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_EQ(1, m_service->Ledger().RefCount(call.Get()));  // only the test's

    Raise(CS_DISCONNECTED, call.Get());
    Raise(CS_DISCONNECTED);
    EXPECT_HR(S_OK, m_dialer->Disconnect());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_P(DialerCallTest, ARedialHangsUpTheActiveCallOnce) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    ASSERT_HR(S_OK, Dial());
    // The new call reads as not connected until its own first state.
    telsim::CallScript silent;
    silent.onConnect.clear();
    m_service->World().SetCallScript(silent);
    ASSERT_HR(S_OK, Dial(L"5550199"));
    EXPECT_FALSE(Connected());
    ASSERT_EQ(2u, m_service->World().CallsCreated());
    ComPtr<ITBasicCallControl> first = Call(0);
    ComPtr<ITBasicCallControl> second = Call(1);
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_EQ(CS_DISCONNECTED, m_service->World().CallStateOf(first.Get()));
    EXPECT_EQ(1, m_service->Ledger().RefCount(first.Get()));
    // The test's, the dialer's and the sink's, which follows it.
    EXPECT_EQ(3, m_service->Ledger().RefCount(second.Get()));

    // The first call's late end is not the second call's.
    Raise(CS_DISCONNECTED, first.Get());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_EQ(3, m_service->Ledger().RefCount(second.Get()));
    Raise(CS_CONNECTED, second.Get());
    EXPECT_TRUE(Connected());
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_P(DialerCallTest, OtherCallsOnTheLineChangeNothing) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    ASSERT_HR(S_OK, Dial());
    for (CALL_STATE state : {CS_OFFERING, CS_IDLE, CS_DISCONNECTED}) {
        RaiseForStranger(state);
        EXPECT_TRUE(Connected()) << "state " << state;
    }
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_EQ(3, m_service->Ledger().RefCount(Call(0).Get()));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_P(DialerCallTest, ACallThatEndsWhileItIsStartedIsDroppedAndReleased) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    telsim::CallScript busy;
    // The end is followed by an event whose state cannot be read.
    busy.onConnect = {
        {CS_INPROGRESS, 0}, {CS_DISCONNECTED, 0, CEC_DISCONNECT_BUSY}, {CS_DISCONNECTED, 0}};
    busy.onDisconnect.clear();
    m_service->World().SetCallScript(busy);
    m_service->Recorder().FailOperation(op::GetCallState, E_UNEXPECTED, 2);
    EXPECT_HR(S_OK, Dial());
    EXPECT_FALSE(Connected());
    EXPECT_TRUE(Eventually([&] { return m_service->Ledger().RefCount(Call(0).Get()) == 1; }));
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_HR(S_OK, m_dialer->Disconnect());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

// Once nothing holds a call, another object may be made where it was and
// pass for it. The sink holds the call it follows, a hung-up one too, until
// the call reports its end; it lets go of it off the service's thread, at
// the host's next member.
TEST_P(DialerCallTest, AHungUpCallIsHeldUntilItsEnd) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    telsim::CallScript silent;
    silent.onConnect.clear();
    silent.onDisconnect.clear();
    m_service->World().SetCallScript(silent);
    ASSERT_HR(S_OK, Dial());
    ASSERT_HR(S_OK, m_dialer->Disconnect());
    IUnknown* const call = Call(0).Get();
    // The service forgets the call too: only the sink may still hold it.
    m_service->World().Clear();
    EXPECT_EQ(1, m_service->Ledger().RefCount(call));
    RaiseForStranger(CS_CONNECTED);
    EXPECT_FALSE(Connected());

    Raise(CS_DISCONNECTED, call);
    EXPECT_HR(S_OK, m_dialer->Disconnect());
    EXPECT_EQ(0, m_service->Ledger().RefCount(call));
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_P(DialerCallTest, ConnectFailuresBeforeTheCall) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    const HRESULT refused = static_cast<HRESULT>(0x80040004);

    // The registration fails: its own code, no description, no call; the
    // address stays selected and the sink advised, and the next Connect
    // registers again before it dials.
    SetThreadError(L"marker");
    m_service->Recorder().FailOperation(op::RegisterCallNotifications, refused);
    EXPECT_HR(refused, Dial());
    EXPECT_EQ(L"marker", TakeThreadError().description);
    EXPECT_EQ(0u, m_service->World().CallsCreated());
    EXPECT_EQ(1u, m_service->Notifications().AdvisedSinks());
    m_service->Recorder().ClearFaults();
    EXPECT_HR(S_OK, Dial());
    EXPECT_TRUE(Connected());
    EXPECT_EQ(2u, m_service->Recorder().CountOf(op::RegisterCallNotifications));
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::Advise));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_P(DialerCallTest, AFailedAdviseLeavesNoSinkToRead) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    const HRESULT refused = static_cast<HRESULT>(0x80040200);
    m_service->Recorder().FailOperation(op::Advise, refused);
    EXPECT_HR(refused, Dial());
    EXPECT_FALSE(TakeThreadError().present);
    EXPECT_EQ(0u, m_service->Notifications().AdvisedSinks());
    EXPECT_FALSE(Connected());
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::RegisterCallNotifications));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());

    ComPtr<ITAPIDialer> second;
    ASSERT_HR(S_OK, CreateDialer(second));
    m_service->Recorder().FailOperation(op::QueryConnectionPointContainer, E_NOINTERFACE);
    ASSERT_HR(S_OK, second->InitializeTAPI());
    EXPECT_HR(E_NOINTERFACE, dialer_test::Dial(second.Get()));
    EXPECT_EQ(0u, m_service->World().CallsCreated());
}

TEST_P(DialerCallTest, TranslationFailures) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    const HRESULT refused = static_cast<HRESULT>(0x80040027);

    m_service->Recorder().FailOperation(op::TranslateAddress, refused);
    SetThreadError(L"marker");
    EXPECT_HR(refused, Dial(L""));
    EXPECT_EQ(L"marker", TakeThreadError().description);

    m_service->Recorder().ClearFaults();
    m_service->Recorder().NullOut(op::TranslateAddress);
    EXPECT_HR(E_FAIL, Dial());
    ExpectError(L"Couldn't translate phone number.");

    m_service->Recorder().ClearFaults();
    m_service->Recorder().FailOperation(op::GetDialableString, refused);
    SetThreadError(L"marker");
    EXPECT_HR(refused, Dial());
    EXPECT_EQ(L"marker", TakeThreadError().description);

    m_service->Recorder().ClearFaults();
    m_service->Recorder().FailOperation(op::QueryTranslation, E_NOINTERFACE);
    EXPECT_HR(E_FAIL, Dial());
    ExpectError(L"Couldn't translate phone number.");
    EXPECT_EQ(0u, m_service->World().CallsCreated());
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_P(DialerCallTest, CallCreationAndStartFailuresAreDescribedByCode) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    struct Case {
        HRESULT hr;
        const wchar_t* description;
    };
    const Case cases[] = {
        {static_cast<HRESULT>(0x80040052), L"Couldn't locate valid modem or TSP driver."},
        {static_cast<HRESULT>(0x8004003D), L"Couldn't locate valid modem or TSP driver."},
        {E_FAIL, L"Unknown error."},
        {static_cast<HRESULT>(0x80040053), L"Unknown error."},
    };
    for (const Case& c : cases) {
        m_service->Recorder().ClearFaults();
        m_service->Recorder().FailOperation(op::CreateCall, c.hr);
        EXPECT_HR(c.hr, Dial());
        ExpectError(c.description);
    }
    EXPECT_EQ(0u, m_service->World().CallsCreated());

    for (const Case& c : cases) {
        m_service->Recorder().ClearFaults();
        m_service->Recorder().FailOperation(op::CallConnect, c.hr);
        EXPECT_HR(c.hr, Dial());
        ExpectError(c.description);
    }
    // The last call was made but never started: it stays, and is not dropped.
    EXPECT_HR(S_OK, m_dialer->Disconnect());
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_EQ(3, m_service->Ledger().RefCount(Call(m_service->World().CallsCreated() - 1).Get()));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_P(DialerCallTest, AFailedRedialLeavesNothingToHangUp) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    ASSERT_HR(S_OK, Dial());
    m_service->Recorder().FailOperation(op::CallConnect, E_UNEXPECTED);
    EXPECT_HR(E_UNEXPECTED, Dial());
    m_service->Recorder().ClearFaults();
    // The first call was hung up by the redial; the second was never started.
    EXPECT_HR(S_OK, m_dialer->Disconnect());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_EQ(1, m_service->Ledger().RefCount(Call(0).Get()));
    EXPECT_EQ(3, m_service->Ledger().RefCount(Call(1).Get()));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_P(DialerCallTest, TerminalsAreSelectedPerStreamWhereTheyCanBe) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    telsim::CallScript script;
    telsim::StreamSpec noMediaType;
    noMediaType.mediaTypeResult = E_UNEXPECTED;
    telsim::StreamSpec noDirection;
    noDirection.directionResult = E_UNEXPECTED;
    // Default terminals exist per media type and direction.
    telsim::StreamSpec noTerminal{TAPIMEDIATYPE_AUDIO, TD_RENDER};
    noTerminal.hasDefaultTerminal = false;
    telsim::StreamSpec refusing;
    refusing.selectResult = E_UNEXPECTED;
    telsim::StreamSpec good{TAPIMEDIATYPE_DATAMODEM, TD_RENDER};
    script.streams = {noMediaType, noDirection, noTerminal, refusing, good};
    m_service->World().SetCallScript(script);
    EXPECT_HR(S_OK, Dial());
    EXPECT_EQ(3u, m_service->Recorder().CountOf(op::GetDefaultStaticTerminal));
    EXPECT_EQ(2u, m_service->Recorder().CountOf(op::SelectTerminal));
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallConnect));

    // Without a single terminal the call is not started.
    script.streams = {noTerminal, refusing};
    m_service->World().SetCallScript(script);
    SetThreadError(L"marker");
    EXPECT_HR(E_FAIL, Dial());
    ExpectError(L"Unknown error.");
    script.streams = {};
    m_service->World().SetCallScript(script);
    EXPECT_HR(E_FAIL, Dial());
    ExpectError(L"Unknown error.");
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallConnect));

    // A call without a stream control needs no terminals.
    script.hasStreamControl = false;
    m_service->World().SetCallScript(script);
    EXPECT_HR(S_OK, Dial());
    EXPECT_EQ(2u, m_service->Recorder().CountOf(op::CallConnect));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_P(DialerCallTest, StreamControlFailuresOtherThanNoInterfaceFail) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    m_service->Recorder().FailOperation(op::EnumerateStreams, E_NOINTERFACE);
    EXPECT_HR(S_OK, Dial());
    m_service->Recorder().ClearFaults();
    m_service->Recorder().FailOperation(op::EnumerateStreams, E_OUTOFMEMORY);
    EXPECT_HR(E_FAIL, Dial());
    ExpectError(L"Unknown error.");
    m_service->Recorder().ClearFaults();
    m_service->Recorder().FailOperation(op::QueryStreamControl, E_UNEXPECTED);
    EXPECT_HR(E_FAIL, Dial());
    m_service->Recorder().ClearFaults();
    m_service->Recorder().FailOperation(op::QueryTerminalSupport, E_NOINTERFACE);
    EXPECT_HR(E_FAIL, Dial());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallConnect));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_P(DialerCallTest, LateEventsAreHarmlessAndTheSinkGoesWithItsHolders) {
    m_service->Notifications().KeepSinksAfterRootRelease(true);
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    ASSERT_HR(S_OK, Dial());
    ASSERT_HR(S_OK, m_dialer->ShutdownTAPI());
    // The call let go at shutdown is followed no more.
    const telsim::EventSpec late = Event(CS_DISCONNECTED, TE_CALLSTATE, true);
    const std::size_t before = m_service->Recorder().CountOf(op::SinkEvent);
    Raise(late);
    EXPECT_EQ(before + 1, m_service->Recorder().CountOf(op::SinkEvent));
    EXPECT_TRUE(Connected());
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::CallDisconnect));

    m_dialer.Reset();
    const std::size_t delivered = m_service->Recorder().CountOf(op::SinkEvent);
    RaiseForStranger(CS_DISCONNECTED);
    EXPECT_EQ(delivered + 1, m_service->Recorder().CountOf(op::SinkEvent));
    auto sinks = m_service->Notifications().Sinks();
    ASSERT_EQ(1u, sinks.size());
    m_service->Notifications().ReleaseSinks();
    EXPECT_EQ(0u, sinks[0].Detach()->Release());
}

}  // namespace
