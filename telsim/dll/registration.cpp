#include "telsim/dll/registration.h"

#include "comkit/registrar.h"
#include "comkit/result.h"
#include "telephony/tapi.h"
#include "telsim/marshal/event_marshalling.h"

#include <cwchar>
#include <cstdio>

namespace telsim::dll {
namespace {

// Written and removed by comkit's registrar; whether another server holds
// the class is checked here, since the registrar would overwrite it.
constexpr char kScript[] =
    "HKCR { NoRemove CLSID { ForceRemove {21D6D48E-A88B-11D0-83DD-00AA003CCABD} = s 'TelSim "
    "simulated telephony "
    "service' { InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Both' } } } }";

std::wstring ClassKeyName() {
    wchar_t clsid[64] = {};
    StringFromGUID2(CLSID_TAPI, clsid, static_cast<int>(std::size(clsid)));
    return std::wstring(L"CLSID\\") + clsid;
}

// The default value of CLSID\{...}\<server> under HKEY_CLASSES_ROOT; empty
// when the key is absent.
std::wstring ServerOf(const std::wstring& classKey, const wchar_t* server) {
    wchar_t path[MAX_PATH * 4] = {};
    DWORD size = sizeof(path);
    const std::wstring name = classKey + L"\\" + server;
    if (RegGetValueW(HKEY_CLASSES_ROOT, name.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path,
                     &size) == ERROR_SUCCESS) {
        return path;
    }
    // A key without a default value still names a server of some kind.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::wstring();
    }
    RegCloseKey(key);
    return L"(unnamed server)";
}

bool IsTelSim(const std::wstring& registered, const std::wstring& modulePath) {
    if (_wcsicmp(registered.c_str(), modulePath.c_str()) == 0) {
        return true;
    }
    const auto slash = registered.find_last_of(L"\\/");
    const std::wstring file =
        slash == std::wstring::npos ? registered : registered.substr(slash + 1);
    return _wcsicmp(file.c_str(), L"TelSim.dll") == 0;
}

HRESULT RunScript(const std::wstring& modulePath, bool doRegister) noexcept {
    comkit::Registrar registrar;
    comkit::WideBuffer quoted;
    if (!comkit::DoubleQuotes(modulePath, quoted)) {
        return E_OUTOFMEMORY;
    }
    RETURN_IF_FAILED(registrar.AddReplacement(L"MODULE", quoted.View()));
    return doRegister ? registrar.Register(kScript) : registrar.Unregister(kScript);
}

std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

}  // namespace

HRESULT Register(const std::wstring& modulePath, std::wstring& message) {
    const std::wstring classKey = ClassKeyName();
    for (const wchar_t* server : {L"InprocServer32", L"LocalServer32", L"InprocHandler32"}) {
        const std::wstring registered = ServerOf(classKey, server);
        if (!registered.empty() && !IsTelSim(registered, modulePath)) {
            message = L"TelSim.dll not registered: the telephony class " + classKey.substr(6) +
                      L" is served by " + registered + L" (" + server +
                      L"); a real telephony service is never replaced.";
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        }
    }
    const HRESULT hr = RunScript(modulePath, true);
    if (FAILED(hr)) {
        message =
            L"TelSim.dll not registered: the registry refused the class key (" + Hex(hr) + L").";
        return hr;
    }
    message = L"TelSim.dll registered as the telephony class " + classKey.substr(6) + L".";
    // Sinks in single-threaded apartments are reached through it, as the
    // real service's own registration provides.
    const HRESULT marshalling = RegisterEventMarshalling(modulePath);
    if (FAILED(marshalling)) {
        RunScript(modulePath, false);
        message =
            L"TelSim.dll not registered: the registry refused the marshalling of "
            L"ITTAPIEventNotification (" +
            Hex(marshalling) + L").";
        return marshalling;
    }
    if (marshalling == S_FALSE) {
        message += L" ITTAPIEventNotification's marshalling, registered already, was left alone.";
    }
    return S_OK;
}

HRESULT Unregister(const std::wstring& modulePath, std::wstring& message) {
    const std::wstring registered = ServerOf(ClassKeyName(), L"InprocServer32");
    if (registered.empty()) {
        message = L"TelSim.dll was not registered.";
        return S_FALSE;
    }
    if (!IsTelSim(registered, modulePath)) {
        message =
            L"TelSim.dll left the telephony class alone: it is served by " + registered + L".";
        return S_FALSE;
    }
    const HRESULT hr = RunScript(modulePath, false);
    if (FAILED(hr)) {
        message = L"TelSim.dll could not remove its class key (" + Hex(hr) + L").";
        return hr;
    }
    const HRESULT marshalling = UnregisterEventMarshalling();
    if (FAILED(marshalling)) {
        message = L"TelSim.dll could not remove the marshalling of ITTAPIEventNotification (" +
                  Hex(marshalling) + L").";
        return marshalling;
    }
    message = L"TelSim.dll unregistered.";
    return S_OK;
}

}  // namespace telsim::dll
