// The creatable objects around a class T built on CComObjectRootEx:
//   CComObject<T>     a plain object;
//   CComAggObject<T>  an aggregatable one: the inner unknown that an outer
//                     object keeps, holding T inside it.
// Each holds one module lock from construction to destruction.
//
// CreateInstance(outer, riid, ppv): E_POINTER for a null ppv before anything
// is built; *ppv = null; build (E_OUTOFMEMORY, also when T's constructor
// throws std::bad_alloc); InitialConstruct then FinalConstruct, with the
// count held at 1 for a plain object (not for the aggregated inner object);
// query riid. When a step fails the object is destroyed (FinalRelease runs)
// and that step's failure is returned.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>

#include "comkit/module.h"
#include "comkit/object_root.h"
#include "comkit/result.h"

namespace comkit {

template <class T>
class CComObject final : public T {
public:
    // A plain object cannot be aggregated: a non-null outer gives
    // CLASS_E_NOAGGREGATION.
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        CComObject* object = nullptr;
        RETURN_IF_FAILED(GuardCall([&]() -> HRESULT {
            object = new (std::nothrow) CComObject();
            return object ? S_OK : E_OUTOFMEMORY;
        }));
        // The creation reference: held through the construction steps, then
        // exchanged for the query's reference (or dropped, destroying the object).
        object->InternalAddRef();
        HRESULT hr = object->InitialConstruct();
        if (SUCCEEDED(hr))
            hr = object->FinalConstruct();
        if (SUCCEEDED(hr))
            hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) noexcept override {
        return this->_InternalQueryInterface(riid, ppv);
    }
    STDMETHOD_(ULONG, AddRef)() noexcept override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() noexcept override {
        const ULONG count = this->InternalRelease();
        if (count == 0)
            delete this;
        return count;
    }

private:
    CComObject() { GetModule().Lock(); }
    virtual ~CComObject() {
        this->m_dwRef = T::kDestroyingCount;
        this->FinalRelease();
        GetModule().Unlock();
    }
};

// T inside an aggregatable object: its IUnknown is the outer object's.
template <class T>
class CComContainedObject final : public T {
public:
    explicit CComContainedObject(IUnknown* outer) { this->m_pOuterUnknown = outer; }
    ~CComContainedObject() = default;

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) noexcept override {
        return this->OuterQueryInterface(riid, ppv);
    }
    STDMETHOD_(ULONG, AddRef)() noexcept override { return this->OuterAddRef(); }
    STDMETHOD_(ULONG, Release)() noexcept override { return this->OuterRelease(); }

    IUnknown* GetControllingUnknown() noexcept { return this->m_pOuterUnknown; }
};

template <class T>
class CComAggObject final : public IUnknown, public CComObjectRootEx<typename T::_ThreadModel> {
public:
    // outer is required; riid must be IID_IUnknown, since the outer object
    // must keep the inner unknown (CLASS_E_NOAGGREGATION otherwise).
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!outer)
            return E_INVALIDARG;
        if (!IsEqualIID(riid, IID_IUnknown))
            return CLASS_E_NOAGGREGATION;
        CComAggObject* object = nullptr;
        RETURN_IF_FAILED(GuardCall([&]() -> HRESULT {
            object = new (std::nothrow) CComAggObject(outer);
            return object ? S_OK : E_OUTOFMEMORY;
        }));
        HRESULT hr = object->InitialConstruct();
        if (SUCCEEDED(hr))
            hr = object->m_contained.InitialConstruct();
        if (SUCCEEDED(hr))
            hr = object->m_contained.FinalConstruct();
        if (SUCCEEDED(hr))
            hr = object->QueryInterface(riid, ppv);
        if (FAILED(hr))
            delete object;
        return hr;
    }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) noexcept override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_contained._InternalQueryInterface(riid, ppv);
    }
    STDMETHOD_(ULONG, AddRef)() noexcept override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() noexcept override {
        const ULONG count = this->InternalRelease();
        if (count == 0)
            delete this;
        return count;
    }

    // The T inside, for code that built the aggregate.
    T* GetContained() noexcept { return &m_contained; }

private:
    explicit CComAggObject(IUnknown* outer) : m_contained(outer) { GetModule().Lock(); }
    virtual ~CComAggObject() {
        this->m_dwRef = CComAggObject::kDestroyingCount;
        m_contained.FinalRelease();
        GetModule().Unlock();
    }

    CComContainedObject<T> m_contained;
};

}  // namespace comkit

using comkit::CComAggObject;
using comkit::CComContainedObject;
using comkit::CComObject;
