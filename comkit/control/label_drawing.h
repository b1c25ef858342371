// A picture made of one line of text, centred on its bounds: all that a
// control without a picture of its own needs to show where it sits.
#pragma once

#include <windows.h>

namespace comkit {

// Draws text into dc with the context's current font and colours, aligned
// centre and baseline on the centre of bounds (logical units of dc). A
// context other than a metafile is drawn in device units (MM_TEXT, origins
// at 0, 0) and has its state restored afterwards; a metafile is drawn into
// as it is. Nothing but the text is painted.
HRESULT DrawCentredLabel(HDC dc, RECTL bounds, const wchar_t* text) noexcept;

}  // namespace comkit
