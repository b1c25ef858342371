// TelSim.dll: its class object, its scenario, and its registration, which
// never replaces another server of the telephony class.
#include "fake_sink.h"

#include "support/bstr.h"
#include "support/scratch_file.h"
#include "support/scratch_registry.h"
#include "support/thread_error.h"

using Microsoft::WRL::ComPtr;
using telsim_test::FakeSink;

namespace {

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using PlainFn = HRESULT(WINAPI*)();

std::wstring BesideTests(const wchar_t* file) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + file;
}

// One load of the DLL: a fresh simulated world, since the world lives as
// long as the module.
class TelSimDll {
public:
    TelSimDll() : module_(LoadLibraryW(BesideTests(L"TelSim.dll").c_str())) {
        EXPECT_NE(nullptr, module_) << "TelSim.dll beside the tests: " << GetLastError();
    }
    ~TelSimDll() {
        if (!module_)
            return;
        EXPECT_HR(S_OK, Plain("DllCanUnloadNow")());
        FreeLibrary(module_);
    }
    TelSimDll(const TelSimDll&) = delete;
    TelSimDll& operator=(const TelSimDll&) = delete;

    PlainFn Plain(const char* name) const {
        return reinterpret_cast<PlainFn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }
    HRESULT CreateRoot(ComPtr<ITTAPI>& tapi) const {
        auto get = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        ComPtr<IClassFactory> factory;
        const HRESULT hr = get(CLSID_TAPI, IID_IClassFactory, &factory);
        if (FAILED(hr))
            return hr;
        return factory->CreateInstance(nullptr, IID_ITTAPI, &tapi);
    }
    bool Loaded() const { return module_ != nullptr; }

private:
    HMODULE module_;
};

std::vector<std::wstring> AddressNames(ITTAPI* tapi) {
    std::vector<std::wstring> names;
    ComPtr<IEnumAddress> addresses;
    EXPECT_HR(S_OK, tapi->EnumerateAddresses(&addresses));
    ComPtr<ITAddress> address;
    while (addresses && addresses->Next(1, address.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        test_support::Bstr name;
        EXPECT_HR(S_OK, address->get_AddressName(name.Receive()));
        names.emplace_back(name ? name.Get() : L"(null)");
    }
    return names;
}

class WithScenario : public ::testing::Test {
protected:
    test_support::Apartment com;
    test_support::ScratchFile scenario;

    void UseScenario(const char* text) {
        ASSERT_TRUE(scenario.Write(text));
        SetEnvironmentVariableW(L"BREVLIN_TELSIM_SCENARIO", scenario.Path().c_str());
    }
    void TearDown() override { SetEnvironmentVariableW(L"BREVLIN_TELSIM_SCENARIO", nullptr); }
};

TEST_F(WithScenario, DefaultWorldWithoutAScenario) {
    TelSimDll dll;
    ASSERT_TRUE(dll.Loaded());
    ComPtr<ITTAPI> tapi;
    ASSERT_HR(S_OK, dll.CreateRoot(tapi));
    ASSERT_HR(S_OK, tapi->Initialize());
    EXPECT_EQ(
        (std::vector<std::wstring>{L"Simulated Modem", L"Simulated ISDN Line", L"Simulated Fax"}),
        AddressNames(tapi.Get()));
    EXPECT_HR(S_FALSE, dll.Plain("DllCanUnloadNow")());
    EXPECT_HR(S_OK, tapi->Shutdown());
}

TEST_F(WithScenario, ScenarioShapesLinesAndCalls) {
    // Delivery=sync, lenient: the busy call's states are there when Connect returns.
    UseScenario("[Service]\nDelivery=sync\n[Line1]\nName=Only line\n[Call]\nProgress=busy\n");
    TelSimDll dll;
    ASSERT_TRUE(dll.Loaded());
    ComPtr<ITTAPI> tapi;
    ASSERT_HR(S_OK, dll.CreateRoot(tapi));
    ASSERT_HR(S_OK, tapi->Initialize());
    EXPECT_EQ(std::vector<std::wstring>{L"Only line"}, AddressNames(tapi.Get()));

    ComPtr<FakeSink> sink = FakeSink::Make();
    telsim_test::Advised root;
    {
        ComPtr<IConnectionPointContainer> container;
        ASSERT_HR(S_OK, tapi.As(&container));
        ASSERT_HR(S_OK, container->FindConnectionPoint(IID_ITTAPIEventNotification, &root.point));
        ASSERT_HR(S_OK, root.point->Advise(sink.Get(), &root.cookie));
        ASSERT_HR(S_OK, tapi->put_EventFilter(TE_CALLSTATE));
    }
    ComPtr<ITBasicCallControl> call;
    ASSERT_HR(S_OK, telsim_test::FirstAddress(tapi.Get())->CreateCall(nullptr, 1, 24, &call));
    ASSERT_HR(S_OK, call->Connect(VARIANT_FALSE));
    EXPECT_EQ((std::vector<CALL_STATE>{CS_INPROGRESS, CS_DISCONNECTED}), sink->States());
    call.Reset();
    EXPECT_HR(S_OK, root.point->Unadvise(root.cookie));
    root.point.Reset();
    EXPECT_EQ(1u, test_support::RefCount(sink.Get()));
}

TEST_F(WithScenario, FailingInitializeForTheDemo) {
    UseScenario("[Faults]\nITTAPI::Initialize=0x80040059\n");
    TelSimDll dll;
    ComPtr<ITTAPI> tapi;
    ASSERT_HR(S_OK, dll.CreateRoot(tapi));
    EXPECT_HR(static_cast<HRESULT>(0x80040059), tapi->Initialize());
}

TEST_F(WithScenario, ScenarioWithAMistakeServesNothing) {
    UseScenario("[Line1]\nNmae=typo\n");
    TelSimDll dll;
    ComPtr<ITTAPI> tapi;
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), dll.CreateRoot(tapi));
    EXPECT_EQ(nullptr, tapi.Get());
}

// Registration into a scratch registry: HKEY_CLASSES_ROOT of this process is
// redirected onto a key of the test's own.
class Registration : public ::testing::Test {
protected:
    const std::wstring classKey = L"CLSID\\{21D6D48E-A88B-11D0-83DD-00AA003CCABD}";
    const std::wstring eventsKey = L"Interface\\{EDDB9426-3B91-11D1-8F30-00C04FB6809F}";
    TelSimDll dll;
    test_support::ScratchClassesRoot root;

    std::wstring Value(const std::wstring& key, const wchar_t* name) {
        wchar_t text[MAX_PATH * 2] = {};
        DWORD size = sizeof(text);
        if (RegGetValueW(root.Key(), key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) !=
            ERROR_SUCCESS)
            return L"";
        return text;
    }
};

TEST_F(Registration, RegistersWhereNoServerIs) {
    ASSERT_TRUE(dll.Loaded());
    EXPECT_HR(S_OK, dll.Plain("DllRegisterServer")());
    const std::wstring server = Value(classKey + L"\\InprocServer32", nullptr);
    EXPECT_NE(std::wstring::npos, server.find(L"TelSim.dll"))
        << std::string(server.begin(), server.end());
    EXPECT_EQ(L"Both", Value(classKey + L"\\InprocServer32", L"ThreadingModel"));
    // The sink's marshalling: the automation marshaler, reading TelSim's type library.
    EXPECT_EQ(L"{00020424-0000-0000-C000-000000000046}",
              Value(eventsKey + L"\\ProxyStubClsid32", nullptr));
    const std::wstring libId = Value(eventsKey + L"\\TypeLib", nullptr);
    const wchar_t* platform = sizeof(void*) == 8 ? L"\\1.0\\0\\win64" : L"\\1.0\\0\\win32";
    EXPECT_NE(std::wstring::npos,
              Value(L"TypeLib\\" + libId + platform, nullptr).find(L"TelSim.dll"));
    // Registering again over itself is fine; unregistering removes the class.
    EXPECT_HR(S_OK, dll.Plain("DllRegisterServer")());
    EXPECT_HR(S_OK, dll.Plain("DllUnregisterServer")());
    EXPECT_EQ(L"", Value(classKey + L"\\InprocServer32", nullptr));
    EXPECT_EQ(L"", Value(eventsKey + L"\\ProxyStubClsid32", nullptr));
    EXPECT_EQ(L"", Value(L"TypeLib\\" + libId + L"\\1.0", nullptr));
    EXPECT_HR(S_FALSE, dll.Plain("DllUnregisterServer")());
}

TEST_F(Registration, RefusesWhenAnotherServerIsRegistered) {
    ASSERT_TRUE(dll.Loaded());
    HKEY server = nullptr;
    const std::wstring real = L"C:\\windows\\system32\\tapi3.dll";
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(root.Key(), (classKey + L"\\InprocServer32").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &server, nullptr));
    RegSetValueExW(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(real.c_str()),
                   static_cast<DWORD>((real.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(server);

    SetErrorInfo(0, nullptr);
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), dll.Plain("DllRegisterServer")());
    const test_support::ThreadError error = test_support::TakeThreadError();
    ASSERT_TRUE(error.present);
    EXPECT_NE(std::wstring::npos, error.description.find(L"tapi3.dll"));

    EXPECT_EQ(real, Value(classKey + L"\\InprocServer32", nullptr));
    EXPECT_EQ(L"", Value(eventsKey + L"\\ProxyStubClsid32", nullptr));
    EXPECT_HR(S_FALSE, dll.Plain("DllUnregisterServer")());
    EXPECT_EQ(real, Value(classKey + L"\\InprocServer32", nullptr));
}

TEST_F(Registration, LeavesAnotherMarshallingOfTheSinkAlone) {
    ASSERT_TRUE(dll.Loaded());
    const std::wstring theirs = L"{11111111-2222-3333-4444-555555555555}";
    ASSERT_EQ(
        ERROR_SUCCESS,
        RegSetKeyValueW(root.Key(), (eventsKey + L"\\ProxyStubClsid32").c_str(), nullptr, REG_SZ,
                        theirs.c_str(), static_cast<DWORD>((theirs.size() + 1) * sizeof(wchar_t))));
    EXPECT_HR(S_OK, dll.Plain("DllRegisterServer")());
    EXPECT_EQ(theirs, Value(eventsKey + L"\\ProxyStubClsid32", nullptr));
    EXPECT_EQ(L"", Value(eventsKey + L"\\TypeLib", nullptr));
    EXPECT_HR(S_OK, dll.Plain("DllUnregisterServer")());
    EXPECT_EQ(theirs, Value(eventsKey + L"\\ProxyStubClsid32", nullptr));
}

}  // namespace
