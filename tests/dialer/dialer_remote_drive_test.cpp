// The untrusted-caller rule against a drive the platform reports as remote:
// run-remote-drive.sh makes Y: such a drive before this program starts.
#include "dialer_test_support.h"

#include <objsafe.h>

#include <string>

using Microsoft::WRL::ComPtr;
using namespace dialer_test;

namespace {

class DialerRemoteDriveTest : public DialerTest {
protected:
    VARIANT_BOOL Read(const std::wstring& path) {
        Bstr fileSpec(path.c_str());
        VARIANT_BOOL success = 0x1234;
        EXPECT_HR(S_OK, m_dialer->ReadDeviceAddressFromFile(fileSpec.Get(), &success));
        return success;
    }
};

TEST_F(DialerRemoteDriveTest, UntrustedCallersAreRefusedEverySpellingOfARemoteDrive) {
    ASSERT_EQ(static_cast<UINT>(DRIVE_REMOTE), GetDriveTypeW(L"Y:\\"));
    telsim::AddressSpec line;
    line.name = L"Modem A";
    Use({line});
    CreateDirectoryW(L"Y:\\lines", nullptr);
    HANDLE file = CreateFileW(L"Y:\\lines\\line.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, "Modem A\n", 8, &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(SetCurrentDirectoryW(L"Y:\\lines"));

    const wchar_t* const spellings[] = {
        L"Y:\\lines\\line.txt",
        L"y:/lines/line.txt",
        L"\\\\?\\Y:\\lines\\line.txt",
        L"\\\\?\\y:\\lines\\line.txt",
        L"Y:\\lines\\..\\lines\\line.txt",
        L"Y:\\lines\\.\\line.txt",
        L"Y:line.txt",
        L"line.txt",
        L"..\\lines\\line.txt",
    };
    ComPtr<IObjectSafety> safety;
    ASSERT_HR(S_OK, m_dialer.As(&safety));
    const DWORD untrusted = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
    for (const DWORD enabled : {untrusted, DWORD{0}}) {
        ASSERT_HR(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, untrusted, enabled));
        const VARIANT_BOOL expected = enabled ? VARIANT_FALSE : VARIANT_TRUE;
        for (const wchar_t* path : spellings) {
            EXPECT_EQ(expected, Read(path)) << testing::PrintToString(std::wstring(path));
        }
    }
    SetCurrentDirectoryW(L"C:\\");
}

}  // namespace
