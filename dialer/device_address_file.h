// The first line of a device-address file, read as the C runtime's text mode
// reads a file one byte per character.
#pragma once

#include <cstddef>

#include "dialer/ordinary_file.h"

namespace dialer {

// The longest name taken from a device-address file.
constexpr std::size_t kMaxDeviceAddressLength = 255;

// Reads the first line of the file at `path` into `line`, NUL-terminated:
// every byte becomes the character of the same value (U+0000 to U+00FF), a
// CR directly followed by LF reads as LF, a lone CR is an ordinary character,
// 0x1A ends the content, the LF that ends the line is dropped, and at most
// kMaxDeviceAddressLength characters are taken. The file is opened read-only
// with sharing that denies nothing to others, and closed before returning.
// Returns false when the file cannot be opened (null or empty path
// included), or when the path names anything but an ordinary disk file
// within `reach` (a device, a pipe): `line` is then left as it was.
bool ReadDeviceAddressLine(const wchar_t* path, FileReach reach,
                           wchar_t (&line)[kMaxDeviceAddressLength + 2]) noexcept;

}  // namespace dialer
