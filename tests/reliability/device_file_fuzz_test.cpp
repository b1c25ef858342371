// Randomized device-address files, held against a small model of the
// reading rules: text-mode translation first (CR LF reads as LF, a lone CR
// is a character, 0x1A ends the content), then the first line, at most 255
// characters of it, cut at its first NUL; every byte is the character of
// the same value. The reader is tested directly for volume, and a sample of
// the files goes through ReadDeviceAddressFromFile against addresses named
// after what the model expects.
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "dialer_test_support.h"
#include "dialer/device_address_file.h"

using Microsoft::WRL::ComPtr;
using namespace dialer_test;

namespace {

constexpr unsigned kSeed = 20261208;
constexpr int kFiles = 40000;
// Each file costs a few milliseconds of the Wine server; on a loaded machine
// the run stops here and says how many it checked.
constexpr DWORD kFileBudgetMs = 75000;
constexpr int kThroughDialer = 400;

std::wstring ExpectedName(const std::string& bytes) {
    const std::string content = bytes.substr(0, bytes.find('\x1A'));
    std::wstring text;
    for (std::size_t i = 0; i < content.size(); ++i) {
        if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') {
            continue;  // the LF that follows stands for the pair
        }
        text += static_cast<wchar_t>(static_cast<unsigned char>(content[i]));
    }
    std::wstring line = text.substr(0, text.find(L'\n'));
    line = line.substr(0, 255);
    return line.substr(0, line.find(L'\0'));
}

// Lengths from 0 to 600, with many near the 255-character limit; bytes drawn
// mostly from CR, LF, NUL, 0x1A and the upper half, at a density of special
// bytes that varies from file to file so that long first lines occur too.
class FileGenerator {
public:
    explicit FileGenerator(unsigned seed) : m_random(seed) {}

    std::string Next() {
        std::size_t length;
        switch (Pick(4)) {
        case 0:
            length = Pick(21);
            break;
        case 1:
            length = 250 + Pick(12);
            break;
        default:
            length = Pick(601);
            break;
        }
        // Percent of line-end and control bytes; now and then almost none,
        // so that first lines reach the limit.
        const unsigned density = Pick(4) == 0 ? Pick(3) : Pick(60);
        std::string bytes;
        for (std::size_t i = 0; i < length; ++i) {
            bytes += Byte(density);
        }
        return bytes;
    }

    unsigned Pick(unsigned bound) {
        return std::uniform_int_distribution<unsigned>(0, bound - 1)(m_random);
    }

private:
    char Byte(unsigned density) {
        if (Pick(100) < density) {
            static const char special[] = {'\r', '\r', '\n', '\n', '\0', '\x1A'};
            return special[Pick(sizeof special)];
        }
        if (Pick(3) == 0) {
            return static_cast<char>(0x80 + Pick(128));
        }
        return static_cast<char>(0x20 + Pick(0x5F));
    }

    std::mt19937 m_random;
};

std::wstring ScratchFile(const wchar_t* tag) {
    wchar_t directory[MAX_PATH];
    GetTempPathW(MAX_PATH, directory);
    return std::wstring(directory) + L"brevlin-" + tag + L"-" +
           std::to_wstring(GetCurrentProcessId()) + L".txt";
}

// The file being generated, kept open for writing with full sharing (as the
// reader shares it) and rewritten in place: creating a file afresh costs
// several times more under Wine than reading it.
class ScratchWriter {
public:
    explicit ScratchWriter(const std::wstring& path)
        : m_file(CreateFileW(path.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~ScratchWriter() {
        if (m_file != INVALID_HANDLE_VALUE) {
            CloseHandle(m_file);
        }
    }
    ScratchWriter(const ScratchWriter&) = delete;
    ScratchWriter& operator=(const ScratchWriter&) = delete;

    bool Write(const std::string& bytes) {
        DWORD written = 0;
        return m_file != INVALID_HANDLE_VALUE &&
               SetFilePointer(m_file, 0, nullptr, FILE_BEGIN) == 0 &&
               WriteFile(m_file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) &&
               written == bytes.size() && SetEndOfFile(m_file);
    }

private:
    HANDLE m_file;
};

std::string Show(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", c);
        text += hex;
    }
    return text;
}

TEST(DeviceAddressFileFuzz, ReaderAgreesWithTheModel) {
    std::printf("device-address files: seed %u, %d files\n", kSeed, kFiles);
    FileGenerator generator(kSeed);
    const std::wstring path = ScratchFile(L"fuzz");
    int mismatches = 0;
    int cut = 0;
    int empty = 0;
    int checked = 0;
    const DWORD start = GetTickCount();
    ScratchWriter writer(path);
    for (; checked < kFiles && mismatches < 10 && GetTickCount() - start < kFileBudgetMs;
         ++checked) {
        const int i = checked;
        const std::string bytes = generator.Next();
        ASSERT_TRUE(writer.Write(bytes));
        wchar_t line[dialer::kMaxDeviceAddressLength + 2];
        std::fill(std::begin(line), std::end(line), L'\xFFFF');
        ASSERT_TRUE(
            dialer::ReadDeviceAddressLine(path.c_str(), dialer::FileReach::LocalOrShare, line))
            << "file #" << i;
        const std::wstring expected = ExpectedName(bytes);
        const std::wstring name(line, std::find(std::begin(line), std::end(line) - 1, L'\0'));
        // The line is NUL-terminated within the 256 characters read, and the
        // last element of the buffer is never written.
        EXPECT_NE(std::end(line) - 1, std::find(std::begin(line), std::end(line) - 1, L'\0'));
        EXPECT_EQ(L'\xFFFF', line[dialer::kMaxDeviceAddressLength + 1]);
        if (name != expected) {
            ++mismatches;
            ADD_FAILURE() << "file #" << i << " bytes " << Show(bytes) << ": read " << name.size()
                          << " characters, the rules give " << expected.size();
        }
        cut += expected.size() == 255 ? 1 : 0;
        empty += expected.empty() ? 1 : 0;
    }
    // Shared for deletion: the file goes when the writer closes it.
    DeleteFileW(path.c_str());
    std::printf(
        "device-address files: %d checked in %lu ms, %d names cut at 255, %d empty, %d "
        "mismatches\n",
        checked, static_cast<unsigned long>(GetTickCount() - start), cut, empty, mismatches);
    EXPECT_GE(checked, 1000);
}

TEST(DeviceAddressFileFuzz, MemberSelectsTheAddressTheModelNames) {
    Apartment apartment;
    auto service = telsim::Service::Create();
    // Lenient (sync): the call of each file is settled before the next file.
    service->World().SetDelivery(telsim::Delivery::Synchronous);
    ASSERT_HR(S_OK, service->RegisterClassObject());
    ComPtr<ITAPIDialer> dialer;
    ASSERT_HR(S_OK, CreateDialer(dialer));
    ASSERT_HR(S_OK, dialer->InitializeTAPI());

    std::printf("device-address files through the dialer: seed %u, %d files\n", kSeed + 1,
                kThroughDialer);
    FileGenerator generator(kSeed + 1);
    const std::wstring path = ScratchFile(L"member");
    Bstr fileSpec(path.c_str());
    // A name the file cannot express (U+0100), so it never matches by chance.
    const std::wstring decoy = L"decoy\x0100";
    int selected = 0;
    int nearMisses = 0;
    int unread = 0;
    ScratchWriter writer(path);
    for (int i = 0; i < kThroughDialer; ++i) {
        const std::string bytes = generator.Next();
        ASSERT_TRUE(writer.Write(bytes));
        const std::wstring expected = ExpectedName(bytes);
        // Every other file is offered only a near miss: the expected name
        // with one more letter.
        const bool nearMiss = i % 2 == 1;
        service->World().SetAddresses({telsim::AddressSpec{decoy},
                                       telsim::AddressSpec{nearMiss ? expected + L"x" : expected}});
        const std::size_t enumerations =
            service->Recorder().CountOf(telsim::op::EnumerateAddresses);
        VARIANT_BOOL success = 0x1234;
        const HRESULT hr = dialer->ReadDeviceAddressFromFile(fileSpec.Get(), &success);
        SCOPED_TRACE("file #" + std::to_string(i) + " bytes " + Show(bytes));
        if (expected.empty()) {
            EXPECT_HR(S_OK, hr);
            EXPECT_EQ(VARIANT_FALSE, success);
            EXPECT_EQ(enumerations, service->Recorder().CountOf(telsim::op::EnumerateAddresses));
            ++unread;
        } else if (nearMiss) {
            EXPECT_HR(S_FALSE, hr);
            EXPECT_EQ(VARIANT_FALSE, success);
            ++nearMisses;
        } else {
            EXPECT_HR(S_OK, hr);
            EXPECT_EQ(VARIANT_TRUE, success);
            ++selected;
        }
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
    DeleteFileW(path.c_str());
    std::printf(
        "device-address files through the dialer: %d selected, %d near misses refused, "
        "%d empty names with no lookup\n",
        selected, nearMisses, unread);

    dialer.Reset();
    service->Notifications().WaitIdle();
    EXPECT_EQ("", service->Ledger().Leaks());
    service->RevokeClassObject();
    service->Notifications().ReleaseSinks();
}

}  // namespace
