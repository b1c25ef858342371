#include "dialer/event_sink.h"

#include <new>

#include <wrl/client.h>

#include "comkit/identity.h"
#include "comkit/module.h"
#include "dialer/tapi_dialer.h"

using Microsoft::WRL::ComPtr;

namespace {

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) noexcept : m_lock(lock) {
        AcquireSRWLockExclusive(&m_lock);
    }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&m_lock); }

private:
    SRWLOCK& m_lock;
};

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
    comkit::GetModule().Lock();
}

CTAPIDialerEventNotification::~CTAPIDialerEventNotification() {
    comkit::GetModule().Unlock();
}

HRESULT CTAPIDialerEventNotification::Create(ComPtr<CTAPIDialerEventNotification>& sink) noexcept {
    sink.Reset();
    ComPtr<CTAPIDialerEventNotification> created;
    // Not Attach: mingw's ComPtr::Attach adds a reference of its own.
    *created.ReleaseAndGetAddressOf() = new (std::nothrow) CTAPIDialerEventNotification();
    if (!created) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = CoCreateFreeThreadedMarshaler(
        static_cast<ITTAPIEventNotification*>(created.Get()), &created->m_pFreeThreadedMarshaler);
    if (FAILED(hr)) {
        return hr;
    }
    if (!created->m_pFreeThreadedMarshaler) {
        return E_UNEXPECTED;
    }
    sink.Swap(created);
    return S_OK;
}

HRESULT CTAPIDialerEventNotification::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IMarshal)) {
        return m_pFreeThreadedMarshaler->QueryInterface(riid, ppv);
    }
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

    // The call as the service handed it to this thread, and for a call
    // state the event, which carries the state too.
    ComPtr<ITCallInfo> call;
    ComPtr<ITCallStateEvent> stateEvent;
    HRESULT hr = S_OK;
    if (TapiEvent == TE_CALLSTATE) {
        hr = pEvent->QueryInterface(IID_PPV_ARGS(&stateEvent));
        if (SUCCEEDED(hr)) {
            hr = stateEvent ? stateEvent->get_Call(&call) : E_NOINTERFACE;
        }
    } else {
        hr = CallOfEvent<ITCallNotificationEvent>(pEvent, call);
    }
    if (FAILED(hr) || !call) {
        return hr;
    }

    // The event holds the call and the sink the one it follows, so two
    // equal identities are one object.
    IUnknown* const identity = comkit::IdentityOf(call.Get());
    bool here = false;
    bool usable = false;
    {
        ExclusiveLock lock(m_lock);
        if (!identity || identity != m_pFollowedCall.Get() || m_bFollowedEnded) {
            return S_OK;
        }
        here = m_dwFollowedThread == GetCurrentThreadId();
        usable = here || m_bFollowedAgile;
    }
    // The state is the call's own at this moment where the call may be used
    // on this thread. Should that read fail, the state the event carries
    // still tells, a call's end above all; an event whose state cannot be
    // read at all changes nothing.
    CALL_STATE state = CS_IDLE;
    HRESULT read = E_FAIL;
    if (usable) {
        hr = read = call->get_CallState(&state);
    }
    if (FAILED(read)) {
        if (!stateEvent) {
            return hr;
        }
        const HRESULT carried = stateEvent->get_State(&state);
        if (FAILED(carried)) {
            return usable ? hr : carried;
        }
    }

    {
        ExclusiveLock lock(m_lock);
        if (identity != m_pFollowedCall.Get() || m_bFollowedEnded) {
            return hr;
        }
        const LONG tracked = TrackedState(state, m_lCallState.load());
        m_lCallState.store(tracked);
        if (tracked != CS_DISCONNECTED) {
            return hr;
        }
        // An ended call is followed no more: nothing it reports later, not
        // even a state that cannot be read, undoes its end. Its reference is
        // let go off this thread, once it is dropped.
        m_bFollowedEnded = true;
    }

    // Only bookkeeping inside the owner: the dialer marks the end, hands an
    // agile call to a thread of its own, or, on the thread that made the
    // call, hands it back to be dropped here, holding the road.
    ComPtr<ITBasicCallControl> drop;
    if (CTAPIDialer* owner = EnterOwner()) {
        drop = owner->TakeEndedCall(identity, here);
        LeaveOwner();
    }
    if (drop) {
        (void)drop->Disconnect(DC_NORMAL);
        drop.Reset();
        DropDone();
    }
    return hr;
}

void CTAPIDialerEventNotification::DropDone() noexcept {
    ForgetEndedCall();
    if (CTAPIDialer* owner = EnterOwner()) {
        owner->LeaveRoad();
        LeaveOwner();
    }
}

void CTAPIDialerEventNotification::ForgetEndedCall() noexcept {
    ComPtr<IUnknown> former;
    ExclusiveLock lock(m_lock);
    if (m_bFollowedEnded) {
        former.Swap(m_pFollowedCall);
    }
}

void CTAPIDialerEventNotification::FollowCall(IUnknown* call, bool agile) noexcept {
    ComPtr<IUnknown> identity;
    if (call) {
        (void)call->QueryInterface(IID_PPV_ARGS(&identity));
    }
    SetFollowed(identity.Get(), agile, true);
}

void CTAPIDialerEventNotification::SetFollowed(IUnknown* identity, bool agile,
                                               bool restartState) noexcept {
    // The call let go is released after the lock.
    ComPtr<IUnknown> former(identity);
    ExclusiveLock lock(m_lock);
    former.Swap(m_pFollowedCall);
    m_dwFollowedThread = GetCurrentThreadId();
    m_bFollowedAgile = agile;
    m_bFollowedEnded = false;
    if (restartState) {
        m_lCallState.store(CS_IDLE);
    }
}

void CTAPIDialerEventNotification::SetOwner(CTAPIDialer* owner) noexcept {
    ComPtr<IUnknown> former;
    ExclusiveLock lock(m_lock);
    m_pOwner = owner;
    if (!owner) {
        former.Swap(m_pFollowedCall);
        while (m_cOwnerCalls > 0) {
            SleepConditionVariableSRW(&m_ownerIdle, &m_lock, INFINITE, 0);
        }
    }
}

CTAPIDialer* CTAPIDialerEventNotification::EnterOwner() noexcept {
    ExclusiveLock lock(m_lock);
    if (m_pOwner) {
        ++m_cOwnerCalls;
    }
    return m_pOwner;
}

void CTAPIDialerEventNotification::LeaveOwner() noexcept {
    ExclusiveLock lock(m_lock);
    if (--m_cOwnerCalls == 0) {
        WakeAllConditionVariable(&m_ownerIdle);
    }
}
