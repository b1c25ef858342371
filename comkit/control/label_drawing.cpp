#include "comkit/control/label_drawing.h"

namespace comkit {

HRESULT DrawCentredLabel(HDC dc, RECTL bounds, const wchar_t* text) noexcept {
    const bool metafile = GetDeviceCaps(dc, TECHNOLOGY) == DT_METAFILE;
    int saved = 0;
    if (!metafile) {
        POINT corners[2] = {{bounds.left, bounds.top}, {bounds.right, bounds.bottom}};
        LPtoDP(dc, corners, 2);
        bounds = RECTL{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
        saved = SaveDC(dc);
        if (saved == 0)
            return HRESULT_FROM_WIN32(GetLastError());
        SetMapMode(dc, MM_TEXT);
        SetWindowOrgEx(dc, 0, 0, nullptr);
        SetViewportOrgEx(dc, 0, 0, nullptr);
    }
    SetTextAlign(dc, TA_CENTER | TA_BASELINE);
    // Integer division truncates towards zero, also for negative extents.
    const int x = bounds.left + (bounds.right - bounds.left) / 2;
    const int y = bounds.top + (bounds.bottom - bounds.top) / 2;
    const BOOL drawn = TextOutW(dc, x, y, text, static_cast<int>(wcslen(text)));
    const DWORD error = drawn ? ERROR_SUCCESS : GetLastError();
    if (!metafile)
        RestoreDC(dc, saved);
    return drawn ? S_OK : (error ? HRESULT_FROM_WIN32(error) : E_FAIL);
}

}  // namespace comkit
