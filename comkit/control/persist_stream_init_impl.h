// IPersistStreamInit (with IPersist) for a control T built on CComControl<T>
// and CComCoClass. The stream holds a format version and the extent:
//   offset 0  DWORD  0x800
//   offset 4  DWORD  width  (HIMETRIC)
//   offset 8  DWORD  height (HIMETRIC)
#pragma once

#include <windows.h>
#include <ocidl.h>

namespace comkit {

template <class T>
class IPersistStreamInitImpl : public IPersistStreamInit {
public:
    STDMETHOD(GetClassID)(CLSID* clsid) noexcept override {
        if (!clsid)
            return E_POINTER;
        *clsid = T::GetObjectCLSID();
        return S_OK;
    }
    STDMETHOD(IsDirty)() noexcept override { return Self()->IPersistStreamInit_IsDirty(); }
    STDMETHOD(Load)(LPSTREAM stream) noexcept override {
        return Self()->IPersistStreamInit_Load(stream);
    }
    STDMETHOD(Save)(LPSTREAM stream, BOOL clearDirty) noexcept override {
        return Self()->IPersistStreamInit_Save(stream, clearDirty);
    }
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER* size) noexcept override {
        if (!size)
            return E_POINTER;
        size->QuadPart = T::kStreamSize;
        return S_OK;
    }
    STDMETHOD(InitNew)() noexcept override { return Self()->IPersistStreamInit_InitNew(); }

private:
    T* Self() noexcept { return static_cast<T*>(this); }
};

}  // namespace comkit

using comkit::IPersistStreamInitImpl;
