#include "telsim/service_core.h"

#include "comkit/result.h"
#include "telsim/address.h"
#include "telsim/call.h"
#include "telsim/events.h"
#include "telsim/root.h"
#include "telsim/string_tracker.h"

#include <algorithm>

using Microsoft::WRL::ComPtr;

namespace telsim {
namespace {

constexpr std::size_t kMaxReported = 1000;

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                        nullptr);
    return result;
}

}  // namespace

std::wstring Quote(const wchar_t* text) {
    return text ? L"\"" + std::wstring(text) + L"\"" : std::wstring(L"null");
}

std::wstring Describe(IUnknown* object, const ServiceCore& core) {
    if (!object) return L"null";
    const SimObject* found = core.Find(object);
    return found ? found->Describe() : std::wstring(L"foreign");
}

std::wstring Operation::ToString() const {
    return name + L"(" + args + L")";
}

ServiceCore::ServiceCore() = default;

ServiceCore::~ServiceCore() {
    notifier_.Stop();
    ReleaseSinks();
    {
        std::lock_guard<std::mutex> lock(worldMu_);
        addresses_.clear();
        calls_.clear();
    }
    // Objects a client still holds are torn down too: their links must be
    // gone before any object is freed.
    std::vector<std::unique_ptr<SimObject>> objects;
    {
        std::lock_guard<std::mutex> lock(objectsMu_);
        objects.swap(objects_);
        ranges_.clear();
    }
    for (const auto& object : objects) object->Teardown();
    objects.clear();
    strings::Forget(this);
}

// ---- objects

void ServiceCore::Register(std::unique_ptr<SimObject> object, void* start, std::size_t size) {
    std::lock_guard<std::mutex> lock(objectsMu_);
    object->SetId(nextId_++);
    ranges_[reinterpret_cast<std::uintptr_t>(start)] = Range{size, object.get()};
    objects_.push_back(std::move(object));
}

SimObject* ServiceCore::Find(const void* p) const {
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    std::lock_guard<std::mutex> lock(objectsMu_);
    auto it = ranges_.upper_bound(address);
    if (it == ranges_.begin()) return nullptr;
    --it;
    return address < it->first + it->second.size ? it->second.object : nullptr;
}

// ---- recording and faults

Gate ServiceCore::BeginWith(const wchar_t* name, bool query, std::wstring args) noexcept {
    Gate gate;
    std::lock_guard<std::mutex> lock(recordMu_);
    if (recording_.load()) {
        try {
            auto counted = counts_.find(std::wstring_view(name));
            if (counted == counts_.end()) {
                counted = counts_.emplace(name, 0).first;
                names_.emplace_back(name);
            }
            ++counted->second;
            if (ops_.size() < cap_) {
                ops_.push_back(Operation{name, std::move(args), S_OK, query});
                gate.index = ops_.size() - 1;
            }
        } catch (...) {
            // Not recorded; the operation itself goes on.
        }
    }
    auto fault = faults_.find(std::wstring_view(name));
    if (fault != faults_.end()) {
        FaultState& state = fault->second;
        ++state.seen;
        const int beyond = state.seen - state.fault.skip;
        if (beyond > 0 && (state.fault.count < 0 || beyond <= state.fault.count)) {
            gate.nullOut = state.fault.nullOut;
            gate.fault = state.fault.nullOut ? S_OK : state.fault.hr;
        }
    }
    return gate;
}

HRESULT ServiceCore::Finish(const Gate& gate, HRESULT hr) {
    if (gate.index != static_cast<std::size_t>(-1)) {
        std::lock_guard<std::mutex> lock(recordMu_);
        if (gate.index < ops_.size()) ops_[gate.index].result = hr;
    }
    return hr;
}

void ServiceCore::ReportFault(std::wstring text) noexcept {
    try {
        std::lock_guard<std::mutex> lock(recordMu_);
        if (reported_.size() < kMaxReported) reported_.push_back(std::move(text));
    } catch (...) {
        // A report that cannot be stored is lost; the caller must not fail.
    }
}

void ServiceCore::SetRecording(bool on, std::size_t cap) {
    std::lock_guard<std::mutex> lock(recordMu_);
    recording_ = on;
    cap_ = cap;
}

void ServiceCore::Inject(std::wstring_view name, Fault fault) {
    std::lock_guard<std::mutex> lock(recordMu_);
    faults_[std::wstring(name)] = FaultState{fault, 0};
}

void ServiceCore::ClearFaults() {
    std::lock_guard<std::mutex> lock(recordMu_);
    faults_.clear();
}

std::vector<Operation> ServiceCore::Operations(bool includeQueries) const {
    std::lock_guard<std::mutex> lock(recordMu_);
    std::vector<Operation> result;
    result.reserve(ops_.size());
    for (const Operation& op : ops_) {
        if (includeQueries || !op.query) result.push_back(op);
    }
    return result;
}

std::vector<std::wstring> ServiceCore::OperationNames() const {
    std::lock_guard<std::mutex> lock(recordMu_);
    return names_;
}

std::size_t ServiceCore::CountOf(std::wstring_view name) const {
    std::lock_guard<std::mutex> lock(recordMu_);
    auto it = counts_.find(name);
    return it == counts_.end() ? 0 : it->second;
}

void ServiceCore::ClearOperations() {
    std::lock_guard<std::mutex> lock(recordMu_);
    ops_.clear();
    counts_.clear();
    names_.clear();
}

std::vector<std::wstring> ServiceCore::Faults() const {
    std::lock_guard<std::mutex> lock(recordMu_);
    return reported_;
}

// ---- strings

BSTR ServiceCore::AllocString(const wchar_t* text, std::size_t length) {
    bool counted = false;
    {
        std::lock_guard<std::mutex> lock(recordMu_);
        counted = countStrings_;
    }
    return strings::Allocate(this, text, length, counted);
}

// ---- configuration

void ServiceCore::SetAddresses(const std::vector<AddressSpec>& lines) {
    std::vector<Held<Address>> made;
    made.reserve(lines.size());
    for (const AddressSpec& line : lines) made.emplace_back(Make<Address>(line));
    std::lock_guard<std::mutex> lock(worldMu_);
    addresses_.swap(made);
    // The former addresses are let go when `made` goes, after the lock.
}

std::vector<Held<Address>> ServiceCore::Addresses() const {
    std::lock_guard<std::mutex> lock(worldMu_);
    return addresses_;
}

void ServiceCore::SetCallScript(CallScript script) {
    std::lock_guard<std::mutex> lock(worldMu_);
    script_ = std::move(script);
}

CallScript ServiceCore::Script() const {
    std::lock_guard<std::mutex> lock(worldMu_);
    return script_;
}

void ServiceCore::SetDelivery(Delivery delivery) {
    std::lock_guard<std::mutex> lock(worldMu_);
    delivery_ = delivery;
}

Delivery ServiceCore::CurrentDelivery() const {
    std::lock_guard<std::mutex> lock(worldMu_);
    return delivery_;
}

void ServiceCore::SetLocation(std::optional<Location> location) {
    std::lock_guard<std::mutex> lock(worldMu_);
    location_ = std::move(location);
}

std::optional<Location> ServiceCore::CurrentLocation() const {
    std::lock_guard<std::mutex> lock(worldMu_);
    return location_;
}

void ServiceCore::KeepSinks(bool keep) {
    std::lock_guard<std::mutex> lock(worldMu_);
    keepSinks_ = keep;
}

void ServiceCore::FailCreation(HRESULT hr) {
    std::lock_guard<std::mutex> lock(worldMu_);
    creationFailure_ = hr;
}

HRESULT ServiceCore::CreationFailure() const {
    std::lock_guard<std::mutex> lock(worldMu_);
    return creationFailure_;
}

bool ServiceCore::HasDefaultTerminal(long mediaType, TERMINAL_DIRECTION direction) const {
    std::lock_guard<std::mutex> lock(worldMu_);
    return std::none_of(script_.streams.begin(), script_.streams.end(), [&](const StreamSpec& wanted) {
        return wanted.mediaType == mediaType && wanted.direction == direction && !wanted.hasDefaultTerminal;
    });
}

// ---- roots, sinks, registrations

HRESULT ServiceCore::CreateRoot(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    RETURN_IF_FAILED(CreationFailure());
    // A module loaded since the last scan (the dialer's DLL, which COM loads
    // just before it asks for this object) gets the string hook too.
    if (strings::Hooked()) strings::HookLoadedModules();
    return comkit::GuardCall([&] {
        Root* root = Make<Root>();
        RootCreated(root);
        root->AddRef();
        const HRESULT hr = root->QueryInterface(riid, ppv);
        root->Release();
        return hr;
    });
}

ServiceCore::RootState* ServiceCore::StateOf(const Root* root) {
    auto it = std::find_if(roots_.begin(), roots_.end(), [&](const RootState& s) { return s.root == root; });
    return it == roots_.end() ? nullptr : &*it;
}

const ServiceCore::RootState* ServiceCore::StateOf(const Root* root) const {
    auto it = std::find_if(roots_.begin(), roots_.end(), [&](const RootState& s) { return s.root == root; });
    return it == roots_.end() ? nullptr : &*it;
}

void ServiceCore::RootCreated(Root* root) {
    std::lock_guard<std::mutex> lock(worldMu_);
    roots_.push_back(RootState{root});
}

void ServiceCore::RootGone(Root* root) {
    std::vector<ComPtr<ITTAPIEventNotification>> released;
    {
        std::lock_guard<std::mutex> lock(worldMu_);
        long orphanFilter = 0;
        if (const RootState* state = StateOf(root)) orphanFilter = state->initialized ? state->filter : 0;
        for (auto it = sinks_.begin(); it != sinks_.end();) {
            if (it->root != root) {
                ++it;
            } else if (keepSinks_) {
                it->root = nullptr;
                it->orphanFilter = orphanFilter;
                ++it;
            } else {
                released.push_back(std::move(it->sink));
                it = sinks_.erase(it);
            }
        }
        registrations_.erase(std::remove_if(registrations_.begin(), registrations_.end(),
                                            [&](const Registration& r) { return r.root == root; }),
                             registrations_.end());
        roots_.erase(std::remove_if(roots_.begin(), roots_.end(), [&](const RootState& s) { return s.root == root; }),
                     roots_.end());
    }
    // The sinks are the client's objects: released with no lock held.
}

void ServiceCore::SetInitialized(Root* root, bool initialized) {
    std::lock_guard<std::mutex> lock(worldMu_);
    if (RootState* state = StateOf(root)) state->initialized = initialized;
}

bool ServiceCore::IsInitialized(const Root* root) const {
    std::lock_guard<std::mutex> lock(worldMu_);
    const RootState* state = StateOf(root);
    return state && state->initialized;
}

void ServiceCore::SetFilter(Root* root, long filter) {
    std::lock_guard<std::mutex> lock(worldMu_);
    if (RootState* state = StateOf(root)) state->filter = filter;
    latestFilter_ = filter;
}

long ServiceCore::Filter(const Root* root) const {
    std::lock_guard<std::mutex> lock(worldMu_);
    const RootState* state = StateOf(root);
    return state ? state->filter : 0;
}

bool ServiceCore::AnyInitialized() const {
    std::lock_guard<std::mutex> lock(worldMu_);
    return std::any_of(roots_.begin(), roots_.end(), [](const RootState& s) { return s.initialized; });
}

long ServiceCore::LatestFilter() const {
    std::lock_guard<std::mutex> lock(worldMu_);
    return latestFilter_;
}

DWORD ServiceCore::AddSink(Root* root, ComPtr<ITTAPIEventNotification> sink) {
    std::lock_guard<std::mutex> lock(worldMu_);
    const DWORD cookie = nextCookie_++;
    sinks_.push_back(SinkEntry{root, 0, cookie, std::move(sink)});
    return cookie;
}

bool ServiceCore::RemoveSink(Root* root, DWORD cookie) {
    ComPtr<ITTAPIEventNotification> released;
    std::lock_guard<std::mutex> lock(worldMu_);
    auto it = std::find_if(sinks_.begin(), sinks_.end(),
                           [&](const SinkEntry& e) { return e.root == root && e.cookie == cookie; });
    if (it == sinks_.end()) return false;
    released = std::move(it->sink);
    sinks_.erase(it);
    return true;
    // `released` goes after the lock (declared first, destroyed last).
}

void ServiceCore::ReleaseSinks() {
    std::vector<SinkEntry> released;
    {
        std::lock_guard<std::mutex> lock(worldMu_);
        released.swap(sinks_);
    }
}

std::size_t ServiceCore::SinkCount() const {
    std::lock_guard<std::mutex> lock(worldMu_);
    return sinks_.size();
}

std::vector<ComPtr<ITTAPIEventNotification>> ServiceCore::AllSinks() const {
    std::lock_guard<std::mutex> lock(worldMu_);
    std::vector<ComPtr<ITTAPIEventNotification>> result;
    for (const SinkEntry& entry : sinks_) result.push_back(entry.sink);
    return result;
}

long ServiceCore::AddRegistration(Root* root, long callbackInstance) {
    std::lock_guard<std::mutex> lock(worldMu_);
    const long handle = nextRegistration_++;
    registrations_.push_back(Registration{root, handle, callbackInstance});
    latestCallbackInstance_ = callbackInstance;
    return handle;
}

bool ServiceCore::RemoveRegistration(Root* root, long handle) {
    std::lock_guard<std::mutex> lock(worldMu_);
    auto it = std::find_if(registrations_.begin(), registrations_.end(),
                           [&](const Registration& r) { return r.root == root && r.handle == handle; });
    if (it == registrations_.end()) return false;
    registrations_.erase(it);
    return true;
}

long ServiceCore::Registrations() const {
    std::lock_guard<std::mutex> lock(worldMu_);
    return static_cast<long>(registrations_.size());
}

long ServiceCore::LatestCallbackInstance() const {
    std::lock_guard<std::mutex> lock(worldMu_);
    return latestCallbackInstance_;
}

// ---- calls and events

void ServiceCore::CallCreated(Call* call) {
    std::lock_guard<std::mutex> lock(worldMu_);
    calls_.emplace_back(call);
}

std::vector<Held<Call>> ServiceCore::CallList() const {
    std::lock_guard<std::mutex> lock(worldMu_);
    return calls_;
}

std::size_t ServiceCore::CallsCreated() const {
    std::lock_guard<std::mutex> lock(worldMu_);
    return calls_.size();
}

void ServiceCore::RunSteps(Call* call, const std::vector<CallStep>& steps, unsigned generation,
                           bool synchronous) noexcept try {
    auto specFor = [](const CallStep& step) {
        EventSpec wanted;
        wanted.kind = TE_CALLSTATE;
        wanted.callState = step.state;
        wanted.cause = step.cause;
        return wanted;
    };
    if (synchronous) {
        for (const CallStep& step : steps) {
            if (call->Generation() != generation) break;
            Deliver(specFor(step), call);
        }
        return;
    }
    auto due = Notifier::Clock::now();
    for (const CallStep& step : steps) {
        due += std::chrono::milliseconds(step.delayMs);
        notifier_.Post(
            due,
            [this, held = Held<Call>(call), wanted = specFor(step), generation] {
                if (held->Generation() == generation) Deliver(wanted, held.Get());
            },
            [call, generation] { return call->Generation() != generation; });
    }
} catch (...) {
    ReportFault(L"call states lost for lack of memory");
}

HRESULT ServiceCore::Deliver(const EventSpec& wanted, Call* call) {
    if (call) {
        call->SetState(wanted.callState);
        call->SetStateReadResult(wanted.callStateResult);
    }
    const long instance = LatestCallbackInstance();
    const EventCall about{call, wanted.getCallResult, wanted.nullCall};
    Held<SimObject> event;
    IDispatch* dispatch = nullptr;
    if (wanted.kind == TE_CALLNOTIFICATION) {
        auto* made = Make<CallNotificationEvent>(about, instance, !wanted.withoutEventInterface);
        event = Held<SimObject>(made);
        dispatch = made;
    } else {
        auto* made = Make<CallStateEvent>(about, wanted.eventState.value_or(wanted.callState), wanted.cause, instance,
                                          !wanted.withoutEventInterface);
        event = Held<SimObject>(made);
        dispatch = made;
    }

    std::vector<ComPtr<ITTAPIEventNotification>> targets;
    {
        std::lock_guard<std::mutex> lock(worldMu_);
        for (const SinkEntry& entry : sinks_) {
            bool takes = wanted.ignoreFilter;
            if (!takes && entry.root) {
                const RootState* state = StateOf(entry.root);
                takes = state && state->initialized && (state->filter & wanted.kind);
            } else if (!takes) {
                takes = (entry.orphanFilter & wanted.kind) != 0;
            }
            if (takes) targets.push_back(entry.sink);
        }
    }

    HRESULT result = S_OK;
    for (const auto& sink : targets) {
        const Gate gate = Begin(op::SinkEvent, [&] {
            return ArgList(static_cast<long>(wanted.kind), static_cast<long>(wanted.callState));
        });
        const HRESULT hr = sink->Event(wanted.kind, dispatch);
        Finish(gate, hr);
        if (FAILED(hr)) result = hr;
    }
    if (call) call->SetStateReadResult(S_OK);
    return result;
}

HRESULT ServiceCore::Raise(const EventSpec& wanted) {
    return comkit::GuardCall([&] {
        Call* call = nullptr;
        if (wanted.call) {
            call = FindAs<Call>(wanted.call);
            if (!call) return E_INVALIDARG;
        } else {
            call = Make<Call>(nullptr, std::wstring(), LINEADDRESSTYPE_PHONENUMBER, telephony::DIALER_MEDIA_TYPES,
                              Script());
        }
        Held<Call> held(call);
        if (wanted.delivery.value_or(CurrentDelivery()) == Delivery::Synchronous) return Deliver(wanted, call);
        EventSpec queued = wanted;
        queued.call = nullptr;
        notifier_.Post(Notifier::Clock::now() + std::chrono::milliseconds(wanted.delayMs),
                       [this, held, queued] { Deliver(queued, held.Get()); });
        return S_OK;
    });
}

void ServiceCore::WaitIdle() {
    notifier_.WaitIdle();
}

bool ServiceCore::StopIfIdle() {
    if (!notifier_.Idle()) return false;
    notifier_.Stop();
    return true;
}

// ---- inspection

std::size_t ServiceCore::LiveObjects() const {
    std::lock_guard<std::mutex> lock(objectsMu_);
    return static_cast<std::size_t>(std::count_if(objects_.begin(), objects_.end(), [](const auto& object) {
        return !object->Destroyed() && object->ClientRefs() > 0;
    }));
}

std::size_t ServiceCore::LiveStrings() const {
    return strings::Live(this);
}

std::vector<std::wstring> ServiceCore::OverReleases() const {
    return Faults();
}

long ServiceCore::RefCount(const void* p) const {
    const SimObject* object = Find(p);
    return object ? object->ClientRefs() : -1;
}

std::string ServiceCore::Leaks() const {
    std::wstring text;
    {
        std::lock_guard<std::mutex> lock(objectsMu_);
        for (const auto& object : objects_) {
            const long refs = object->ClientRefs();
            if (object->Destroyed() || refs <= 0) continue;
            text += object->Describe() + L" still held " + std::to_wstring(refs) + L" time(s)\n";
        }
    }
    if (const std::size_t strings = LiveStrings()) {
        text += std::to_wstring(strings) + L" string(s) handed out and never freed\n";
    }
    for (const std::wstring& fault : Faults()) text += fault + L"\n";
    return Narrow(text);
}

}  // namespace telsim
