// Class identity and creation: CComCoClass<T, &CLSID_X>::CreateInstance makes
// a plain object when no outer object is given and an aggregatable one when
// one is (then only IID_IUnknown may be asked for: CLASS_E_NOAGGREGATION).
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "comkit/com_object.h"

namespace comkit {

template <class T, const CLSID* pclsid>
class CComCoClass {
public:
    static const CLSID& GetObjectCLSID() noexcept { return *pclsid; }

    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CComAggObject<T>::CreateInstance(outer, riid, ppv);
        return CComObject<T>::CreateInstance(nullptr, riid, ppv);
    }
};

}  // namespace comkit

using comkit::CComCoClass;
