// The host's Connect, Disconnect and ShutdownTAPI against disconnected
// states delivered on the service's notification thread.
#include "dialer_test_support.h"

#include <atomic>
#include <chrono>
#include <thread>

using Microsoft::WRL::ComPtr;
using namespace dialer_test;
namespace op = telsim::op;

namespace {

class DialerRaceTest : public ::testing::TestWithParam<bool>, protected DialerFixture {
protected:
    // Lenient NotificationThread: the raiser below picks each event's
    // delivery itself, and the host's thread races the notification thread
    // even where it never pumps.
    void SetUp() override { Start(GetParam(), telsim::Delivery::NotificationThread); }
    void TearDown() override { Finish(); }
};

INSTANTIATE_TEST_SUITE_P(Apartments, DialerRaceTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Sta" : "Mta");
                         });

TEST_P(DialerRaceTest, CallsAreDroppedAndReleasedOnceWhateverTheTiming) {
    telsim::CallScript script;
    script.onConnect = {{CS_INPROGRESS, 0}, {CS_CONNECTED, 0}, {CS_DISCONNECTED, 0}};
    m_service->World().SetCallScript(script);
    m_service->Recorder().SetRecording(false);
    // Sinks of dialers already gone keep receiving events too.
    m_service->Notifications().KeepSinksAfterRootRelease(true);
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());

    std::atomic<bool> stop{false};
    std::thread raiser([&] {
        telsim::EventSpec event;
        event.callState = CS_DISCONNECTED;
        event.ignoreFilter = true;
        // Mostly delivered on this thread, which paces the raising; every
        // eighth goes through the notification thread.
        for (unsigned n = 0; !stop.load(); ++n) {
            event.delivery =
                n % 8 == 0 ? telsim::Delivery::NotificationThread : telsim::Delivery::Synchronous;
            m_service->Notifications().RaiseEvent(event);
        }
    });

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int rounds = 0;
    for (; rounds < 10000 && std::chrono::steady_clock::now() < deadline; ++rounds) {
        const HRESULT connected = Connect();
        ASSERT_TRUE(SUCCEEDED(connected)) << Hex(connected) << " in round " << rounds;
        if (rounds % 3 == 0) {
            m_dialer->Disconnect();
        }
        if (rounds % 97 == 96) {
            // Every other dialer goes without ShutdownTAPI, its call still up.
            if (rounds % 2 == 0) {
                m_dialer->ShutdownTAPI();
            }
            ASSERT_HR(S_OK, CreateDialer(m_dialer));
            ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
        }
    }
    stop.store(true);
    raiser.join();
    m_dialer->ShutdownTAPI();
    m_dialer.Reset();
    m_service->Notifications().WaitIdle();

    EXPECT_GT(rounds, 500);
    RecordProperty("rounds", rounds);
    EXPECT_EQ(0u, m_service->Ledger().Misuses().size());
    EXPECT_EQ("", m_service->Ledger().Leaks());
}

}  // namespace
