// The test container: one site object playing client site, in-place site
// (plain, Ex or windowless, as configured), control site and ambient
// dispatch. It records the calls the control makes, fails the test on calls
// that a control has no business making, and counts its references.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <optional>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "support/test_double.h"

struct SiteOptions {
    enum class InPlace { None, Plain, Ex, Windowless };
    InPlace inPlace = InPlace::Windowless;
    bool canWindowless = false;   // answer of CanWindowlessActivate
    bool controlSite = true;      // answers IOleControlSite
    bool ambientDispatch = true;  // answers IDispatch
    // UserMode's answer: nullopt fails the read; a VT_I4 value tests "not a boolean".
    std::optional<VARIANT> userMode;
    HRESULT showPropertyFrame = S_OK;
    HRESULT canInPlaceActivate = S_OK;
    HWND window = nullptr;  // the container window handed out by GetWindow
    RECT pos{10, 20, 110, 70};
    RECT clip{0, 0, 400, 300};
};

class TestSite final : public IOleClientSite,
                       public IOleInPlaceSiteWindowless,
                       public IOleControlSite,
                       public IDispatch {
public:
    static Microsoft::WRL::ComPtr<TestSite> Create(const SiteOptions& options);
    static VARIANT Bool(bool value);

    // Calls recorded, by name ("ShowObject", "OnInPlaceActivateEx(1)", ...).
    const std::vector<std::string>& Calls() const noexcept { return m_calls; }
    bool Called(const std::string& name) const;
    void ClearCalls() { m_calls.clear(); }
    SiteOptions& Options() noexcept { return m_options; }
    static LONG Live() noexcept;

    // IUnknown
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) noexcept override;
    STDMETHOD_(ULONG, AddRef)() noexcept override;
    STDMETHOD_(ULONG, Release)() noexcept override;

    // IOleClientSite
    STDMETHOD(SaveObject)() noexcept override;
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker**) noexcept override;
    STDMETHOD(GetContainer)(IOleContainer**) noexcept override;
    STDMETHOD(ShowObject)() noexcept override;
    STDMETHOD(OnShowWindow)(BOOL show) noexcept override;
    STDMETHOD(RequestNewObjectLayout)() noexcept override;

    // IOleWindow / IOleInPlaceSite
    STDMETHOD(GetWindow)(HWND* window) noexcept override;
    STDMETHOD(ContextSensitiveHelp)(BOOL) noexcept override;
    STDMETHOD(CanInPlaceActivate)() noexcept override;
    STDMETHOD(OnInPlaceActivate)() noexcept override;
    STDMETHOD(OnUIActivate)() noexcept override;
    STDMETHOD(GetWindowContext)
    (IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
     LPOLEINPLACEFRAMEINFO info) noexcept override;
    STDMETHOD(Scroll)(SIZE) noexcept override;
    STDMETHOD(OnUIDeactivate)(BOOL undoable) noexcept override;
    STDMETHOD(OnInPlaceDeactivate)() noexcept override;
    STDMETHOD(DiscardUndoState)() noexcept override;
    STDMETHOD(DeactivateAndUndo)() noexcept override;
    STDMETHOD(OnPosRectChange)(LPCRECT) noexcept override;

    // IOleInPlaceSiteEx
    STDMETHOD(OnInPlaceActivateEx)(BOOL* noRedraw, DWORD flags) noexcept override;
    STDMETHOD(OnInPlaceDeactivateEx)(BOOL noRedraw) noexcept override;
    STDMETHOD(RequestUIActivate)() noexcept override;

    // IOleInPlaceSiteWindowless
    STDMETHOD(CanWindowlessActivate)() noexcept override;
    STDMETHOD(GetCapture)() noexcept override;
    STDMETHOD(SetCapture)(BOOL) noexcept override;
    STDMETHOD(GetFocus)() noexcept override;
    STDMETHOD(SetFocus)(BOOL) noexcept override;
    STDMETHOD(GetDC)(LPCRECT, DWORD, HDC*) noexcept override;
    STDMETHOD(ReleaseDC)(HDC) noexcept override;
    STDMETHOD(InvalidateRect)(LPCRECT, BOOL) noexcept override;
    STDMETHOD(InvalidateRgn)(HRGN, BOOL) noexcept override;
    STDMETHOD(ScrollRect)(INT, INT, LPCRECT, LPCRECT) noexcept override;
    STDMETHOD(AdjustRect)(LPRECT) noexcept override;
    STDMETHOD(OnDefWindowMessage)(UINT, WPARAM, LPARAM, LRESULT*) noexcept override;

    // IOleControlSite
    STDMETHOD(OnControlInfoChanged)() noexcept override;
    STDMETHOD(LockInPlaceActive)(BOOL) noexcept override;
    STDMETHOD(GetExtendedControl)(IDispatch**) noexcept override;
    STDMETHOD(TransformCoords)(POINTL*, POINTF*, DWORD) noexcept override;
    STDMETHOD(TranslateAccelerator)(MSG*, DWORD) noexcept override;
    STDMETHOD(OnFocus)(BOOL got) noexcept override;
    STDMETHOD(ShowPropertyFrame)() noexcept override;

    // IDispatch (ambient properties)
    STDMETHOD(GetTypeInfoCount)(UINT*) noexcept override;
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) noexcept override;
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override;
    STDMETHOD(Invoke)
    (DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
     UINT*) noexcept override;

private:
    explicit TestSite(const SiteOptions& options);
    ~TestSite();
    HRESULT Unexpected(const char* name) noexcept;
    void Record(std::string name) noexcept;

    LONG m_ref = 1;
    SiteOptions m_options;
    std::vector<std::string> m_calls;
};

// A stream over fixed bytes that can fail or end early.
class TestStream final
    : public test_support::TestDouble<IStream, &IID_IStream, &IID_ISequentialStream> {
public:
    // Reads serve data; the read numbered failRead (1-based) fails with
    // failure; writes go to Written() until the write numbered failWrite.
    static Microsoft::WRL::ComPtr<TestStream> Create(std::vector<BYTE> data, int failRead = 0,
                                                     int failWrite = 0,
                                                     HRESULT failure = STG_E_READFAULT);
    const std::vector<BYTE>& Written() const noexcept { return m_written; }

    STDMETHOD(Read)(void* buffer, ULONG size, ULONG* read) noexcept override;
    STDMETHOD(Write)(const void* buffer, ULONG size, ULONG* written) noexcept override;
    STDMETHOD(Seek)(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) noexcept override { return E_NOTIMPL; }
    STDMETHOD(SetSize)(ULARGE_INTEGER) noexcept override { return E_NOTIMPL; }
    STDMETHOD(CopyTo)
    (IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) noexcept override {
        return E_NOTIMPL;
    }
    STDMETHOD(Commit)(DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHOD(Revert)() noexcept override { return E_NOTIMPL; }
    STDMETHOD(LockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override {
        return E_NOTIMPL;
    }
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override {
        return E_NOTIMPL;
    }
    STDMETHOD(Stat)(STATSTG*, DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHOD(Clone)(IStream**) noexcept override { return E_NOTIMPL; }

private:
    TestStream(std::vector<BYTE> data, int failRead, int failWrite, HRESULT failure);
    ~TestStream() override = default;

    std::vector<BYTE> m_data;
    size_t m_offset = 0;
    int m_reads = 0;
    int m_writes = 0;
    int m_failRead;
    int m_failWrite;
    HRESULT m_failure;
    std::vector<BYTE> m_written;
};

// An advise sink that counts the notifications it gets.
class TestAdviseSink final : public test_support::TestDouble<IAdviseSink, &IID_IAdviseSink> {
public:
    static Microsoft::WRL::ComPtr<TestAdviseSink> Create();
    int viewChanges = 0;
    DWORD lastViewAspect = 0;
    int closes = 0;
    int saves = 0;

    STDMETHOD_(void, OnDataChange)(FORMATETC*, STGMEDIUM*) noexcept override {}
    STDMETHOD_(void, OnViewChange)(DWORD aspect, LONG) noexcept override {
        ++viewChanges;
        lastViewAspect = aspect;
    }
    STDMETHOD_(void, OnRename)(IMoniker*) noexcept override {}
    STDMETHOD_(void, OnSave)() noexcept override { ++saves; }
    STDMETHOD_(void, OnClose)() noexcept override { ++closes; }

private:
    TestAdviseSink() = default;
    ~TestAdviseSink() override = default;
};
