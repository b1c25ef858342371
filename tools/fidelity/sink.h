// An event sink that counts the events it is given and where they came
// from: on the thread that made it ("home") or on another.
#pragma once

#include "tools/fidelity/service.h"

#include <atomic>

namespace fidelity {

class Sink final : public ITTAPIEventNotification {
public:
    // An agile sink hands out the free-threaded marshaler, so that the
    // service may call it directly from any thread; a plain one is called
    // in the apartment that advised it.
    static ComPtr<Sink> Make(bool agile);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;
    // Touches nothing of the event: the service's objects may answer only
    // in their own apartment.
    STDMETHODIMP Event(TAPI_EVENT kind, IDispatch* event) noexcept override;

    long Count() const { return atHome_.load() + elsewhere_.load(); }
    long AtHome() const { return atHome_.load(); }
    long Elsewhere() const { return elsewhere_.load(); }
    // Set at each event.
    HANDLE Signal() const { return signal_; }

private:
    Sink();
    ~Sink();

    std::atomic<ULONG> refs_{1};
    const DWORD home_;
    std::atomic<long> atHome_{0};
    std::atomic<long> elsewhere_{0};
    HANDLE signal_;
    ComPtr<IUnknown> marshaler_;
};

// A sink advised on a root object's connection point until this goes.
class Advised {
public:
    Advised() = default;
    Advised(const Advised&) = delete;
    Advised& operator=(const Advised&) = delete;
    ~Advised();

    HRESULT Advise(ITTAPI* root, ITTAPIEventNotification* sink);

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

}  // namespace fidelity
