#include "comkit/registry_script.h"

#include <cwchar>
#include <cwctype>

#include "comkit/result.h"

namespace comkit {
namespace {

struct Token {
  std::wstring text;
  bool quoted = false;
};

bool IsSpace(wchar_t c) noexcept { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool Is(const Token& t, const wchar_t* word) noexcept {
  return !t.quoted && _wcsicmp(t.text.c_str(), word) == 0;
}

class Parser {
 public:
  explicit Parser(std::wstring_view text) : m_text(text) {}

  // Throws std::bad_alloc only; a malformed script gives false.
  bool ParseScript(std::vector<ScriptRoot>& roots) {
    Token t;
    while (Next(t)) {
      ScriptRoot root;
      if (t.quoted || !(root.root = RootKey(t.text))) return false;
      if (!Expect(L"{")) return false;
      if (!ParseKeys(root.keys, /*valuesAllowed=*/false, nullptr, 0)) return false;
      roots.push_back(std::move(root));
    }
    return m_ok && !roots.empty();
  }

 private:
  static HKEY RootKey(const std::wstring& name) noexcept {
    struct Root {
      const wchar_t* shortName;
      const wchar_t* longName;
      HKEY key;
    };
    static const Root roots[] = {
        {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {L"HKU", L"HKEY_USERS", HKEY_USERS},
        {L"HKCC", L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    };
    for (const Root& r : roots) {
      if (_wcsicmp(name.c_str(), r.shortName) == 0 || _wcsicmp(name.c_str(), r.longName) == 0) return r.key;
    }
    return nullptr;
  }

  // Reads the body of a brace block up to and including its closing brace.
  bool ParseKeys(std::vector<ScriptKey>& keys, bool valuesAllowed, ScriptKey* owner, int depth) {
    if (depth > kMaxKeyDepth) return false;
    Token t;
    while (Next(t)) {
      if (Is(t, L"}")) return true;
      if (Is(t, L"val")) {
        if (!valuesAllowed) return false;
        ScriptValue value;
        if (!Next(t) || !IsName(t) || t.text.size() > kMaxValueNameLength) return false;
        value.name = std::move(t.text);
        if (!Expect(L"=") || !ParseValue(value)) return false;
        owner->values.push_back(std::move(value));
        continue;
      }
      ScriptKey key;
      if (Is(t, L"NoRemove")) {
        key.mark = ScriptKey::Mark::NoRemove;
        if (!Next(t)) return false;
      } else if (Is(t, L"ForceRemove")) {
        key.mark = ScriptKey::Mark::ForceRemove;
        if (!Next(t)) return false;
      }
      if (!IsName(t) || t.text.size() > kMaxKeyNameLength) return false;
      key.name = std::move(t.text);
      if (!Peek(t)) return false;
      if (Is(t, L"=")) {
        Next(t);
        ScriptValue value;
        if (!ParseValue(value)) return false;
        key.defaultValue = std::move(value);
        if (!Peek(t)) return false;
      }
      if (Is(t, L"{")) {
        Next(t);
        if (!ParseKeys(key.subkeys, /*valuesAllowed=*/true, &key, depth + 1)) return false;
      }
      keys.push_back(std::move(key));
    }
    return false;  // the script ended inside a block
  }

  bool ParseValue(ScriptValue& value) {
    Token kind;
    Token data;
    if (!Next(kind) || !Next(data)) return false;
    if (Is(kind, L"s")) {
      if (!data.quoted || data.text.size() > kMaxValueDataLength) return false;
      value.type = REG_SZ;
      value.text = std::move(data.text);
      return true;
    }
    if (Is(kind, L"d")) {
      if (data.text.empty() || data.text.size() > 10) return false;
      wchar_t* end = nullptr;
      const unsigned long long n = std::wcstoull(data.text.c_str(), &end, 0);
      if (*end != L'\0' || n > 0xFFFFFFFFull) return false;
      value.type = REG_DWORD;
      value.number = static_cast<DWORD>(n);
      return true;
    }
    return false;
  }

  static bool IsName(const Token& t) noexcept {
    if (t.text.empty()) return false;
    if (t.quoted) return true;
    return !(Is(t, L"{") || Is(t, L"}") || Is(t, L"=") || Is(t, L"val") || Is(t, L"NoRemove") ||
             Is(t, L"ForceRemove"));
  }

  bool Expect(const wchar_t* word) {
    Token t;
    return Next(t) && Is(t, word);
  }

  bool Peek(Token& t) {
    const size_t pos = m_pos;
    const bool ok = Next(t);
    m_pos = pos;
    return ok;
  }

  // False at the end of the text or on an unterminated quote (which also
  // marks the script malformed).
  bool Next(Token& t) {
    while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) ++m_pos;
    if (m_pos >= m_text.size()) return false;
    t.text.clear();
    t.quoted = m_text[m_pos] == L'\'';
    if (!t.quoted) {
      while (m_pos < m_text.size() && !IsSpace(m_text[m_pos])) t.text.push_back(m_text[m_pos++]);
      return true;
    }
    ++m_pos;
    while (m_pos < m_text.size()) {
      const wchar_t c = m_text[m_pos++];
      if (c != L'\'') {
        t.text.push_back(c);
      } else if (m_pos < m_text.size() && m_text[m_pos] == L'\'') {
        t.text.push_back(L'\'');
        ++m_pos;
      } else {
        return true;
      }
    }
    m_ok = false;
    return false;
  }

  std::wstring_view m_text;
  size_t m_pos = 0;
  bool m_ok = true;
};

}  // namespace

HRESULT ParseRegistryScript(std::wstring_view text, std::vector<ScriptRoot>& roots) noexcept {
  return GuardCall([&]() -> HRESULT {
    // A name or string cut short by a NUL would be written as something else.
    if (text.find(L'\0') != std::wstring_view::npos) return E_REGISTRY_SCRIPT;
    std::vector<ScriptRoot> parsed;
    Parser parser(text);
    if (!parser.ParseScript(parsed)) return E_REGISTRY_SCRIPT;
    roots = std::move(parsed);
    return S_OK;
  });
}

}  // namespace comkit
