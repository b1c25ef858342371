#include "telsim/marshal/event_marshalling.h"

#include "telephony/tapi.h"

#include <oleauto.h>

namespace telsim {
namespace {

constexpr wchar_t kInterfaceKey[] = L"Interface\\{EDDB9426-3B91-11D1-8F30-00C04FB6809F}";
constexpr wchar_t kLibId[] = L"{3F7941AB-F677-44E6-84DD-780E9D25CF8B}";
constexpr wchar_t kTypeLibKey[] = L"TypeLib\\{3F7941AB-F677-44E6-84DD-780E9D25CF8B}";
constexpr GUID kLibGuid = {
    0x3f7941ab, 0xf677, 0x44e6, {0x84, 0xdd, 0x78, 0x0e, 0x9d, 0x25, 0xcf, 0x8b}};
// The automation marshaler (PSOAInterface): it reads the type library.
constexpr wchar_t kAutomationProxyStub[] = L"{00020424-0000-0000-C000-000000000046}";
#ifdef _WIN64
constexpr wchar_t kPlatform[] = L"win64";
#else
constexpr wchar_t kPlatform[] = L"win32";
#endif

HRESULT SetText(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    const LSTATUS status =
        RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(status);
}

bool KeyExists(const wchar_t* key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(opened);
    return true;
}

// Whether the Interface key is TelSim's: its TypeLib names TelSim's library.
bool Ours() {
    wchar_t libId[64] = {};
    DWORD size = sizeof(libId);
    const std::wstring key = std::wstring(kInterfaceKey) + L"\\TypeLib";
    return RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, libId,
                        &size) == ERROR_SUCCESS &&
           _wcsicmp(libId, kLibId) == 0;
}

}  // namespace

HRESULT RegisterEventMarshalling(const std::wstring& modulePath) {
    if (KeyExists(kInterfaceKey) && !Ours()) {
        return S_FALSE;
    }
    const std::wstring itf = kInterfaceKey;
    const std::wstring lib = std::wstring(kTypeLibKey) + L"\\1.0";
    const std::wstring path = modulePath + L"\\2";
    HRESULT hr = SetText(lib, nullptr, L"TelSim: marshalling of ITTAPIEventNotification");
    if (SUCCEEDED(hr)) {
        hr = SetText(lib + L"\\0\\" + kPlatform, nullptr, path);
    }
    if (SUCCEEDED(hr)) {
        hr = SetText(lib + L"\\FLAGS", nullptr, L"0");
    }
    if (SUCCEEDED(hr)) {
        hr = SetText(itf, nullptr, L"ITTAPIEventNotification");
    }
    if (SUCCEEDED(hr)) {
        hr = SetText(itf + L"\\ProxyStubClsid32", nullptr, kAutomationProxyStub);
    }
    if (SUCCEEDED(hr)) {
        hr = SetText(itf + L"\\TypeLib", nullptr, kLibId);
    }
    if (SUCCEEDED(hr)) {
        hr = SetText(itf + L"\\TypeLib", L"Version", L"1.0");
    }
    if (FAILED(hr)) {
        UnregisterEventMarshalling();
    }
    return hr;
}

HRESULT UnregisterEventMarshalling() {
    if (!KeyExists(kInterfaceKey) || !Ours()) {
        return S_FALSE;
    }
    const LSTATUS itf = RegDeleteTreeW(HKEY_CLASSES_ROOT, kInterfaceKey);
    const LSTATUS lib = RegDeleteTreeW(HKEY_CLASSES_ROOT, kTypeLibKey);
    if (itf != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(itf);
    }
    return lib == ERROR_SUCCESS || lib == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(lib);
}

HRESULT EnsureEventMarshalling() {
    if (KeyExists(kInterfaceKey)) {
        if (!Ours()) {
            return S_FALSE;
        }
        // TelSim's, and still pointing at a type library that loads: keep it.
        ITypeLib* loaded = nullptr;
        if (SUCCEEDED(LoadRegTypeLib(kLibGuid, 1, 0, 0, &loaded))) {
            loaded->Release();
            return S_FALSE;
        }
    }
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&EnsureEventMarshalling), &self)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameW(self, path, static_cast<DWORD>(std::size(path)));
    if (!length || length >= std::size(path)) {
        return HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME);
    }
    return RegisterEventMarshalling(path);
}

}  // namespace telsim
