// The dialer's lifetime: creation, telephony start and end, hang-up, and the
// tracked call state.
#include "dialer/tapi_dialer.h"

#include <utility>

#include "comkit/control/label_drawing.h"
#include "comkit/identity.h"
#include "comkit/result.h"
#include "dialer/error_reporting.h"
#include "resources/message_ids.h"

using Microsoft::WRL::ComPtr;

CTAPIDialer::CTAPIDialer() noexcept = default;

CTAPIDialer::~CTAPIDialer() {
    // The service may keep the sink, and deliver to it, after the dialer is
    // gone; from here on its events only update the tracked state. This
    // returns once an event running on another thread has left Disconnect.
    if (m_pEventSink) {
        m_pEventSink->SetOwner(nullptr);
    }
    m_csCall.Term();
    // The members go in reverse order: the sink reference, then m_pCall,
    // m_pAddress and m_pTapi.
}

HRESULT CTAPIDialer::InitialConstruct() noexcept {
    if (FAILED(m_csCall.Init())) {
        return E_OUTOFMEMORY;
    }
    return CComObjectRootEx::InitialConstruct();
}

HRESULT CTAPIDialer::OnDraw(HDC dc, const RECTL& bounds) noexcept {
    // The label of the control framework the dialer was first built with,
    // which hosts and their tests have seen ever since.
    return comkit::DrawCentredLabel(dc, bounds, L"ATL 8.0");
}

HRESULT CTAPIDialer::FinalConstruct() noexcept {
    RETURN_IF_FAILED(
        CoCreateInstance(CLSID_TAPI, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&m_pTapi)));
    return S_OK;
}

HRESULT CTAPIDialer::InitializeTAPI() noexcept {
    if (!m_pTapi) {
        dialer::ReportDialerMessage(IDS_TAPI_INIT_FAILED);
        return E_FAIL;
    }
    const HRESULT hr = m_pTapi->Initialize();
    m_bTapiInitialized = SUCCEEDED(hr);
    if (FAILED(hr)) {
        // Without an initialised root object the dialer is done for; a host
        // that wants to dial again creates a new one.
        m_pTapi.Reset();
        dialer::ReportDialerMessage(IDS_TAPI_INIT_FAILED);
    }
    return hr;
}

HRESULT CTAPIDialer::ShutdownTAPI() noexcept {
    // The call is released without being dropped, and m_bCallActive keeps
    // its value.
    DetachCall().Reset();
    if (m_pEventSink) {
        m_pEventSink->StopFollowing();
    }
    m_pAddress.Reset();
    m_bRegisteredForAddress = false;
    m_bTapiInitialized = false;
    // The root object leaves m_pTapi first: a member that a host's pumping
    // wait lets in during Shutdown finds the dialer already without one,
    // and cannot release it under the running Shutdown.
    ComPtr<ITTAPI> tapi;
    tapi.Swap(m_pTapi);
    if (!tapi) {
        return S_OK;
    }
    if (m_lCallRegister != 0) {
        const LONG registration = m_lCallRegister;
        m_lCallRegister = 0;
        tapi->UnregisterNotifications(registration);
    }
    return tapi->Shutdown();
}

HRESULT CTAPIDialer::Disconnect() noexcept {
    CComCritSecLock<CComCriticalSection> lock(m_csCall);
    return DropActiveCall();
}

void CTAPIDialer::DropEndedCall(IUnknown* call) noexcept {
    if (!m_csCall.TryLock()) {
        // A drop of this call under way has already taken it for good.
        if (m_pCallBeingDropped.load() == call) {
            return;
        }
        m_csCall.Lock();
    }
    CComCritSecLock<CComCriticalSection> lock(m_csCall, std::adopt_lock);
    // The sink holds the ended call, and this dialer its own: equal
    // identities are one call. A call that a later Connect replaced is not
    // the current one any more.
    if (m_pCall && comkit::IdentityOf(m_pCall.Get()) == call) {
        (void)DropActiveCall();
    }
}

HRESULT CTAPIDialer::DropActiveCall() noexcept {
    if (!m_pCall || !m_bCallActive) {
        return S_OK;
    }
    // Cleared first: a disconnected state that the call's Disconnect delivers
    // on this thread re-enters and must find nothing left to drop.
    m_bCallActive = false;
    ComPtr<ITBasicCallControl> call;
    call.Swap(m_pCall);
    // A drop nested in another one on this thread puts the outer one's mark back.
    IUnknown* const outer = m_pCallBeingDropped.exchange(comkit::IdentityOf(call.Get()));
    const HRESULT hr = call->Disconnect(DC_NORMAL);
    m_pCallBeingDropped.store(outer);
    return hr;
}

HRESULT CTAPIDialer::get_Connected(VARIANT_BOOL* pVal) noexcept {
    if (!pVal) {
        return E_POINTER;
    }
    const LONG state = m_pEventSink ? m_pEventSink->CallState() : LONG{CS_IDLE};
    *pVal = state == CS_INPROGRESS || state == CS_CONNECTED ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

ComPtr<ITBasicCallControl> CTAPIDialer::DetachCall() noexcept {
    ComPtr<ITBasicCallControl> call;
    CComCritSecLock<CComCriticalSection> lock(m_csCall);
    call.Swap(m_pCall);
    return call;
}

ComPtr<ITBasicCallControl> CTAPIDialer::StoreCall(ComPtr<ITBasicCallControl> call) noexcept {
    CComCritSecLock<CComCriticalSection> lock(m_csCall);
    if (m_pEventSink) {
        m_pEventSink->FollowCall(call.Get());
    }
    call.Swap(m_pCall);
    return call;
}

void CTAPIDialer::MarkCallStarted(ITBasicCallControl* call) noexcept {
    CComCritSecLock<CComCriticalSection> lock(m_csCall);
    // A host's ShutdownTAPI on another thread may have let the call go meanwhile.
    if (m_pCall.Get() != call) {
        return;
    }
    m_bCallActive = true;
    // The call's disconnected state may have come while its connect was
    // being started, when there was nothing active to drop yet.
    if (m_pEventSink && m_pEventSink->CallState() == CS_DISCONNECTED) {
        (void)DropActiveCall();
    }
}
