#include <gtest/gtest.h>

#include <wrl/client.h>

#include <stdexcept>

#include "comkit/bstr.h"
#include "comkit/module.h"
#include "comkit/result.h"
#include "counted_object.h"
#include "support/hresult.h"
#include "support/test_outer.h"

using comkit_test::CCounted;
using comkit_test::CLSID_Counted;
using comkit_test::State;
using Microsoft::WRL::ComPtr;
using test_support::TestOuter;

namespace {

class ObjectRootTest : public ::testing::Test {
protected:
    void SetUp() override {
        State() = {};
        m_baseLocks = comkit::GetModule().GetLockCount();
    }
    void TearDown() override {
        EXPECT_EQ(State().live, 0) << "leaked test objects";
        EXPECT_EQ(comkit::GetModule().GetLockCount(), m_baseLocks);
    }
    LONG Locks() const { return comkit::GetModule().GetLockCount() - m_baseLocks; }
    LONG m_baseLocks = 0;
};

TEST_F(ObjectRootTest, NullOutPointerIsRefusedBeforeAnythingIsBuilt) {
    EXPECT_HR(E_POINTER, CComObject<CCounted>::CreateInstance(nullptr, IID_IPersist, nullptr));
    TestOuter outer;
    EXPECT_HR(E_POINTER, CComAggObject<CCounted>::CreateInstance(&outer, IID_IUnknown, nullptr));
    EXPECT_HR(E_POINTER, CCounted::CreateInstance(nullptr, IID_IPersist, nullptr));
    EXPECT_EQ(State().countInFinalConstruct, -1);
    EXPECT_EQ(State().live, 0);
}

TEST_F(ObjectRootTest, PlainObjectHoldsOneModuleLockWhileAlive) {
    ComPtr<IPersist> p;
    ASSERT_HR(S_OK, CComObject<CCounted>::CreateInstance(nullptr, IID_IPersist, &p));
    EXPECT_EQ(State().live, 1);
    EXPECT_EQ(Locks(), 1);
    ComPtr<IPersist> second;
    ASSERT_HR(S_OK, CCounted::CreateInstance(nullptr, IID_IPersist, &second));
    EXPECT_EQ(Locks(), 2);
    second.Reset();
    EXPECT_EQ(p->AddRef(), 2u);
    EXPECT_EQ(p->Release(), 1u);
    EXPECT_EQ(p.Reset(), 0u);
    EXPECT_EQ(State().finalReleases, 2);
    EXPECT_EQ(Locks(), 0);
}

TEST_F(ObjectRootTest, TheCountIsHeldAtOneDuringFinalConstruct) {
    State().duringFinalConstruct = [](IUnknown* self) {
        // A reference taken and dropped here must not destroy the object.
        self->AddRef();
        EXPECT_EQ(self->Release(), 1u);
    };
    ComPtr<IPersist> p;
    ASSERT_HR(S_OK, CComObject<CCounted>::CreateInstance(nullptr, IID_IPersist, &p));
    EXPECT_EQ(State().countInFinalConstruct, 1);
    EXPECT_EQ(State().live, 1);
    EXPECT_EQ(State().finalReleases, 0);
    CLSID clsid{};
    EXPECT_HR(S_OK, p->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Counted));
}

TEST_F(ObjectRootTest, AFailedStepDestroysTheObjectAndReturnsItsCode) {
    State().finalConstructResult = E_ACCESSDENIED;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_HR(E_ACCESSDENIED, CComObject<CCounted>::CreateInstance(nullptr, IID_IPersist, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(State().live, 0);
    EXPECT_EQ(State().finalReleases, 1);

    TestOuter outer;
    out = reinterpret_cast<void*>(1);
    EXPECT_HR(E_ACCESSDENIED, CComAggObject<CCounted>::CreateInstance(&outer, IID_IUnknown, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(State().live, 0);
    EXPECT_EQ(outer.refs, 1);

    // The query is the last step: an interface the object lacks.
    State().finalConstructResult = S_OK;
    out = reinterpret_cast<void*>(1);
    EXPECT_HR(E_NOINTERFACE, CComObject<CCounted>::CreateInstance(nullptr, IID_IDispatch, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(State().live, 0);
    EXPECT_EQ(Locks(), 0);
}

TEST_F(ObjectRootTest, AConstructorOutOfMemoryGivesEOutOfMemory) {
    State().throwInConstructor = true;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_HR(E_OUTOFMEMORY, CComObject<CCounted>::CreateInstance(nullptr, IID_IPersist, &out));
    EXPECT_EQ(out, nullptr);
    TestOuter outer;
    EXPECT_HR(E_OUTOFMEMORY, CComAggObject<CCounted>::CreateInstance(&outer, IID_IUnknown, &out));
    EXPECT_EQ(Locks(), 0);
}

TEST_F(ObjectRootTest, QueryInterfaceIsATableAndIUnknownIsItsFirstEntry) {
    ComPtr<IPersist> p;
    ASSERT_HR(S_OK, CComObject<CCounted>::CreateInstance(nullptr, IID_IPersist, &p));
    ComPtr<IUnknown> unknown;
    ASSERT_HR(S_OK, p->QueryInterface(IID_IUnknown, &unknown));
    EXPECT_EQ(unknown.Get(), static_cast<IUnknown*>(p.Get()));
    void* out = reinterpret_cast<void*>(1);
    EXPECT_HR(E_NOINTERFACE, p->QueryInterface(IID_IPersistStream, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_HR(E_POINTER, p->QueryInterface(IID_IPersist, nullptr));
    unknown.Reset();
    EXPECT_EQ(p.Reset(), 0u);
}

TEST_F(ObjectRootTest, APlainObjectCannotBeAggregated) {
    TestOuter outer;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_HR(CLASS_E_NOAGGREGATION,
              CComObject<CCounted>::CreateInstance(&outer, IID_IUnknown, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_HR(CLASS_E_NOAGGREGATION,
              CComAggObject<CCounted>::CreateInstance(&outer, IID_IPersist, &out));
    EXPECT_HR(CLASS_E_NOAGGREGATION, CCounted::CreateInstance(&outer, IID_IPersist, &out));
    EXPECT_EQ(State().live, 0);
}

TEST_F(ObjectRootTest, AnAggregatedObjectDelegatesToItsOuterObject) {
    TestOuter outer;
    ASSERT_HR(S_OK, CCounted::CreateInstance(&outer, IID_IUnknown, &outer.inner));
    EXPECT_EQ(State().countInFinalConstruct, 0) << "the inner object's count is not held";
    EXPECT_EQ(Locks(), 1);
    EXPECT_EQ(outer.refs, 1);

    ComPtr<IUnknown> same;
    ASSERT_HR(S_OK, outer.inner->QueryInterface(IID_IUnknown, &same));
    EXPECT_EQ(same.Get(), outer.inner.Get());
    same.Reset();

    ComPtr<IPersist> persist;
    ASSERT_HR(S_OK, outer.inner->QueryInterface(IID_IPersist, &persist));
    EXPECT_EQ(outer.refs, 2);
    const int queries = outer.queries;
    ComPtr<IUnknown> identity;
    ASSERT_HR(S_OK, persist->QueryInterface(IID_IUnknown, &identity));
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));
    EXPECT_EQ(outer.queries, queries + 1);
    identity.Reset();
    persist.Reset();
    EXPECT_EQ(outer.refs, 1);

    EXPECT_EQ(outer.inner.Reset(), 0u);
    EXPECT_EQ(State().finalReleases, 1);
    EXPECT_EQ(Locks(), 0);
}

TEST(ResultTest, ReturnIfFailedEvaluatesOnceAndReturnsTheFailure) {
    int calls = 0;
    auto step = [&](HRESULT hr) {
        ++calls;
        return hr;
    };
    auto run = [&](HRESULT first) -> HRESULT {
        RETURN_IF_FAILED(step(first));
        RETURN_IF_FAILED(step(S_FALSE));
        return E_UNEXPECTED;
    };
    EXPECT_HR(E_ACCESSDENIED, run(E_ACCESSDENIED));
    EXPECT_EQ(calls, 1);
    EXPECT_HR(E_UNEXPECTED, run(S_OK));
    EXPECT_EQ(calls, 3);
}

TEST(ResultTest, GuardCallTurnsExceptionsIntoResults) {
    EXPECT_HR(E_OUTOFMEMORY, comkit::GuardCall([]() -> HRESULT { throw std::bad_alloc(); }));
    EXPECT_HR(E_UNEXPECTED, comkit::GuardCall([]() -> HRESULT { throw std::runtime_error("x"); }));
    EXPECT_HR(S_FALSE, comkit::GuardCall([]() -> HRESULT { return S_FALSE; }));
}

TEST(UniqueBstrTest, OwnsOneStringAndHandsItOver) {
    comkit::UniqueBstr a(SysAllocString(L"abc"));
    EXPECT_EQ(a.Length(), 3u);
    comkit::UniqueBstr b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_STREQ(b.Get(), L"abc");
    BSTR raw = b.Release();
    EXPECT_FALSE(b);
    SysFreeString(raw);
    comkit::UniqueBstr c;
    *c.Receive() = SysAllocString(L"de");
    EXPECT_EQ(c.Length(), 2u);
    c.Reset();
    EXPECT_EQ(c.Length(), 0u);
}

TEST(ModuleTest, TermRunsTheCleanUpListNewestFirstOnce) {
    comkit::Module module;
    static int order[3];
    static int next;
    next = 0;
    auto record = [](void* data) noexcept {
        order[next++] = static_cast<int>(reinterpret_cast<intptr_t>(data));
    };
    ASSERT_HR(S_OK, module.AddTermFunc(record, reinterpret_cast<void*>(1)));
    ASSERT_HR(S_OK, module.AddTermFunc(record, reinterpret_cast<void*>(2)));
    module.Term();
    module.Term();
    EXPECT_EQ(next, 2);
    EXPECT_EQ(order[0], 2);
    EXPECT_EQ(order[1], 1);
    EXPECT_EQ(module.GetResourceInstance(), GetModuleHandleW(nullptr));
}

}  // namespace
