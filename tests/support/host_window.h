// A window of the host's thread: a message sent to it from another thread
// runs `action` there, and only while that thread pumps, as a call
// marshalled into a single-threaded apartment is, or a host's own window's
// message while a member it called waits.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace test_support {

class HostWindow {
public:
    explicit HostWindow(std::function<void()> action) : m_action(std::move(action)) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"BrevlinTestHost";
        RegisterClassW(&windowClass);
        m_window = CreateWindowW(L"BrevlinTestHost", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 windowClass.hInstance, this);
    }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    ~HostWindow() { DestroyWindow(m_window); }
    // Null when the window could not be made.
    HWND Handle() const noexcept { return m_window; }
    // From another thread: returns once `action` has run on the host's thread.
    void RunOnHostThread() const { SendMessageW(m_window, WM_APP, 0, 0); }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        } else if (message == WM_APP) {
            reinterpret_cast<HostWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA))->m_action();
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    std::function<void()> m_action;
    HWND m_window = nullptr;
};

}  // namespace test_support
