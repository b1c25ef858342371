// A counted outer object for aggregation tests: it keeps the inner unknown
// and forwards queries it does not answer itself to it.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <wrl/client.h>

namespace test_support {

class TestOuter final : public IUnknown {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) noexcept override {
        ++queries;
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() noexcept override {
        return static_cast<ULONG>(InterlockedIncrement(&refs));
    }
    // Lives on the test's stack: the count is only observed.
    STDMETHOD_(ULONG, Release)() noexcept override {
        return static_cast<ULONG>(InterlockedDecrement(&refs));
    }

    LONG refs = 1;
    int queries = 0;
    Microsoft::WRL::ComPtr<IUnknown> inner;
};

}  // namespace test_support
