// TelSim.dll: the simulated telephony service as the in-process server of
// CLSID_TAPI, serving the scenario named by BREVLIN_TELSIM_SCENARIO (or the
// registry, see scenario.h), else the default world.
#include "telephony/tapi.h"
#include "telsim/class_factory.h"
#include "telsim/dll/registration.h"
#include "telsim/modem/modem_call.h"
#include "telsim/scenario.h"
#include "telsim/service_core.h"

#include <atomic>
#include <memory>
#include <mutex>

using Microsoft::WRL::ComPtr;

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

std::atomic<long> g_serverLocks{0};

std::mutex& CoreLock() {
    static std::mutex mu;
    return mu;
}

// Never destroyed: at process exit its thread is gone already, and a
// FreeLibrary comes only after DllCanUnloadNow has stopped that thread.
std::shared_ptr<telsim::ServiceCore>* g_core = nullptr;

void Say(const std::wstring& message) {
    OutputDebugStringW((message + L"\n").c_str());
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err && err != INVALID_HANDLE_VALUE) {
        const std::string text = [&] {
            const int size = WideCharToMultiByte(CP_UTF8, 0, message.c_str(), -1, nullptr, 0, nullptr, nullptr);
            std::string narrow(size > 0 ? size - 1 : 0, '\0');
            if (size > 1) WideCharToMultiByte(CP_UTF8, 0, message.c_str(), -1, narrow.data(), size, nullptr, nullptr);
            return narrow + "\n";
        }();
        DWORD written = 0;
        WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

// Leaves message as the thread's error information, for hosts that show it.
void LeaveErrorInfo(const std::wstring& message) {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create))) return;
    create->SetDescription(const_cast<LPOLESTR>(message.c_str()));
    create->SetSource(const_cast<LPOLESTR>(L"TelSim"));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH * 4] = {};
    GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, static_cast<DWORD>(std::size(path)));
    return path;
}

HRESULT Core(std::shared_ptr<telsim::ServiceCore>& core) {
    std::lock_guard<std::mutex> lock(CoreLock());
    if (!g_core) {
        telsim::Scenario scenario = telsim::DefaultScenario();
        const std::wstring path = telsim::ScenarioPath();
        auto made = std::make_shared<telsim::ServiceCore>();
        if (!path.empty()) {
            std::wstring error;
            const HRESULT hr = telsim::ReadScenario(path, scenario, error);
            if (FAILED(hr)) {
                // A scenario with a mistake serves nothing: a demo must not
                // quietly run on the default world instead.
                Say(L"TelSim: " + error);
                scenario = telsim::Scenario();
                scenario.creationFailure = hr;
            }
        }
        // A demo host may run for long: keep no record and no quarantine.
        made->SetRecording(false, 0);
        made->CountStrings(false);
        telsim::ApplyScenario(scenario, *made);
        g_core = new std::shared_ptr<telsim::ServiceCore>(std::move(made));
    }
    core = *g_core;
    return S_OK;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_TAPI)) return CLASS_E_CLASSNOTAVAILABLE;
    try {
        std::shared_ptr<telsim::ServiceCore> core;
        HRESULT hr = Core(core);
        if (FAILED(hr)) return hr;
        ComPtr<IClassFactory> factory;
        hr = telsim::ClassFactory::Create(
            core, [](bool lock) { lock ? ++g_serverLocks : --g_serverLocks; }, &factory);
        if (FAILED(hr)) return hr;
        return factory->QueryInterface(riid, ppv);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    std::lock_guard<std::mutex> lock(CoreLock());
    if (g_serverLocks.load() != 0) return S_FALSE;
    if (!g_core) return S_OK;
    telsim::ServiceCore& core = **g_core;
    // Class objects hold the core too: while one lives, so must the module.
    if (g_core->use_count() > 1 || core.LiveObjects() != 0 || core.SinkCount() != 0) return S_FALSE;
    // A modem call may still be hanging up after its last release.
    if (telsim::modem::ModemCall::Running() != 0) return S_FALSE;
    return core.StopIfIdle() ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    std::wstring message;
    const HRESULT hr = telsim::dll::Register(ModulePath(), message);
    Say(message);
    if (FAILED(hr)) LeaveErrorInfo(message);
    return hr;
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    std::wstring message;
    const HRESULT hr = telsim::dll::Unregister(ModulePath(), message);
    Say(message);
    if (FAILED(hr)) LeaveErrorInfo(message);
    return hr;
}
