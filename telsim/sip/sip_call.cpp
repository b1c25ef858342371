#include "telsim/sip/sip_call.h"

namespace telsim::sip {
namespace {

constexpr char kDialToken[] = "brevlin-dial";
constexpr char kFindToken[] = "brevlin-find";
constexpr char kHangupToken[] = "brevlin-hangup";
// The agent's answer to "callfind" when it made the call current.
constexpr std::string_view kFound = "setting current call";
// Newer agents name the call in their answer to "dial"; older ones answer
// with nothing, and the call's first event names it.
constexpr std::string_view kDialledId = "call id: ";

std::string DialledId(const std::string& data) {
    if (data.compare(0, kDialledId.size(), kDialledId) != 0) {
        return {};
    }
    // Up to the line's end; npos less the prefix still reaches the string's end.
    const size_t end = data.find_first_of("\r\n", kDialledId.size());
    return data.substr(kDialledId.size(), end - kDialledId.size());
}

}  // namespace

std::string SipCall::Dial() const {
    return EncodeCommand("dial", uri_, kDialToken);
}

bool SipCall::Change(SipCallState state, SipCallUpdate& update, CloseReason reason,
                     std::string detail) {
    if (state_ == state || state_ == SipCallState::Disconnected) {
        return false;
    }
    state_ = state;
    update = SipCallUpdate{state, reason, std::move(detail)};
    return true;
}

bool SipCall::OnMessage(const AgentMessage& message, SipCallUpdate& update, std::string& send) {
    send.clear();
    if (state_ == SipCallState::Disconnected) {
        return false;
    }
    if (message.kind == AgentMessage::Kind::Response) {
        return OnResponse(message, update, send);
    }
    return OnCallEvent(message, update);
}

bool SipCall::OnResponse(const AgentMessage& message, SipCallUpdate& update, std::string& send) {
    if (message.token == kDialToken && !dialAnswered_) {
        dialAnswered_ = true;
        if (!message.ok) {
            return Change(SipCallState::Disconnected, update, CloseReason::Failed, message.data);
        }
        // Such an agent has no current call until the far end answers
        // something, so a plain "hangup" would not reach this one.
        if (id_.empty()) {
            id_ = DialledId(message.data);
        }
        if (hangingUp_) {
            send = HangUpCommand();
        }
        return state_ == SipCallState::Dialling && Change(SipCallState::InProgress, update);
    }
    if (message.token == kFindToken && hangingUp_) {
        if (message.data.compare(0, kFound.size(), kFound) == 0) {
            send = EncodeCommand("hangup", "", kHangupToken);
            return false;
        }
        // The agent no longer has the call: it ended without a word to us.
        return Change(SipCallState::Disconnected, update, hangUpReason_, message.data);
    }
    return false;
}

bool SipCall::OnCallEvent(const AgentMessage& message, SipCallUpdate& update) {
    if (message.eventClass != "call" || message.id.empty()) {
        return false;
    }
    if (id_.empty()) {
        if (message.direction != "outgoing" || message.peerUri != uri_) {
            return false;
        }
        id_ = message.id;
    } else if (message.id != id_) {
        return false;
    }
    farEndHeard_ = true;
    if (message.type == "CALL_ESTABLISHED") {
        return Change(SipCallState::Connected, update);
    }
    if (message.type == "CALL_CLOSED") {
        CloseReason reason = ReasonOf(message.param);
        if (hangingUp_ && reason == CloseReason::LocalHangup) {
            reason = hangUpReason_;
        }
        return Change(SipCallState::Disconnected, update, reason, message.param);
    }
    return state_ == SipCallState::Dialling && Change(SipCallState::InProgress, update);
}

std::string SipCall::HangUp(CloseReason why) {
    if (state_ == SipCallState::Disconnected || hangingUp_) {
        return {};
    }
    hangingUp_ = true;
    hangUpReason_ = why;
    return dialAnswered_ ? HangUpCommand() : std::string();
}

std::string SipCall::HangUpCommand() {
    if (hangUpSent_) {
        return {};
    }
    hangUpSent_ = true;
    if (!id_.empty()) {
        return EncodeCommand("callfind", id_, kFindToken);
    }
    // Nothing has named the call yet (an older agent's request still
    // unanswered has no id): the call just dialled is the agent's current one.
    return EncodeCommand("hangup", "", kHangupToken);
}

bool SipCall::End(CloseReason why, std::string detail, SipCallUpdate& update) {
    return Change(SipCallState::Disconnected, update, why, std::move(detail));
}

}  // namespace telsim::sip
