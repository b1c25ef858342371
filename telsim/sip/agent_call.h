// One outgoing call of a SIP line: its own control connection to the agent,
// the call's state machine, and the line's timers. This is what a call on
// a SIP line runs instead of scripted steps, as a modem line runs a modem.
#pragma once

#include "telsim/sip/agent_connection.h"
#include "telsim/sip/sip_call.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace telsim::sip {

struct SipLineTimeouts {
    DWORD connectMs = 2000;  // reaching the agent's control port
    // The dial to the first word of the far end. Over UDP a SIP request
    // nobody answers is retried for about 32 s before the agent gives up.
    DWORD unreachableMs = 10000;
    DWORD answerMs = 60000;  // the dial to the answer
    DWORD hangUpMs = 3000;   // a hang-up to the agent's confirmation
};

class AgentCall {
public:
    // Each change of the call's state, in order, on the connection's reader
    // or the timer's thread, one at a time, under the call's lock: it must
    // not block or call back into the AgentCall. Never called once the
    // destructor has returned.
    using Post = std::function<void(const SipCallUpdate&)>;

    // Connects to the agent (an agent that cannot be reached fails here,
    // at once when nothing listens, and nothing is posted) and dials `uri`.
    static HRESULT Start(const AgentEndpoint& endpoint, std::string uri,
                         const SipLineTimeouts& timeouts, Post post,
                         std::unique_ptr<AgentCall>& out) noexcept;

    // Hangs the call up (a Disconnect); returns at once. Disconnected
    // follows when the agent confirms, or after hangUpMs without it.
    void HangUp() noexcept;

    // Hangs up a call still running and waits for the agent's confirmation
    // (hangUpMs at most), then closes the connection and stops the timer.
    // (A call that ends by itself closes its connection and stops its timer
    // at once.)
    ~AgentCall();
    AgentCall(const AgentCall&) = delete;
    AgentCall& operator=(const AgentCall&) = delete;

    SipCallState State() const;
    // Why the control connection dropped (S_OK: it did not).
    HRESULT Dropped() const;

private:
    AgentCall(std::string uri, const SipLineTimeouts& timeouts, Post post);
    void OnMessage(const AgentMessage& message);
    void OnDropped(HRESULT why);
    static void CALLBACK Tick(PTP_CALLBACK_INSTANCE, void* context, PTP_TIMER);
    void OnTick();
    // Without mu_.
    void FinishIfEnded() noexcept;
    // With mu_ held.
    void TickLocked();
    void HangUpLocked(CloseReason why);
    void Report(const SipCallUpdate& update);

    const SipLineTimeouts timeouts_;
    const Post post_;
    mutable std::mutex mu_;
    std::condition_variable ended_;
    SipCall call_;
    HRESULT dropped_ = S_OK;
    bool dialled_ = false;
    ULONGLONG started_ = 0;
    ULONGLONG hangUpSent_ = 0;  // 0: none
    std::unique_ptr<AgentConnection> connection_;
    PTP_TIMER timer_ = nullptr;
};

}  // namespace telsim::sip
