// State and behaviour shared by every control: its sites, its extent, its
// in-place activation (windowed or windowless), its window, its advise
// connections and its persisted size. The interface implementations
// (IOleObjectImpl<T> and friends) are thin shells that forward here, so the
// logic is compiled once instead of once per control class.
//
// Ownership: every site, frame and sink is held by a counted reference and
// released when the control is closed or destroyed. The window belongs to the
// control and is destroyed by InPlaceDeactivate, Close or destruction.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <wrl/client.h>

namespace comkit {

class CComControlBase {
public:
    CComControlBase(const CComControlBase&) = delete;
    CComControlBase& operator=(const CComControlBase&) = delete;

    // Extents are in HIMETRIC (0.01 mm); 5080 is two inches.
    static constexpr LONG kDefaultExtent = 5080;
    static constexpr DWORD kStreamVersion = 0x800;
    static constexpr ULONG kStreamSize = 12;

    // IOleObject
    HRESULT IOleObject_SetClientSite(IOleClientSite* site) noexcept;
    HRESULT IOleObject_GetClientSite(IOleClientSite** site) noexcept;
    HRESULT IOleObject_Close(DWORD saveOption) noexcept;
    HRESULT IOleObject_DoVerb(LONG verb, IOleClientSite* activeSite, HWND parent,
                              LPCRECT posRect) noexcept;
    HRESULT IOleObject_SetExtent(DWORD aspect, SIZEL* size) noexcept;
    HRESULT IOleObject_GetExtent(DWORD aspect, SIZEL* size) noexcept;
    HRESULT IOleObject_Advise(IAdviseSink* sink, DWORD* connection) noexcept;
    HRESULT IOleObject_Unadvise(DWORD connection) noexcept;
    HRESULT IOleObject_EnumAdvise(IEnumSTATDATA** enumerator) noexcept;

    // IOleInPlaceObject(Windowless) and IOleWindow
    HRESULT IOleInPlaceObject_GetWindow(HWND* window) noexcept;
    HRESULT IOleInPlaceObject_InPlaceDeactivate() noexcept;
    HRESULT IOleInPlaceObject_UIDeactivate() noexcept;
    HRESULT IOleInPlaceObject_SetObjectRects(LPCRECT pos, LPCRECT clip) noexcept;

    // IViewObject(2/Ex)
    HRESULT IViewObject_Draw(DWORD aspect, HDC dc, LPCRECTL bounds) noexcept;
    HRESULT IViewObject_SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) noexcept;
    HRESULT IViewObject_GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) noexcept;
    HRESULT IViewObject_GetNaturalExtent(DWORD aspect, DVEXTENTINFO* info, SIZEL* size) noexcept;

    // IOleControl
    HRESULT IOleControl_FreezeEvents(BOOL freeze) noexcept;

    // IPersistStreamInit
    HRESULT IPersistStreamInit_IsDirty() noexcept;
    HRESULT IPersistStreamInit_InitNew() noexcept;
    HRESULT IPersistStreamInit_Load(IStream* stream) noexcept;
    HRESULT IPersistStreamInit_Save(IStream* stream, BOOL clearDirty) noexcept;

    // Announces a change of the control's picture: repaints the window or
    // asks the windowless site to, or tells the view's advise sink.
    void FireViewChange() noexcept;

    // Reads the container's ambient UserMode; false (design mode) only when
    // the site answers with a boolean false.
    bool AmbientUserMode() noexcept;

    HWND Window() const noexcept { return m_hWndCD; }
    bool IsInPlaceActive() const noexcept { return m_bInPlaceActive; }
    bool IsUIActive() const noexcept { return m_bUIActive; }
    bool IsWindowless() const noexcept { return m_bWndLess; }
    LONG FreezeCount() const noexcept { return m_nFreezeEvents; }
    SIZEL Extent() const noexcept { return m_sizeExtent; }

    // Paints the window's picture (called by the window procedure).
    void OnPaint(HWND window) noexcept;
    // Called by the window procedure when the window is gone.
    void OnWindowDestroyed() noexcept { m_hWndCD = nullptr; }
    void OnWindowFocus(bool gotFocus) noexcept;
    void OnWindowMouseActivate() noexcept;

protected:
    CComControlBase() noexcept = default;
    // Deactivates and destroys the window if the container never closed the
    // control; nothing of the derived class is used any more at this point.
    virtual ~CComControlBase();

    // Queries the whole object (through its controlling unknown).
    virtual HRESULT ControlQueryInterface(REFIID riid, void** ppv) noexcept = 0;
    // The control's picture within bounds (logical units of dc), for the
    // container's drawing and the control's own window alike.
    virtual HRESULT DrawContent(HDC dc, const RECTL& bounds) noexcept = 0;

private:
    HRESULT InPlaceActivate(LONG verb, LPCRECT posRect) noexcept;
    HRESULT NegotiateInPlaceSite() noexcept;
    HRESULT DoVerbPrimary(LPCRECT posRect, HWND parent) noexcept;
    HRESULT DoVerbProperties() noexcept;
    HRESULT DoVerbShow(LPCRECT posRect) noexcept;
    HRESULT DoVerbHide() noexcept;
    void Deactivate() noexcept;
    void UIDeactivate() noexcept;
    void DestroyControlWindow() noexcept;
    void SendOnViewChange(DWORD aspect) noexcept;

    Microsoft::WRL::ComPtr<IOleClientSite> m_spClientSite;
    Microsoft::WRL::ComPtr<IDispatch> m_spAmbientDispatch;
    // Set while the in-place site is negotiated; m_spInPlaceSiteEx and
    // m_spInPlaceSiteWindowless only when the site offers them.
    Microsoft::WRL::ComPtr<IOleInPlaceSite> m_spInPlaceSite;
    Microsoft::WRL::ComPtr<IOleInPlaceSiteEx> m_spInPlaceSiteEx;
    Microsoft::WRL::ComPtr<IOleInPlaceSiteWindowless> m_spInPlaceSiteWindowless;
    Microsoft::WRL::ComPtr<IOleAdviseHolder> m_spOleAdviseHolder;
    Microsoft::WRL::ComPtr<IAdviseSink> m_spAdviseSink;
    DWORD m_dwViewAdviseAspects = 0;
    DWORD m_dwViewAdviseFlags = 0;

    SIZEL m_sizeExtent{kDefaultExtent, kDefaultExtent};
    SIZEL m_sizeNatural{kDefaultExtent, kDefaultExtent};
    RECT m_rcPos{};
    HWND m_hWndCD = nullptr;
    LONG m_nFreezeEvents = 0;

    bool m_bRequiresSave = false;
    bool m_bInPlaceActive = false;
    bool m_bUIActive = false;
    bool m_bWndLess = false;
};

}  // namespace comkit
