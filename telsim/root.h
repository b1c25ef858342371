// The telephony root object (ITTAPI) with its connection point container,
// and the connection point for ITTAPIEventNotification.
#pragma once

#include "telsim/address.h"
#include "telsim/sim_object.h"

#include <atomic>
#include <mutex>
#include <vector>

#include <ocidl.h>
#include <olectl.h>

namespace telsim {

class Root final : public SimObject, public ITTAPI, public IConnectionPointContainer {
public:
    explicit Root(Service& service) noexcept;

    bool IsInitialized() const noexcept { return initialized_.load(); }
    long Filter() const noexcept { return filter_.load(); }

    TELSIM_IUNKNOWN
    TELSIM_NO_DISPATCH

    // ITTAPI
    STDMETHODIMP Initialize() noexcept override;
    STDMETHODIMP Shutdown() noexcept override;
    STDMETHODIMP get_Addresses(VARIANT* addresses) noexcept override;
    STDMETHODIMP EnumerateAddresses(IEnumAddress** result) noexcept override;
    STDMETHODIMP RegisterCallNotifications(ITAddress* address, VARIANT_BOOL monitor,
                                           VARIANT_BOOL owner, long mediaTypes,
                                           long callbackInstance, long* handle) noexcept override;
    STDMETHODIMP UnregisterNotifications(long handle) noexcept override;
    STDMETHODIMP get_CallHubs(VARIANT*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP EnumerateCallHubs(IEnumCallHub**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SetCallHubTracking(VARIANT, VARIANT_BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP EnumeratePrivateTAPIObjects(IEnumUnknown**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_PrivateTAPIObjects(VARIANT*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP RegisterRequestRecipient(long, long, VARIANT_BOOL) noexcept override {
        return E_NOTIMPL;
    }
    STDMETHODIMP SetAssistedTelephonyPriority(BSTR, VARIANT_BOOL) noexcept override {
        return E_NOTIMPL;
    }
    STDMETHODIMP SetApplicationPriority(BSTR, long, VARIANT_BOOL) noexcept override {
        return E_NOTIMPL;
    }
    STDMETHODIMP put_EventFilter(long filter) noexcept override;
    STDMETHODIMP get_EventFilter(long* filter) noexcept override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** result) noexcept override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** result) noexcept override;

private:
    HRESULT Query(REFIID riid, void** ppv) noexcept;
    void OnDestroy() noexcept override;
    // The client's last release ends its session: work.
    void OnLastClientRelease() noexcept override {
        if (OnlyReadsHere()) {
            Report(L"last Release from the notification thread, inside Event, of");
        }
    }
    // The root's own address objects, made from the world's lines on the
    // thread that enumerates them, so in its apartment, as the real service
    // makes them for the application; made again when the lines change.
    std::vector<Held<Address>> Addresses();

    std::mutex mu_;
    std::vector<Held<Address>> addresses_;
    unsigned linesVersion_ = 0;
    std::atomic<bool> initialized_{false};
    std::atomic<bool> everInitialized_{false};
    std::atomic<long> filter_{0};
};

class ConnectionPoint final : public SimObject, public IConnectionPoint {
public:
    ConnectionPoint(Service& service, Root* root) noexcept;

    TELSIM_IUNKNOWN

    STDMETHODIMP GetConnectionInterface(IID* iid) noexcept override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** result) noexcept override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) noexcept override;
    STDMETHODIMP Unadvise(DWORD cookie) noexcept override;
    STDMETHODIMP EnumConnections(IEnumConnections** result) noexcept override;

private:
    HRESULT Query(REFIID riid, void** ppv) noexcept;
    void OnDestroy() noexcept override { root_.Reset(); }

    Held<Root> root_;
};

}  // namespace telsim
