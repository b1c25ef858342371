// QueryInterface as a short table:
//
//   HRESULT CMyObject::_InternalQueryInterface(REFIID riid, void** ppv) noexcept {
//     return comkit::QueryInterfaceTable(this, riid, ppv,
//                                        comkit::Entry<IMyInterface>(),
//                                        comkit::Entry<IMyInterface>(IID_IDispatch),
//                                        comkit::Entry<IPersist>(IID_IPersist));
//   }
//
// Entry<I>() matches __uuidof(I) (the interface needs a __CRT_UUID_DECL);
// Entry<I>(iid) matches iid and hands out the I part of the object, which is
// how one pointer answers several identifiers. IID_IUnknown is answered with
// the first entry. The out pointer is null on failure. The reference is added
// through the interface handed out, so an aggregated object's AddRef reaches
// its outer object.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace comkit {

template <class I>
struct Entry {
    Entry() noexcept : iid(&__uuidof(I)) {}
    explicit Entry(const IID& id) noexcept : iid(&id) {}

    template <class T>
    static IUnknown* Cast(T* self) noexcept {
        return static_cast<I*>(self);
    }

    const IID* iid;
};

namespace detail {

template <class T>
IUnknown* FindEntry(T*, REFIID) noexcept {
    return nullptr;
}

template <class T, class E, class... Rest>
IUnknown* FindEntry(T* self, REFIID riid, const E& entry, const Rest&... rest) noexcept {
    if (IsEqualIID(riid, *entry.iid))
        return E::Cast(self);
    return FindEntry(self, riid, rest...);
}

}  // namespace detail

template <class T, class First, class... Rest>
HRESULT QueryInterfaceTable(T* self, REFIID riid, void** ppv, const First& first,
                            const Rest&... rest) noexcept {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    IUnknown* found = IsEqualIID(riid, IID_IUnknown)
                          ? First::Cast(self)
                          : detail::FindEntry(self, riid, first, rest...);
    if (!found)
        return E_NOINTERFACE;
    found->AddRef();
    *ppv = found;
    return S_OK;
}

}  // namespace comkit
