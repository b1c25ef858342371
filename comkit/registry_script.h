// The registry-script language of the registrar, parsed into a tree before
// anything is written:
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
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace comkit {

// Returned for every script that does not follow the language.
inline constexpr HRESULT E_REGISTRY_SCRIPT = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

struct ScriptValue {
  std::wstring name;  // empty: the key's unnamed value
  DWORD type = REG_SZ;
  std::wstring text;  // REG_SZ
  DWORD number = 0;   // REG_DWORD
};

struct ScriptKey {
  enum class Mark { None, NoRemove, ForceRemove };
  Mark mark = Mark::None;
  std::wstring name;
  std::optional<ScriptValue> defaultValue;
  std::vector<ScriptValue> values;
  std::vector<ScriptKey> subkeys;
};

struct ScriptRoot {
  HKEY root = nullptr;
  std::vector<ScriptKey> keys;
};

// Key names longer than the registry allows, value names and string data
// beyond these limits are refused.
inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxValueNameLength = 16383;
inline constexpr size_t kMaxValueDataLength = 4096;
// Keys nested deeper than this are refused too, so that parsing (which
// recurses once per level) is bounded.
inline constexpr int kMaxKeyDepth = 64;

// Parses text (replacements already made). E_REGISTRY_SCRIPT when the script
// is malformed, E_OUTOFMEMORY; roots is filled only on success.
HRESULT ParseRegistryScript(std::wstring_view text, std::vector<ScriptRoot>& roots) noexcept;

}  // namespace comkit
