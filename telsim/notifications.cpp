#include "telsim/notifications.h"

#include "telsim/address.h"
#include "telsim/apartment.h"
#include "telsim/call.h"
#include "telsim/events.h"
#include "telsim/root.h"
#include "telsim/telsim.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace telsim {
namespace {

// {94EA2B94-E9CC-49E0-C0FF-EE64CA8F5B90}: the agile marker interface
// (objidl.h of newer platforms).
constexpr IID kIID_IAgileObject = {
    0x94ea2b94, 0xe9cc, 0x49e0, {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}};
// {0000033A-0000-0000-C000-000000000046}: the unmarshal class of the
// free-threaded marshaler.
constexpr CLSID kCLSID_InProcFreeMarshaler = {
    0x0000033a, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// An agile sink may be called from any apartment, as COM would itself.
bool Agile(ITTAPIEventNotification* sink) noexcept {
    ComPtr<IUnknown> agile;
    if (SUCCEEDED(sink->QueryInterface(kIID_IAgileObject, &agile)) && agile) {
        return true;
    }
    ComPtr<IMarshal> marshal;
    if (FAILED(sink->QueryInterface(IID_IMarshal, &marshal)) || !marshal) {
        return false;
    }
    CLSID unmarshaler{};
    return SUCCEEDED(marshal->GetUnmarshalClass(IID_ITTAPIEventNotification, sink, MSHCTX_INPROC,
                                                nullptr, MSHLFLAGS_NORMAL, &unmarshaler)) &&
           IsEqualCLSID(unmarshaler, kCLSID_InProcFreeMarshaler);
}

ComPtr<IGlobalInterfaceTable> Table() noexcept {
    ComPtr<IGlobalInterfaceTable> table;
    CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                     IID_PPV_ARGS(&table));
    return table;
}

}  // namespace

Notifications::~Notifications() {
    // The notification thread may be calling into a sink: it ends first.
    notifier_.Stop();
    Release(sinks_);
}

void Notifications::Release(std::vector<SinkEntry>& entries) noexcept {
    ComPtr<IGlobalInterfaceTable> table;
    for (SinkEntry& entry : entries) {
        if (!entry.tableCookie) {
            continue;
        }
        if (!table) {
            table = Table();
        }
        if (table) {
            table->RevokeInterfaceFromGlobal(entry.tableCookie);
        }
    }
    entries.clear();
}

void Notifications::RootCreated(Root* root) {
    std::lock_guard<std::mutex> lock(mu_);
    roots_.push_back(root);
}

void Notifications::RootGone(Root* root) {
    std::vector<SinkEntry> released;
    {
        std::lock_guard<std::mutex> lock(mu_);
        const long orphanFilter = root->IsInitialized() ? root->Filter() : 0;
        for (auto it = sinks_.begin(); it != sinks_.end();) {
            if (it->root != root) {
                ++it;
            } else if (keepSinks_) {
                it->root = nullptr;
                it->orphanFilter = orphanFilter;
                ++it;
            } else {
                released.push_back(std::move(*it));
                it = sinks_.erase(it);
            }
        }
        registrations_.erase(std::remove_if(registrations_.begin(), registrations_.end(),
                                            [&](const Registration& r) { return r.root == root; }),
                             registrations_.end());
        roots_.erase(std::remove(roots_.begin(), roots_.end(), root), roots_.end());
    }
    // The sinks are the client's objects: released with no lock held.
    Release(released);
}

void Notifications::FilterSet(long filter) {
    std::lock_guard<std::mutex> lock(mu_);
    latestFilter_ = filter;
}

bool Notifications::Initialized() const {
    std::lock_guard<std::mutex> lock(mu_);
    return std::any_of(roots_.begin(), roots_.end(),
                       [](const Root* root) { return root->IsInitialized(); });
}

long Notifications::EventFilter() const {
    std::lock_guard<std::mutex> lock(mu_);
    return latestFilter_;
}

DWORD Notifications::AddSink(Root* root, ComPtr<ITTAPIEventNotification> sink) {
    DWORD tableCookie = 0;
    if (InSingleThreadedApartment() && !Agile(sink.Get())) {
        // Without marshalling for the sink's interface the sink stays
        // unreachable from other apartments, as it would on Windows.
        if (ComPtr<IGlobalInterfaceTable> table = Table()) {
            if (FAILED(table->RegisterInterfaceInGlobal(sink.Get(), IID_ITTAPIEventNotification,
                                                        &tableCookie))) {
                tableCookie = 0;
                service_.Ledger().ReportMisuse(
                    L"a sink of a single-threaded apartment could not be put in the global "
                    L"interface table (is ITTAPIEventNotification's marshalling registered?)");
            }
        }
    }
    std::lock_guard<std::mutex> lock(mu_);
    const DWORD cookie = nextCookie_++;
    sinks_.push_back(SinkEntry{root, 0, cookie, std::move(sink), tableCookie});
    return cookie;
}

std::size_t Notifications::SinksInApartments() const {
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<std::size_t>(std::count_if(
        sinks_.begin(), sinks_.end(), [](const SinkEntry& e) { return e.tableCookie != 0; }));
}

bool Notifications::RemoveSink(Root* root, DWORD cookie) {
    std::vector<SinkEntry> released;
    {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const SinkEntry& e) {
            return e.root == root && e.cookie == cookie;
        });
        if (it == sinks_.end()) {
            return false;
        }
        released.push_back(std::move(*it));
        sinks_.erase(it);
    }
    Release(released);
    return true;
}

void Notifications::KeepSinksAfterRootRelease(bool keep) {
    std::lock_guard<std::mutex> lock(mu_);
    keepSinks_ = keep;
}

void Notifications::ReleaseSinks() {
    std::vector<SinkEntry> released;
    {
        std::lock_guard<std::mutex> lock(mu_);
        released.swap(sinks_);
    }
    Release(released);
}

std::size_t Notifications::AdvisedSinks() const {
    std::lock_guard<std::mutex> lock(mu_);
    return sinks_.size();
}

std::vector<ComPtr<ITTAPIEventNotification>> Notifications::Sinks() const {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<ComPtr<ITTAPIEventNotification>> result;
    for (const SinkEntry& entry : sinks_) {
        result.push_back(entry.sink);
    }
    return result;
}

long Notifications::AddRegistration(Root* root, long callbackInstance) {
    std::lock_guard<std::mutex> lock(mu_);
    const long handle = nextRegistration_++;
    registrations_.push_back(Registration{root, handle, callbackInstance});
    latestCallbackInstance_ = callbackInstance;
    return handle;
}

bool Notifications::RemoveRegistration(Root* root, long handle) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it =
        std::find_if(registrations_.begin(), registrations_.end(),
                     [&](const Registration& r) { return r.root == root && r.handle == handle; });
    if (it == registrations_.end()) {
        return false;
    }
    registrations_.erase(it);
    return true;
}

long Notifications::RegistrationsHeld() const {
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<long>(registrations_.size());
}

void Notifications::RunSteps(Call* call, const std::vector<CallStep>& steps, unsigned generation,
                             bool synchronous) noexcept try {
    auto specFor = [](const CallStep& step) {
        EventSpec wanted;
        wanted.kind = TE_CALLSTATE;
        wanted.callState = step.state;
        wanted.cause = step.cause;
        return wanted;
    };
    const Delivery mode = service_.World().CurrentDelivery();
    if (synchronous) {
        for (const CallStep& step : steps) {
            if (call->Generation() != generation) {
                break;
            }
            Deliver(specFor(step), call, mode);
        }
        return;
    }
    auto due = Notifier::Clock::now();
    call->SetLastDue(due);
    for (const CallStep& step : steps) {
        due += std::chrono::milliseconds(step.delayMs);
        notifier_.Post(
            due,
            [this, held = Held<Call>(call), wanted = specFor(step), generation, mode] {
                if (held->Generation() == generation) {
                    Deliver(wanted, held.Get(), mode);
                }
            },
            [call, generation] { return call->Generation() != generation; });
        call->SetLastDue(due);
    }
} catch (...) {
    service_.Ledger().ReportMisuse(L"call states lost for lack of memory");
}

std::vector<Notifications::Target> Notifications::TargetsOf(const EventSpec& wanted) const {
    std::vector<Target> targets;
    std::lock_guard<std::mutex> lock(mu_);
    for (const SinkEntry& entry : sinks_) {
        bool takes = wanted.ignoreFilter;
        if (!takes && entry.root) {
            takes = entry.root->IsInitialized() && (entry.root->Filter() & wanted.kind);
        } else if (!takes) {
            takes = (entry.orphanFilter & wanted.kind) != 0;
        }
        if (takes) {
            targets.push_back(Target{entry.sink, entry.tableCookie});
        }
    }
    return targets;
}

HRESULT Notifications::Deliver(const EventSpec& wanted, Call* call, Delivery mode) {
    if (call) {
        call->SetState(wanted.callState);
        call->SetStateReadResult(wanted.callStateResult);
    }
    long instance = 0;
    {
        std::lock_guard<std::mutex> lock(mu_);
        instance = latestCallbackInstance_;
    }
    const EventCall about{call, wanted.getCallResult, wanted.nullCall};
    Ledger& ledger = service_.Ledger();
    Held<SimObject> event;
    IDispatch* dispatch = nullptr;
    if (wanted.kind == TE_CALLNOTIFICATION) {
        auto* made = ledger.Make<CallNotificationEvent>(service_, about, instance,
                                                        !wanted.withoutEventInterface);
        event = Held<SimObject>(made);
        dispatch = made;
    } else {
        auto* made = ledger.Make<CallStateEvent>(
            service_, about, wanted.eventState.value_or(wanted.callState), wanted.cause, instance,
            !wanted.withoutEventInterface);
        event = Held<SimObject>(made);
        dispatch = made;
    }

    // Set and put back on this thread only, so a sink that raises an event
    // from inside Event leaves it as it found it.
    const bool here = notifier_.OnThread();
    const Call* outer = here ? delivering_.exchange(call) : nullptr;
    struct Restore {
        std::atomic<const Call*>& slot;
        const Call* value;
        bool here;
        ~Restore() {
            if (here) {
                slot.store(value);
            }
        }
    } restore{delivering_, outer, here};
    HRESULT result = S_OK;
    ComPtr<IGlobalInterfaceTable> table;
    for (const Target& target : TargetsOf(wanted)) {
        ComPtr<ITTAPIEventNotification> sink = target.sink;
        if (mode == Delivery::Apartment && target.tableCookie) {
            // The sink's own apartment: a proxy here, the sink itself there.
            sink.Reset();
            if (!table) {
                table = Table();
            }
            if (!table ||
                FAILED(table->GetInterfaceFromGlobal(target.tableCookie, IID_PPV_ARGS(&sink)))) {
                result = RPC_E_DISCONNECTED;
                continue;
            }
        }
        const bool timed = timeSinkCalls_.load();
        const auto called = Notifier::Clock::now();
        const HRESULT hr = service_.Recorder().Run(
            op::SinkEvent,
            [&] {
                return ArgList(static_cast<long>(wanted.kind), static_cast<long>(wanted.callState));
            },
            [&](const Gate&) { return sink->Event(wanted.kind, dispatch); });
        if (timed) {
            RecordSinkCallTime(Notifier::Clock::now() - called);
        }
        if (FAILED(hr)) {
            result = hr;
        }
    }
    if (call) {
        call->SetStateReadResult(S_OK);
    }
    return result;
}

HRESULT Notifications::RaiseEvent(const EventSpec& wanted) {
    return comkit::GuardCall([&] {
        Call* call = nullptr;
        if (wanted.call) {
            call = service_.Ledger().FindAs<Call>(wanted.call);
            if (!call) {
                return E_INVALIDARG;
            }
        } else {
            call = service_.Ledger().Make<Call>(
                service_, nullptr, std::wstring(), LINEADDRESSTYPE_PHONENUMBER,
                telephony::DIALER_MEDIA_TYPES, service_.World().Script());
        }
        Held<Call> held(call);
        const Delivery mode = wanted.delivery.value_or(service_.World().CurrentDelivery());
        if (mode == Delivery::Synchronous) {
            return Deliver(wanted, call, mode);
        }
        EventSpec queued = wanted;
        queued.call = nullptr;
        notifier_.Post(Notifier::Clock::now() + std::chrono::milliseconds(wanted.delayMs),
                       [this, held, queued, mode] { Deliver(queued, held.Get(), mode); });
        return S_OK;
    });
}

bool Notifications::AwaitDelivery(Notifier::Clock::time_point after, DWORD timeoutMs) noexcept try {
    // Queued behind everything due by then: run in order of due time, then
    // of posting.
    auto delivered = std::make_shared<std::atomic<bool>>(false);
    notifier_.Post(std::max(after, Notifier::Clock::now()),
                   [delivered] { delivered->store(true); });
    return WaitServingUntil([&] { return delivered->load(); }, timeoutMs);
} catch (...) {
    return false;
}

void Notifications::RecordSinkCallTime(Notifier::Clock::duration time) noexcept try {
    std::lock_guard<std::mutex> lock(mu_);
    sinkCallTimes_.push_back(time);
} catch (...) {
    service_.Ledger().ReportMisuse(L"a sink call's time lost for lack of memory");
}

std::vector<Notifier::Clock::duration> Notifications::TakeSinkCallTimes() {
    std::lock_guard<std::mutex> lock(mu_);
    return std::exchange(sinkCallTimes_, {});
}

void Notifications::RecordHangUp() noexcept try {
    if (!timeSinkCalls_.load()) {
        return;
    }
    const auto now = Notifier::Clock::now();
    std::lock_guard<std::mutex> lock(mu_);
    hangUpMoments_.push_back(now);
} catch (...) {
    service_.Ledger().ReportMisuse(L"a hang-up's moment lost for lack of memory");
}

std::vector<Notifier::Clock::time_point> Notifications::TakeHangUpMoments() {
    std::lock_guard<std::mutex> lock(mu_);
    return std::exchange(hangUpMoments_, {});
}

void Notifications::WaitIdle() {
    notifier_.WaitIdle();
}

bool Notifications::StopIfIdle() {
    if (!notifier_.Idle()) {
        return false;
    }
    notifier_.Stop();
    return true;
}

void Notifications::Stop() {
    notifier_.Stop();
}

}  // namespace telsim
