#include <gtest/gtest.h>

#include <wrl/client.h>

#include <thread>
#include <vector>

#include "brevlin_idl.h"
#include "brevlin_library.h"
#include "support/apartment.h"
#include "support/bstr.h"
#include "support/hresult.h"
#include "support/test_outer.h"
#include "telsim/telsim.h"

using component_test::BrevlinLibrary;
using Microsoft::WRL::ComPtr;
using test_support::TestOuter;

namespace {

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(m_apartment.Result()));
        ASSERT_TRUE(m_lib.Loaded()) << "Brevlin.dll did not load";
        m_service = telsim::Service::Create();
        ASSERT_HR(S_OK, m_service->RegisterClassObject());
    }
    void TearDown() override {
        EXPECT_HR(S_OK, m_lib.CanUnloadNow()) << "a module lock is still held";
        m_service->RevokeClassObject();
        m_service->Notifications().WaitIdle();
        EXPECT_EQ(m_service->Ledger().Leaks(), "");
        m_service.reset();
    }

    ComPtr<IClassFactory> Factory() {
        ComPtr<IClassFactory> factory;
        EXPECT_HR(S_OK, m_lib.GetClassObject(CLSID_TAPIDialer, IID_IClassFactory, &factory));
        return factory;
    }

    BrevlinLibrary m_lib;
    test_support::Apartment m_apartment;
    std::shared_ptr<telsim::Service> m_service;
};

TEST_F(ModuleTest, CanUnloadNowWaitsForObjectsClassObjectReferencesAndServerLocks) {
    EXPECT_HR(S_OK, m_lib.CanUnloadNow());
    ComPtr<IClassFactory> factory = Factory();
    ASSERT_TRUE(factory);
    EXPECT_HR(S_FALSE, m_lib.CanUnloadNow());

    ComPtr<ITAPIDialer> dialer;
    ASSERT_HR(S_OK, factory->CreateInstance(nullptr, IID_ITAPIDialer, &dialer));
    factory.Reset();
    EXPECT_HR(S_FALSE, m_lib.CanUnloadNow()) << "a live dialer holds a lock";
    dialer.Reset();
    EXPECT_HR(S_OK, m_lib.CanUnloadNow());

    factory = Factory();
    EXPECT_HR(S_OK, factory->LockServer(TRUE));
    factory.Reset();
    EXPECT_HR(S_FALSE, m_lib.CanUnloadNow()) << "LockServer(TRUE) holds a lock";
    factory = Factory();
    EXPECT_HR(S_OK, factory->LockServer(FALSE));
    factory.Reset();
    EXPECT_HR(S_OK, m_lib.CanUnloadNow());
}

TEST_F(ModuleTest, AnEventSinkTheServiceStillHoldsKeepsTheLibraryLoaded) {
    m_service->Notifications().KeepSinksAfterRootRelease(true);
    ComPtr<ITAPIDialer> dialer;
    ASSERT_HR(S_OK, Factory()->CreateInstance(nullptr, IID_ITAPIDialer, &dialer));
    ASSERT_HR(S_OK, dialer->InitializeTAPI());
    EXPECT_HR(S_OK, dialer->Connect(test_support::Bstr(L"5550100").Get()));
    dialer.Reset();
    m_service->Notifications().WaitIdle();
    EXPECT_HR(S_FALSE, m_lib.CanUnloadNow()) << "the service can still call the sink";
    m_service->Notifications().ReleaseSinks();
    EXPECT_HR(S_OK, m_lib.CanUnloadNow());
}

TEST_F(ModuleTest, TheClassObjectIsMadeOnceAndAnswersOnlyItsInterfaces) {
    ComPtr<IClassFactory> first = Factory();
    ComPtr<IUnknown> second;
    ASSERT_HR(S_OK, m_lib.GetClassObject(CLSID_TAPIDialer, IID_IUnknown, &second));
    EXPECT_EQ(static_cast<IUnknown*>(first.Get()), second.Get());

    void* out = reinterpret_cast<void*>(1);
    EXPECT_HR(E_NOINTERFACE, m_lib.GetClassObject(CLSID_TAPIDialer, IID_IDispatch, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_HR(E_POINTER, m_lib.GetClassObject(CLSID_TAPIDialer, IID_IClassFactory, nullptr));
    EXPECT_HR(E_POINTER, first->CreateInstance(nullptr, IID_ITAPIDialer, nullptr));
}

TEST_F(ModuleTest, ConcurrentFirstRequestsGetTheSameClassObject) {
    constexpr int kThreads = 8;
    std::vector<IUnknown*> got(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            if (FAILED(m_lib.GetClassObject(CLSID_TAPIDialer, IID_IUnknown,
                                            reinterpret_cast<void**>(&got[i])))) {
                got[i] = nullptr;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < kThreads; ++i) {
        ASSERT_NE(got[i], nullptr);
        EXPECT_EQ(got[i], got[0]);
    }
    for (IUnknown* p : got)
        p->Release();
}

TEST_F(ModuleTest, OtherClassIdentifiersAreRefusedWithANullOutPointer) {
    for (const CLSID* clsid : {&CLSID_TAPI, &IID_ITAPIDialer, &LIBID_BREVLINLib, &CLSID_NULL}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, m_lib.GetClassObject(*clsid, IID_IClassFactory, &out));
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_HR(S_OK, m_lib.CanUnloadNow());
}

TEST_F(ModuleTest, AnAggregatedDialerIsReachedOnlyThroughItsInnerUnknown) {
    ComPtr<IClassFactory> factory = Factory();
    TestOuter outer;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_HR(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IDispatch, &out));
    EXPECT_EQ(out, nullptr);

    ASSERT_HR(S_OK, factory->CreateInstance(&outer, IID_IUnknown, &outer.inner));
    EXPECT_EQ(outer.refs, 1) << "the inner object holds no reference on its outer";

    ComPtr<IUnknown> innerAgain;
    ASSERT_HR(S_OK, outer.inner->QueryInterface(IID_IUnknown, &innerAgain));
    EXPECT_EQ(innerAgain.Get(), outer.inner.Get()) << "the inner unknown is its own identity";
    innerAgain.Reset();

    ComPtr<ITAPIDialer> dialer;
    ASSERT_HR(S_OK, outer.inner->QueryInterface(IID_ITAPIDialer, &dialer));
    EXPECT_EQ(outer.refs, 2) << "the reference handed out is counted on the outer object";
    ComPtr<IUnknown> identity;
    const int queriesBefore = outer.queries;
    ASSERT_HR(S_OK, dialer->QueryInterface(IID_IUnknown, &identity));
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));
    EXPECT_EQ(outer.queries, queriesBefore + 1);
    identity.Reset();

    EXPECT_HR(S_OK, dialer->InitializeTAPI());
    EXPECT_HR(S_OK, dialer->ShutdownTAPI());
    dialer.Reset();
    EXPECT_EQ(outer.refs, 1);

    factory.Reset();
    EXPECT_HR(S_FALSE, m_lib.CanUnloadNow()) << "the aggregate holds a lock";
    outer.inner.Reset();
    EXPECT_HR(S_OK, m_lib.CanUnloadNow());
}

TEST_F(ModuleTest, AFailedCreationDestroysTheObjectAndLeavesTheLockCount) {
    ComPtr<IClassFactory> factory = Factory();
    m_service->World().FailCreation(E_ACCESSDENIED);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_HR(E_ACCESSDENIED, factory->CreateInstance(nullptr, IID_ITAPIDialer, &out));
    EXPECT_EQ(out, nullptr);

    TestOuter outer;
    EXPECT_HR(E_ACCESSDENIED, factory->CreateInstance(&outer, IID_IUnknown, &outer.inner));
    EXPECT_FALSE(outer.inner);
    EXPECT_EQ(outer.refs, 1);

    m_service->World().FailCreation(S_OK);
    ComPtr<IDispatch> dialer;
    ASSERT_HR(S_OK, factory->CreateInstance(nullptr, IID_ITAPIDialer, &dialer));
    EXPECT_HR(E_NOINTERFACE, dialer->QueryInterface(IID_IClassFactory, &out));
    EXPECT_EQ(out, nullptr);
    dialer.Reset();
    factory.Reset();
}

TEST_F(ModuleTest, CreationFailsWithTheResultOfAMissingTelephonyClass) {
    m_service->RevokeClassObject();
    ComPtr<IClassFactory> factory = Factory();
    ComPtr<ITAPIDialer> dialer;
    const HRESULT hr = factory->CreateInstance(nullptr, IID_ITAPIDialer, &dialer);
    EXPECT_TRUE(FAILED(hr)) << test_support::Hex(hr);
    EXPECT_FALSE(dialer);
}

}  // namespace
