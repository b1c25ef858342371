// How a modem line talks to its modem, as a scenario describes it.
#pragma once

#include "telsim/call_driver.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace telsim::modem {

// As a line device, it makes a ModemDriver for each call on the line.
struct ModemConfig final : LineDevice {
    unsigned port = 1;        // COM1 to COM256
    std::wstring devicePath;  // overrides `port` when set
    DWORD baud = 115200;
    // Each command is sent on its own line and must be answered with OK.
    std::vector<std::string> init{"ATZ", "ATE0V1"};
    std::string dialCommand = "ATDT";
    bool voice = false;             // dial "<number>;" and stay in command mode
    DWORD commandTimeoutMs = 5000;  // for OK after each command
    DWORD answerTimeoutMs = 60000;  // for the dial command's final result
    DWORD guardMs = 1100;           // silence around the "+++" escape
    // A pause after each command's OK before the next command. Some modems
    // (iaxmodem among them) take a while to settle after a command even
    // though they have answered it.
    DWORD commandGapMs = 0;
    DWORD readSliceMs = 50;

    std::wstring Device() const;
    std::unique_ptr<CallDriver> MakeDriver(CallReports& reports) const override;
};

// Applies one scenario option to `config` (keys in any case, '-' and '_'
// ignored, so CommandTimeoutMs and command-timeout-ms are one key):
//   port=COM3 (or 3), speed=57600, init=ATZ|ATE0V1|AT+FCLASS=1,
//   dial=ATDT, voice=yes|no, command-timeout-ms=, answer-timeout-ms=,
//   guard-ms=, command-gap-ms=.
// S_OK when applied, S_FALSE for a key that is not a modem option,
// E_INVALIDARG for a bad value (a command that does not start with AT or
// holds a line break, a port outside 1..256, a number that is not one).
HRESULT SetModemOption(ModemConfig& config, std::wstring_view key, std::wstring_view value);

// The option keys as a scenario file writes them.
inline constexpr const wchar_t* kModemOptionKeys[] = {
    L"Port",    L"Speed",       L"Init", L"Dial", L"Voice", L"CommandTimeoutMs", L"AnswerTimeoutMs",
    L"GuardMs", L"CommandGapMs"};

}  // namespace telsim::modem
