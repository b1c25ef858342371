#include "comkit/type_info_cache.h"

#include <wrl/client.h>

#include "comkit/module.h"
#include "comkit/result.h"

using Microsoft::WRL::ComPtr;

namespace comkit {

HRESULT LoadRegTypeLibForLocale(const GUID& libId, WORD major, WORD minor, LCID lcid, LCID libLcid,
                                ITypeLib** lib) noexcept {
    if (!lib)
        return E_POINTER;
    *lib = nullptr;
    HRESULT hr = LoadRegTypeLib(libId, major, minor, lcid, lib);
    if (hr == TYPE_E_LIBNOTREGISTERED && lcid != libLcid) {
        hr = LoadRegTypeLib(libId, major, minor, libLcid, lib);
    }
    if (FAILED(hr))
        *lib = nullptr;
    return hr;
}

HRESULT TypeInfoCache::Get(LCID lcid, ITypeInfo** info) noexcept {
    RETURN_IF_FAILED(Borrow(lcid, info));
    (*info)->AddRef();
    return S_OK;
}

HRESULT TypeInfoCache::Borrow(LCID lcid, ITypeInfo** info) noexcept {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    ITypeInfo* cached = m_info.load(std::memory_order_acquire);
    if (!cached) {
        RETURN_IF_FAILED(Load(lcid));
        cached = m_info.load(std::memory_order_acquire);
    }
    *info = cached;
    return S_OK;
}

HRESULT TypeInfoCache::Load(LCID lcid) noexcept {
    Module& module = GetModule();
    CComCritSecLock<CComCriticalSection> lock(module.TypeInfoLock());
    if (m_info.load(std::memory_order_acquire))
        return S_OK;
    ComPtr<ITypeLib> lib;
    RETURN_IF_FAILED(LoadRegTypeLibForLocale(m_libId, m_major, m_minor, lcid, m_libLcid, &lib));
    ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(lib->GetTypeInfoOfGuid(m_iid, &info));
    RETURN_IF_FAILED(module.AddTermFunc(&TypeInfoCache::Clear, this));
    m_info.store(info.Detach(), std::memory_order_release);
    return S_OK;
}

void TypeInfoCache::Clear(void* self) noexcept {
    auto* cache = static_cast<TypeInfoCache*>(self);
    if (ITypeInfo* info = cache->m_info.exchange(nullptr, std::memory_order_acq_rel))
        info->Release();
}

}  // namespace comkit
