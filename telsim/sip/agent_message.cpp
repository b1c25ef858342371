#include "telsim/sip/agent_message.h"

#include "telsim/sip/json_reader.h"
#include "telsim/sip/netstring.h"

namespace telsim::sip {
namespace {

using Kind = JsonValue::Kind;

HRESULT Flag(const JsonValue& value, bool& out) {
    if (value.kind != Kind::True && value.kind != Kind::False) {
        return MalformedData();
    }
    out = value.kind == Kind::True;
    return S_OK;
}

HRESULT Text(const JsonValue& value, std::string& out) {
    if (value.kind != Kind::String) {
        return MalformedData();
    }
    out = value.text;
    return S_OK;
}

}  // namespace

HRESULT ParseAgentMessage(std::string_view json, AgentMessage& out) {
    out = AgentMessage{};
    bool response = false;
    bool event = false;
    const HRESULT hr = ReadJsonObject(json, [&](std::string_view key, const JsonValue& value) {
        if (key == "response") {
            return Flag(value, response);
        }
        if (key == "event") {
            return Flag(value, event);
        }
        if (key == "ok") {
            return Flag(value, out.ok);
        }
        std::string* field = key == "data"        ? &out.data
                             : key == "token"     ? &out.token
                             : key == "type"      ? &out.type
                             : key == "class"     ? &out.eventClass
                             : key == "id"        ? &out.id
                             : key == "param"     ? &out.param
                             : key == "peeruri"   ? &out.peerUri
                             : key == "direction" ? &out.direction
                                                  : nullptr;
        return field ? Text(value, *field) : S_OK;
    });
    if (FAILED(hr)) {
        out = AgentMessage{};
        return hr;
    }
    if (response == event) {
        out = AgentMessage{};
        return MalformedData();
    }
    out.kind = response ? AgentMessage::Kind::Response : AgentMessage::Kind::Event;
    return S_OK;
}

std::string EncodeCommand(std::string_view command, std::string_view params,
                          std::string_view token) {
    return EncodeNetstring("{\"command\":" + JsonQuote(command) + ",\"params\":" +
                           JsonQuote(params) + ",\"token\":" + JsonQuote(token) + "}");
}

}  // namespace telsim::sip
