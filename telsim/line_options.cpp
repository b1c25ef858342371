#include "telsim/line_options.h"

#include <cwchar>
#include <string>

namespace telsim {

std::optional<DWORD> ParseOptionNumber(std::wstring_view text, DWORD max) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    DWORD value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<DWORD>(c - L'0');
    }
    if (value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<bool> ParseOptionFlag(std::wstring_view text) {
    const std::wstring flag(text);
    for (const wchar_t* yes : {L"yes", L"true", L"1"}) {
        if (_wcsicmp(flag.c_str(), yes) == 0) {
            return true;
        }
    }
    for (const wchar_t* no : {L"no", L"false", L"0"}) {
        if (_wcsicmp(flag.c_str(), no) == 0) {
            return false;
        }
    }
    return std::nullopt;
}

}  // namespace telsim
