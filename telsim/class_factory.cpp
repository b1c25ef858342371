#include "telsim/class_factory.h"

#include "comkit/result.h"
#include "telsim/service_core.h"

#include <new>

namespace telsim {

ClassFactory::ClassFactory(std::shared_ptr<ServiceCore> core, std::function<void(bool)> lockServer) noexcept
    : core_(std::move(core)), lockServer_(std::move(lockServer)) {}

HRESULT ClassFactory::Create(std::shared_ptr<ServiceCore> core, std::function<void(bool)> lockServer,
                             IClassFactory** result) noexcept {
    if (!result) return E_POINTER;
    *result = nullptr;
    auto* factory = new (std::nothrow) ClassFactory(std::move(core), std::move(lockServer));
    if (!factory) return E_OUTOFMEMORY;
    *result = factory;
    return S_OK;
}

HRESULT ClassFactory::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG ClassFactory::AddRef() noexcept {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
}

ULONG ClassFactory::Release() noexcept {
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    return core_->CreateRoot(outer, riid, ppv);
}

HRESULT ClassFactory::LockServer(BOOL lock) noexcept {
    if (lockServer_) lockServer_(lock != FALSE);
    return S_OK;
}

}  // namespace telsim
