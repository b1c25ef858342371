#include "telsim/scenario.h"

#include "telsim/line_kinds.h"
#include "telsim/profile.h"
#include "telsim/scenario_words.h"
#include "telsim/telsim.h"

#include <algorithm>
#include <cwchar>

namespace telsim {
namespace {

using namespace words;

// One key of a section: its name (as the file writes it, in any case) and
// what reading its value does to the section's target. A section's keys are
// read in the order of its table.
template <class Target>
struct Key {
    const wchar_t* name;
    void (*read)(Target& target, const std::wstring& value, const std::wstring& where);
};

template <class Member>
struct MemberOf;
template <class Class, class Field>
struct MemberOf<Field Class::*> {
    using Type = Class;
};
template <auto Field>
using TargetOf = typename MemberOf<decltype(Field)>::Type;

template <auto Field>
void Flag(TargetOf<Field>& target, const std::wstring& value, const std::wstring& where) {
    target.*Field = ParseBool(value, where);
}

template <auto Field>
void Result(TargetOf<Field>& target, const std::wstring& value, const std::wstring& where) {
    target.*Field = static_cast<HRESULT>(ParseNumber(value, where));
}

template <auto Field>
void Milliseconds(TargetOf<Field>& target, const std::wstring& value, const std::wstring& where) {
    const long ms = ParseNumber(value, where);
    if (ms < 0) {
        throw ScenarioFailure{where + L": a time cannot be negative"};
    }
    target.*Field = static_cast<DWORD>(ms);
}

inline constexpr wchar_t kDigits[] = L"0123456789";
inline constexpr wchar_t kDialPrefix[] = L"0123456789*#,Ww@!";

template <auto Field, const wchar_t* Allowed>
void Prefix(TargetOf<Field>& target, const std::wstring& value, const std::wstring& where) {
    if (value.find_first_not_of(Allowed) != std::wstring::npos) {
        throw ScenarioFailure{where + L": \"" + value + L"\" is not a dialling prefix"};
    }
    target.*Field = value;
}

// What [Service] sets: the scenario, and how many lines to read.
struct ServiceSection {
    Scenario& scenario;
    long lines = -1;
};

const Key<ServiceSection> kServiceKeys[] = {
    {L"Delivery", [](ServiceSection& s, const std::wstring& v,
                     const std::wstring& w) { s.scenario.delivery = ParseDelivery(v, w); }},
    {L"Hangup", [](ServiceSection& s, const std::wstring& v,
                   const std::wstring& w) { s.scenario.hangup = ParseHangup(v, w); }},
    {L"Objects", [](ServiceSection& s, const std::wstring& v,
                    const std::wstring& w) { s.scenario.objects = ParseObjects(v, w); }},
    {L"EventThread",
     [](ServiceSection& s, const std::wstring& v, const std::wstring& w) {
         s.scenario.eventThread = ParseEventThread(v, w);
     }},
    {L"CreateFails",
     [](ServiceSection& s, const std::wstring& v, const std::wstring& w) {
         s.scenario.creationFailure = static_cast<HRESULT>(ParseNumber(v, w));
     }},
    {L"Lines", [](ServiceSection& s, const std::wstring& v,
                  const std::wstring& w) { s.lines = ParseNumber(v, w); }},
};

const Key<AddressSpec> kLineKeys[] = {
    {L"Name", [](AddressSpec& line, const std::wstring& v, const std::wstring&) { line.name = v; }},
    {L"NullName",
     [](AddressSpec& line, const std::wstring& v, const std::wstring& w) {
         if (ParseBool(v, w)) {
             line.name.reset();
         }
     }},
    {L"AddressTypes", [](AddressSpec& line, const std::wstring& v,
                         const std::wstring& w) { line.addressTypes = ParseNumber(v, w); }},
    {L"MediaTypes", [](AddressSpec& line, const std::wstring& v,
                       const std::wstring& w) { line.mediaTypes = ParseMediaTypes(v, w); }},
    {L"MediaAnswer",
     [](AddressSpec& line, const std::wstring& v, const std::wstring& w) {
         line.mediaAnswer = static_cast<VARIANT_BOOL>(ParseNumber(v, w));
     }},
    {L"Capabilities", &Flag<&AddressSpec::capabilities>},
    {L"MediaSupport", &Flag<&AddressSpec::mediaSupport>},
    {L"Translation", &Flag<&AddressSpec::translation>},
    {L"TerminalSupport", &Flag<&AddressSpec::terminalSupport>},
    {L"NameResult", &Result<&AddressSpec::nameResult>},
    {L"CapabilityResult", &Result<&AddressSpec::capabilityResult>},
    {L"MediaResult", &Result<&AddressSpec::mediaResult>},
};

const Key<CallScript> kCallKeys[] = {
    {L"Progress", [](CallScript& s, const std::wstring& v,
                     const std::wstring& w) { s.onConnect = ParseSteps(v, w); }},
    {L"Hangup", [](CallScript& s, const std::wstring& v,
                   const std::wstring& w) { s.onDisconnect = ParseSteps(v, w); }},
    {L"HangupMs", &Milliseconds<&CallScript::hangupMs>},
    {L"HangupLimitMs", &Milliseconds<&CallScript::hangupLimitMs>},
    {L"HangupTimesOut", &Flag<&CallScript::hangupTimesOut>},
    {L"StreamControl", &Flag<&CallScript::hasStreamControl>},
    {L"Streams", [](CallScript& s, const std::wstring& v,
                    const std::wstring& w) { s.streams = ParseStreams(v, w); }},
};

const Key<Location> kLocationKeys[] = {
    {L"CountryCode", &Prefix<&Location::countryCode, kDigits>},
    {L"AreaCode", &Prefix<&Location::areaCode, kDigits>},
    {L"OutsideLine", &Prefix<&Location::outsideLine, kDialPrefix>},
    {L"LongDistance", &Prefix<&Location::longDistance, kDigits>},
    {L"International", &Prefix<&Location::international, kDigits>},
};

bool Named(const wchar_t* name, const std::wstring& key) {
    return _wcsicmp(name, key.c_str()) == 0;
}

// Reads a section through its table. A key the section does not know (nor
// `alsoKnown`) is refused: a typo must not pass silently as the default.
template <class Target, std::size_t N>
void ReadSection(const Profile& file, const std::wstring& section, const Key<Target> (&keys)[N],
                 Target& target, const std::vector<const wchar_t*>& alsoKnown = {}) {
    for (const std::wstring& key : file.Keys(section)) {
        const bool known = std::any_of(std::begin(keys), std::end(keys),
                                       [&](const Key<Target>& k) { return Named(k.name, key); }) ||
                           std::any_of(alsoKnown.begin(), alsoKnown.end(),
                                       [&](const wchar_t* k) { return Named(k, key); });
        if (!known) {
            throw ScenarioFailure{L"[" + section + L"] unknown key \"" + key + L"\""};
        }
    }
    std::wstring value;
    for (const Key<Target>& key : keys) {
        if (file.Get(section, key.name, value)) {
            key.read(target, value, L"[" + section + L"] " + key.name);
        }
    }
}

// Kind= and the keys of the kinds of line (line_kinds.h). "Kind=" alone is
// simulated.
void ReadKind(const Profile& file, const std::wstring& section, AddressSpec& line) {
    std::wstring value;
    const LineKind* kind = nullptr;
    if (file.Get(section, L"Kind", value) && !value.empty() && Lower(value) != L"simulated") {
        kind = FindLineKind(value);
        if (!kind) {
            std::wstring known = L"simulated";
            for (const LineKind* other : LineKinds()) {
                known += std::wstring(L", ") + other->name;
            }
            throw ScenarioFailure{L"[" + section + L"] Kind: \"" + value +
                                  L"\" is not a kind of line (" + known + L")"};
        }
    }
    // Kinds may share a key's name (timeouts): a key is refused only when
    // the line's own kind does not read it.
    const auto reads = [](const LineKind* which, const wchar_t* key) {
        return which && std::any_of(which->keys.begin(), which->keys.end(),
                                    [&](const wchar_t* k) { return Named(k, key); });
    };
    for (const LineKind* other : LineKinds()) {
        for (const wchar_t* key : other->keys) {
            if (file.Get(section, key, value) && !reads(kind, key)) {
                throw ScenarioFailure{L"[" + section + L"] " + key + L": only a line of Kind=" +
                                      other->name + L" has it"};
            }
        }
    }
    if (!kind) {
        return;
    }
    std::shared_ptr<LineDevice> device = kind->create();
    for (const wchar_t* key : kind->keys) {
        if (file.Get(section, key, value) && kind->setOption(*device, key, value) != S_OK) {
            throw ScenarioFailure{L"[" + section + L"] " + key + L": \"" + value +
                                  L"\" is not understood"};
        }
    }
    if (kind->complete) {
        if (const std::wstring problem = kind->complete(*device); !problem.empty()) {
            throw ScenarioFailure{L"[" + section + L"] " + problem};
        }
    }
    line.device = std::move(device);
}

AddressSpec ReadLine(const Profile& file, const std::wstring& section, int number) {
    std::vector<const wchar_t*> kindKeys{L"Kind"};
    for (const LineKind* kind : LineKinds()) {
        kindKeys.insert(kindKeys.end(), kind->keys.begin(), kind->keys.end());
    }
    AddressSpec line;
    line.name = L"Line " + std::to_wstring(number);
    ReadSection(file, section, kLineKeys, line, kindKeys);
    ReadKind(file, section, line);
    return line;
}

void Read(const Profile& file, Scenario& scenario) {
    ServiceSection service{scenario};
    ReadSection(file, L"Service", kServiceKeys, service);
    if (service.lines >= 0 || file.HasSection(L"Line1")) {
        scenario.addresses.clear();
        for (int n = 1;
             service.lines < 0 ? file.HasSection(L"Line" + std::to_wstring(n)) : n <= service.lines;
             ++n) {
            scenario.addresses.push_back(ReadLine(file, L"Line" + std::to_wstring(n), n));
        }
    }

    ReadSection(file, L"Call", kCallKeys, scenario.script);

    // [Location]: where numbers are dialled from.
    Location location;
    ReadSection(file, L"Location", kLocationKeys, location);
    if (file.HasSection(L"Location")) {
        if (location.countryCode.empty()) {
            throw ScenarioFailure{L"[Location] CountryCode: a country code is needed"};
        }
        scenario.location = std::move(location);
    }

    for (const auto& [key, text] : file.Entries(L"Faults")) {
        auto it = std::find_if(std::begin(op::kAll), std::end(op::kAll),
                               [&](const wchar_t* name) { return Named(name, key); });
        if (it == std::end(op::kAll)) {
            throw ScenarioFailure{L"[Faults] unknown operation \"" + key + L"\""};
        }
        scenario.faults.emplace_back(*it, ParseFault(text, L"[Faults] " + key));
    }
}

}  // namespace

Scenario DefaultScenario() {
    Scenario scenario;
    AddressSpec fax{L"Simulated Fax"};
    fax.mediaTypes = TAPIMEDIATYPE_G3FAX;
    scenario.addresses = {AddressSpec{L"Simulated Modem"}, AddressSpec{L"Simulated ISDN Line"},
                          fax};
    scenario.script.onConnect = {{CS_INPROGRESS, 0}, {CS_CONNECTED, 1500}};
    return scenario;
}

HRESULT ReadScenario(const std::wstring& path, Scenario& scenario, std::wstring& error) {
    error.clear();
    wchar_t full[MAX_PATH * 4];
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
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
        Read(Profile(full), read);
        scenario = std::move(read);
        return S_OK;
    } catch (const ScenarioFailure& failure) {
        error = std::wstring(full) + L": " + failure.text;
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

std::wstring ScenarioPath() {
    wchar_t buffer[MAX_PATH * 4];
    const DWORD got = GetEnvironmentVariableW(L"BREVLIN_TELSIM_SCENARIO", buffer,
                                              static_cast<DWORD>(std::size(buffer)));
    if (got && got < std::size(buffer)) {
        return buffer;
    }
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
    world.SetHangup(scenario.hangup);
    world.SetObjects(scenario.objects);
    world.SetEventThread(scenario.eventThread);
    world.FailCreation(scenario.creationFailure);
    world.SetLocation(scenario.location);
    service.Recorder().ClearFaults();
    for (const auto& [name, fault] : scenario.faults) {
        service.Recorder().Inject(name, fault);
    }
}

}  // namespace telsim
