#include "telsim/modem/serial_port.h"

namespace telsim::modem {
namespace {

HRESULT LastError() {
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

}  // namespace

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = INVALID_HANDLE_VALUE;
    }
    return *this;
}

std::wstring SerialPort::DevicePath(unsigned port) {
    return L"\\\\.\\COM" + std::to_wstring(port);
}

HRESULT SerialPort::Open(const std::wstring& devicePath, DWORD baud, DWORD readSliceMs) noexcept {
    Close();
    HANDLE handle = CreateFileW(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return LastError();
    }
    handle_ = handle;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle_, &dcb)) {
        const HRESULT hr = LastError();
        Close();
        return hr;
    }
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    COMMTIMEOUTS timeouts{};
    // Return as soon as anything arrives, or after one slice with nothing.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = readSliceMs;
    timeouts.WriteTotalTimeoutConstant = 2000;
    if (!SetCommState(handle_, &dcb) || !SetCommTimeouts(handle_, &timeouts)) {
        const HRESULT hr = LastError();
        Close();
        return hr;
    }
    PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return S_OK;
}

void SerialPort::Close() noexcept {
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

HRESULT SerialPort::Write(std::string_view bytes) noexcept {
    if (!IsOpen()) {
        return E_HANDLE;
    }
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr)) {
            return LastError();
        }
        if (written == 0) {
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        }
        bytes.remove_prefix(written);
    }
    return S_OK;
}

HRESULT SerialPort::ReadSome(std::string& out) noexcept {
    if (!IsOpen()) {
        return E_HANDLE;
    }
    char buffer[256];
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, sizeof buffer, &got, nullptr)) {
        return LastError();
    }
    out.append(buffer, got);
    return S_OK;
}

HRESULT SerialPort::SetDtr(bool on) noexcept {
    if (!IsOpen()) {
        return E_HANDLE;
    }
    return EscapeCommFunction(handle_, on ? SETDTR : CLRDTR) ? S_OK : LastError();
}

}  // namespace telsim::modem
