// The type description of one dispatch interface, loaded from the registered
// type library once per process and kept until the module's clean-up list runs.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>

namespace comkit {

class TypeInfoCache {
public:
    // libLcid: the locale the type library declares and is registered under.
    constexpr TypeInfoCache(const GUID& libId, const IID& iid, WORD major, WORD minor,
                            LCID libLcid) noexcept
        : m_libId(libId), m_iid(iid), m_major(major), m_minor(minor), m_libLcid(libLcid) {}
    TypeInfoCache(const TypeInfoCache&) = delete;
    TypeInfoCache& operator=(const TypeInfoCache&) = delete;

    // Gives the caller a counted reference; *info is null on failure. While
    // loading fails, every call tries again.
    HRESULT Get(LCID lcid, ITypeInfo** info) noexcept;
    // The cached description without a reference of the caller's own, for a
    // call made on behalf of a live object: the description stays until the
    // module's clean-up, which cannot come while an object of the module lives.
    HRESULT Borrow(LCID lcid, ITypeInfo** info) noexcept;

private:
    HRESULT Load(LCID lcid) noexcept;
    static void Clear(void* self) noexcept;

    const GUID& m_libId;
    const IID& m_iid;
    WORD m_major;
    WORD m_minor;
    LCID m_libLcid;
    std::atomic<ITypeInfo*> m_info{nullptr};
};

// Loads a registered type library. A library registered under its own locale
// only is not found by LoadRegTypeLib for callers of another locale (Wine's
// script engines ask with locale 0), so when the caller's locale finds no
// registration, the library's own locale is tried.
HRESULT LoadRegTypeLibForLocale(const GUID& libId, WORD major, WORD minor, LCID lcid, LCID libLcid,
                                ITypeLib** lib) noexcept;

}  // namespace comkit
