// IOleObject for a control T built on CComControl<T> and CComCoClass.
// Status, user type and verbs come from the class's registry entries.
#pragma once

#include <windows.h>
#include <ole2.h>

namespace comkit {

template <class T>
class IOleObjectImpl : public IOleObject {
public:
    STDMETHOD(SetClientSite)(IOleClientSite* site) noexcept override {
        return Self()->IOleObject_SetClientSite(site);
    }
    STDMETHOD(GetClientSite)(IOleClientSite** site) noexcept override {
        return Self()->IOleObject_GetClientSite(site);
    }
    STDMETHOD(SetHostNames)(LPCOLESTR, LPCOLESTR) noexcept override { return S_OK; }
    STDMETHOD(Close)(DWORD saveOption) noexcept override {
        return Self()->IOleObject_Close(saveOption);
    }
    STDMETHOD(SetMoniker)(DWORD, IMoniker*) noexcept override { return E_NOTIMPL; }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker** moniker) noexcept override {
        if (moniker)
            *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(InitFromData)(IDataObject*, BOOL, DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHOD(GetClipboardData)(DWORD, IDataObject** data) noexcept override {
        if (data)
            *data = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(DoVerb)
    (LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND parent,
     LPCRECT posRect) noexcept override {
        return Self()->IOleObject_DoVerb(verb, activeSite, parent, posRect);
    }
    STDMETHOD(EnumVerbs)(IEnumOLEVERB** verbs) noexcept override {
        if (!verbs)
            return E_POINTER;
        *verbs = nullptr;
        return OleRegEnumVerbs(T::GetObjectCLSID(), verbs);
    }
    STDMETHOD(Update)() noexcept override { return S_OK; }
    STDMETHOD(IsUpToDate)() noexcept override { return S_OK; }
    STDMETHOD(GetUserClassID)(CLSID* clsid) noexcept override {
        if (!clsid)
            return E_POINTER;
        *clsid = T::GetObjectCLSID();
        return S_OK;
    }
    STDMETHOD(GetUserType)(DWORD form, LPOLESTR* userType) noexcept override {
        if (!userType)
            return E_POINTER;
        *userType = nullptr;
        return OleRegGetUserType(T::GetObjectCLSID(), form, userType);
    }
    STDMETHOD(SetExtent)(DWORD aspect, SIZEL* size) noexcept override {
        return Self()->IOleObject_SetExtent(aspect, size);
    }
    STDMETHOD(GetExtent)(DWORD aspect, SIZEL* size) noexcept override {
        return Self()->IOleObject_GetExtent(aspect, size);
    }
    STDMETHOD(Advise)(IAdviseSink* sink, DWORD* connection) noexcept override {
        return Self()->IOleObject_Advise(sink, connection);
    }
    STDMETHOD(Unadvise)(DWORD connection) noexcept override {
        return Self()->IOleObject_Unadvise(connection);
    }
    STDMETHOD(EnumAdvise)(IEnumSTATDATA** enumerator) noexcept override {
        return Self()->IOleObject_EnumAdvise(enumerator);
    }
    STDMETHOD(GetMiscStatus)(DWORD aspect, DWORD* status) noexcept override {
        if (!status)
            return E_POINTER;
        *status = 0;
        return OleRegGetMiscStatus(T::GetObjectCLSID(), aspect, status);
    }
    STDMETHOD(SetColorScheme)(LOGPALETTE*) noexcept override { return E_NOTIMPL; }

private:
    T* Self() noexcept { return static_cast<T*>(this); }
};

}  // namespace comkit

using comkit::IOleObjectImpl;
