#include "comkit/class_table.h"

#include <string_view>

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

// Whether another module serves the class in the other registry view; the
// class's key, CLSID\{...}, goes to classKey.
bool ServedInOtherView(const CLSID& clsid, std::wstring_view ownPath,
                       WideBuffer& classKey) noexcept {
    const REGSAM other = OtherView();
    wchar_t text[40];
    if (!other || StringFromGUID2(clsid, text, 40) == 0 || !classKey.Assign(L"CLSID\\") ||
        !classKey.Append(std::wstring_view(text))) {
        return false;
    }
    // The merged HKEY_CLASSES_ROOT does not honour the view flag everywhere
    // (Wine's does not); the machine's classes do.
    constexpr std::wstring_view kMachineClasses = L"Software\\Classes\\";
    WideBuffer server;
    if (!server.Assign(kMachineClasses) || !server.Append(classKey.View()) ||
        !server.Append(L"\\InprocServer32")) {
        return false;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, server.CStr(), 0, KEY_READ | other, &key) !=
            ERROR_SUCCESS &&
        RegOpenKeyExW(HKEY_CLASSES_ROOT, server.CStr() + kMachineClasses.size(), 0,
                      KEY_READ | other, &key) != ERROR_SUCCESS) {
        return false;
    }
    // Where both views reach one key (a root overridden for a test, say),
    // the other view shows this module's own registration.
    wchar_t serverPath[MAX_PATH + 1];
    DWORD size = sizeof(serverPath) - sizeof(wchar_t);
    DWORD type = 0;
    const LSTATUS read =
        RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(serverPath), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return true;
    }
    serverPath[size / sizeof(wchar_t)] = L'\0';
    return CompareStringOrdinal(serverPath, -1, ownPath.data(), static_cast<int>(ownPath.size()),
                                TRUE) != CSTR_EQUAL;
}

}  // namespace

HRESULT ClassTable::UnregisterServer(HMODULE module) noexcept {
    WideBuffer path;
    RETURN_IF_FAILED(GetModulePath(module, path));
    for (ClassEntry* entry = m_begin; entry != m_end; ++entry) {
        WideBuffer classKey;
        if (ServedInOtherView(*entry->clsid, path.View(), classKey)) {
            const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey.CStr());
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
