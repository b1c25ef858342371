#include "telsim/sip/sip_line.h"

#include "comkit/result.h"
#include "telsim/line_options.h"
#include "telsim/sip/agent_connection.h"
#include "telsim/sip/sip_driver.h"

#include <cwchar>
#include <string>

namespace telsim::sip {
namespace {

bool Is(std::wstring_view key, const wchar_t* name) {
    return _wcsicmp(std::wstring(key).c_str(), name) == 0;
}

}  // namespace

HRESULT SetSipOption(SipLine& line, std::wstring_view key, std::wstring_view value) {
    AgentEndpoint endpoint;
    SipUriTemplate uri;
    if (Is(key, L"Agent")) {
        // Whether it may be off this machine is known once every key is read.
        if (FAILED(ParseAgentEndpoint(value, true, endpoint))) {
            return E_INVALIDARG;
        }
        line.agent = value;
        return S_OK;
    }
    if (Is(key, L"AllowRemoteAgent")) {
        const auto allow = ParseOptionFlag(value);
        if (!allow) {
            return E_INVALIDARG;
        }
        line.allowRemoteAgent = *allow;
        return S_OK;
    }
    if (Is(key, L"Uri")) {
        RETURN_IF_FAILED(SipUriTemplate::Parse(value, L"example.invalid", uri));
        line.uriTemplate = value;
        return S_OK;
    }
    if (Is(key, L"Domain")) {
        RETURN_IF_FAILED(SipUriTemplate::Parse(L"sip:{number}@{domain}", value, uri));
        line.domain = value;
        return S_OK;
    }
    DWORD* timeout = Is(key, L"ConnectTimeoutMs")       ? &line.timeouts.connectMs
                     : Is(key, L"UnreachableTimeoutMs") ? &line.timeouts.unreachableMs
                     : Is(key, L"AnswerTimeoutMs")      ? &line.timeouts.answerMs
                     : Is(key, L"HangUpTimeoutMs")      ? &line.timeouts.hangUpMs
                                                        : nullptr;
    if (!timeout) {
        return S_FALSE;
    }
    const auto ms = ParseOptionNumber(value, 600000);
    if (!ms || *ms == 0) {
        return E_INVALIDARG;
    }
    *timeout = *ms;
    return S_OK;
}

std::wstring SipLine::Complete() {
    if (agent.empty()) {
        return L"Agent: a SIP line needs its agent's control address (Agent=127.0.0.1:PORT)";
    }
    if (ParseAgentEndpoint(agent, allowRemoteAgent, endpoint) == E_ACCESSDENIED) {
        return L"Agent: \"" + agent +
               L"\" is not on this machine; the control port obeys anyone who reaches it, so only "
               L"AllowRemoteAgent=yes lets a line use it";
    }
    if (FAILED(SipUriTemplate::Parse(uriTemplate, domain, uri))) {
        return L"Domain: the Uri \"" + uriTemplate + L"\" needs a Domain";
    }
    return {};
}

std::unique_ptr<CallDriver> SipLine::MakeDriver(CallReports& reports) const {
    return std::make_unique<SipDriver>(std::make_shared<SipLine>(*this), reports);
}

const LineKind& SipLineKind() {
    static const LineKind kind{
        L"sip",
        {std::begin(kSipOptionKeys), std::end(kSipOptionKeys)},
        [] { return std::shared_ptr<LineDevice>(std::make_shared<SipLine>()); },
        [](LineDevice& device, std::wstring_view key, std::wstring_view value) {
            return SetSipOption(static_cast<SipLine&>(device), key, value);
        },
        []() noexcept { return AgentConnection::Running(); },
        [](LineDevice& device) { return static_cast<SipLine&>(device).Complete(); },
    };
    return kind;
}

}  // namespace telsim::sip
