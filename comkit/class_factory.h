// The one generic class object: IClassFactory over a creator function.
//
// Module locks: the factory holds one while any client holds a reference to
// it, that is while its count is above 1 (the class table's own reference
// being the first); LockServer adds and removes one.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace comkit {

// Creates an object: (outer, riid, ppv), the contract of CComCoClass::CreateInstance.
using CreatorFunc = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv) noexcept;

class CClassFactory final : public IClassFactory {
public:
    // *factory receives the only reference (count 1); E_OUTOFMEMORY if none
    // could be made.
    static HRESULT Create(CreatorFunc creator, IClassFactory** factory) noexcept;

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) noexcept override;
    STDMETHOD_(ULONG, AddRef)() noexcept override;
    STDMETHOD_(ULONG, Release)() noexcept override;

    // An outer object may ask only for IID_IUnknown (else CLASS_E_NOAGGREGATION).
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) noexcept override;
    STDMETHOD(LockServer)(BOOL lock) noexcept override;

private:
    explicit CClassFactory(CreatorFunc creator) noexcept : m_creator(creator) {}
    ~CClassFactory() = default;

    LONG m_cRef = 1;
    CreatorFunc m_creator;
};

}  // namespace comkit
