// The registrar: runs a registry script (registry_script.h) in registration
// or removal mode.
//
// Registration writes every key and value; a ForceRemove key is first
// deleted with its whole subtree. If a write fails, the same script is run
// in removal mode to undo what was written, and the write's failure is
// returned.
//
// Removal: a NoRemove key stays and is only entered; every other key is
// deleted after its listed subkeys have been dealt with, and only if it then
// has no subkeys left; listed named values are deleted. Keys that cannot be
// opened are passed over; removal stops at the first other failure.
#pragma once

#include <windows.h>

#include <memory>
#include <string_view>

#include "comkit/wide_buffer.h"

namespace comkit {

class Registrar {
public:
    Registrar() noexcept = default;
    Registrar(Registrar&&) noexcept = default;
    Registrar& operator=(Registrar&&) noexcept = default;
    ~Registrar() = default;

    // Offers %name% (matched without regard to case) to the script. "%%" stands
    // for one percent sign; any other name is a malformed script.
    HRESULT AddReplacement(std::wstring_view name, std::wstring_view value) noexcept;

    // script: 8-bit text in the ANSI code page, as stored in a REGISTRY resource.
    HRESULT Register(std::string_view script) noexcept;
    HRESULT Unregister(std::string_view script) noexcept;

    // Runs the resource of type "REGISTRY" with the given id from module.
    HRESULT RunResource(HMODULE module, UINT id, bool doRegister) noexcept;

private:
    struct Replacement {
        WideBuffer name;
        WideBuffer value;
        std::unique_ptr<Replacement> next;
    };

    HRESULT Run(std::string_view script, bool doRegister) noexcept;
    HRESULT Expand(std::string_view script, WideBuffer& text) const noexcept;
    const Replacement* Find(std::wstring_view name) const noexcept;

    std::unique_ptr<Replacement> m_replacements;  // in the order they were added
};

// Copies text to out with each single quote doubled, so that it can stand
// inside a quoted token. False when out cannot hold it.
[[nodiscard]] bool DoubleQuotes(std::wstring_view text, WideBuffer& out) noexcept;

// The full path of module's file. A path of MAX_PATH (260) characters or
// more gives HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER); other failures
// the platform's last error.
HRESULT GetModulePath(HMODULE module, WideBuffer& path) noexcept;

// Runs the REGISTRY resource id of module with %MODULE% (quotes doubled)
// and %Module_Raw% set to modulePath. A path of 260 characters or more fails
// with HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) before any key is touched.
HRESULT UpdateRegistryFromResource(HMODULE module, std::wstring_view modulePath, UINT id,
                                   bool doRegister) noexcept;

}  // namespace comkit
