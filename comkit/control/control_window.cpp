#include "comkit/control/control_window.h"

#include "comkit/control/control_base.h"
#include "comkit/critical_section.h"
#include "comkit/module.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace comkit {

namespace {

constexpr DWORD kWindowStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

HINSTANCE ThisModule() noexcept {
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

// Registration state; guarded by Lock(). The name carries the address of the
// state so that two modules (or two loads of one) never share a class.
struct WindowClass {
    CComAutoCriticalSection lock;
    ATOM atom = 0;
    wchar_t name[40] = L"";
};

WindowClass& Class() noexcept {
    static WindowClass instance;
    return instance;
}

// The window's own extra bytes mark a window asked to close on its own
// thread, which holds a module lock until it is destroyed. Unlike a window
// property, writing them needs no memory and cannot fail on a live window.
constexpr int kHoldsModuleIndex = 0;

CComControlBase* ControlOf(HWND window) noexcept {
    return reinterpret_cast<CComControlBase*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam,
                                   LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY && SetWindowLongPtrW(window, kHoldsModuleIndex, 0) != 0) {
        const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
        GetModule().Unlock();
        return result;
    }
    CComControlBase* control = ControlOf(window);
    if (control) {
        switch (message) {
        case WM_PAINT:
            control->OnPaint(window);
            return 0;
        case WM_SETFOCUS:
            control->OnWindowFocus(true);
            break;
        case WM_KILLFOCUS:
            control->OnWindowFocus(false);
            break;
        case WM_MOUSEACTIVATE:
            control->OnWindowMouseActivate();
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            if (control->Window() == window)
                control->OnWindowDestroyed();
            break;
        default:
            break;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void UnregisterWindowClass(void*) noexcept {
    WindowClass& wc = Class();
    CComCritSecLock<CComCriticalSection> guard(wc.lock);
    if (wc.atom)
        UnregisterClassW(wc.name, ThisModule());
    wc.atom = 0;
}

ATOM RegisterWindowClass() noexcept {
    WindowClass& wc = Class();
    CComCritSecLock<CComCriticalSection> guard(wc.lock);
    if (wc.atom)
        return wc.atom;
    wsprintfW(wc.name, L"Brevlin:%p", static_cast<void*>(&wc));
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof(cls);
    cls.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    cls.lpfnWndProc = ControlWindowProc;
    cls.cbWndExtra = sizeof(LONG_PTR);
    cls.hInstance = ThisModule();
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    cls.lpszClassName = wc.name;
    wc.atom = RegisterClassExW(&cls);
    if (wc.atom)
        (void)GetModule().AddTermFunc(UnregisterWindowClass, nullptr);
    return wc.atom;
}

}  // namespace

HWND CreateControlWindow(CComControlBase* control, HWND parent, const RECT& pos) noexcept {
    if (!RegisterWindowClass())
        return nullptr;
    return CreateWindowExW(0, Class().name, nullptr, kWindowStyle, pos.left, pos.top,
                           pos.right - pos.left, pos.bottom - pos.top, parent, nullptr,
                           ThisModule(), control);
}

void DetachControlWindow(HWND window) noexcept {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
}

void CloseControlWindowLater(HWND window) noexcept {
    GetModule().Lock();
    SetLastError(ERROR_SUCCESS);
    const LONG_PTR before = SetWindowLongPtrW(window, kHoldsModuleIndex, 1);
    if (before != 0 || GetLastError() != ERROR_SUCCESS) {
        // The window holds a lock already, or is gone.
        GetModule().Unlock();
    }
    // Should the message not be posted, the window still holds the lock
    // until it is destroyed some other way: its procedure is this module's.
    (void)PostMessageW(window, WM_CLOSE, 0, 0);
}

const wchar_t* ControlWindowClassName() noexcept {
    return Class().name;
}

}  // namespace comkit
