#include "comkit/module.h"

#include <new>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace comkit {

Module::Module() noexcept : m_resourceInstance(reinterpret_cast<HINSTANCE>(&__ImageBase)) {}

HRESULT Module::AddTermFunc(TermFunc fn, void* data) noexcept {
    auto* entry = new (std::nothrow) TermEntry{fn, data, nullptr};
    if (!entry)
        return E_OUTOFMEMORY;
    CComCritSecLock<CComCriticalSection> lock(m_termLock);
    entry->next = m_termList;
    m_termList = entry;
    return S_OK;
}

void Module::Term() noexcept {
    TermEntry* list = nullptr;
    {
        CComCritSecLock<CComCriticalSection> lock(m_termLock);
        list = m_termList;
        m_termList = nullptr;
    }
    while (list) {
        TermEntry* next = list->next;
        list->fn(list->data);
        delete list;
        list = next;
    }
}

Module& GetModule() noexcept {
    static Module module;
    return module;
}

}  // namespace comkit
