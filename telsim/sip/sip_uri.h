// How a SIP line turns the dialable string of a number into the URI its
// agent dials: a template from the line's configuration, e.g.
// "sip:{number}@{domain}", with the line's domain.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace telsim::sip {

class SipUriTemplate {
public:
    // The template must start with "sip:" or "sips:", hold "{number}"
    // exactly once and "{domain}" at most once (then `domain` must be
    // given), and otherwise only the characters of a URI that cannot quote,
    // escape or separate anything in the agent's command (letters, digits
    // and -._~!$&'()*+,;=:@/?%[]). The domain is a host, optionally with a
    // port: letters, digits, '.', '-', ':', '[' and ']'. E_INVALIDARG when
    // either is not so.
    static HRESULT Parse(std::wstring_view uriTemplate, std::wstring_view domain,
                         SipUriTemplate& out);

    // The URI for `dialable`. Digits and '*' are kept, '#' is kept escaped
    // as "%23", '+' is kept as the first character; spaces, the separators
    // -.()/ and the modem's dial modifiers ,W@! (which have no meaning on a
    // SIP line) are dropped. Any other character (a letter, a quote, a
    // backslash, a control character, ':', ';', '%', ...) refuses the
    // number with E_INVALIDARG, as does a number with no digit or more than
    // kMaxDigits characters kept.
    HRESULT Build(std::wstring_view dialable, std::string& uri) const;

    static constexpr std::size_t kMaxDigits = 64;

private:
    std::string before_;  // the template up to {number}, the domain filled in
    std::string after_;
};

}  // namespace telsim::sip
