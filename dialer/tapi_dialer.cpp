// The dialer's lifetime: creation, telephony start and end, hang-up, and the
// tracked call state.
#include "dialer/tapi_dialer.h"

#include "comkit/control/label_drawing.h"
#include "comkit/result.h"
#include "dialer/error_reporting.h"
#include "dialer/road.h"
#include "resources/message_ids.h"

using Microsoft::WRL::ComPtr;

CTAPIDialer::CTAPIDialer() noexcept = default;

CTAPIDialer::~CTAPIDialer() {
    // Only a host's thread gets here: neither the sink nor a drop on the
    // dialer's own thread holds a reference. The service may keep the sink,
    // and deliver to it, after the dialer is gone; from here on its events
    // only update the tracked state. This returns once an event on another
    // thread has left TakeEndedCall, which only ever waits for the call
    // lock's bookkeeping.
    if (CTAPIDialerEventNotification* const sink = Sink()) {
        sink->SetOwner(nullptr);
        sink->Release();
    }
    // A host that ends without another member still has its ended call
    // dropped, here where it may be used.
    ComPtr<ITBasicCallControl> ended;
    {
        CComCritSecLock<CComCriticalSection> lock(m_csCall);
        ended = TakeEndedCallLocked();
    }
    if (ended) {
        (void)ended->Disconnect(DC_NORMAL);
    }
    m_csCall.Term();
    // The members go in reverse order: m_pCall, m_pAddress and m_pTapi.
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
    Road road(*this);
    if (!road) {
        return dialer::kDialerBusy;
    }
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
    Road road(*this);
    if (!road) {
        return dialer::kDialerBusy;
    }
    // The call is released without being dropped.
    bool started = false;
    TakeCall(false, started).Reset();
    if (CTAPIDialerEventNotification* const sink = Sink()) {
        sink->StopFollowing();
    }
    m_pAddress.Reset();
    m_bRegisteredForAddress = false;
    m_bTapiInitialized = false;
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
    Road road(*this);
    if (!road) {
        return dialer::kDialerBusy;
    }
    // A call whose connect never started stays.
    bool started = false;
    const ComPtr<ITBasicCallControl> call = TakeCall(true, started);
    if (!call) {
        return S_OK;
    }
    return call->Disconnect(DC_NORMAL);
}

HRESULT CTAPIDialer::get_Connected(VARIANT_BOOL* pVal) noexcept {
    if (!pVal) {
        return E_POINTER;
    }
    const CTAPIDialerEventNotification* const sink = Sink();
    const LONG state = sink ? sink->CallState() : LONG{CS_IDLE};
    if (state == CS_DISCONNECTED) {
        // A host that does nothing but poll still has its ended call dropped.
        DropEndedCallHere();
    }
    *pVal = state == CS_INPROGRESS || state == CS_CONNECTED ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

void CTAPIDialer::MarkCallStarted(ITBasicCallControl* call) noexcept {
    CComCritSecLock<CComCriticalSection> lock(m_csCall);
    if (m_pCall.Get() == call) {
        // An end the service reported meanwhile is dropped as the road is left.
        m_bCallActive = true;
    }
}
