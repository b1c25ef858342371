#include "telsim/sip/agent_message.h"
#include "telsim/sip/json_reader.h"
#include "telsim/sip/netstring.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace telsim::sip;

namespace {

// As baresip 1.0.0 sends them (rtcp_stats abridged).
constexpr char kRinging[] =
    R"({"event":true,"type":"CALL_RINGING","class":"call","accountaor":"sip:caller@127.0.0.1",)"
    R"("direction":"outgoing","peeruri":"sip:callee@127.0.0.1:5080","id":"302233ee1631bda0",)"
    R"("param":"sip:callee@127.0.0.1:5080"})";
constexpr char kRtcp[] =
    R"({"event":true,"type":"CALL_RTCP","class":"call","id":"302233ee1631bda0",)"
    R"("rtcp_stats":{"tx":{"sent":52,"lost":0,"jit":1.25e-3},"rx":{"sent":-1,"lost":0},"rtt":[0,0.5,null,true]}})";

TEST(AgentMessage, ReadsResponsesAndEvents) {
    AgentMessage m;
    ASSERT_EQ(
        S_OK,
        ParseAgentMessage(
            R"({"response":true,"ok":false,"data":"command not found (bogus)\n","token":"t4"})",
            m));
    EXPECT_EQ(AgentMessage::Kind::Response, m.kind);
    EXPECT_FALSE(m.ok);
    EXPECT_EQ("command not found (bogus)\n", m.data);
    EXPECT_EQ("t4", m.token);

    ASSERT_EQ(S_OK, ParseAgentMessage(kRinging, m));
    EXPECT_EQ(AgentMessage::Kind::Event, m.kind);
    EXPECT_EQ("CALL_RINGING", m.type);
    EXPECT_EQ("call", m.eventClass);
    EXPECT_EQ("outgoing", m.direction);
    EXPECT_EQ("sip:callee@127.0.0.1:5080", m.peerUri);
    EXPECT_EQ("302233ee1631bda0", m.id);

    ASSERT_EQ(S_OK, ParseAgentMessage(kRtcp, m))
        << "nested objects, arrays and numbers are skipped";
    EXPECT_EQ("CALL_RTCP", m.type);
}

TEST(AgentMessage, DecodesStringEscapes) {
    AgentMessage m;
    ASSERT_EQ(S_OK, ParseAgentMessage(
                        R"({"event":true,"param":"a\"b\\c\/d\te\u00e9\u20ac\ud83d\ude00"})", m));
    EXPECT_EQ("a\"b\\c/d\te\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", m.param);
}

TEST(AgentMessage, RefusesMalformedInput) {
    for (const char* bad : {"",
                            "[]",
                            R"("event")",
                            R"({"event":true)",
                            R"({"event":true}x)",
                            R"({"event":true,})",
                            R"({"event":true "type":"x"})",
                            R"({'event':true})",
                            R"({"event":tru})",
                            R"({"event":TRUE})",
                            R"({"event":true,"n":01})",
                            R"({"event":true,"n":1.})",
                            R"({"event":true,"n":-})",
                            R"({"event":true,"n":1e})",
                            R"({"event":true,"type":"a)",
                            "{\"event\":true,\"type\":\"a\nb\"}",
                            R"({"event":true,"type":"\x41"})",
                            R"({"event":true,"type":"\u12"})",
                            R"({"event":true,"type":"\ud83d"})",
                            R"({"event":true,"type":"\ude00"})",
                            R"({"event":true,"type":"\u0000"})",
                            R"({"event":true,"event":true})",
                            R"({"event":true,"type":"a","type":"b"})",
                            R"({"event":true,"type":1})",
                            R"({"event":"true"})",
                            R"({"response":true,"ok":"yes"})",
                            R"({"event":true,"response":true})",
                            R"({"event":false})",
                            R"({"type":"CALL_CLOSED"})",
                            R"({"event":true,"x":{"a":1,}})",
                            R"({"event":true,"x":[1,]})",
                            R"({"event":true,"x":{1:2}})"}) {
        AgentMessage m;
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), ParseAgentMessage(bad, m)) << bad;
        EXPECT_EQ("", m.type) << bad;
    }
}

TEST(AgentMessage, RefusesInputBeyondTheLimits) {
    std::string deep = R"({"event":true,"x":)";
    for (int i = 0; i < 15; ++i) {
        deep += "[";
    }
    deep += std::string(15, ']') + "}";
    AgentMessage m;
    EXPECT_EQ(S_OK, ParseAgentMessage(deep, m)) << "16 levels";
    deep.insert(deep.find('['), "[");
    deep.insert(deep.rfind(']'), "]");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), ParseAgentMessage(deep, m)) << "17 levels";

    const std::string large = R"({"event":true,"param":")" + std::string(64 * 1024, 'x') + "\"}";
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), ParseAgentMessage(large, m));
}

// Whatever the parameters hold, the command reads back as exactly its three
// members, and the frame ends where it says.
TEST(AgentMessage, CommandsCannotBeExtendedByTheirText) {
    for (const std::string& hostile :
         {std::string(R"(x", "command": "quit)"), std::string("a\\\"}, {\"b"),
          std::string("5:quit,"), std::string("\x01\n\r\x1f\x7f", 5), std::string("}\"],:")}) {
        const std::string frame = EncodeCommand("dial", hostile, hostile);
        NetstringDecoder decoder;
        ASSERT_TRUE(decoder.Feed(frame + EncodeNetstring("next")));
        std::string json;
        ASSERT_EQ(NetstringDecoder::Status::Frame, decoder.Next(json));
        std::map<std::string, std::string> members;
        ASSERT_EQ(S_OK, ReadJsonObject(json,
                                       [&](std::string_view key, const JsonValue& value) {
                                           members[std::string(key)] = value.text;
                                           return S_OK;
                                       }))
            << json;
        const std::map<std::string, std::string> expected{
            {"command", "dial"}, {"params", hostile}, {"token", hostile}};
        EXPECT_EQ(expected, members) << json;
        ASSERT_EQ(NetstringDecoder::Status::Frame, decoder.Next(json));
        EXPECT_EQ("next", json);
    }
}

}  // namespace
