// The call-event sink: reduces the telephony service's call-state events to
// one tracked state and has its dialer drop the call on a disconnection.
#pragma once

#include <atomic>

#include "brevlin_idl.h"
#include "telephony/tapi.h"

class CTAPIDialerEventNotification final : public ITTAPIEventNotification {
public:
    // Starts with one reference, owned by the creator.
    CTAPIDialerEventNotification() noexcept;
    CTAPIDialerEventNotification(const CTAPIDialerEventNotification&) = delete;
    CTAPIDialerEventNotification& operator=(const CTAPIDialerEventNotification&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;

    // ITTAPIEventNotification. An event object without the interface named
    // for its kind is ignored, and the query's failure is the answer.
    HRESULT STDMETHODCALLTYPE Event(TAPI_EVENT TapiEvent, IDispatch* pEvent) noexcept override;

    // The tracked call state: 0, 1 (in progress), 2 (connected),
    // 3 (disconnected) or 5 (held).
    LONG CallState() const noexcept { return m_lCallState.load(); }

    // The dialer whose Disconnect a disconnected state calls; held without a
    // reference. SetOwner(nullptr) is what the dialer does when it is
    // destroyed: it returns only once no Event is inside the owner any more,
    // so no later or concurrent event can reach a destroyed dialer.
    void SetOwner(ITAPIDialer* owner) noexcept;

private:
    ~CTAPIDialerEventNotification();

    // Pins the owner for one call into it; null when there is none.
    ITAPIDialer* EnterOwner() noexcept;
    void LeaveOwner() noexcept;

    LONG m_cRef;
    std::atomic<LONG> m_lCallState;
    ITAPIDialer* m_pOwner;

    // Guards m_pOwner and m_cOwnerCalls. Never held while the owner runs:
    // the owner's Disconnect takes the dialer's call lock, and a thread that
    // holds that lock may be delivering an event synchronously.
    SRWLOCK m_ownerLock;
    CONDITION_VARIABLE m_ownerIdle;
    LONG m_cOwnerCalls;
};
