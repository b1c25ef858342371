// Malformed registry scripts for the registrar: truncated, with unbalanced
// braces, with tokens the language does not have, with names and data past the
// registry's limits, with a NUL inside, nested too deep. Each is refused as
// malformed, in registration and in removal mode alike, and the registry under
// the scratch classes root is exactly what it was: nothing written, and no
// ForceRemove key deleted ahead of the refusal.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "comkit/registrar.h"
#include "comkit/registry_script.h"
#include "support/hresult.h"
#include "support/sample_registry_script.h"
#include "support/scratch_registry.h"

namespace {

constexpr unsigned kSeed = 77;
constexpr int kScripts = 3000;

const char* const kBase = test_support::kSampleRegistryScript;

struct Token {
    std::size_t begin;
    std::size_t end;
    bool quoted;
};

// The script's tokens: runs of non-blank characters, or quoted runs up to a
// single quote that is not doubled.
std::vector<Token> Tokens(const std::string& text) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        if (isspace(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        const std::size_t begin = i;
        if (text[i] == '\'') {
            ++i;
            while (i < text.size()) {
                if (text[i] == '\'' && i + 1 < text.size() && text[i + 1] == '\'') {
                    i += 2;
                } else if (text[i] == '\'') {
                    ++i;
                    break;
                } else {
                    ++i;
                }
            }
            tokens.push_back({begin, i, true});
        } else {
            while (i < text.size() && !isspace(static_cast<unsigned char>(text[i]))) {
                ++i;
            }
            tokens.push_back({begin, i, false});
        }
    }
    return tokens;
}

class ScriptMutator {
public:
    explicit ScriptMutator(unsigned seed) : m_random(seed), m_tokens(Tokens(kBase)) {}

    // A malformed script, and the kind of damage done to it.
    std::string Next(const char*& kind) {
        const std::string base = kBase;
        switch (Pick(11)) {
        case 0: {
            kind = "truncated";
            const std::size_t first = base.find('{');
            const std::size_t last = base.rfind('}');
            return base.substr(0, first + 1 + Pick(static_cast<unsigned>(last - first - 1)));
        }
        case 1: {
            kind = "extra brace";
            const Token& after = m_tokens[Pick(static_cast<unsigned>(m_tokens.size()))];
            return base.substr(0, after.end) + (Pick(2) ? " {" : " }") + base.substr(after.end);
        }
        case 2: {
            kind = "missing brace";
            const Token& brace = Pick(2) ? Find("{") : Find("}");
            return base.substr(0, brace.begin) + base.substr(brace.end);
        }
        case 3: {
            kind = "unknown value kind";
            static const char* kinds[] = {"q", "sz", "str", "x", "int", "S2", "e"};
            const Token& token = Find("s", "d");
            return base.substr(0, token.begin) + kinds[Pick(7)] + base.substr(token.end);
        }
        case 4: {
            kind = "unknown root";
            static const char* roots[] = {"HKXX", "HKEY_NOWHERE", "Root", "HKCRX", "{"};
            return roots[Pick(5)] + base.substr(4);
        }
        case 5: {
            kind = "doubled equals";
            const Token& equals = Find("=");
            return base.substr(0, equals.end) + " =" + base.substr(equals.end);
        }
        case 6: {
            kind = "unknown replacement";
            const Token& text = FindQuoted();
            return base.substr(0, text.begin + 1) + "%NOSUCH%" + base.substr(text.begin + 1);
        }
        case 7: {
            // Without its closing quote, and without any quote after it (a
            // later one would close it), the quoted text runs to the end.
            kind = "unterminated quote";
            const Token& text = FindQuoted();
            std::string rest = base.substr(text.end);
            rest.erase(std::remove(rest.begin(), rest.end(), '\''), rest.end());
            return base.substr(0, text.end - 1) + rest;
        }
        case 8: {
            // A NUL would cut a name or a string short when written.
            kind = "embedded NUL";
            const std::size_t at = Pick(static_cast<unsigned>(base.size()));
            return base.substr(0, at) + std::string(1, '\0') + base.substr(at);
        }
        case 9: {
            kind = "nested too deep";
            const Token& open = FindOpening(false);
            const unsigned depth = comkit::kMaxKeyDepth + 2 + Pick(40);
            std::string nest;
            for (unsigned level = 0; level < depth; ++level) {
                nest += " K" + std::to_string(level) + " {";
            }
            nest += std::string(depth * 2, ' ');
            for (unsigned level = 0; level < depth; ++level) {
                nest[nest.size() - 2 * depth + 2 * level + 1] = '}';
            }
            return base.substr(0, open.end) + nest + base.substr(open.end);
        }
        default: {
            kind = "overlong name or data";
            std::string line;
            switch (Pick(3)) {
            case 0:
                line = std::string(256 + Pick(300), 'k') + " = s 'x'";
                break;
            case 1:
                line = "val " + std::string(16384 + Pick(100), 'v') + " = s 'x'";
                break;
            default:
                line = "Data = s '" + std::string(4097 + Pick(100), 'd') + "'";
                break;
            }
            // A named value only fits inside a key's block, not at the root's.
            const Token& where = FindOpening(line[0] == 'v');
            return base.substr(0, where.end) + "\r\n" + line + "\r\n" + base.substr(where.end);
        }
        }
    }

    unsigned Pick(unsigned bound) {
        return std::uniform_int_distribution<unsigned>(0, bound - 1)(m_random);
    }

private:
    // A random unquoted token with one of the given texts.
    const Token& Find(const char* text, const char* other = nullptr) {
        std::vector<const Token*> found;
        for (const Token& token : m_tokens) {
            const std::string word(kBase + token.begin, token.end - token.begin);
            if (!token.quoted && (word == text || (other && word == other))) {
                found.push_back(&token);
            }
        }
        return *found[Pick(static_cast<unsigned>(found.size()))];
    }

    // A random opening brace; with keyBlock, not the root's own.
    const Token& FindOpening(bool keyBlock) {
        std::vector<const Token*> found;
        for (const Token& token : m_tokens) {
            if (!token.quoted && kBase[token.begin] == '{' && token.end == token.begin + 1) {
                found.push_back(&token);
            }
        }
        const unsigned skip = keyBlock ? 1 : 0;
        return *found[skip + Pick(static_cast<unsigned>(found.size()) - skip)];
    }

    const Token& FindQuoted() {
        std::vector<const Token*> found;
        for (const Token& token : m_tokens) {
            if (token.quoted) {
                found.push_back(&token);
            }
        }
        return *found[Pick(static_cast<unsigned>(found.size()))];
    }

    std::mt19937 m_random;
    std::vector<Token> m_tokens;
};

// The script as a failure message shows it, a NUL spelt out.
std::string Visible(const std::string& script) {
    std::string text;
    for (char c : script) {
        text += c == '\0' ? std::string("<NUL>") : std::string(1, c);
    }
    return text;
}

HRESULT RunScript(const std::string& script, bool doRegister) {
    comkit::Registrar registrar;
    const HRESULT hr = registrar.AddReplacement(L"MODULE", L"C:\\Brevlin\\it''s.dll");
    if (FAILED(hr)) {
        return hr;
    }
    return doRegister ? registrar.Register(script) : registrar.Unregister(script);
}

TEST(RegistryScriptFuzz, MalformedScriptsAreRefusedWithNothingWritten) {
    test_support::ScratchClassesRoot root;
    // What a refusal must leave alone: the base script's keys, and a value in
    // the ForceRemove key that a premature ForceRemove would take away.
    ASSERT_HR(S_OK, RunScript(kBase, true));
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(root.Key(), test_support::kSampleClassKey, L"Extra",
                                             REG_SZ, L"kept", 10));
    const std::wstring before = root.Dump();
    ASSERT_NE(std::wstring::npos, before.find(L"Extra=kept"));

    std::printf("registry scripts: seed %u, %d scripts\n", kSeed, kScripts);
    ScriptMutator mutator(kSeed);
    std::vector<std::pair<std::string, int>> kinds;
    for (int i = 0; i < kScripts; ++i) {
        const char* kind = "";
        const std::string script = mutator.Next(kind);
        // Removal walks the same script, and must refuse it just as early.
        const HRESULT registered = RunScript(script, true);
        const HRESULT removed = RunScript(script, false);
        EXPECT_HR(comkit::E_REGISTRY_SCRIPT, registered)
            << "script #" << i << " (" << kind << "):\n"
            << Visible(script);
        EXPECT_HR(comkit::E_REGISTRY_SCRIPT, removed) << "script #" << i << " (" << kind << "):\n"
                                                      << Visible(script);
        const std::wstring after = root.Dump();
        EXPECT_TRUE(after == before)
            << "script #" << i << " (" << kind << ") changed the registry:\n"
            << Visible(script);
        auto counted = std::find_if(kinds.begin(), kinds.end(),
                                    [&](const auto& k) { return k.first == kind; });
        if (counted == kinds.end()) {
            kinds.emplace_back(kind, 1);
        } else {
            ++counted->second;
        }
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
    std::printf("registry scripts refused:");
    for (const auto& [kind, count] : kinds) {
        std::printf(" %s %d;", kind.c_str(), count);
    }
    std::printf("\n");
}

// The refusals above start right past the limits: a key name of 255
// characters, a value name of 16383 and string data of 4096 are written.
TEST(RegistryScriptFuzz, NamesAndDataAtTheLimitsAreWritten) {
    test_support::ScratchClassesRoot root;
    const std::string key(comkit::kMaxKeyNameLength, 'k');
    const std::string value(comkit::kMaxValueNameLength, 'v');
    const std::string data(comkit::kMaxValueDataLength, 'd');
    const std::string script = "HKCR\r\n{\r\n\t" + key + " = s '" + data + "'\r\n\t{\r\n\t\tval " +
                               value + " = s 'x'\r\n\t}\r\n}\r\n";
    ASSERT_HR(S_OK, RunScript(script, true));
    // Read back one by one: the dump's buffers stop short of 4096 characters.
    const std::wstring keyName(key.begin(), key.end());
    const std::wstring valueName(value.begin(), value.end());
    std::wstring text(comkit::kMaxValueDataLength + 1, L'\0');
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(root.Key(), keyName.c_str(), nullptr, RRF_RT_REG_SZ,
                                          nullptr, text.data(), &size));
    EXPECT_EQ(std::wstring(data.begin(), data.end()), text.c_str());
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(root.Key(), keyName.c_str(), valueName.c_str(),
                                          RRF_RT_REG_SZ, nullptr, text.data(), &size));
    EXPECT_EQ(L"x", std::wstring(text.c_str()));
    EXPECT_HR(S_OK, RunScript(script, false));
    EXPECT_EQ(L"", root.Dump());
}

}  // namespace
