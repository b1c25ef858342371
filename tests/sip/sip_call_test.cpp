#include "telsim/sip/close_reason.h"
#include "telsim/sip/sip_call.h"

#include <gtest/gtest.h>

#include <string>

using namespace telsim::sip;

namespace {

constexpr char kUri[] = "sip:callee@127.0.0.1:5080";

TEST(CloseReason, FollowsTheStatusCodeOrTheAgentsWords) {
    const std::pair<const char*, CloseReason> cases[] = {
        {"Connection reset by user", CloseReason::LocalHangup},
        {"Connection reset by peer", CloseReason::FarEndHangup},
        {"486 Busy Here", CloseReason::Busy},
        {"486 Rejected", CloseReason::Busy},
        {"600 Busy Everywhere", CloseReason::Busy},
        {"603 Decline", CloseReason::Declined},
        {"404 Not Found", CloseReason::NotFound},
        {"480 Temporarily Unavailable", CloseReason::NoAnswer},
        {"408 Request Timeout", CloseReason::NoAnswer},
        {"503 Service Unavailable", CloseReason::Unreachable},
        {"Connection timed out", CloseReason::Unreachable},
        {"Connection refused", CloseReason::Unreachable},
        {"500 Server Internal Error", CloseReason::Failed},
        {"end of file", CloseReason::Failed},
        {"4860 Busy", CloseReason::Failed},
        {"", CloseReason::Failed},
    };
    for (const auto& [text, reason] : cases) {
        EXPECT_EQ(ReasonName(reason), std::string(ReasonName(ReasonOf(text)))) << text;
    }
    EXPECT_EQ(CEC_DISCONNECT_BUSY, CauseOf(CloseReason::Busy));
    EXPECT_EQ(CEC_DISCONNECT_REJECTED, CauseOf(CloseReason::Declined));
    EXPECT_EQ(CEC_DISCONNECT_BADADDRESS, CauseOf(CloseReason::NotFound));
    EXPECT_EQ(CEC_DISCONNECT_NOANSWER, CauseOf(CloseReason::NoAnswer));
    EXPECT_EQ(CEC_DISCONNECT_NORMAL, CauseOf(CloseReason::FarEndHangup));
    EXPECT_EQ(CEC_DISCONNECT_FAILED, CauseOf(CloseReason::Unreachable));
}

AgentMessage Response(const char* token, bool ok = true, const char* data = "") {
    AgentMessage m;
    m.kind = AgentMessage::Kind::Response;
    m.token = token;
    m.ok = ok;
    m.data = data;
    return m;
}

AgentMessage Event(const char* type, const char* id = "c1", const char* param = "",
                   const char* peer = kUri, const char* direction = "outgoing") {
    AgentMessage m;
    m.type = type;
    m.eventClass = "call";
    m.id = id;
    m.param = param;
    m.peerUri = peer;
    m.direction = direction;
    return m;
}

// Feeds messages to one call and records what it answers.
class SipCallTest : public ::testing::Test {
protected:
    // The states reached, e.g. "inprogress,connected,disconnected:busy".
    std::string Feed(std::initializer_list<AgentMessage> messages) {
        std::string states;
        for (const auto& message : messages) {
            SipCallUpdate update;
            std::string command;
            if (call_.OnMessage(message, update, command)) {
                states += (states.empty() ? "" : ",") + Name(update);
            }
            if (!command.empty()) {
                sent_ += command;
            }
        }
        return states;
    }
    static std::string Name(const SipCallUpdate& u) {
        switch (u.state) {
        case SipCallState::InProgress:
            return "inprogress";
        case SipCallState::Connected:
            return "connected";
        case SipCallState::Disconnected:
            return std::string("disconnected:") + ReasonName(u.reason);
        default:
            return "dialling";
        }
    }
    SipCall call_{kUri};
    std::string sent_;
};

TEST_F(SipCallTest, AnsweredCallIsHungUpByItsId) {
    EXPECT_EQ(
        R"(78:{"command":"dial","params":"sip:callee@127.0.0.1:5080","token":"brevlin-dial"},)",
        call_.Dial());
    EXPECT_EQ("inprogress,connected", Feed({Response("brevlin-dial"), Event("CALL_RINGING"),
                                            Event("CALL_ESTABLISHED"), Event("CALL_RTCP")}));
    EXPECT_EQ("c1", call_.CallId());
    EXPECT_EQ(R"(59:{"command":"callfind","params":"c1","token":"brevlin-find"},)",
              call_.HangUp(CloseReason::LocalHangup));
    EXPECT_EQ("", call_.HangUp(CloseReason::LocalHangup)) << "one hang-up at a time";
    EXPECT_EQ("", Feed({Response("brevlin-find", true, "setting current call: c1\n")}));
    EXPECT_EQ(R"(57:{"command":"hangup","params":"","token":"brevlin-hangup"},)", sent_);
    EXPECT_EQ("disconnected:hung up", Feed({Event("CALL_CLOSED", "c1", "Connection reset by user"),
                                            Event("CALL_ESTABLISHED")}));
}

TEST_F(SipCallTest, OtherCallsOfTheAgentAreIgnored) {
    EXPECT_EQ("inprogress",
              Feed({Event("CALL_RINGING", "other", "", "sip:someone@x"),
                    Event("CALL_INCOMING", "in", "", kUri, "incoming"), Event("CALL_LOCAL_SDP", ""),
                    Response("brevlin-dial"), Response("t9", false)}));
    EXPECT_EQ("disconnected:busy",
              Feed({Event("CALL_ESTABLISHED", "in", "", kUri, "incoming"),
                    Event("CALL_CLOSED", "other", "Connection reset by peer", "sip:someone@x"),
                    Event("CALL_CLOSED", "c1", "486 Busy Here")}));
}

TEST_F(SipCallTest, HangUpBeforeTheDialIsAnsweredWaitsForIt) {
    EXPECT_EQ("", call_.HangUp(CloseReason::NoAnswer));
    EXPECT_EQ("inprogress", Feed({Response("brevlin-dial")}));
    EXPECT_EQ(R"(57:{"command":"hangup","params":"","token":"brevlin-hangup"},)", sent_)
        << "no id yet: the current call";
    EXPECT_EQ("disconnected:no answer",
              Feed({Event("CALL_CLOSED", "c1", "Connection reset by user")}));
}

TEST_F(SipCallTest, ACallNamedInTheDialsAnswerIsHungUpByThatId) {
    EXPECT_EQ("inprogress", Feed({Response("brevlin-dial", true, "call id: 9e33\n")}));
    EXPECT_EQ("9e33", call_.CallId());
    EXPECT_FALSE(call_.FarEndHeard()) << "the agent's own answer is not the far end's";
    EXPECT_EQ(R"(61:{"command":"callfind","params":"9e33","token":"brevlin-find"},)",
              call_.HangUp(CloseReason::Unreachable));
    EXPECT_EQ("disconnected:unreachable",
              Feed({Event("CALL_CLOSED", "other", "Connection reset by user"),
                    Event("CALL_CLOSED", "9e33", "Connection reset by user")}));
}

TEST_F(SipCallTest, EndsWhenTheAgentRefusesOrLostTheCall) {
    EXPECT_EQ("disconnected:failed", Feed({Response("brevlin-dial", false, "invalid uri\n")}));

    SipCall lost(kUri);
    SipCallUpdate update;
    std::string command;
    lost.OnMessage(Event("CALL_RINGING"), update, command);
    lost.HangUp(CloseReason::Unreachable);
    ASSERT_TRUE(lost.OnMessage(Response("brevlin-find", true, "call not found (id=c1)\n"), update,
                               command));
    EXPECT_EQ("disconnected:unreachable", Name(update));
    EXPECT_FALSE(lost.End(CloseReason::Failed, "agent connection lost", update));
}

}  // namespace
