// The words of a scenario file: numbers, yes/no, call states and causes,
// call progress, streams and faults. Each parser throws ScenarioFailure
// naming `where` (the section and key) when the text is not understood.
#pragma once

#include "telsim/recorder.h"
#include "telsim/world.h"

#include <string>
#include <vector>

namespace telsim::words {

struct ScenarioFailure {
    std::wstring text;
};

std::wstring Lower(std::wstring text);
std::wstring Trim(const std::wstring& text);
std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator);

long ParseNumber(const std::wstring& text, const std::wstring& where);
bool ParseBool(const std::wstring& text, const std::wstring& where);
CALL_STATE ParseState(const std::wstring& text, const std::wstring& where);
CALL_STATE_EVENT_CAUSE ParseCause(const std::wstring& text, const std::wstring& where);
// "inprogress, connected after 1500, disconnected after 200 busy", or one of
// the words connect, busy, noanswer, fail, none.
std::vector<CallStep> ParseSteps(const std::wstring& text, const std::wstring& where);
// "audio capture, audio render nodefault, datamodem bidirectional"
std::vector<StreamSpec> ParseStreams(const std::wstring& text, const std::wstring& where);
// "0x80040059", "0x80040059 skip 1 count 2", "null", "null skip 3"
Fault ParseFault(const std::wstring& text, const std::wstring& where);
// "audio, datamodem", a number, or "none"
long ParseMediaTypes(const std::wstring& text, const std::wstring& where);
// "apartment", "thread" or "sync"
Delivery ParseDelivery(const std::wstring& text, const std::wstring& where);
// "delivered" or "prompt".
Hangup ParseHangup(const std::wstring& text, const std::wstring& where);
// "bound" or "agile".
Objects ParseObjects(const std::wstring& text, const std::wstring& where);
// "reads" or "any".
EventThread ParseEventThread(const std::wstring& text, const std::wstring& where);

}  // namespace telsim::words
