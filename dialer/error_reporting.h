// The dialer's one-line failure descriptions: the message table and the
// thread error object built from it.
#pragma once

#include <windows.h>

#include "comkit/bstr.h"

namespace dialer {

// Loads a message of the string table from the module's resources. The
// caller owns the result; it is null when the table has no such message or
// memory runs out.
comkit::UniqueBstr LoadMessage(UINT id) noexcept;

// The message for a failure met while creating, preparing or starting a call.
comkit::UniqueBstr ErrorTextForHresult(HRESULT hr) noexcept;

// Installs an error object carrying `description` (not taken over; null gives
// an empty description) on the calling thread on behalf of the dialer class.
// Failures of the reporting itself are silent.
void ReportDialerError(const wchar_t* description) noexcept;

// ReportDialerError with a message of the string table.
void ReportDialerMessage(UINT id) noexcept;

}  // namespace dialer
