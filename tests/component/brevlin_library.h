// Brevlin.dll loaded for one test, with its four exports; freed at the end,
// which also drops whatever the library cached (class object, type info).
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

namespace component_test {

class BrevlinLibrary {
public:
    // path: empty for the library the build made.
    explicit BrevlinLibrary(const std::wstring& path = {});
    BrevlinLibrary(const BrevlinLibrary&) = delete;
    BrevlinLibrary& operator=(const BrevlinLibrary&) = delete;
    ~BrevlinLibrary();

    bool Loaded() const { return m_module != nullptr; }
    HMODULE Module() const { return m_module; }

    HRESULT CanUnloadNow() const { return m_canUnloadNow(); }
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const {
        return m_getClassObject(clsid, riid, ppv);
    }
    HRESULT RegisterServer() const { return m_registerServer(); }
    HRESULT UnregisterServer() const { return m_unregisterServer(); }

    // The path of the library the build made.
    static std::wstring BuiltPath();

private:
    HMODULE m_module = nullptr;
    HRESULT(STDAPICALLTYPE* m_canUnloadNow)() = nullptr;
    HRESULT(STDAPICALLTYPE* m_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* m_registerServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* m_unregisterServer)() = nullptr;
};

}  // namespace component_test
