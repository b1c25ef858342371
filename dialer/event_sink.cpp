#include "dialer/event_sink.h"

#include <new>

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// The tracked state for a state read from a call; `current` matters only for
// a hold, since a connected call that is put on hold still counts as connected.
LONG TrackedState(CALL_STATE state, LONG current) noexcept {
    switch (state) {
    case CS_INPROGRESS:
        return CS_INPROGRESS;
    case CS_CONNECTED:
        return CS_CONNECTED;
    case CS_DISCONNECTED:
        return CS_DISCONNECTED;
    case CS_HOLD:
        return current == CS_CONNECTED ? CS_CONNECTED : CS_HOLD;
    default:
        return CS_IDLE;
    }
}

template <typename EventInterface>
HRESULT CallOfEvent(IDispatch* event, ComPtr<ITCallInfo>& call) noexcept {
    ComPtr<EventInterface> typed;
    const HRESULT hr = event->QueryInterface(IID_PPV_ARGS(&typed));
    if (FAILED(hr) || !typed) {
        return FAILED(hr) ? hr : E_NOINTERFACE;
    }
    return typed->get_Call(&call);
}

}  // namespace

CTAPIDialerEventNotification::CTAPIDialerEventNotification() noexcept
    : m_cRef(1), m_lCallState(CS_IDLE), m_pOwner(nullptr), m_cOwnerCalls(0) {
    InitializeSRWLock(&m_ownerLock);
    InitializeConditionVariable(&m_ownerIdle);
}

CTAPIDialerEventNotification::~CTAPIDialerEventNotification() = default;

HRESULT CTAPIDialerEventNotification::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_ITTAPIEventNotification) && !IsEqualIID(riid, IID_IUnknown)) {
        return E_NOINTERFACE;
    }
    *ppv = static_cast<ITTAPIEventNotification*>(this);
    AddRef();
    return S_OK;
}

ULONG CTAPIDialerEventNotification::AddRef() noexcept {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

ULONG CTAPIDialerEventNotification::Release() noexcept {
    const LONG count = InterlockedDecrement(&m_cRef);
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT CTAPIDialerEventNotification::Event(TAPI_EVENT TapiEvent, IDispatch* pEvent) noexcept {
    if (TapiEvent != TE_CALLSTATE && TapiEvent != TE_CALLNOTIFICATION) {
        return S_OK;
    }
    if (!pEvent) {
        return E_POINTER;
    }

    ComPtr<ITCallInfo> call;
    const HRESULT callResult = TapiEvent == TE_CALLSTATE
                                   ? CallOfEvent<ITCallStateEvent>(pEvent, call)
                                   : CallOfEvent<ITCallNotificationEvent>(pEvent, call);
    if (FAILED(callResult) || !call) {
        return callResult;
    }

    // The state is the call's own at this moment, not the one the event carries.
    CALL_STATE state = CS_IDLE;
    const HRESULT stateResult = call->get_CallState(&state);

    const LONG tracked = TrackedState(state, m_lCallState.load());
    m_lCallState.store(tracked);

    if (tracked == CS_DISCONNECTED) {
        if (ITAPIDialer* owner = EnterOwner()) {
            owner->Disconnect();
            LeaveOwner();
        }
    }
    return stateResult;
}

void CTAPIDialerEventNotification::SetOwner(ITAPIDialer* owner) noexcept {
    AcquireSRWLockExclusive(&m_ownerLock);
    m_pOwner = owner;
    if (!owner) {
        while (m_cOwnerCalls > 0) {
            SleepConditionVariableSRW(&m_ownerIdle, &m_ownerLock, INFINITE, 0);
        }
    }
    ReleaseSRWLockExclusive(&m_ownerLock);
}

ITAPIDialer* CTAPIDialerEventNotification::EnterOwner() noexcept {
    AcquireSRWLockExclusive(&m_ownerLock);
    ITAPIDialer* owner = m_pOwner;
    if (owner) {
        ++m_cOwnerCalls;
    }
    ReleaseSRWLockExclusive(&m_ownerLock);
    return owner;
}

void CTAPIDialerEventNotification::LeaveOwner() noexcept {
    AcquireSRWLockExclusive(&m_ownerLock);
    if (--m_cOwnerCalls == 0) {
        WakeAllConditionVariable(&m_ownerIdle);
    }
    ReleaseSRWLockExclusive(&m_ownerLock);
}
