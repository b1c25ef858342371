// Selection by the first line of a device-address file.
#include "dialer_test_support.h"

#include "dialer/ordinary_file.h"
#include "support/scratch_file.h"

#include <objsafe.h>

#include <algorithm>
#include <string>

using Microsoft::WRL::ComPtr;
using namespace dialer_test;
namespace op = telsim::op;

namespace {

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; *text; ++text) {
        narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
    }
    return narrow;
}

telsim::AddressSpec Named(std::wstring name) {
    telsim::AddressSpec wanted;
    wanted.name = std::move(name);
    return wanted;
}

class DialerFileTest : public DialerTest {
protected:
    void Write(const std::string& bytes) { ASSERT_TRUE(m_file.Write(bytes)); }

    HRESULT Read(VARIANT_BOOL* success, const wchar_t* path = nullptr) {
        Bstr fileSpec(path ? path : m_file.Path().c_str());
        *success = 0x1234;
        return m_dialer->ReadDeviceAddressFromFile(fileSpec.Get(), success);
    }

    // Writes the bytes and expects them to select the address of that name,
    // the only one of the service.
    void ExpectSelects(const std::string& bytes, const std::wstring& name) {
        m_service->World().SetAddresses({Named(L"decoy"), Named(name)});
        Write(bytes);
        VARIANT_BOOL success;
        EXPECT_HR(S_OK, Read(&success));
        EXPECT_EQ(VARIANT_TRUE, success);
    }

    void ExpectNoMatch(const std::string& bytes) {
        Write(bytes);
        VARIANT_BOOL success;
        EXPECT_HR(S_FALSE, Read(&success));
        EXPECT_EQ(VARIANT_FALSE, success);
    }

    void ExpectNoLookUp(const std::string& bytes) {
        Write(bytes);
        const std::size_t enumerations = m_service->Recorder().CountOf(op::EnumerateAddresses);
        VARIANT_BOOL success;
        EXPECT_HR(S_OK, Read(&success));
        EXPECT_EQ(VARIANT_FALSE, success);
        EXPECT_EQ(enumerations, m_service->Recorder().CountOf(op::EnumerateAddresses));
    }

    test_support::ScratchFile m_file;
};

TEST_F(DialerFileTest, LineEnds) {
    Use({Named(L"Modem A")});
    ExpectSelects("Modem A\r\nModem B\r\n", L"Modem A");
    ExpectSelects("Modem A\nModem B\n", L"Modem A");
    ExpectSelects("Modem A", L"Modem A");
    // A carriage return alone ends nothing.
    ExpectSelects("Modem A\rModem B\r", L"Modem A\rModem B\r");
    ExpectSelects("Modem A\r\r\nrest", L"Modem A\r");
    ExpectSelects("Modem A\r", L"Modem A\r");
}

TEST_F(DialerFileTest, AtMost255CharactersAreTaken) {
    Use({});
    const std::string exact(255, 'x');
    ExpectSelects(exact + "\n", std::wstring(255, L'x'));
    std::string longer(255, 'y');
    longer += std::string(45, 'z');
    ExpectSelects(longer + "\r\n", std::wstring(255, L'y'));

    m_service->World().SetAddresses({Named(std::wstring(255, L'y') + std::wstring(45, L'z'))});
    ExpectNoMatch(longer);
}

TEST_F(DialerFileTest, BlanksBelongToTheName) {
    Use({Named(L"Modem A")});
    ExpectNoMatch(" Modem A\r\n");
    ExpectNoMatch("Modem A \r\n");
    ExpectNoMatch("Modem A\t\n");
    ExpectSelects(" Modem A \n", L" Modem A ");
}

TEST_F(DialerFileTest, EveryByteIsOneCharacter) {
    Use({Named(L"Modem A")});
    // UTF-16 with its byte-order mark: FF, FE, then 'M' and a zero byte.
    ExpectNoMatch(std::string("\xFF\xFEM\0o\0d\0", 8));
    ExpectSelects(std::string("\xFF\xFEM\0o\0d\0", 8), L"\u00FF\u00FEM");

    m_service->World().SetAddresses({Named(L"Caf\u00E9")});
    Write("Caf\xE9\r\n");
    VARIANT_BOOL success;
    EXPECT_HR(S_OK, Read(&success));
    EXPECT_EQ(VARIANT_TRUE, success);
    ExpectNoMatch("Caf\xC3\xA9\r\n");
}

TEST_F(DialerFileTest, EndOfFileByteAndNulEndTheName) {
    Use({});
    ExpectSelects(
        "Modem A\x1A"
        "B\n",
        L"Modem A");
    ExpectSelects(std::string("Modem A\0B\n", 10), L"Modem A");
    ExpectSelects("Modem A\r\x1A\n", L"Modem A\r");
}

TEST_F(DialerFileTest, EmptyNamesLookNothingUp) {
    Use({Named(L"")});
    ExpectNoLookUp("");
    ExpectNoLookUp("\nModem A\n");
    ExpectNoLookUp("\r\nModem A\n");
    ExpectNoLookUp(std::string("\0Modem A\n", 9));
    ExpectNoLookUp("\x1AModem A\n");
}

TEST_F(DialerFileTest, FilesThatCannotBeOpenedAreNoSelection) {
    Use({Named(L"Modem A")});
    VARIANT_BOOL success;
    EXPECT_HR(S_OK, Read(&success, L"C:\\no such directory\\device.txt"));
    EXPECT_EQ(VARIANT_FALSE, success);
    EXPECT_HR(S_OK, Read(&success, L""));
    EXPECT_EQ(VARIANT_FALSE, success);
    success = 0x1234;
    EXPECT_HR(S_OK, m_dialer->ReadDeviceAddressFromFile(nullptr, &success));
    EXPECT_EQ(VARIANT_FALSE, success);

    Write("Modem A\n");
    HANDLE exclusive = CreateFileW(m_file.Path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, exclusive);
    EXPECT_HR(S_OK, Read(&success));
    EXPECT_EQ(VARIANT_FALSE, success);
    CloseHandle(exclusive);
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::EnumerateAddresses));
    EXPECT_FALSE(TakeThreadError().present);
}

// Each path as the platform folds it (the real GetFullPathNameW), then
// whether it may be opened for any host, and for one that runs untrusted
// content.
TEST(FilePathDecision, FoldedPathsNameOnlyFiles) {
    struct Case {
        const wchar_t* path;
        bool anyHost;
        bool untrusted;
    };
    const Case cases[] = {
        // Device-namespace spellings that fold onto a pipe or a port.
        {L"\\\\.\\C:\\..\\pipe\\NAME", false, false},
        {L"//./C:/../pipe/NAME", false, false},
        {L"\\\\.\\Z:\\..\\pipe\\NAME", false, false},
        {L"\\\\.\\C:\\dir\\..\\..\\pipe\\NAME", false, false},
        {L"\\\\.\\C:\\..\\COM1", false, false},
        {L"\\\\.\\pipe\\NAME", false, false},
        {L"//./pipe/NAME", false, false},
        {L"\\\\?\\pipe\\NAME", false, false},
        {L"\\\\?\\C:\\..\\pipe\\NAME", false, false},
        {L"\\\\localhost\\pipe\\NAME", false, false},
        {L"\\\\localhost\\PIPE.\\NAME", false, false},
        {L"\\\\?\\UNC\\localhost\\PIPE\\NAME", false, false},
        {L"\\\\server\\MailSlot\\NAME", false, false},
        {L"\\\\server\\ipc$\\NAME", false, false},
        {L"\\\\.\\COM3", false, false},
        {L"\\\\.\\C:\\line.txt", false, false},
        {L"\\??\\C:\\line.txt", false, false},
        {L"\\\\?\\GLOBALROOT\\Device\\Null", false, false},
        {L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\line.txt", false, false},
        // DOS device names, in any folder and with any extension.
        {L"CON", false, false},
        {L"com1:", false, false},
        {L"nul.txt", false, false},
        {L"C:\\windows\\temp\\CON .log", false, false},
        {L"C:\\dir\\lpt1.txt", false, false},
        // Files on a drive, in any spelling.
        {L"C:\\dir\\line.txt", true, true},
        {L"C:/dir/../line.txt", true, true},
        {L"line.txt", true, true},
        {L"console.txt", true, true},
        {L"\\\\?\\C:\\dir\\line.txt", true, true},
        // Files on a share: not for untrusted content.
        {L"\\\\server\\share\\line.txt", true, false},
        {L"//server/share/dir/../line.txt", true, false},
        {L"\\\\?\\UNC\\server\\share\\line.txt", true, false},
        {L"\\\\host@SSL\\share\\line.txt", true, false},
        {L"\\\\server\\share", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.anyHost,
                  dialer::FilePathToOpen(c.path, dialer::FileReach::LocalOrShare) != nullptr)
            << Narrow(c.path);
        EXPECT_EQ(c.untrusted,
                  dialer::FilePathToOpen(c.path, dialer::FileReach::LocalOnly) != nullptr)
            << Narrow(c.path);
    }
}

TEST_F(DialerFileTest, DevicesAndPipesAreNeverOpened) {
    Use({Named(L"Modem A")});
    // A pipe that would see the dialer connect, if it ever opened it.
    const std::wstring name = L"brevlin-device-file-" + std::to_wstring(GetCurrentProcessId());
    HANDLE pipe =
        CreateNamedPipeW((L"\\\\.\\pipe\\" + name).c_str(),
                         PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, 0, 1, 64, 64, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(ConnectNamedPipe(pipe, &overlapped));
    ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());

    const std::wstring paths[] = {
        L"CON", L"COM1", L"\\\\.\\COM3", L"\\\\?\\GLOBALROOT\\Device\\Null",
        L"\\\\.\\C:\\..\\pipe\\" + name, L"//./C:/../pipe/" + name, L"\\\\.\\Z:\\..\\pipe\\" + name,
        L"\\\\.\\C:\\dir\\..\\..\\pipe\\" + name, L"\\\\.\\pipe\\" + name, L"//./pipe/" + name,
        L"\\\\?\\pipe\\" + name, L"\\\\localhost\\pipe\\" + name,
        // Passes every rule of the name, yet is no disk file.
        L"Z:\\dev\\urandom"};
    for (const std::wstring& path : paths) {
        const DWORD start = GetTickCount();
        VARIANT_BOOL success;
        EXPECT_HR(S_OK, Read(&success, path.c_str())) << Narrow(path.c_str());
        EXPECT_EQ(VARIANT_FALSE, success) << Narrow(path.c_str());
        EXPECT_LT(GetTickCount() - start, 2000u) << Narrow(path.c_str());
    }
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(overlapped.hEvent, 100))
        << "the pipe had a client";
    CancelIo(pipe);
    CloseHandle(overlapped.hEvent);
    CloseHandle(pipe);
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::EnumerateAddresses));

    // A drive path in the device namespace is still a file.
    Write("Modem A\n");
    VARIANT_BOOL success;
    EXPECT_HR(S_OK, Read(&success, (L"\\\\?\\" + m_file.Path()).c_str()));
    EXPECT_EQ(VARIANT_TRUE, success);
}

// A page may drive the dialer: it must not learn which files exist.
TEST_F(DialerFileTest, WithoutTelephonyNoFileIsRead) {
    m_service->World().SetAddresses({Named(L"Modem A")});
    Write("Modem A\n");
    const std::wstring missing = m_file.Path() + L".missing";
    auto expectNothingRead = [&](const char* when) {
        for (const wchar_t* path : {m_file.Path().c_str(), missing.c_str()}) {
            VARIANT_BOOL success;
            EXPECT_HR(S_OK, Read(&success, path)) << when;
            EXPECT_EQ(VARIANT_FALSE, success) << when;
        }
        EXPECT_EQ(0u, m_service->Recorder().CountOf(op::EnumerateAddresses)) << when;
    };
    expectNothingRead("before InitializeTAPI");

    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    VARIANT_BOOL success;
    EXPECT_HR(S_OK, Read(&success));
    EXPECT_EQ(VARIANT_TRUE, success);
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
    m_service->Recorder().ClearOperations();
    expectNothingRead("after ShutdownTAPI");

    // A failed InitializeTAPI leaves the dialer without telephony too.
    ASSERT_HR(S_OK, CreateDialer(m_dialer));
    m_service->Recorder().FailOperation(op::Initialize, E_FAIL);
    EXPECT_HR(E_FAIL, m_dialer->InitializeTAPI());
    (void)TakeThreadError();
    expectNothingRead("after a failed InitializeTAPI");
}

// A host that runs untrusted content says so; then only local files are read.
TEST_F(DialerFileTest, UntrustedCallersReadLocalFilesOnly) {
    Use({Named(L"Modem A")});
    // Wine serves \\HOST\SHARE from its prefix's dosdevices\unc folder.
    wchar_t prefix[MAX_PATH] = L"";
    ASSERT_NE(0u, GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH));
    std::wstring share = std::wstring(L"Z:") + prefix + L"\\dosdevices\\unc";
    std::replace(share.begin(), share.end(), L'/', L'\\');
    const std::wstring host = L"brevlin-share-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(share.c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryW((share + L"\\" + host).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((share + L"\\" + host + L"\\lines").c_str(), nullptr));
    const std::wstring onDisk = share + L"\\" + host + L"\\lines\\line.txt";
    const std::wstring onShare = L"\\\\" + host + L"\\lines\\line.txt";
    {
        HANDLE file = CreateFileW(onDisk.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        WriteFile(file, "Modem A\n", 8, &written, nullptr);
        CloseHandle(file);
    }
    Write("Modem A\n");

    ComPtr<IObjectSafety> safety;
    ASSERT_HR(S_OK, m_dialer.As(&safety));
    auto expectRead = [&](const std::wstring& path, VARIANT_BOOL expected) {
        VARIANT_BOOL success;
        EXPECT_HR(S_OK, Read(&success, path.c_str())) << Narrow(path.c_str());
        EXPECT_EQ(expected, success) << Narrow(path.c_str());
    };
    expectRead(onShare, VARIANT_TRUE);

    const DWORD untrusted = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
    for (REFIID riid : {IID_IDispatch, IID_ITAPIDialer}) {
        ASSERT_HR(S_OK, safety->SetInterfaceSafetyOptions(riid, untrusted, untrusted));
        const std::size_t enumerations = m_service->Recorder().CountOf(op::EnumerateAddresses);
        expectRead(onShare, VARIANT_FALSE);
        expectRead(L"\\\\?\\UNC\\" + host + L"\\lines\\line.txt", VARIANT_FALSE);
        EXPECT_EQ(enumerations, m_service->Recorder().CountOf(op::EnumerateAddresses));
        expectRead(m_file.Path(), VARIANT_TRUE);
        DWORD supported = 0;
        DWORD enabled = 0;
        EXPECT_HR(S_OK, safety->GetInterfaceSafetyOptions(riid, &supported, &enabled));
        EXPECT_EQ(static_cast<DWORD>(INTERFACESAFE_FOR_UNTRUSTED_CALLER |
                                     INTERFACESAFE_FOR_UNTRUSTED_DATA),
                  supported);
        EXPECT_EQ(untrusted, enabled);
        ASSERT_HR(S_OK, safety->SetInterfaceSafetyOptions(riid, untrusted, 0));
        expectRead(onShare, VARIANT_TRUE);
    }
    DeleteFileW(onDisk.c_str());
    RemoveDirectoryW((share + L"\\" + host + L"\\lines").c_str());
    RemoveDirectoryW((share + L"\\" + host).c_str());
}

TEST_F(DialerFileTest, AFileOpenForWritingElsewhereIsRead) {
    Use({Named(L"Modem A")});
    Write("Modem A\n");
    HANDLE writer = CreateFileW(m_file.Path().c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    VARIANT_BOOL success;
    EXPECT_HR(S_OK, Read(&success));
    EXPECT_EQ(VARIANT_TRUE, success);
    CloseHandle(writer);
}

TEST_F(DialerFileTest, ReadingTheSameFileTwiceSelectsTheSameAddressAgain) {
    Use({Named(L"Modem A"), Named(L"Modem B")});
    Write("Modem B\r\n");
    VARIANT_BOOL success;
    EXPECT_HR(S_OK, Read(&success));
    EXPECT_EQ(VARIANT_TRUE, success);
    EXPECT_HR(S_OK, Read(&success));
    EXPECT_EQ(VARIANT_TRUE, success);
    EXPECT_EQ(2u, m_service->Ledger().LiveObjects());
}

TEST_F(DialerFileTest, TheSelectionsAnswerIsPassedOn) {
    telsim::AddressSpec fax = Named(L"Fax");
    fax.addressTypes = 0;
    Use({fax});
    Write("Fax\n");
    VARIANT_BOOL success;
    EXPECT_HR(S_OK, Read(&success));
    EXPECT_EQ(VARIANT_FALSE, success);

    const HRESULT refused = static_cast<HRESULT>(0x80040004);
    m_service->Recorder().FailOperation(op::EnumerateAddresses, refused);
    EXPECT_HR(refused, Read(&success));
    EXPECT_EQ(VARIANT_FALSE, success);
    EXPECT_EQ(1u, m_service->Ledger().LiveObjects());
}

}  // namespace
