// One outgoing call through the SIP agent, as a state machine over the
// agent's messages: it makes the commands to send and turns the events
// about its call into call states. It does no I/O and keeps no time; the
// line that owns it sends what it returns and runs the timers.
//
// The agent's dial response does not name the call. The call is the first
// outgoing call event for the dialled URI that carries an id; from then on
// only events with that id count, so other calls of the same agent are
// ignored. Hanging up selects the call by id first ("callfind"), and sends
// "hangup" only once the agent confirms it is current.
#pragma once

#include "telsim/sip/agent_message.h"
#include "telsim/sip/close_reason.h"

#include <string>

namespace telsim::sip {

enum class SipCallState { Dialling, InProgress, Connected, Disconnected };

struct SipCallUpdate {
    SipCallState state = SipCallState::Dialling;
    CloseReason reason = CloseReason::Failed;  // for Disconnected
    std::string detail;                        // the agent's reason text
};

class SipCall {
public:
    explicit SipCall(std::string uri) : uri_(std::move(uri)) {}

    // The command that places the call.
    std::string Dial() const;

    // Takes one message from the agent. True when the call's state changed
    // (`update` says to what); `send` is set to a command to send in answer,
    // or emptied.
    bool OnMessage(const AgentMessage& message, SipCallUpdate& update, std::string& send);

    // Starts hanging the call up; `why` is the reason reported once the
    // agent confirms (LocalHangup for a Disconnect; NoAnswer or Unreachable
    // when a timer of the line gave up). Returns the command to send now,
    // empty when none is due (the call ended, a hang-up is under way, or
    // it waits for the dial's response).
    std::string HangUp(CloseReason why);

    // Ends the call without the agent: the control connection dropped, or
    // the agent did not confirm a hang-up in time. True when this ended it.
    bool End(CloseReason why, std::string detail, SipCallUpdate& update);

    SipCallState State() const { return state_; }
    const std::string& CallId() const { return id_; }
    // Whether any event of this call came: a far end that never answered
    // the request leaves the agent silent.
    bool FarEndHeard() const { return farEndHeard_; }
    CloseReason HangUpReason() const { return hangUpReason_; }
    const std::string& Uri() const { return uri_; }

private:
    bool Change(SipCallState state, SipCallUpdate& update, CloseReason reason = CloseReason::Failed,
                std::string detail = {});
    bool OnResponse(const AgentMessage& message, SipCallUpdate& update, std::string& send);
    bool OnCallEvent(const AgentMessage& message, SipCallUpdate& update);
    std::string HangUpCommand();

    const std::string uri_;
    std::string id_;
    SipCallState state_ = SipCallState::Dialling;
    bool dialAnswered_ = false;
    bool farEndHeard_ = false;
    bool hangingUp_ = false;
    bool hangUpSent_ = false;
    CloseReason hangUpReason_ = CloseReason::LocalHangup;
};

}  // namespace telsim::sip
