// The host's Connect, Disconnect and ShutdownTAPI against disconnected
// states delivered on the service's notification thread.
#include "dialer_test_support.h"
#include "support/scratch_file.h"

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
    // even where it never pumps. Lenient prompt hang-ups: a race needs many
    // rounds, and a hang-up that waits for its events makes each a round
    // trip through the notification thread.
    void SetUp() override {
        Start(GetParam(), telsim::Delivery::NotificationThread);
        m_service->World().SetHangup(telsim::Hangup::Prompt);
    }
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

// A multithreaded host may call one dialer from several threads at once:
// one chooses lines, one dials and hangs up, one lists, polls and starts the
// service again, one redials; meanwhile the service's thread ends each call
// soon after it connects. Whatever the interleaving, once the dialer is
// released no call keeps a reference, and none is left up. A dialer's first
// members race the most (its sink and registration are made then), so each
// round starts a fresh one with every thread let go at once; every other
// round has agile calls, dropped on the dialer's own thread.
TEST(DialerThreadsTest, FourHostThreadsAtOnceLeaveNoCallBehind) {
    test_support::ScratchFile lineFile;
    ASSERT_TRUE(lineFile.Write("Line B"));
    struct Host : DialerFixture {
        void Run(bool agile, const std::wstring& lineFile) {
            Start(false, telsim::Delivery::Apartment);
            telsim::CallScript script;
            script.onConnect = {{CS_INPROGRESS, 0}, {CS_CONNECTED, 2}, {CS_DISCONNECTED, 5}};
            script.hangupMs = 5;
            m_service->World().SetCallScript(script);
            m_service->World().SetObjects(agile ? telsim::Objects::Agile : telsim::Objects::Bound);
            telsim::AddressSpec first;
            first.name = L"Line A";
            telsim::AddressSpec second;
            second.name = L"Line B";
            Use({first, second});

            std::atomic<bool> go{false};
            std::atomic<bool> stop{false};
            const auto repeat = [&](auto member) {
                return std::thread([&go, &stop, member] {
                    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                    while (!go.load()) {
                    }
                    while (!stop.load()) {
                        member();
                    }
                    CoUninitialize();
                });
            };
            ITAPIDialer* const dialer = m_dialer.Get();
            std::thread threads[] = {
                repeat([dialer, &lineFile] {
                    Bstr line(L"Line A");
                    VARIANT_BOOL chosen = VARIANT_FALSE;
                    dialer->SetDeviceAddress(line.Get(), &chosen);
                    Bstr file(lineFile.c_str());
                    dialer->ReadDeviceAddressFromFile(file.Get(), &chosen);
                }),
                repeat([dialer] {
                    Dial(dialer);
                    dialer->Disconnect();
                }),
                repeat([dialer] {
                    Bstr list;
                    dialer->GetAddressNameCSVList(list.Receive());
                    VARIANT_BOOL connected = VARIANT_FALSE;
                    dialer->get_Connected(&connected);
                    dialer->InitializeTAPI();
                }),
                repeat([dialer] { Dial(dialer); }),
            };
            go.store(true);
            Sleep(40);
            stop.store(true);
            for (std::thread& thread : threads) {
                thread.join();
            }
            EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
            EXPECT_EQ(0u, m_service->Ledger().Misuses().size());
            const auto service = m_service;
            Finish();
            for (const auto& call : service->World().Calls()) {
                const CALL_STATE state = service->World().CallStateOf(call.Get());
                EXPECT_TRUE(state == CS_DISCONNECTED || state == CS_IDLE) << state;
            }
        }
    };
    for (int round = 0; round < 50 && !::testing::Test::HasFailure(); ++round) {
        Host().Run(round % 2 == 1, lineFile.Path());
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << "in round " << round;
        }
    }
}
