// IDispatchImpl<I, &IID_I, &LIBID, major, minor>: the four IDispatch methods
// of a dual interface I, served by I's type description from the registered
// type library (loaded once per process; see type_info_cache.h). Calls
// through I's own table do not need the type library.
//
// A sixth parameter, the locale the type library declares (default 0x409),
// is tried when the caller's locale finds no registration.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include "comkit/result.h"
#include "comkit/type_info_cache.h"

namespace comkit {

template <class I, const IID* piid, const GUID* plibid, WORD wMajor = 1, WORD wMinor = 0,
          LCID libLcid = 0x409>
class IDispatchImpl : public I {
public:
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) noexcept override {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }

    // Any index gives I's description.
    STDMETHOD(GetTypeInfo)(UINT, LCID lcid, ITypeInfo** ppTInfo) noexcept override {
        return Cache().Get(lcid, ppTInfo);
    }

    STDMETHOD(GetIDsOfNames)
    (REFIID, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) noexcept override {
        ITypeInfo* info = nullptr;
        RETURN_IF_FAILED(Cache().Borrow(lcid, &info));
        return info->GetIDsOfNames(rgszNames, cNames, rgDispId);
    }

    // riid is not looked at; lcid only serves to load the description.
    STDMETHOD(Invoke)
    (DISPID dispIdMember, REFIID, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept override {
        ITypeInfo* info = nullptr;
        RETURN_IF_FAILED(Cache().Borrow(lcid, &info));
        return info->Invoke(static_cast<I*>(this), dispIdMember, wFlags, pDispParams, pVarResult,
                            pExcepInfo, puArgErr);
    }

private:
    static TypeInfoCache& Cache() noexcept {
        static TypeInfoCache cache(*plibid, *piid, wMajor, wMinor, libLcid);
        return cache;
    }
};

}  // namespace comkit

using comkit::IDispatchImpl;
