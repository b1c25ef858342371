#include "comkit/class_factory.h"

#include <new>

#include "comkit/module.h"

namespace comkit {

HRESULT CClassFactory::Create(CreatorFunc creator, IClassFactory** factory) noexcept {
    if (!factory)
        return E_POINTER;
    *factory = new (std::nothrow) CClassFactory(creator);
    return *factory ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
        return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() noexcept {
    const LONG count = InterlockedIncrement(&m_cRef);
    if (count == 2)
        GetModule().Lock();
    return static_cast<ULONG>(count);
}

STDMETHODIMP_(ULONG) CClassFactory::Release() noexcept {
    const LONG count = InterlockedDecrement(&m_cRef);
    if (count == 1) {
        GetModule().Unlock();
    } else if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    return m_creator(outer, riid, ppv);
}

STDMETHODIMP CClassFactory::LockServer(BOOL lock) noexcept {
    if (lock) {
        GetModule().Lock();
    } else {
        GetModule().Unlock();
    }
    return S_OK;
}

}  // namespace comkit
