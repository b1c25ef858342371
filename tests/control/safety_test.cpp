// Safety options: one mask for the whole object.
#include "control_fixture.h"

#include <objsafe.h>

#include <utility>

namespace {

using Options = std::pair<DWORD, DWORD>;  // supported, enabled

// The options for iid as the object answers them (99 where left unwritten).
Options OptionsOf(IObjectSafety* safety, REFIID iid, HRESULT expected = S_OK) {
    Options options{99, 99};
    EXPECT_HR(expected, safety->GetInterfaceSafetyOptions(iid, &options.first, &options.second));
    return options;
}

}  // namespace

TEST_F(ControlTest, SafetyOptionsAreSharedByEveryInterface) {
    auto safety = As<IObjectSafety>(IID_IObjectSafety);
    EXPECT_EQ(Options(3, 0), OptionsOf(safety.Get(), IID_IDispatch));

    EXPECT_HR(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3));
    EXPECT_EQ(Options(3, 3), OptionsOf(safety.Get(), IID_IPersistStreamInit));

    // Only the masked bits change.
    EXPECT_HR(S_OK, safety->SetInterfaceSafetyOptions(IID_IPersistStreamInit,
                                                      INTERFACESAFE_FOR_UNTRUSTED_DATA, 0));
    EXPECT_EQ(1u, OptionsOf(safety.Get(), IID_IOleObject).second);
}

TEST_F(ControlTest, SafetyMaskWithUnknownBitsChangesNothing) {
    auto safety = As<IObjectSafety>(IID_IObjectSafety);
    ASSERT_HR(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1));
    EXPECT_HR(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4));
    EXPECT_HR(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 7, 2));
    EXPECT_EQ(1u, OptionsOf(safety.Get(), IID_IDispatch).second);
}

TEST_F(ControlTest, SafetyForAnInterfaceNotAnswered) {
    auto safety = As<IObjectSafety>(IID_IObjectSafety);
    EXPECT_EQ(Options(0, 0), OptionsOf(safety.Get(), IID_IConnectionPointContainer, E_NOINTERFACE));
    EXPECT_HR(E_NOINTERFACE,
              safety->SetInterfaceSafetyOptions(IID_IConnectionPointContainer, 3, 3));
    EXPECT_EQ(0u, OptionsOf(safety.Get(), IID_IDispatch).second);
    DWORD supported = 0;
    DWORD enabled = 0;
    EXPECT_HR(E_POINTER, safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled));
    EXPECT_HR(E_POINTER, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, nullptr));
}
