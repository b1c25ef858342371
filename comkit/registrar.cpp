#include "comkit/registrar.h"

#include <cwchar>
#include <new>

#include "comkit/registry_script.h"
#include "comkit/result.h"

namespace comkit {
namespace {

HRESULT FromStatus(LSTATUS status) noexcept {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT SetValue(HKEY key, const ScriptValue& value) noexcept {
    const wchar_t* name = *value.name ? value.name : nullptr;
    if (value.type == REG_DWORD) {
        return FromStatus(RegSetValueExW(
            key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.number), sizeof(DWORD)));
    }
    const DWORD bytes = static_cast<DWORD>((value.length + 1) * sizeof(wchar_t));
    return FromStatus(
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text), bytes));
}

class Writer final : public ScriptActions {
public:
    HRESULT Enter(HKEY parent, const ScriptKey& key, UniqueHkey& opened) noexcept override {
        if (key.mark == ScriptKey::Mark::ForceRemove) {
            const LSTATUS status = RegDeleteTreeW(parent, key.name);
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
                return HRESULT_FROM_WIN32(status);
            }
        }
        HKEY handle = nullptr;
        RETURN_IF_FAILED(FromStatus(RegCreateKeyExW(
            parent, key.name, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &handle, nullptr)));
        *opened.Receive() = handle;
        return key.defaultValue ? SetValue(opened.Get(), *key.defaultValue) : S_OK;
    }
    HRESULT Value(HKEY key, const ScriptValue& value) noexcept override {
        return SetValue(key, value);
    }
    HRESULT Leave(HKEY, const ScriptKey&, UniqueHkey&) noexcept override { return S_OK; }
};

class Remover final : public ScriptActions {
public:
    HRESULT Enter(HKEY parent, const ScriptKey& key, UniqueHkey& opened) noexcept override {
        HKEY handle = nullptr;
        if (RegOpenKeyExW(parent, key.name, 0, KEY_READ | KEY_WRITE, &handle) == ERROR_SUCCESS) {
            *opened.Receive() = handle;
        }
        return S_OK;
    }
    HRESULT Value(HKEY key, const ScriptValue& value) noexcept override {
        const LSTATUS status = RegDeleteValueW(key, value.name);
        return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
    }
    HRESULT Leave(HKEY parent, const ScriptKey& key, UniqueHkey& opened) noexcept override {
        if (key.mark == ScriptKey::Mark::NoRemove) {
            return S_OK;
        }
        DWORD subkeys = 0;
        RETURN_IF_FAILED(
            FromStatus(RegQueryInfoKeyW(opened.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)));
        opened.Reset();
        if (subkeys != 0) {
            return S_OK;
        }
        return FromStatus(RegDeleteKeyW(parent, key.name));
    }
};

}  // namespace

bool DoubleQuotes(std::wstring_view text, WideBuffer& out) noexcept {
    out.Clear();
    for (wchar_t c : text) {
        if (!out.Append(c) || (c == L'\'' && !out.Append(c))) {
            return false;
        }
    }
    return true;
}

HRESULT Registrar::AddReplacement(std::wstring_view name, std::wstring_view value) noexcept {
    std::unique_ptr<Replacement> added(new (std::nothrow) Replacement);
    if (!added || !added->name.Assign(name) || !added->value.Assign(value)) {
        return E_OUTOFMEMORY;
    }
    std::unique_ptr<Replacement>* last = &m_replacements;
    while (*last) {
        last = &(*last)->next;
    }
    *last = std::move(added);
    return S_OK;
}

const Registrar::Replacement* Registrar::Find(std::wstring_view name) const noexcept {
    for (const Replacement* r = m_replacements.get(); r; r = r->next.get()) {
        if (r->name.Size() == name.size() &&
            _wcsnicmp(r->name.CStr(), name.data(), name.size()) == 0) {
            return r;
        }
    }
    return nullptr;
}

HRESULT Registrar::Expand(std::string_view script, WideBuffer& text) const noexcept {
    WideBuffer raw;
    if (!script.empty()) {
        const int length = MultiByteToWideChar(CP_ACP, 0, script.data(),
                                               static_cast<int>(script.size()), nullptr, 0);
        if (length <= 0) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        if (!raw.Resize(static_cast<size_t>(length))) {
            return E_OUTOFMEMORY;
        }
        MultiByteToWideChar(CP_ACP, 0, script.data(), static_cast<int>(script.size()), raw.Data(),
                            length);
    }
    // Refused here, not only by the parser: a NUL inside %name% would make the
    // name compare equal to its text up to the NUL and vanish with the replacement.
    const std::wstring_view in = raw.View();
    if (in.find(L'\0') != std::wstring_view::npos) {
        return E_REGISTRY_SCRIPT;
    }
    text.Clear();
    for (size_t i = 0; i < in.size(); ++i) {
        bool appended;
        if (in[i] != L'%') {
            appended = text.Append(in[i]);
        } else {
            const size_t end = in.find(L'%', i + 1);
            if (end == std::wstring_view::npos) {
                return E_REGISTRY_SCRIPT;
            }
            const std::wstring_view name(in.data() + i + 1, end - i - 1);
            if (name.empty()) {
                appended = text.Append(L'%');
            } else {
                const Replacement* found = Find(name);
                if (!found) {
                    return E_REGISTRY_SCRIPT;
                }
                appended = text.Append(found->value.View());
            }
            i = end;
        }
        if (!appended) {
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

HRESULT Registrar::Run(std::string_view script, bool doRegister) noexcept {
    WideBuffer text;
    RETURN_IF_FAILED(Expand(script, text));
    if (!doRegister) {
        Remover remover;
        return WalkRegistryScript(text.View(), remover);
    }
    Writer writer;
    const HRESULT hr = WalkRegistryScript(text.View(), writer);
    if (FAILED(hr)) {
        // A malformed script fails its check again here and stays untouched.
        Remover undo;
        (void)WalkRegistryScript(text.View(), undo);
    }
    return hr;
}

HRESULT Registrar::Register(std::string_view script) noexcept {
    return Run(script, true);
}

HRESULT Registrar::Unregister(std::string_view script) noexcept {
    return Run(script, false);
}

HRESULT Registrar::RunResource(HMODULE module, UINT id, bool doRegister) noexcept {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
    if (!resource) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    const DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    return Run(std::string_view(static_cast<const char*>(data), size), doRegister);
}

HRESULT GetModulePath(HMODULE module, WideBuffer& path) noexcept {
    wchar_t buffer[MAX_PATH];
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0) {
        const DWORD error = GetLastError();
        return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
    }
    if (length >= MAX_PATH) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    return path.Assign(std::wstring_view(buffer, length)) ? S_OK : E_OUTOFMEMORY;
}

HRESULT UpdateRegistryFromResource(HMODULE module, std::wstring_view modulePath, UINT id,
                                   bool doRegister) noexcept {
    if (modulePath.size() >= MAX_PATH) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    WideBuffer quoted;
    if (!DoubleQuotes(modulePath, quoted)) {
        return E_OUTOFMEMORY;
    }
    Registrar registrar;
    RETURN_IF_FAILED(registrar.AddReplacement(L"MODULE", quoted.View()));
    RETURN_IF_FAILED(registrar.AddReplacement(L"Module_Raw", modulePath));
    return registrar.RunResource(module, id, doRegister);
}

}  // namespace comkit
