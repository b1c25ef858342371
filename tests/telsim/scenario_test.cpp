// The scenario reader behind TelSim.dll.
#include "telsim/scenario.h"

#include <gtest/gtest.h>

#include "support/hresult.h"
#include "support/scratch_file.h"

namespace {

class ScenarioFile : public ::testing::Test {
protected:
    test_support::ScratchFile file;

    void Write(const char* text) { ASSERT_TRUE(file.Write(text)); }
    telsim::Scenario Read(HRESULT expected = S_OK) {
        telsim::Scenario scenario;
        std::wstring error;
        EXPECT_EQ(expected, telsim::ReadScenario(file.Path(), scenario, error))
            << std::string(error.begin(), error.end());
        lastError = error;
        return scenario;
    }
    std::wstring lastError;
};

TEST(DefaultScenario, TwoSuitableLinesAndOneUnsuitable) {
    const telsim::Scenario scenario = telsim::DefaultScenario();
    ASSERT_EQ(3u, scenario.addresses.size());
    int suitable = 0;
    for (const auto& line : scenario.addresses) {
        suitable += line.capabilities && line.mediaSupport && (line.addressTypes & 1) &&
                    !line.mediaAnswer && (line.mediaTypes & 24) == 24;
    }
    EXPECT_EQ(2, suitable);
    ASSERT_EQ(2u, scenario.script.onConnect.size());
    EXPECT_EQ(CS_INPROGRESS, scenario.script.onConnect[0].state);
    EXPECT_EQ(0u, scenario.script.onConnect[0].delayMs);
    EXPECT_EQ(CS_CONNECTED, scenario.script.onConnect[1].state);
    EXPECT_EQ(1500u, scenario.script.onConnect[1].delayMs);
}

TEST_F(ScenarioFile, LinesWithNamesAndCapabilities) {
    Write(
        "[Line1]\r\nName=Modem, with comma\r\nMediaAnswer=1\r\n"
        "[Line2]\r\nName=\r\nTranslation=no\r\nAddressTypes=0x6\r\n"
        "[Line3]\r\nNullName=yes\r\nCapabilities=0\r\nNameResult=0x80004005\r\n");
    const telsim::Scenario scenario = Read();
    ASSERT_EQ(3u, scenario.addresses.size());
    EXPECT_EQ(L"Modem, with comma", scenario.addresses[0].name.value());
    EXPECT_EQ(1, scenario.addresses[0].mediaAnswer);
    EXPECT_EQ(L"", scenario.addresses[1].name.value());
    EXPECT_FALSE(scenario.addresses[1].translation);
    EXPECT_EQ(6, scenario.addresses[1].addressTypes);
    EXPECT_FALSE(scenario.addresses[2].name.has_value());
    EXPECT_FALSE(scenario.addresses[2].capabilities);
    EXPECT_HR(E_FAIL, scenario.addresses[2].nameResult);
}

TEST_F(ScenarioFile, DeliveryMediaAndHangUp) {
    Write("[Line1]\n");
    const telsim::Scenario strict = Read();
    EXPECT_EQ(telsim::Delivery::Apartment, strict.delivery);
    EXPECT_EQ(telsim::Hangup::AfterDelivery, strict.hangup);
    EXPECT_EQ(telsim::Objects::Bound, strict.objects);
    EXPECT_EQ(telsim::EventThread::ReadsOnly, strict.eventThread);
    Write(
        "[Service]\nDelivery=thread\nHangup=prompt\nObjects=agile\nEventThread=any\n"
        "[Line1]\nMediaTypes=audio, datamodem\n[Line2]\nMediaTypes=datamodem\n"
        "[Call]\nHangupMs=2000\nHangupTimesOut=yes\nHangupLimitMs=300\n");
    const telsim::Scenario scenario = Read();
    EXPECT_EQ(telsim::Delivery::NotificationThread, scenario.delivery);
    EXPECT_EQ(telsim::Hangup::Prompt, scenario.hangup);
    EXPECT_EQ(telsim::Objects::Agile, scenario.objects);
    EXPECT_EQ(telsim::EventThread::Any, scenario.eventThread);
    EXPECT_EQ(300u, scenario.script.hangupLimitMs);
    ASSERT_EQ(2u, scenario.addresses.size());
    EXPECT_EQ(TAPIMEDIATYPE_AUDIO | TAPIMEDIATYPE_DATAMODEM, scenario.addresses[0].mediaTypes);
    EXPECT_EQ(TAPIMEDIATYPE_DATAMODEM, scenario.addresses[1].mediaTypes);
    EXPECT_EQ(2000u, scenario.script.hangupMs);
    EXPECT_TRUE(scenario.script.hangupTimesOut);
}

TEST_F(ScenarioFile, LinesCountAllowsNoLinesAtAll) {
    Write("[Service]\nLines=0\n");
    EXPECT_TRUE(Read().addresses.empty());
    Write("[Service]\nLines=2\n");
    const auto scenario = Read();
    ASSERT_EQ(2u, scenario.addresses.size());
    EXPECT_EQ(L"Line 2", scenario.addresses[1].name.value());
}

TEST_F(ScenarioFile, CallProgressInWordsAndSteps) {
    Write("[Call]\nProgress=busy\nHangup=none\n");
    auto scenario = Read();
    ASSERT_EQ(2u, scenario.script.onConnect.size());
    EXPECT_EQ(CS_DISCONNECTED, scenario.script.onConnect[1].state);
    EXPECT_EQ(CEC_DISCONNECT_BUSY, scenario.script.onConnect[1].cause);
    EXPECT_TRUE(scenario.script.onDisconnect.empty());

    Write(
        "[Call]\nProgress=inprogress, connected after 1500, hold after 20, disconnected after 5 "
        "noanswer\n"
        "Streams=audio capture, datamodem bidirectional nodefault\nStreamControl=yes\n");
    scenario = Read();
    const auto& steps = scenario.script.onConnect;
    ASSERT_EQ(4u, steps.size());
    EXPECT_EQ(CS_INPROGRESS, steps[0].state);
    EXPECT_EQ(1500u, steps[1].delayMs);
    EXPECT_EQ(CS_HOLD, steps[2].state);
    EXPECT_EQ(CEC_DISCONNECT_NOANSWER, steps[3].cause);
    ASSERT_EQ(2u, scenario.script.streams.size());
    EXPECT_EQ(TAPIMEDIATYPE_DATAMODEM, scenario.script.streams[1].mediaType);
    EXPECT_EQ(TD_BIDIRECTIONAL, scenario.script.streams[1].direction);
    EXPECT_FALSE(scenario.script.streams[1].hasDefaultTerminal);
}

TEST_F(ScenarioFile, FaultsByOperationName) {
    Write(
        "[Service]\nCreateFails=0x80040154\nDelivery=sync\n"
        "[Faults]\nITTAPI::Initialize=0x80040059\nitaddress::createcall=0x80040052 skip 1 count 2\n"
        "ITTAPI::EnumerateAddresses=null\n");
    const auto scenario = Read();
    EXPECT_HR(static_cast<HRESULT>(0x80040154), scenario.creationFailure);
    EXPECT_EQ(telsim::Delivery::Synchronous, scenario.delivery);
    ASSERT_EQ(3u, scenario.faults.size());
    EXPECT_EQ(telsim::op::Initialize, scenario.faults[0].first);
    EXPECT_HR(static_cast<HRESULT>(0x80040059), scenario.faults[0].second.hr);
    EXPECT_EQ(telsim::op::CreateCall, scenario.faults[1].first);
    EXPECT_EQ(1, scenario.faults[1].second.skip);
    EXPECT_EQ(2, scenario.faults[1].second.count);
    EXPECT_TRUE(scenario.faults[2].second.nullOut);
}

TEST_F(ScenarioFile, MistakesAreRefusedWithTheirPlace) {
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"[Line1]\nNmae=Modem\n", L"[Line1] unknown key \"Nmae\""},
        {"[Call]\nProgress=connected after soon\n", L"[Call] Progress"},
        {"[Call]\nProgress=ringing\n", L"[Call] Progress"},
        {"[Faults]\nITTAPI::Initialise=0x80004005\n", L"unknown operation \"ITTAPI::Initialise\""},
        {"[Faults]\nITTAPI::Initialize=0\n", L"is not a failure"},
        {"[Service]\nDelivery=later\n", L"[Service] Delivery"},
        {"[Service]\nEventThread=lenient\n", L"[Service] EventThread"},
        {"[Line1]\nCapabilities=perhaps\n", L"[Line1] Capabilities"},
        {"[Line1]\nMediaTypes=voice\n", L"[Line1] MediaTypes"},
        {"[Call]\nHangupMs=-1\n", L"[Call] HangupMs"},
    };
    for (const auto& [text, expected] : cases) {
        Write(text);
        Read(HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
        EXPECT_NE(std::wstring::npos, lastError.find(expected)) << text;
    }
}

TEST_F(ScenarioFile, MissingFileIsAnError) {
    DeleteFileW(file.Path().c_str());
    Read(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(std::wstring::npos, lastError.find(L"not found"));
}

TEST(ScenarioPath, EnvironmentComesFirst) {
    SetEnvironmentVariableW(L"BREVLIN_TELSIM_SCENARIO", L"C:\\demo\\busy.ini");
    EXPECT_EQ(L"C:\\demo\\busy.ini", telsim::ScenarioPath());
    SetEnvironmentVariableW(L"BREVLIN_TELSIM_SCENARIO", nullptr);
}

}  // namespace

namespace {

TEST(ShippedScenarios, AllParse) {
    for (const wchar_t* name : {L"busy.ini", L"noanswer.ini", L"no-lines.ini", L"init-fails.ini",
                                L"slow-connect.ini", L"../../examples/scenarios/windows.ini"}) {
        telsim::Scenario scenario;
        std::wstring error;
        EXPECT_HR(S_OK, telsim::ReadScenario(std::wstring(TELSIM_SCENARIOS) + L"/" + name, scenario,
                                             error))
            << std::string(error.begin(), error.end());
    }
}

}  // namespace

namespace {

TEST(ShippedScenarios, WindowsMachineOffersOneVoiceModem) {
    telsim::Scenario scenario;
    std::wstring error;
    ASSERT_HR(S_OK, telsim::ReadScenario(
                        std::wstring(TELSIM_SCENARIOS) + L"/../../examples/scenarios/windows.ini",
                        scenario, error));
    std::vector<std::wstring> voice;
    int dataOnly = 0;
    int noPhoneNumbers = 0;
    for (const auto& line : scenario.addresses) {
        const bool phone = (line.addressTypes & LINEADDRESSTYPE_PHONENUMBER) != 0;
        noPhoneNumbers += !phone;
        dataOnly += phone && line.mediaTypes == TAPIMEDIATYPE_DATAMODEM;
        if (phone && (line.mediaTypes & TAPIMEDIATYPE_AUDIO))
            voice.push_back(line.name.value());
    }
    EXPECT_EQ(std::vector<std::wstring>{L"USB Voice Modem"}, voice);
    EXPECT_EQ(1, dataOnly);
    EXPECT_EQ(3, noPhoneNumbers);
}

}  // namespace
