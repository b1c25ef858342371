// Registration of the call-event sink with the telephony service.
#include <new>

#include "comkit/result.h"
#include "dialer/tapi_dialer.h"

using Microsoft::WRL::ComPtr;

HRESULT CTAPIDialer::RegisterForCallEvents() noexcept {
    if (!m_pTapi || !m_pAddress) {
        return E_FAIL;
    }

    ComPtr<IConnectionPoint> connectionPoint;
    {
        ComPtr<IConnectionPointContainer> container;
        RETURN_IF_FAILED(m_pTapi.As(&container));
        if (!container) {
            return E_NOINTERFACE;
        }
        RETURN_IF_FAILED(container->FindConnectionPoint(IID_ITTAPIEventNotification,
                                                        &connectionPoint));
        if (!connectionPoint) {
            return E_POINTER;
        }
    }

    // The creation reference, dropped once the connection point holds the
    // sink (or on any failure before); the dialer keeps one of its own.
    ComPtr<CTAPIDialerEventNotification> created;
    if (!m_pEventSink) {
        // Not Attach: mingw's ComPtr::Attach adds a reference of its own.
        *created.ReleaseAndGetAddressOf() = new (std::nothrow) CTAPIDialerEventNotification();
        if (!created) {
            return E_OUTOFMEMORY;
        }
        m_pEventSink = created;
    }
    m_pEventSink->SetOwner(this);

    RETURN_IF_FAILED(connectionPoint->Advise(m_pEventSink.Get(), &m_dwAdviseCookie));
    created.Reset();

    RETURN_IF_FAILED(m_pTapi->put_EventFilter(TE_CALLSTATE));

    LONG registration = 0;
    RETURN_IF_FAILED(m_pTapi->RegisterCallNotifications(
        m_pAddress.Get(), VARIANT_TRUE, VARIANT_FALSE, telephony::DIALER_MEDIA_TYPES,
        static_cast<long>(m_dwAdviseCookie), &registration));
    m_lCallRegister = registration;
    return S_OK;
}
