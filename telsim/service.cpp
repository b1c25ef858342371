#include "telsim/telsim.h"

#include "telsim/call.h"
#include "telsim/class_factory.h"
#include "telsim/service_core.h"
#include "telsim/string_tracker.h"

using Microsoft::WRL::ComPtr;

namespace telsim {

Service::Service() : core_(std::make_shared<ServiceCore>()) {}

std::shared_ptr<Service> Service::Create() {
    std::shared_ptr<Service> service(new Service());
    service->SetAddresses({AddressSpec{L"Line 1"}, AddressSpec{L"Line 2"}});
    TrackStringFrees();
    return service;
}

Service::~Service() {
    RevokeClassObject();
    core_->StopNotifier();
}

void Service::SetAddresses(std::vector<AddressSpec> addresses) { core_->SetAddresses(addresses); }
void Service::SetCallScript(CallScript script) { core_->SetCallScript(std::move(script)); }
void Service::SetDelivery(Delivery delivery) { core_->SetDelivery(delivery); }
void Service::SetLocation(std::optional<Location> location) { core_->SetLocation(std::move(location)); }
void Service::SetRecording(bool on, std::size_t cap) { core_->SetRecording(on, cap); }
void Service::CountStrings(bool on) { core_->CountStrings(on); }
void Service::KeepSinksAfterRootRelease(bool keep) { core_->KeepSinks(keep); }

void Service::Inject(std::wstring_view operation, Fault fault) { core_->Inject(operation, fault); }

void Service::FailOperation(std::wstring_view operation, HRESULT hr, int skip, int count) {
    Fault fault;
    fault.hr = hr;
    fault.skip = skip;
    fault.count = count;
    core_->Inject(operation, fault);
}

void Service::NullOut(std::wstring_view operation, int skip, int count) {
    Fault fault;
    fault.nullOut = true;
    fault.skip = skip;
    fault.count = count;
    core_->Inject(operation, fault);
}

void Service::ClearFaults() { core_->ClearFaults(); }

HRESULT Service::CreateRoot(IUnknown* outer, REFIID riid, void** ppv) { return core_->CreateRoot(outer, riid, ppv); }

HRESULT Service::RegisterClassObject() {
    if (core_->classCookie) return S_FALSE;
    ComPtr<IClassFactory> factory;
    HRESULT hr = ClassFactory::Create(core_, nullptr, &factory);
    if (FAILED(hr)) return hr;
    DWORD cookie = 0;
    hr = CoRegisterClassObject(CLSID_TAPI, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (FAILED(hr)) return hr;
    core_->classCookie = cookie;
    return S_OK;
}

void Service::RevokeClassObject() {
    if (const DWORD cookie = core_->classCookie) {
        core_->classCookie = 0;
        CoRevokeClassObject(cookie);
    }
}

void Service::FailCreation(HRESULT hr) { core_->FailCreation(hr); }

HRESULT Service::RaiseEvent(const EventSpec& event) { return core_->Raise(event); }
void Service::WaitIdle() { core_->WaitIdle(); }
void Service::ReleaseSinks() { core_->ReleaseSinks(); }
std::size_t Service::AdvisedSinks() const { return core_->SinkCount(); }
std::vector<ComPtr<ITTAPIEventNotification>> Service::Sinks() const { return core_->AllSinks(); }

std::vector<ComPtr<ITBasicCallControl>> Service::Calls() const {
    std::vector<ComPtr<ITBasicCallControl>> result;
    for (const Held<Call>& call : core_->CallList()) result.emplace_back(call.Get());
    return result;
}

std::size_t Service::CallsCreated() const { return core_->CallsCreated(); }

CALL_STATE Service::CallStateOf(IUnknown* call) const {
    const Call* found = core_->FindAs<Call>(call);
    return found ? found->State() : CS_IDLE;
}

std::vector<Operation> Service::Operations(bool includeQueries) const { return core_->Operations(includeQueries); }
std::vector<std::wstring> Service::OperationNames() const { return core_->OperationNames(); }
std::size_t Service::CountOf(std::wstring_view operation) const { return core_->CountOf(operation); }
void Service::ClearOperations() { core_->ClearOperations(); }
bool Service::Initialized() const { return core_->AnyInitialized(); }
long Service::EventFilter() const { return core_->LatestFilter(); }
long Service::RegistrationsHeld() const { return core_->Registrations(); }

std::string Service::Leaks() const { return core_->Leaks(); }
std::size_t Service::LiveObjects() const { return core_->LiveObjects(); }
std::size_t Service::LiveStrings() const { return core_->LiveStrings(); }
std::vector<std::wstring> Service::OverReleases() const { return core_->OverReleases(); }
long Service::RefCount(IUnknown* object) const { return core_->RefCount(object); }

int Service::TrackStringFrees() { return strings::HookLoadedModules(); }

}  // namespace telsim
