// A Kind=sip line as a scenario describes it: its keys, the timeout names
// it shares with modem lines, and the mistakes refused when the file is read.
#include "telsim/scenario.h"
#include "telsim/sip/sip_line.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

// The scenario `text` read from a file; `error` gets the reader's complaint.
HRESULT ReadText(const char* text, telsim::Scenario& scenario, std::wstring& error) {
    wchar_t dir[MAX_PATH];
    wchar_t file[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"sip", 0, file);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    const HRESULT hr = telsim::ReadScenario(file, scenario, error);
    DeleteFileW(file);
    return hr;
}

TEST(SipScenario, LineKeysAreRead) {
    telsim::Scenario scenario;
    std::wstring error;
    ASSERT_EQ(
        S_OK,
        ReadText("[Line1]\nKind=SIP\nAgent=localhost:4444\nUri=sips:{number}@{domain};user=phone\n"
                 "Domain=sip.example.net:5061\nConnectTimeoutMs=500\nUnreachableTimeoutMs=7000\n"
                 "AnswerTimeoutMs=30000\nHangUpTimeoutMs=1500\n"
                 "[Line2]\nKind=sip\nAgent=10.0.0.7:4444\nAllowRemoteAgent=yes\n"
                 "Uri=sip:{number}@pbx.local\n",
                 scenario, error))
        << std::string(error.begin(), error.end());
    const auto* line =
        dynamic_cast<const telsim::sip::SipLine*>(scenario.addresses.at(0).device.get());
    ASSERT_TRUE(line);
    EXPECT_EQ(0x7F000001u, line->endpoint.address);
    EXPECT_EQ(4444, line->endpoint.port);
    std::string uri;
    EXPECT_EQ(S_OK, line->uri.Build(L"+1 555 0100", uri));
    EXPECT_EQ("sips:+15550100@sip.example.net:5061;user=phone", uri);
    EXPECT_EQ(500u, line->timeouts.connectMs);
    EXPECT_EQ(7000u, line->timeouts.unreachableMs);
    EXPECT_EQ(30000u, line->timeouts.answerMs);
    EXPECT_EQ(1500u, line->timeouts.hangUpMs);
    const auto* remote =
        dynamic_cast<const telsim::sip::SipLine*>(scenario.addresses.at(1).device.get());
    ASSERT_TRUE(remote);
    EXPECT_EQ(0x0A000007u, remote->endpoint.address);
}

TEST(SipScenario, MistakesAreRefusedWithTheirPlace) {
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"[Line1]\nKind=sip\n", L"[Line1] Agent"},
        {"[Line1]\nKind=sip\nAgent=127.0.0.1\n", L"[Line1] Agent"},
        {"[Line1]\nKind=sip\nAgent=10.0.0.7:4444\n", L"AllowRemoteAgent=yes"},
        {"[Line1]\nKind=sip\nAgent=127.0.0.1:4444\n", L"[Line1] Domain"},
        {"[Line1]\nKind=sip\nAgent=127.0.0.1:4444\nUri=sip:{number}\"@x\n", L"[Line1] Uri"},
        {"[Line1]\nKind=sip\nAgent=127.0.0.1:4444\nDomain=a b\n", L"[Line1] Domain"},
        {"[Line1]\nKind=sip\nAgent=127.0.0.1:4444\nDomain=x\nHangUpTimeoutMs=0\n",
         L"[Line1] HangUpTimeoutMs"},
        {"[Line1]\nKind=sip\nAgent=127.0.0.1:4444\nDomain=x\nPort=COM1\n", L"[Line1] Port"},
        {"[Line1]\nKind=modem\nAgent=127.0.0.1:4444\n", L"[Line1] Agent"},
    };
    for (const auto& [text, place] : cases) {
        telsim::Scenario scenario;
        std::wstring error;
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), ReadText(text, scenario, error)) << text;
        EXPECT_NE(std::wstring::npos, error.find(place))
            << text << std::string(error.begin(), error.end());
    }
}

}  // namespace
