// Wide text as UTF-8, for messages on standard error and in test output.
#pragma once

#include <string>
#include <string_view>

namespace telsim {

std::string Utf8(std::wstring_view text);

}  // namespace telsim
