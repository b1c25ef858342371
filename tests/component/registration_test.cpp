#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "brevlin_library.h"
#include "support/hresult.h"
#include "support/scratch_registry.h"

using component_test::BrevlinLibrary;
using test_support::ScratchClassesRoot;

namespace {

const wchar_t kClassKey[] = L"CLSID\\{6C04D28D-D046-4514-A463-19AE864ABA68}";
const wchar_t kLibKey[] = L"TypeLib\\{A98D2088-65A8-4490-8C57-CC6639597A5C}";

// The keys and values of the class's registry script, for a library at path.
std::wstring ClassEntries(const std::wstring& path) {
    const std::wstring c = kClassKey;
    std::vector<std::wstring> lines = {
        L"Brevlin.TAPIDialer",
        L"Brevlin.TAPIDialer.1",
        L"Brevlin.TAPIDialer.1\\CLSID",
        L"Brevlin.TAPIDialer.1\\CLSID|@={6C04D28D-D046-4514-A463-19AE864ABA68}",
        L"Brevlin.TAPIDialer.1|@=TAPIDialer Class",
        L"Brevlin.TAPIDialer\\CLSID",
        L"Brevlin.TAPIDialer\\CLSID|@={6C04D28D-D046-4514-A463-19AE864ABA68}",
        L"Brevlin.TAPIDialer\\CurVer",
        L"Brevlin.TAPIDialer\\CurVer|@=Brevlin.TAPIDialer.1",
        L"Brevlin.TAPIDialer|@=TAPIDialer Class",
        L"CLSID",
        c,
        c + L"\\Control",
        c + L"\\InprocServer32",
        c + L"\\InprocServer32|@=" + path,
        c + L"\\InprocServer32|ThreadingModel=Both",
        c + L"\\MiscStatus",
        c + L"\\MiscStatus\\1",
        c + L"\\MiscStatus\\1|@=132497",
        c + L"\\MiscStatus|@=0",
        c + L"\\ProgID",
        c + L"\\ProgID|@=Brevlin.TAPIDialer.1",
        c + L"\\Programmable",
        c + L"\\ToolboxBitmap32",
        c + L"\\ToolboxBitmap32|@=" + path + L", 101",
        c + L"\\TypeLib",
        c + L"\\TypeLib|@={A98D2088-65A8-4490-8C57-CC6639597A5C}",
        c + L"\\Version",
        c + L"\\VersionIndependentProgID",
        c + L"\\VersionIndependentProgID|@=Brevlin.TAPIDialer",
        c + L"\\Version|@=1.0",
        c + L"|@=TAPIDialer Class",
    };
    std::wstring out;
    for (const std::wstring& line : lines)
        out += line + L"\n";
    return out;
}

// The dump's lines that do not belong to the platform's type-library
// registration (TypeLib and Interface keys).
std::wstring WithoutTypeLibrary(const std::wstring& dump) {
    std::wstring out;
    size_t start = 0;
    while (start < dump.size()) {
        const size_t end = dump.find(L'\n', start);
        const std::wstring line = dump.substr(start, end - start);
        if (line.rfind(L"TypeLib", 0) != 0 && line.rfind(L"Interface", 0) != 0)
            out += line + L"\n";
        start = end + 1;
    }
    return out;
}

std::wstring LoadedPath(const BrevlinLibrary& lib) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(lib.Module(), buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

// A copy of Brevlin.dll at dir\Brevlin.dll, removed again at the end.
class LibraryCopy {
public:
    explicit LibraryCopy(const std::wstring& dir) : m_dir(dir), m_path(dir + L"\\Brevlin.dll") {
        CreateDirectoryW(m_dir.c_str(), nullptr);
        m_ok = CopyFileW(BrevlinLibrary::BuiltPath().c_str(), m_path.c_str(), FALSE) != 0;
    }
    ~LibraryCopy() {
        DeleteFileW(m_path.c_str());
        RemoveDirectoryW(m_dir.c_str());
    }
    bool Ok() const { return m_ok; }
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_dir;
    std::wstring m_path;
    bool m_ok = false;
};

std::wstring TempDir() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, buffer);
    std::wstring dir(buffer, length);
    if (!dir.empty() && dir.back() == L'\\')
        dir.pop_back();
    // One directory per run, so that runs in the same prefix never meet.
    dir += L"\\brevlin-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Registering the type library reads stdole2's registration.
        ASSERT_TRUE(m_root.CopyFromRealRoot(L"TypeLib\\{00020430-0000-0000-C000-000000000046}"));
        m_base = m_root.Dump();
    }
    void TearDown() override { RemoveDirectoryW(TempDir().c_str()); }
    // The scratch root's content without what SetUp copied in.
    std::wstring Written() const {
        std::wstring dump = m_root.Dump();
        std::wstring out;
        size_t start = 0;
        while (start < dump.size()) {
            const size_t end = dump.find(L'\n', start);
            const std::wstring line = dump.substr(start, end - start + 1);
            if (m_base.find(line) == std::wstring::npos)
                out += line;
            start = end + 1;
        }
        return out;
    }

    ScratchClassesRoot m_root;
    std::wstring m_base;
};

TEST_F(RegistrationTest, RegisterWritesTheClassKeysAndTheTypeLibrary) {
    BrevlinLibrary lib;
    ASSERT_TRUE(lib.Loaded());
    ASSERT_HR(S_OK, lib.RegisterServer());
    const std::wstring written = Written();
    EXPECT_EQ(WithoutTypeLibrary(written), ClassEntries(LoadedPath(lib)));
    const std::wstring win64 = std::wstring(kLibKey) + L"\\1.0\\409\\" +
                               (sizeof(void*) == 8 ? L"win64" : L"win32") + L"|@=" +
                               LoadedPath(lib) + L"\n";
    EXPECT_NE(written.find(win64), std::wstring::npos)
        << "type library registered under locale 409:\n"
        << written;

    // Registering again gives the same content.
    ASSERT_HR(S_OK, lib.RegisterServer());
    EXPECT_EQ(Written(), written);
}

TEST_F(RegistrationTest, UnregisterRemovesAllButTheClsidKey) {
    BrevlinLibrary lib;
    ASSERT_HR(S_OK, lib.RegisterServer());
    ASSERT_HR(S_OK, lib.UnregisterServer());
    const std::wstring written = Written();
    EXPECT_EQ(WithoutTypeLibrary(written), L"CLSID\n");
    EXPECT_EQ(written.find(kLibKey), std::wstring::npos) << written;
}

TEST_F(RegistrationTest, APathWithAQuoteIsWrittenAsItIs) {
    LibraryCopy copy(TempDir() + L"\\Brev'lin");
    ASSERT_TRUE(copy.Ok());
    {
        BrevlinLibrary lib(copy.Path());
        ASSERT_TRUE(lib.Loaded());
        ASSERT_HR(S_OK, lib.RegisterServer());
        EXPECT_EQ(WithoutTypeLibrary(Written()), ClassEntries(LoadedPath(lib)));
        EXPECT_NE(LoadedPath(lib).find(L"Brev'lin"), std::wstring::npos);
        EXPECT_HR(S_OK, lib.UnregisterServer());
    }
}

TEST_F(RegistrationTest, APathOf260CharactersOrMoreFailsBeforeAnyKeyIsTouched) {
    // Nested directories, so that the library's path is at least MAX_PATH long.
    std::vector<std::wstring> dirs;
    std::wstring dir = TempDir();
    while (dir.size() + 12 < MAX_PATH) {
        dir += L"\\" + std::wstring(40, L'd');
        if (dir.size() + 12 >= MAX_PATH)
            break;
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        dirs.push_back(dir);
    }
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    dirs.push_back(dir);
    {
        LibraryCopy copy(dir + L"\\x");
        ASSERT_TRUE(copy.Ok());
        ASSERT_GE(copy.Path().size(), size_t{MAX_PATH});
        BrevlinLibrary lib(copy.Path());
        ASSERT_TRUE(lib.Loaded()) << "error " << GetLastError();
        EXPECT_HR(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), lib.RegisterServer());
        EXPECT_HR(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), lib.UnregisterServer());
        EXPECT_EQ(Written(), L"");
    }
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it)
        RemoveDirectoryW(it->c_str());
}

}  // namespace
