#include "comkit/class_table.h"

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

HRESULT ClassTable::UnregisterServer(HMODULE module) noexcept {
    WideBuffer path;
    RETURN_IF_FAILED(GetModulePath(module, path));
    for (ClassEntry* entry = m_begin; entry != m_end; ++entry) {
        RETURN_IF_FAILED(
            UpdateRegistryFromResource(module, path.View(), entry->registryScriptId, false));
    }
    return UnregisterTypeLibFromModule(path.View());
}

}  // namespace comkit
