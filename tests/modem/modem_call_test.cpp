// The modem call against modempeer on Wine COM ports (run-modempeer.sh sets
// them up): BREVLIN_MODEM_PORT answers (with echo on, per-number results),
// BREVLIN_MODEM_MUTE_PORT answers nothing, BREVLIN_MODEM_LOG is the first
// peer's log as a Windows path.
#include "telsim/modem/modem_dial.h"
#include "telsim/modem/modem_driver.h"

#include <gtest/gtest.h>

#include "support/hresult.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

using namespace telsim::modem;
using namespace std::chrono_literals;

namespace {

// Peer numbers (see run-modempeer.sh).
constexpr const char* kAnswers = "5550100";
constexpr const char* kBusy = "5550111";
constexpr const char* kNoCarrier = "5550122";
constexpr const char* kNoDialtone = "5550133";
constexpr const char* kNoAnswer = "5550144";
constexpr const char* kSilent = "5550155";
constexpr const char* kDrops = "5550166";

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class Recorder {
public:
    ModemDial::Callback Callback() {
        return [this](const DialEvent& event) {
            std::lock_guard lock(mu_);
            events_.push_back(event);
            changed_.notify_all();
        };
    }
    // Waits for the call's last event.
    bool WaitEnded(std::chrono::milliseconds timeout = 15s) {
        std::unique_lock lock(mu_);
        return changed_.wait_for(lock, timeout, [&] {
            return !events_.empty() && events_.back().state == DialState::Disconnected;
        });
    }
    bool WaitConnected(std::chrono::milliseconds timeout = 15s) {
        std::unique_lock lock(mu_);
        return changed_.wait_for(lock, timeout, [&] {
            return !events_.empty() && events_.back().state != DialState::InProgress;
        }) && events_.back().state == DialState::Connected;
    }
    std::string States() {
        std::lock_guard lock(mu_);
        std::string out;
        for (const auto& event : events_) {
            if (!out.empty())
                out += ",";
            out += event.state == DialState::InProgress ? "inprogress"
                   : event.state == DialState::Connected
                       ? "connected"
                       : std::string("disconnected:") + event.detail;
        }
        return out;
    }

private:
    std::mutex mu_;
    std::condition_variable changed_;
    std::vector<DialEvent> events_;
};

class PeerLog {
public:
    PeerLog() : path_(Env("BREVLIN_MODEM_LOG")) { mark_ = Read().size(); }
    // The log lines written since construction, once `last` has appeared
    // (or after a few seconds without it).
    std::string Since(const std::string& last) {
        std::string text;
        for (int i = 0; i < 100; ++i) {
            text = Read().substr(mark_);
            if (text.find(last) != std::string::npos)
                break;
            std::this_thread::sleep_for(50ms);
        }
        return text;
    }

private:
    std::string Read() {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    std::string path_;
    std::size_t mark_ = 0;
};

class ModemCallTest : public testing::Test {
protected:
    void SetUp() override {
        if (Env("BREVLIN_MODEM_PORT").empty())
            GTEST_SKIP() << "no modem peer (run through run-modempeer.sh)";
        config_.port = static_cast<unsigned>(std::atoi(Env("BREVLIN_MODEM_PORT").c_str()));
        config_.guardMs = 900;
        config_.commandTimeoutMs = 2000;
        config_.answerTimeoutMs = 5000;
    }

    std::unique_ptr<ModemDial> Start(const std::string& number) {
        std::unique_ptr<ModemDial> call;
        EXPECT_HR(S_OK, ModemDial::Start(config_, number, recorder_.Callback(), call));
        return call;
    }

    ModemConfig config_;
    Recorder recorder_;
};

TEST_F(ModemCallTest, ConnectsOnConnectAndHangsUpWithEscapeAndATH0) {
    PeerLog log;
    auto call = Start(kAnswers);
    ASSERT_TRUE(call);
    ASSERT_TRUE(recorder_.WaitConnected()) << recorder_.States() << "\n" << call->Transcript();
    EXPECT_FALSE(call->Ended());
    call->HangUp();
    ASSERT_TRUE(recorder_.WaitEnded());
    EXPECT_EQ("inprogress,connected,disconnected:hung up", recorder_.States());
    EXPECT_EQ(Outcome::HungUp, call->Reason());
    // Exactly the initialisation, then the dial string, then the hang-up.
    EXPECT_EQ(
        "OPEN\nCMD ATZ\nRESULT OK\nCMD ATE0V1\nRESULT OK\nCMD ATDT5550100\nDIAL T5550100\nRESULT "
        "CONNECT 33600\n"
        "ESCAPE\nRESULT OK\nCMD ATH0\nHANGUP ATH\nRESULT OK\nCLOSED\n",
        log.Since("CLOSED"))
        << call->Transcript();
}

TEST_F(ModemCallTest, FailedDialsEndDisconnectedWithTheModemsReason) {
    const std::pair<const char*, const char*> cases[] = {{kBusy, "busy"},
                                                         {kNoCarrier, "no carrier"},
                                                         {kNoDialtone, "no dial tone"},
                                                         {kNoAnswer, "no answer"}};
    for (const auto& [number, reason] : cases) {
        Recorder recorder;
        std::unique_ptr<ModemDial> call;
        ASSERT_HR(S_OK, ModemDial::Start(config_, number, recorder.Callback(), call));
        ASSERT_TRUE(recorder.WaitEnded()) << number;
        EXPECT_EQ(std::string("inprogress,disconnected:") + reason, recorder.States())
            << call->Transcript();
        EXPECT_TRUE(call->Ended());
    }
}

TEST_F(ModemCallTest, NoResultWithinTheAnswerTimeoutEndsTheDialAsTimeout) {
    config_.answerTimeoutMs = 1500;
    PeerLog log;
    auto call = Start(kSilent);
    ASSERT_TRUE(recorder_.WaitEnded());
    EXPECT_EQ("inprogress,disconnected:timeout", recorder_.States());
    // The dial was ended at the modem, not left running.
    EXPECT_NE(std::string::npos, log.Since("ABORT").find("ABORT dial interrupted"));
}

TEST_F(ModemCallTest, HangUpDuringTheDialEndsItAtTheModem) {
    PeerLog log;
    auto call = Start(kSilent);
    std::this_thread::sleep_for(700ms);
    call->HangUp();
    ASSERT_TRUE(recorder_.WaitEnded());
    EXPECT_EQ("inprogress,disconnected:hung up", recorder_.States());
    const std::string seen = log.Since("CLOSED");
    EXPECT_NE(std::string::npos, seen.find("ABORT dial interrupted\nRESULT NO CARRIER\nCMD ATH0\n"))
        << seen;
}

TEST_F(ModemCallTest, CarrierLostWhileConnectedEndsTheCall) {
    auto call = Start(kDrops);
    ASSERT_TRUE(recorder_.WaitEnded());
    EXPECT_EQ("inprogress,connected,disconnected:no carrier", recorder_.States());
}

TEST_F(ModemCallTest, VoiceDialEndsWithSemicolonAndHangsUpWithoutEscape) {
    config_.voice = true;
    PeerLog log;
    auto call = Start(kAnswers);
    ASSERT_TRUE(recorder_.WaitConnected());
    call->HangUp();
    ASSERT_TRUE(recorder_.WaitEnded());
    const std::string seen = log.Since("CLOSED");
    EXPECT_NE(std::string::npos, seen.find("DIAL T5550100;\nRESULT OK\nCMD ATH0\nHANGUP ATH\n"))
        << seen;
    EXPECT_EQ(std::string::npos, seen.find("ESCAPE"));
}

TEST_F(ModemCallTest, ConfiguredInitialisationAndDialCommandAreSentAsGiven) {
    config_.init = {"ATZ", "ATE0V1", "AT+FCLASS=1", "ATS7=30"};
    config_.dialCommand = "ATDP";
    PeerLog log;
    auto call = Start("9,5550100");
    ASSERT_TRUE(recorder_.WaitConnected());
    call.reset();
    const std::string seen = log.Since("CLOSED");
    EXPECT_NE(std::string::npos,
              seen.find("CMD ATZ\nRESULT OK\nCMD ATE0V1\nRESULT OK\nCMD AT+FCLASS=1\nRESULT OK\n"
                        "CMD ATS7=30\nRESULT OK\nCMD ATDP9,5550100\n"))
        << seen;
}

TEST_F(ModemCallTest, DialStringCannotCarryCommands) {
    PeerLog log;
    auto call = Start("5550100;\rATH0Z");
    ASSERT_TRUE(recorder_.WaitConnected());
    call.reset();
    const std::string seen = log.Since("CLOSED");
    EXPECT_NE(std::string::npos, seen.find("CMD ATDT5550100A0\n")) << seen;
}

TEST_F(ModemCallTest, CommandWithALineBreakIsNeverSent) {
    config_.init = {"ATZ", "ATE0V1\rATDT911"};
    PeerLog log;
    auto call = Start(kAnswers);
    ASSERT_TRUE(recorder_.WaitEnded());
    EXPECT_EQ("disconnected:modem error", recorder_.States());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(std::string::npos, log.Since("").find("CMD")) << log.Since("");
}

TEST_F(ModemCallTest, DestroyingALiveCallHangsUpAndReportsNothingMore) {
    PeerLog log;
    auto call = Start(kAnswers);
    ASSERT_TRUE(recorder_.WaitConnected());
    const auto before = std::chrono::steady_clock::now();
    call.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
    EXPECT_EQ("inprogress,connected", recorder_.States());
    EXPECT_NE(std::string::npos, log.Since("CLOSED").find("HANGUP ATH"));
}

TEST_F(ModemCallTest, HangUpAllEndsTheCallsOfOneOwnerBeforeReturning) {
    struct Reports final : telsim::CallReports {
        std::atomic<bool> connected{false};
        void Report(const std::vector<telsim::CallStep>& steps, bool) noexcept override {
            for (const telsim::CallStep& step : steps) {
                connected = connected || step.state == CS_CONNECTED;
            }
        }
        void DropPending() noexcept override {}
    };
    Reports reports;
    Reports otherReports;
    PeerLog log;
    ModemDriver modem(std::make_shared<ModemConfig>(config_), reports);
    ModemDriver otherOwners(std::make_shared<ModemConfig>(config_), otherReports);
    ASSERT_HR(S_OK, modem.Connect(L"555-0100", false));
    for (int i = 0; i < 200 && !reports.connected; ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(reports.connected);
    telsim::HangUpAndWait({&otherOwners});
    EXPECT_EQ("", modem.Reason());
    telsim::HangUpAndWait({&modem});
    EXPECT_EQ("hung up", modem.Reason());
    EXPECT_NE(std::string::npos, log.Since("HANGUP").find("CMD ATDT5550100\n"))
        << modem.Transcript();
    EXPECT_NE(std::string::npos, log.Since("HANGUP").find("HANGUP ATH")) << modem.Transcript();
    EXPECT_FALSE(modem.HangUp());
}

TEST_F(ModemCallTest, ModemThatNeverAnswersTimesOutDuringInitialisation) {
    const std::string mute = Env("BREVLIN_MODEM_MUTE_PORT");
    if (mute.empty())
        GTEST_SKIP() << "no mute peer";
    config_.port = static_cast<unsigned>(std::atoi(mute.c_str()));
    config_.commandTimeoutMs = 800;
    auto call = Start(kAnswers);
    ASSERT_TRUE(recorder_.WaitEnded());
    EXPECT_EQ("disconnected:timeout", recorder_.States());
}

TEST(ModemCallPort, PortThatCannotBeOpenedFailsAtOnceWithTheOpenError) {
    ModemConfig config;
    config.port = 250;  // never linked by the test driver
    bool called = false;
    std::unique_ptr<ModemDial> call;
    const auto before = std::chrono::steady_clock::now();
    const HRESULT hr = ModemDial::Start(
        config, "5550100", [&](const DialEvent&) { called = true; }, call);
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), hr);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_FALSE(call);
    EXPECT_FALSE(called);
}

}  // namespace

// Against a pair of iaxmodem instances talking IAX2 over loopback
// (run-iaxmodem.sh): BREVLIN_IAX_PORT is the near modem; the driver answers
// the far one and checks its side.
class IaxModem : public testing::Test {
protected:
    void SetUp() override {
        if (Env("BREVLIN_IAX_PORT").empty())
            GTEST_SKIP() << "no iaxmodem pair (run through run-iaxmodem.sh)";
        config_.port = static_cast<unsigned>(std::atoi(Env("BREVLIN_IAX_PORT").c_str()));
        config_.init = {"ATZ", "ATE0V1", "AT+FCLASS=1"};
        config_.commandGapMs = 1000;
        config_.commandTimeoutMs = 3000;
        config_.answerTimeoutMs = 30000;
    }
    ModemConfig config_;
    Recorder recorder_;
};

TEST_F(IaxModem, DataCallConnectsAndHangsUp) {
    std::unique_ptr<ModemDial> call;
    ASSERT_HR(S_OK, ModemDial::Start(config_, "5550100", recorder_.Callback(), call));
    ASSERT_TRUE(recorder_.WaitConnected(40s)) << recorder_.States() << "\n" << call->Transcript();
    call->HangUp();
    ASSERT_TRUE(recorder_.WaitEnded(20s)) << call->Transcript();
    EXPECT_EQ("inprogress,connected,disconnected:hung up", recorder_.States());
    std::printf("%s", call->Transcript().c_str());
}

TEST_F(IaxModem, VoiceDialRingsTheFarSide) {
    config_.voice = true;
    std::unique_ptr<ModemDial> call;
    ASSERT_HR(S_OK, ModemDial::Start(config_, "5550100", recorder_.Callback(), call));
    ASSERT_TRUE(recorder_.WaitConnected(40s)) << recorder_.States() << "\n" << call->Transcript();
    // Long enough for the far side to ring.
    std::this_thread::sleep_for(3s);
    call->HangUp();
    ASSERT_TRUE(recorder_.WaitEnded(20s)) << call->Transcript();
    std::printf("%s", call->Transcript().c_str());
}
