#include "telsim/modem/result_codes.h"

namespace telsim::modem {
namespace {

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<ResultCode> ParseResultLine(std::string_view line) {
    line = Trim(line);
    if (line == "OK" || line == "0") {
        return ResultCode::Ok;
    }
    if (line == "CONNECT" || line == "1" || line == "5") {
        return ResultCode::Connect;
    }
    if (line.substr(0, 8) == "CONNECT ") {
        return ResultCode::Connect;
    }
    if (line == "RING" || line == "2") {
        return ResultCode::Ring;
    }
    if (line == "NO CARRIER" || line == "3") {
        return ResultCode::NoCarrier;
    }
    if (line == "ERROR" || line == "4") {
        return ResultCode::Error;
    }
    if (line == "NO DIALTONE" || line == "NO DIAL TONE" || line == "6") {
        return ResultCode::NoDialtone;
    }
    if (line == "BUSY" || line == "7") {
        return ResultCode::Busy;
    }
    if (line == "NO ANSWER" || line == "8") {
        return ResultCode::NoAnswer;
    }
    return std::nullopt;
}

const char* ResultName(ResultCode code) {
    switch (code) {
    case ResultCode::Ok:
        return "OK";
    case ResultCode::Connect:
        return "CONNECT";
    case ResultCode::Ring:
        return "RING";
    case ResultCode::NoCarrier:
        return "NO CARRIER";
    case ResultCode::Error:
        return "ERROR";
    case ResultCode::NoDialtone:
        return "NO DIALTONE";
    case ResultCode::Busy:
        return "BUSY";
    case ResultCode::NoAnswer:
        return "NO ANSWER";
    }
    return "?";
}

}  // namespace telsim::modem
