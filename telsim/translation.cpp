#include "telsim/translation.h"

#include <cwctype>
#include <optional>

namespace telsim {
namespace {

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

struct Canonical {
    std::wstring country;
    std::wstring area;
    std::wstring subscriber;
};

// "+CC (AREA) SUBSCRIBER", the area part optional; "|subaddress" and
// "^name" tails are not dialled. nullopt when the text is not of that form.
std::optional<Canonical> ParseCanonical(std::wstring_view text) {
    std::size_t i = 0;
    auto skipSpaces = [&] {
        while (i < text.size() && text[i] == L' ') {
            ++i;
        }
    };
    skipSpaces();
    if (i >= text.size() || text[i] != L'+') {
        return std::nullopt;
    }
    ++i;
    Canonical parts;
    while (i < text.size() && IsDigit(text[i])) {
        parts.country += text[i++];
    }
    if (parts.country.empty()) {
        return std::nullopt;
    }
    skipSpaces();
    if (i < text.size() && text[i] == L'(') {
        ++i;
        const std::size_t close = text.find(L')', i);
        if (close == std::wstring_view::npos) {
            return std::nullopt;
        }
        for (; i < close; ++i) {
            if (IsDigit(text[i])) {
                parts.area += text[i];
            } else if (text[i] != L' ') {
                return std::nullopt;
            }
        }
        ++i;
    }
    std::wstring_view rest = text.substr(i);
    rest = rest.substr(0, rest.find_first_of(L"|^"));
    parts.subscriber = DialableCharacters(rest);
    if (parts.subscriber.empty()) {
        return std::nullopt;
    }
    return parts;
}

std::wstring DigitsOf(std::wstring_view text) {
    std::wstring digits;
    for (wchar_t c : text) {
        if (IsDigit(c)) {
            digits += c;
        }
    }
    return digits;
}

}  // namespace

std::wstring InternationalPrefixFor(std::wstring_view countryCode) {
    return DigitsOf(countryCode) == L"1" ? L"011" : L"00";
}

std::wstring DialableCharacters(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        const wchar_t upper = static_cast<wchar_t>(std::towupper(c));
        if (IsDigit(c) || (upper >= L'A' && upper <= L'D') || upper == L'W' || c == L'*' ||
            c == L'#' || c == L',' || c == L'@' || c == L'!') {
            out += upper;
        }
    }
    return out;
}

std::wstring TranslateNumber(std::wstring_view number, const Location& location) {
    const auto canonical = ParseCanonical(number);
    if (!canonical) {
        return DialableCharacters(number);
    }

    std::wstring dial = DialableCharacters(location.outsideLine);
    if (canonical->country != DigitsOf(location.countryCode)) {
        dial += DialableCharacters(location.international.empty()
                                       ? InternationalPrefixFor(location.countryCode)
                                       : location.international);
        dial += canonical->country + canonical->area;
    } else if (!canonical->area.empty() && canonical->area != DigitsOf(location.areaCode)) {
        dial += DialableCharacters(location.longDistance) + canonical->area;
    }
    return dial + canonical->subscriber;
}

}  // namespace telsim
