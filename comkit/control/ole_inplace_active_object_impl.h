// IOleInPlaceActiveObject for a control T built on CComControl<T>. The
// control has no menus, toolbars or accelerators of its own.
#pragma once

#include <windows.h>
#include <oleidl.h>

namespace comkit {

template <class T>
class IOleInPlaceActiveObjectImpl : public IOleInPlaceActiveObject {
public:
    STDMETHOD(GetWindow)(HWND* window) noexcept override {
        return Self()->IOleInPlaceObject_GetWindow(window);
    }
    STDMETHOD(ContextSensitiveHelp)(BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHOD(TranslateAccelerator)(LPMSG) noexcept override { return S_FALSE; }
    STDMETHOD(OnFrameWindowActivate)(BOOL) noexcept override { return S_OK; }
    // Losing the document window takes the user interface away with it.
    STDMETHOD(OnDocWindowActivate)(BOOL activate) noexcept override {
        if (!activate)
            (void)Self()->IOleInPlaceObject_UIDeactivate();
        return S_OK;
    }
    STDMETHOD(ResizeBorder)(LPCRECT, IOleInPlaceUIWindow*, BOOL) noexcept override { return S_OK; }
    STDMETHOD(EnableModeless)(BOOL) noexcept override { return S_OK; }

private:
    T* Self() noexcept { return static_cast<T*>(this); }
};

}  // namespace comkit

using comkit::IOleInPlaceActiveObjectImpl;
