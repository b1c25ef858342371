// A serial port opened through the Win32 communications API, owned by
// value (the handle closes with the object).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace telsim::modem {

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort() { Close(); }
    SerialPort(SerialPort&& other) noexcept : handle_(other.handle_) {
        other.handle_ = INVALID_HANDLE_VALUE;
    }
    SerialPort& operator=(SerialPort&& other) noexcept;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // "\\.\COMn" for port numbers 1 to 256.
    static std::wstring DevicePath(unsigned port);

    // Opens and configures the device (8N1 at `baud`, no flow control, DTR
    // and RTS raised, reads that return within readSliceMs). The failure of
    // CreateFileW or of the configuration as an HRESULT.
    HRESULT Open(const std::wstring& devicePath, DWORD baud, DWORD readSliceMs) noexcept;
    bool IsOpen() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
    void Close() noexcept;

    HRESULT Write(std::string_view bytes) noexcept;
    // Appends what arrives within one read slice to `out` (possibly nothing).
    HRESULT ReadSome(std::string& out) noexcept;
    // Raises or drops DTR. A pseudo-terminal has no modem lines, so this
    // fails there (ERROR_NOT_SUPPORTED under Wine); callers treat that as
    // "no DTR" rather than as an error.
    HRESULT SetDtr(bool on) noexcept;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace telsim::modem
