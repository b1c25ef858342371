// Where TelSim answers as Windows' telephony service does rather than kindly:
// delivery into the sink's apartment, calls and addresses bound to theirs,
// the codes of the root object and of a call, the synchronous hang-up that
// waits for its events, and each line's media.
#include "fake_sink.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "support/bstr.h"

using Microsoft::WRL::ComPtr;
using telsim_test::Advised;
using telsim_test::FakeSink;
using telsim_test::FirstAddress;
using telsim_test::MakeAdvised;
using telsim_test::NewCall;

namespace {

using Clock = std::chrono::steady_clock;

// The test's thread is a single-threaded apartment, as a dialog or script host's is.
class InApartment : public ::testing::Test {
protected:
    test_support::Apartment com{test_support::Apartment::Single};
    std::shared_ptr<telsim::Service> svc = telsim::Service::Create();
    ComPtr<FakeSink> sink = FakeSink::Make();
    std::size_t inApartments = 0;

    void TearDown() override {
        svc->Notifications().WaitIdle();
        svc->Notifications().ReleaseSinks();
        EXPECT_EQ("", svc->Ledger().Leaks());
    }

    // The thread the first event of a connected call came on; how many sinks
    // were reached through the global interface table meanwhile.
    DWORD ThreadOfFirstEvent() {
        Advised root = MakeAdvised(*svc, sink.Get());
        inApartments = svc->Notifications().SinksInApartments();
        ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
        EXPECT_HR(S_OK, call->Connect(VARIANT_FALSE));
        svc->Notifications().WaitIdle();
        const auto events = sink->Events();
        return events.empty() ? 0 : events[0].thread;
    }
};

TEST_F(InApartment, SinkIsCalledOnItsOwnThreadOnlyWhileItServesCalls) {
    Advised root = MakeAdvised(*svc, sink.Get());
    EXPECT_EQ(1u, svc->Notifications().SinksInApartments());
    ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
    ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
    Sleep(200);  // a host that waits without pumping
    EXPECT_TRUE(sink->Events().empty());
    svc->Notifications().WaitIdle();  // pumps
    const auto events = sink->Events();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(GetCurrentThreadId(), events[0].thread);
    EXPECT_EQ(CS_CONNECTED, events[1].state);
}

TEST_F(InApartment, AgileSinkIsCalledOnTheNotificationThread) {
    sink->MakeAgile();
    ITCallInfo* handed = nullptr;
    sink->onEvent = [&](TAPI_EVENT, ITCallInfo* call) { handed = call; };
    const DWORD thread = ThreadOfFirstEvent();
    EXPECT_EQ(0u, inApartments);
    EXPECT_NE(0u, thread);
    EXPECT_NE(GetCurrentThreadId(), thread);
    // The event is its own to read there; the call it names is this
    // apartment's, the very object, and refuses the notification thread.
    const auto events = sink->Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(CS_INPROGRESS, events[0].eventState);
    EXPECT_EQ(-1, events[0].state);
    EXPECT_LE(events.size(), svc->Ledger().WrongApartmentCalls());
    ComPtr<ITCallInfo> made;
    ASSERT_HR(S_OK, svc->World().Calls()[0].As(&made));
    EXPECT_EQ(made.Get(), handed);
}

TEST_F(InApartment, CallAndAddressAnswerOnlyTheirOwnApartment) {
    Advised root = MakeAdvised(*svc, sink.Get());
    ComPtr<ITAddress> address = FirstAddress(root.tapi.Get());
    ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
    ComPtr<IMarshal> marshal;
    EXPECT_HR(E_NOINTERFACE, call.As(&marshal));
    EXPECT_HR(E_NOINTERFACE, address.As(&marshal));
    std::thread([&] {
        test_support::Apartment other;
        ComPtr<IUnknown> identity;
        EXPECT_HR(S_OK, call.As(&identity));
        ComPtr<ITCallInfo> info;
        EXPECT_HR(RPC_E_WRONG_THREAD, call.As(&info));
        EXPECT_EQ(nullptr, info.Get());
        EXPECT_HR(RPC_E_WRONG_THREAD, call->Connect(VARIANT_FALSE));
        ComPtr<ITBasicCallControl> second;
        EXPECT_HR(RPC_E_WRONG_THREAD,
                  address->CreateCall(test_support::Bstr(L"1").Get(), 1, 24, &second));
    }).join();
    EXPECT_EQ(3u, svc->Ledger().WrongApartmentCalls());
    EXPECT_EQ(1u, svc->World().CallsCreated());
    EXPECT_HR(S_OK, call->Connect(VARIANT_FALSE));
}

TEST_F(InApartment, ThreadModeCallsEvenAnApartmentSinkDirectly) {
    // The lenient mode under test: it ignores the sink's apartment.
    svc->World().SetDelivery(telsim::Delivery::NotificationThread);
    const DWORD thread = ThreadOfFirstEvent();
    EXPECT_NE(0u, thread);
    EXPECT_NE(GetCurrentThreadId(), thread);
}

TEST_F(InApartment, DisconnectWaitsForTheHangUpServingTheApartment) {
    telsim::CallScript script;
    script.onConnect = {{CS_INPROGRESS, 0}};
    script.hangupMs = 300;
    svc->World().SetCallScript(script);
    Advised root = MakeAdvised(*svc, sink.Get());
    ComPtr<ITBasicCallControl> call = NewCall(root.tapi.Get());
    ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
    Sleep(100);  // the in-progress event now waits for this apartment
    ASSERT_TRUE(sink->Events().empty());
    const auto start = Clock::now();
    EXPECT_HR(S_OK, call->Disconnect(DC_NORMAL));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(290));
    EXPECT_EQ(CS_DISCONNECTED, svc->World().CallStateOf(call.Get()));
    const auto events = sink->Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(CS_INPROGRESS, events[0].state);
    EXPECT_EQ(GetCurrentThreadId(), events[0].thread);
}

// The rest runs in the multithreaded apartment.
class Faithful : public telsim_test::CleanServiceTest {};

// A hang-up whose call is up and whose sink is reached through the
// notification thread, bounded by a short hang-up time-out.
class HangUp : public telsim_test::ServiceTest {
protected:
    ComPtr<FakeSink> sink = FakeSink::Make();
    Advised root;
    ComPtr<ITBasicCallControl> call;

    void SetUp() override {
        telsim::CallScript script;
        script.onConnect = {{CS_INPROGRESS, 0}};
        script.hangupLimitMs = 400;
        svc->World().SetCallScript(script);
        root = MakeAdvised(*svc, sink.Get());
        call = NewCall(root.tapi.Get());
    }
    void TearDown() override {
        svc->Notifications().WaitIdle();
        sink->onEvent = nullptr;
        call.Reset();
        root = Advised();
        EXPECT_EQ(0u, svc->Ledger().LiveObjects());
    }
};

TEST_F(HangUp, ReturnsOnceEverySinkHasItsEventAndTimesOutWhenASinkWaitsForIt) {
    ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
    svc->Notifications().WaitIdle();
    sink->onEvent = [](TAPI_EVENT, ITCallInfo*) { Sleep(100); };
    EXPECT_HR(S_OK, call->Disconnect(DC_NORMAL));
    ASSERT_EQ(2u, sink->Events().size());
    EXPECT_EQ(CS_DISCONNECTED, sink->Events()[1].eventState);

    // Its Event waits for the host's hang-up, which waits for its Event.
    ComPtr<ITBasicCallControl> waited = NewCall(root.tapi.Get());
    std::atomic<bool> entered{false};
    std::atomic<bool> hungUp{false};
    sink->onEvent = [&](TAPI_EVENT, ITCallInfo*) {
        entered = true;
        for (int i = 0; i < 300 && !hungUp; ++i)
            Sleep(10);
    };
    ASSERT_HR(S_OK, waited->Connect(VARIANT_FALSE));
    while (!entered)
        Sleep(1);
    const auto start = Clock::now();
    EXPECT_HR(TAPI_E_TIMEOUT, waited->Disconnect(DC_NORMAL));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
    hungUp = true;
    EXPECT_HR(S_FALSE, waited->Disconnect(DC_NORMAL));
    svc->Notifications().WaitIdle();
    EXPECT_EQ(CS_DISCONNECTED, svc->World().CallStateOf(waited.Get()));
    EXPECT_TRUE(svc->Ledger().Misuses().empty());
}

TEST_F(HangUp, FromInsideEventIsAMisuseThatTimesOut) {
    // Lenient (any): the hang-up's own wait for its delivery is under test.
    svc->World().SetEventThread(telsim::EventThread::Any);
    HRESULT inside = S_OK;
    Clock::duration took{};
    sink->onEvent = [&](TAPI_EVENT, ITCallInfo*) {
        const auto start = Clock::now();
        if (inside == S_OK)
            inside = call->Disconnect(DC_NORMAL);
        took = std::max(took, Clock::now() - start);
    };
    ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
    svc->Notifications().WaitIdle();
    EXPECT_HR(TAPI_E_TIMEOUT, inside);
    EXPECT_GE(took, std::chrono::milliseconds(380));
    ASSERT_EQ(1u, svc->Ledger().Misuses().size());
    EXPECT_NE(std::wstring::npos, svc->Ledger().Misuses()[0].find(L"notification thread"));
}

// Inside Event on the notification thread a sink may only read: any other
// request, an ended call's hang-up included, waits out the limit, as the
// service's thread waiting for itself would, and changes nothing.
TEST_F(HangUp, InsideEventOnlyReadsAreAnswered) {
    ComPtr<ITAddress> address = FirstAddress(root.tapi.Get());
    ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
    ASSERT_HR(S_OK, call->Disconnect(DC_NORMAL));
    HRESULT read = E_FAIL, hungUp = S_OK, created = S_OK;
    Clock::duration took{};
    sink->onEvent = [&](TAPI_EVENT, ITCallInfo* info) {
        ComPtr<ITAddress> of;
        read = info->get_Address(&of);
        const auto start = Clock::now();
        hungUp = call->Disconnect(DC_NORMAL);
        took = Clock::now() - start;
        ComPtr<ITBasicCallControl> made;
        created = address->CreateCall(test_support::Bstr(L"1").Get(), 1, 24, &made);
    };
    telsim::EventSpec ended;
    ended.call = call.Get();
    ended.callState = CS_DISCONNECTED;
    ASSERT_HR(S_OK, svc->Notifications().RaiseEvent(ended));
    svc->Notifications().WaitIdle();
    EXPECT_HR(S_OK, read);
    EXPECT_HR(TAPI_E_TIMEOUT, hungUp);
    EXPECT_GE(took, std::chrono::milliseconds(380));
    EXPECT_HR(TAPI_E_TIMEOUT, created);
    EXPECT_EQ(1u, svc->World().CallsCreated());
    const auto misuses = svc->Ledger().Misuses();
    ASSERT_EQ(2u, misuses.size());
    EXPECT_NE(std::wstring::npos, misuses[0].find(L"Disconnect from the notification thread"));
    const auto failed = svc->Ledger().FailedHangUps();
    ASSERT_EQ(1u, failed.size());
    EXPECT_HR(TAPI_E_TIMEOUT, failed[0].result);
    EXPECT_TRUE(failed[0].fromNotificationThread);
}

// The client's last release there of a call or of its root object is work
// too; not of the event's own call, which the event itself still holds.
TEST_F(HangUp, LastReleaseInsideEventIsAMisuseButOfTheEventsCall) {
    ComPtr<ITBasicCallControl> other = NewCall(root.tapi.Get());
    sink->onEvent = [&](TAPI_EVENT, ITCallInfo*) {
        other.Reset();
        call.Reset();
        root = Advised();
    };
    telsim::EventSpec event;
    event.call = call.Get();
    ASSERT_HR(S_OK, svc->Notifications().RaiseEvent(event));
    svc->Notifications().WaitIdle();
    const auto misuses = svc->Ledger().Misuses();
    ASSERT_EQ(2u, misuses.size());
    EXPECT_NE(std::wstring::npos, misuses[0].find(L"last Release"));
    EXPECT_NE(std::wstring::npos, misuses[0].find(L"Call#"));
    EXPECT_NE(std::wstring::npos, misuses[1].find(L"TAPI#"));
}

TEST_F(Faithful, InitializeAndShutdownSayWhenThereIsNothingToDo) {
    ComPtr<ITTAPI> tapi;
    ASSERT_HR(S_OK, svc->CreateRoot(nullptr, IID_ITTAPI, &tapi));
    EXPECT_HR(TAPI_E_NOT_INITIALIZED, tapi->Shutdown());
    EXPECT_HR(S_OK, tapi->Initialize());
    EXPECT_HR(S_FALSE, tapi->Initialize());
    EXPECT_HR(S_OK, tapi->Shutdown());
    EXPECT_HR(S_FALSE, tapi->Shutdown());
}

TEST_F(Faithful, ConnectNeedsAnIdleCall) {
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<ITBasicCallControl> call = NewCall(tapi.Get());
    telsim::EventSpec moved;
    moved.call = call.Get();
    moved.delivery = telsim::Delivery::Synchronous;  // only to move the call at once
    ASSERT_HR(S_OK, svc->Notifications().RaiseEvent(moved));
    EXPECT_HR(TAPI_E_INVALCALLSTATE, call->Connect(VARIANT_FALSE));
}

TEST_F(Faithful, HangUpTakesItsTimeAndMayTimeOut) {
    telsim::CallScript script;
    script.hangupMs = 200;
    svc->World().SetCallScript(script);
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<ITBasicCallControl> slow = NewCall(tapi.Get());
    ASSERT_HR(S_OK, slow->Connect(VARIANT_FALSE));
    auto start = Clock::now();
    EXPECT_HR(S_OK, slow->Disconnect(DC_NORMAL));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(190));
    EXPECT_EQ(CS_DISCONNECTED, svc->World().CallStateOf(slow.Get()));

    script.hangupTimesOut = true;
    svc->World().SetCallScript(script);
    ComPtr<ITBasicCallControl> stuck = NewCall(tapi.Get());
    ASSERT_HR(S_OK, stuck->Connect(VARIANT_FALSE));
    svc->Notifications().WaitIdle();
    EXPECT_HR(TAPI_E_TIMEOUT, stuck->Disconnect(DC_NORMAL));
    EXPECT_EQ(CS_CONNECTED, svc->World().CallStateOf(stuck.Get()));
    ASSERT_EQ(1u, svc->Ledger().FailedHangUps().size());
    EXPECT_FALSE(svc->Ledger().FailedHangUps()[0].fromNotificationThread);
}

TEST_F(Faithful, LineTakesOnlyItsMediaAndAddressTypes) {
    telsim::AddressSpec data{L"Data modem"};
    data.mediaTypes = TAPIMEDIATYPE_DATAMODEM;
    svc->World().SetAddresses({data});
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<ITAddress> address = FirstAddress(tapi.Get());
    ComPtr<ITMediaSupport> media;
    ASSERT_HR(S_OK, address.As(&media));
    long types = 0;
    EXPECT_HR(S_OK, media->get_MediaTypes(&types));
    EXPECT_EQ(TAPIMEDIATYPE_DATAMODEM, types);
    const std::pair<long, VARIANT_BOOL> answers[] = {
        {TAPIMEDIATYPE_DATAMODEM, VARIANT_TRUE},
        {TAPIMEDIATYPE_DATAMODEM | TAPIMEDIATYPE_AUDIO, VARIANT_FALSE},
        {0, VARIANT_FALSE}};
    for (const auto& [asked, expected] : answers) {
        VARIANT_BOOL supported = VARIANT_FALSE;
        EXPECT_HR(S_OK, media->QueryMediaType(asked, &supported));
        EXPECT_EQ(expected, supported) << asked;
    }

    test_support::Bstr number(L"5550100");
    const struct {
        long addressType;
        long media;
        HRESULT expected;
    } calls[] = {
        {LINEADDRESSTYPE_PHONENUMBER, TAPIMEDIATYPE_DATAMODEM, S_OK},
        {LINEADDRESSTYPE_PHONENUMBER, 24, TAPI_E_INVALIDMEDIATYPE},
        {0, TAPIMEDIATYPE_DATAMODEM, E_INVALIDARG},
        {LINEADDRESSTYPE_PHONENUMBER | LINEADDRESSTYPE_SDP, TAPIMEDIATYPE_DATAMODEM, E_INVALIDARG},
        {LINEADDRESSTYPE_IPADDRESS, TAPIMEDIATYPE_DATAMODEM, E_INVALIDARG}};
    for (const auto& made : calls) {
        ComPtr<ITBasicCallControl> call;
        EXPECT_HR(made.expected,
                  address->CreateCall(number.Get(), made.addressType, made.media, &call));
    }
}

}  // namespace
