// Selection by the first line of a device-address file.
#include "dialer_test_support.h"

#include "dialer/ordinary_file.h"
#include "support/scratch_file.h"

#include <string>

using Microsoft::WRL::ComPtr;
using namespace dialer_test;
namespace op = telsim::op;

namespace {

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

TEST_F(DialerFileTest, DevicesAndPipesAreNeverOpened) {
    Use({Named(L"Modem A")});
    // A pipe that would see the dialer connect, if it ever opened it.
    const std::wstring pipeTail =
        L"\\pipe\\brevlin-device-file-" + std::to_wstring(GetCurrentProcessId());
    HANDLE pipe =
        CreateNamedPipeW((L"\\\\." + pipeTail).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                         0, 1, 64, 64, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    const std::wstring paths[] = {L"CON",
                                  L"NUL",
                                  L"COM1",
                                  L"com1:",
                                  L"nul.txt",
                                  L"C:\\windows\\temp\\CON .log",
                                  L"\\\\.\\COM3",
                                  L"\\\\?\\GLOBALROOT\\Device\\Null",
                                  L"\\\\." + pipeTail,
                                  L"\\\\localhost" + pipeTail,
                                  L"\\\\?\\UNC\\localhost\\PIPE\\anything"};
    for (const std::wstring& path : paths) {
        VARIANT_BOOL success;
        EXPECT_HR(S_OK, Read(&success, path.c_str()));
        EXPECT_EQ(VARIANT_FALSE, success);
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(ConnectNamedPipe(pipe, &overlapped));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError()) << "the pipe had a client";
    CancelIo(pipe);
    CloseHandle(overlapped.hEvent);
    CloseHandle(pipe);
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::EnumerateAddresses));

    // A drive path in the device namespace is still a file, as is one on a share.
    Write("Modem A\n");
    VARIANT_BOOL success;
    EXPECT_HR(S_OK, Read(&success, (L"\\\\?\\" + m_file.Path()).c_str()));
    EXPECT_EQ(VARIANT_TRUE, success);
    EXPECT_TRUE(dialer::PathCanNameOnlyAFile(L"\\\\server\\share\\line.txt"));
    EXPECT_TRUE(dialer::PathCanNameOnlyAFile(L"\\\\?\\UNC\\server\\share\\line.txt"));
    EXPECT_TRUE(dialer::PathCanNameOnlyAFile(L"console.txt"));
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
