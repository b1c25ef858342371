// The connection point, event delivery and the notification thread.
#include "fake_sink.h"

#include <chrono>

#include "support/bstr.h"

using Microsoft::WRL::ComPtr;
using telsim_test::Advised;
using telsim_test::FakeSink;
using telsim_test::FirstAddress;
using telsim_test::MakeAdvised;
using test_support::RefCount;

namespace {

class Events : public telsim_test::CleanServiceTest {
protected:
    ComPtr<FakeSink> sink = FakeSink::Make();

    // Calls go through these steps once they connect.
    void OnConnect(std::vector<telsim::CallStep> steps) {
        telsim::CallScript script;
        script.onConnect = std::move(steps);
        svc->World().SetCallScript(script);
    }

    ComPtr<ITBasicCallControl> NewCall(ITTAPI* tapi) {
        ComPtr<ITBasicCallControl> call;
        EXPECT_HR(S_OK, FirstAddress(tapi)->CreateCall(test_support::Bstr(L"5550100").Get(), 1, 24,
                                                       &call));
        return call;
    }
};

TEST_F(Events, AdviseHoldsTheSinkUntilUnadvise) {
    Advised root = MakeAdvised(*svc, sink.Get());
    EXPECT_NE(0u, root.cookie);
    EXPECT_EQ(2u, RefCount(sink.Get()));
    EXPECT_EQ(1u, svc->Notifications().AdvisedSinks());
    EXPECT_HR(CONNECT_E_NOCONNECTION, root.point->Unadvise(root.cookie + 1));
    EXPECT_HR(S_OK, root.point->Unadvise(root.cookie));
    EXPECT_EQ(1u, RefCount(sink.Get()));
    EXPECT_HR(CONNECT_E_NOCONNECTION, root.point->Unadvise(root.cookie));
}

TEST_F(Events, ShutdownKeepsTheSinkAndRootReleaseDropsIt) {
    Advised root = MakeAdvised(*svc, sink.Get());
    ASSERT_HR(S_OK, root.tapi->Shutdown());
    EXPECT_EQ(2u, RefCount(sink.Get()));
    root.point.Reset();
    root.tapi.Reset();
    EXPECT_EQ(1u, RefCount(sink.Get()));
    EXPECT_EQ(0u, svc->Notifications().AdvisedSinks());
}

TEST_F(Events, KeptSinkReceivesALateEvent) {
    svc->Notifications().KeepSinksAfterRootRelease(true);
    // Lenient (sync): each event is seen before the call that raised it returns.
    svc->World().SetDelivery(telsim::Delivery::Synchronous);
    Advised root = MakeAdvised(*svc, sink.Get());
    root = Advised();
    EXPECT_EQ(2u, RefCount(sink.Get()));
    telsim::EventSpec late;
    late.callState = CS_DISCONNECTED;
    EXPECT_HR(S_OK, svc->Notifications().RaiseEvent(late));
    ASSERT_EQ(1u, sink->Events().size());
    EXPECT_EQ(CS_DISCONNECTED, sink->Events()[0].state);
    svc->Notifications().ReleaseSinks();
    EXPECT_EQ(1u, RefCount(sink.Get()));
}

TEST_F(Events, AdviseRefusesAnObjectThatIsNoSink) {
    Advised root = MakeAdvised(*svc, sink.Get());
    ComPtr<IConnectionPointContainer> container;
    ASSERT_HR(S_OK, root.tapi.As(&container));
    DWORD cookie = 1;
    EXPECT_HR(CONNECT_E_CANNOTCONNECT, root.point->Advise(container.Get(), &cookie));
    EXPECT_EQ(0u, cookie);
    ComPtr<IConnectionPoint> other;
    EXPECT_HR(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, &other));
    IID iid{};
    EXPECT_HR(S_OK, root.point->GetConnectionInterface(&iid));
    EXPECT_TRUE(IsEqualIID(IID_ITTAPIEventNotification, iid));
}

TEST_F(Events, FilterDecidesWhatReachesTheSink) {
    // Lenient (sync): each event is seen before the call that raised it returns.
    svc->World().SetDelivery(telsim::Delivery::Synchronous);
    Advised root = MakeAdvised(*svc, sink.Get(), std::nullopt);
    telsim::EventSpec event;
    EXPECT_HR(S_OK, svc->Notifications().RaiseEvent(event));
    ASSERT_HR(S_OK, root.tapi->put_EventFilter(0));
    EXPECT_HR(S_OK, svc->Notifications().RaiseEvent(event));
    EXPECT_TRUE(sink->Events().empty());
    ASSERT_HR(S_OK, root.tapi->put_EventFilter(TE_CALLSTATE));
    EXPECT_EQ(TE_CALLSTATE, svc->Notifications().EventFilter());
    EXPECT_HR(S_OK, svc->Notifications().RaiseEvent(event));
    event.kind = TE_ADDRESS;
    EXPECT_HR(S_OK, svc->Notifications().RaiseEvent(event));
    event.ignoreFilter = true;
    EXPECT_HR(S_OK, svc->Notifications().RaiseEvent(event));
    ASSERT_EQ(2u, sink->Events().size());
    EXPECT_EQ(TE_CALLSTATE, sink->Events()[0].kind);
    EXPECT_EQ(TE_ADDRESS, sink->Events()[1].kind);
}

TEST_F(Events, EventReportsTheCallsStateNotItsOwn) {
    // Lenient (sync): each event is seen before the call that raised it returns.
    svc->World().SetDelivery(telsim::Delivery::Synchronous);
    Advised root = MakeAdvised(*svc, sink.Get());
    ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
    telsim::EventSpec event;
    event.call = call.Get();
    event.callState = CS_HOLD;
    event.eventState = CS_CONNECTED;
    EXPECT_HR(S_OK, svc->Notifications().RaiseEvent(event));
    ASSERT_EQ(1u, sink->Events().size());
    EXPECT_EQ(CS_HOLD, sink->Events()[0].state);
    EXPECT_EQ(CS_HOLD, svc->World().CallStateOf(call.Get()));
}

TEST_F(Events, EventWithoutACallOrAState) {
    // Lenient (sync): each event is seen before the call that raised it returns.
    svc->World().SetDelivery(telsim::Delivery::Synchronous);
    Advised root = MakeAdvised(*svc, sink.Get());
    telsim::EventSpec failing;
    failing.getCallResult = E_FAIL;
    telsim::EventSpec empty;
    empty.nullCall = true;
    telsim::EventSpec unreadable;
    unreadable.callStateResult = E_UNEXPECTED;
    telsim::EventSpec bare;
    bare.withoutEventInterface = true;
    for (const auto& wanted : {failing, empty, unreadable, bare})
        EXPECT_HR(S_OK, svc->Notifications().RaiseEvent(wanted));
    const auto events = sink->Events();
    ASSERT_EQ(4u, events.size());
    EXPECT_HR(E_FAIL, events[0].callResult);
    EXPECT_HR(S_OK, events[1].callResult);
    EXPECT_EQ(-1, events[1].state);
    EXPECT_HR(S_OK, events[2].callResult);
    EXPECT_EQ(-1, events[2].state);
    EXPECT_HR(E_NOINTERFACE, events[3].callResult);
}

TEST_F(Events, CallNotificationEventCarriesTheCall) {
    // Lenient (sync): each event is seen before the call that raised it returns.
    svc->World().SetDelivery(telsim::Delivery::Synchronous);
    Advised root = MakeAdvised(*svc, sink.Get(), TE_CALLNOTIFICATION);
    HRESULT got = E_FAIL;
    CALL_STATE state = CS_IDLE;
    struct Capture final : ITTAPIEventNotification {
        HRESULT* got;
        CALL_STATE* state;
        STDMETHODIMP QueryInterface(REFIID, void** ppv) noexcept override {
            *ppv = this;
            return S_OK;
        }
        STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
        STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
        STDMETHODIMP Event(TAPI_EVENT, IDispatch* event) noexcept override {
            ComPtr<ITCallNotificationEvent> notification;
            ComPtr<ITCallInfo> call;
            if (SUCCEEDED(event->QueryInterface(IID_ITCallNotificationEvent, &notification))) {
                *got = notification->get_Call(&call);
                if (call)
                    call->get_CallState(state);
            }
            return S_OK;
        }
    };
    sink->onEvent = [&](TAPI_EVENT kind, ITCallInfo*) { EXPECT_EQ(TE_CALLNOTIFICATION, kind); };
    telsim::EventSpec event;
    event.kind = TE_CALLNOTIFICATION;
    event.callState = CS_OFFERING;
    EXPECT_HR(S_OK, svc->Notifications().RaiseEvent(event));
    ASSERT_EQ(1u, sink->Events().size());
    // The fake sink reads call-state events only; read this one by hand.
    Capture capture;
    capture.got = &got;
    capture.state = &state;
    DWORD cookie = 0;
    ASSERT_HR(S_OK, root.point->Advise(&capture, &cookie));
    EXPECT_HR(S_OK, svc->Notifications().RaiseEvent(event));
    EXPECT_HR(S_OK, got);
    EXPECT_EQ(CS_OFFERING, state);
    EXPECT_HR(S_OK, root.point->Unadvise(cookie));
}

TEST_F(Events, ScriptRunsOnTheNotificationThread) {
    OnConnect({{CS_INPROGRESS, 0}, {CS_CONNECTED, 50}});
    Advised root = MakeAdvised(*svc, sink.Get());
    ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
    svc->Notifications().WaitIdle();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    const auto events = sink->Events();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(CS_INPROGRESS, events[0].state);
    EXPECT_EQ(CS_CONNECTED, events[1].state);
    EXPECT_NE(GetCurrentThreadId(), events[0].thread);
    EXPECT_EQ(events[0].thread, events[1].thread);
    EXPECT_HR(TAPI_E_INVALCALLSTATE, call->Connect(VARIANT_FALSE));
}

TEST_F(Events, SynchronousDeliveryHappensInsideConnect) {
    // Lenient (sync): each event is seen before the call that raised it returns.
    svc->World().SetDelivery(telsim::Delivery::Synchronous);
    Advised root = MakeAdvised(*svc, sink.Get());
    ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
    ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
    const auto events = sink->Events();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(GetCurrentThreadId(), events[1].thread);
    EXPECT_EQ(CS_CONNECTED, svc->World().CallStateOf(call.Get()));
}

TEST_F(Events, DisconnectDropsStepsNotYetDelivered) {
    OnConnect({{CS_INPROGRESS, 0}, {CS_CONNECTED, 2000}});
    Advised root = MakeAdvised(*svc, sink.Get());
    ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
    ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
    ASSERT_HR(S_OK, call->Disconnect(DC_NORMAL));
    EXPECT_HR(S_FALSE, call->Disconnect(DC_NORMAL));
    const auto start = std::chrono::steady_clock::now();
    svc->Notifications().WaitIdle();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    const auto states = sink->States();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(CS_DISCONNECTED, states.back());
    EXPECT_EQ(states.end(), std::find(states.begin(), states.end(), CS_CONNECTED));
}

TEST_F(Events, FarEndEndsTheCallWithItsCauseAfterConnect) {
    for (const auto cause : {CEC_DISCONNECT_BUSY, CEC_DISCONNECT_NOANSWER}) {
        OnConnect({{CS_INPROGRESS, 0}, {CS_DISCONNECTED, 200, cause}});
        ComPtr<FakeSink> seen = FakeSink::Make();
        Advised root = MakeAdvised(*svc, seen.Get());
        ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
        ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
        const auto early = seen->States();
        EXPECT_EQ(early.end(), std::find(early.begin(), early.end(), CS_DISCONNECTED));
        svc->Notifications().WaitIdle();
        const auto events = seen->Events();
        ASSERT_EQ(2u, events.size());
        EXPECT_EQ(CS_INPROGRESS, events[0].eventState);
        EXPECT_EQ(CS_DISCONNECTED, events[1].eventState);
        EXPECT_EQ(cause, events[1].cause);
        EXPECT_NE(GetCurrentThreadId(), events[1].thread);
        EXPECT_HR(S_FALSE, call->Disconnect(DC_NORMAL));
    }
}

TEST_F(Events, CallNeverStartedHasNothingToDisconnect) {
    Advised root = MakeAdvised(*svc, sink.Get());
    ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
    EXPECT_HR(S_FALSE, call->Disconnect(DC_NORMAL));
}

// A sink that works from inside Event on the notification thread finds no
// lock of the service's own held there.
TEST_F(Events, SinkReentersTheServiceFromTheNotificationThread) {
    // Lenient (any): the service's own locks are under test, not the misuse.
    svc->World().SetEventThread(telsim::EventThread::Any);
    OnConnect({{CS_INPROGRESS, 0}, {CS_DISCONNECTED, 10, CEC_DISCONNECT_BUSY}});
    Advised root = MakeAdvised(*svc, sink.Get());
    ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
    HRESULT reentered = S_OK;
    long enumerated = 0;
    sink->onEvent = [&](TAPI_EVENT, ITCallInfo*) {
        ComPtr<IEnumAddress> addresses;
        if (SUCCEEDED(root.tapi->EnumerateAddresses(&addresses)))
            ++enumerated;
        if (svc->World().CallStateOf(call.Get()) == CS_DISCONNECTED)
            reentered = call->Disconnect(DC_NORMAL);
        svc->Notifications().WaitIdle();  // returns at once on the notification thread
    };
    ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
    svc->Notifications().WaitIdle();
    EXPECT_EQ(2, enumerated);
    EXPECT_HR(S_FALSE, reentered);
    sink->onEvent = nullptr;
}

TEST_F(Events, SynchronousDisconnectReentersWithoutDeadlock) {
    // Lenient (sync): each event is seen before the call that raised it returns.
    svc->World().SetDelivery(telsim::Delivery::Synchronous);
    Advised root = MakeAdvised(*svc, sink.Get());
    ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
    ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
    HRESULT nested = S_OK;
    sink->onEvent = [&](TAPI_EVENT, ITCallInfo*) {
        if (svc->World().CallStateOf(call.Get()) == CS_DISCONNECTED)
            nested = call->Disconnect(DC_NORMAL);
    };
    EXPECT_HR(S_OK, call->Disconnect(DC_NORMAL));
    EXPECT_HR(S_FALSE, nested);
    sink->onEvent = nullptr;
}

TEST_F(Events, RaisedEventCanBeQueuedWithADelay) {
    Advised root = MakeAdvised(*svc, sink.Get());
    telsim::EventSpec event;
    event.delivery = telsim::Delivery::NotificationThread;  // lenient: the mode under test
    event.delayMs = 20;
    EXPECT_HR(S_OK, svc->Notifications().RaiseEvent(event));
    svc->Notifications().WaitIdle();
    ASSERT_EQ(1u, sink->Events().size());
    EXPECT_NE(GetCurrentThreadId(), sink->Events()[0].thread);
}

// Only the sink's own time counts, and only while timing is on, with the
// moment of each hang-up: a bench reads from them how long a sink kept the
// notification thread and how soon a call was dropped.
TEST_F(Events, SinkCallsAreTimedWhileAsked) {
    Advised root = MakeAdvised(*svc, sink.Get());
    sink->onEvent = [](TAPI_EVENT, ITCallInfo*) { Sleep(30); };
    telsim::EventSpec event;
    event.delivery = telsim::Delivery::NotificationThread;  // lenient: the thread timed
    EXPECT_HR(S_OK, svc->Notifications().RaiseEvent(event));
    svc->Notifications().WaitIdle();
    ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
    EXPECT_HR(S_FALSE, call->Disconnect(DC_NORMAL));
    svc->Notifications().TimeSinkCalls(true);
    event.delayMs = 500;
    EXPECT_HR(S_OK, svc->Notifications().RaiseEvent(event));
    svc->Notifications().WaitIdle();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_HR(S_FALSE, call->Disconnect(DC_NORMAL));
    svc->Notifications().TimeSinkCalls(false);
    EXPECT_HR(S_FALSE, call->Disconnect(DC_NORMAL));
    const auto hangUps = svc->Notifications().TakeHangUpMoments();
    ASSERT_EQ(1u, hangUps.size());
    EXPECT_GE(hangUps[0], before);
    const auto times = svc->Notifications().TakeSinkCallTimes();
    ASSERT_EQ(1u, times.size());
    EXPECT_GE(times[0], std::chrono::milliseconds(25));
    EXPECT_LT(times[0], std::chrono::milliseconds(500));
    EXPECT_TRUE(svc->Notifications().TakeSinkCallTimes().empty());
}

TEST_F(Events, EventsAreRecordedInOrderWithOperations) {
    // Lenient (sync): each event is seen before the call that raised it returns.
    svc->World().SetDelivery(telsim::Delivery::Synchronous);
    Advised root = MakeAdvised(*svc, sink.Get());
    ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
    svc->Recorder().ClearOperations();
    ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
    std::vector<std::wstring> names;
    for (const auto& op : svc->Recorder().Operations())
        names.push_back(op.name);
    const std::vector<std::wstring> expected{
        telsim::op::CallConnect,  telsim::op::SinkEvent, telsim::op::CallStateEventGetCall,
        telsim::op::GetCallState, telsim::op::SinkEvent, telsim::op::CallStateEventGetCall,
        telsim::op::GetCallState};
    EXPECT_EQ(expected, names);
}

TEST_F(Events, StreamsAndTerminals) {
    telsim::CallScript script;
    script.streams = {{TAPIMEDIATYPE_AUDIO, TD_CAPTURE}, {TAPIMEDIATYPE_AUDIO, TD_RENDER, false}};
    svc->World().SetCallScript(script);
    Advised root = MakeAdvised(*svc, sink.Get());
    ComPtr<ITAddress> address = FirstAddress(root.tapi.Get());
    ComPtr<ITTerminalSupport> terminals;
    ASSERT_HR(S_OK, address.As(&terminals));
    ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
    ComPtr<ITStreamControl> control;
    ASSERT_HR(S_OK, call.As(&control));
    ComPtr<IEnumStream> streams;
    ASSERT_HR(S_OK, control->EnumerateStreams(&streams));
    ComPtr<ITStream> stream;
    std::vector<HRESULT> terminalResults;
    std::vector<HRESULT> selectResults;
    while (streams->Next(1, stream.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        long media = 0;
        TERMINAL_DIRECTION direction = TD_CAPTURE;
        ASSERT_HR(S_OK, stream->get_MediaType(&media));
        ASSERT_HR(S_OK, stream->get_Direction(&direction));
        ComPtr<ITTerminal> terminal;
        terminalResults.push_back(terminals->GetDefaultStaticTerminal(media, direction, &terminal));
        if (terminal)
            selectResults.push_back(stream->SelectTerminal(terminal.Get()));
    }
    EXPECT_EQ((std::vector<HRESULT>{S_OK, TAPI_E_NOITEMS}), terminalResults);
    EXPECT_EQ((std::vector<HRESULT>{S_OK}), selectResults);

    script.hasStreamControl = false;
    svc->World().SetCallScript(script);
    ComPtr<ITBasicCallControl> bare = NewCall(root.tapi.Get());
    EXPECT_HR(E_NOINTERFACE, bare.As(&control));
}

}  // namespace

namespace {

// Host and notification thread at once, with the sink dropping calls from
// inside Event: no deadlock, nothing left referenced.
TEST_F(Events, ManyCallsWhileTheSinkReenters) {
    // Lenient (any): the sink's hang-ups race the host's; the misuse is not under test.
    svc->World().SetEventThread(telsim::EventThread::Any);
    OnConnect({{CS_INPROGRESS, 0}, {CS_CONNECTED, 1}, {CS_DISCONNECTED, 1}});
    Advised root = MakeAdvised(*svc, sink.Get());
    ComPtr<ITAddress> address = FirstAddress(root.tapi.Get());
    sink->onEvent = [&](TAPI_EVENT, ITCallInfo* call) {
        ComPtr<ITBasicCallControl> control;
        if (call && svc->World().CallStateOf(call) == CS_DISCONNECTED &&
            SUCCEEDED(call->QueryInterface(IID_ITBasicCallControl, &control))) {
            control->Disconnect(DC_NORMAL);
        }
    };
    for (int i = 0; i < 200; ++i) {
        ComPtr<ITBasicCallControl> call;
        ASSERT_HR(S_OK, address->CreateCall(nullptr, 1, 24, &call));
        ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
        if (i % 2)
            call->Disconnect(DC_NORMAL);
    }
    svc->Notifications().WaitIdle();
    sink->onEvent = nullptr;
    EXPECT_EQ(200u, svc->World().CallsCreated());
    EXPECT_GE(sink->Events().size(), 400u);
}

TEST_F(Events, TenThousandAddressesEnumerateQuickly) {
    std::vector<telsim::AddressSpec> lines(10000);
    for (std::size_t i = 0; i < lines.size(); ++i)
        lines[i].name = L"Line " + std::to_wstring(i);
    svc->World().SetAddresses(lines);
    Advised root = MakeAdvised(*svc, sink.Get());
    const auto start = std::chrono::steady_clock::now();
    for (int pass = 0; pass < 3; ++pass) {
        ComPtr<IEnumAddress> addresses;
        ASSERT_HR(S_OK, root.tapi->EnumerateAddresses(&addresses));
        ComPtr<ITAddress> address;
        std::size_t seen = 0;
        while (addresses->Next(1, address.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
            test_support::Bstr name;
            ASSERT_HR(S_OK, address->get_AddressName(name.Receive()));
            ++seen;
        }
        EXPECT_EQ(10000u, seen);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(60000u + 3u, svc->Recorder().CountOf(telsim::op::AddressNext) +
                               svc->Recorder().CountOf(telsim::op::GetAddressName));
}

}  // namespace
