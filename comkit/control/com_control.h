// CComControl<T>: the control base of a class T that also derives from the
// control interface implementations (IOleObjectImpl<T> and the rest). T
// draws itself with `HRESULT OnDraw(HDC dc, const RECTL& bounds) noexcept`.
#pragma once

#include "comkit/control/control_base.h"
#include "comkit/control/self_query.h"

namespace comkit {

template <class T>
class CComControl : public CComControlBase {
protected:
    CComControl() noexcept = default;
    ~CComControl() override = default;

    HRESULT ControlQueryInterface(REFIID riid, void** ppv) noexcept override {
        return QueryObject(static_cast<T*>(this), riid, ppv);
    }

    HRESULT DrawContent(HDC dc, const RECTL& bounds) noexcept override {
        return static_cast<T*>(this)->OnDraw(dc, bounds);
    }
};

}  // namespace comkit

using comkit::CComControl;
