// Wine's ATL host (atl.dll's AtlAxWin window) with the registered dialer.
#include <gtest/gtest.h>

#include <wrl/client.h>

#include "brevlin_idl.h"
#include "registered_fixture.h"
#include "support/bstr.h"

using Microsoft::WRL::ComPtr;

namespace {

// Waits up to ten seconds, dispatching this thread's messages as a host's
// message loop does, until `done` holds.
template <class Done>
bool PumpUntil(Done done) {
    const ULONGLONG end = GetTickCount64() + 10000;
    while (!done()) {
        if (GetTickCount64() >= end) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

}  // namespace

// Wine's ATL host window makes the control from its ProgID, as a form
// designer or an HTA does, and the host follows the call by its messages.
TEST_F(RegisteredDialerTest, WinesAtlHostSeesTheCallConnectAndEnd) {
    HMODULE atl = LoadLibraryW(L"atl.dll");
    ASSERT_NE(nullptr, atl);
    using Init = BOOL(WINAPI*)();
    using GetControl = HRESULT(WINAPI*)(HWND, IUnknown**);
    const auto init =
        reinterpret_cast<Init>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
    const auto getControl = reinterpret_cast<GetControl>(
        reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
    ASSERT_TRUE(init && getControl);
    ASSERT_TRUE(init());
    HWND host = CreateWindowW(L"AtlAxWin", L"Brevlin.TAPIDialer", WS_POPUP, 0, 0, 100, 100, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, host) << GetLastError();
    ComPtr<IUnknown> control;
    EXPECT_HR(S_OK, getControl(host, &control));
    ComPtr<ITAPIDialer> dialer;
    if (control) {
        EXPECT_HR(S_OK, control.As(&dialer));
    }
    control.Reset();
    if (dialer) {
        const auto connected = [&] {
            VARIANT_BOOL value = VARIANT_FALSE;
            return SUCCEEDED(dialer->get_Connected(&value)) && value == VARIANT_TRUE;
        };
        EXPECT_HR(S_OK, dialer->InitializeTAPI());
        test_support::Bstr number(L"5550100");
        EXPECT_HR(S_OK, dialer->Connect(number.Get()));
        EXPECT_TRUE(PumpUntil(connected));
        EXPECT_HR(S_OK, dialer->Disconnect());
        EXPECT_TRUE(PumpUntil([&] { return !connected(); }));
        EXPECT_HR(S_OK, dialer->ShutdownTAPI());
        dialer.Reset();
    }
    DestroyWindow(host);
    PumpUntil([] { return true; });
    FreeLibrary(atl);
}
