#include "comkit/registry_script.h"

#include <cwchar>

#include "comkit/result.h"
#include "comkit/wide_buffer.h"

namespace comkit {
namespace {

struct Token {
    WideBuffer text;
    bool quoted = false;
};

bool IsSpace(wchar_t c) noexcept {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

bool Is(const Token& t, const wchar_t* word) noexcept {
    return !t.quoted && _wcsicmp(t.text.CStr(), word) == 0;
}

bool IsName(const Token& t) noexcept {
    if (t.text.Empty()) {
        return false;
    }
    if (t.quoted) {
        return true;
    }
    return !(Is(t, L"{") || Is(t, L"}") || Is(t, L"=") || Is(t, L"val") || Is(t, L"NoRemove") ||
             Is(t, L"ForceRemove"));
}

// A DWORD value's data: decimal digits, or hexadecimal ones after 0x; no
// sign, no blanks. The C runtime's parser would cost this DLL half a
// kilobyte for forms no script of ours writes.
bool ParseDword(const wchar_t* text, DWORD& number) noexcept {
    unsigned base = 10;
    if (text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        text += 2;
    }
    if (*text == L'\0') {
        return false;
    }
    unsigned long long n = 0;
    for (; *text != L'\0'; ++text) {
        const wchar_t lower = static_cast<wchar_t>(*text | 0x20);
        unsigned digit = 0;
        if (*text >= L'0' && *text <= L'9') {
            digit = static_cast<unsigned>(*text - L'0');
        } else if (base == 16 && lower >= L'a' && lower <= L'f') {
            digit = static_cast<unsigned>(lower - L'a' + 10);
        } else {
            return false;
        }
        n = n * base + digit;
        if (n > 0xFFFFFFFFull) {
            return false;
        }
    }
    number = static_cast<DWORD>(n);
    return true;
}

HKEY RootKey(const Token& t) noexcept {
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
        if (Is(t, r.shortName) || Is(t, r.longName)) {
            return r.key;
        }
    }
    return nullptr;
}

// One pass over a script. Without actions it only checks; with them it acts
// on every key whose parent the actions opened. Each step answers S_OK, the
// script's fault (E_REGISTRY_SCRIPT), E_OUTOFMEMORY or an action's failure.
class Parser {
public:
    Parser(std::wstring_view text, ScriptActions* actions) noexcept
        : m_text(text), m_actions(actions) {}

    HRESULT ParseScript() noexcept {
        Token t;
        bool anyRoot = false;
        HRESULT hr;
        while ((hr = Next(t)) == S_OK) {
            const HKEY root = RootKey(t);
            if (!root) {
                return E_REGISTRY_SCRIPT;
            }
            RETURN_IF_FAILED(Expect(L"{"));
            RETURN_IF_FAILED(ParseKeys(root, /*valuesAllowed=*/false, 0));
            anyRoot = true;
        }
        RETURN_IF_FAILED(hr);
        return anyRoot ? S_OK : E_REGISTRY_SCRIPT;
    }

private:
    bool Acting(HKEY key) const noexcept { return m_actions && key; }

    // The body of a brace block up to and including its closing brace. owner:
    // the block's key, null when the walk passes over it.
    HRESULT ParseKeys(HKEY owner, bool valuesAllowed, int depth) noexcept {
        if (depth > kMaxKeyDepth) {
            return E_REGISTRY_SCRIPT;
        }
        Token t;
        HRESULT hr;
        while ((hr = Next(t)) == S_OK) {
            if (Is(t, L"}")) {
                return S_OK;
            }
            if (Is(t, L"val")) {
                if (!valuesAllowed) {
                    return E_REGISTRY_SCRIPT;
                }
                RETURN_IF_FAILED(ParseNamedValue(owner));
                continue;
            }
            RETURN_IF_FAILED(ParseKey(owner, t, depth));
        }
        RETURN_IF_FAILED(hr);
        return E_REGISTRY_SCRIPT;  // the script ended inside a block
    }

    // first: the key's first token, a mark or its name.
    HRESULT ParseKey(HKEY parent, Token& first, int depth) noexcept {
        ScriptKey key;
        if (Is(first, L"NoRemove")) {
            key.mark = ScriptKey::Mark::NoRemove;
            RETURN_IF_FAILED(NextRequired(first));
        } else if (Is(first, L"ForceRemove")) {
            key.mark = ScriptKey::Mark::ForceRemove;
            RETURN_IF_FAILED(NextRequired(first));
        }
        if (!IsName(first) || first.text.Size() > kMaxKeyNameLength) {
            return E_REGISTRY_SCRIPT;
        }
        key.name = first.text.CStr();

        Token t;
        Token data;
        ScriptValue defaultValue;
        RETURN_IF_FAILED(PeekRequired(t));
        if (Is(t, L"=")) {
            RETURN_IF_FAILED(NextRequired(t));
            RETURN_IF_FAILED(ParseValue(defaultValue, data));
            key.defaultValue = &defaultValue;
            RETURN_IF_FAILED(PeekRequired(t));
        }
        UniqueHkey opened;
        if (Acting(parent)) {
            RETURN_IF_FAILED(m_actions->Enter(parent, key, opened));
        }
        if (Is(t, L"{")) {
            RETURN_IF_FAILED(NextRequired(t));
            RETURN_IF_FAILED(ParseKeys(opened.Get(), /*valuesAllowed=*/true, depth + 1));
        }
        return Acting(opened.Get()) ? m_actions->Leave(parent, key, opened) : S_OK;
    }

    HRESULT ParseNamedValue(HKEY owner) noexcept {
        Token name;
        RETURN_IF_FAILED(NextRequired(name));
        if (!IsName(name) || name.text.Size() > kMaxValueNameLength) {
            return E_REGISTRY_SCRIPT;
        }
        RETURN_IF_FAILED(Expect(L"="));
        Token data;
        ScriptValue value;
        RETURN_IF_FAILED(ParseValue(value, data));
        value.name = name.text.CStr();
        return Acting(owner) ? m_actions->Value(owner, value) : S_OK;
    }

    // value's text points into data.
    HRESULT ParseValue(ScriptValue& value, Token& data) noexcept {
        Token kind;
        RETURN_IF_FAILED(NextRequired(kind));
        RETURN_IF_FAILED(NextRequired(data));
        if (Is(kind, L"s")) {
            if (!data.quoted || data.text.Size() > kMaxValueDataLength) {
                return E_REGISTRY_SCRIPT;
            }
            value.type = REG_SZ;
            value.text = data.text.CStr();
            value.length = data.text.Size();
            return S_OK;
        }
        if (Is(kind, L"d")) {
            if (data.text.Empty() || data.text.Size() > 10) {
                return E_REGISTRY_SCRIPT;
            }
            value.type = REG_DWORD;
            return ParseDword(data.text.CStr(), value.number) ? S_OK : E_REGISTRY_SCRIPT;
        }
        return E_REGISTRY_SCRIPT;
    }

    HRESULT Expect(const wchar_t* word) noexcept {
        Token t;
        RETURN_IF_FAILED(NextRequired(t));
        return Is(t, word) ? S_OK : E_REGISTRY_SCRIPT;
    }

    HRESULT PeekRequired(Token& t) noexcept {
        const size_t pos = m_pos;
        const HRESULT hr = NextRequired(t);
        m_pos = pos;
        return hr;
    }

    HRESULT NextRequired(Token& t) noexcept {
        const HRESULT hr = Next(t);
        return hr == S_FALSE ? E_REGISTRY_SCRIPT : hr;
    }

    // S_FALSE at the end of the text; an unterminated quote is the script's fault.
    HRESULT Next(Token& t) noexcept {
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) {
            ++m_pos;
        }
        if (m_pos >= m_text.size()) {
            return S_FALSE;
        }
        t.text.Clear();
        t.quoted = m_text[m_pos] == L'\'';
        if (!t.quoted) {
            const size_t start = m_pos;
            while (m_pos < m_text.size() && !IsSpace(m_text[m_pos])) {
                ++m_pos;
            }
            return t.text.Append(m_text.data() + start, m_pos - start) ? S_OK : E_OUTOFMEMORY;
        }
        ++m_pos;
        while (m_pos < m_text.size()) {
            const wchar_t c = m_text[m_pos++];
            if (c == L'\'') {
                if (m_pos >= m_text.size() || m_text[m_pos] != L'\'') {
                    return S_OK;
                }
                ++m_pos;
            }
            if (!t.text.Append(c)) {
                return E_OUTOFMEMORY;
            }
        }
        return E_REGISTRY_SCRIPT;
    }

    std::wstring_view m_text;
    ScriptActions* m_actions;
    size_t m_pos = 0;
};

}  // namespace

HRESULT WalkRegistryScript(std::wstring_view text, ScriptActions& actions) noexcept {
    // A name or string cut short by a NUL would be written as something else.
    if (text.find(L'\0') != std::wstring_view::npos) {
        return E_REGISTRY_SCRIPT;
    }
    RETURN_IF_FAILED(Parser(text, nullptr).ParseScript());
    return Parser(text, &actions).ParseScript();
}

}  // namespace comkit
