#include "telsim/telsim.h"

#include "comkit/class_factory.h"
#include "telsim/marshal/event_marshalling.h"
#include "telsim/root.h"
#include "telsim/string_tracker.h"

#include <mutex>

using Microsoft::WRL::ComPtr;

namespace telsim {
namespace {

// The service whose class object is registered: one per process, as COM
// serves one class object for CLSID_TAPI. Weak, so that a registration never
// keeps a service alive (its destructor revokes it).
std::mutex g_registeredMu;
std::weak_ptr<Service> g_registered;

HRESULT CreateRegisteredRoot(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    std::shared_ptr<Service> service;
    {
        std::lock_guard<std::mutex> lock(g_registeredMu);
        service = g_registered.lock();
    }
    return service ? service->CreateRoot(outer, riid, ppv) : CO_E_SERVER_STOPPING;
}

}  // namespace

Service::Service() = default;

std::shared_ptr<Service> Service::Create() {
    std::shared_ptr<Service> service(new Service());
    service->World().SetAddresses({AddressSpec{L"Line 1"}, AddressSpec{L"Line 2"}});
    TrackStringFrees();
    // A test program serves the library in-process, without TelSim.dll's
    // registration: apartment delivery needs the sink's marshalling all the
    // same.
    EnsureEventMarshalling();
    return service;
}

std::shared_ptr<Service> Service::CreateQuiet() {
    std::shared_ptr<Service> service(new Service());
    service->Recorder().SetRecording(false, 0);
    service->Ledger().CountStrings(false);
    return service;
}

Service::~Service() {
    RevokeClassObject();
    // The links between objects go while every part is still there.
    notifications_.Stop();
    notifications_.ReleaseSinks();
    world_.Clear();
    ledger_.TeardownAll();
}

HRESULT Service::CreateRoot(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer) {
        return CLASS_E_NOAGGREGATION;
    }
    RETURN_IF_FAILED(world_.CreationFailure());
    // A module loaded since the last scan (the dialer's DLL, which COM loads
    // just before it asks for this object) gets the string hook too.
    if (strings::Hooked()) {
        strings::HookLoadedModules();
    }
    return comkit::GuardCall([&] {
        Root* root = ledger_.Make<Root>(*this);
        notifications_.RootCreated(root);
        root->AddRef();
        const HRESULT hr = root->QueryInterface(riid, ppv);
        root->Release();
        return hr;
    });
}

HRESULT Service::RegisterClassObject() {
    if (classCookie_) {
        return S_FALSE;
    }
    ComPtr<IClassFactory> factory;
    RETURN_IF_FAILED(comkit::CClassFactory::Create(&CreateRegisteredRoot, &factory));
    {
        std::lock_guard<std::mutex> lock(g_registeredMu);
        g_registered = weak_from_this();
    }
    DWORD cookie = 0;
    RETURN_IF_FAILED(CoRegisterClassObject(CLSID_TAPI, factory.Get(), CLSCTX_INPROC_SERVER,
                                           REGCLS_MULTIPLEUSE, &cookie));
    classCookie_ = cookie;
    return S_OK;
}

void Service::RevokeClassObject() {
    if (const DWORD cookie = std::exchange(classCookie_, 0)) {
        CoRevokeClassObject(cookie);
    }
}

int Service::TrackStringFrees() {
    return strings::HookLoadedModules();
}

}  // namespace telsim
