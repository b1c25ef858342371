// Reference and string accounting: what a dialer test relies on to prove
// that nothing leaked and nothing was released twice.
#include "fake_sink.h"

using Microsoft::WRL::ComPtr;
using telsim_test::FirstAddress;

namespace {

using Accounting = telsim_test::ServiceTest;

TEST_F(Accounting, CleanAfterEveryReferenceIsReleased) {
    {
        ComPtr<ITTAPI> tapi = Initialised();
        ComPtr<ITAddress> address = FirstAddress(tapi.Get());
        ComPtr<ITAddressCapabilities> caps;
        ASSERT_HR(S_OK, address.As(&caps));
        EXPECT_EQ(2u, svc->Ledger().LiveObjects())
            << svc->Ledger().Leaks();  // the root and one address
    }
    EXPECT_EQ("", svc->Ledger().Leaks());
    EXPECT_EQ(0u, svc->Ledger().LiveObjects());
}

TEST_F(Accounting, HeldObjectIsNamedWithItsCount) {
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<ITAddress> address = FirstAddress(tapi.Get());
    ITAddress* extra = address.Get();
    extra->AddRef();
    tapi.Reset();
    const std::string leaks = svc->Ledger().Leaks();
    EXPECT_NE(std::string::npos, leaks.find("Address#")) << leaks;
    EXPECT_NE(std::string::npos, leaks.find("\"Line 1\"")) << leaks;
    EXPECT_NE(std::string::npos, leaks.find("held 2 time(s)")) << leaks;
    EXPECT_EQ(2, svc->Ledger().RefCount(address.Get()));
    extra->Release();
    EXPECT_EQ(1, svc->Ledger().RefCount(address.Get()));
    address.Reset();
    EXPECT_EQ("", svc->Ledger().Leaks());
}

TEST_F(Accounting, RefCountSeesEveryInterfaceOfOneObject) {
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<ITAddress> address = FirstAddress(tapi.Get());
    ComPtr<ITMediaSupport> media;
    ASSERT_HR(S_OK, address.As(&media));
    EXPECT_EQ(2, svc->Ledger().RefCount(address.Get()));
    EXPECT_EQ(2, svc->Ledger().RefCount(media.Get()));
    int foreign = 0;
    EXPECT_EQ(-1, svc->Ledger().RefCount(reinterpret_cast<IUnknown*>(&foreign)));
}

TEST_F(Accounting, ReleasePastZeroIsRecordedNotFatal) {
    ComPtr<ITTAPI> tapi = Initialised();
    ITAddress* address = nullptr;
    {
        ComPtr<ITAddress> held = FirstAddress(tapi.Get());
        address = held.Get();
    }
    // The service still links the address (it is in its list): this release
    // goes past the client's count.
    EXPECT_EQ(0u, address->Release());
    ASSERT_EQ(1u, svc->Ledger().Misuses().size());
    EXPECT_NE(std::wstring::npos,
              svc->Ledger().Misuses()[0].find(L"Release past zero on Address#"));
    EXPECT_NE(std::string::npos, svc->Ledger().Leaks().find("Release past zero"));
}

TEST_F(Accounting, UseOfDestroyedObjectIsRecorded) {
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<IEnumAddress> addresses;
    ASSERT_HR(S_OK, tapi->EnumerateAddresses(&addresses));
    IEnumAddress* stale = addresses.Get();
    addresses.Reset();  // the enumerator is destroyed: nothing links it
    EXPECT_EQ(0u, stale->Release());
    EXPECT_EQ(0u, stale->AddRef());
    void* itf = reinterpret_cast<void*>(1);
    EXPECT_HR(E_UNEXPECTED, stale->QueryInterface(IID_IUnknown, &itf));
    EXPECT_EQ(nullptr, itf);
    EXPECT_EQ(3u, svc->Ledger().Misuses().size()) << svc->Ledger().Leaks();
}

TEST_F(Accounting, RootObjectLivesUntilItsLastRelease) {
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_HR(S_OK, tapi.As(&container));
    tapi.Reset();
    // Still alive through its other interface.
    ComPtr<IConnectionPoint> point;
    EXPECT_HR(S_OK, container->FindConnectionPoint(IID_ITTAPIEventNotification, &point));
    EXPECT_TRUE(svc->Ledger().Misuses().empty());
}

TEST_F(Accounting, StringsAreCountedUntilFreed) {
    ASSERT_GT(telsim::Service::TrackStringFrees(), -1);
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<ITAddress> address = FirstAddress(tapi.Get());
    BSTR first = nullptr;
    BSTR second = nullptr;
    ASSERT_HR(S_OK, address->get_AddressName(&first));
    ASSERT_HR(S_OK, address->get_AddressName(&second));
    EXPECT_STREQ(L"Line 1", first);
    EXPECT_EQ(2u, svc->Ledger().LiveStrings());
    EXPECT_NE(std::string::npos, svc->Ledger().Leaks().find("2 string(s)"));
    SysFreeString(first);
    EXPECT_EQ(1u, svc->Ledger().LiveStrings());
    SysFreeString(second);
    EXPECT_EQ(0u, svc->Ledger().LiveStrings());
}

TEST_F(Accounting, StringFreedTwiceIsRecordedNotFatal) {
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<ITAddress> address = FirstAddress(tapi.Get());
    BSTR name = nullptr;
    ASSERT_HR(S_OK, address->get_AddressName(&name));
    SysFreeString(name);
    SysFreeString(name);
    ASSERT_EQ(1u, svc->Ledger().Misuses().size());
    EXPECT_EQ(L"string freed twice", svc->Ledger().Misuses()[0]);
}

TEST_F(Accounting, ForeignStringsPassThrough) {
    BSTR mine = SysAllocString(L"not the service's");
    SysFreeString(mine);
    EXPECT_EQ(0u, svc->Ledger().LiveStrings());
    EXPECT_EQ("", svc->Ledger().Leaks());
}

TEST_F(Accounting, StringCountingCanBeSwitchedOff) {
    svc->Ledger().CountStrings(false);
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<ITAddress> address = FirstAddress(tapi.Get());
    BSTR name = nullptr;
    ASSERT_HR(S_OK, address->get_AddressName(&name));
    EXPECT_EQ(0u, svc->Ledger().LiveStrings());
    SysFreeString(name);
}

TEST_F(Accounting, CallHoldsNoClientReferenceOnItsAddress) {
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<ITAddress> address = FirstAddress(tapi.Get());
    ComPtr<ITBasicCallControl> call;
    ASSERT_HR(S_OK, address->CreateCall(nullptr, 1, 24, &call));
    EXPECT_EQ(1, svc->Ledger().RefCount(address.Get()));
    EXPECT_EQ(1, svc->Ledger().RefCount(call.Get()));
    address.Reset();
    ComPtr<ITCallInfo> info;
    ASSERT_HR(S_OK, call.As(&info));
    ComPtr<ITAddress> again;
    EXPECT_HR(S_OK, info->get_Address(&again));
    EXPECT_NE(nullptr, again.Get());
}

}  // namespace

namespace {

// A test that leaks must still end: the service frees every object it
// made, linked or not, without touching one already freed.
TEST(Teardown, ServiceGoesWhileObjectsAreStillHeld) {
    test_support::Apartment com;
    auto svc = telsim::Service::Create();
    ComPtr<ITTAPI> tapi;
    ASSERT_HR(S_OK, svc->CreateRoot(nullptr, IID_ITTAPI, &tapi));
    ASSERT_HR(S_OK, tapi->Initialize());
    ComPtr<ITAddress> address = FirstAddress(tapi.Get());
    ComPtr<ITBasicCallControl> call;
    ASSERT_HR(S_OK, address->CreateCall(nullptr, 1, 24, &call));
    ComPtr<ITStreamControl> streams;
    ASSERT_HR(S_OK, call.As(&streams));
    EXPECT_FALSE(svc->Ledger().Leaks().empty());
    svc.reset();
    // The pointers are dangling now: let them go without a release.
    tapi.Detach();
    address.Detach();
    call.Detach();
    streams.Detach();
}

}  // namespace
