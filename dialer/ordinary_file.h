// Opening a path only when it names an ordinary file on a disk, local or on
// a network share: never a device (CON, NUL, a COM port), a pipe or a
// mailslot, whose opening could block the caller or seize a port.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace dialer {

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using UniqueFile = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// Whether the path's form rules out everything but a file: no DOS device
// name as its last part (in any folder, with any extension), nothing in the
// device namespace but a drive path, no pipe or mailslot share.
bool PathCanNameOnlyAFile(const wchar_t* path) noexcept;

// The file opened for reading, with sharing that denies nothing to others;
// null when the path cannot name only a file, the open fails, or what was
// opened turns out not to be a disk file.
UniqueFile OpenOrdinaryFileForReading(const wchar_t* path) noexcept;

}  // namespace dialer
