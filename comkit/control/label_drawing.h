// The control's picture: a fixed label, centred on its bounds.
#pragma once

#include <windows.h>

namespace comkit {

inline constexpr wchar_t kControlLabel[] = L"ATL 8.0";

// Draws the label into dc with the context's current font and colours,
// aligned centre and baseline on the centre of bounds (logical units of dc).
// A context other than a metafile is drawn in device units (MM_TEXT, origins
// at 0, 0) and has its state restored afterwards; a metafile is drawn into
// as it is. Nothing but the text is painted.
HRESULT DrawControlLabel(HDC dc, RECTL bounds) noexcept;

} // namespace comkit
