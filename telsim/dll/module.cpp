// TelSim.dll: the simulated telephony service as the in-process server of
// CLSID_TAPI, serving the scenario named by BREVLIN_TELSIM_SCENARIO (or the
// registry, see scenario.h), else the default world. Its class object is
// comkit's, from a class table of one entry.
#include "comkit/class_table.h"
#include "comkit/module.h"
#include "telephony/tapi.h"
#include "telsim/dll/registration.h"
#include "telsim/line_kinds.h"
#include "telsim/scenario.h"
#include "telsim/telsim.h"
#include "telsim/utf8.h"

#include <memory>
#include <mutex>

using Microsoft::WRL::ComPtr;

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

std::mutex& ServiceLock() {
    static std::mutex mu;
    return mu;
}

// Never destroyed: at process exit its thread is gone already, and a
// FreeLibrary comes only after DllCanUnloadNow has stopped that thread.
std::shared_ptr<telsim::Service>* g_service = nullptr;

void Say(const std::wstring& message) {
    OutputDebugStringW((message + L"\n").c_str());
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err && err != INVALID_HANDLE_VALUE) {
        const std::string text = telsim::Utf8(message) + "\n";
        DWORD written = 0;
        WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

// Leaves message as the thread's error information, for hosts that show it.
void LeaveErrorInfo(const std::wstring& message) {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create))) {
        return;
    }
    create->SetDescription(const_cast<LPOLESTR>(message.c_str()));
    create->SetSource(const_cast<LPOLESTR>(L"TelSim"));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) {
        SetErrorInfo(0, info.Get());
    }
}

// The module's service, made from the scenario on first use.
std::shared_ptr<telsim::Service> ModuleService() {
    std::lock_guard<std::mutex> lock(ServiceLock());
    if (!g_service) {
        telsim::Scenario scenario = telsim::DefaultScenario();
        const std::wstring path = telsim::ScenarioPath();
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
        // A demo host may run for long: the service keeps no record and no
        // quarantine.
        auto made = telsim::Service::CreateQuiet();
        telsim::ApplyScenario(scenario, *made);
        g_service = new std::shared_ptr<telsim::Service>(std::move(made));
    }
    return *g_service;
}

HRESULT CreateRoot(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    return comkit::GuardCall([&] { return ModuleService()->CreateRoot(outer, riid, ppv); });
}

// TelSim registers itself (registration.h), so the entry names no script.
comkit::ClassEntry g_classes[] = {
    {&CLSID_TAPI, &CreateRoot, 0},
};
comkit::ClassTable g_classTable(g_classes);

// Its own, not comkit::GetModulePath: a path longer than MAX_PATH works here.
std::wstring ModulePath() {
    wchar_t path[MAX_PATH * 4] = {};
    GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path,
                       static_cast<DWORD>(std::size(path)));
    return path;
}

HRESULT Registered(HRESULT hr, const std::wstring& message) {
    Say(message);
    if (FAILED(hr)) {
        LeaveErrorInfo(message);
    }
    return hr;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        g_classTable.ReleaseClassObjects();
        comkit::GetModule().Term();
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (IsEqualCLSID(clsid, CLSID_TAPI)) {
        // The scenario is read when the class object is first asked for.
        RETURN_IF_FAILED(comkit::GuardCall([] {
            ModuleService();
            return S_OK;
        }));
    }
    return g_classTable.GetClassObject(clsid, riid, ppv);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    // Class objects held by a client and LockServer count here.
    if (comkit::GetModule().GetLockCount() != 0) {
        return S_FALSE;
    }
    std::lock_guard<std::mutex> lock(ServiceLock());
    if (!g_service) {
        return S_OK;
    }
    telsim::Service& service = **g_service;
    if (service.Ledger().LiveObjects() != 0 || service.Notifications().AdvisedSinks() != 0) {
        return S_FALSE;
    }
    // A modem call may still be hanging up after its last release.
    if (telsim::LineThreadsRunning() != 0) {
        return S_FALSE;
    }
    return service.Notifications().StopIfIdle() ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    std::wstring message;
    const HRESULT hr = telsim::dll::Register(ModulePath(), message);
    return Registered(hr, message);
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    std::wstring message;
    const HRESULT hr = telsim::dll::Unregister(ModulePath(), message);
    return Registered(hr, message);
}
