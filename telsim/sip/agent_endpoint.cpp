#include "telsim/sip/agent_endpoint.h"

namespace telsim::sip {
namespace {

// A decimal number of at most `maxDigits` digits, no sign, no leading zero.
bool Decimal(std::wstring_view text, std::size_t maxDigits, unsigned long& value) {
    if (text.empty() || text.size() > maxDigits || (text.size() > 1 && text[0] == L'0')) {
        return false;
    }
    value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned long>(c - L'0');
    }
    return true;
}

bool Ipv4(std::wstring_view text, ULONG& address) {
    if (text == L"localhost") {
        address = 0x7F000001;
        return true;
    }
    address = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t dot = text.find(L'.');
        if ((i < 3) == (dot == std::wstring_view::npos)) {
            return false;
        }
        unsigned long octet = 0;
        if (!Decimal(text.substr(0, dot), 3, octet) || octet > 255) {
            return false;
        }
        address = (address << 8) | octet;
        text.remove_prefix(dot == std::wstring_view::npos ? text.size() : dot + 1);
    }
    return true;
}

}  // namespace

HRESULT ParseAgentEndpoint(std::wstring_view text, bool allowRemote, AgentEndpoint& out) {
    out = AgentEndpoint{};
    const std::size_t colon = text.rfind(L':');
    unsigned long port = 0;
    ULONG address = 0;
    if (colon == std::wstring_view::npos || !Ipv4(text.substr(0, colon), address) ||
        !Decimal(text.substr(colon + 1), 5, port) || port == 0 || port > 65535) {
        return E_INVALIDARG;
    }
    if ((address >> 24) != 127 && !allowRemote) {
        return E_ACCESSDENIED;
    }
    out.address = address;
    out.port = static_cast<USHORT>(port);
    return S_OK;
}

}  // namespace telsim::sip
