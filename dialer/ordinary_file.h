// Opening a path only when it names an ordinary file on a disk, local or on
// a network share: never a device (CON, NUL, a COM port), a pipe or a
// mailslot, whose opening could block the caller, seize a port or let a
// server act as the caller. Every check applies to the path as the platform
// will open it, once it has folded `.`, `..` and `/` the way it does.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace dialer {

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using UniqueFile = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// Where a file may be read from: a host that runs untrusted content keeps
// it to local drives, so that no page makes the host wait on the network
// or hand its credentials to a server.
enum class FileReach { LocalOrShare, LocalOnly };

// The full path the platform would open for `path` (GetFullPathNameW) when
// it can name only a file within `reach`, null otherwise. Allowed are
// X:\... and \\server\share\... (the share neither PIPE, MAILSLOT nor
// IPC$), and the same two behind \\?\; never a DOS device name as the last
// part (in any folder, with any extension). Every other form of the device
// namespace (\\.\..., \??\..., \\?\GLOBALROOT..., a volume name) is refused.
std::unique_ptr<wchar_t[]> FilePathToOpen(const wchar_t* path, FileReach reach) noexcept;

// The file opened for reading, with sharing that denies nothing to others
// and as an anonymous client of any server it reaches; null when the path
// cannot name only a file, the open fails, or what was opened turns out not
// to be a disk file.
UniqueFile OpenOrdinaryFileForReading(const wchar_t* path, FileReach reach) noexcept;

}  // namespace dialer
