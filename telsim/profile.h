// An INI file read through the platform's profile API, as scenario files are
// (keys and section names are not case-sensitive).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace telsim {

class Profile {
public:
    explicit Profile(std::wstring path) : path_(std::move(path)) {}

    bool HasSection(const std::wstring& section) const { return !Keys(section).empty(); }
    // key=value lines of a section, in file order, trimmed.
    std::vector<std::pair<std::wstring, std::wstring>> Entries(const std::wstring& section) const;
    std::vector<std::wstring> Keys(const std::wstring& section) const;
    // The value of a key; false when the section has no such key (a profile
    // read alone cannot tell absent from empty).
    bool Get(const std::wstring& section, const wchar_t* key, std::wstring& value) const;

private:
    std::wstring path_;
};

}  // namespace telsim
