// A small counted test class on the comkit object root: it counts live
// instances and lets a test choose what FinalConstruct does.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <new>

#include "comkit/coclass.h"
#include "comkit/com_object.h"
#include "comkit/interface_table.h"
#include "comkit/object_root.h"

namespace comkit_test {

// {5E1B3C7A-2D44-4B61-9A0E-6F3C21D5B871}
inline constexpr CLSID CLSID_Counted = {
    0x5e1b3c7a, 0x2d44, 0x4b61, {0x9a, 0x0e, 0x6f, 0x3c, 0x21, 0xd5, 0xb8, 0x71}};

struct CountedState {
    int live = 0;
    int finalReleases = 0;
    LONG countInFinalConstruct = -1;
    HRESULT finalConstructResult = S_OK;
    bool throwInConstructor = false;
    std::function<void(IUnknown*)> duringFinalConstruct;
};

inline CountedState& State() {
    static CountedState state;
    return state;
}

class CCounted : public CComObjectRootEx<CComMultiThreadModel>,
                 public IPersist,
                 public CComCoClass<CCounted, &CLSID_Counted> {
public:
    CCounted() {
        if (State().throwInConstructor)
            throw std::bad_alloc();
        ++State().live;
    }
    ~CCounted() { --State().live; }

    HRESULT FinalConstruct() noexcept {
        State().countInFinalConstruct = m_dwRef;
        if (State().duringFinalConstruct) {
            IUnknown* self = static_cast<IPersist*>(this);
            State().duringFinalConstruct(self);
        }
        return State().finalConstructResult;
    }
    void FinalRelease() noexcept { ++State().finalReleases; }

    HRESULT _InternalQueryInterface(REFIID riid, void** ppv) noexcept {
        return comkit::QueryInterfaceTable(this, riid, ppv, comkit::Entry<IPersist>(IID_IPersist));
    }

    STDMETHOD(GetClassID)(CLSID* clsid) noexcept override {
        if (!clsid)
            return E_POINTER;
        *clsid = CLSID_Counted;
        return S_OK;
    }
};

}  // namespace comkit_test
