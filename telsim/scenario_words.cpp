#include "telsim/scenario_words.h"

#include <algorithm>
#include <cwctype>

namespace telsim::words {
namespace {

template <class T>
struct Word {
    const wchar_t* text;
    T value;
};

// The value of a word of `words` (in any case), or nullptr.
template <class T, std::size_t N>
const T* Lookup(const Word<T> (&words)[N], const std::wstring& text) {
    const std::wstring value = Lower(text);
    for (const Word<T>& word : words) {
        if (value == word.text) {
            return &word.value;
        }
    }
    return nullptr;
}

const Word<long> kMedia[] = {{L"audio", TAPIMEDIATYPE_AUDIO},
                             {L"video", TAPIMEDIATYPE_VIDEO},
                             {L"datamodem", TAPIMEDIATYPE_DATAMODEM},
                             {L"fax", TAPIMEDIATYPE_G3FAX}};
const Word<TERMINAL_DIRECTION> kDirections[] = {
    {L"capture", TD_CAPTURE}, {L"render", TD_RENDER}, {L"bidirectional", TD_BIDIRECTIONAL}};
const Word<CALL_STATE> kStates[] = {
    {L"idle", CS_IDLE},           {L"inprogress", CS_INPROGRESS},
    {L"connected", CS_CONNECTED}, {L"disconnected", CS_DISCONNECTED},
    {L"offering", CS_OFFERING},   {L"hold", CS_HOLD},
    {L"queued", CS_QUEUED}};
const Word<CALL_STATE_EVENT_CAUSE> kCauses[] = {{L"none", CEC_NONE},
                                                {L"normal", CEC_DISCONNECT_NORMAL},
                                                {L"busy", CEC_DISCONNECT_BUSY},
                                                {L"badaddress", CEC_DISCONNECT_BADADDRESS},
                                                {L"noanswer", CEC_DISCONNECT_NOANSWER},
                                                {L"cancelled", CEC_DISCONNECT_CANCELLED},
                                                {L"rejected", CEC_DISCONNECT_REJECTED},
                                                {L"failed", CEC_DISCONNECT_FAILED},
                                                {L"blocked", CEC_DISCONNECT_BLOCKED}};

// The words of text between blanks.
std::vector<std::wstring> Tokens(const std::wstring& text) {
    std::vector<std::wstring> tokens;
    for (const std::wstring& token : Split(text, L' ')) {
        if (!token.empty()) {
            tokens.push_back(token);
        }
    }
    return tokens;
}

long ParseMedia(const std::wstring& text, const std::wstring& where) {
    const long* media = Lookup(kMedia, text);
    return media ? *media : ParseNumber(text, where);
}

TERMINAL_DIRECTION ParseDirection(const std::wstring& text, const std::wstring& where) {
    if (const TERMINAL_DIRECTION* direction = Lookup(kDirections, text)) {
        return *direction;
    }
    throw ScenarioFailure{where + L": unknown direction \"" + text + L"\""};
}

}  // namespace

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return std::towlower(c); });
    return text;
}

std::wstring Trim(const std::wstring& text) {
    const auto first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) {
        return std::wstring();
    }
    const auto last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    while (true) {
        const auto at = text.find(separator, start);
        parts.push_back(
            Trim(text.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start)));
        if (at == std::wstring::npos) {
            return parts;
        }
        start = at + 1;
    }
}

long ParseNumber(const std::wstring& text, const std::wstring& where) {
    if (text.empty()) {
        throw ScenarioFailure{where + L": a number is needed"};
    }
    wchar_t* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    const long long value = hex ? static_cast<long long>(std::wcstoull(text.c_str(), &end, 16))
                                : std::wcstoll(text.c_str(), &end, 10);
    if (!end || *end) {
        throw ScenarioFailure{where + L": \"" + text + L"\" is not a number"};
    }
    return static_cast<long>(value);
}

bool ParseBool(const std::wstring& text, const std::wstring& where) {
    const std::wstring value = Lower(text);
    if (value == L"1" || value == L"yes" || value == L"true") {
        return true;
    }
    if (value == L"0" || value == L"no" || value == L"false") {
        return false;
    }
    throw ScenarioFailure{where + L": \"" + text + L"\" is not yes or no"};
}

CALL_STATE ParseState(const std::wstring& text, const std::wstring& where) {
    const CALL_STATE* state = Lookup(kStates, text);
    return state ? *state : static_cast<CALL_STATE>(ParseNumber(text, where));
}

CALL_STATE_EVENT_CAUSE ParseCause(const std::wstring& text, const std::wstring& where) {
    if (const CALL_STATE_EVENT_CAUSE* cause = Lookup(kCauses, text)) {
        return *cause;
    }
    throw ScenarioFailure{where + L": unknown cause \"" + text + L"\""};
}

std::vector<CallStep> ParseSteps(const std::wstring& text, const std::wstring& where) {
    const std::wstring word = Lower(Trim(text));
    if (word == L"none" || word.empty()) {
        return {};
    }
    if (word == L"connect") {
        return {{CS_INPROGRESS, 0}, {CS_CONNECTED, 1500}};
    }
    if (word == L"busy") {
        return {{CS_INPROGRESS, 0}, {CS_DISCONNECTED, 1000, CEC_DISCONNECT_BUSY}};
    }
    if (word == L"noanswer") {
        return {{CS_INPROGRESS, 0}, {CS_DISCONNECTED, 5000, CEC_DISCONNECT_NOANSWER}};
    }
    if (word == L"fail") {
        return {{CS_DISCONNECTED, 0, CEC_DISCONNECT_FAILED}};
    }
    std::vector<CallStep> steps;
    for (const std::wstring& part : Split(text, L',')) {
        const std::vector<std::wstring> tokens = Tokens(part);
        if (tokens.empty()) {
            throw ScenarioFailure{where + L": empty step"};
        }
        CallStep step{ParseState(tokens[0], where)};
        std::size_t next = 1;
        if (next < tokens.size() && Lower(tokens[next]) == L"after") {
            if (next + 1 >= tokens.size()) {
                throw ScenarioFailure{where + L": \"after\" needs milliseconds"};
            }
            const long delay = ParseNumber(tokens[next + 1], where);
            if (delay < 0) {
                throw ScenarioFailure{where + L": a delay cannot be negative"};
            }
            step.delayMs = static_cast<DWORD>(delay);
            next += 2;
        }
        if (next < tokens.size()) {
            step.cause = ParseCause(tokens[next++], where);
        }
        if (next < tokens.size()) {
            throw ScenarioFailure{where + L": unexpected \"" + tokens[next] + L"\""};
        }
        steps.push_back(step);
    }
    return steps;
}

std::vector<StreamSpec> ParseStreams(const std::wstring& text, const std::wstring& where) {
    std::vector<StreamSpec> streams;
    if (Lower(Trim(text)) == L"none" || Trim(text).empty()) {
        return streams;
    }
    for (const std::wstring& part : Split(text, L',')) {
        const std::vector<std::wstring> tokens = Tokens(part);
        if (tokens.size() < 2 || tokens.size() > 3) {
            throw ScenarioFailure{where + L": a stream is \"media direction [nodefault]\""};
        }
        StreamSpec stream;
        stream.mediaType = ParseMedia(tokens[0], where);
        stream.direction = ParseDirection(tokens[1], where);
        if (tokens.size() == 3) {
            if (Lower(tokens[2]) != L"nodefault") {
                throw ScenarioFailure{where + L": unexpected \"" + tokens[2] + L"\""};
            }
            stream.hasDefaultTerminal = false;
        }
        streams.push_back(stream);
    }
    return streams;
}

Fault ParseFault(const std::wstring& text, const std::wstring& where) {
    const std::vector<std::wstring> tokens = Tokens(text);
    if (tokens.empty()) {
        throw ScenarioFailure{where + L": a result or \"null\" is needed"};
    }
    Fault fault;
    if (Lower(tokens[0]) == L"null") {
        fault.nullOut = true;
    } else {
        fault.hr = static_cast<HRESULT>(ParseNumber(tokens[0], where));
        if (SUCCEEDED(fault.hr)) {
            throw ScenarioFailure{where + L": " + tokens[0] + L" is not a failure"};
        }
    }
    for (std::size_t i = 1; i < tokens.size(); i += 2) {
        if (i + 1 >= tokens.size()) {
            throw ScenarioFailure{where + L": \"" + tokens[i] + L"\" needs a number"};
        }
        const std::wstring key = Lower(tokens[i]);
        const long value = ParseNumber(tokens[i + 1], where);
        if (key == L"skip") {
            fault.skip = static_cast<int>(value);
        } else if (key == L"count") {
            fault.count = static_cast<int>(value);
        } else {
            throw ScenarioFailure{where + L": unknown \"" + tokens[i] + L"\""};
        }
    }
    return fault;
}

long ParseMediaTypes(const std::wstring& text, const std::wstring& where) {
    if (Lower(Trim(text)) == L"none") {
        return 0;
    }
    long mask = 0;
    for (const std::wstring& part : Split(text, L',')) {
        mask |= ParseMedia(Trim(part), where);
    }
    return mask;
}

namespace {

// One of a mode's words (Lookup); any other is refused, naming them all.
template <class T, std::size_t N>
T ParseChoice(const Word<T> (&words)[N], const std::wstring& text, const std::wstring& where) {
    if (const T* value = Lookup(words, text)) {
        return *value;
    }
    std::wstring known;
    for (std::size_t i = 0; i < N; ++i) {
        known += (i == 0 ? L"" : i + 1 == N ? L" or " : L", ") + std::wstring(words[i].text);
    }
    throw ScenarioFailure{where + L": \"" + text + L"\" is not " + known};
}

const Word<Delivery> kDeliveries[] = {{L"apartment", Delivery::Apartment},
                                      {L"thread", Delivery::NotificationThread},
                                      {L"sync", Delivery::Synchronous}};
const Word<Hangup> kHangups[] = {{L"delivered", Hangup::AfterDelivery},
                                 {L"prompt", Hangup::Prompt}};
const Word<Objects> kObjects[] = {{L"bound", Objects::Bound}, {L"agile", Objects::Agile}};
const Word<EventThread> kEventThreads[] = {{L"reads", EventThread::ReadsOnly},
                                           {L"any", EventThread::Any}};

}  // namespace

Delivery ParseDelivery(const std::wstring& text, const std::wstring& where) {
    return ParseChoice(kDeliveries, text, where);
}

Hangup ParseHangup(const std::wstring& text, const std::wstring& where) {
    return ParseChoice(kHangups, text, where);
}

Objects ParseObjects(const std::wstring& text, const std::wstring& where) {
    return ParseChoice(kObjects, text, where);
}

EventThread ParseEventThread(const std::wstring& text, const std::wstring& where) {
    return ParseChoice(kEventThreads, text, where);
}

}  // namespace telsim::words
