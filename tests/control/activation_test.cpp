// In-place activation in a real container window: the control's child
// window, its traits and its painting, and windowless activation.
#include "control_fixture.h"
#include "label_image.h"

#include "comkit/control/control_window.h"
#include "comkit/module.h"

#include <optional>

using Microsoft::WRL::ComPtr;

namespace {

void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

class ActivationTest : public ControlTest {
protected:
    // One container window for the suite: making and destroying a top-level
    // window under X costs seconds.
    static void SetUpTestSuite() {
        WNDCLASSW cls{};
        cls.lpfnWndProc = DefWindowProcW;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.lpszClassName = L"BrevlinTestContainer";
        cls.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
        RegisterClassW(&cls);
        container = CreateWindowExW(0, L"BrevlinTestContainer", L"container",
                                    WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 50, 50, 500,
                                    400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        UpdateWindow(container);
        PumpMessages();
    }
    static void TearDownTestSuite() {
        if (container)
            DestroyWindow(container);
        container = nullptr;
        PumpMessages();
    }

    void SetUp() override {
        ControlTest::SetUp();
        ASSERT_NE(nullptr, container);
        ole = As<IOleObject>(IID_IOleObject);
    }

    void TearDown() override {
        if (ole) {
            EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
            EXPECT_HR(S_OK, ole->SetClientSite(nullptr));
        }
        ole.Reset();
        site.Reset();
        ControlTest::TearDown();
        EXPECT_EQ(nullptr, GetWindow(container, GW_CHILD))
            << "a control window outlived its control";
        PumpMessages();
    }

    // Sites the control in the container window and activates it.
    HRESULT Activate(LONG verb, SiteOptions options) {
        options.userMode = TestSite::Bool(true);
        options.window = container;
        site = TestSite::Create(options);
        HRESULT hr = ole->SetClientSite(site.Get());
        if (FAILED(hr))
            return hr;
        hr = ole->DoVerb(verb, nullptr, site.Get(), 0, container, &options.pos);
        PumpMessages();
        return hr;
    }

    HWND ControlWindow() {
        HWND window = nullptr;
        (void)As<IOleInPlaceObject>(IID_IOleInPlaceObject)->GetWindow(&window);
        return window;
    }

    static inline HWND container = nullptr;
    ComPtr<IOleObject> ole;
    ComPtr<TestSite> site;
};

}  // namespace

TEST_F(ActivationTest, WindowedActivationCreatesTheChildWindow) {
    SiteOptions options;  // windowless site that does not agree
    ASSERT_HR(S_OK, Activate(OLEIVERB_INPLACEACTIVATE, options));
    EXPECT_TRUE(site->Called("CanWindowlessActivate"));
    EXPECT_TRUE(site->Called("OnInPlaceActivateEx(0)"));

    HWND window = ControlWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(container, GetParent(window));
    EXPECT_EQ(0x56000000, GetWindowLongW(window, GWL_STYLE));
    EXPECT_EQ(0, GetWindowLongW(window, GWL_EXSTYLE));
    EXPECT_EQ(0xBu, static_cast<UINT>(GetClassLongPtrW(window, GCL_STYLE)));
    EXPECT_EQ(static_cast<ULONG_PTR>(COLOR_WINDOW + 1),
              GetClassLongPtrW(window, GCLP_HBRBACKGROUND));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(LoadCursorW(nullptr, IDC_ARROW)),
              GetClassLongPtrW(window, GCLP_HCURSOR));
    wchar_t className[64] = L"";
    GetClassNameW(window, className, 64);
    EXPECT_STREQ(comkit::ControlWindowClassName(), className);

    // Where the site put it.
    RECT rc{};
    GetWindowRect(window, &rc);
    MapWindowPoints(nullptr, container, reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_EQ(options.pos.left, rc.left);
    EXPECT_EQ(options.pos.top, rc.top);
    EXPECT_EQ(options.pos.right, rc.right);
    EXPECT_EQ(options.pos.bottom, rc.bottom);

    HWND active = nullptr;
    EXPECT_HR(S_OK, As<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject)->GetWindow(&active));
    EXPECT_EQ(window, active);
}

TEST_F(ActivationTest, SiteWithoutWindowlessSupportGetsAWindow) {
    SiteOptions options;
    options.inPlace = SiteOptions::InPlace::Plain;
    ASSERT_HR(S_OK, Activate(OLEIVERB_INPLACEACTIVATE, options));
    EXPECT_TRUE(site->Called("OnInPlaceActivate"));
    EXPECT_FALSE(site->Called("CanWindowlessActivate"));
    EXPECT_NE(nullptr, ControlWindow());
}

TEST_F(ActivationTest, WindowlessActivationWhenTheSiteAgrees) {
    SiteOptions options;
    options.canWindowless = true;
    ASSERT_HR(S_OK, Activate(OLEIVERB_INPLACEACTIVATE, options));
    EXPECT_TRUE(site->Called("OnInPlaceActivateEx(windowless)"));
    EXPECT_EQ(nullptr, ControlWindow());
    EXPECT_EQ(nullptr, GetWindow(container, GW_CHILD));
    LRESULT result = 1;
    EXPECT_HR(S_FALSE, As<IOleInPlaceObjectWindowless>(IID_IOleInPlaceObjectWindowless)
                           ->OnWindowMessage(WM_LBUTTONDOWN, 0, 0, &result));
}

TEST_F(ActivationTest, WindowPaintsTheLabelAndNothingElse) {
    SiteOptions options;
    options.pos = RECT{20, 30, 221, 111};
    ASSERT_HR(S_OK, Activate(OLEIVERB_INPLACEACTIVATE, options));
    HWND window = ControlWindow();
    ASSERT_NE(nullptr, window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    PumpMessages();
    GdiFlush();

    RECT client{};
    GetClientRect(window, &client);
    ASSERT_LE(client.right, LabelImage::kWidth);
    ASSERT_LE(client.bottom, LabelImage::kHeight);
    LabelImage shown;
    HDC windowDc = GetDC(window);
    BitBlt(shown.Dc(), 0, 0, client.right, client.bottom, windowDc, 0, 0, SRCCOPY);
    ReleaseDC(window, windowDc);

    // What the window should look like: its class background, and the
    // label in a fresh context's font and colours.
    LabelImage expected;
    HBRUSH background = GetSysColorBrush(COLOR_WINDOW);
    FillRect(expected.Dc(), &client, background);
    SetBkMode(expected.Dc(), OPAQUE);
    SetBkColor(expected.Dc(), RGB(255, 255, 255));
    SelectObject(expected.Dc(), GetStockObject(SYSTEM_FONT));
    expected.DrawReference(client.right / 2, client.bottom / 2);
    const auto got = shown.Pixels();
    const auto want = expected.Pixels();
    int differing = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        if ((got[i] & 0xFFFFFF) != (want[i] & 0xFFFFFF))
            ++differing;
    }
    EXPECT_EQ(0, differing) << "pixels differing from the centred label on the window background";
}

TEST_F(ActivationTest, SetObjectRectsMovesAndClipsTheWindow) {
    ASSERT_HR(S_OK, Activate(OLEIVERB_INPLACEACTIVATE, SiteOptions{}));
    HWND window = ControlWindow();
    ASSERT_NE(nullptr, window);
    const RECT pos{40, 50, 140, 100};
    const RECT clip{0, 0, 100, 400};
    ASSERT_HR(S_OK, As<IOleInPlaceObject>(IID_IOleInPlaceObject)->SetObjectRects(&pos, &clip));
    RECT rc{};
    GetWindowRect(window, &rc);
    MapWindowPoints(nullptr, container, reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_EQ(40, rc.left);
    EXPECT_EQ(50, rc.top);
    EXPECT_EQ(100, rc.right - rc.left);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_EQ(SIMPLEREGION, GetWindowRgn(window, region));
    RECT box{};
    GetRgnBox(region, &box);
    DeleteObject(region);
    EXPECT_EQ(60, box.right) << "the window is clipped where the clip rectangle ends";
    EXPECT_HR(E_POINTER,
              As<IOleInPlaceObject>(IID_IOleInPlaceObject)->SetObjectRects(nullptr, &clip));
}

TEST_F(ActivationTest, HideAndShowVerbs) {
    ASSERT_HR(S_OK, Activate(OLEIVERB_UIACTIVATE, SiteOptions{}));
    EXPECT_TRUE(site->Called("OnUIActivate"));
    HWND window = ControlWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_HR(S_OK, ole->DoVerb(OLEIVERB_HIDE, nullptr, site.Get(), 0, container, nullptr));
    EXPECT_TRUE(site->Called("OnUIDeactivate"));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_HR(S_OK, ole->DoVerb(OLEIVERB_SHOW, nullptr, site.Get(), 0, container, nullptr));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(window, ControlWindow()) << "showing again must not make a second window";
}

TEST_F(ActivationTest, UIActivationFocusesTheWindowAndTellsTheSite) {
    ASSERT_HR(S_OK, Activate(OLEIVERB_UIACTIVATE, SiteOptions{}));
    HWND window = ControlWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(window, GetFocus());
    EXPECT_TRUE(site->Called("OnFocus(1)"));
}

TEST_F(ActivationTest, CloseAndDeactivationDestroyTheWindow) {
    ASSERT_HR(S_OK, Activate(OLEIVERB_INPLACEACTIVATE, SiteOptions{}));
    HWND window = ControlWindow();
    ASSERT_TRUE(IsWindow(window));
    EXPECT_HR(S_OK, As<IOleInPlaceObject>(IID_IOleInPlaceObject)->InPlaceDeactivate());
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(site->Called("OnInPlaceDeactivateEx"));
    EXPECT_EQ(nullptr, ControlWindow());

    // Activating again makes a new window; Close takes it down.
    ASSERT_HR(S_OK,
              ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.Get(), 0, container, nullptr));
    window = ControlWindow();
    ASSERT_TRUE(IsWindow(window));
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(site->Called("OnShowWindow(0)"));
}

TEST_F(ActivationTest, FinalReleaseDestroysTheWindow) {
    ASSERT_HR(S_OK, Activate(OLEIVERB_INPLACEACTIVATE, SiteOptions{}));
    HWND window = ControlWindow();
    ASSERT_TRUE(IsWindow(window));
    ole.Reset();
    EXPECT_EQ(0u, control.Reset());
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(site->Called("OnInPlaceDeactivateEx"));
    // Messages still queued for the window must not reach the freed control.
    PumpMessages();
}

namespace {

// This program's own calls of user32's PostMessageW fail while it lives,
// as they do when the receiving queue is full. comkit is linked in
// statically, so its calls go through this program's import table.
class LostPostedMessages {
public:
    LostPostedMessages() noexcept : m_slot(ImportSlot("user32.dll", "PostMessageW")) {
        if (m_slot)
            m_original = Exchange(reinterpret_cast<void*>(&Refuse));
    }
    ~LostPostedMessages() {
        if (m_slot)
            Exchange(m_original);
    }
    LostPostedMessages(const LostPostedMessages&) = delete;
    LostPostedMessages& operator=(const LostPostedMessages&) = delete;
    bool Installed() const noexcept { return m_slot != nullptr; }

private:
    static BOOL WINAPI Refuse(HWND, UINT, WPARAM, LPARAM) noexcept {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }

    static void** ImportSlot(const char* dll, const char* function) noexcept {
        auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* entry =
                 reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
             entry->Name; ++entry) {
            if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0)
                continue;
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                    continue;
                const auto* byName =
                    reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), function) == 0)
                    return reinterpret_cast<void**>(&slots->u1.Function);
            }
        }
        return nullptr;
    }

    void* Exchange(void* replacement) noexcept {
        DWORD protection = 0;
        VirtualProtect(m_slot, sizeof(void*), PAGE_READWRITE, &protection);
        void* const former = *m_slot;
        *m_slot = replacement;
        VirtualProtect(m_slot, sizeof(void*), protection, &protection);
        return former;
    }

    void** m_slot;
    void* m_original = nullptr;
};

// The window lives on the thread that activated the control; the last
// reference goes on another thread, which cannot destroy that window. Its
// procedure is this module's: the module stays locked until the window goes,
// even when the message asking it to close is lost.
void CloseOnAnotherThread(ComPtr<IOleObject>& ole, ComPtr<IUnknown>& control,
                          bool closeMessageLost) {
    struct Shared {
        ComPtr<IOleObject> ole;
        ComPtr<TestSite> site;
        HWND window = nullptr;
        HANDLE activated = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        bool windowGone = false;

        // The worker thread (WINAPI, stdcall for x86, which a lambda cannot be).
        static DWORD WINAPI Serve(void* data) {
            auto* s = static_cast<Shared*>(data);
            SiteOptions options;
            options.userMode = TestSite::Bool(true);
            options.window =
                CreateWindowExW(0, L"BrevlinTestContainer", L"worker", WS_OVERLAPPEDWINDOW, 0, 0,
                                300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
            s->site = TestSite::Create(options);
            if (SUCCEEDED(s->ole->SetClientSite(s->site.Get())) &&
                SUCCEEDED(s->ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, s->site.Get(), 0,
                                         options.window, nullptr))) {
                ComPtr<IOleInPlaceObject> inPlace;
                if (SUCCEEDED(s->ole.As(&inPlace)))
                    (void)inPlace->GetWindow(&s->window);
            }
            s->ole.Reset();
            SetEvent(s->activated);
            // Answer sent messages while the control goes elsewhere, but leave
            // posted ones queued: the close request must not be served before
            // the host thread has seen the window's lock.
            while (MsgWaitForMultipleObjects(1, &s->released, FALSE, INFINITE, QS_SENDMESSAGE) !=
                   WAIT_OBJECT_0) {
                MSG msg;
                PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            }
            for (int i = 0; i < 50 && IsWindow(s->window); ++i) {
                InvalidateRect(s->window, nullptr, TRUE);
                PumpMessages();
                Sleep(10);
            }
            s->windowGone = !IsWindow(s->window);
            DestroyWindow(options.window);
            PumpMessages();
            return 0;
        }
    } shared;
    shared.ole = ole;
    ole.Reset();

    HANDLE thread = CreateThread(nullptr, 0, &Shared::Serve, &shared, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(shared.activated, 10000));
    ASSERT_NE(nullptr, shared.window);
    {
        std::optional<LostPostedMessages> lost;
        if (closeMessageLost) {
            lost.emplace();
            ASSERT_TRUE(lost->Installed());
        }
        EXPECT_EQ(0u, control.Reset());
    }
    EXPECT_EQ(1, comkit::GetModule().GetLockCount());
    SetEvent(shared.released);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    EXPECT_EQ(0, comkit::GetModule().GetLockCount());
    CloseHandle(thread);
    CloseHandle(shared.activated);
    CloseHandle(shared.released);
    // A lost message leaves the window until its container goes.
    EXPECT_EQ(!closeMessageLost, shared.windowGone) << "the window was never closed";
    EXPECT_TRUE(shared.site->Called("OnInPlaceDeactivateEx"));
}

}  // namespace

TEST_F(ActivationTest, WindowOfAnotherThreadOutlivesItsControlSafely) {
    CloseOnAnotherThread(ole, control, false);
}

TEST_F(ActivationTest, WindowWhoseCloseMessageIsLostKeepsTheModuleLocked) {
    CloseOnAnotherThread(ole, control, true);
}
