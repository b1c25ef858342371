#include "harness.h"

#include <cstdio>
#include <cstdlib>

using Microsoft::WRL::ComPtr;

namespace bench {

void Fail(const char* what, HRESULT hr) {
    if (hr != S_OK) {
        std::printf("bench failed: %s (0x%08lX)\n", what, static_cast<unsigned long>(hr));
    } else {
        std::printf("bench failed: %s\n", what);
    }
    std::fflush(stdout);
    std::exit(1);
}

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        Fail(what, hr);
    }
}

HRESULT LoadComponent(const wchar_t* path, Component& c) {
    c.module = LoadLibraryW(path);
    if (!c.module) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject =
        reinterpret_cast<GetClassObject>(GetProcAddress(c.module, "DllGetClassObject"));
    c.registerServer =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(c.module, "DllRegisterServer"));
    c.unregisterServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        GetProcAddress(c.module, "DllUnregisterServer"));
    if (!getClassObject || !c.registerServer || !c.unregisterServer) {
        return E_NOINTERFACE;
    }
    return getClassObject(CLSID_TAPIDialer, IID_PPV_ARGS(&c.factory));
}

ComPtr<ITAPIDialer> NewDialer(Component& c) {
    ComPtr<ITAPIDialer> dialer;
    Check(c.factory->CreateInstance(nullptr, IID_PPV_ARGS(&dialer)), "creating a dialer");
    return dialer;
}

}  // namespace bench
