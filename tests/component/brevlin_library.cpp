#include "brevlin_library.h"

namespace component_test {
namespace {

template <class F>
void Bind(HMODULE module, const char* name, F& f) {
    f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::wstring BrevlinLibrary::BuiltPath() {
    const char* path = BREVLIN_DLL;
    return std::wstring(path, path + strlen(path));
}

BrevlinLibrary::BrevlinLibrary(const std::wstring& path) {
    m_module = LoadLibraryW(path.empty() ? BuiltPath().c_str() : path.c_str());
    if (!m_module)
        return;
    Bind(m_module, "DllCanUnloadNow", m_canUnloadNow);
    Bind(m_module, "DllGetClassObject", m_getClassObject);
    Bind(m_module, "DllRegisterServer", m_registerServer);
    Bind(m_module, "DllUnregisterServer", m_unregisterServer);
    if (!m_canUnloadNow || !m_getClassObject || !m_registerServer || !m_unregisterServer) {
        FreeLibrary(m_module);
        m_module = nullptr;
    }
}

BrevlinLibrary::~BrevlinLibrary() {
    if (m_module)
        FreeLibrary(m_module);
}

}  // namespace component_test
