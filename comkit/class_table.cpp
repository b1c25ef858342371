#include "comkit/class_table.h"

#include <cwchar>

#include "comkit/module.h"
#include "comkit/registrar.h"
#include "comkit/result.h"
#include "comkit/type_library.h"

namespace comkit {

HRESULT ClassTable::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (ClassEntry* entry = m_begin; entry != m_end; ++entry) {
        if (!IsEqualCLSID(clsid, *entry->clsid))
            continue;
        IClassFactory* factory = entry->classObject.load(std::memory_order_acquire);
        if (!factory) {
            CComCritSecLock<CComCriticalSection> lock(GetModule().ClassObjectLock());
            factory = entry->classObject.load(std::memory_order_acquire);
            if (!factory) {
                RETURN_IF_FAILED(CClassFactory::Create(entry->create, &factory));
                entry->classObject.store(factory, std::memory_order_release);
            }
        }
        return factory->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

void ClassTable::ReleaseClassObjects() noexcept {
    for (ClassEntry* entry = m_begin; entry != m_end; ++entry) {
        if (IClassFactory* factory =
                entry->classObject.exchange(nullptr, std::memory_order_acq_rel)) {
            factory->Release();
        }
    }
}

HRESULT ClassTable::RegisterServer(HMODULE module) noexcept {
    WideBuffer path;
    RETURN_IF_FAILED(GetModulePath(module, path));
    for (ClassEntry* entry = m_begin; entry != m_end; ++entry) {
        RETURN_IF_FAILED(
            UpdateRegistryFromResource(module, path.View(), entry->registryScriptId, true));
    }
    return RegisterTypeLibFromModule(path.View());
}

namespace {

// The registry view of the other width, where there is one: a 64-bit module
// sees the 32-bit view beside its own, a 32-bit one the 64-bit view only
// when it runs under WoW64.
REGSAM OtherView() noexcept {
#ifdef _WIN64
    return KEY_WOW64_32KEY;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
#endif
}

// Appends text to key at length; false when it does not fit.
template <size_t N>
bool Append(wchar_t (&key)[N], size_t& length, const wchar_t* text) noexcept {
    for (; *text; ++text) {
        if (length + 1 >= N) {
            return false;
        }
        key[length++] = *text;
    }
    key[length] = L'\0';
    return true;
}

// Whether the class has a server in the other registry view; the class's
// key goes to classKey.
bool ServedInOtherView(const CLSID& clsid, wchar_t (&classKey)[96]) noexcept {
    const REGSAM other = OtherView();
    wchar_t text[40];
    size_t length = 0;
    if (!other || StringFromGUID2(clsid, text, 40) == 0 || !Append(classKey, length, L"CLSID\\") ||
        !Append(classKey, length, text)) {
        return false;
    }
    wchar_t server[96];
    size_t serverLength = 0;
    if (!Append(server, serverLength, classKey) ||
        !Append(server, serverLength, L"\\InprocServer32")) {
        return false;
    }
    // The merged HKEY_CLASSES_ROOT does not honour the view flag everywhere
    // (Wine's does not); the machine's classes do.
    wchar_t machine[128] = L"Software\\Classes\\";
    size_t machineLength = 17;
    if (!Append(machine, machineLength, server)) {
        return false;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, machine, 0, KEY_READ | other, &key) != ERROR_SUCCESS &&
        RegOpenKeyExW(HKEY_CLASSES_ROOT, server, 0, KEY_READ | other, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

}  // namespace

HRESULT ClassTable::UnregisterServer(HMODULE module) noexcept {
    WideBuffer path;
    RETURN_IF_FAILED(GetModulePath(module, path));
    for (ClassEntry* entry = m_begin; entry != m_end; ++entry) {
        wchar_t classKey[96];
        if (ServedInOtherView(*entry->clsid, classKey)) {
            const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey);
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
                return HRESULT_FROM_WIN32(status);
            }
            continue;
        }
        RETURN_IF_FAILED(
            UpdateRegistryFromResource(module, path.View(), entry->registryScriptId, false));
    }
    return UnregisterTypeLibFromModule(path.View());
}

}  // namespace comkit
