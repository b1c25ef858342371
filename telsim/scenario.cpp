#include "telsim/scenario.h"

#include "telsim/line_kinds.h"
#include "telsim/telsim.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace telsim {
namespace {

// Marks a key that is absent (a profile read cannot tell absent from empty).
constexpr wchar_t kAbsent[] = L"\x01";

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

std::wstring Trim(const std::wstring& text) {
    const auto first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::wstring();
    const auto last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    while (true) {
        const auto at = text.find(separator, start);
        parts.push_back(Trim(text.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start)));
        if (at == std::wstring::npos) return parts;
        start = at + 1;
    }
}

struct Failure {
    std::wstring text;
};

class Reader {
public:
    explicit Reader(std::wstring path) : path_(std::move(path)) {}

    bool HasSection(const std::wstring& section) const { return !Keys(section).empty(); }

    // key=value lines of a section, in file order.
    std::vector<std::pair<std::wstring, std::wstring>> Entries(const std::wstring& section) const {
        std::vector<wchar_t> buffer(4096);
        while (true) {
            const DWORD got = GetPrivateProfileSectionW(section.c_str(), buffer.data(),
                                                        static_cast<DWORD>(buffer.size()), path_.c_str());
            if (got + 2 < buffer.size()) {
                buffer.resize(got + 1);
                break;
            }
            buffer.resize(buffer.size() * 4);
        }
        std::vector<std::pair<std::wstring, std::wstring>> entries;
        for (const wchar_t* line = buffer.data(); *line; line += std::wcslen(line) + 1) {
            const std::wstring text(line);
            const auto equals = text.find(L'=');
            if (equals == std::wstring::npos) {
                entries.emplace_back(Trim(text), std::wstring());
            } else {
                entries.emplace_back(Trim(text.substr(0, equals)), Trim(text.substr(equals + 1)));
            }
        }
        return entries;
    }

    std::vector<std::wstring> Keys(const std::wstring& section) const {
        std::vector<std::wstring> keys;
        for (auto& entry : Entries(section)) keys.push_back(entry.first);
        return keys;
    }

    // Rejects a key that the section does not know: a typo must not pass
    // silently as the default.
    void OnlyKeys(const std::wstring& section, std::initializer_list<const wchar_t*> known) const {
        for (const std::wstring& key : Keys(section)) {
            const bool ok = std::any_of(known.begin(), known.end(),
                                        [&](const wchar_t* k) { return _wcsicmp(k, key.c_str()) == 0; });
            if (!ok) throw Failure{L"[" + section + L"] unknown key \"" + key + L"\""};
        }
    }

    bool Get(const std::wstring& section, const wchar_t* key, std::wstring& value) const {
        std::vector<wchar_t> buffer(1024);
        while (true) {
            const DWORD got = GetPrivateProfileStringW(section.c_str(), key, kAbsent, buffer.data(),
                                                       static_cast<DWORD>(buffer.size()), path_.c_str());
            if (got + 1 < buffer.size()) {
                value.assign(buffer.data(), got);
                break;
            }
            buffer.resize(buffer.size() * 4);
        }
        return value != kAbsent;
    }

private:
    std::wstring path_;
};

long ParseNumber(const std::wstring& text, const std::wstring& where) {
    if (text.empty()) throw Failure{where + L": a number is needed"};
    wchar_t* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    const long long value = hex ? static_cast<long long>(std::wcstoull(text.c_str(), &end, 16))
                                : std::wcstoll(text.c_str(), &end, 10);
    if (!end || *end) throw Failure{where + L": \"" + text + L"\" is not a number"};
    return static_cast<long>(value);
}

bool ParseBool(const std::wstring& text, const std::wstring& where) {
    const std::wstring value = Lower(text);
    if (value == L"1" || value == L"yes" || value == L"true") return true;
    if (value == L"0" || value == L"no" || value == L"false") return false;
    throw Failure{where + L": \"" + text + L"\" is not yes or no"};
}

CALL_STATE ParseState(const std::wstring& text, const std::wstring& where) {
    static const std::pair<const wchar_t*, CALL_STATE> names[] = {
        {L"idle", CS_IDLE},          {L"inprogress", CS_INPROGRESS}, {L"connected", CS_CONNECTED},
        {L"disconnected", CS_DISCONNECTED}, {L"offering", CS_OFFERING}, {L"hold", CS_HOLD},
        {L"queued", CS_QUEUED}};
    const std::wstring value = Lower(text);
    for (const auto& name : names) {
        if (value == name.first) return name.second;
    }
    return static_cast<CALL_STATE>(ParseNumber(text, where));
}

CALL_STATE_EVENT_CAUSE ParseCause(const std::wstring& text, const std::wstring& where) {
    static const std::pair<const wchar_t*, CALL_STATE_EVENT_CAUSE> names[] = {
        {L"none", CEC_NONE},       {L"normal", CEC_DISCONNECT_NORMAL},   {L"busy", CEC_DISCONNECT_BUSY},
        {L"badaddress", CEC_DISCONNECT_BADADDRESS}, {L"noanswer", CEC_DISCONNECT_NOANSWER},
        {L"cancelled", CEC_DISCONNECT_CANCELLED},   {L"rejected", CEC_DISCONNECT_REJECTED},
        {L"failed", CEC_DISCONNECT_FAILED},         {L"blocked", CEC_DISCONNECT_BLOCKED}};
    const std::wstring value = Lower(text);
    for (const auto& name : names) {
        if (value == name.first) return name.second;
    }
    throw Failure{where + L": unknown cause \"" + text + L"\""};
}

// "inprogress, connected after 1500, disconnected after 200 busy", or one of
// the words connect, busy, noanswer, fail, none.
std::vector<CallStep> ParseSteps(const std::wstring& text, const std::wstring& where) {
    const std::wstring word = Lower(Trim(text));
    if (word == L"none" || word.empty()) return {};
    if (word == L"connect") return {{CS_INPROGRESS, 0}, {CS_CONNECTED, 1500}};
    if (word == L"busy") return {{CS_INPROGRESS, 0}, {CS_DISCONNECTED, 1000, CEC_DISCONNECT_BUSY}};
    if (word == L"noanswer") return {{CS_INPROGRESS, 0}, {CS_DISCONNECTED, 5000, CEC_DISCONNECT_NOANSWER}};
    if (word == L"fail") return {{CS_DISCONNECTED, 0, CEC_DISCONNECT_FAILED}};
    std::vector<CallStep> steps;
    for (const std::wstring& part : Split(text, L',')) {
        std::vector<std::wstring> tokens;
        for (const std::wstring& token : Split(part, L' ')) {
            if (!token.empty()) tokens.push_back(token);
        }
        if (tokens.empty()) throw Failure{where + L": empty step"};
        CallStep step{ParseState(tokens[0], where)};
        std::size_t next = 1;
        if (next < tokens.size() && Lower(tokens[next]) == L"after") {
            if (next + 1 >= tokens.size()) throw Failure{where + L": \"after\" needs milliseconds"};
            const long delay = ParseNumber(tokens[next + 1], where);
            if (delay < 0) throw Failure{where + L": a delay cannot be negative"};
            step.delayMs = static_cast<DWORD>(delay);
            next += 2;
        }
        if (next < tokens.size()) step.cause = ParseCause(tokens[next++], where);
        if (next < tokens.size()) throw Failure{where + L": unexpected \"" + tokens[next] + L"\""};
        steps.push_back(step);
    }
    return steps;
}

long ParseMedia(const std::wstring& text, const std::wstring& where) {
    const std::wstring value = Lower(text);
    if (value == L"audio") return TAPIMEDIATYPE_AUDIO;
    if (value == L"video") return TAPIMEDIATYPE_VIDEO;
    if (value == L"datamodem") return TAPIMEDIATYPE_DATAMODEM;
    if (value == L"fax") return TAPIMEDIATYPE_G3FAX;
    return ParseNumber(text, where);
}

TERMINAL_DIRECTION ParseDirection(const std::wstring& text, const std::wstring& where) {
    const std::wstring value = Lower(text);
    if (value == L"capture") return TD_CAPTURE;
    if (value == L"render") return TD_RENDER;
    if (value == L"bidirectional") return TD_BIDIRECTIONAL;
    throw Failure{where + L": unknown direction \"" + text + L"\""};
}

// "audio capture, audio render nodefault, datamodem bidirectional"
std::vector<StreamSpec> ParseStreams(const std::wstring& text, const std::wstring& where) {
    std::vector<StreamSpec> streams;
    if (Lower(Trim(text)) == L"none" || Trim(text).empty()) return streams;
    for (const std::wstring& part : Split(text, L',')) {
        std::vector<std::wstring> tokens;
        for (const std::wstring& token : Split(part, L' ')) {
            if (!token.empty()) tokens.push_back(token);
        }
        if (tokens.size() < 2 || tokens.size() > 3) {
            throw Failure{where + L": a stream is \"media direction [nodefault]\""};
        }
        StreamSpec stream;
        stream.mediaType = ParseMedia(tokens[0], where);
        stream.direction = ParseDirection(tokens[1], where);
        if (tokens.size() == 3) {
            if (Lower(tokens[2]) != L"nodefault") throw Failure{where + L": unexpected \"" + tokens[2] + L"\""};
            stream.hasDefaultTerminal = false;
        }
        streams.push_back(stream);
    }
    return streams;
}

// "0x80040059", "0x80040059 skip 1 count 2", "null", "null skip 3"
Fault ParseFault(const std::wstring& text, const std::wstring& where) {
    std::vector<std::wstring> tokens;
    for (const std::wstring& token : Split(text, L' ')) {
        if (!token.empty()) tokens.push_back(token);
    }
    if (tokens.empty()) throw Failure{where + L": a result or \"null\" is needed"};
    Fault fault;
    if (Lower(tokens[0]) == L"null") {
        fault.nullOut = true;
    } else {
        fault.hr = static_cast<HRESULT>(ParseNumber(tokens[0], where));
        if (SUCCEEDED(fault.hr)) throw Failure{where + L": " + tokens[0] + L" is not a failure"};
    }
    for (std::size_t i = 1; i < tokens.size(); i += 2) {
        if (i + 1 >= tokens.size()) throw Failure{where + L": \"" + tokens[i] + L"\" needs a number"};
        const std::wstring key = Lower(tokens[i]);
        const long value = ParseNumber(tokens[i + 1], where);
        if (key == L"skip") {
            fault.skip = static_cast<int>(value);
        } else if (key == L"count") {
            fault.count = static_cast<int>(value);
        } else {
            throw Failure{where + L": unknown \"" + tokens[i] + L"\""};
        }
    }
    return fault;
}

// Kind= and the keys of that kind (line_kinds.h). "Kind=" alone is simulated.
void ReadKind(const Reader& file, const std::wstring& section, AddressSpec& line) {
    std::wstring value;
    const LineKind* kind = nullptr;
    if (file.Get(section, L"Kind", value) && !value.empty() && Lower(value) != L"simulated") {
        kind = FindLineKind(value);
        if (!kind) {
            std::wstring known = L"simulated";
            for (const LineKind* other : LineKinds()) {
                known += std::wstring(L", ") + other->name;
            }
            throw Failure{L"[" + section + L"] Kind: \"" + value + L"\" is not a kind of line (" + known + L")"};
        }
    }
    std::shared_ptr<LineDevice> device = kind ? kind->create() : nullptr;
    for (const LineKind* other : LineKinds()) {
        for (const wchar_t* key : other->keys) {
            if (!file.Get(section, key, value)) {
                continue;
            }
            if (other != kind) {
                throw Failure{L"[" + section + L"] " + key + L": only a line of Kind=" + other->name + L" has it"};
            }
            if (kind->setOption(*device, key, value) != S_OK) {
                throw Failure{L"[" + section + L"] " + key + L": \"" + value + L"\" is not understood"};
            }
        }
    }
    line.device = std::move(device);
}

// [Location]: where numbers are dialled from.
void ReadLocation(const Reader& file, Scenario& scenario) {
    file.OnlyKeys(L"Location", {L"CountryCode", L"AreaCode", L"OutsideLine", L"LongDistance", L"International"});
    if (!file.HasSection(L"Location")) return;
    Location location;
    std::wstring value;
    auto digits = [&](const wchar_t* key, std::wstring& field, const wchar_t* allowed) {
        if (!file.Get(L"Location", key, value)) return;
        if (value.find_first_not_of(allowed) != std::wstring::npos) {
            throw Failure{L"[Location] " + std::wstring(key) + L": \"" + value + L"\" is not a dialling prefix"};
        }
        field = value;
    };
    digits(L"CountryCode", location.countryCode, L"0123456789");
    digits(L"AreaCode", location.areaCode, L"0123456789");
    digits(L"OutsideLine", location.outsideLine, L"0123456789*#,Ww@!");
    digits(L"LongDistance", location.longDistance, L"0123456789");
    digits(L"International", location.international, L"0123456789");
    if (location.countryCode.empty()) throw Failure{L"[Location] CountryCode: a country code is needed"};
    scenario.location = std::move(location);
}

AddressSpec ReadLine(const Reader& file, const std::wstring& section, int number) {
    file.OnlyKeys(section, {L"Name", L"NullName", L"AddressTypes", L"MediaAnswer", L"Capabilities",
                            L"MediaSupport", L"Translation", L"TerminalSupport", L"NameResult",
                            L"CapabilityResult", L"MediaResult", L"Kind", L"Port", L"Speed", L"Init", L"Dial",
                            L"Voice", L"CommandTimeoutMs", L"AnswerTimeoutMs", L"GuardMs", L"CommandGapMs"});
    AddressSpec line;
    line.name = L"Line " + std::to_wstring(number);
    std::wstring value;
    auto where = [&](const wchar_t* key) { return L"[" + section + L"] " + key; };
    if (file.Get(section, L"Name", value)) line.name = value;
    if (file.Get(section, L"NullName", value) && ParseBool(value, where(L"NullName"))) line.name.reset();
    if (file.Get(section, L"AddressTypes", value)) line.addressTypes = ParseNumber(value, where(L"AddressTypes"));
    if (file.Get(section, L"MediaAnswer", value)) {
        line.mediaAnswer = static_cast<VARIANT_BOOL>(ParseNumber(value, where(L"MediaAnswer")));
    }
    if (file.Get(section, L"Capabilities", value)) line.capabilities = ParseBool(value, where(L"Capabilities"));
    if (file.Get(section, L"MediaSupport", value)) line.mediaSupport = ParseBool(value, where(L"MediaSupport"));
    if (file.Get(section, L"Translation", value)) line.translation = ParseBool(value, where(L"Translation"));
    if (file.Get(section, L"TerminalSupport", value)) {
        line.terminalSupport = ParseBool(value, where(L"TerminalSupport"));
    }
    if (file.Get(section, L"NameResult", value)) {
        line.nameResult = static_cast<HRESULT>(ParseNumber(value, where(L"NameResult")));
    }
    if (file.Get(section, L"CapabilityResult", value)) {
        line.capabilityResult = static_cast<HRESULT>(ParseNumber(value, where(L"CapabilityResult")));
    }
    if (file.Get(section, L"MediaResult", value)) {
        line.mediaResult = static_cast<HRESULT>(ParseNumber(value, where(L"MediaResult")));
    }
    ReadKind(file, section, line);
    return line;
}

void Read(const Reader& file, Scenario& scenario) {
    std::wstring value;
    file.OnlyKeys(L"Service", {L"Lines", L"Delivery", L"CreateFails"});
    if (file.Get(L"Service", L"Delivery", value)) {
        const std::wstring mode = Lower(value);
        if (mode == L"thread") {
            scenario.delivery = Delivery::NotificationThread;
        } else if (mode == L"sync") {
            scenario.delivery = Delivery::Synchronous;
        } else {
            throw Failure{L"[Service] Delivery: \"" + value + L"\" is neither thread nor sync"};
        }
    }
    if (file.Get(L"Service", L"CreateFails", value)) {
        scenario.creationFailure = static_cast<HRESULT>(ParseNumber(value, L"[Service] CreateFails"));
    }

    long lines = -1;
    if (file.Get(L"Service", L"Lines", value)) lines = ParseNumber(value, L"[Service] Lines");
    if (lines >= 0 || file.HasSection(L"Line1")) {
        scenario.addresses.clear();
        for (int n = 1; lines < 0 ? file.HasSection(L"Line" + std::to_wstring(n)) : n <= lines; ++n) {
            scenario.addresses.push_back(ReadLine(file, L"Line" + std::to_wstring(n), n));
        }
    }

    file.OnlyKeys(L"Call", {L"Progress", L"Hangup", L"StreamControl", L"Streams"});
    if (file.Get(L"Call", L"Progress", value)) scenario.script.onConnect = ParseSteps(value, L"[Call] Progress");
    if (file.Get(L"Call", L"Hangup", value)) scenario.script.onDisconnect = ParseSteps(value, L"[Call] Hangup");
    if (file.Get(L"Call", L"StreamControl", value)) {
        scenario.script.hasStreamControl = ParseBool(value, L"[Call] StreamControl");
    }
    if (file.Get(L"Call", L"Streams", value)) scenario.script.streams = ParseStreams(value, L"[Call] Streams");

    ReadLocation(file, scenario);

    for (const auto& [key, text] : file.Entries(L"Faults")) {
        const auto& known = op::kAll;
        auto it = std::find_if(std::begin(known), std::end(known),
                               [&](const wchar_t* name) { return _wcsicmp(name, key.c_str()) == 0; });
        if (it == std::end(known)) throw Failure{L"[Faults] unknown operation \"" + key + L"\""};
        scenario.faults.emplace_back(*it, ParseFault(text, L"[Faults] " + key));
    }
}

}  // namespace

Scenario DefaultScenario() {
    Scenario scenario;
    AddressSpec fax{L"Simulated Fax"};
    fax.mediaAnswer = VARIANT_FALSE;
    scenario.addresses = {AddressSpec{L"Simulated Modem"}, AddressSpec{L"Simulated ISDN Line"}, fax};
    scenario.script.onConnect = {{CS_INPROGRESS, 0}, {CS_CONNECTED, 1500}};
    return scenario;
}

HRESULT ReadScenario(const std::wstring& path, Scenario& scenario, std::wstring& error) {
    error.clear();
    wchar_t full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
    if (!length || length >= std::size(full)) {
        error = L"scenario path \"" + path + L"\" cannot be resolved";
        return HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME);
    }
    // The profile API reads a missing file as an empty one: say so instead.
    if (GetFileAttributesW(full) == INVALID_FILE_ATTRIBUTES) {
        error = L"scenario file \"" + std::wstring(full) + L"\" not found";
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    try {
        Scenario read = DefaultScenario();
        Read(Reader(full), read);
        scenario = std::move(read);
        return S_OK;
    } catch (const Failure& failure) {
        error = std::wstring(full) + L": " + failure.text;
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

std::wstring ScenarioPath() {
    wchar_t buffer[MAX_PATH * 4];
    const DWORD got = GetEnvironmentVariableW(L"BREVLIN_TELSIM_SCENARIO", buffer, static_cast<DWORD>(std::size(buffer)));
    if (got && got < std::size(buffer)) return buffer;
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Brevlin\\TelSim", L"Scenario", RRF_RT_REG_SZ,
                     nullptr, buffer, &size) == ERROR_SUCCESS) {
        return buffer;
    }
    return std::wstring();
}

void ApplyScenario(const Scenario& scenario, Service& service) {
    World& world = service.World();
    world.SetAddresses(scenario.addresses);
    world.SetCallScript(scenario.script);
    world.SetDelivery(scenario.delivery);
    world.FailCreation(scenario.creationFailure);
    world.SetLocation(scenario.location);
    service.Recorder().ClearFaults();
    for (const auto& [name, fault] : scenario.faults) {
        service.Recorder().Inject(name, fault);
    }
}

}  // namespace telsim
