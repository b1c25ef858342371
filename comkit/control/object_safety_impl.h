// IObjectSafety for a comkit object T: one set of safety options for the
// whole object, whichever of its interfaces the caller names.
#pragma once

#include <windows.h>
#include <objsafe.h>
#include <wrl/client.h>

#include "comkit/control/self_query.h"

// mingw's objsafe.h gives IObjectSafety no __CRT_UUID_DECL; without it
// __uuidof, IID_PPV_ARGS and ComPtr::As do not link.
__CRT_UUID_DECL(IObjectSafety, 0xcb5bdc81, 0x93c1, 0x11cf, 0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0,
                0x64)

namespace comkit {

template <class T, DWORD supportedSafety>
class IObjectSafetyImpl : public IObjectSafety {
public:
    STDMETHOD(GetInterfaceSafetyOptions)
    (REFIID riid, DWORD* supported, DWORD* enabled) noexcept override {
        if (!supported || !enabled)
            return E_POINTER;
        *supported = 0;
        *enabled = 0;
        Microsoft::WRL::ComPtr<IUnknown> answered;
        const HRESULT hr = QueryObject(static_cast<T*>(this), riid,
                                       reinterpret_cast<void**>(answered.GetAddressOf()));
        if (FAILED(hr))
            return hr;
        *supported = supportedSafety;
        *enabled = static_cast<DWORD>(InterlockedCompareExchange(&m_dwCurrentSafety, 0, 0));
        return S_OK;
    }

    STDMETHOD(SetInterfaceSafetyOptions)(REFIID riid, DWORD mask, DWORD enabled) noexcept override {
        Microsoft::WRL::ComPtr<IUnknown> answered;
        if (FAILED(QueryObject(static_cast<T*>(this), riid,
                               reinterpret_cast<void**>(answered.GetAddressOf())))) {
            return E_NOINTERFACE;
        }
        if (mask & ~supportedSafety)
            return E_FAIL;
        // Two callers may set different bits at once; neither update is lost.
        LONG current = InterlockedCompareExchange(&m_dwCurrentSafety, 0, 0);
        for (;;) {
            const LONG next =
                static_cast<LONG>((static_cast<DWORD>(current) & ~mask) | (mask & enabled));
            const LONG seen = InterlockedCompareExchange(&m_dwCurrentSafety, next, current);
            if (seen == current)
                return S_OK;
            current = seen;
        }
    }

protected:
    // Whether the option is enabled: one set of options serves every interface.
    bool SafetyOptionEnabled(DWORD option) noexcept {
        return (static_cast<DWORD>(InterlockedCompareExchange(&m_dwCurrentSafety, 0, 0)) &
                option) != 0;
    }

    LONG m_dwCurrentSafety = 0;
};

}  // namespace comkit

using comkit::IObjectSafetyImpl;
