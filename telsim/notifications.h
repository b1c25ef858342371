// Notifications: the root objects, the sinks advised on them and their
// call-notification registrations, and the delivery of events to those
// sinks (at once, or from the service's notification thread, directly or
// into the sink's own apartment: world.h, Delivery).
//
// No lock of the service is held while a sink runs.
#pragma once

#include "telsim/notifier.h"
#include "telsim/world.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

#include <wrl/client.h>

namespace telsim {

class Call;
class Root;
class Service;

// An event raised by hand (Notifications::RaiseEvent).
struct EventSpec {
    TAPI_EVENT kind = TE_CALLSTATE;
    // The state the call reports (ITCallInfo::get_CallState) from the
    // moment of delivery; it becomes the call's state.
    CALL_STATE callState = CS_CONNECTED;
    // The state the event object itself carries (ITCallStateEvent::get_State);
    // nullopt: the same as callState.
    std::optional<CALL_STATE> eventState;
    CALL_STATE_EVENT_CAUSE cause = CEC_NONE;
    // The call the event is about: a call this service created (any of its
    // interfaces), or null for a fresh call on no address.
    IUnknown* call = nullptr;
    // get_Call fails with this HRESULT (S_OK: succeeds).
    HRESULT getCallResult = S_OK;
    // get_Call succeeds with a null call.
    bool nullCall = false;
    // get_CallState fails with this HRESULT without writing its output.
    HRESULT callStateResult = S_OK;
    // The event object lacks the interface named for its kind.
    bool withoutEventInterface = false;
    // Deliver even if the root object's event filter does not include kind.
    bool ignoreFilter = false;
    // nullopt: the service's current delivery mode.
    std::optional<Delivery> delivery;
    DWORD delayMs = 0;
};

class Notifications {
public:
    explicit Notifications(Service& service) noexcept : service_(service) {}
    ~Notifications();
    Notifications(const Notifications&) = delete;
    Notifications& operator=(const Notifications&) = delete;

    // ---- root objects (their own state is theirs: Root::IsInitialized)
    void RootCreated(Root* root);
    // Lets go of the root's sinks (unless kept) and registrations.
    void RootGone(Root* root);
    void FilterSet(long filter);
    bool Initialized() const;  // some root object is initialised
    long EventFilter() const;  // of the most recent put_EventFilter

    // ---- sinks and registrations
    // Called on the thread that advises: a sink advised from a
    // single-threaded apartment that is not agile is also put in the global
    // interface table, through which apartment delivery reaches it.
    DWORD AddSink(Root* root, Microsoft::WRL::ComPtr<ITTAPIEventNotification> sink);
    // How many advised sinks apartment delivery reaches through the global
    // interface table.
    std::size_t SinksInApartments() const;
    bool RemoveSink(Root* root, DWORD cookie);
    // Keep sinks advised after the root object's last release, so a test
    // can raise a late event after the dialer is gone; ReleaseSinks() lets
    // them go. Off (the default) the root object's final release releases
    // its sinks, as the real service does.
    void KeepSinksAfterRootRelease(bool keep);
    // Releases the sinks still held (advised, or kept after the root went).
    void ReleaseSinks();
    std::size_t AdvisedSinks() const;
    // The sinks currently held, each with a new reference for the caller.
    std::vector<Microsoft::WRL::ComPtr<ITTAPIEventNotification>> Sinks() const;
    long AddRegistration(Root* root, long callbackInstance);
    bool RemoveRegistration(Root* root, long handle);
    long RegistrationsHeld() const;  // RegisterCallNotifications not yet unregistered

    // ---- delivery
    // Runs a call's steps: at once on this thread, or queued on the
    // notification thread. `generation` is the call's generation when the
    // steps were started; a later one makes them stale. Steps that cannot be
    // queued for lack of memory are lost (and reported).
    void RunSteps(Call* call, const std::vector<CallStep>& steps, unsigned generation,
                  bool synchronous) noexcept;
    // Raises an event to every advised sink of every root object (whose
    // filter passes it, unless ignoreFilter). Returns what the sinks
    // answered for a synchronous delivery (the last failure, else S_OK),
    // S_OK for a queued one.
    HRESULT RaiseEvent(const EventSpec& event);
    // Waits (serving the caller's apartment) until the notification thread
    // has run everything queued to be due by `after`, dropped steps
    // excepted; false when timeoutMs passed first.
    bool AwaitDelivery(Notifier::Clock::time_point after, DWORD timeoutMs) noexcept;
    bool OnNotificationThread() const noexcept { return notifier_.OnThread(); }
    // Whether the notification thread is delivering an event about call (its
    // event object holds the call meanwhile).
    bool Delivering(const Call* call) const noexcept { return call && delivering_.load() == call; }
    // Waits until the notification thread has delivered everything queued,
    // delayed steps included.
    void WaitIdle();
    // Stops the notification thread if nothing is pending (for unloading).
    bool StopIfIdle();
    void Stop();

    // ---- timing
    // While on, every sink's Event is timed as a delivery calls it (through
    // its apartment's proxy where it goes there): how long the thread that
    // delivers was kept, which a sink that waits for its host stretches.
    void TimeSinkCalls(bool on) noexcept { timeSinkCalls_.store(on); }
    // The times recorded since the last take, in order of return.
    std::vector<Notifier::Clock::duration> TakeSinkCallTimes();
    // While that timing is on, the moment each call's Disconnect returns is
    // kept too, whoever asked it and however it answered: a bench reads
    // from it how soon a client hung up after an event.
    void RecordHangUp() noexcept;
    std::vector<Notifier::Clock::time_point> TakeHangUpMoments();

private:
    struct SinkEntry {
        Root* root;  // null once the root went and the sink was kept
        long orphanFilter;
        DWORD cookie;
        Microsoft::WRL::ComPtr<ITTAPIEventNotification> sink;
        DWORD tableCookie;  // in the global interface table; 0: not there
    };
    // A sink as one delivery calls it: directly, or through the table.
    struct Target {
        Microsoft::WRL::ComPtr<ITTAPIEventNotification> sink;
        DWORD tableCookie;
    };
    struct Registration {
        Root* root;
        long handle;
        long callbackInstance;
    };

    // Delivers one event to the sinks that take it, from this thread, in
    // the way `mode` gives.
    HRESULT Deliver(const EventSpec& wanted, Call* call, Delivery mode);
    std::vector<Target> TargetsOf(const EventSpec& wanted) const;
    // Lets go of entries taken out of sinks_ (no lock held).
    static void Release(std::vector<SinkEntry>& entries) noexcept;
    void RecordSinkCallTime(Notifier::Clock::duration time) noexcept;

    Service& service_;
    mutable std::mutex mu_;
    std::vector<Root*> roots_;
    bool keepSinks_ = false;
    std::vector<SinkEntry> sinks_;
    DWORD nextCookie_ = 1;
    std::vector<Registration> registrations_;
    long nextRegistration_ = 1;
    long latestCallbackInstance_ = 0;
    long latestFilter_ = 0;
    std::atomic<bool> timeSinkCalls_{false};
    std::atomic<const Call*> delivering_{nullptr};  // set by the notification thread only
    std::vector<Notifier::Clock::duration> sinkCallTimes_;
    std::vector<Notifier::Clock::time_point> hangUpMoments_;
    Notifier notifier_;
};

}  // namespace telsim
