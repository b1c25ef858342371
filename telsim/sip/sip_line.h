// A line whose calls a SIP user agent places (Kind=sip): where its agent's
// control port is, how a dialable number becomes the URI the agent dials,
// and the line's timeouts. Each call on the line gets a SipDriver.
#pragma once

#include "telsim/call_driver.h"
#include "telsim/line_kinds.h"
#include "telsim/sip/agent_call.h"
#include "telsim/sip/sip_uri.h"

#include <string>
#include <string_view>

namespace telsim::sip {

struct SipLine final : LineDevice {
    // As the scenario wrote them; Complete() makes `endpoint` and `uri` of them.
    std::wstring agent;
    bool allowRemoteAgent = false;
    std::wstring uriTemplate = L"sip:{number}@{domain}";
    std::wstring domain;
    SipLineTimeouts timeouts;

    AgentEndpoint endpoint;
    SipUriTemplate uri;

    // What is missing or wrong once every key is applied; empty when the
    // line can place calls.
    std::wstring Complete();
    std::unique_ptr<CallDriver> MakeDriver(CallReports& reports) const override;
};

// Applies one key of a Kind=sip line (names in any case): S_OK, S_FALSE for
// a key that is not one, E_INVALIDARG for a value that cannot be one.
HRESULT SetSipOption(SipLine& line, std::wstring_view key, std::wstring_view value);

inline constexpr const wchar_t* kSipOptionKeys[] = {
    L"Agent",           L"AllowRemoteAgent", L"Uri",
    L"Domain",          L"ConnectTimeoutMs", L"UnreachableTimeoutMs",
    L"AnswerTimeoutMs", L"HangUpTimeoutMs"};

// Kind=sip (telsim/README.md, "SIP lines").
const LineKind& SipLineKind();

}  // namespace telsim::sip
