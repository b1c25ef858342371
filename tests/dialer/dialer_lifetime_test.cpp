// Creation, InitializeTAPI, ShutdownTAPI, Disconnect and destruction.
#include "dialer_test_support.h"

#include "comkit/module.h"

using Microsoft::WRL::ComPtr;
using namespace dialer_test;
namespace op = telsim::op;

namespace {

class DialerLifetimeTest : public DialerTest {};

TEST_F(DialerLifetimeTest, CreationFailsWithTheRootObjectsFailureAndLeavesNothing) {
    const LONG locks = comkit::GetModule().GetLockCount();
    const HRESULT refused = static_cast<HRESULT>(0x80040154);  // class not registered
    m_service->World().FailCreation(refused);
    ComPtr<ITAPIDialer> dialer;
    EXPECT_HR(refused, CreateDialer(dialer));
    EXPECT_EQ(nullptr, dialer.Get());
    EXPECT_EQ(locks, comkit::GetModule().GetLockCount());

    // With no telephony class registered at all, creation fails exactly as
    // the platform's own creation of the root object does.
    m_service->World().FailCreation(S_OK);
    m_service->RevokeClassObject();
    ComPtr<ITTAPI> direct;
    const HRESULT expected =
        CoCreateInstance(CLSID_TAPI, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&direct));
    ASSERT_TRUE(FAILED(expected)) << Hex(expected);
    EXPECT_HR(expected, CreateDialer(dialer));
    EXPECT_EQ(nullptr, dialer.Get());
    EXPECT_EQ(locks, comkit::GetModule().GetLockCount());
}

TEST_F(DialerLifetimeTest, CreationMakesTheRootObjectWithoutInitialisingIt) {
    EXPECT_EQ(1u, m_service->Ledger().LiveObjects());
    EXPECT_FALSE(m_service->Notifications().Initialized());
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::Initialize));
    EXPECT_EQ(1, comkit::GetModule().GetLockCount());
}

TEST_F(DialerLifetimeTest, InitializeReturnsTheServicesAnswer) {
    EXPECT_HR(S_OK, m_dialer->InitializeTAPI());
    EXPECT_TRUE(m_service->Notifications().Initialized());
    EXPECT_FALSE(TakeThreadError().present);

    // A second Initialize is the service's business; the dialer passes its
    // answer on, and a refusal costs the root object.
    const HRESULT refused = static_cast<HRESULT>(0x80040001);
    m_service->Recorder().FailOperation(op::Initialize, refused);
    EXPECT_HR(refused, m_dialer->InitializeTAPI());
    EXPECT_EQ(0u, m_service->Ledger().LiveObjects());
}

TEST_F(DialerLifetimeTest, FailedInitializeGivesUpTheRootObjectForGood) {
    const HRESULT refused = static_cast<HRESULT>(0x80040001);
    m_service->Recorder().FailOperation(op::Initialize, refused);
    EXPECT_HR(refused, m_dialer->InitializeTAPI());
    EXPECT_EQ(0u, m_service->Ledger().LiveObjects());
    ThreadError error = TakeThreadError();
    EXPECT_TRUE(error.present);
    EXPECT_EQ(L"TAPI initialization failed.", error.description);
    EXPECT_TRUE(IsEqualGUID(IID_ITAPIDialer, error.guid));

    m_service->Recorder().ClearFaults();
    m_service->Recorder().ClearOperations();
    EXPECT_HR(E_FAIL, m_dialer->InitializeTAPI());
    EXPECT_EQ(L"TAPI initialization failed.", TakeThreadError().description);
    EXPECT_HR(E_FAIL, Connect());
    EXPECT_EQ(L"TAPI initialization failed.", TakeThreadError().description);
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_FALSE(TakeThreadError().present);
    EXPECT_EQ(L"", Describe(m_service->Recorder().Operations(true)));
}

TEST_F(DialerLifetimeTest, ShutdownBeforeAnyConnectOnlyShutsDown) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    m_service->Recorder().ClearOperations();
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_EQ(L"ITTAPI::Shutdown()", Describe(m_service->Recorder().Operations()));
    EXPECT_EQ(0u, m_service->Ledger().LiveObjects());

    m_service->Recorder().ClearOperations();
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_EQ(L"", Describe(m_service->Recorder().Operations(true)));
    EXPECT_HR(E_FAIL, m_dialer->InitializeTAPI());
    EXPECT_EQ(L"", Describe(m_service->Recorder().Operations(true)));
}

TEST_F(DialerLifetimeTest, ShutdownAfterConnectEndsTheRegistrationAndKeepsTheCallUp) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    ASSERT_HR(S_OK, Connect());
    EXPECT_EQ(1, m_service->Notifications().RegistrationsHeld());
    m_service->Recorder().ClearOperations();

    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::UnregisterNotifications));
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::Shutdown));
    EXPECT_EQ(0, m_service->Notifications().RegistrationsHeld());
    EXPECT_EQ(0u, m_service->Ledger().LiveObjects());

    // The flag stayed set, but there is no call left to drop.
    EXPECT_HR(S_OK, m_dialer->Disconnect());
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::CallDisconnect));
}

TEST_F(DialerLifetimeTest, FailingShutdownStillGivesEverythingUp) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    ASSERT_HR(S_OK, Connect());
    m_service->Recorder().FailOperation(op::UnregisterNotifications, E_INVALIDARG);
    m_service->Recorder().FailOperation(op::Shutdown, E_UNEXPECTED);
    SetThreadError(L"marker");

    EXPECT_HR(E_UNEXPECTED, m_dialer->ShutdownTAPI());
    EXPECT_EQ(0u, m_service->Ledger().LiveObjects());
    EXPECT_EQ(L"marker", TakeThreadError().description);
    m_service->Recorder().ClearOperations();
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_EQ(L"", Describe(m_service->Recorder().Operations(true)));
}

TEST_F(DialerLifetimeTest, DisconnectWithoutACallOrWithACallNeverStarted) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    EXPECT_HR(S_OK, m_dialer->Disconnect());

    // Every stream fails to get a terminal: the call is made but not started.
    telsim::CallScript script;
    for (auto& stream : script.streams) {
        stream.hasDefaultTerminal = false;
    }
    m_service->World().SetCallScript(script);
    EXPECT_HR(E_FAIL, Connect());
    ASSERT_EQ(1u, m_service->World().CallsCreated());
    EXPECT_HR(S_OK, m_dialer->Disconnect());
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::CallDisconnect));
    // Still held by the dialer and followed by its sink, besides the
    // reference the test takes here.
    EXPECT_EQ(3, m_service->Ledger().RefCount(m_service->World().Calls()[0].Get()));
}

TEST_F(DialerLifetimeTest, DisconnectDropsAStartedCallOnceEvenWhenTheDropFails) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    ASSERT_HR(S_OK, Connect());
    m_service->Recorder().FailOperation(op::CallDisconnect, E_UNEXPECTED);
    SetThreadError(L"marker");

    EXPECT_HR(E_UNEXPECTED, m_dialer->Disconnect());
    EXPECT_EQ(L"marker", TakeThreadError().description);
    // Let go by the dialer; its sink follows the call until it reports its end.
    EXPECT_EQ(2, m_service->Ledger().RefCount(m_service->World().Calls()[0].Get()));
    EXPECT_HR(S_OK, m_dialer->Disconnect());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::CallDisconnect));
}

// Where the service answers S_FALSE or gives up on a hang-up, each member
// answers as it always does: the service's code, or its own.
TEST_F(DialerLifetimeTest, TheServicesOtherAnswersPassThroughAsDesigned) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    EXPECT_HR(S_FALSE, m_dialer->InitializeTAPI());
    EXPECT_FALSE(TakeThreadError().present);

    // The far end has gone, but its event could not tell the sink so: the
    // call's state cannot be read and the event carries an older one.
    ASSERT_HR(S_OK, Connect());
    telsim::EventSpec ended;
    ended.callState = CS_DISCONNECTED;
    ended.eventState = CS_CONNECTED;
    ended.callStateResult = E_UNEXPECTED;
    ended.call = m_service->World().Calls().at(0).Get();
    m_service->Notifications().RaiseEvent(ended);
    EXPECT_HR(S_FALSE, m_dialer->Disconnect());
    EXPECT_HR(S_OK, m_dialer->Disconnect());

    telsim::CallScript stuck;
    stuck.hangupTimesOut = true;
    m_service->World().SetCallScript(stuck);
    ASSERT_HR(S_OK, Connect());
    EXPECT_HR(TAPI_E_TIMEOUT, m_dialer->Disconnect());
    EXPECT_HR(S_OK, m_dialer->Disconnect());
    EXPECT_EQ(2u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_FALSE(TakeThreadError().present);

    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_EQ(1u, m_service->Recorder().CountOf(op::Shutdown));
}

TEST_F(DialerLifetimeTest, ReleaseWithoutShutdownOnlyReleases) {
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    ASSERT_HR(S_OK, Connect());
    m_service->Recorder().ClearOperations();

    m_dialer.Reset();
    EXPECT_EQ(0u, m_service->Ledger().LiveObjects());
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::Shutdown));
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::UnregisterNotifications));
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::CallDisconnect));
    EXPECT_EQ(0, comkit::GetModule().GetLockCount());
}

TEST_F(DialerLifetimeTest, ErrorObjectWithoutARegisteredProgIdHasNoSource) {
    m_service->Recorder().FailOperation(op::Initialize, E_UNEXPECTED);
    ASSERT_HR(E_UNEXPECTED, m_dialer->InitializeTAPI());
    ThreadError error = TakeThreadError();
    ASSERT_TRUE(error.present);
    EXPECT_EQ(L"TAPI initialization failed.", error.description);
    EXPECT_TRUE(IsEqualGUID(IID_ITAPIDialer, error.guid));
    EXPECT_EQ(L"", error.source);
}

TEST_F(DialerLifetimeTest, SuccessfulMembersLeaveTheThreadsErrorObjectAlone) {
    EXPECT_HR(S_OK, m_dialer->InitializeTAPI());
    SetThreadError(L"marker");
    // Initialised already: the service's S_FALSE, passed on unchanged.
    ASSERT_HR(S_FALSE, m_dialer->InitializeTAPI());
    VARIANT_BOOL connected = VARIANT_TRUE;
    EXPECT_HR(S_OK, m_dialer->get_Connected(&connected));
    EXPECT_EQ(VARIANT_FALSE, connected);
    EXPECT_HR(S_OK, Connect());
    EXPECT_HR(S_OK, m_dialer->Disconnect());
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    EXPECT_EQ(L"marker", TakeThreadError().description);
}

TEST_F(DialerLifetimeTest, NullOutPointersAreRefused) {
    EXPECT_HR(E_POINTER, m_dialer->get_Connected(nullptr));
    EXPECT_HR(E_POINTER, m_dialer->GetAddressNameCSVList(nullptr));
    Bstr name(L"Line 1");
    EXPECT_HR(E_POINTER, m_dialer->SetDeviceAddress(name.Get(), nullptr));
    EXPECT_HR(E_POINTER, m_dialer->ReadDeviceAddressFromFile(name.Get(), nullptr));
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::EnumerateAddresses));
}

}  // namespace
