// Hosts against the service's faithful delivery: events for a sink advised
// from a single-threaded apartment reach it only through that apartment,
// unless the sink is agile, and a hang-up takes as long as the line needs.
#include "dialer_test_support.h"

#include "comkit/module.h"
#include "dialer/road.h"
#include "support/host_window.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using Microsoft::WRL::ComPtr;
using namespace dialer_test;
using test_support::HostWindow;
namespace op = telsim::op;

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// How a host's thread waits between two reads of Connected.
enum class Wait { CoWait, MsgWait, SleepOnly, Multithreaded };

void WaitAbout50Ms(Wait wait) {
    switch (wait) {
    case Wait::CoWait: {
        HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD index = 0;
        EXPECT_HR(RPC_S_CALLPENDING, CoWaitForMultipleHandles(0, 50, 1, &never, &index));
        CloseHandle(never);
        return;
    }
    case Wait::MsgWait: {
        const DWORD woken = MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        EXPECT_NE(WAIT_FAILED, woken);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return;
    }
    case Wait::SleepOnly:
    case Wait::Multithreaded:
        Sleep(50);
        return;
    }
}

class HostFixture : protected DialerFixture {
protected:
    void StartHost(Wait wait, telsim::CallScript script) {
        m_wait = wait;
        Start(wait != Wait::Multithreaded, telsim::Delivery::Apartment);
        m_service->World().SetCallScript(std::move(script));
        telsim::AddressSpec line;
        line.name = L"Voice Modem";
        Use({line});
    }

    bool Connected() {
        VARIANT_BOOL value = 0x1234;
        EXPECT_HR(S_OK, m_dialer->get_Connected(&value));
        return value == VARIANT_TRUE;
    }

    // Polls Connected, waiting as the host does, until it reads `wanted`.
    bool WaitUntilConnectedIs(bool wanted) {
        for (const auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end;) {
            if (Connected() == wanted) {
                return true;
            }
            WaitAbout50Ms(m_wait);
        }
        return false;
    }

    Wait m_wait = Wait::Multithreaded;
};

class DialerHostTest : public ::testing::TestWithParam<Wait>, protected HostFixture {
protected:
    void TearDown() override { Finish(); }
};

std::string WaitName(const ::testing::TestParamInfo<Wait>& info) {
    const char* const names[] = {"StaCoWait", "StaMsgWait", "StaSleepOnly", "Mta"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Waits, DialerHostTest,
                         ::testing::Values(Wait::CoWait, Wait::MsgWait, Wait::SleepOnly,
                                           Wait::Multithreaded),
                         WaitName);

// Whether the host pumps or only sleeps, the sink hears the call's progress
// on the service's own thread.
TEST_P(DialerHostTest, SeesTheCallConnectAndEnd) {
    telsim::CallScript script;
    script.onConnect = {{CS_INPROGRESS, 100}, {CS_CONNECTED, 200}};
    StartHost(GetParam(), script);
    ASSERT_HR(S_OK, Connect());
    EXPECT_TRUE(WaitUntilConnectedIs(true));
    ASSERT_HR(S_OK, m_dialer->Disconnect());
    EXPECT_TRUE(WaitUntilConnectedIs(false));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

// A call the far end ends, in a host that does nothing but poll Connected.
// A call bound to a single-threaded host's apartment is never touched on the
// service's thread: its end is read from the event, and the host's next
// read of Connected hangs it up and lets it go. An agile one, or one made in
// the multithreaded apartment, is dropped at once on a thread of the
// dialer's own. Neither is dropped again by the host's next member.
TEST_P(DialerHostTest, AnEndedCallIsDroppedWhereTheCallMayBeUsed) {
    telsim::CallScript script;
    script.onConnect = {{CS_INPROGRESS, 50}, {CS_DISCONNECTED, 100, CEC_DISCONNECT_BUSY}};
    for (const telsim::Objects objects : {telsim::Objects::Bound, telsim::Objects::Agile}) {
        StartHost(GetParam(), script);
        m_service->World().SetObjects(objects);
        ASSERT_HR(S_OK, Connect());
        ASSERT_TRUE(WaitUntilConnectedIs(true));
        ASSERT_TRUE(WaitUntilConnectedIs(false));
        m_service->Notifications().WaitIdle();
        EXPECT_FALSE(Connected());
        EXPECT_TRUE(
            Eventually([&] { return m_service->Recorder().CountOf(op::CallDisconnect) == 1u; }));
        Bstr list;
        EXPECT_TRUE(SUCCEEDED(m_dialer->GetAddressNameCSVList(list.Receive())));
        EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
        {
            const ComPtr<ITBasicCallControl> call = m_service->World().Calls().at(0);
            EXPECT_EQ(1, m_service->Ledger().RefCount(call.Get()));
        }
        EXPECT_EQ(0u, m_service->Ledger().WrongApartmentCalls());
        EXPECT_EQ(0u, m_service->Ledger().Misuses().size());
        EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
        Finish();
    }
}

// A host that lets the dialer go, with no other member, once the far end has
// ended a call bound to its apartment: the call is dropped as it goes.
TEST(DialerEndTest, AHostThatEndsWithoutAnotherMemberHasItsEndedCallDropped) {
    struct Host : HostFixture {
        void Run() {
            telsim::CallScript script;
            script.onConnect = {{CS_INPROGRESS, 50}, {CS_DISCONNECTED, 100, CEC_DISCONNECT_BUSY}};
            StartHost(Wait::SleepOnly, script);
            ASSERT_HR(S_OK, Connect());
            ASSERT_TRUE(WaitUntilConnectedIs(true));
            m_service->Notifications().WaitIdle();
            EXPECT_EQ(0u, m_service->Recorder().CountOf(op::CallDisconnect));
            m_dialer.Reset();
            EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
            Finish();
        }
    };
    Host().Run();
}

constexpr DWORD kHangupMs = 2000;

class DialerReentrancyTest : public ::testing::Test, protected HostFixture {
protected:
    void SetUp() override {
        telsim::CallScript script;
        script.hangupMs = kHangupMs;
        StartHost(Wait::CoWait, script);
    }
    void TearDown() override { Finish(); }

    // Runs `member` on this thread; once it is under way, another thread
    // has `action` run on this thread (it must get in while `member` waits)
    // and then `meanwhile` run on its own. Answers what `member` returned.
    HRESULT WithCallsLetIn(
        const std::function<HRESULT()>& member, const std::function<void()>& action,
        const std::function<void()>& meanwhile = [] {}) {
        std::atomic<bool> inside{false};
        std::atomic<bool> letIn{false};
        HostWindow window([&] {
            letIn.store(inside.load());
            action();
        });
        std::thread other([&] {
            while (!inside.load()) {
                Sleep(10);
            }
            Sleep(200);
            window.RunOnHostThread();
            meanwhile();
        });
        inside.store(true);
        const HRESULT hr = member();
        inside.store(false);
        other.join();
        EXPECT_TRUE(letIn.load()) << "the host's thread let nothing in while it waited";
        return hr;
    }

    void ConnectAndWait() {
        ASSERT_HR(S_OK, Connect());
        ASSERT_TRUE(WaitUntilConnectedIs(true));
    }

    // Calls a host may make on its thread while a member waits: Connected
    // answers, and every member that would call the service is refused,
    // since the waiting member still holds what it works on.
    void HostCallsIn(bool connected = true) {
        EXPECT_EQ(connected, Connected());
        Bstr list;
        const std::function<HRESULT()> members[] = {
            [&] { return Connect(); }, [&] { return m_dialer->Disconnect(); },
            [&] { return m_dialer->ShutdownTAPI(); },
            [&] { return m_dialer->GetAddressNameCSVList(list.Receive()); }};
        for (const auto& member : members) {
            EXPECT_HR(dialer::kDialerBusy, member());
            EXPECT_EQ(L"The dialer is still busy with an earlier request.",
                      TakeThreadError().description);
        }
    }
};

// The redial's hang-up lets the host's queued calls in; none of them places,
// drops or releases a call, so only the redial's own call is up after it.
TEST_F(DialerReentrancyTest, ARedialsHangUpRefusesTheHostsOtherMembers) {
    ASSERT_NO_FATAL_FAILURE(ConnectAndWait());
    const ComPtr<ITBasicCallControl> first = m_service->World().Calls().at(0);
    const auto start = Clock::now();
    EXPECT_HR(S_OK, WithCallsLetIn([&] { return Connect(); }, [&] { HostCallsIn(); }));
    EXPECT_GE(MillisecondsSince(start), kHangupMs - 100);
    EXPECT_TRUE(WaitUntilConnectedIs(true));
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_EQ(2u, m_service->World().CallsCreated());
    // The hung-up call is held by this test alone.
    EXPECT_EQ(1, m_service->Ledger().RefCount(first.Get()));
    EXPECT_HR(S_OK, m_dialer->Disconnect());
    EXPECT_EQ(2u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_EQ(0u, m_service->Ledger().Misuses().size());
}

// A host that lets go of the dialer from a handler its pumping wait runs
// during the redial's hang-up: the member still running keeps the dialer,
// which goes once the member returns, leaving nothing behind.
TEST_F(DialerReentrancyTest, AHostThatLetsGoInsideARedialFreesTheDialerOnceItReturns) {
    ASSERT_NO_FATAL_FAILURE(ConnectAndWait());
    const LONG locks = comkit::GetModule().GetLockCount();
    ITAPIDialer* const dialer = m_dialer.Get();
    EXPECT_HR(S_OK, WithCallsLetIn([&] { return Dial(dialer); },
                                   [&] {
                                       m_dialer.Reset();
                                       EXPECT_EQ(locks, comkit::GetModule().GetLockCount());
                                   }));
    EXPECT_GT(locks, comkit::GetModule().GetLockCount());
    EXPECT_EQ(2u, m_service->World().CallsCreated());
}

// An end comes on the host's own thread, which made the call: the sink
// drops it there before Event returns, and the host's calls let in by that
// hang-up's pumping wait are refused as in any member. (The call's own state
// cannot be read, so the event's tells; the line is still up, so the hang-up
// takes its time.)
TEST_F(DialerReentrancyTest, ADropOnTheHostsThreadRefusesTheHostsCallsLetIn) {
    ASSERT_NO_FATAL_FAILURE(ConnectAndWait());
    const ComPtr<ITBasicCallControl> call = m_service->World().Calls().at(0);
    telsim::EventSpec ended;
    ended.callState = CS_CONNECTED;
    ended.eventState = CS_DISCONNECTED;
    ended.callStateResult = E_UNEXPECTED;
    ended.call = call.Get();
    ended.delivery = telsim::Delivery::Synchronous;
    const auto start = Clock::now();
    EXPECT_HR(E_UNEXPECTED,
              WithCallsLetIn([&] { return m_service->Notifications().RaiseEvent(ended); },
                             [&] { HostCallsIn(false); }));
    EXPECT_GE(MillisecondsSince(start), kHangupMs - 100);
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_EQ(1, m_service->Ledger().RefCount(call.Get()));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_EQ(0u, m_service->Ledger().Misuses().size());
}

// The far end hangs up while the host's own hang-up of the same call takes
// its time: the service's notification thread is not held up behind it.
TEST_F(DialerReentrancyTest, ASlowHangUpStallsNeitherTheHostNorTheServicesEvents) {
    ASSERT_NO_FATAL_FAILURE(ConnectAndWait());
    const ComPtr<ITBasicCallControl> call = m_service->World().Calls().at(0);
    long long eventsIdleAfter = -1;
    const auto raiseTheEnd = [&] {
        telsim::EventSpec ended;
        ended.callState = CS_DISCONNECTED;
        ended.call = call.Get();
        ended.delivery = telsim::Delivery::NotificationThread;
        const auto raised = Clock::now();
        m_service->Notifications().RaiseEvent(ended);
        m_service->Notifications().WaitIdle();
        eventsIdleAfter = MillisecondsSince(raised);
    };
    const auto start = Clock::now();
    EXPECT_HR(S_OK, WithCallsLetIn([&] { return m_dialer->Disconnect(); }, [&] { HostCallsIn(); },
                                   raiseTheEnd));
    EXPECT_GE(MillisecondsSince(start), kHangupMs - 100);
    RecordProperty("events_idle_ms", static_cast<int>(eventsIdleAfter));
    EXPECT_LT(eventsIdleAfter, 1000);
    EXPECT_FALSE(Connected());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_EQ(0u, m_service->Ledger().Misuses().size());
}

// An agile call whose end the service reports, in a multithreaded host: the
// dialer's own thread drops it, taking the line's time. (The call's own state
// cannot be read and the event tells the end while the line is still up, so
// that the hang-up has something to do.)
class DialerDropTest : public ::testing::Test, protected HostFixture {
protected:
    void SetUp() override {
        telsim::CallScript script;
        script.hangupMs = 500;
        StartHost(Wait::Multithreaded, script);
        m_service->World().SetObjects(telsim::Objects::Agile);
    }
    void TearDown() override { Finish(); }

    // Connects, and returns once the call's drop has started.
    void ConnectUntilTheDropStarts() {
        ASSERT_HR(S_OK, Connect());
        ASSERT_TRUE(WaitUntilConnectedIs(true));
        telsim::EventSpec ended;
        ended.eventState = CS_DISCONNECTED;
        ended.callStateResult = E_UNEXPECTED;
        ended.call = m_service->World().Calls().at(0).Get();
        m_service->Notifications().RaiseEvent(ended);
        ASSERT_TRUE(
            Eventually([&] { return m_service->Recorder().CountOf(op::CallDisconnect) == 1; }));
    }
};

// The host's redial meanwhile waits for the drop, and is not refused: its
// new call comes only once the old one is dropped.
TEST_F(DialerDropTest, ARedialWaitsForTheDropUnderWay) {
    ASSERT_NO_FATAL_FAILURE(ConnectUntilTheDropStarts());
    const auto start = Clock::now();
    EXPECT_HR(S_OK, Connect());
    EXPECT_GE(MillisecondsSince(start), 400);
    EXPECT_EQ(2u, m_service->World().CallsCreated());
    EXPECT_EQ(1, m_service->Ledger().RefCount(m_service->World().Calls().at(0).Get()));
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_EQ(0u, m_service->Ledger().Misuses().size());
}

// A host that lets go of the dialer meanwhile: the drop still ends, and the
// library stays locked until it has.
TEST_F(DialerDropTest, ADropOutlivesItsDialerAndHoldsTheModuleUntilDone) {
    ASSERT_NO_FATAL_FAILURE(ConnectUntilTheDropStarts());
    m_dialer.Reset();
    m_service->Notifications().ReleaseSinks();
    EXPECT_LT(0, comkit::GetModule().GetLockCount());
    EXPECT_TRUE(Eventually([] { return comkit::GetModule().GetLockCount() == 0; }));
    EXPECT_EQ(1, m_service->Ledger().RefCount(m_service->World().Calls().at(0).Get()));
    EXPECT_EQ(0u, m_service->Ledger().Misuses().size());
}

}  // namespace
