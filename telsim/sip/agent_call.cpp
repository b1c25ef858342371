#include "telsim/sip/agent_call.h"

#include "comkit/result.h"

namespace telsim::sip {
namespace {

constexpr DWORD kTickMs = 100;

}  // namespace

void CALLBACK AgentCall::Tick(PTP_CALLBACK_INSTANCE, void* context, PTP_TIMER) {
    static_cast<AgentCall*>(context)->OnTick();
}

AgentCall::AgentCall(std::string uri, const SipLineTimeouts& timeouts, Post post)
    : timeouts_(timeouts), post_(std::move(post)), call_(std::move(uri)) {}

HRESULT AgentCall::Start(const AgentEndpoint& endpoint, std::string uri,
                         const SipLineTimeouts& timeouts, Post post,
                         std::unique_ptr<AgentCall>& out) noexcept {
    out.reset();
    return comkit::GuardCall([&]() -> HRESULT {
        std::unique_ptr<AgentCall> call(new AgentCall(std::move(uri), timeouts, std::move(post)));
        AgentCall* self = call.get();
        HRESULT hr = AgentConnection::Open(
            endpoint, timeouts.connectMs,
            [self](const AgentMessage& message) { self->OnMessage(message); },
            [self](HRESULT why) { self->OnDropped(why); }, call->connection_);
        if (FAILED(hr)) {
            return hr;
        }
        call->timer_ = CreateThreadpoolTimer(&AgentCall::Tick, self, nullptr);
        if (!call->timer_) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        {
            std::lock_guard lock(call->mu_);
            call->started_ = GetTickCount64();
            hr = call->connection_->Send(call->call_.Dial());
            call->dialled_ = SUCCEEDED(hr);
        }
        if (FAILED(hr)) {
            return hr;
        }
        // Relative due time, in 100 ns units.
        LARGE_INTEGER due{};
        due.QuadPart = -static_cast<LONGLONG>(kTickMs) * 10000;
        FILETIME dueTime{due.LowPart, static_cast<DWORD>(due.HighPart)};
        SetThreadpoolTimer(call->timer_, &dueTime, kTickMs, 0);
        out = std::move(call);
        return S_OK;
    });
}

void AgentCall::Report(const SipCallUpdate& update) {
    if (update.state == SipCallState::Disconnected) {
        ended_.notify_all();
    }
    if (post_) {
        post_(update);
    }
}

void AgentCall::OnMessage(const AgentMessage& message) {
    {
        std::lock_guard lock(mu_);
        // Until the dial is sent nothing the agent says is about this call.
        if (!dialled_) {
            return;
        }
        SipCallUpdate update;
        std::string send;
        const bool changed = call_.OnMessage(message, update, send);
        if (!send.empty()) {
            connection_->Send(send);
        }
        if (changed) {
            Report(update);
        }
    }
    FinishIfEnded();
}

void AgentCall::OnDropped(HRESULT why) {
    {
        std::lock_guard lock(mu_);
        dropped_ = why;
        // Before the dial, Start fails instead.
        SipCallUpdate update;
        if (dialled_ && call_.End(CloseReason::Failed, "agent connection lost", update)) {
            Report(update);
        }
    }
    FinishIfEnded();
}

void AgentCall::OnTick() {
    {
        std::lock_guard lock(mu_);
        TickLocked();
    }
    FinishIfEnded();
}

void AgentCall::TickLocked() {
    if (call_.State() == SipCallState::Disconnected) {
        return;
    }
    const ULONGLONG now = GetTickCount64();
    SipCallUpdate update;
    if (hangUpSent_ != 0) {
        // The line's reason for hanging up still stands: a call given up
        // for silence stays unreachable though the agent never confirmed.
        if (now - hangUpSent_ >= timeouts_.hangUpMs &&
            call_.End(call_.HangUpReason(), "the agent did not confirm the hang-up", update)) {
            Report(update);
        }
    } else if (!call_.FarEndHeard() && now - started_ >= timeouts_.unreachableMs) {
        HangUpLocked(CloseReason::Unreachable);
    } else if (call_.State() != SipCallState::Connected && now - started_ >= timeouts_.answerMs) {
        HangUpLocked(CloseReason::NoAnswer);
    }
}

void AgentCall::FinishIfEnded() noexcept {
    if (State() != SipCallState::Disconnected) {
        return;
    }
    // The agent's single control connection is free for the next call, and
    // nothing is left to time.
    SetThreadpoolTimer(timer_, nullptr, 0, 0);
    connection_->Close();
}

void AgentCall::HangUpLocked(CloseReason why) {
    if (call_.State() == SipCallState::Disconnected || hangUpSent_ != 0) {
        return;
    }
    hangUpSent_ = GetTickCount64();
    const std::string command = call_.HangUp(why);
    if (!command.empty()) {
        connection_->Send(command);
    }
}

void AgentCall::HangUp() noexcept {
    try {
        std::lock_guard lock(mu_);
        HangUpLocked(CloseReason::LocalHangup);
    } catch (...) {
    }
}

AgentCall::~AgentCall() {
    {
        std::unique_lock lock(mu_);
        if (dialled_) {
            HangUpLocked(CloseReason::LocalHangup);
            ended_.wait_for(lock, std::chrono::milliseconds(timeouts_.hangUpMs + 2 * kTickMs),
                            [&] { return call_.State() == SipCallState::Disconnected; });
        }
    }
    // The connection first: a handler still running may touch the timer.
    if (connection_) {
        connection_->Close();
    }
    if (timer_) {
        SetThreadpoolTimer(timer_, nullptr, 0, 0);
        WaitForThreadpoolTimerCallbacks(timer_, TRUE);
        CloseThreadpoolTimer(timer_);
    }
}

SipCallState AgentCall::State() const {
    std::lock_guard lock(mu_);
    return call_.State();
}

HRESULT AgentCall::Dropped() const {
    std::lock_guard lock(mu_);
    return dropped_;
}

}  // namespace telsim::sip
