#include "dialer/ordinary_file.h"

#include <cwchar>

namespace dialer {
namespace {

bool IsSeparator(wchar_t c) noexcept {
    return c == L'\\' || c == L'/';
}

wchar_t Upper(wchar_t c) noexcept {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Whether [begin, end) equals `word` without regard to ASCII case.
bool EqualsWord(const wchar_t* begin, const wchar_t* end, const wchar_t* word) noexcept {
    for (; begin != end && *word; ++begin, ++word) {
        if (Upper(*begin) != *word) {
            return false;
        }
    }
    return begin == end && !*word;
}

bool StartsWithWord(const wchar_t* text, const wchar_t* word) noexcept {
    for (; *word; ++text, ++word) {
        if (Upper(*text) != *word) {
            return false;
        }
    }
    return true;
}

// The names the platform maps to devices in every folder. A digit 0 to 9
// or a superscript 1 to 3 follows COM and LPT.
bool IsDeviceName(const wchar_t* begin, const wchar_t* end) noexcept {
    static const wchar_t* const kNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* name : kNames) {
        if (EqualsWord(begin, end, name)) {
            return true;
        }
    }
    if (end - begin != 4 ||
        !(EqualsWord(begin, begin + 3, L"COM") || EqualsWord(begin, begin + 3, L"LPT"))) {
        return false;
    }
    const wchar_t digit = begin[3];
    return (digit >= L'0' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 ||
           digit == 0x00B3;
}

// The last part of the path, before any extension or stream name, and
// without the blanks the platform drops at its end.
bool LastPartIsDevice(const wchar_t* path) noexcept {
    const wchar_t* part = path;
    for (const wchar_t* p = path; *p; ++p) {
        if (IsSeparator(*p) || (*p == L':' && p == path + 1)) {
            part = p + 1;
        }
    }
    const wchar_t* end = part;
    while (*end && *end != L'.' && *end != L':') {
        ++end;
    }
    while (end != part && end[-1] == L' ') {
        --end;
    }
    return IsDeviceName(part, end);
}

bool IsDrivePath(const wchar_t* path) noexcept {
    const wchar_t letter = Upper(path[0]);
    return letter >= L'A' && letter <= L'Z' && path[1] == L':' && IsSeparator(path[2]) && path[3];
}

// \\server\share\...: a share named pipe or mailslot is not a folder.
bool IsFileShare(const wchar_t* afterSlashes) noexcept {
    const wchar_t* server = afterSlashes;
    const wchar_t* share = server;
    while (*share && !IsSeparator(*share)) {
        ++share;
    }
    if (share == server || !*share) {
        return false;
    }
    ++share;
    const wchar_t* shareEnd = share;
    while (*shareEnd && !IsSeparator(*shareEnd)) {
        ++shareEnd;
    }
    if (shareEnd == share || EqualsWord(share, shareEnd, L"PIPE") ||
        EqualsWord(share, shareEnd, L"MAILSLOT")) {
        return false;
    }
    return *shareEnd && shareEnd[1];
}

}  // namespace

bool PathCanNameOnlyAFile(const wchar_t* path) noexcept {
    if (!path || !*path) {
        return false;
    }
    // \\?\, \\.\ and \??\ reach the device namespace: only a drive path or
    // a share behind them is a file.
    const bool devicePrefix =
        (IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.') &&
         IsSeparator(path[3])) ||
        (path[0] == L'\\' && path[1] == L'?' && path[2] == L'?' && path[3] == L'\\');
    if (devicePrefix) {
        const wchar_t* rest = path + 4;
        if (StartsWithWord(rest, L"UNC") && IsSeparator(rest[3])) {
            return IsFileShare(rest + 4) && !LastPartIsDevice(rest);
        }
        return IsDrivePath(rest) && !LastPartIsDevice(rest);
    }
    if (IsSeparator(path[0]) && IsSeparator(path[1])) {
        return IsFileShare(path + 2) && !LastPartIsDevice(path);
    }
    return !LastPartIsDevice(path);
}

UniqueFile OpenOrdinaryFileForReading(const wchar_t* path) noexcept {
    if (!PathCanNameOnlyAFile(path)) {
        return nullptr;
    }
    HANDLE handle =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    UniqueFile file(handle);
    // Whatever the path looked like, only a disk file is read.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        return nullptr;
    }
    return file;
}

}  // namespace dialer
