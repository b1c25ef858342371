// Modem lines and the location in the simulated service: scenario keys,
// translation through ITAddressTranslation, and a modem line whose port
// cannot be opened.
#include "telsim/modem/modem_config.h"
#include "telsim/scenario.h"
#include "telsim/telsim.h"

#include <gtest/gtest.h>

#include "support/bstr.h"
#include "support/hresult.h"
#include "support/scratch_file.h"

using Microsoft::WRL::ComPtr;

namespace {

// The modem behind a line, or null.
const telsim::modem::ModemConfig* ModemOf(const telsim::AddressSpec& line) {
    return dynamic_cast<const telsim::modem::ModemConfig*>(line.device.get());
}

class ModemScenario : public testing::Test {
protected:
    telsim::Scenario Read(const char* text, HRESULT expected = S_OK) {
        EXPECT_TRUE(file_.Write(text));
        telsim::Scenario scenario;
        std::wstring error;
        EXPECT_EQ(expected, telsim::ReadScenario(file_.Path(), scenario, error))
            << text << "\n"
            << std::string(error.begin(), error.end());
        error_ = error;
        return scenario;
    }

    test_support::ScratchFile file_;
    std::wstring error_;
};

TEST_F(ModemScenario, ModemLineKeysAreRead) {
    const auto scenario = Read(
        "[Line1]\nName=USB Modem\nKind=modem\nPort=COM7\nSpeed=57600\nInit=ATZ|ATE0V1|AT+FCLASS=1\n"
        "Dial=ATDP\nVoice=yes\nCommandTimeoutMs=1000\nAnswerTimeoutMs=30000\nGuardMs="
        "1200\nCommandGapMs=500\n"
        "[Line2]\nName=Plain\n");
    ASSERT_EQ(2u, scenario.addresses.size());
    const auto* modem = ModemOf(scenario.addresses[0]);
    ASSERT_TRUE(modem);
    EXPECT_EQ(7u, modem->port);
    EXPECT_EQ(57600u, modem->baud);
    EXPECT_EQ((std::vector<std::string>{"ATZ", "ATE0V1", "AT+FCLASS=1"}), modem->init);
    EXPECT_EQ("ATDP", modem->dialCommand);
    EXPECT_TRUE(modem->voice);
    EXPECT_EQ(1000u, modem->commandTimeoutMs);
    EXPECT_EQ(30000u, modem->answerTimeoutMs);
    EXPECT_EQ(1200u, modem->guardMs);
    EXPECT_EQ(500u, modem->commandGapMs);
    EXPECT_FALSE(ModemOf(scenario.addresses[1]));
    EXPECT_FALSE(scenario.location);
}

TEST_F(ModemScenario, ModemLineDefaultsWhenOnlyTheKindIsGiven) {
    const auto scenario = Read("[Line1]\nKind=Modem\n");
    ASSERT_TRUE(ModemOf(scenario.addresses.at(0)));
    EXPECT_EQ(1u, ModemOf(scenario.addresses[0])->port);
    EXPECT_EQ((std::vector<std::string>{"ATZ", "ATE0V1"}), ModemOf(scenario.addresses[0])->init);
}

TEST_F(ModemScenario, MistakesAreRefusedWithTheirPlace) {
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"[Line1]\nPort=COM3\n", L"[Line1] Port"},
        {"[Line1]\nKind=isdn\n", L"[Line1] Kind"},
        {"[Line1]\nKind=modem\nPort=COM0\n", L"[Line1] Port"},
        {"[Line1]\nKind=modem\nInit=ATZ|+++\n", L"[Line1] Init"},
        {"[Line1]\nKind=modem\nVoice=perhaps\n", L"[Line1] Voice"},
        {"[Location]\nCountryCode=1\nAreaCode=5x5\n", L"[Location] AreaCode"},
        {"[Location]\nCountryCode=\n", L"[Location] CountryCode"},
        {"[Location]\nCountryCode=1\nCity=Springfield\n", L"[Location] unknown key"},
    };
    for (const auto& [text, place] : cases) {
        Read(text, HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
        EXPECT_NE(std::wstring::npos, error_.find(place))
            << text << std::string(error_.begin(), error_.end());
    }
}

TEST_F(ModemScenario, LocationIsRead) {
    const auto scenario = Read(
        "[Location]\nCountryCode=44\nAreaCode=20\nOutsideLine=9,\nLongDistance=0\nInternational="
        "00\n");
    ASSERT_TRUE(scenario.location);
    EXPECT_EQ(L"44", scenario.location->countryCode);
    EXPECT_EQ(L"20", scenario.location->areaCode);
    EXPECT_EQ(L"9,", scenario.location->outsideLine);
    EXPECT_EQ(L"0", scenario.location->longDistance);
    EXPECT_EQ(L"00", scenario.location->international);
}

// One initialised root and its first address, released in order.
struct World {
    std::shared_ptr<telsim::Service> service = telsim::Service::Create();
    ComPtr<ITTAPI> tapi;
    ComPtr<ITAddress> address;

    void Open() {
        ASSERT_HR(S_OK, service->CreateRoot(nullptr, IID_ITTAPI, &tapi));
        ASSERT_HR(S_OK, tapi->Initialize());
        ComPtr<IEnumAddress> addresses;
        ASSERT_HR(S_OK, tapi->EnumerateAddresses(&addresses));
        ASSERT_HR(S_OK, addresses->Next(1, &address, nullptr));
    }
    std::wstring Translate(const wchar_t* number) {
        ComPtr<ITAddressTranslation> translation;
        EXPECT_HR(S_OK, address.As(&translation));
        ComPtr<ITAddressTranslationInfo> info;
        EXPECT_HR(S_OK,
                  translation->TranslateAddress(test_support::Bstr(number).Get(), 0, 0, &info));
        test_support::Bstr dialable;
        EXPECT_HR(S_OK, info->get_DialableString(dialable.Receive()));
        return dialable.Text();
    }
    void Close() {
        address.Reset();
        if (tapi)
            tapi->Shutdown();
        tapi.Reset();
        service->Notifications().WaitIdle();
    }
};

TEST(ModemLine, TranslationFollowsTheLocationOnEveryLine) {
    World world;
    telsim::Location location;
    location.countryCode = L"1";
    location.areaCode = L"555";
    world.service->World().SetLocation(location);
    world.Open();
    EXPECT_EQ(L"0100100", world.Translate(L"+1 (555) 010-0100"));
    EXPECT_EQ(L"5550100", world.Translate(L"555-0100"));
    world.Close();
    EXPECT_EQ("", world.service->Ledger().Leaks());
}

TEST(ModemLine, WithoutALocationTheNumberIsDialledAsGiven) {
    World world;
    world.Open();
    EXPECT_EQ(L"+1 (555) 010-0100", world.Translate(L"+1 (555) 010-0100"));
    world.Close();
    EXPECT_EQ("", world.service->Ledger().Leaks());
}

TEST(ModemLine, PortThatCannotBeOpenedFailsTheCallsConnectAndReportsNothing) {
    World world;
    telsim::AddressSpec line{L"Missing Modem"};
    auto config = std::make_shared<telsim::modem::ModemConfig>();
    config->port = 252;  // nothing is linked there
    line.device = config;
    world.service->World().SetAddresses({line});
    world.Open();
    ComPtr<ITBasicCallControl> call;
    ASSERT_HR(S_OK, world.address->CreateCall(test_support::Bstr(L"5550100").Get(),
                                              LINEADDRESSTYPE_PHONENUMBER, 24, &call));
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), call->Connect(VARIANT_FALSE));
    world.service->Notifications().WaitIdle();
    EXPECT_EQ(CS_IDLE, world.service->World().CallStateOf(call.Get()));
    // Never started: nothing to drop.
    EXPECT_HR(S_FALSE, call->Disconnect(DC_NORMAL));  // the call stayed idle
    call.Reset();
    world.Close();
    EXPECT_EQ("", world.service->Ledger().Leaks());
}

}  // namespace
