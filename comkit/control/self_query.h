// Queries a comkit object through its own identity, so that an aggregated
// object asks its outer object (which may answer more than the inner one).
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include "comkit/result.h"

namespace comkit {

template <class T>
HRESULT QueryObject(T* self, REFIID riid, void** ppv) noexcept {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    // The first table entry answers IUnknown; its QueryInterface is the
    // object's controlling one (the outer object's when aggregated).
    Microsoft::WRL::ComPtr<IUnknown> identity;
    RETURN_IF_FAILED(self->_InternalQueryInterface(
        IID_IUnknown, reinterpret_cast<void**>(identity.GetAddressOf())));
    return identity->QueryInterface(riid, ppv);
}

}  // namespace comkit
