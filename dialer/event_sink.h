// The call-event sink: reduces the telephony service's call-state events for
// its dialer's own call to one tracked state, and has the dialer drop that
// call when it is reported disconnected.
//
// The sink is agile: it aggregates the free-threaded marshaler, so the
// service calls Event on its own thread whatever apartment the sink was
// advised from, and a host whose thread never pumps messages still sees its
// call's progress.
//
// Threads. The service calls Event on its own notification thread; there
// the sink and the dialer only read: the event, its call as the service
// handed it there (get_Call, the state, identity), and their own
// bookkeeping under locks held for that alone. Nothing on that thread hangs
// up a call, lets go of the last reference to one, or waits for the host.
// Every hang-up runs on the dialer's road, one at a time with its members:
// - on the thread that made the call, when the event comes there (a
//   single-threaded host's pump delivers it): the sink drops the call before
//   Event returns, holding the road, so that a member let in by the hang-up's
//   pumping wait is refused as any re-entry is;
// - while a member of the host's runs: that member drops it as it leaves,
//   before it frees the road;
// - an agile call, or one made in the multithreaded apartment, on any other
//   thread: the dialer hands it to a thread of its own, a thread-pool work
//   item in the multithreaded apartment, where either may be used. The
//   road is the drop's until it is done, so another thread's member waits
//   for it and a redial creates its call only after the old one is dropped.
//   The work item holds the call, the sink and a lock on the module, not the
//   dialer: a host may let the dialer go meanwhile, the drop still happens,
//   and the library stays loaded until it has. It works whether the host
//   does anything but poll Connected or not;
// - a call bound to a single-threaded host's apartment, on any other
//   thread: left to the host's thread, the dialer's next member, its next
//   read of Connected, or its destruction there. Connected drops it only
//   when the road is free, taking a reference as members do; it never
//   waits for the road, so a read let in by a pumping wait, or made while
//   a drop is under way, only answers.
// So the service's thread never runs the dialer's destructor either: the
// sink holds no reference on its dialer, and every member that calls the
// service holds one while it runs.
//
// Which calls are agile Microsoft's reference does not say. The dialer asks
// each call it makes, on its own thread, whether it marshals through the
// free-threaded marshaler (its IMarshal). A call that may not be used on the
// event's thread is compared by identity only (its IUnknown, which a proxy
// answers locally), and its state is the one the event carries. A call made
// in the multithreaded apartment could be used on any of its threads; the
// dialer does not count on the service's thread being one, only on its own
// work item, which joins that apartment. A proxy made for
// the service's thread would have an identity of its own; a service that
// hands out such calls in its events would need the call's identity taken
// on that thread too. TelSim hands out the call itself.
#pragma once

#include <atomic>

#include <wrl/client.h>

#include "brevlin_idl.h"
#include "telephony/tapi.h"

class CTAPIDialer;

class CTAPIDialerEventNotification final : public ITTAPIEventNotification {
public:
    // A new sink with one reference, owned by `sink`; E_OUTOFMEMORY, or the
    // failure to make the marshaler, leaves `sink` null. A sink holds a lock
    // on the module for its whole life: the service may keep it, and call
    // it, long after the last dialer is gone.
    static HRESULT Create(Microsoft::WRL::ComPtr<CTAPIDialerEventNotification>& sink) noexcept;
    CTAPIDialerEventNotification(const CTAPIDialerEventNotification&) = delete;
    CTAPIDialerEventNotification& operator=(const CTAPIDialerEventNotification&) = delete;

    // IUnknown. IMarshal is the free-threaded marshaler's.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;

    // ITTAPIEventNotification. Events about any call other than the one
    // being followed change nothing. An event object without the interface
    // named for its kind is ignored, and the query's failure is the answer;
    // so is an event whose call, or whose state, cannot be read at all.
    HRESULT STDMETHODCALLTYPE Event(TAPI_EVENT TapiEvent, IDispatch* pEvent) noexcept override;

    // The tracked call state: 0, 1 (in progress), 2 (connected),
    // 3 (disconnected) or 5 (held).
    LONG CallState() const noexcept { return m_lCallState.load(); }

    // From now on only events about `call` (compared by COM identity) count,
    // and the tracked state starts again at 0. The sink holds a reference to
    // the call while it follows it, so that no other object can take its
    // identity meanwhile. It follows the call until the call reports
    // disconnected, another call is followed, or StopFollowing: a call the
    // dialer hung up is still followed to its end, which may come later.
    // Called on the thread that made the call; `agile` says whether the call
    // may be used on other threads too.
    void FollowCall(IUnknown* call, bool agile) noexcept;
    // No call is followed any more; the tracked state stays as it is.
    void StopFollowing() noexcept { SetFollowed(nullptr, false, false); }
    // Lets go of the call followed once it has ended; on a thread that may
    // use it, for a call bound to the host's.
    void ForgetEndedCall() noexcept;
    // A drop of the dialer's ended call is done, on a thread that is not the
    // service's: the ended call is let go and the owner, if it is still
    // there, frees its road.
    void DropDone() noexcept;

    // The dialer that drops its call on a disconnection; held without a
    // reference. SetOwner(nullptr) is what the dialer does when it is
    // destroyed: it returns only once no Event is inside the owner any more,
    // so no later or concurrent event can reach a destroyed dialer. An Event
    // is inside only for the dialer's bookkeeping, so that wait is short.
    void SetOwner(CTAPIDialer* owner) noexcept;

private:
    CTAPIDialerEventNotification() noexcept;
    ~CTAPIDialerEventNotification();

    void SetFollowed(IUnknown* identity, bool agile, bool restartState) noexcept;
    // Pins the owner for one call into it; null when there is none.
    CTAPIDialer* EnterOwner() noexcept;
    void LeaveOwner() noexcept;

    LONG m_cRef;
    std::atomic<LONG> m_lCallState;
    CTAPIDialer* m_pOwner;

    // Guards m_pOwner, m_cOwnerCalls and m_pFollowedCall. Never held while
    // the owner runs: the owner's drop takes the dialer's call lock, and a
    // thread that holds that lock may be delivering an event synchronously.
    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_ownerIdle = CONDITION_VARIABLE_INIT;
    LONG m_cOwnerCalls;
    // The identity of the call followed, with a reference; the thread that
    // made it, whether other threads may use it too, and whether it ended
    // (its reference then waits for a thread that is not the service's).
    Microsoft::WRL::ComPtr<IUnknown> m_pFollowedCall;
    DWORD m_dwFollowedThread = 0;
    bool m_bFollowedAgile = false;
    bool m_bFollowedEnded = false;
    // The aggregated free-threaded marshaler's own unknown.
    Microsoft::WRL::ComPtr<IUnknown> m_pFreeThreadedMarshaler;
};
