// The current call's bookkeeping, shared by the host's members and the
// sink's thread, and the road the members that call the service take.
#include <objidl.h>

#include <memory>
#include <new>
#include <utility>

#include "comkit/identity.h"
#include "comkit/module.h"
#include "dialer/error_reporting.h"
#include "dialer/road.h"
#include "resources/message_ids.h"

using Microsoft::WRL::ComPtr;

namespace {

// The free-threaded marshaler's unmarshal class. mingw-w64's uuid library
// gives CLSID_InProcFreeMarshaler another value.
constexpr CLSID kFreeThreadedUnmarshaler = {
    0x0000033A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

void HangUp(const ComPtr<ITBasicCallControl>& call) noexcept {
    if (call) {
        (void)call->Disconnect(DC_NORMAL);
    }
}

// A call that marshals through the free-threaded marshaler hands every
// apartment the object itself, so it may be used on any thread; any other
// is bound to the apartment it was made in. (IAgileObject came after TAPI 3,
// whose objects could only say so this way.)
bool IsAgile(IUnknown* call) noexcept {
    ComPtr<IMarshal> marshal;
    CLSID unmarshaler{};
    return SUCCEEDED(call->QueryInterface(IID_PPV_ARGS(&marshal))) &&
           SUCCEEDED(marshal->GetUnmarshalClass(IID_IUnknown, call, MSHCTX_INPROC, nullptr,
                                                MSHLFLAGS_NORMAL, &unmarshaler)) &&
           IsEqualCLSID(unmarshaler, kFreeThreadedUnmarshaler);
}

bool InMultithreadedApartment() noexcept {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    return SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && type == APTTYPE_MTA;
}

}  // namespace

// A drop handed to the dialer's own thread: the ended call, and the sink
// through which the dialer, if it is still there, gets its road back.
struct EndedCallDrop {
    ComPtr<ITBasicCallControl> call;
    ComPtr<CTAPIDialerEventNotification> sink;
};

namespace {

// Who holds the road while a drop waits for, or runs on, the thread pool.
// Never a thread's id: those are multiples of four.
constexpr DWORD kDialersOwnThread = 1;

void CALLBACK DropEndedCall(PTP_CALLBACK_INSTANCE, void* context) noexcept {
    const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        const std::unique_ptr<EndedCallDrop> drop(static_cast<EndedCallDrop*>(context));
        HangUp(drop->call);
        drop->call.Reset();
        drop->sink->DropDone();
    }
    if (SUCCEEDED(apartment)) {
        CoUninitialize();
    }
    comkit::GetModule().Unlock();
}

}  // namespace

bool CTAPIDialer::EnterRoad() noexcept {
    const DWORD thread = GetCurrentThreadId();
    {
        CComCritSecLock<CComCriticalSection> lock(m_csCall);
        if (m_dwRoadThread != thread) {
            // Also waits for a drop under way on the dialer's own thread.
            while (m_dwRoadThread != 0) {
                SleepConditionVariableCS(&m_roadFree, m_csCall.Native(), INFINITE);
            }
            m_dwRoadThread = thread;
            // An end that came while no member ran, of a call only this
            // thread may use, goes as this member leaves, if the member
            // does not take the call itself.
            return true;
        }
    }
    dialer::ReportDialerMessage(IDS_DIALER_BUSY);
    return false;
}

void CTAPIDialer::LeaveRoad() noexcept {
    // An ended call is hung up before the road is free, and one that ends
    // meanwhile too: the end is marked under the same lock as the road is
    // freed, so none is left behind.
    for (;;) {
        ComPtr<ITBasicCallControl> ended;
        {
            CComCritSecLock<CComCriticalSection> lock(m_csCall);
            ended = TakeEndedCallLocked();
            if (!ended) {
                m_dwRoadThread = 0;
                WakeAllConditionVariable(&m_roadFree);
                break;
            }
        }
        HangUp(ended);
    }
    // A call bound to this thread that ended is let go here, whoever hung it up.
    if (CTAPIDialerEventNotification* const sink = Sink()) {
        sink->ForgetEndedCall();
    }
}

ComPtr<ITBasicCallControl> CTAPIDialer::TakeEndedCall(IUnknown* call, bool here) noexcept {
    CComCritSecLock<CComCriticalSection> lock(m_csCall);
    // A call that a later Connect replaced, or that a member took out to
    // hang up, is not the current one any more.
    if (!m_pCall || call != m_pCallIdentity) {
        return nullptr;
    }
    m_bCallEnded = true;
    if (m_dwRoadThread != 0 || !(here || m_dwBoundThread == 0) || !m_bCallActive) {
        return nullptr;
    }
    if (here) {
        m_dwRoadThread = GetCurrentThreadId();
        return TakeEndedCallLocked();
    }
    // Left for the host's next member, should the drop not be handed over.
    auto* const drop = new (std::nothrow) EndedCallDrop{nullptr, Sink()};
    if (!drop) {
        return nullptr;
    }
    drop->call = TakeEndedCallLocked();
    comkit::GetModule().Lock();
    if (!TrySubmitThreadpoolCallback(DropEndedCall, drop, nullptr)) {
        comkit::GetModule().Unlock();
        drop->call.Swap(m_pCall);
        m_pCallIdentity = call;
        m_bCallActive = m_bCallEnded = true;
        delete drop;
        return nullptr;
    }
    m_dwRoadThread = kDialersOwnThread;
    return nullptr;
}

void CTAPIDialer::DropEndedCallHere() noexcept {
    // Never waits for the road, and leaves it to whoever holds it: a read let
    // in by a pumping wait, or made while a drop is under way, only answers.
    // The reference goes after the road: it may be the dialer's last.
    ComPtr<ITAPIDialer> held;
    {
        CComCritSecLock<CComCriticalSection> lock(m_csCall);
        const DWORD thread = GetCurrentThreadId();
        if (m_dwRoadThread != 0 || m_dwBoundThread != thread || !m_bCallEnded || !m_bCallActive) {
            return;
        }
        m_dwRoadThread = thread;
        held = this;
    }
    LeaveRoad();
}

ComPtr<ITBasicCallControl> CTAPIDialer::TakeEndedCallLocked() noexcept {
    bool started = false;
    if (!m_bCallEnded || !m_bCallActive) {
        return nullptr;
    }
    return TakeCallLocked(false, started);
}

ComPtr<ITBasicCallControl> CTAPIDialer::TakeCall(bool onlyStarted, bool& started) noexcept {
    CComCritSecLock<CComCriticalSection> lock(m_csCall);
    return TakeCallLocked(onlyStarted, started);
}

ComPtr<ITBasicCallControl> CTAPIDialer::TakeCallLocked(bool onlyStarted, bool& started) noexcept {
    ComPtr<ITBasicCallControl> call;
    started = m_pCall && m_bCallActive;
    if (onlyStarted && !started) {
        return call;
    }
    m_bCallActive = false;
    m_bCallEnded = false;
    m_pCallIdentity = nullptr;
    call.Swap(m_pCall);
    return call;
}

void CTAPIDialer::StoreCall(ComPtr<ITBasicCallControl> call) noexcept {
    IUnknown* const identity = comkit::IdentityOf(call.Get());
    const bool agile = IsAgile(call.Get());
    // A call made in the multithreaded apartment may be used on any of its
    // threads, the dialer's own among them.
    const DWORD bound = agile || InMultithreadedApartment() ? 0 : GetCurrentThreadId();
    if (CTAPIDialerEventNotification* const sink = Sink()) {
        sink->FollowCall(call.Get(), agile);
    }
    CComCritSecLock<CComCriticalSection> lock(m_csCall);
    call.Swap(m_pCall);
    m_pCallIdentity = identity;
    m_dwBoundThread = bound;
    m_bCallActive = false;
    m_bCallEnded = false;
    // The call replaced, if any, is released with the parameter, after the lock.
}
