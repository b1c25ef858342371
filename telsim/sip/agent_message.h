// The SIP agent's control messages (baresip's ctrl_tcp): commands going
// out, responses and events coming in, each the JSON text of one netstring.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace telsim::sip {

struct AgentMessage {
    enum class Kind { Response, Event };
    Kind kind = Kind::Event;
    // A response to the command with the same token.
    bool ok = false;
    std::string data;
    std::string token;
    // An event: its type ("CALL_ESTABLISHED"), class ("call" for call
    // states), the call's id (absent on some early events), its parameter
    // (CALL_CLOSED: the reason), the far end and "incoming"/"outgoing".
    std::string type;
    std::string eventClass;
    std::string id;
    std::string param;
    std::string peerUri;
    std::string direction;
};

// Exactly one of "response" or "event" must be true; the fields read must
// have their JSON types (ok a boolean, the others strings); other members
// are ignored. Malformed input: HRESULT_FROM_WIN32(ERROR_INVALID_DATA).
HRESULT ParseAgentMessage(std::string_view json, AgentMessage& out);

// One command as the netstring to send. The parameters and the token are
// JSON-quoted, so no text in them can add a member or end the frame.
std::string EncodeCommand(std::string_view command, std::string_view params,
                          std::string_view token);

}  // namespace telsim::sip
