// The dialer served by Brevlin.dll after the library registered itself: the
// status flags, user type and verbs a container reads come from the
// registry script.
#include <gtest/gtest.h>

#include <wrl/client.h>

#include "brevlin_idl.h"
#include "control_fixture.h"
#include "control_interfaces.h"
#include "service_fixture.h"

using Microsoft::WRL::ComPtr;

namespace {

class RegisteredDialerTest : public OleServiceTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(OleServiceTest::SetUp());
        m_library = LoadLibraryW(BREVLIN_DLL);
        ASSERT_NE(nullptr, m_library) << GetLastError();
        ASSERT_HR(S_OK, Export("DllRegisterServer")());
        m_registered = true;
    }

    void TearDown() override {
        OleServiceTest::TearDown();
        if (m_registered) {
            EXPECT_HR(S_OK, Export("DllUnregisterServer")());
        }
        if (m_library)
            FreeLibrary(m_library);
    }

    using Entry = HRESULT(STDAPICALLTYPE*)();
    Entry Export(const char* name) {
        return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(m_library, name)));
    }

private:
    HMODULE m_library = nullptr;
    bool m_registered = false;
};

}  // namespace

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
