#include "telsim/sip/json_reader.h"

#include <set>

namespace telsim::sip {
namespace {

class Reader {
public:
    Reader(std::string_view json, const JsonLimits& limits) : s_(json), limits_(limits) {}

    HRESULT TopLevel(const JsonMember& member) {
        if (s_.size() > limits_.maxBytes) {
            return MalformedData();
        }
        SkipSpace();
        if (!Take('{')) {
            return MalformedData();
        }
        std::set<std::string, std::less<>> seen;
        const HRESULT hr = Members(1, [&](std::string_view key, const JsonValue& value) {
            if (!seen.insert(std::string(key)).second) {
                return MalformedData();
            }
            return member(key, value);
        });
        if (FAILED(hr)) {
            return hr;
        }
        SkipSpace();
        return pos_ == s_.size() ? S_OK : MalformedData();
    }

private:
    // After the opening brace, through the closing one.
    HRESULT Members(int depth, const JsonMember& member) {
        SkipSpace();
        if (Take('}')) {
            return S_OK;
        }
        std::string key;
        JsonValue value;
        for (;;) {
            SkipSpace();
            if (!Take('"') || !String(key)) {
                return MalformedData();
            }
            SkipSpace();
            if (!Take(':') || !Value(depth, value)) {
                return MalformedData();
            }
            if (member) {
                const HRESULT hr = member(key, value);
                if (FAILED(hr)) {
                    return hr;
                }
            }
            SkipSpace();
            if (Take('}')) {
                return S_OK;
            }
            if (!Take(',')) {
                return MalformedData();
            }
        }
    }

    bool Elements(int depth) {
        SkipSpace();
        if (Take(']')) {
            return true;
        }
        JsonValue value;
        for (;;) {
            if (!Value(depth, value)) {
                return false;
            }
            SkipSpace();
            if (Take(']')) {
                return true;
            }
            if (!Take(',')) {
                return false;
            }
        }
    }

    bool Value(int depth, JsonValue& out) {
        SkipSpace();
        out.text.clear();
        if (pos_ == s_.size()) {
            return false;
        }
        const char c = s_[pos_];
        if (c == '{' || c == '[') {
            if (depth + 1 > limits_.maxDepth) {
                return false;
            }
            ++pos_;
            out.kind = JsonValue::Kind::Nested;
            return c == '{' ? SUCCEEDED(Members(depth + 1, nullptr)) : Elements(depth + 1);
        }
        if (c == '"') {
            ++pos_;
            out.kind = JsonValue::Kind::String;
            return String(out.text);
        }
        if (Word("true")) {
            out.kind = JsonValue::Kind::True;
            return true;
        }
        if (Word("false")) {
            out.kind = JsonValue::Kind::False;
            return true;
        }
        if (Word("null")) {
            out.kind = JsonValue::Kind::Null;
            return true;
        }
        out.kind = JsonValue::Kind::Number;
        return Number(out.text);
    }

    bool Number(std::string& out) {
        const std::size_t start = pos_;
        Take('-');
        if (Take('0')) {
            // No leading zeros.
        } else if (!Digits()) {
            return false;
        }
        if (Take('.') && !Digits()) {
            return false;
        }
        if (Take('e') || Take('E')) {
            if (!Take('+')) {
                Take('-');
            }
            if (!Digits()) {
                return false;
            }
        }
        out.assign(s_.substr(start, pos_ - start));
        return true;
    }

    bool Digits() {
        const std::size_t start = pos_;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
            ++pos_;
        }
        return pos_ > start;
    }

    // After the opening quote, through the closing one.
    bool String(std::string& out) {
        out.clear();
        while (pos_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (pos_ == s_.size()) {
                return false;
            }
            switch (s_[pos_++]) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u':
                if (!Unicode(out)) {
                    return false;
                }
                break;
            default:
                return false;
            }
        }
        return false;
    }

    // After "\u": one code point, or a surrogate pair, as UTF-8.
    bool Unicode(std::string& out) {
        unsigned long cp = 0;
        if (!Hex4(cp) || cp == 0 || (cp >= 0xDC00 && cp <= 0xDFFF)) {
            return false;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned long low = 0;
            if (!Take('\\') || !Take('u') || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
        return true;
    }

    bool Hex4(unsigned long& value) {
        if (s_.size() - pos_ < 4) {
            return false;
        }
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            unsigned long digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<unsigned long>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<unsigned long>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<unsigned long>(c - 'A' + 10);
            } else {
                return false;
            }
            value = value * 16 + digit;
        }
        return true;
    }

    bool Word(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) {
            return false;
        }
        pos_ += word.size();
        return true;
    }

    bool Take(char c) {
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    void SkipSpace() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) {
            ++pos_;
        }
    }

    const std::string_view s_;
    const JsonLimits& limits_;
    std::size_t pos_ = 0;
};

}  // namespace

HRESULT ReadJsonObject(std::string_view json, const JsonMember& member, const JsonLimits& limits) {
    try {
        return Reader(json, limits).TopLevel(member);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

std::string JsonQuote(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += ch;
        }
    }
    out += '"';
    return out;
}

}  // namespace telsim::sip
