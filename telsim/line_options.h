// The values of a line kind's scenario keys that several kinds share.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

namespace telsim {

// A decimal number of at most nine digits, no sign, up to `max`.
std::optional<DWORD> ParseOptionNumber(std::wstring_view text, DWORD max);
// yes/no, true/false, 1/0, in any case.
std::optional<bool> ParseOptionFlag(std::wstring_view text);

}  // namespace telsim
