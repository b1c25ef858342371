// The final result codes of a Hayes-compatible modem, in words (V1) or
// digits (V0).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace telsim::modem {

enum class ResultCode { Ok, Connect, Ring, NoCarrier, Error, NoDialtone, Busy, NoAnswer };

// The result code a response line carries, or nullopt for any other line
// (a command's echo, information text). Surrounding blanks are ignored;
// "CONNECT" may carry a speed or protocol ("CONNECT 33600/ARQ").
std::optional<ResultCode> ParseResultLine(std::string_view line);

const char* ResultName(ResultCode code);

}  // namespace telsim::modem
