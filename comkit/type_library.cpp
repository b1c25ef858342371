#include "comkit/type_library.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <string>

#include "comkit/bstr.h"
#include "comkit/result.h"

using Microsoft::WRL::ComPtr;

namespace comkit {

HRESULT LoadTypeLibFromModule(std::wstring_view modulePath, ITypeLib** lib,
                              std::wstring* loadedFrom) noexcept {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  return GuardCall([&]() -> HRESULT {
    std::wstring path(modulePath);
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib);
    if (FAILED(hr)) {
      const size_t slash = path.find_last_of(L"\\/");
      const size_t dot = path.find_last_of(L'.');
      if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) path.erase(dot);
      path += L".tlb";
      hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib);
      if (FAILED(hr)) {
        *lib = nullptr;
        return hr;
      }
    }
    if (loadedFrom) *loadedFrom = std::move(path);
    return S_OK;
  });
}

HRESULT RegisterTypeLibFromModule(std::wstring_view modulePath) noexcept {
  return GuardCall([&]() -> HRESULT {
    ComPtr<ITypeLib> lib;
    std::wstring path;
    RETURN_IF_FAILED(LoadTypeLibFromModule(modulePath, &lib, &path));
    UniqueBstr helpFile;
    std::wstring helpDir;
    if (SUCCEEDED(lib->GetDocumentation(-1, nullptr, nullptr, nullptr, helpFile.Receive())) && helpFile) {
      helpDir.assign(helpFile.Get(), helpFile.Length());
      const size_t slash = helpDir.find_last_of(L"\\/");
      helpDir.erase(slash == std::wstring::npos ? 0 : slash);
    }
    return RegisterTypeLib(lib.Get(), path.data(), helpDir.empty() ? nullptr : helpDir.data());
  });
}

HRESULT UnregisterTypeLibFromModule(std::wstring_view modulePath) noexcept {
  ComPtr<ITypeLib> lib;
  RETURN_IF_FAILED(LoadTypeLibFromModule(modulePath, &lib));
  TLIBATTR* attr = nullptr;
  RETURN_IF_FAILED(lib->GetLibAttr(&attr));
  const TLIBATTR copy = *attr;
  lib->ReleaseTLibAttr(attr);
  return UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}

}  // namespace comkit
