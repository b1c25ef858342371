// A control built on the comkit control bases exactly as the dialer is, with
// ITAPIDialer members that do nothing, so the bases can be tested without the
// telephony service.
#pragma once

#include <windows.h>

#include "brevlin_idl.h"
#include "comkit/coclass.h"
#include "comkit/control/control_bases.h"
#include "comkit/control/label_drawing.h"
#include "comkit/dispatch.h"
#include "comkit/interface_table.h"
#include "comkit/object_root.h"

// {3E0A5B60-8C1D-4F57-9B7A-2D4C1E6F9A01}: registered by the tests alone, so
// they never meet a registration of the real dialer in the same prefix.
inline constexpr CLSID CLSID_TestControl = {
    0x3e0a5b60, 0x8c1d, 0x4f57, {0x9b, 0x7a, 0x2d, 0x4c, 0x1e, 0x6f, 0x9a, 0x01}};

class CTestControl : public CComObjectRootEx<CComMultiThreadModel>,
                     public IDispatchImpl<ITAPIDialer, &IID_ITAPIDialer, &LIBID_BREVLINLib, 1, 0>,
                     public CComControl<CTestControl>,
                     public IPersistStreamInitImpl<CTestControl>,
                     public IOleControlImpl<CTestControl>,
                     public IOleObjectImpl<CTestControl>,
                     public IOleInPlaceActiveObjectImpl<CTestControl>,
                     public IViewObjectExImpl<CTestControl>,
                     public IOleInPlaceObjectWindowlessImpl<CTestControl>,
                     public CComCoClass<CTestControl, &CLSID_TestControl>,
                     public IObjectSafetyImpl<CTestControl, INTERFACESAFE_FOR_UNTRUSTED_CALLER |
                                                                INTERFACESAFE_FOR_UNTRUSTED_DATA> {
public:
    CTestControl() noexcept { InterlockedIncrement(&s_live); }
    CTestControl(const CTestControl&) = delete;
    CTestControl& operator=(const CTestControl&) = delete;

    HRESULT _InternalQueryInterface(REFIID riid, void** ppv) noexcept {
        using comkit::Entry;
        return comkit::QueryInterfaceTable(
            this, riid, ppv, Entry<ITAPIDialer>(), Entry<ITAPIDialer>(IID_IDispatch),
            Entry<IViewObjectEx>(IID_IViewObjectEx), Entry<IViewObjectEx>(IID_IViewObject2),
            Entry<IViewObjectEx>(IID_IViewObject),
            Entry<IOleInPlaceObjectWindowless>(IID_IOleInPlaceObjectWindowless),
            Entry<IOleInPlaceObjectWindowless>(IID_IOleInPlaceObject),
            Entry<IOleInPlaceObjectWindowless>(IID_IOleWindow),
            Entry<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject),
            Entry<IOleControl>(IID_IOleControl), Entry<IOleObject>(IID_IOleObject),
            Entry<IPersistStreamInit>(IID_IPersistStreamInit),
            Entry<IPersistStreamInit>(IID_IPersist), Entry<IObjectSafety>(IID_IObjectSafety));
    }

    STDMETHOD(Connect)(BSTR) noexcept override { return E_NOTIMPL; }
    STDMETHOD(InitializeTAPI)() noexcept override { return E_NOTIMPL; }
    STDMETHOD(ShutdownTAPI)() noexcept override { return E_NOTIMPL; }
    STDMETHOD(Disconnect)() noexcept override { return E_NOTIMPL; }
    STDMETHOD(get_Connected)(VARIANT_BOOL*) noexcept override { return E_NOTIMPL; }
    STDMETHOD(GetAddressNameCSVList)(BSTR*) noexcept override { return E_NOTIMPL; }
    STDMETHOD(ReadDeviceAddressFromFile)(BSTR, VARIANT_BOOL*) noexcept override {
        return E_NOTIMPL;
    }
    STDMETHOD(SetDeviceAddress)(BSTR, VARIANT_BOOL*) noexcept override { return E_NOTIMPL; }

    HRESULT OnDraw(HDC dc, const RECTL& bounds) noexcept {
        return comkit::DrawCentredLabel(dc, bounds, L"ATL 8.0");
    }

    static LONG Live() noexcept { return InterlockedCompareExchange(&s_live, 0, 0); }

protected:
    ~CTestControl() override { InterlockedDecrement(&s_live); }

private:
    static inline LONG s_live = 0;
};
