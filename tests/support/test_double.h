// The IUnknown of a hand-written test double: its answers to QueryInterface,
// and a count of references that fails the test on a release past zero.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <initializer_list>

#include <gtest/gtest.h>

namespace test_support {

// Answers self, as interface I, for each of iids; IUnknown must be among them.
template <class I, class Self>
HRESULT QueryAny(Self* self, REFIID riid, void** ppv, std::initializer_list<IID> iids) noexcept {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    for (const IID& iid : iids) {
        if (IsEqualIID(riid, iid)) {
            *ppv = static_cast<I*>(self);
            self->AddRef();
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}

// Drops one of refs; the caller deletes itself when this answers 0.
inline ULONG DropReference(LONG& refs, const char* what) noexcept {
    const LONG count = InterlockedDecrement(&refs);
    if (count < 0) {
        ADD_FAILURE() << what << " released past zero";
    }
    return static_cast<ULONG>(count);
}

// A double of one interface I, answered also as IUnknown and as each of
// Iids; made with one reference (see Adopt) and deleted with its last.
// Live() counts the doubles of this kind not yet deleted.
template <class I, const IID*... Iids>
class TestDouble : public I {
public:
    static LONG Live() noexcept { return InterlockedCompareExchange(&s_live, 0, 0); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        return QueryAny<I>(this, riid, ppv, {IID_IUnknown, *Iids...});
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override {
        return static_cast<ULONG>(InterlockedIncrement(&m_refs));
    }
    STDMETHODIMP_(ULONG) Release() noexcept override {
        const ULONG count = DropReference(m_refs, "test double");
        if (count == 0) {
            delete this;
        }
        return count;
    }

protected:
    TestDouble() noexcept { InterlockedIncrement(&s_live); }
    virtual ~TestDouble() { InterlockedDecrement(&s_live); }
    TestDouble(const TestDouble&) = delete;
    TestDouble& operator=(const TestDouble&) = delete;

private:
    static inline LONG s_live = 0;
    LONG m_refs = 1;
};

}  // namespace test_support
