// Placing a call: number translation, call creation, terminals and the
// asynchronous start.
#include "comkit/bstr.h"
#include "comkit/result.h"
#include "dialer/enumeration.h"
#include "dialer/error_reporting.h"
#include "dialer/road.h"
#include "resources/message_ids.h"

using Microsoft::WRL::ComPtr;

HRESULT CTAPIDialer::Connect(BSTR bstrNumber) noexcept {
    Road road(*this);
    if (!road) {
        return dialer::kDialerBusy;
    }
    if (!m_pTapi) {
        dialer::ReportDialerMessage(IDS_TAPI_INIT_FAILED);
        return E_FAIL;
    }
    // One call at a time: a started call is hung up as Disconnect does, and
    // a failure to hang it up does not stop the new one; a call that was
    // never started is let go.
    {
        bool started = false;
        const ComPtr<ITBasicCallControl> previous = TakeCall(false, started);
        if (started) {
            (void)previous->Disconnect(DC_NORMAL);
        }
    }
    if (!EnsureAddress()) {
        dialer::ReportDialerMessage(IDS_NO_VALID_ADDRESS);
        return E_FAIL;
    }
    // Whether the line was chosen here or by the host, its calls are followed.
    RETURN_IF_FAILED(RegisterForCallEvents());

    comkit::UniqueBstr errorText;
    const HRESULT hr = PlaceCall(bstrNumber, errorText);
    if (FAILED(hr) && errorText.Length() > 0) {
        dialer::ReportDialerError(errorText.Get());
    }
    return hr;
}

HRESULT CTAPIDialer::PlaceCall(BSTR bstrNumber, comkit::UniqueBstr& errorText) noexcept {
    ComPtr<ITAddressTranslation> translation;
    if (FAILED(m_pAddress.As(&translation)) || !translation) {
        errorText = dialer::LoadMessage(IDS_TRANSLATION_FAILED);
        return E_FAIL;
    }
    comkit::UniqueBstr dialable;
    {
        ComPtr<ITAddressTranslationInfo> translated;
        RETURN_IF_FAILED(translation->TranslateAddress(bstrNumber, 0, 0, &translated));
        if (!translated) {
            errorText = dialer::LoadMessage(IDS_TRANSLATION_FAILED);
            return E_FAIL;
        }
        RETURN_IF_FAILED(translated->get_DialableString(dialable.Receive()));
    }

    // The call is worked on through this reference of its own: the sink
    // may take m_pCall out meanwhile, once its connect has started.
    ComPtr<ITBasicCallControl> call;
    HRESULT hr = m_pAddress->CreateCall(dialable.Get(), LINEADDRESSTYPE_PHONENUMBER,
                                        telephony::DIALER_MEDIA_TYPES, &call);
    if (SUCCEEDED(hr) && !call) {
        hr = E_UNEXPECTED;
    }
    if (FAILED(hr)) {
        errorText = dialer::ErrorTextForHresult(hr);
        return hr;
    }
    dialable.Reset();
    translation.Reset();
    StoreCall(call);

    hr = SelectTerminalsOnCall(call.Get());
    if (FAILED(hr)) {
        errorText = dialer::ErrorTextForHresult(hr);
        return hr;
    }

    hr = call->Connect(VARIANT_FALSE);
    if (FAILED(hr)) {
        errorText = dialer::ErrorTextForHresult(hr);
        return hr;
    }
    MarkCallStarted(call.Get());
    return hr;
}

HRESULT CTAPIDialer::SelectTerminalsOnCall(ITBasicCallControl* call) noexcept {
    ComPtr<IEnumStream> streams;
    {
        ComPtr<ITStreamControl> streamControl;
        HRESULT hr = call->QueryInterface(IID_PPV_ARGS(&streamControl));
        if (SUCCEEDED(hr)) {
            hr = streamControl ? streamControl->EnumerateStreams(&streams) : E_NOINTERFACE;
        }
        if (FAILED(hr)) {
            // A call without streams needs no terminals.
            return hr == E_NOINTERFACE ? S_OK : E_FAIL;
        }
        if (!streams) {
            return E_FAIL;
        }
    }

    int selected = 0;
    ComPtr<ITStream> stream;
    while (dialer::NextItem(streams.Get(), stream) == S_OK) {
        long mediaType = 0;
        if (FAILED(stream->get_MediaType(&mediaType))) {
            continue;
        }
        TERMINAL_DIRECTION direction = TD_CAPTURE;
        if (FAILED(stream->get_Direction(&direction))) {
            continue;
        }
        ComPtr<ITTerminalSupport> terminalSupport;
        if (FAILED(m_pAddress.As(&terminalSupport)) || !terminalSupport) {
            continue;
        }
        ComPtr<ITTerminal> terminal;
        if (FAILED(terminalSupport->GetDefaultStaticTerminal(mediaType, direction, &terminal)) ||
            !terminal) {
            continue;
        }
        if (SUCCEEDED(stream->SelectTerminal(terminal.Get()))) {
            ++selected;
        }
    }
    return selected > 0 ? S_OK : E_FAIL;
}
