// Safety options: one mask for the whole object.
#include "control_fixture.h"

#include <objsafe.h>

TEST_F(ControlTest, SafetyOptionsAreSharedByEveryInterface) {
    auto safety = As<IObjectSafety>(IID_IObjectSafety);
    DWORD supported = 99;
    DWORD enabled = 99;
    EXPECT_HR(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
    EXPECT_EQ(3u, supported);
    EXPECT_EQ(0u, enabled);

    EXPECT_HR(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3));
    EXPECT_HR(S_OK, safety->GetInterfaceSafetyOptions(IID_IPersistStreamInit, &supported, &enabled));
    EXPECT_EQ(3u, supported);
    EXPECT_EQ(3u, enabled);

    // Only the masked bits change.
    EXPECT_HR(S_OK, safety->SetInterfaceSafetyOptions(IID_IPersistStreamInit, INTERFACESAFE_FOR_UNTRUSTED_DATA, 0));
    EXPECT_HR(S_OK, safety->GetInterfaceSafetyOptions(IID_IOleObject, &supported, &enabled));
    EXPECT_EQ(1u, enabled);
}

TEST_F(ControlTest, SafetyMaskWithUnknownBitsChangesNothing) {
    auto safety = As<IObjectSafety>(IID_IObjectSafety);
    ASSERT_HR(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1));
    EXPECT_HR(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4));
    EXPECT_HR(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 7, 2));
    DWORD supported = 0;
    DWORD enabled = 0;
    EXPECT_HR(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
    EXPECT_EQ(1u, enabled);
}

TEST_F(ControlTest, SafetyForAnInterfaceNotAnswered) {
    auto safety = As<IObjectSafety>(IID_IObjectSafety);
    DWORD supported = 99;
    DWORD enabled = 99;
    EXPECT_HR(E_NOINTERFACE, safety->GetInterfaceSafetyOptions(IID_IConnectionPointContainer, &supported, &enabled));
    EXPECT_EQ(0u, supported);
    EXPECT_EQ(0u, enabled);
    EXPECT_HR(E_NOINTERFACE, safety->SetInterfaceSafetyOptions(IID_IConnectionPointContainer, 3, 3));
    EXPECT_HR(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
    EXPECT_EQ(0u, enabled);
    EXPECT_HR(E_POINTER, safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled));
    EXPECT_HR(E_POINTER, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, nullptr));
}
