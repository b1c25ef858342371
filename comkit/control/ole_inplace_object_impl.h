// IOleInPlaceObjectWindowless (with IOleInPlaceObject and IOleWindow) for a
// control T built on CComControl<T>.
#pragma once

#include <windows.h>
#include <ocidl.h>

namespace comkit {

template <class T>
class IOleInPlaceObjectWindowlessImpl : public IOleInPlaceObjectWindowless {
public:
    STDMETHOD(GetWindow)(HWND* window) noexcept override {
        return Self()->IOleInPlaceObject_GetWindow(window);
    }
    STDMETHOD(ContextSensitiveHelp)(BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHOD(InPlaceDeactivate)() noexcept override {
        return Self()->IOleInPlaceObject_InPlaceDeactivate();
    }
    STDMETHOD(UIDeactivate)() noexcept override { return Self()->IOleInPlaceObject_UIDeactivate(); }
    STDMETHOD(SetObjectRects)(LPCRECT pos, LPCRECT clip) noexcept override {
        return Self()->IOleInPlaceObject_SetObjectRects(pos, clip);
    }
    STDMETHOD(ReactivateAndUndo)() noexcept override { return E_NOTIMPL; }
    // The control handles no window messages of its own when windowless;
    // S_FALSE tells the container to do its default processing.
    STDMETHOD(OnWindowMessage)(UINT, WPARAM, LPARAM, LRESULT* result) noexcept override {
        if (!result)
            return E_POINTER;
        *result = 0;
        return S_FALSE;
    }
    STDMETHOD(GetDropTarget)(IDropTarget** target) noexcept override {
        if (!target)
            return E_POINTER;
        *target = nullptr;
        return E_NOTIMPL;
    }

private:
    T* Self() noexcept { return static_cast<T*>(this); }
};

}  // namespace comkit

using comkit::IOleInPlaceObjectWindowlessImpl;
