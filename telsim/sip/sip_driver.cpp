#include "telsim/sip/sip_driver.h"

#include "comkit/result.h"

#include <utility>

namespace telsim::sip {
namespace {

// For whoever watches the debug output: a host sees only the HRESULT of a
// failed Connect and the cause of a call's end.
void Note(const std::string& text) {
    OutputDebugStringA(("TelSim: " + text + "\n").c_str());
}

std::string Hex(HRESULT hr) {
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

}  // namespace

SipDriver::SipDriver(std::shared_ptr<const SipLine> line, CallReports& reports)
    : line_(std::move(line)), reports_(reports) {}

SipDriver::~SipDriver() {
    std::unique_ptr<AgentCall> call;
    std::lock_guard lock(mu_);
    call = std::move(call_);
}

HRESULT SipDriver::Connect(const std::wstring& destination, bool) noexcept {
    return comkit::GuardCall([&] {
        std::string uri;
        RETURN_IF_FAILED(line_->uri.Build(destination, uri));
        // On the agent connection's reader or the line's timer, under the
        // call's lock: the states only go into the notification queue.
        auto post = [this, uri](const SipCallUpdate& update) {
            switch (update.state) {
            case SipCallState::Dialling:
                break;
            case SipCallState::InProgress:
                reports_.Report(CS_INPROGRESS, CEC_NONE);
                break;
            case SipCallState::Connected:
                reports_.Report(CS_CONNECTED, CEC_NONE);
                break;
            case SipCallState::Disconnected:
                Note("SIP call to " + uri + " ended: " + ReasonName(update.reason) + " (" +
                     update.detail + ")");
                reports_.Report(CS_DISCONNECTED, CauseOf(update.reason));
                break;
            }
        };
        std::unique_ptr<AgentCall> call;
        const HRESULT hr =
            AgentCall::Start(line_->endpoint, uri, line_->timeouts, std::move(post), call);
        if (FAILED(hr)) {
            Note("the SIP line's agent at " +
                 std::string(line_->agent.begin(), line_->agent.end()) +
                 " cannot be reached: " + Hex(hr));
            return hr;
        }
        std::unique_ptr<AgentCall> previous;
        std::lock_guard lock(mu_);
        previous = std::exchange(call_, std::move(call));
        return S_OK;
    });
}

bool SipDriver::HangUp() noexcept {
    std::lock_guard lock(mu_);
    if (!call_ || call_->State() == SipCallState::Disconnected) {
        return false;
    }
    call_->HangUp();
    return true;
}

HRESULT SipDriver::Disconnect(bool) noexcept {
    return HangUp() ? S_OK : TAPI_E_INVALCALLSTATE;
}

DWORD SipDriver::BeginShutdownHangUp() noexcept {
    // The call's own timer ends it without the agent's word after hangUpMs.
    return HangUp() ? line_->timeouts.hangUpMs + 500 : 0;
}

bool SipDriver::Running() const noexcept {
    std::lock_guard lock(mu_);
    return call_ && call_->State() != SipCallState::Disconnected;
}

}  // namespace telsim::sip
