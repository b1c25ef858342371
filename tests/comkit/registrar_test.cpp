#include <gtest/gtest.h>

#include <string>

#include "comkit/registrar.h"
#include "comkit/registry_script.h"
#include "support/hresult.h"
#include "support/sample_registry_script.h"
#include "support/scratch_registry.h"

using comkit::Registrar;
using test_support::kSampleRegistryScript;
using test_support::ScratchClassesRoot;

namespace {

// What the sample script writes for a module at C:\it's\x.dll.
const wchar_t kWritten[] =
    L"CLSID\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\Flags\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\Flags|@=dword:17\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32|@=C:\\it's\\x.dll\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32|ThreadingModel=Both\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\MiscStatus\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\MiscStatus\\1\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\MiscStatus\\1|@=132497\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\MiscStatus|@=0\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\Programmable\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\ToolboxBitmap32\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}\\ToolboxBitmap32|@=C:\\it's\\x.dll, 101\n"
    L"CLSID\\{11111111-2222-3333-4444-555555555555}|@=Sample Thing\n"
    L"Sample.Thing.1\n"
    L"Sample.Thing.1\\CLSID\n"
    L"Sample.Thing.1\\CLSID|@={11111111-2222-3333-4444-555555555555}\n"
    L"Sample.Thing.1|@=Sample 'quoted' Thing\n";

Registrar WithModule(const std::wstring& path) {
    Registrar r;
    comkit::WideBuffer quoted;
    EXPECT_TRUE(comkit::DoubleQuotes(path, quoted));
    EXPECT_HR(S_OK, r.AddReplacement(L"MODULE", quoted.View()));
    return r;
}

// A registrar for a module at path that has registered the sample script.
Registrar SampleRegistered(const std::wstring& path) {
    Registrar r = WithModule(path);
    EXPECT_HR(S_OK, r.Register(kSampleRegistryScript));
    return r;
}

class RegistrarTest : public ::testing::Test {
protected:
    // A key of the test's own below the scratch root.
    void AddKey(const wchar_t* path, DWORD options = 0) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(m_root.Key(), path, 0, nullptr, options, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    ScratchClassesRoot m_root;
};

TEST_F(RegistrarTest, WritesEveryKeyAndValueWithTheQuotedPath) {
    SampleRegistered(L"C:\\it's\\x.dll");
    EXPECT_EQ(m_root.Dump(), kWritten);
}

TEST_F(RegistrarTest, RegisteringTwiceGivesTheSameContentAndForceRemoveDropsStaleKeys) {
    Registrar r = SampleRegistered(L"C:\\it's\\x.dll");
    ASSERT_NO_FATAL_FAILURE(AddKey(L"CLSID\\{11111111-2222-3333-4444-555555555555}\\Stale"));
    ASSERT_HR(S_OK, r.Register(kSampleRegistryScript));
    EXPECT_EQ(m_root.Dump(), kWritten);
}

TEST_F(RegistrarTest, UnregisterKeepsNoRemoveKeysAndKeysWithForeignSubkeys) {
    Registrar r = SampleRegistered(L"C:\\x.dll");
    ASSERT_NO_FATAL_FAILURE(AddKey(L"Sample.Thing.1\\Foreign"));
    ASSERT_HR(S_OK, r.Unregister(kSampleRegistryScript));
    // Sample.Thing.1 keeps its value: a key that still has subkeys stays whole.
    EXPECT_EQ(m_root.Dump(),
              L"CLSID\n"
              L"Sample.Thing.1\n"
              L"Sample.Thing.1\\Foreign\n"
              L"Sample.Thing.1|@=Sample 'quoted' Thing\n");
    // Nothing left to remove: a second removal passes over missing keys.
    EXPECT_HR(S_OK, r.Unregister(kSampleRegistryScript));
}

TEST_F(RegistrarTest, ReplacementNamesMatchWithoutCaseAndDoublePercentIsOnePercent) {
    Registrar r;
    ASSERT_HR(S_OK, r.AddReplacement(L"Module_Raw", L"raw"));
    ASSERT_HR(S_OK, r.Register("HKCR { K = s '%MODULE_RAW% 100%%' }"));
    EXPECT_EQ(m_root.Dump(), L"K\nK|@=raw 100%\n");
}

TEST_F(RegistrarTest, AFailedWriteIsUndoneByRemoval) {
    // A volatile key cannot hold a lasting subkey, so the write of Child fails
    // after First has been written.
    ASSERT_NO_FATAL_FAILURE(AddKey(L"Volatile", REG_OPTION_VOLATILE));
    Registrar r;
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE),
              r.Register("HKCR\r\n{\r\n\tFirst = s 'one'\r\n\t{\r\n\t\tSub = s 'two'\r\n\t}\r\n"
                         "\tNoRemove Volatile\r\n\t{\r\n\t\tChild = s 'three'\r\n\t}\r\n}\r\n"));
    EXPECT_EQ(m_root.Dump(), L"Volatile\n");
}

std::string Nested(int depth) {
    std::string script = "HKCR { ";
    for (int i = 0; i < depth; ++i)
        script += "K { ";
    for (int i = 0; i < depth; ++i)
        script += "} ";
    return script + "}";
}

TEST_F(RegistrarTest, MalformedScriptsAreRefusedWithNothingWritten) {
    const std::string longName(256, 'n');
    const std::string cases[] = {
        "",
        "HKCR",
        "HKCR { A = s 'x' { B = s 'y' }",  // truncated
        "HKCR { A = s 'x' } }",            // unbalanced
        "HKCR { A = s 'unterminated }",
        "HKCR { A = q 'x' }",  // unknown value kind
        "HKCR { A = s }",
        "HKCR { A = s 'x' { val = s 'y' } }",
        "HKCR { val V = s 'x' }",  // value outside a key
        "HKXX { A = s 'x' }",      // unknown root
        "HKCR { A = d 'twelve' }",
        "HKCR { A = s '%NOSUCH%' }",  // unknown replacement
        "HKCR { A = s '%MODULE' }",
        "HKCR { A = s 'x' { ForceRemove } }",
        "HKCR { " + longName + " = s 'x' }",  // overlong key name
        "HKCR { A { val " + std::string(16384, 'v') + " = s 'x' } }",
        "HKCR { A = s '" + std::string(4097, 'x') + "' }",
        "HKCR { Good = s 'x' } HKCR { Bad = s 'y' ",  // a good root before a bad one
        std::string("HKCR { A\0B = s 'x' }", 20),     // a NUL inside a name
        Nested(comkit::kMaxKeyDepth + 1),
        Nested(100000),
    };
    for (const std::string& script : cases) {
        Registrar r = WithModule(L"C:\\x.dll");
        EXPECT_HR(comkit::E_REGISTRY_SCRIPT, r.Register(script))
            << " for: " << script.substr(0, 80);
        EXPECT_EQ(m_root.Dump(), L"") << script.substr(0, 80);
        EXPECT_HR(comkit::E_REGISTRY_SCRIPT, r.Unregister(script)) << script.substr(0, 80);
    }
}

TEST_F(RegistrarTest, KeysNestedToTheLimitAreWrittenAndRemoved) {
    Registrar r;
    ASSERT_HR(S_OK, r.Register(Nested(comkit::kMaxKeyDepth)));
    EXPECT_NE(m_root.Dump().find(L"K\\K\\K"), std::wstring::npos);
    EXPECT_HR(S_OK, r.Unregister(Nested(comkit::kMaxKeyDepth)));
    EXPECT_EQ(m_root.Dump(), L"");
}

TEST_F(RegistrarTest, LongestAcceptedNamesAreWritten) {
    const std::string name(255, 'n');
    Registrar r;
    ASSERT_HR(S_OK, r.Register("HKCR { " + name + " = s 'x' }"));
    EXPECT_EQ(m_root.Dump(), std::wstring(255, L'n') + L"\n" + std::wstring(255, L'n') + L"|@=x\n");
}

TEST_F(RegistrarTest, ScriptsRunFromResourcesWithTheModulePath) {
    HMODULE self = GetModuleHandleW(nullptr);
    ASSERT_HR(S_OK, comkit::UpdateRegistryFromResource(self, L"C:\\dir\\o'k.dll", 201, true));
    EXPECT_EQ(m_root.Dump(), L"Resource.Key\nResource.Key|@=C:\\dir\\o'k.dll\n");
    ASSERT_HR(S_OK, comkit::UpdateRegistryFromResource(self, L"C:\\dir\\o'k.dll", 201, false));
    EXPECT_EQ(m_root.Dump(), L"");
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
              comkit::UpdateRegistryFromResource(self, L"C:\\x.dll", 999, true));
}

TEST_F(RegistrarTest, APathOf260CharactersFailsBeforeAnyKeyIsTouched) {
    HMODULE self = GetModuleHandleW(nullptr);
    const std::wstring longest = L"C:\\" + std::wstring(MAX_PATH - 4, L'a');
    EXPECT_HR(S_OK, comkit::UpdateRegistryFromResource(self, longest, 201, true));
    ASSERT_HR(S_OK, comkit::UpdateRegistryFromResource(self, longest, 201, false));
    const std::wstring tooLong = longest + L"a";
    ASSERT_EQ(tooLong.size(), size_t{MAX_PATH});
    for (bool doRegister : {true, false}) {
        EXPECT_HR(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
                  comkit::UpdateRegistryFromResource(self, tooLong, 201, doRegister));
        EXPECT_EQ(m_root.Dump(), L"");
    }
}

}  // namespace
