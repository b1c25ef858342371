#include "tools/fidelity/sink.h"

#include <new>

namespace fidelity {

ComPtr<Sink> Sink::Make(bool agile) {
    ComPtr<Sink> sink;
    sink.Attach(new (std::nothrow) Sink());
    if (sink && agile) {
        CoCreateFreeThreadedMarshaler(sink.Get(), &sink->marshaler_);
    }
    return sink;
}

Sink::Sink() : home_(GetCurrentThreadId()), signal_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

Sink::~Sink() {
    if (signal_) {
        CloseHandle(signal_);
    }
}

STDMETHODIMP Sink::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (marshaler_ && IsEqualIID(riid, IID_IMarshal)) {
        return marshaler_->QueryInterface(riid, ppv);
    }
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ITTAPIEventNotification)) {
        return E_NOINTERFACE;
    }
    *ppv = static_cast<ITTAPIEventNotification*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) Sink::AddRef() noexcept {
    return ++refs_;
}

STDMETHODIMP_(ULONG) Sink::Release() noexcept {
    const ULONG left = --refs_;
    if (left == 0) {
        delete this;
    }
    return left;
}

STDMETHODIMP Sink::Event(TAPI_EVENT, IDispatch*) noexcept {
    if (GetCurrentThreadId() == home_) {
        ++atHome_;
    } else {
        ++elsewhere_;
    }
    SetEvent(signal_);
    return S_OK;
}

Advised::~Advised() {
    if (point_) {
        point_->Unadvise(cookie_);
    }
}

HRESULT Advised::Advise(ITTAPI* root, ITTAPIEventNotification* sink) {
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = root->QueryInterface(IID_PPV_ARGS(&container));
    if (SUCCEEDED(hr)) {
        hr = container->FindConnectionPoint(IID_ITTAPIEventNotification, &point_);
    }
    if (SUCCEEDED(hr)) {
        hr = point_->Advise(sink, &cookie_);
    }
    if (FAILED(hr)) {
        point_.Reset();
    }
    return hr;
}

}  // namespace fidelity
