#include "comkit/registrar.h"

#include <cwchar>
#include <utility>

#include "comkit/registry_script.h"
#include "comkit/result.h"

namespace comkit {
namespace {

class UniqueHkey {
 public:
  UniqueHkey() noexcept = default;
  UniqueHkey(const UniqueHkey&) = delete;
  UniqueHkey& operator=(const UniqueHkey&) = delete;
  ~UniqueHkey() { Reset(); }
  HKEY Get() const noexcept { return m_key; }
  HKEY* Receive() noexcept {
    Reset();
    return &m_key;
  }
  void Reset() noexcept {
    if (m_key) RegCloseKey(m_key);
    m_key = nullptr;
  }

 private:
  HKEY m_key = nullptr;
};

HRESULT FromStatus(LSTATUS status) noexcept {
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT SetValue(HKEY key, const ScriptValue& value) noexcept {
  const wchar_t* name = value.name.empty() ? nullptr : value.name.c_str();
  if (value.type == REG_DWORD) {
    return FromStatus(RegSetValueExW(key, name, 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&value.number), sizeof(DWORD)));
  }
  const DWORD bytes = static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t));
  return FromStatus(RegSetValueExW(key, name, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.text.c_str()), bytes));
}

HRESULT WriteKey(HKEY parent, const ScriptKey& key) noexcept {
  if (key.mark == ScriptKey::Mark::ForceRemove) {
    const LSTATUS status = RegDeleteTreeW(parent, key.name.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(status);
  }
  UniqueHkey handle;
  RETURN_IF_FAILED(FromStatus(RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, 0,
                                              KEY_READ | KEY_WRITE, nullptr, handle.Receive(), nullptr)));
  if (key.defaultValue) RETURN_IF_FAILED(SetValue(handle.Get(), *key.defaultValue));
  for (const ScriptValue& value : key.values) RETURN_IF_FAILED(SetValue(handle.Get(), value));
  for (const ScriptKey& sub : key.subkeys) RETURN_IF_FAILED(WriteKey(handle.Get(), sub));
  return S_OK;
}

HRESULT RemoveKey(HKEY parent, const ScriptKey& key) noexcept {
  UniqueHkey handle;
  if (RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, handle.Receive()) != ERROR_SUCCESS) {
    return S_OK;
  }
  for (const ScriptKey& sub : key.subkeys) RETURN_IF_FAILED(RemoveKey(handle.Get(), sub));
  for (const ScriptValue& value : key.values) {
    const LSTATUS status = RegDeleteValueW(handle.Get(), value.name.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(status);
  }
  if (key.mark == ScriptKey::Mark::NoRemove) return S_OK;
  DWORD subkeys = 0;
  RETURN_IF_FAILED(FromStatus(RegQueryInfoKeyW(handle.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)));
  handle.Reset();
  if (subkeys != 0) return S_OK;
  return FromStatus(RegDeleteKeyW(parent, key.name.c_str()));
}

HRESULT RemoveRoots(const std::vector<ScriptRoot>& roots) noexcept {
  for (const ScriptRoot& root : roots) {
    for (const ScriptKey& key : root.keys) RETURN_IF_FAILED(RemoveKey(root.root, key));
  }
  return S_OK;
}

HRESULT WriteRoots(const std::vector<ScriptRoot>& roots) noexcept {
  for (const ScriptRoot& root : roots) {
    for (const ScriptKey& key : root.keys) {
      const HRESULT hr = WriteKey(root.root, key);
      if (FAILED(hr)) {
        (void)RemoveRoots(roots);
        return hr;
      }
    }
  }
  return S_OK;
}

}  // namespace

std::wstring DoubleQuotes(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    out.push_back(c);
    if (c == L'\'') out.push_back(L'\'');
  }
  return out;
}

HRESULT Registrar::AddReplacement(std::wstring_view name, std::wstring_view value) noexcept {
  return GuardCall([&]() -> HRESULT {
    m_replacements.push_back({std::wstring(name), std::wstring(value)});
    return S_OK;
  });
}

HRESULT Registrar::Expand(std::string_view script, std::wstring& text) const {
  std::wstring raw;
  if (!script.empty()) {
    const int length = MultiByteToWideChar(CP_ACP, 0, script.data(), static_cast<int>(script.size()), nullptr, 0);
    if (length <= 0) return HRESULT_FROM_WIN32(GetLastError());
    raw.resize(static_cast<size_t>(length));
    MultiByteToWideChar(CP_ACP, 0, script.data(), static_cast<int>(script.size()), raw.data(), length);
  }
  // Refused here, not only by the parser: a NUL inside %name% would make the
  // name compare equal to its text up to the NUL and vanish with the replacement.
  if (raw.find(L'\0') != std::wstring::npos) return E_REGISTRY_SCRIPT;
  text.clear();
  text.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != L'%') {
      text.push_back(raw[i]);
      continue;
    }
    const size_t end = raw.find(L'%', i + 1);
    if (end == std::wstring::npos) return E_REGISTRY_SCRIPT;
    const std::wstring name = raw.substr(i + 1, end - i - 1);
    if (name.empty()) {
      text.push_back(L'%');
    } else {
      const Replacement* found = nullptr;
      for (const Replacement& r : m_replacements) {
        if (_wcsicmp(r.name.c_str(), name.c_str()) == 0) {
          found = &r;
          break;
        }
      }
      if (!found) return E_REGISTRY_SCRIPT;
      text += found->value;
    }
    i = end;
  }
  return S_OK;
}

HRESULT Registrar::Run(std::string_view script, bool doRegister) noexcept {
  std::vector<ScriptRoot> roots;
  RETURN_IF_FAILED(GuardCall([&]() -> HRESULT {
    std::wstring text;
    RETURN_IF_FAILED(Expand(script, text));
    return ParseRegistryScript(text, roots);
  }));
  return doRegister ? WriteRoots(roots) : RemoveRoots(roots);
}

HRESULT Registrar::Register(std::string_view script) noexcept { return Run(script, true); }

HRESULT Registrar::Unregister(std::string_view script) noexcept { return Run(script, false); }

HRESULT Registrar::RunResource(HMODULE module, UINT id, bool doRegister) noexcept {
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
  if (!resource) return HRESULT_FROM_WIN32(GetLastError());
  const DWORD size = SizeofResource(module, resource);
  HGLOBAL loaded = LoadResource(module, resource);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return HRESULT_FROM_WIN32(GetLastError());
  return Run(std::string_view(static_cast<const char*>(data), size), doRegister);
}

HRESULT GetModulePath(HMODULE module, std::wstring& path) noexcept {
  return GuardCall([&]() -> HRESULT {
    wchar_t buffer[MAX_PATH];
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0) {
      const DWORD error = GetLastError();
      return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
    }
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, length);
    return S_OK;
  });
}

HRESULT UpdateRegistryFromResource(HMODULE module, std::wstring_view modulePath, UINT id,
                                   bool doRegister) noexcept {
  if (modulePath.size() >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  Registrar registrar;
  RETURN_IF_FAILED(GuardCall([&]() -> HRESULT {
    RETURN_IF_FAILED(registrar.AddReplacement(L"MODULE", DoubleQuotes(modulePath)));
    return registrar.AddReplacement(L"Module_Raw", modulePath);
  }));
  return registrar.RunResource(module, id, doRegister);
}

}  // namespace comkit
