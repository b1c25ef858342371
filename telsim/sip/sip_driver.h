// The driver of a call on a SIP line: Connect builds the URI from the
// dialable number and has the line's agent dial it (an AgentCall); the
// agent's word on the call becomes the call's states, with their causes.
#pragma once

#include "telsim/call_driver.h"
#include "telsim/sip/agent_call.h"
#include "telsim/sip/sip_line.h"

#include <memory>
#include <mutex>
#include <string>

namespace telsim::sip {

class SipDriver final : public CallDriver {
public:
    SipDriver(std::shared_ptr<const SipLine> line, CallReports& reports);
    // Hangs up a call still running (the line's hang-up timeout at most).
    ~SipDriver() override;
    SipDriver(const SipDriver&) = delete;
    SipDriver& operator=(const SipDriver&) = delete;

    // A number with characters no SIP user part is made of fails with
    // E_INVALIDARG, an agent that cannot be reached with the connection's
    // error (HRESULT_FROM_WIN32(WSAECONNREFUSED) when nothing listens);
    // nothing reaches the agent or is reported then.
    HRESULT Connect(const std::wstring& destination, bool synchronous) noexcept override;
    HRESULT Disconnect(bool synchronous) noexcept override;
    DWORD BeginShutdownHangUp() noexcept override;
    bool Running() const noexcept override;

private:
    bool HangUp() noexcept;

    const std::shared_ptr<const SipLine> line_;
    CallReports& reports_;
    mutable std::mutex mu_;
    std::unique_ptr<AgentCall> call_;
};

}  // namespace telsim::sip
