// The call-event sink: reduces the telephony service's call-state events for
// its dialer's own call to one tracked state, and has the dialer drop that
// call when it is reported disconnected.
//
// The sink is agile: it aggregates the free-threaded marshaler, so the
// service calls Event on its own thread whatever apartment the sink was
// advised from, and a host whose thread never pumps messages still sees its
// call's progress.
//
// The service's call objects may not be agile: Microsoft's reference does
// not say. So the dialer asks each call it makes, on its own thread, whether
// it is (the free-threaded marshaler behind its IMarshal), and
// on the service's thread the sink and the dialer only touch the call of an
// event as the service handed it there, plus, for an agile call, the
// dialer's own reference:
// - a call that may be used on the event's thread (it is agile, or the
//   event comes on the thread that made it) has its state read from the
//   call, and its end hung up and released there, unless a member of the
//   dialer is running, which then does it before it returns;
// - any other call is compared by identity only (its IUnknown, which a
//   proxy answers locally); its state is the one the event carries; its end
//   is left to the host's thread: the dialer's next member that calls the
//   service hangs it up and has the sink let go of it.
// A call made in the multithreaded apartment could be used on any of its
// threads; the dialer does not count on the service's thread being one.
// A proxy made for the service's thread would have an identity of its own;
// a service that hands out such calls in its events would need the call's
// identity taken on that thread too. TelSim hands out the call itself.
// Event never waits for the host: the only lock it shares with the dialer
// is held for bookkeeping, never across a call into the service.
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
    // named for its kind is ignored, and the query's failure is the answer.
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
    // The identity of the call followed, with a reference; the one thread
    // that may use it (0: any, the call is agile), and whether it ended (a
    // bound call's reference waits for that thread).
    Microsoft::WRL::ComPtr<IUnknown> m_pFollowedCall;
    DWORD m_dwFollowedThread = 0;
    bool m_bFollowedEnded = false;
    // The aggregated free-threaded marshaler's own unknown.
    Microsoft::WRL::ComPtr<IUnknown> m_pFreeThreadedMarshaler;
};
