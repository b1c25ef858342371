// Registration of the type library that a library file carries.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string_view>

#include "comkit/wide_buffer.h"

namespace comkit {

// Loads the type library from modulePath (its resource TYPELIB 1) or, failing
// that, from the file of the same path with the extension ".tlb". *loadedFrom
// (optional) receives the path it was loaded from.
HRESULT LoadTypeLibFromModule(std::wstring_view modulePath, ITypeLib** lib,
                              WideBuffer* loadedFrom = nullptr) noexcept;

// Registers it under the path it was loaded from, with the directory of its
// help file (if it names one) as help directory.
HRESULT RegisterTypeLibFromModule(std::wstring_view modulePath) noexcept;

// Unregisters it by the identifier, version, locale and system kind that it
// declares.
HRESULT UnregisterTypeLibFromModule(std::wstring_view modulePath) noexcept;

}  // namespace comkit
