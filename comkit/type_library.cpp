#include "comkit/type_library.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <utility>

#include "comkit/bstr.h"
#include "comkit/result.h"

using Microsoft::WRL::ComPtr;

namespace comkit {

HRESULT LoadTypeLibFromModule(std::wstring_view modulePath, ITypeLib** lib,
                              WideBuffer* loadedFrom) noexcept {
    if (!lib) {
        return E_POINTER;
    }
    *lib = nullptr;
    WideBuffer path;
    if (!path.Assign(modulePath)) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = LoadTypeLibEx(path.CStr(), REGKIND_NONE, lib);
    if (FAILED(hr)) {
        const std::wstring_view view = path.View();
        const size_t slash = view.find_last_of(L"\\/");
        const size_t dot = view.find_last_of(L'.');
        if (dot != std::wstring_view::npos && (slash == std::wstring_view::npos || dot > slash)) {
            path.Truncate(dot);
        }
        if (!path.Append(L".tlb")) {
            return E_OUTOFMEMORY;
        }
        hr = LoadTypeLibEx(path.CStr(), REGKIND_NONE, lib);
        if (FAILED(hr)) {
            *lib = nullptr;
            return hr;
        }
    }
    if (loadedFrom) {
        *loadedFrom = std::move(path);
    }
    return S_OK;
}

HRESULT RegisterTypeLibFromModule(std::wstring_view modulePath) noexcept {
    ComPtr<ITypeLib> lib;
    WideBuffer path;
    RETURN_IF_FAILED(LoadTypeLibFromModule(modulePath, &lib, &path));
    UniqueBstr helpFile;
    WideBuffer helpDir;
    if (SUCCEEDED(lib->GetDocumentation(-1, nullptr, nullptr, nullptr, helpFile.Receive())) &&
        helpFile) {
        const std::wstring_view file(helpFile.Get(), helpFile.Length());
        const size_t slash = file.find_last_of(L"\\/");
        if (slash != std::wstring_view::npos && !helpDir.Append(file.data(), slash)) {
            return E_OUTOFMEMORY;
        }
    }
    return RegisterTypeLib(lib.Get(), path.Data(), helpDir.Empty() ? nullptr : helpDir.Data());
}

HRESULT UnregisterTypeLibFromModule(std::wstring_view modulePath) noexcept {
    ComPtr<ITypeLib> lib;
    RETURN_IF_FAILED(LoadTypeLibFromModule(modulePath, &lib));
    TLIBATTR* attr = nullptr;
    RETURN_IF_FAILED(lib->GetLibAttr(&attr));
    const TLIBATTR copy = *attr;
    lib->ReleaseTLibAttr(attr);
    return UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid,
                             copy.syskind);
}

}  // namespace comkit
