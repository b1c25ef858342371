#include "direct_calls.h"

#include <string>

using Microsoft::WRL::ComPtr;

namespace bench {

STDMETHODIMP FloorSink::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv) {
        return E_POINTER;
    }
    if (riid != IID_IUnknown && riid != IID_ITTAPIEventNotification) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    *ppv = static_cast<ITTAPIEventNotification*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP FloorSink::Event(TAPI_EVENT kind, IDispatch* event) noexcept {
    if (kind != TE_CALLSTATE || !event) {
        return S_OK;
    }
    ComPtr<ITCallStateEvent> stateEvent;
    ComPtr<ITCallInfo> call;
    if (FAILED(event->QueryInterface(IID_PPV_ARGS(&stateEvent))) ||
        FAILED(stateEvent->get_Call(&call)) || !call) {
        return S_OK;
    }
    CALL_STATE state = CS_IDLE;
    call->get_CallState(&state);
    state_ = state;
    return S_OK;
}

DirectCalls::DirectCalls() {
    if (FAILED(CoCreateInstance(CLSID_TAPI, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&tapi_))) ||
        FAILED(tapi_->Initialize())) {
        tapi_.Reset();
        return;
    }
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IEnumAddress> addresses;
    if (FAILED(tapi_.As(&container)) ||
        FAILED(container->FindConnectionPoint(IID_ITTAPIEventNotification, &point_)) ||
        FAILED(point_->Advise(&sink_, &cookie_)) || FAILED(tapi_->put_EventFilter(TE_CALLSTATE)) ||
        FAILED(tapi_->EnumerateAddresses(&addresses)) ||
        addresses->Next(1, &address_, nullptr) != S_OK) {
        address_.Reset();
        return;
    }
    if (FAILED(tapi_->RegisterCallNotifications(address_.Get(), VARIANT_TRUE, VARIANT_FALSE,
                                                telephony::DIALER_MEDIA_TYPES, cookie_,
                                                &registration_))) {
        address_.Reset();
    }
}

DirectCalls::~DirectCalls() {
    if (!tapi_) {
        return;
    }
    if (registration_ != 0) {
        tapi_->UnregisterNotifications(registration_);
    }
    if (cookie_ != 0) {
        point_->Unadvise(cookie_);
    }
    address_.Reset();
    tapi_->Shutdown();
}

HRESULT DirectCalls::Cycle(BSTR number) {
    ComPtr<ITAddressTranslation> translation;
    address_.As(&translation);
    ComPtr<ITAddressTranslationInfo> info;
    translation->TranslateAddress(number, 0, 0, &info);
    BSTR dialable = nullptr;
    info->get_DialableString(&dialable);
    info.Reset();
    ComPtr<ITBasicCallControl> call;
    const HRESULT created = address_->CreateCall(dialable, LINEADDRESSTYPE_PHONENUMBER,
                                                 telephony::DIALER_MEDIA_TYPES, &call);
    SysFreeString(dialable);
    if (FAILED(created)) {
        return created;
    }
    ComPtr<ITStreamControl> streamControl;
    ComPtr<IEnumStream> streams;
    if (SUCCEEDED(call.As(&streamControl))) {
        streamControl->EnumerateStreams(&streams);
    }
    streamControl.Reset();
    ComPtr<ITStream> stream;
    while (streams && streams->Next(1, &stream, nullptr) == S_OK) {
        long mediaType = 0;
        TERMINAL_DIRECTION direction;
        stream->get_MediaType(&mediaType);
        stream->get_Direction(&direction);
        ComPtr<ITTerminalSupport> terminals;
        address_.As(&terminals);
        ComPtr<ITTerminal> terminal;
        if (SUCCEEDED(terminals->GetDefaultStaticTerminal(mediaType, direction, &terminal))) {
            stream->SelectTerminal(terminal.Get());
        }
        stream.Reset();
    }
    streams.Reset();
    const HRESULT connected = call->Connect(VARIANT_FALSE);
    if (FAILED(connected)) {
        return connected;
    }
    return call->Disconnect(DC_NORMAL);
}

HRESULT ListDirectly(ITTAPI* tapi) {
    ComPtr<IEnumAddress> addresses;
    const HRESULT hr = tapi->EnumerateAddresses(&addresses);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<ITAddress> address;
    std::wstring list;
    while (addresses->Next(1, &address, nullptr) == S_OK) {
        ComPtr<ITAddressCapabilities> capabilities;
        ComPtr<ITMediaSupport> media;
        long types = 0;
        VARIANT_BOOL supported = VARIANT_FALSE;
        address.As(&capabilities);
        capabilities->get_AddressCapability(AC_ADDRESSTYPES, &types);
        address.As(&media);
        media->QueryMediaType(telephony::DIALER_MEDIA_TYPES, &supported);
        BSTR name = nullptr;
        address->get_AddressName(&name);
        if (!list.empty()) {
            list += L',';
        }
        list.append(name, SysStringLen(name));
        SysFreeString(name);
        address.Reset();
    }
    // The member answers a BSTR, which its caller frees: the same copy here.
    BSTR copy = SysAllocStringLen(list.data(), static_cast<UINT>(list.size()));
    if (!copy) {
        return E_OUTOFMEMORY;
    }
    SysFreeString(copy);
    return S_OK;
}

}  // namespace bench
