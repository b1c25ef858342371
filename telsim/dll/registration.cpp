#include "telsim/dll/registration.h"

#include "telephony/tapi.h"

#include <cwchar>

namespace telsim::dll {
namespace {

class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (key_) RegCloseKey(key_);
    }
    HKEY* Receive() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

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
    if (RegGetValueW(HKEY_CLASSES_ROOT, name.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS) {
        // A key without a default value still names a server of some kind.
        Key key;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS) {
            return L"(unnamed server)";
        }
        return std::wstring();
    }
    return path;
}

bool IsTelSim(const std::wstring& registered, const std::wstring& modulePath) {
    if (_wcsicmp(registered.c_str(), modulePath.c_str()) == 0) return true;
    const auto slash = registered.find_last_of(L"\\/");
    const std::wstring file = slash == std::wstring::npos ? registered : registered.substr(slash + 1);
    return _wcsicmp(file.c_str(), L"TelSim.dll") == 0;
}

LSTATUS SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

HRESULT Register(const std::wstring& modulePath, std::wstring& message) {
    const std::wstring classKey = ClassKeyName();
    for (const wchar_t* server : {L"InprocServer32", L"LocalServer32", L"InprocHandler32"}) {
        const std::wstring registered = ServerOf(classKey, server);
        if (!registered.empty() && !IsTelSim(registered, modulePath)) {
            message = L"TelSim.dll not registered: the telephony class " + classKey.substr(6) + L" is served by " +
                      registered + L" (" + server + L"); a real telephony service is never replaced.";
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        }
    }
    Key classHandle;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, classKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                     classHandle.Receive(), nullptr);
    if (status == ERROR_SUCCESS) status = SetString(classHandle.Get(), nullptr, L"TelSim simulated telephony service");
    Key server;
    if (status == ERROR_SUCCESS) {
        status = RegCreateKeyExW(classHandle.Get(), L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                                 server.Receive(), nullptr);
    }
    if (status == ERROR_SUCCESS) status = SetString(server.Get(), nullptr, modulePath);
    if (status == ERROR_SUCCESS) status = SetString(server.Get(), L"ThreadingModel", L"Both");
    if (status != ERROR_SUCCESS) {
        message = L"TelSim.dll not registered: the registry refused the class key (error " + std::to_wstring(status) +
                  L").";
        return HRESULT_FROM_WIN32(status);
    }
    message = L"TelSim.dll registered as the telephony class " + classKey.substr(6) + L".";
    return S_OK;
}

HRESULT Unregister(const std::wstring& modulePath, std::wstring& message) {
    const std::wstring classKey = ClassKeyName();
    const std::wstring registered = ServerOf(classKey, L"InprocServer32");
    if (registered.empty()) {
        message = L"TelSim.dll was not registered.";
        return S_FALSE;
    }
    if (!IsTelSim(registered, modulePath)) {
        message = L"TelSim.dll left the telephony class alone: it is served by " + registered + L".";
        return S_FALSE;
    }
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        message = L"TelSim.dll could not remove its class key (error " + std::to_wstring(status) + L").";
        return HRESULT_FROM_WIN32(status);
    }
    message = L"TelSim.dll unregistered.";
    return S_OK;
}

}  // namespace telsim::dll
