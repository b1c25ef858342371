#include "telsim/modem/modem_config.h"
#include "telsim/modem/result_codes.h"

#include <gtest/gtest.h>

#include "support/hresult.h"

using namespace telsim::modem;

TEST(ModemConfig, DefaultsInitialiseForWordResultsAndDialByTone) {
    const ModemConfig config;
    EXPECT_EQ((std::vector<std::string>{"ATZ", "ATE0V1"}), config.init);
    EXPECT_EQ("ATDT", config.dialCommand);
    EXPECT_FALSE(config.voice);
    EXPECT_EQ(L"\\\\.\\COM1", config.Device());
}

TEST(ModemConfig, OptionsAreParsed) {
    ModemConfig config;
    EXPECT_HR(S_OK, SetModemOption(config, L"port", L"COM12"));
    EXPECT_EQ(12u, config.port);
    EXPECT_HR(S_OK, SetModemOption(config, L"Port", L"256"));
    EXPECT_EQ(L"\\\\.\\COM256", config.Device());
    EXPECT_HR(S_OK, SetModemOption(config, L"speed", L"57600"));
    EXPECT_EQ(57600u, config.baud);
    EXPECT_HR(S_OK, SetModemOption(config, L"init", L"ATZ|ATE0V1|AT+FCLASS=1"));
    EXPECT_EQ((std::vector<std::string>{"ATZ", "ATE0V1", "AT+FCLASS=1"}), config.init);
    EXPECT_HR(S_OK, SetModemOption(config, L"dial", L"ATDP"));
    EXPECT_EQ("ATDP", config.dialCommand);
    EXPECT_HR(S_OK, SetModemOption(config, L"voice", L"yes"));
    EXPECT_TRUE(config.voice);
    EXPECT_HR(S_OK, SetModemOption(config, L"answer-timeout-ms", L"1500"));
    EXPECT_HR(S_OK, SetModemOption(config, L"CommandGapMs", L"250"));
    EXPECT_EQ(250u, config.commandGapMs);
    EXPECT_EQ(1500u, config.answerTimeoutMs);
    EXPECT_HR(S_FALSE, SetModemOption(config, L"colour", L"blue"));
}

TEST(ModemConfig, BadValuesAreRefusedAndLeaveTheConfigAlone) {
    ModemConfig config;
    for (const wchar_t* port : {L"COM0", L"COM257", L"LPT1", L"", L"COM1x"})
        EXPECT_HR(E_INVALIDARG, SetModemOption(config, L"port", port)) << "port " << port;
    EXPECT_EQ(1u, config.port);
    EXPECT_HR(E_INVALIDARG, SetModemOption(config, L"init", L"ATZ|ATH0\rATD123"));
    EXPECT_HR(E_INVALIDARG, SetModemOption(config, L"init", L"ATZ||ATE0"));
    EXPECT_HR(E_INVALIDARG, SetModemOption(config, L"init", L"+++"));
    EXPECT_HR(E_INVALIDARG, SetModemOption(config, L"dial", L"D"));
    EXPECT_HR(E_INVALIDARG, SetModemOption(config, L"voice", L"maybe"));
    EXPECT_HR(E_INVALIDARG, SetModemOption(config, L"speed", L"fast"));
    EXPECT_HR(E_INVALIDARG, SetModemOption(config, L"guard-ms", L"-1"));
    EXPECT_EQ((std::vector<std::string>{"ATZ", "ATE0V1"}), config.init);
    EXPECT_EQ("ATDT", config.dialCommand);
}

TEST(ResultCodes, WordsAndDigitsAreRecognised) {
    EXPECT_EQ(ResultCode::Connect, ParseResultLine("CONNECT"));
    EXPECT_EQ(ResultCode::Connect, ParseResultLine("CONNECT 33600/ARQ"));
    EXPECT_EQ(ResultCode::Busy, ParseResultLine("  BUSY\r"));
    EXPECT_EQ(ResultCode::NoCarrier, ParseResultLine("NO CARRIER"));
    EXPECT_EQ(ResultCode::NoDialtone, ParseResultLine("NO DIALTONE"));
    EXPECT_EQ(ResultCode::NoDialtone, ParseResultLine("NO DIAL TONE"));
    EXPECT_EQ(ResultCode::NoAnswer, ParseResultLine("NO ANSWER"));
    EXPECT_EQ(ResultCode::Error, ParseResultLine("ERROR"));
    EXPECT_EQ(ResultCode::Ok, ParseResultLine("0"));
    EXPECT_EQ(ResultCode::Busy, ParseResultLine("7"));
    // Echoed commands and information text are not results.
    EXPECT_FALSE(ParseResultLine("ATDT5550100"));
    EXPECT_FALSE(ParseResultLine("CONNECTED"));
    EXPECT_FALSE(ParseResultLine("OKAY"));
    EXPECT_FALSE(ParseResultLine(""));
}
