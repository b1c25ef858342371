// Why a SIP call ended, from the reason text the agent gives with
// CALL_CLOSED: a SIP final response ("486 Busy Here"), or the agent's own
// words for a hang-up or a transport failure ("Connection reset by peer",
// "Connection refused", "Connection timed out").
#pragma once

#include "telephony/tapi.h"

#include <string_view>

namespace telsim::sip {

enum class CloseReason {
    LocalHangup,   // we hung up
    FarEndHangup,  // the far end hung up an established call
    Busy,
    Declined,
    NotFound,
    NoAnswer,
    Unreachable,  // no SIP answer at all, or the transport failed
    Failed,       // anything else, the agent's own failures included
};

CloseReason ReasonOf(std::string_view closedParam);
const char* ReasonName(CloseReason reason);
CALL_STATE_EVENT_CAUSE CauseOf(CloseReason reason);

}  // namespace telsim::sip
