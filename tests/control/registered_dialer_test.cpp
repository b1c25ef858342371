// The dialer served by Brevlin.dll after the library registered itself: the
// status flags, user type and verbs a container reads come from the
// registry script.
#include <gtest/gtest.h>

#include <string>

#include <wrl/client.h>

#include "brevlin_idl.h"
#include "control_fixture.h"
#include "control_interfaces.h"
#include "telsim/telsim.h"

using Microsoft::WRL::ComPtr;

namespace {

class RegisteredDialerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, m_ole.Result());
        m_library = LoadLibraryW(BREVLIN_DLL);
        ASSERT_NE(nullptr, m_library) << GetLastError();
        ASSERT_HR(S_OK, Export("DllRegisterServer")());
        m_registered = true;
        service = telsim::Service::Create();
        ASSERT_HR(S_OK, service->RegisterClassObject());
    }

    void TearDown() override {
        if (service) {
            service->RevokeClassObject();
            EXPECT_EQ("", service->Ledger().Leaks());
        }
        service.reset();
        if (m_registered) {
            EXPECT_HR(S_OK, Export("DllUnregisterServer")());
        }
        if (m_library) FreeLibrary(m_library);
    }

    using Entry = HRESULT(STDAPICALLTYPE*)();
    Entry Export(const char* name) {
        return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(m_library, name)));
    }

    std::shared_ptr<telsim::Service> service;

private:
    test_support::Apartment m_ole{test_support::Apartment::Ole};
    HMODULE m_library = nullptr;
    bool m_registered = false;
};

}  // namespace

TEST_F(RegisteredDialerTest, ContainerReadsTheRegisteredAnswers) {
    ComPtr<IOleObject> ole;
    ASSERT_HR(S_OK, CoCreateInstance(CLSID_TAPIDialer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&ole)));

    DWORD status = 0;
    EXPECT_HR(S_OK, ole->GetMiscStatus(DVASPECT_CONTENT, &status));
    EXPECT_EQ(132497u, status);
    status = 99;
    EXPECT_HR(S_OK, ole->GetMiscStatus(DVASPECT_THUMBNAIL, &status));
    EXPECT_EQ(0u, status);

    LPOLESTR userType = nullptr;
    ASSERT_HR(S_OK, ole->GetUserType(USERCLASSTYPE_FULL, &userType));
    EXPECT_EQ(std::wstring(L"TAPIDialer Class"), userType);
    CoTaskMemFree(userType);

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
