// The class object for CLSID_TAPI that serves a ServiceCore's root objects.
#pragma once

#include <unknwn.h>

#include <functional>
#include <memory>

namespace telsim {

class ServiceCore;

class ClassFactory final : public IClassFactory {
public:
    // lockServer, if given, is called for IClassFactory::LockServer.
    static HRESULT Create(std::shared_ptr<ServiceCore> core, std::function<void(bool)> lockServer,
                          IClassFactory** result) noexcept;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP LockServer(BOOL lock) noexcept override;

private:
    ClassFactory(std::shared_ptr<ServiceCore> core, std::function<void(bool)> lockServer) noexcept;
    ~ClassFactory() = default;

    LONG refs_ = 1;
    std::shared_ptr<ServiceCore> core_;
    std::function<void(bool)> lockServer_;
};

}  // namespace telsim
