#include "telsim/profile.h"

#include "telsim/scenario_words.h"

#include <windows.h>

#include <cwchar>

namespace telsim {
namespace {

// Marks a key that is absent.
constexpr wchar_t kAbsent[] = L"\x01";

}  // namespace

std::vector<std::pair<std::wstring, std::wstring>> Profile::Entries(
    const std::wstring& section) const {
    std::vector<wchar_t> buffer(4096);
    while (true) {
        const DWORD got = GetPrivateProfileSectionW(
            section.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()), path_.c_str());
        if (got + 2 < buffer.size()) {
            buffer.resize(got + 1);
            break;
        }
        buffer.resize(buffer.size() * 4);
    }
    std::vector<std::pair<std::wstring, std::wstring>> entries;
    for (const wchar_t* line = buffer.data(); *line; line += std::wcslen(line) + 1) {
        const std::wstring text(line);
        const auto equals = text.find(L'=');
        if (equals == std::wstring::npos) {
            entries.emplace_back(words::Trim(text), std::wstring());
        } else {
            entries.emplace_back(words::Trim(text.substr(0, equals)),
                                 words::Trim(text.substr(equals + 1)));
        }
    }
    return entries;
}

std::vector<std::wstring> Profile::Keys(const std::wstring& section) const {
    std::vector<std::wstring> keys;
    for (auto& entry : Entries(section)) {
        keys.push_back(entry.first);
    }
    return keys;
}

bool Profile::Get(const std::wstring& section, const wchar_t* key, std::wstring& value) const {
    std::vector<wchar_t> buffer(1024);
    while (true) {
        const DWORD got =
            GetPrivateProfileStringW(section.c_str(), key, kAbsent, buffer.data(),
                                     static_cast<DWORD>(buffer.size()), path_.c_str());
        if (got + 1 < buffer.size()) {
            value.assign(buffer.data(), got);
            break;
        }
        buffer.resize(buffer.size() * 4);
    }
    return value != kAbsent;
}

}  // namespace telsim
