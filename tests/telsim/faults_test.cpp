// Failure injection and recording: how a fault-injection suite walks every
// operation the dialer reaches.
#include "fake_sink.h"

#include "support/bstr.h"

using Microsoft::WRL::ComPtr;
using telsim_test::FirstAddress;

namespace {

using Faults = telsim_test::CleanServiceTest;

TEST_F(Faults, OperationFailsWithTheChosenResult) {
    svc->Recorder().FailOperation(telsim::op::Initialize, 0x80040059);
    ComPtr<ITTAPI> tapi;
    ASSERT_HR(S_OK, svc->CreateRoot(nullptr, IID_ITTAPI, &tapi));
    EXPECT_HR(static_cast<HRESULT>(0x80040059), tapi->Initialize());
    EXPECT_FALSE(svc->Notifications().Initialized());
}

TEST_F(Faults, SkipAndCountChooseWhichCallsFail) {
    svc->World().SetAddresses({{L"A"}, {L"B"}, {L"C"}});
    svc->Recorder().FailOperation(telsim::op::GetAddressName, E_ACCESSDENIED, 1, 1);
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<IEnumAddress> addresses;
    ASSERT_HR(S_OK, tapi->EnumerateAddresses(&addresses));
    std::vector<HRESULT> results;
    ComPtr<ITAddress> address;
    while (addresses->Next(1, address.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        test_support::Bstr name;
        results.push_back(address->get_AddressName(name.Receive()));
    }
    EXPECT_EQ((std::vector<HRESULT>{S_OK, E_ACCESSDENIED, S_OK}), results);
}

TEST_F(Faults, NullOutSucceedsWithoutAnObject) {
    svc->Recorder().NullOut(telsim::op::EnumerateAddresses);
    svc->Recorder().NullOut(telsim::op::TranslateAddress);
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<IEnumAddress> addresses;
    EXPECT_HR(S_OK, tapi->EnumerateAddresses(&addresses));
    EXPECT_EQ(nullptr, addresses.Get());
    svc->Recorder().ClearFaults();
    ComPtr<ITAddressTranslation> translation;
    ASSERT_HR(S_OK, FirstAddress(tapi.Get()).As(&translation));
    svc->Recorder().NullOut(telsim::op::TranslateAddress);
    ComPtr<ITAddressTranslationInfo> info;
    EXPECT_HR(S_OK,
              translation->TranslateAddress(test_support::Bstr(L"5550100").Get(), 0, 0, &info));
    EXPECT_EQ(nullptr, info.Get());
}

TEST_F(Faults, NullOutOfAStringHandsOutNull) {
    svc->Recorder().NullOut(telsim::op::GetAddressName);
    ComPtr<ITTAPI> tapi = Initialised();
    BSTR name = reinterpret_cast<BSTR>(1);
    EXPECT_HR(S_OK, FirstAddress(tapi.Get())->get_AddressName(&name));
    EXPECT_EQ(nullptr, name);
}

TEST_F(Faults, QueryForAnOptionalInterfaceCanFail) {
    svc->Recorder().FailOperation(telsim::op::QueryTranslation, E_OUTOFMEMORY);
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<ITAddress> address = FirstAddress(tapi.Get());
    ComPtr<ITAddressTranslation> translation;
    EXPECT_HR(E_OUTOFMEMORY, address.As(&translation));
    EXPECT_EQ(nullptr, translation.Get());
    ComPtr<ITMediaSupport> media;
    EXPECT_HR(S_OK, address.As(&media));
}

TEST_F(Faults, AddressSpecShapesTheAnswers) {
    telsim::AddressSpec odd{L"Odd"};
    odd.mediaAnswer = 1;
    odd.addressTypes = 0x2;
    odd.translation = false;
    telsim::AddressSpec unnamed;
    unnamed.name.reset();
    unnamed.capabilities = false;
    unnamed.nameResult = S_OK;
    svc->World().SetAddresses({odd, unnamed});
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<IEnumAddress> addresses;
    ASSERT_HR(S_OK, tapi->EnumerateAddresses(&addresses));
    ComPtr<ITAddress> first;
    ComPtr<ITAddress> second;
    ComPtr<ITAddress> none;
    ASSERT_HR(S_OK, addresses->Next(1, &first, nullptr));
    ASSERT_HR(S_OK, addresses->Next(1, &second, nullptr));
    EXPECT_HR(S_FALSE, addresses->Next(1, &none, nullptr));
    EXPECT_EQ(nullptr, none.Get());

    ComPtr<ITAddressCapabilities> caps;
    ASSERT_HR(S_OK, first.As(&caps));
    long types = 0;
    EXPECT_HR(S_OK, caps->get_AddressCapability(AC_ADDRESSTYPES, &types));
    EXPECT_EQ(0x2, types);
    ComPtr<ITMediaSupport> media;
    ASSERT_HR(S_OK, first.As(&media));
    VARIANT_BOOL answer = VARIANT_FALSE;
    EXPECT_HR(S_OK, media->QueryMediaType(24, &answer));
    EXPECT_EQ(1, answer);
    ComPtr<ITAddressTranslation> translation;
    EXPECT_HR(E_NOINTERFACE, first.As(&translation));

    BSTR name = reinterpret_cast<BSTR>(1);
    EXPECT_HR(S_OK, second->get_AddressName(&name));
    EXPECT_EQ(nullptr, name);
    EXPECT_HR(E_NOINTERFACE, second.As(&caps));
}

TEST_F(Faults, UninitialisedRootRefusesWork) {
    ComPtr<ITTAPI> tapi;
    ASSERT_HR(S_OK, svc->CreateRoot(nullptr, IID_ITTAPI, &tapi));
    ComPtr<IEnumAddress> addresses;
    EXPECT_HR(TAPI_E_NOT_INITIALIZED, tapi->EnumerateAddresses(&addresses));
    EXPECT_HR(TAPI_E_NOT_INITIALIZED, tapi->put_EventFilter(TE_CALLSTATE));
    long handle = 0;
    EXPECT_HR(TAPI_E_NOT_INITIALIZED,
              tapi->RegisterCallNotifications(nullptr, VARIANT_TRUE, VARIANT_FALSE,
                                              TAPIMEDIATYPE_AUDIO, 0, &handle));
    ASSERT_HR(S_OK, tapi->Initialize());
    ASSERT_HR(S_OK, tapi->Shutdown());
    EXPECT_HR(TAPI_E_NOT_INITIALIZED, tapi->EnumerateAddresses(&addresses));
}

TEST_F(Faults, CreationFailureReachesTheCreator) {
    svc->World().FailCreation(REGDB_E_CLASSNOTREG);
    ComPtr<ITTAPI> tapi;
    EXPECT_HR(REGDB_E_CLASSNOTREG, svc->CreateRoot(nullptr, IID_ITTAPI, &tapi));
    EXPECT_EQ(nullptr, tapi.Get());
    svc->World().FailCreation(S_OK);
    ComPtr<IUnknown> outer;
    EXPECT_HR(S_OK, svc->CreateRoot(nullptr, IID_ITTAPI, &tapi));
    EXPECT_HR(CLASS_E_NOAGGREGATION, svc->CreateRoot(tapi.Get(), IID_IUnknown, &outer));
}

TEST_F(Faults, RecordHoldsOperationsInOrderWithArgumentsAndResults) {
    ComPtr<ITTAPI> tapi = Initialised();
    ComPtr<ITAddress> address = FirstAddress(tapi.Get());
    long handle = 0;
    ASSERT_HR(S_OK, tapi->RegisterCallNotifications(address.Get(), VARIANT_TRUE, VARIANT_FALSE, 24,
                                                    7, &handle));
    EXPECT_HR(E_INVALIDARG, tapi->UnregisterNotifications(handle + 100));
    ComPtr<ITBasicCallControl> call;
    ASSERT_HR(S_OK, address->CreateCall(test_support::Bstr(L"5550100").Get(), 1, 24, &call));
    ComPtr<ITAddressCapabilities> caps;
    ASSERT_HR(S_OK, address.As(&caps));

    std::vector<std::wstring> seen;
    for (const telsim::Operation& op : svc->Recorder().Operations())
        seen.push_back(op.ToString());
    const std::vector<std::wstring> expected{
        L"ITTAPI::Initialize()",
        L"ITTAPI::EnumerateAddresses()",
        L"IEnumAddress::Next(1)",
        L"ITTAPI::RegisterCallNotifications(Address#2(\"Line 1\"),-1,0,24,7)",
        L"ITTAPI::UnregisterNotifications(" + std::to_wstring(handle + 100) + L")",
        L"ITAddress::CreateCall(\"5550100\",1,24)",
    };
    EXPECT_EQ(expected, seen);
    EXPECT_HR(E_INVALIDARG, svc->Recorder().Operations()[4].result);
    EXPECT_EQ(1, svc->Notifications().RegistrationsHeld());
    EXPECT_EQ(1u, svc->Recorder().CountOf(telsim::op::CreateCall));

    const auto withQueries = svc->Recorder().Operations(true);
    EXPECT_EQ(telsim::op::QueryCapabilities, withQueries.back().name);
    EXPECT_TRUE(withQueries.back().query);
    const auto names = svc->Recorder().OperationNames();
    EXPECT_EQ(telsim::op::Initialize, names.front());
    EXPECT_EQ(telsim::op::QueryCapabilities, names.back());
}

TEST_F(Faults, RecordingCapKeepsCounting) {
    svc->Recorder().SetRecording(true, 2);
    ComPtr<ITTAPI> tapi = Initialised();
    for (int i = 0; i < 5; ++i)
        FirstAddress(tapi.Get());
    EXPECT_EQ(2u, svc->Recorder().Operations().size());
    EXPECT_EQ(5u, svc->Recorder().CountOf(telsim::op::AddressNext));
    svc->Recorder().SetRecording(false);
    FirstAddress(tapi.Get());
    EXPECT_EQ(5u, svc->Recorder().CountOf(telsim::op::AddressNext));
    svc->Recorder().ClearOperations();
    EXPECT_TRUE(svc->Recorder().OperationNames().empty());
}

}  // namespace

namespace {

TEST(ClassObject, CoCreateInstanceReachesTheServiceWhileRegistered) {
    test_support::Apartment com;
    auto svc = telsim::Service::Create();
    ASSERT_HR(S_OK, svc->RegisterClassObject());
    {
        ComPtr<ITTAPI> tapi;
        ASSERT_HR(S_OK,
                  CoCreateInstance(CLSID_TAPI, nullptr, CLSCTX_INPROC_SERVER, IID_ITTAPI, &tapi));
        EXPECT_EQ(1, svc->Ledger().RefCount(tapi.Get()));
        svc->World().FailCreation(E_OUTOFMEMORY);
        ComPtr<ITTAPI> refused;
        EXPECT_HR(E_OUTOFMEMORY, CoCreateInstance(CLSID_TAPI, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_ITTAPI, &refused));
    }
    svc->RevokeClassObject();
    ComPtr<ITTAPI> after;
    const HRESULT hr =
        CoCreateInstance(CLSID_TAPI, nullptr, CLSCTX_INPROC_SERVER, IID_ITTAPI, &after);
    EXPECT_TRUE(FAILED(hr) || svc->Ledger().RefCount(after.Get()) == -1);
    after.Reset();
    EXPECT_EQ("", svc->Ledger().Leaks());
}

}  // namespace
