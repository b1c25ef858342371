#include "dialer/device_address_file.h"

#include <windows.h>

#include "comkit/bstr.h"
#include "dialer/road.h"

namespace dialer {
namespace {

// Byte-at-a-time reading with the text-mode translations of the C runtime.
class TextModeReader {
public:
    static constexpr int kEnd = -1;

    explicit TextModeReader(HANDLE file) noexcept : m_file(file) {}

    int Next() noexcept {
        const int c = NextByte();
        if (c != '\r') {
            return c;
        }
        const int following = NextByte();
        if (following == '\n') {
            return '\n';
        }
        m_pushedBack = following;
        return '\r';
    }

private:
    int NextByte() noexcept {
        if (m_pushedBack != kNone) {
            const int c = m_pushedBack;
            m_pushedBack = kNone;
            return c;
        }
        if (m_ended) {
            return kEnd;
        }
        if (m_position == m_filled && !Fill()) {
            m_ended = true;
            return kEnd;
        }
        const int c = m_buffer[m_position++];
        if (c == 0x1A) {
            m_ended = true;
            return kEnd;
        }
        return c;
    }

    bool Fill() noexcept {
        DWORD read = 0;
        if (!ReadFile(m_file, m_buffer, sizeof m_buffer, &read, nullptr) || read == 0) {
            return false;
        }
        m_position = 0;
        m_filled = read;
        return true;
    }

    static constexpr int kNone = -2;

    HANDLE m_file;
    unsigned char m_buffer[512];
    DWORD m_position = 0;
    DWORD m_filled = 0;
    int m_pushedBack = kNone;
    bool m_ended = false;
};

}  // namespace

bool ReadDeviceAddressLine(const wchar_t* path, FileReach reach,
                           wchar_t (&line)[kMaxDeviceAddressLength + 2]) noexcept {
    const UniqueFile file = OpenOrdinaryFileForReading(path, reach);
    if (!file) {
        return false;
    }

    TextModeReader reader(file.get());
    std::size_t stored = 0;
    while (stored < kMaxDeviceAddressLength) {
        const int c = reader.Next();
        if (c == TextModeReader::kEnd || c == '\n') {
            break;
        }
        line[stored++] = static_cast<wchar_t>(c);
    }
    line[stored] = L'\0';
    return true;
}

}  // namespace dialer

// The member that selects the address a device-address file names.
HRESULT CTAPIDialer::ReadDeviceAddressFromFile(BSTR strFileSpec, VARIANT_BOOL* bSuccess) noexcept {
    if (!bSuccess) {
        return E_POINTER;
    }
    *bSuccess = VARIANT_FALSE;
    Road road(*this);
    if (!road) {
        return dialer::kDialerBusy;
    }
    // Without telephony no answer may depend on the file: a page could
    // otherwise tell which files exist.
    if (!m_pTapi || !m_bTapiInitialized) {
        return S_OK;
    }

    const dialer::FileReach reach = SafetyOptionEnabled(INTERFACESAFE_FOR_UNTRUSTED_CALLER)
                                        ? dialer::FileReach::LocalOnly
                                        : dialer::FileReach::LocalOrShare;
    wchar_t line[dialer::kMaxDeviceAddressLength + 2] = {};
    if (!dialer::ReadDeviceAddressLine(strFileSpec, reach, line) || line[0] == L'\0') {
        // Every problem with the file is S_OK with no selection.
        return S_OK;
    }
    const comkit::UniqueBstr name(SysAllocString(line));
    if (!name) {
        return S_OK;
    }
    // As a host's SetDeviceAddress of that name would select it.
    return SelectAddressNamed(name.Get(), bSuccess);
}
