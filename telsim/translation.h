// Number translation as the platform telephony service does it for a
// location: a canonical number (+country (area) subscriber) becomes the
// digits to dial from there; anything else is dialled as written, less the
// characters a modem cannot dial. The rules are in the README, "Number translation".
#pragma once

#include <string>
#include <string_view>

namespace telsim {

// Where the caller dials from. Every field holds digits (the prefixes may
// also hold the dial modifiers ",W@!").
struct Location {
    std::wstring countryCode = L"1";
    std::wstring areaCode;
    // Dialled first, before any number (e.g. "9," for a PBX); empty: none.
    std::wstring outsideLine;
    // In front of area and subscriber when the area differs.
    std::wstring longDistance = L"1";
    // In front of country, area and subscriber when the country differs;
    // empty: the usual prefix of the location's country (see
    // InternationalPrefixFor).
    std::wstring international;
};

// "011" in the North American plan (country 1), "00" elsewhere.
std::wstring InternationalPrefixFor(std::wstring_view countryCode);

// Keeps 0-9, A-D, *, #, and the modifiers , W @ ! (letters upper-cased);
// drops everything else. What is left can never end a modem command line
// or start another command on it.
std::wstring DialableCharacters(std::wstring_view text);

// The string to hand to the modem's dial command for `number` dialled from
// `location`.
std::wstring TranslateNumber(std::wstring_view number, const Location& location);

}  // namespace telsim
