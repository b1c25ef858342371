// Reading an ambient property of the container through its IDispatch.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace comkit {

enum class AmbientBool { Unavailable, False, True };

// Unavailable when the container fails the read or answers with anything but
// a VT_BOOL.
AmbientBool ReadAmbientBool(IDispatch* ambient, DISPID id) noexcept;

}  // namespace comkit
