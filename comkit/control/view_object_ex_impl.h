// IViewObjectEx (with IViewObject2 and IViewObject) for a control T built on
// CComControl<T>: it draws the control's label and reports an opaque view.
#pragma once

#include <windows.h>
#include <ocidl.h>

namespace comkit {

template <class T>
class IViewObjectExImpl : public IViewObjectEx {
public:
    // IViewObject
    STDMETHOD(Draw)
    (DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
     WINBOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) noexcept override {
        return Self()->IViewObject_Draw(aspect, dc, bounds);
    }
    STDMETHOD(GetColorSet)
    (DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) noexcept override {
        if (colors)
            *colors = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(Freeze)(DWORD, LONG, void*, DWORD* freeze) noexcept override {
        if (freeze)
            *freeze = 0;
        return E_NOTIMPL;
    }
    STDMETHOD(Unfreeze)(DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHOD(SetAdvise)(DWORD aspects, DWORD flags, IAdviseSink* sink) noexcept override {
        return Self()->IViewObject_SetAdvise(aspects, flags, sink);
    }
    STDMETHOD(GetAdvise)(DWORD* aspects, DWORD* flags, IAdviseSink** sink) noexcept override {
        return Self()->IViewObject_GetAdvise(aspects, flags, sink);
    }

    // IViewObject2: the extent whatever the aspect.
    STDMETHOD(GetExtent)(DWORD, LONG, DVTARGETDEVICE*, LPSIZEL size) noexcept override {
        if (!size)
            return E_POINTER;
        *size = Self()->Extent();
        return S_OK;
    }

    // IViewObjectEx
    STDMETHOD(GetRect)(DWORD, LPRECTL) noexcept override { return E_NOTIMPL; }
    STDMETHOD(GetViewStatus)(DWORD* status) noexcept override {
        if (!status)
            return E_POINTER;
        *status = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;
        return S_OK;
    }
    STDMETHOD(QueryHitPoint)
    (DWORD aspect, LPCRECT bounds, POINT location, LONG, DWORD* hit) noexcept override {
        if (!hit)
            return E_POINTER;
        *hit = HITRESULT_OUTSIDE;
        if (aspect != DVASPECT_CONTENT)
            return E_FAIL;
        if (!bounds)
            return E_POINTER;
        *hit = PtInRect(bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
        return S_OK;
    }
    STDMETHOD(QueryHitRect)
    (DWORD aspect, LPCRECT bounds, LPCRECT location, LONG, DWORD* hit) noexcept override {
        if (!hit)
            return E_POINTER;
        *hit = HITRESULT_OUTSIDE;
        if (aspect != DVASPECT_CONTENT)
            return E_FAIL;
        if (!bounds || !location)
            return E_POINTER;
        RECT overlap{};
        *hit = IntersectRect(&overlap, bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
        return S_OK;
    }
    STDMETHOD(GetNaturalExtent)
    (DWORD aspect, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO* info, LPSIZEL size) noexcept override {
        return Self()->IViewObject_GetNaturalExtent(aspect, info, size);
    }

private:
    T* Self() noexcept { return static_cast<T*>(this); }
};

}  // namespace comkit

using comkit::IViewObjectExImpl;
