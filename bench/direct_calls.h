// The telephony service's calls that the dialer makes, made directly: the
// floor under the dialer's own work, against which its rows are compared.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include "telephony/tapi.h"

namespace bench {

// A sink that does what any client's sink must do with a call-state event.
class FloorSink final : public ITTAPIEventNotification {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return InterlockedIncrement(&ref_); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return InterlockedDecrement(&ref_); }
    STDMETHODIMP Event(TAPI_EVENT kind, IDispatch* event) noexcept override;

private:
    LONG ref_ = 1;  // owned by its DirectCalls, which outlives its advice
    volatile LONG state_ = 0;
};

// A root object initialised with the sink advised and registered for call
// notifications on the first line, as the dialer's first Connect leaves it.
class DirectCalls {
public:
    DirectCalls();
    DirectCalls(const DirectCalls&) = delete;
    DirectCalls& operator=(const DirectCalls&) = delete;
    ~DirectCalls();

    bool Ready() const { return address_ != nullptr; }
    // The service calls of one Connect and Disconnect of the dialer.
    HRESULT Cycle(BSTR number);

private:
    FloorSink sink_;
    Microsoft::WRL::ComPtr<ITTAPI> tapi_;
    Microsoft::WRL::ComPtr<IConnectionPoint> point_;
    Microsoft::WRL::ComPtr<ITAddress> address_;
    DWORD cookie_ = 0;
    long registration_ = 0;
};

// The service calls of one GetAddressNameCSVList, made directly on an
// initialised root object, and the list built and handed over as a BSTR.
HRESULT ListDirectly(ITTAPI* tapi);

}  // namespace bench
