// Where a SIP line reaches its agent's control module: "host:port" with an
// IPv4 address or "localhost". The control module obeys anyone who
// connects, so an address off this machine is refused unless the line's
// configuration allows it explicitly.
#pragma once

#include <windows.h>

#include <string_view>

namespace telsim::sip {

struct AgentEndpoint {
    ULONG address = 0x7F000001;  // host byte order
    USHORT port = 0;
};

// E_INVALIDARG for text that is not an address and port 1..65535;
// E_ACCESSDENIED for an address outside 127.0.0.0/8 when !allowRemote.
HRESULT ParseAgentEndpoint(std::wstring_view text, bool allowRemote, AgentEndpoint& out);

}  // namespace telsim::sip
