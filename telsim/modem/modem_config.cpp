#include "telsim/modem/modem_config.h"

#include "telsim/line_options.h"
#include "telsim/modem/serial_port.h"

#include <cwctype>
#include <optional>

namespace telsim::modem {
namespace {

std::wstring Lower(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return out;
}

// A command goes to the modem as typed; only printable ASCII, so nothing
// in it can end the command line early.
std::optional<std::string> ParseCommand(std::wstring_view text) {
    if (text.size() < 2 || std::towupper(text[0]) != L'A' || std::towupper(text[1]) != L'T') {
        return std::nullopt;
    }
    std::string command;
    for (wchar_t c : text) {
        if (c < 0x20 || c > 0x7e) {
            return std::nullopt;
        }
        command += static_cast<char>(c);
    }
    return command;
}

}  // namespace

std::wstring ModemConfig::Device() const {
    return devicePath.empty() ? SerialPort::DevicePath(port) : devicePath;
}

HRESULT SetModemOption(ModemConfig& config, std::wstring_view key, std::wstring_view value) {
    std::wstring name;
    for (wchar_t c : Lower(key)) {
        if (c != L'-' && c != L'_') {
            name += c;
        }
    }
    if (name == L"port") {
        std::wstring_view digits = value;
        if (Lower(value.substr(0, 3)) == L"com") {
            digits.remove_prefix(3);
        }
        const auto port = ParseOptionNumber(digits, 256);
        if (!port || *port == 0) {
            return E_INVALIDARG;
        }
        config.port = *port;
        return S_OK;
    }
    if (name == L"speed") {
        const auto baud = ParseOptionNumber(value, 4000000);
        if (!baud || *baud == 0) {
            return E_INVALIDARG;
        }
        config.baud = *baud;
        return S_OK;
    }
    if (name == L"init") {
        std::vector<std::string> commands;
        std::size_t start = 0;
        while (start <= value.size()) {
            const std::size_t bar = std::min(value.find(L'|', start), value.size());
            const auto command = ParseCommand(value.substr(start, bar - start));
            if (!command) {
                return E_INVALIDARG;
            }
            commands.push_back(*command);
            start = bar + 1;
        }
        config.init = std::move(commands);
        return S_OK;
    }
    if (name == L"dial") {
        const auto command = ParseCommand(value);
        if (!command) {
            return E_INVALIDARG;
        }
        config.dialCommand = *command;
        return S_OK;
    }
    if (name == L"voice") {
        const auto flag = ParseOptionFlag(value);
        if (!flag) {
            return E_INVALIDARG;
        }
        config.voice = *flag;
        return S_OK;
    }
    DWORD* timeout = name == L"commandtimeoutms"  ? &config.commandTimeoutMs
                     : name == L"answertimeoutms" ? &config.answerTimeoutMs
                     : name == L"guardms"         ? &config.guardMs
                     : name == L"commandgapms"    ? &config.commandGapMs
                                                  : nullptr;
    if (!timeout) {
        return S_FALSE;
    }
    const auto ms = ParseOptionNumber(value, 600000);
    if (!ms) {
        return E_INVALIDARG;
    }
    *timeout = *ms;
    return S_OK;
}

}  // namespace telsim::modem
