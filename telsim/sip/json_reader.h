// A strict, bounded reader for the JSON the SIP agent sends: one object
// whose members of interest are scalars. Nested objects and arrays are
// checked and skipped. Anything outside the JSON grammar, a string with a
// raw control character, a lone surrogate or an escaped NUL, nesting deeper
// than the limit, input longer than the limit and a repeated top-level key
// are refused with HRESULT_FROM_WIN32(ERROR_INVALID_DATA).
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace telsim::sip {

struct JsonValue {
    enum class Kind { String, True, False, Null, Number, Nested };
    Kind kind = Kind::Null;
    std::string text;  // a string's decoded UTF-8 text, or a number as written
};

struct JsonLimits {
    std::size_t maxBytes = 64 * 1024;
    int maxDepth = 16;
};

// Calls `member` for each top-level member in order; its failure ends the
// read and is returned.
using JsonMember = std::function<HRESULT(std::string_view key, const JsonValue& value)>;
HRESULT ReadJsonObject(std::string_view json, const JsonMember& member,
                       const JsonLimits& limits = {});

// `text` as a JSON string literal, quotes included. Quotes, backslashes and
// every control character are escaped, so the result can only be read
// back as the one string it was made from.
std::string JsonQuote(std::string_view text);

inline HRESULT MalformedData() {
    return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
}

}  // namespace telsim::sip
