// Registration of TelSim.dll as the in-process server of CLSID_TAPI.
#pragma once

#include <windows.h>

#include <string>

namespace telsim::dll {

// Writes CLSID\{CLSID_TAPI} under HKEY_CLASSES_ROOT for the module at
// modulePath, unless another server is registered for that class: then
// nothing is written, message says which, and the result is
// HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS).
HRESULT Register(const std::wstring& modulePath, std::wstring& message);

// Removes the class key if, and only if, it names modulePath (or a
// TelSim.dll); another server's registration is left alone (S_FALSE).
HRESULT Unregister(const std::wstring& modulePath, std::wstring& message);

}  // namespace telsim::dll
