#include "telsim/sip/close_reason.h"

namespace telsim::sip {
namespace {

// The status code of "NNN Phrase": the phrase varies between agents and
// servers ("486 Busy Here", "486 Rejected"), the code does not.
int StatusCode(std::string_view text) {
    if (text.size() < 3 || (text.size() > 3 && text[3] != ' ')) {
        return 0;
    }
    int code = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return 0;
        }
        code = code * 10 + (text[i] - '0');
    }
    return code;
}

CloseReason ReasonOfStatus(int code) {
    switch (code) {
    case 486:
    case 600:
        return CloseReason::Busy;
    case 403:
    case 603:
        return CloseReason::Declined;
    case 404:
    case 410:
    case 484:
    case 604:
        return CloseReason::NotFound;
    // A proxy answers 408 when nobody picked up within its time, and many
    // answer 480 after ringing unanswered.
    case 408:
    case 480:
        return CloseReason::NoAnswer;
    case 502:
    case 503:
    case 504:
        return CloseReason::Unreachable;
    default:
        return CloseReason::Failed;
    }
}

}  // namespace

CloseReason ReasonOf(std::string_view closedParam) {
    if (const int code = StatusCode(closedParam); code >= 300 && code <= 699) {
        return ReasonOfStatus(code);
    }
    // The agent's words for a BYE it sent and one it received.
    if (closedParam == "Connection reset by user") {
        return CloseReason::LocalHangup;
    }
    if (closedParam == "Connection reset by peer") {
        return CloseReason::FarEndHangup;
    }
    // The system's texts for a request that never got an answer, or could
    // not be sent.
    for (const std::string_view text :
         {"Connection timed out", "Connection refused", "Network is unreachable",
          "No route to host", "Host is unreachable", "Host is down"}) {
        if (closedParam == text) {
            return CloseReason::Unreachable;
        }
    }
    return CloseReason::Failed;
}

const char* ReasonName(CloseReason reason) {
    switch (reason) {
    case CloseReason::LocalHangup:
        return "hung up";
    case CloseReason::FarEndHangup:
        return "hung up by the far end";
    case CloseReason::Busy:
        return "busy";
    case CloseReason::Declined:
        return "declined";
    case CloseReason::NotFound:
        return "not found";
    case CloseReason::NoAnswer:
        return "no answer";
    case CloseReason::Unreachable:
        return "unreachable";
    case CloseReason::Failed:
        break;
    }
    return "failed";
}

CALL_STATE_EVENT_CAUSE CauseOf(CloseReason reason) {
    switch (reason) {
    case CloseReason::LocalHangup:
    case CloseReason::FarEndHangup:
        return CEC_DISCONNECT_NORMAL;
    case CloseReason::Busy:
        return CEC_DISCONNECT_BUSY;
    case CloseReason::Declined:
        return CEC_DISCONNECT_REJECTED;
    case CloseReason::NotFound:
        return CEC_DISCONNECT_BADADDRESS;
    case CloseReason::NoAnswer:
        return CEC_DISCONNECT_NOANSWER;
    case CloseReason::Unreachable:
    case CloseReason::Failed:
        break;
    }
    return CEC_DISCONNECT_FAILED;
}

}  // namespace telsim::sip
