#include "dialer/ordinary_file.h"

#include <new>

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

// X:\ and at least one part after it, on a drive within `reach`.
bool IsDrivePath(const wchar_t* path, FileReach reach) noexcept {
    const wchar_t letter = Upper(path[0]);
    if (!(letter >= L'A' && letter <= L'Z' && path[1] == L':' && path[2] == L'\\' && path[3])) {
        return false;
    }
    const wchar_t root[] = {path[0], L':', L'\\', L'\0'};
    return reach == FileReach::LocalOrShare || GetDriveTypeW(root) != DRIVE_REMOTE;
}

// server\share\...: a share named PIPE, MAILSLOT or IPC$ is not a folder.
// The server drops the dots and blanks that end a share's name.
bool IsFileShare(const wchar_t* afterSlashes) noexcept {
    const wchar_t* server = afterSlashes;
    const wchar_t* share = server;
    while (*share && *share != L'\\') {
        ++share;
    }
    if (share == server || !*share) {
        return false;
    }
    ++share;
    const wchar_t* shareEnd = share;
    while (*shareEnd && *shareEnd != L'\\') {
        ++shareEnd;
    }
    const wchar_t* const rest = shareEnd;
    while (shareEnd != share && (shareEnd[-1] == L'.' || shareEnd[-1] == L' ')) {
        --shareEnd;
    }
    if (shareEnd == share || EqualsWord(share, shareEnd, L"PIPE") ||
        EqualsWord(share, shareEnd, L"MAILSLOT") || EqualsWord(share, shareEnd, L"IPC$")) {
        return false;
    }
    return *rest && rest[1];
}

// Behind \\?\ the platform folds nothing: a part . or .., or a forward
// slash, would reach the file system as it stands.
bool IsVerbatim(const wchar_t* path) noexcept {
    const wchar_t* part = path;
    for (const wchar_t* p = path;; ++p) {
        if (*p == L'/') {
            return false;
        }
        if (*p == L'\\' || !*p) {
            const auto length = p - part;
            if ((length == 1 && part[0] == L'.') ||
                (length == 2 && part[0] == L'.' && part[1] == L'.')) {
                return false;
            }
            if (!*p) {
                return true;
            }
            part = p + 1;
        }
    }
}

// The decision on a full path as GetFullPathNameW gives it: only
// backslashes, no . or .. parts outside \\?\.
bool FullPathCanNameOnlyAFile(const wchar_t* full, FileReach reach) noexcept {
    if (full[0] != L'\\' || full[1] != L'\\') {
        return IsDrivePath(full, reach) && !LastPartIsDevice(full);
    }
    if (full[2] == L'?' && full[3] == L'\\') {
        const wchar_t* rest = full + 4;
        if (!IsVerbatim(rest)) {
            return false;
        }
        if (StartsWithWord(rest, L"UNC\\")) {
            return reach == FileReach::LocalOrShare && IsFileShare(rest + 4) &&
                   !LastPartIsDevice(rest);
        }
        return IsDrivePath(rest, reach) && !LastPartIsDevice(rest);
    }
    // \\.\ and its like reach devices, pipes and volumes.
    if (full[2] == L'.' || full[2] == L'?') {
        return false;
    }
    return reach == FileReach::LocalOrShare && IsFileShare(full + 2) && !LastPartIsDevice(full);
}

}  // namespace

std::unique_ptr<wchar_t[]> FilePathToOpen(const wchar_t* path, FileReach reach) noexcept {
    if (!path || !*path) {
        return nullptr;
    }
    // The platform hands \??\ to the object manager as it stands, while
    // GetFullPathNameW would make it look like a folder on the current drive.
    if (path[0] == L'\\' && path[1] == L'?' && path[2] == L'?' && path[3] == L'\\') {
        return nullptr;
    }
    DWORD size = MAX_PATH + 1;
    for (;;) {
        std::unique_ptr<wchar_t[]> full(new (std::nothrow) wchar_t[size]);
        if (!full) {
            return nullptr;
        }
        const DWORD length = GetFullPathNameW(path, size, full.get(), nullptr);
        if (length == 0) {
            return nullptr;
        }
        if (length < size) {
            return FullPathCanNameOnlyAFile(full.get(), reach) ? std::move(full) : nullptr;
        }
        size = length + 1;
    }
}

UniqueFile OpenOrdinaryFileForReading(const wchar_t* path, FileReach reach) noexcept {
    const std::unique_ptr<wchar_t[]> full = FilePathToOpen(path, reach);
    if (!full) {
        return nullptr;
    }
    // Anonymous: whatever server the path reaches cannot act as the caller.
    HANDLE handle = CreateFileW(
        full.get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr);
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
