// IOleControl for a control T built on CComControl<T>: no mnemonics, no
// reaction to ambient changes, and a freeze count for events.
#pragma once

#include <windows.h>
#include <ocidl.h>

namespace comkit {

template <class T>
class IOleControlImpl : public IOleControl {
public:
    STDMETHOD(GetControlInfo)(CONTROLINFO*) noexcept override { return E_NOTIMPL; }
    STDMETHOD(OnMnemonic)(MSG*) noexcept override { return E_NOTIMPL; }
    STDMETHOD(OnAmbientPropertyChange)(DISPID) noexcept override { return S_OK; }
    STDMETHOD(FreezeEvents)(BOOL freeze) noexcept override {
        return static_cast<T*>(this)->IOleControl_FreezeEvents(freeze);
    }
};

}  // namespace comkit

using comkit::IOleControlImpl;
