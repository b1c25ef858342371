#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <memory>

#include "brevlin_idl.h"
#include "brevlin_library.h"
#include "support/apartment.h"
#include "support/bstr.h"
#include "support/hresult.h"
#include "support/scratch_registry.h"
#include "telsim/telsim.h"

using component_test::BrevlinLibrary;
using Microsoft::WRL::ComPtr;
using test_support::ScratchClassesRoot;

namespace {

class Variant {
public:
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
    VARIANT v;
};

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(m_apartment.Result()));
        ASSERT_TRUE(m_root.CopyFromRealRoot(L"TypeLib\\{00020430-0000-0000-C000-000000000046}"));
        ASSERT_TRUE(m_lib.Loaded());
        m_service = telsim::Service::Create();
        ASSERT_HR(S_OK, m_service->RegisterClassObject());
        ComPtr<IClassFactory> factory;
        ASSERT_HR(S_OK, m_lib.GetClassObject(CLSID_TAPIDialer, IID_IClassFactory, &factory));
        ASSERT_HR(S_OK, factory->CreateInstance(nullptr, IID_ITAPIDialer, &m_dialer));
    }
    void TearDown() override {
        if (m_dialer)
            m_dialer->ShutdownTAPI();
        m_dialer.Reset();
        EXPECT_HR(S_OK, m_lib.CanUnloadNow());
        m_service->RevokeClassObject();
        m_service->Notifications().WaitIdle();
        EXPECT_EQ(m_service->Ledger().Leaks(), "");
        m_service.reset();
    }

    void Register() { ASSERT_HR(S_OK, m_lib.RegisterServer()); }

    HRESULT Call(DISPID id, WORD flags, VARIANT* result, VARIANT* args = nullptr, UINT count = 0,
                 EXCEPINFO* info = nullptr, LCID lcid = 0x409) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params = {args, (flags & DISPATCH_PROPERTYPUT) ? &named : nullptr, count,
                             (flags & DISPATCH_PROPERTYPUT) ? 1u : 0u};
        UINT argErr = 0;
        return m_dialer->Invoke(id, IID_NULL, lcid, flags, &params, result, info, &argErr);
    }

    HRESULT IdOf(const wchar_t* name, DISPID* id, LCID lcid = 0x409) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        return m_dialer->GetIDsOfNames(IID_NULL, names, 1, lcid, id);
    }

    ScratchClassesRoot m_root;
    BrevlinLibrary m_lib;
    test_support::Apartment m_apartment;
    std::shared_ptr<telsim::Service> m_service;
    ComPtr<ITAPIDialer> m_dialer;
};

TEST_F(DispatchTest, TypeInfoIsTheInterfaceDescriptionForAnyIndex) {
    Register();
    UINT count = 0;
    EXPECT_HR(S_OK, m_dialer->GetTypeInfoCount(&count));
    EXPECT_EQ(count, 1u);
    EXPECT_HR(E_POINTER, m_dialer->GetTypeInfoCount(nullptr));
    for (UINT index : {0u, 3u}) {
        ComPtr<ITypeInfo> info;
        ASSERT_HR(S_OK, m_dialer->GetTypeInfo(index, 0x409, &info));
        TYPEATTR* attr = nullptr;
        ASSERT_HR(S_OK, info->GetTypeAttr(&attr));
        EXPECT_TRUE(IsEqualGUID(attr->guid, IID_ITAPIDialer));
        info->ReleaseTypeAttr(attr);
    }
    EXPECT_HR(E_POINTER, m_dialer->GetTypeInfo(0, 0x409, nullptr));
}

TEST_F(DispatchTest, NamesResolveWithoutRegardToCase) {
    Register();
    DISPID id = 0;
    EXPECT_HR(S_OK, IdOf(L"connected", &id));
    EXPECT_EQ(id, 5);
    EXPECT_HR(S_OK, IdOf(L"GETADDRESSNAMECSVLIST", &id));
    EXPECT_EQ(id, 6);
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"setdeviceaddress"),
                        const_cast<LPOLESTR>(L"STRDEVICEID")};
    DISPID ids[2] = {};
    EXPECT_HR(S_OK, m_dialer->GetIDsOfNames(IID_NULL, names, 2, 0x409, ids));
    EXPECT_EQ(ids[0], 8);
    EXPECT_EQ(ids[1], 0);
    id = 0;
    EXPECT_HR(DISP_E_UNKNOWNNAME, IdOf(L"Dial", &id));
    EXPECT_EQ(id, DISPID_UNKNOWN);
}

TEST_F(DispatchTest, LateBoundCallsReachTheMembers) {
    Register();
    Variant result;
    ASSERT_HR(S_OK, Call(2, DISPATCH_METHOD, &result.v));

    Variant list;
    ASSERT_HR(S_OK, Call(6, DISPATCH_METHOD, &list.v));
    ASSERT_EQ(V_VT(&list.v), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&list.v), L"Line 1,Line 2");

    Variant name;
    V_VT(&name.v) = VT_BSTR;
    V_BSTR(&name.v) = SysAllocString(L"Line 2");
    Variant found;
    ASSERT_HR(S_OK, Call(8, DISPATCH_METHOD, &found.v, &name.v, 1));
    ASSERT_EQ(V_VT(&found.v), VT_BOOL);
    EXPECT_EQ(V_BOOL(&found.v), VARIANT_TRUE);

    Variant connected;
    ASSERT_HR(S_OK, Call(5, DISPATCH_PROPERTYGET, &connected.v));
    ASSERT_EQ(V_VT(&connected.v), VT_BOOL);
    EXPECT_EQ(V_BOOL(&connected.v), VARIANT_FALSE);

    Variant value;
    V_VT(&value.v) = VT_BOOL;
    V_BOOL(&value.v) = VARIANT_TRUE;
    const HRESULT hr = Call(5, DISPATCH_PROPERTYPUT, nullptr, &value.v, 1);
    EXPECT_TRUE(FAILED(hr)) << "Connected has no put accessor: " << test_support::Hex(hr);

    EXPECT_HR(S_OK, Call(3, DISPATCH_METHOD, nullptr));
}

TEST_F(DispatchTest, AFailingMemberHandsItsErrorInformationToTheCaller) {
    Register();
    m_service->Recorder().FailOperation(telsim::op::Initialize, E_ACCESSDENIED);
    EXCEPINFO info = {};
    Variant result;
    EXPECT_HR(DISP_E_EXCEPTION, Call(2, DISPATCH_METHOD, &result.v, nullptr, 0, &info));
    EXPECT_HR(E_ACCESSDENIED, info.scode);
    EXPECT_STREQ(info.bstrDescription, L"TAPI initialization failed.");
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
}

// The library is registered under its own locale 0x409; script engines ask
// with locale 0, other callers with their own.
TEST_F(DispatchTest, ATypeLibraryRegisteredUnderItsOwnLocaleServesCallersOfLocaleZero) {
    Register();
    DISPID id = 0;
    ASSERT_HR(S_OK, IdOf(L"Connected", &id, 0));
    EXPECT_EQ(id, 5);
}

TEST_F(DispatchTest, ATypeLibraryRegisteredUnderItsOwnLocaleServesCallersOfOtherLocales) {
    Register();
    Variant result;
    EXPECT_HR(S_OK, Call(2, DISPATCH_METHOD, &result.v, nullptr, 0, nullptr,
                         MAKELCID(0x0407, SORT_DEFAULT)));
}

TEST_F(DispatchTest, WithoutTheTypeLibraryTableCallsWorkAndDispatchFailsUntilItIsRegistered) {
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_HR(TYPE_E_LIBNOTREGISTERED, m_dialer->GetTypeInfo(0, 0x409, &info));
    EXPECT_EQ(info, nullptr);
    DISPID id = 0;
    EXPECT_HR(TYPE_E_LIBNOTREGISTERED, IdOf(L"Connected", &id, 0));
    Variant result;
    EXPECT_HR(TYPE_E_LIBNOTREGISTERED, Call(2, DISPATCH_METHOD, &result.v));

    EXPECT_HR(S_OK, m_dialer->InitializeTAPI());
    EXPECT_HR(S_OK, m_dialer->Connect(test_support::Bstr(L"5550100").Get()));
    EXPECT_HR(S_OK, m_dialer->Disconnect());

    // A failed load is not kept: once registered, dispatch works.
    Register();
    EXPECT_HR(S_OK, IdOf(L"Connected", &id, 0));
    EXPECT_EQ(id, 5);
}

}  // namespace
