#include "telsim/sip/sip_uri.h"

namespace telsim::sip {
namespace {

constexpr std::wstring_view kNumber = L"{number}";
constexpr std::wstring_view kDomain = L"{domain}";
constexpr std::size_t kMaxTemplate = 256;

bool Alphanumeric(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

bool UriCharacter(wchar_t c) {
    return Alphanumeric(c) ||
           std::wstring_view(L"-._~!$&'()*+,;=:@/?%[]").find(c) != std::wstring_view::npos;
}

bool HostCharacter(wchar_t c) {
    return Alphanumeric(c) || std::wstring_view(L".-:[]").find(c) != std::wstring_view::npos;
}

// Every character was checked to be ASCII.
std::string Narrow(std::wstring_view text) {
    return std::string(text.begin(), text.end());
}

std::size_t Count(std::wstring_view text, std::wstring_view part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::wstring_view::npos;
         at = text.find(part, at + part.size())) {
        ++n;
    }
    return n;
}

}  // namespace

HRESULT SipUriTemplate::Parse(std::wstring_view uriTemplate, std::wstring_view domain,
                              SipUriTemplate& out) {
    out = SipUriTemplate{};
    const bool secure = uriTemplate.substr(0, 5) == L"sips:";
    if (uriTemplate.size() > kMaxTemplate || (uriTemplate.substr(0, 4) != L"sip:" && !secure) ||
        Count(uriTemplate, kNumber) != 1 || Count(uriTemplate, kDomain) > 1 ||
        domain.size() > kMaxTemplate) {
        return E_INVALIDARG;
    }
    for (const wchar_t c : domain) {
        if (!HostCharacter(c)) {
            return E_INVALIDARG;
        }
    }
    std::wstring filled(uriTemplate);
    if (const std::size_t at = filled.find(kDomain); at != std::wstring::npos) {
        if (domain.empty()) {
            return E_INVALIDARG;
        }
        filled.replace(at, kDomain.size(), domain);
    }
    const std::size_t number = filled.find(kNumber);
    const std::wstring_view rest = std::wstring_view(filled).substr(number + kNumber.size());
    const std::wstring_view head = std::wstring_view(filled).substr(0, number);
    for (const std::wstring_view part : {head, rest}) {
        for (const wchar_t c : part) {
            if (!UriCharacter(c)) {
                return E_INVALIDARG;
            }
        }
    }
    out.before_ = Narrow(head);
    out.after_ = Narrow(rest);
    return S_OK;
}

HRESULT SipUriTemplate::Build(std::wstring_view dialable, std::string& uri) const {
    uri.clear();
    if (before_.empty()) {
        return E_UNEXPECTED;
    }
    std::string user;
    std::size_t kept = 0;
    bool digit = false;
    for (const wchar_t c : dialable) {
        if (c >= L'0' && c <= L'9') {
            user += static_cast<char>(c);
            digit = true;
        } else if (c == L'*') {
            user += '*';
        } else if (c == L'#') {
            user += "%23";
        } else if (c == L'+' && kept == 0) {
            user += '+';
        } else if (std::wstring_view(L" -.()/,Ww@!").find(c) != std::wstring_view::npos) {
            continue;
        } else {
            return E_INVALIDARG;
        }
        ++kept;
    }
    if (!digit || kept > kMaxDigits) {
        return E_INVALIDARG;
    }
    uri = before_ + user + after_;
    return S_OK;
}

}  // namespace telsim::sip
