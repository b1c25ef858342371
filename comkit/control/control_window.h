// The child window of a control activated in place with a window.
#pragma once

#include <windows.h>

namespace comkit {

class CComControlBase;

// Creates the control's window as a child of parent at pos (style
// WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, no extended
// style). The window class is registered on first use, once per process, and
// unregistered when the module is torn down. The window calls back into
// control until it is destroyed; the control must destroy it before it goes.
// Returns null on failure, with the thread's last error set.
HWND CreateControlWindow(CComControlBase* control, HWND parent, const RECT& pos) noexcept;

// Stops the window from calling back into its control (it then behaves as
// a plain window with the class's background).
void DetachControlWindow(HWND window) noexcept;

// Asks a window, typically of another thread, to close and go on its own
// thread. Its window procedure lives in this module, so the module stays
// locked until the window is destroyed.
void CloseControlWindowLater(HWND window) noexcept;

// The registered class name, empty before the first window was created.
const wchar_t* ControlWindowClassName() noexcept;

}  // namespace comkit
