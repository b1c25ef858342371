// The agent connection and one call's states against baresip on loopback
// (run-baresip.sh starts the instances and names them in BREVLIN_SIP_*),
// and against a fake agent inside this process for what baresip never sends.
#include "telsim/sip/agent_call.h"
#include "telsim/sip/netstring.h"

#include <winsock2.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using namespace telsim::sip;
using namespace std::chrono_literals;

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

AgentEndpoint Endpoint(const char* variable) {
    const std::string text = Env(variable);
    AgentEndpoint endpoint;
    EXPECT_EQ(S_OK, ParseAgentEndpoint(std::wstring(text.begin(), text.end()), false, endpoint))
        << variable;
    return endpoint;
}

// Every message from one agent, and whether and why its connection dropped.
class Agent {
public:
    HRESULT Open(const AgentEndpoint& endpoint) {
        return AgentConnection::Open(
            endpoint, 2000,
            [this](const AgentMessage& message) {
                std::lock_guard lock(mu_);
                messages_.push_back(message);
                changed_.notify_all();
            },
            [this](HRESULT why) {
                std::lock_guard lock(mu_);
                dropped_ = why;
                changed_.notify_all();
            },
            connection_);
    }
    HRESULT Send(std::string_view frame) { return connection_->Send(frame); }
    bool WaitEvent(const std::string& type, std::string* param = nullptr,
                   std::chrono::seconds timeout = 10s) {
        std::unique_lock lock(mu_);
        return changed_.wait_for(lock, timeout, [&] {
            for (const auto& m : messages_) {
                if (m.kind == AgentMessage::Kind::Event && m.type == type) {
                    if (param) {
                        *param = m.param;
                    }
                    return true;
                }
            }
            return false;
        });
    }
    HRESULT WaitDropped(std::chrono::seconds timeout = 10s) {
        std::unique_lock lock(mu_);
        changed_.wait_for(lock, timeout, [&] { return dropped_ != S_OK; });
        return dropped_;
    }
    std::unique_ptr<AgentConnection> connection_;

private:
    std::mutex mu_;
    std::condition_variable changed_;
    std::vector<AgentMessage> messages_;
    HRESULT dropped_ = S_OK;
};

// One call through the caller agent, with the states it went through.
class Line {
public:
    HRESULT Dial(const std::string& uri, const SipLineTimeouts& timeouts = {},
                 const AgentEndpoint& agent = Endpoint("BREVLIN_SIP_CALLER")) {
        return AgentCall::Start(
            agent, uri, timeouts,
            [this](const SipCallUpdate& update) {
                std::lock_guard lock(mu_);
                history_ += history_.empty() ? "" : ",";
                history_ += update.state == SipCallState::InProgress ? "inprogress"
                            : update.state == SipCallState::Connected
                                ? "connected"
                                : std::string("disconnected:") + ReasonName(update.reason);
                state_ = update.state;
                changed_.notify_all();
            },
            call_);
    }
    bool Wait(SipCallState state, std::chrono::seconds timeout = 10s) {
        std::unique_lock lock(mu_);
        return changed_.wait_for(lock, timeout, [&] { return state_ == state; });
    }
    std::string History() {
        std::lock_guard lock(mu_);
        return history_;
    }
    std::unique_ptr<AgentCall> call_;

private:
    std::mutex mu_;
    std::condition_variable changed_;
    SipCallState state_ = SipCallState::Dialling;
    std::string history_;
};

class SipAgent : public ::testing::Test {
protected:
    void TearDown() override {
        line_.call_.reset();
        far_.connection_.reset();
        EXPECT_EQ(0, AgentConnection::Running()) << "a reader thread outlived its connection";
    }
    Line line_;
    Agent far_;
};

TEST_F(SipAgent, ConnectedThenHungUpWhileTheFarEndSeesItEnd) {
    ASSERT_EQ(S_OK, far_.Open(Endpoint("BREVLIN_SIP_ANSWER")));
    ASSERT_EQ(S_OK, line_.Dial(Env("BREVLIN_SIP_ANSWER_URI")));
    ASSERT_TRUE(line_.Wait(SipCallState::Connected)) << line_.History();
    line_.call_->HangUp();
    ASSERT_TRUE(line_.Wait(SipCallState::Disconnected));
    EXPECT_EQ("inprogress,connected,disconnected:hung up", line_.History());
    std::string reason;
    EXPECT_TRUE(far_.WaitEvent("CALL_CLOSED", &reason));
    EXPECT_EQ("Connection reset by peer", reason);
}

TEST_F(SipAgent, ACallStillConnectedIsHungUpWhenItGoes) {
    ASSERT_EQ(S_OK, far_.Open(Endpoint("BREVLIN_SIP_ANSWER")));
    ASSERT_EQ(S_OK, line_.Dial(Env("BREVLIN_SIP_ANSWER_URI")));
    ASSERT_TRUE(line_.Wait(SipCallState::Connected)) << line_.History();
    line_.call_.reset();
    EXPECT_EQ("inprogress,connected,disconnected:hung up", line_.History())
        << "confirmed before it returned";
    EXPECT_TRUE(far_.WaitEvent("CALL_CLOSED"));
}

TEST_F(SipAgent, TheLinesTimersGiveUpOnSilenceAndOnRinging) {
    std::string silent = Env("BREVLIN_SIP_DEAD");
    silent = "sip:x@" + silent;
    SipLineTimeouts timeouts;
    timeouts.unreachableMs = 1000;
    ASSERT_EQ(S_OK, line_.Dial(silent, timeouts));
    ASSERT_TRUE(line_.Wait(SipCallState::Disconnected));
    EXPECT_EQ("inprogress,disconnected:unreachable", line_.History());

    Line ringing;
    timeouts.answerMs = 1500;
    ASSERT_EQ(S_OK, far_.Open(Endpoint("BREVLIN_SIP_MANUAL")));
    ASSERT_EQ(S_OK, ringing.Dial(Env("BREVLIN_SIP_MANUAL_URI"), timeouts));
    ASSERT_TRUE(ringing.Wait(SipCallState::Disconnected));
    EXPECT_EQ("inprogress,disconnected:no answer", ringing.History());
    EXPECT_TRUE(far_.WaitEvent("CALL_CLOSED"));
}

TEST_F(SipAgent, HungUpByTheFarEnd) {
    ASSERT_EQ(S_OK, far_.Open(Endpoint("BREVLIN_SIP_ANSWER")));
    ASSERT_EQ(S_OK, line_.Dial(Env("BREVLIN_SIP_ANSWER_URI")));
    ASSERT_TRUE(line_.Wait(SipCallState::Connected)) << line_.History();
    ASSERT_EQ(S_OK, far_.Send(EncodeCommand("hangup", "", "far")));
    ASSERT_TRUE(line_.Wait(SipCallState::Disconnected));
    EXPECT_EQ("inprogress,connected,disconnected:hung up by the far end", line_.History());
}

TEST_F(SipAgent, AUserThatDoesNotExistIsNotFound) {
    std::string uri = Env("BREVLIN_SIP_ANSWER_URI");
    uri.replace(uri.find("callee"), 6, "nobody");
    ASSERT_EQ(S_OK, line_.Dial(uri));
    ASSERT_TRUE(line_.Wait(SipCallState::Disconnected));
    EXPECT_EQ("inprogress,disconnected:not found", line_.History());
}

TEST_F(SipAgent, ACallRejectedWhileRingingIsBusy) {
    ASSERT_EQ(S_OK, far_.Open(Endpoint("BREVLIN_SIP_MANUAL")));
    ASSERT_EQ(S_OK, line_.Dial(Env("BREVLIN_SIP_MANUAL_URI")));
    ASSERT_TRUE(far_.WaitEvent("CALL_INCOMING"));
    ASSERT_EQ(S_OK, far_.Send(EncodeCommand("hangup", "", "reject")));
    ASSERT_TRUE(line_.Wait(SipCallState::Disconnected));
    EXPECT_EQ("inprogress,disconnected:busy", line_.History());
}

TEST_F(SipAgent, NoAgentListeningFailsAtOnce) {
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<AgentConnection> connection;
    EXPECT_EQ(
        HRESULT_FROM_WIN32(WSAECONNREFUSED),
        AgentConnection::Open(Endpoint("BREVLIN_SIP_DEAD"), 2000, nullptr, nullptr, connection));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(nullptr, connection);
}

TEST_F(SipAgent, ControlConnectionKilledMidCall) {
    ASSERT_EQ(S_OK, line_.Dial(Env("BREVLIN_SIP_ANSWER_URI")));
    ASSERT_TRUE(line_.Wait(SipCallState::Connected)) << line_.History();
    std::fclose(std::fopen(Env("BREVLIN_SIP_MARK").c_str(), "w"));
    ASSERT_TRUE(line_.Wait(SipCallState::Disconnected, 20s))
        << "the script kills the caller's agent";
    EXPECT_EQ("inprogress,connected,disconnected:failed", line_.History());
    EXPECT_EQ(HRESULT_FROM_WIN32(WSAECONNRESET), line_.call_->Dropped());
}

// A fake agent on a loopback port of its own: accepts one connection and
// sends it `bytes` (after the first request, if asked), then keeps it open
// until the test ends.
class FakeAgent {
public:
    explicit FakeAgent(std::string bytes, bool afterARequest = false) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        endpoint_.port = ntohs(address.sin_port);
        listen(listener_, 1);
        server_ = std::thread([this, bytes = std::move(bytes), afterARequest] {
            peer_ = accept(listener_, nullptr, nullptr);
            char request[512];
            if (afterARequest) {
                recv(peer_, request, sizeof request, 0);
            }
            send(peer_, bytes.data(), static_cast<int>(bytes.size()), 0);
        });
    }
    ~FakeAgent() {
        server_.join();
        closesocket(peer_);
        closesocket(listener_);
        WSACleanup();
    }
    AgentEndpoint endpoint_;

private:
    SOCKET listener_ = INVALID_SOCKET;
    SOCKET peer_ = INVALID_SOCKET;
    std::thread server_;
};

TEST_F(SipAgent, MalformedOrOversizedRepliesDropTheConnection) {
    for (const std::string& bytes :
         {std::string("12:{\"event\":tru},"), std::string("4:{}}}x"),
          std::string("99999999:") + std::string(1000, 'x'), std::string("{\"event\":true}")}) {
        FakeAgent fake(bytes);
        Agent agent;
        ASSERT_EQ(S_OK, agent.Open(fake.endpoint_));
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), agent.WaitDropped())
            << bytes.substr(0, 20);
        EXPECT_FALSE(agent.WaitEvent("", nullptr, 0s));
    }
}

TEST_F(SipAgent, AnUnconfirmedHangUpKeepsTheLinesReason) {
    FakeAgent fake(
        EncodeNetstring(R"({"response":true,"ok":true,"data":"","token":"brevlin-dial"})"), true);
    SipLineTimeouts timeouts;
    timeouts.unreachableMs = 300;
    timeouts.hangUpMs = 300;
    ASSERT_EQ(S_OK, line_.Dial("sip:x@127.0.0.1:9", timeouts, fake.endpoint_));
    ASSERT_TRUE(line_.Wait(SipCallState::Disconnected));
    EXPECT_EQ("inprogress,disconnected:unreachable", line_.History());
}

TEST_F(SipAgent, CloseFromAnotherThreadEndsTheReader) {
    FakeAgent fake("");
    Agent agent;
    ASSERT_EQ(S_OK, agent.Open(fake.endpoint_));
    std::thread([&] { agent.connection_->Close(); }).join();
    EXPECT_EQ(0, AgentConnection::Running());
    EXPECT_EQ(S_OK, agent.WaitDropped(0s)) << "a closed connection is not reported dropped";
}

}  // namespace
