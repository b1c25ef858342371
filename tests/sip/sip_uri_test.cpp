#include "telsim/sip/agent_endpoint.h"
#include "telsim/sip/sip_uri.h"

#include <gtest/gtest.h>

#include <string>

using namespace telsim::sip;

namespace {

class SipUri : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, SipUriTemplate::Parse(L"sip:{number}@{domain}", L"sip.example.net", uri_));
    }
    std::string Build(std::wstring_view number) {
        std::string out = "unchanged";
        result_ = uri_.Build(number, out);
        return out;
    }
    SipUriTemplate uri_;
    HRESULT result_ = E_FAIL;
};

TEST_F(SipUri, KeepsDigitsStarHashAndALeadingPlus) {
    EXPECT_EQ("sip:+15550100100@sip.example.net", Build(L"+1 (555) 010-0100"));
    EXPECT_EQ("sip:95550100*%23@sip.example.net", Build(L"9,W555.0100@!*#"));
    EXPECT_EQ(S_OK, result_);
}

TEST_F(SipUri, RefusesNumbersThatCouldCarryAnythingElse) {
    for (const std::wstring& number :
         {std::wstring(L"555\"0100"), std::wstring(L"555\\0100"), std::wstring(L"555\x01"),
          std::wstring(L"555\n0100"),
          std::wstring(L"555\0"
                       L"0100",
                       8),
          std::wstring(L"5:quit,"), std::wstring(L"555;transport=tcp"), std::wstring(L"555%22"),
          std::wstring(L"555<sip:x>"), std::wstring(L"5550100@evil.example"),
          std::wstring(L"1+5550100"), std::wstring(L"555A"), std::wstring(L"\x0665\x0665\x0665"),
          std::wstring(L"\xFF15\xFF15"), std::wstring(L""), std::wstring(L"+ *#"),
          std::wstring(65, L'5')}) {
        EXPECT_EQ("", Build(number));
        EXPECT_EQ(E_INVALIDARG, result_);
    }
    std::string longest;
    EXPECT_EQ(S_OK, uri_.Build(std::wstring(64, L'5'), longest));
}

TEST(SipUriTemplateParse, RefusesTemplatesAndDomainsThatAreNotPlainUris) {
    SipUriTemplate uri;
    for (const auto& [tmpl, domain] :
         std::initializer_list<std::pair<const wchar_t*, const wchar_t*>>{
             {L"sip:user@{domain}", L"x"},
             {L"sip:{number}{number}@x", L""},
             {L"tel:{number}", L""},
             {L"{number}@x", L""},
             {L"sip:{number}@{domain}", L""},
             {L"sip:{number}@{domain}{domain}", L"x"},
             {L"sip:{number}@{host}", L""},
             {L"sip:{number}@\"x\"", L""},
             {L"sip:{number}@x\\y", L""},
             {L"sip:{number}@x y", L""},
             {L"sip:{number}@x\n", L""},
             {L"sip:{number}@x{", L""},
             {L"sip:{number}@{domain}", L"a b"},
             {L"sip:{number}@{domain}", L"a\"b"},
             {L"sip:{number}@{domain}", L"x,y"},
             {L"sip:{number}@{domain}", L"x;y"},
             {L"sip:{number}@{domain}", L"x/y"}}) {
        EXPECT_EQ(E_INVALIDARG, SipUriTemplate::Parse(tmpl, domain, uri)) << tmpl << L" " << domain;
    }
    std::string out;
    EXPECT_EQ(E_UNEXPECTED, uri.Build(L"5550100", out)) << "a refused template builds nothing";

    ASSERT_EQ(S_OK,
              SipUriTemplate::Parse(L"sips:{number}@{domain};transport=tls", L"[::1]:5061", uri));
    ASSERT_EQ(S_OK, uri.Build(L"5550100", out));
    EXPECT_EQ("sips:5550100@[::1]:5061;transport=tls", out);
}

TEST(AgentEndpointParse, TakesLoopbackOnlyUnlessAllowed) {
    AgentEndpoint endpoint;
    ASSERT_EQ(S_OK, ParseAgentEndpoint(L"127.0.0.1:6070", false, endpoint));
    EXPECT_EQ(0x7F000001u, endpoint.address);
    EXPECT_EQ(6070, endpoint.port);
    EXPECT_EQ(S_OK, ParseAgentEndpoint(L"localhost:1", false, endpoint));
    EXPECT_EQ(E_ACCESSDENIED, ParseAgentEndpoint(L"192.168.1.2:6070", false, endpoint));
    ASSERT_EQ(S_OK, ParseAgentEndpoint(L"192.168.1.2:6070", true, endpoint));
    EXPECT_EQ(0xC0A80102u, endpoint.address);
    for (const wchar_t* bad :
         {L"127.0.0.1", L"127.0.0.1:0", L"127.0.0.1:65536", L"127.1:80", L"01.0.0.1:5",
          L"127.0.0.256:5", L"[::1]:5", L"127.0.0.1:+5", L"127.0.0.1:5 ", L"host:5"}) {
        EXPECT_EQ(E_INVALIDARG, ParseAgentEndpoint(bad, true, endpoint)) << bad;
    }
}

}  // namespace
