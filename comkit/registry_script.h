// The registry-script language of the registrar:
//
//   HKCR
//   {
//       Some.ProgID = s 'Text'
//       {
//           CLSID = s '{...}'
//       }
//       NoRemove CLSID
//       {
//           ForceRemove {...} = s 'Text'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Both'
//               }
//           }
//       }
//   }
//
// Tokens are separated by white space; a quoted token runs to the next
// single quote that is not doubled ('' stands for one quote). Value kinds:
// s (string) and d (32-bit number). Keywords match without regard to case.
//
// A script is checked whole before anything is done with it, and then
// walked in order, keys before their own values and subkeys; nothing is
// kept of it but the keys on the way down to where the walk is.
#pragma once

#include <windows.h>

#include <string_view>

namespace comkit {

// Returned for every script that does not follow the language.
inline constexpr HRESULT E_REGISTRY_SCRIPT = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// Key names longer than the registry allows, value names and string data
// beyond these limits are refused.
inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxValueNameLength = 16383;
inline constexpr size_t kMaxValueDataLength = 4096;
// Keys nested deeper than this are refused too, so that parsing (which
// recurses once per level) is bounded.
inline constexpr int kMaxKeyDepth = 64;

// Owner of an open registry key.
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
        if (m_key) {
            RegCloseKey(m_key);
        }
        m_key = nullptr;
    }

private:
    HKEY m_key = nullptr;
};

struct ScriptValue {
    const wchar_t* name = L"";  // L"": the key's unnamed value
    DWORD type = REG_SZ;
    const wchar_t* text = L"";  // REG_SZ data, NUL-terminated
    size_t length = 0;          // of text, in characters
    DWORD number = 0;           // REG_DWORD data
};

struct ScriptKey {
    enum class Mark { None, NoRemove, ForceRemove };
    Mark mark = Mark::None;
    const wchar_t* name = L"";
    const ScriptValue* defaultValue = nullptr;  // null when the script gives none
};

// What a walk does at each key and value. A failure ends the walk with it.
class ScriptActions {
public:
    // key, under parent (a root key or a key that Enter opened). *opened
    // receives the key for its values and subkeys; left empty, the walk passes
    // over them and Leave is not called.
    virtual HRESULT Enter(HKEY parent, const ScriptKey& key, UniqueHkey& opened) noexcept = 0;
    // A "val" line of the key that Enter opened.
    virtual HRESULT Value(HKEY key, const ScriptValue& value) noexcept = 0;
    // After the key's values and subkeys; may close opened.
    virtual HRESULT Leave(HKEY parent, const ScriptKey& key, UniqueHkey& opened) noexcept = 0;

protected:
    ~ScriptActions() = default;
};

// Checks text (replacements already made): E_REGISTRY_SCRIPT when it is
// malformed, E_OUTOFMEMORY. Only a sound script is then walked with actions;
// the result is the first failure of an action, or S_OK.
HRESULT WalkRegistryScript(std::wstring_view text, ScriptActions& actions) noexcept;

}  // namespace comkit
