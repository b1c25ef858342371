// Registration of the call-event sink with the telephony service.
#include "comkit/result.h"
#include "dialer/tapi_dialer.h"

using Microsoft::WRL::ComPtr;

HRESULT CTAPIDialer::RegisterForCallEvents() noexcept {
    if (!m_pTapi || !m_pAddress) {
        return E_FAIL;
    }
    if (m_bRegisteredForAddress) {
        return S_OK;
    }
    if (m_lCallRegister != 0) {
        // The registration in place watches a line selected before.
        m_pTapi->UnregisterNotifications(m_lCallRegister);
        m_lCallRegister = 0;
    }
    RETURN_IF_FAILED(AdviseEventSink());
    RETURN_IF_FAILED(m_pTapi->put_EventFilter(TE_CALLSTATE));

    LONG registration = 0;
    RETURN_IF_FAILED(m_pTapi->RegisterCallNotifications(
        m_pAddress.Get(), VARIANT_TRUE, VARIANT_FALSE, telephony::DIALER_MEDIA_TYPES,
        static_cast<long>(m_dwAdviseCookie), &registration));
    m_lCallRegister = registration;
    m_bRegisteredForAddress = true;
    return S_OK;
}

HRESULT CTAPIDialer::AdviseEventSink() noexcept {
    if (Sink()) {
        return S_OK;
    }

    ComPtr<IConnectionPoint> connectionPoint;
    {
        ComPtr<IConnectionPointContainer> container;
        RETURN_IF_FAILED(m_pTapi.As(&container));
        if (!container) {
            return E_NOINTERFACE;
        }
        RETURN_IF_FAILED(
            container->FindConnectionPoint(IID_ITTAPIEventNotification, &connectionPoint));
        if (!connectionPoint) {
            return E_POINTER;
        }
    }

    // The creation reference becomes the dialer's own once the advise holds.
    ComPtr<CTAPIDialerEventNotification> sink;
    RETURN_IF_FAILED(CTAPIDialerEventNotification::Create(sink));
    sink->SetOwner(this);
    const HRESULT hr = connectionPoint->Advise(sink.Get(), &m_dwAdviseCookie);
    if (FAILED(hr)) {
        // Whatever a failing connection point kept, it can no longer reach
        // this dialer; without a sink Connected reads false.
        sink->SetOwner(nullptr);
        return hr;
    }
    m_pEventSink.store(sink.Detach());
    return S_OK;
}
