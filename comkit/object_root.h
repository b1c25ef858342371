// The root of every comkit object: the reference count and the thread
// model's lock. A class T built on CComObjectRootEx is abstract; CComObject<T>
// or CComAggObject<T> (com_object.h) supplies its IUnknown methods.
//
// T declares its interface table as
//   HRESULT _InternalQueryInterface(REFIID riid, void** ppv) noexcept;
// usually a call of comkit::QueryInterfaceTable (interface_table.h).
//
// Unlike ATL, the reference count and the outer unknown are separate fields,
// not a union: an aggregated object's own count simply stays unused.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <climits>

#include "comkit/critical_section.h"

namespace comkit {

class CComMultiThreadModel {
public:
    static ULONG Increment(LONG* p) noexcept { return static_cast<ULONG>(InterlockedIncrement(p)); }
    static ULONG Decrement(LONG* p) noexcept { return static_cast<ULONG>(InterlockedDecrement(p)); }
    using CriticalSection = CComCriticalSection;
    using AutoCriticalSection = CComAutoCriticalSection;
};

template <class ThreadModel>
class CComObjectRootEx {
public:
    using _ThreadModel = ThreadModel;

    CComObjectRootEx() noexcept = default;
    CComObjectRootEx(const CComObjectRootEx&) = delete;
    CComObjectRootEx& operator=(const CComObjectRootEx&) = delete;
    ~CComObjectRootEx() { m_critsec.Term(); }

    ULONG InternalAddRef() noexcept { return ThreadModel::Increment(&m_dwRef); }
    ULONG InternalRelease() noexcept { return ThreadModel::Decrement(&m_dwRef); }

    // Creation steps (com_object.h): the lock is initialised first, with the
    // count held at 1 for a plain object; then FinalConstruct runs.
    HRESULT InitialConstruct() noexcept { return m_critsec.Init(); }
    HRESULT FinalConstruct() noexcept { return S_OK; }
    void FinalRelease() noexcept {}

    // The thread model's lock; comkit itself never takes it.
    void Lock() noexcept { m_critsec.Lock(); }
    void Unlock() noexcept { m_critsec.Unlock(); }

    // For an aggregated object: the controlling unknown (not a counted reference).
    ULONG OuterAddRef() noexcept { return m_pOuterUnknown->AddRef(); }
    ULONG OuterRelease() noexcept { return m_pOuterUnknown->Release(); }
    HRESULT OuterQueryInterface(REFIID riid, void** ppv) noexcept {
        return m_pOuterUnknown->QueryInterface(riid, ppv);
    }

    // The count while the object is being destroyed: far from 0, so that a
    // reference taken and dropped during FinalRelease does not destroy it again.
    static constexpr LONG kDestroyingCount = -(LONG_MAX / 2);

    LONG m_dwRef = 0;
    IUnknown* m_pOuterUnknown = nullptr;

private:
    typename ThreadModel::CriticalSection m_critsec;
};

}  // namespace comkit

using comkit::CComMultiThreadModel;
using comkit::CComObjectRootEx;
