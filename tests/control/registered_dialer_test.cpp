// The dialer served by Brevlin.dll after the library registered itself: the
// status flags, user type and verbs a container reads come from the
// registry script.
#include <gtest/gtest.h>

#include <wrl/client.h>

#include "brevlin_idl.h"
#include "control_fixture.h"
#include "control_interfaces.h"
#include "registered_fixture.h"

using Microsoft::WRL::ComPtr;

TEST_F(RegisteredDialerTest, ContainerReadsTheRegisteredAnswers) {
    ComPtr<IOleObject> ole;
    ASSERT_HR(S_OK, CoCreateInstance(CLSID_TAPIDialer, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&ole)));

    ExpectRegisteredAnswers(ole.Get());

    // The script lists no verbs: the control passes on the platform's answer.
    ComPtr<IEnumOLEVERB> platform;
    const HRESULT expected = OleRegEnumVerbs(CLSID_TAPIDialer, &platform);
    EXPECT_TRUE(FAILED(expected)) << Hex(expected);
    ComPtr<IEnumOLEVERB> verbs;
    EXPECT_HR(expected, ole->EnumVerbs(&verbs));
    EXPECT_EQ(nullptr, verbs.Get());

    ExpectControlInterfaces(ole.Get());
    EXPECT_EQ(0u, ole.Reset());
}
