#include "telsim/notifications.h"

#include "telsim/address.h"
#include "telsim/call.h"
#include "telsim/events.h"
#include "telsim/root.h"
#include "telsim/telsim.h"

#include <algorithm>

using Microsoft::WRL::ComPtr;

namespace telsim {

void Notifications::RootCreated(Root* root) {
    std::lock_guard<std::mutex> lock(mu_);
    roots_.push_back(root);
}

void Notifications::RootGone(Root* root) {
    std::vector<ComPtr<ITTAPIEventNotification>> released;
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
                released.push_back(std::move(it->sink));
                it = sinks_.erase(it);
            }
        }
        registrations_.erase(std::remove_if(registrations_.begin(), registrations_.end(),
                                            [&](const Registration& r) { return r.root == root; }),
                             registrations_.end());
        roots_.erase(std::remove(roots_.begin(), roots_.end(), root), roots_.end());
    }
    // The sinks are the client's objects: released with no lock held.
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
    std::lock_guard<std::mutex> lock(mu_);
    const DWORD cookie = nextCookie_++;
    sinks_.push_back(SinkEntry{root, 0, cookie, std::move(sink)});
    return cookie;
}

bool Notifications::RemoveSink(Root* root, DWORD cookie) {
    ComPtr<ITTAPIEventNotification> released;
    std::lock_guard<std::mutex> lock(mu_);
    auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const SinkEntry& e) {
        return e.root == root && e.cookie == cookie;
    });
    if (it == sinks_.end()) {
        return false;
    }
    released = std::move(it->sink);
    sinks_.erase(it);
    return true;
    // `released` goes after the lock (declared first, destroyed last).
}

void Notifications::KeepSinksAfterRootRelease(bool keep) {
    std::lock_guard<std::mutex> lock(mu_);
    keepSinks_ = keep;
}

void Notifications::ReleaseSinks() {
    std::vector<SinkEntry> released;
    std::lock_guard<std::mutex> lock(mu_);
    released.swap(sinks_);
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
    if (synchronous) {
        for (const CallStep& step : steps) {
            if (call->Generation() != generation) {
                break;
            }
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
                if (held->Generation() == generation) {
                    Deliver(wanted, held.Get());
                }
            },
            [call, generation] { return call->Generation() != generation; });
    }
} catch (...) {
    service_.Ledger().ReportMisuse(L"call states lost for lack of memory");
}

std::vector<ComPtr<ITTAPIEventNotification>> Notifications::TargetsOf(
    const EventSpec& wanted) const {
    std::vector<ComPtr<ITTAPIEventNotification>> targets;
    std::lock_guard<std::mutex> lock(mu_);
    for (const SinkEntry& entry : sinks_) {
        bool takes = wanted.ignoreFilter;
        if (!takes && entry.root) {
            takes = entry.root->IsInitialized() && (entry.root->Filter() & wanted.kind);
        } else if (!takes) {
            takes = (entry.orphanFilter & wanted.kind) != 0;
        }
        if (takes) {
            targets.push_back(entry.sink);
        }
    }
    return targets;
}

HRESULT Notifications::Deliver(const EventSpec& wanted, Call* call) {
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

    HRESULT result = S_OK;
    for (const auto& sink : TargetsOf(wanted)) {
        const HRESULT hr = service_.Recorder().Run(
            op::SinkEvent,
            [&] {
                return ArgList(static_cast<long>(wanted.kind), static_cast<long>(wanted.callState));
            },
            [&](const Gate&) { return sink->Event(wanted.kind, dispatch); });
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
        if (wanted.delivery.value_or(service_.World().CurrentDelivery()) == Delivery::Synchronous) {
            return Deliver(wanted, call);
        }
        EventSpec queued = wanted;
        queued.call = nullptr;
        notifier_.Post(Notifier::Clock::now() + std::chrono::milliseconds(wanted.delayMs),
                       [this, held, queued] { Deliver(queued, held.Get()); });
        return S_OK;
    });
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
