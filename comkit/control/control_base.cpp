#include "comkit/control/control_base.h"

#include <olectl.h>

#include "comkit/control/ambient.h"
#include "comkit/control/control_window.h"
#include "comkit/identity.h"
#include "comkit/result.h"

using Microsoft::WRL::ComPtr;

namespace comkit {

namespace {

HRESULT ReadExact(IStream* stream, void* data, ULONG size) noexcept {
    ULONG read = 0;
    RETURN_IF_FAILED(stream->Read(data, size, &read));
    // A stream that ends early answers with success and fewer bytes; taking
    // that as a value would load garbage.
    return read == size ? S_OK : E_FAIL;
}

HRESULT WriteExact(IStream* stream, const void* data, ULONG size) noexcept {
    ULONG written = 0;
    RETURN_IF_FAILED(stream->Write(data, size, &written));
    return written == size ? S_OK : STG_E_MEDIUMFULL;
}

}  // namespace

CComControlBase::~CComControlBase() {
    // The container released the control without closing it: leave the
    // site in a consistent state and take the window down. Nothing here may
    // reach the derived object, which is already gone.
    Deactivate();
    DestroyControlWindow();
}

// ---- IOleObject ----------------------------------------------------------

HRESULT CComControlBase::IOleObject_SetClientSite(IOleClientSite* site) noexcept {
    // The in-place site came from the old client site; an active control
    // keeps it until it is deactivated, since that is whom it must tell.
    if (!m_bInPlaceActive) {
        m_spInPlaceSiteWindowless.Reset();
        m_spInPlaceSiteEx.Reset();
        m_spInPlaceSite.Reset();
    }
    m_spAmbientDispatch.Reset();
    m_spClientSite = site;
    if (site)
        (void)site->QueryInterface(IID_PPV_ARGS(&m_spAmbientDispatch));
    return S_OK;
}

HRESULT CComControlBase::IOleObject_GetClientSite(IOleClientSite** site) noexcept {
    if (!site)
        return E_POINTER;
    *site = nullptr;
    if (m_spClientSite)
        m_spClientSite.CopyTo(site);
    return S_OK;
}

HRESULT CComControlBase::IOleObject_Close(DWORD saveOption) noexcept {
    if (m_hWndCD && m_spClientSite)
        (void)m_spClientSite->OnShowWindow(FALSE);
    if (m_bInPlaceActive)
        RETURN_IF_FAILED(IOleInPlaceObject_InPlaceDeactivate());
    DestroyControlWindow();
    if ((saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE) &&
        m_bRequiresSave) {
        if (m_spClientSite)
            (void)m_spClientSite->SaveObject();
        if (m_spOleAdviseHolder)
            (void)m_spOleAdviseHolder->SendOnSave();
    }
    m_spInPlaceSiteWindowless.Reset();
    m_spInPlaceSiteEx.Reset();
    m_spInPlaceSite.Reset();
    m_bWndLess = false;
    m_spAdviseSink.Reset();
    if (m_spOleAdviseHolder)
        (void)m_spOleAdviseHolder->SendOnClose();
    return S_OK;
}

HRESULT CComControlBase::IOleObject_DoVerb(LONG verb, IOleClientSite* activeSite, HWND parent,
                                           LPCRECT posRect) noexcept {
    if (!SameObject(activeSite, m_spClientSite.Get()))
        return E_UNEXPECTED;
    if (verb > 0) {
        (void)DoVerbPrimary(posRect, parent);
        return OLEOBJ_S_INVALIDVERB;
    }
    switch (verb) {
    case OLEIVERB_PRIMARY:
        return DoVerbPrimary(posRect, parent);
    case OLEIVERB_SHOW:
        return DoVerbShow(posRect);
    case OLEIVERB_OPEN:
    case OLEIVERB_DISCARDUNDOSTATE:
        return S_OK;
    case OLEIVERB_HIDE:
        return DoVerbHide();
    case OLEIVERB_UIACTIVATE:
        return InPlaceActivate(OLEIVERB_UIACTIVATE, posRect);
    case OLEIVERB_INPLACEACTIVATE: {
        RETURN_IF_FAILED(InPlaceActivate(OLEIVERB_INPLACEACTIVATE, posRect));
        FireViewChange();
        return S_OK;
    }
    case OLEIVERB_PROPERTIES:
        return DoVerbProperties();
    default:
        return E_NOTIMPL;
    }
}

HRESULT CComControlBase::DoVerbPrimary(LPCRECT posRect, HWND) noexcept {
    if (!AmbientUserMode())
        return DoVerbProperties();
    RETURN_IF_FAILED(InPlaceActivate(OLEIVERB_INPLACEACTIVATE, posRect));
    FireViewChange();
    return S_OK;
}

HRESULT CComControlBase::DoVerbProperties() noexcept {
    ComPtr<IOleControlSite> controlSite;
    if (m_spClientSite && SUCCEEDED(m_spClientSite.As(&controlSite))) {
        const HRESULT hr = controlSite->ShowPropertyFrame();
        if (SUCCEEDED(hr))
            return hr;
    }
    // No property pages of our own to fall back on.
    return OLEOBJ_S_CANNOT_DOVERB_NOW;
}

HRESULT CComControlBase::DoVerbShow(LPCRECT posRect) noexcept {
    RETURN_IF_FAILED(InPlaceActivate(OLEIVERB_SHOW, posRect));
    if (m_hWndCD)
        ShowWindow(m_hWndCD, SW_SHOW);
    return S_OK;
}

HRESULT CComControlBase::DoVerbHide() noexcept {
    UIDeactivate();
    if (m_hWndCD)
        ShowWindow(m_hWndCD, SW_HIDE);
    return S_OK;
}

HRESULT CComControlBase::IOleObject_SetExtent(DWORD aspect, SIZEL* size) noexcept {
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!size)
        return E_POINTER;
    m_sizeExtent = *size;
    return S_OK;
}

HRESULT CComControlBase::IOleObject_GetExtent(DWORD aspect, SIZEL* size) noexcept {
    if (!size)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return E_FAIL;
    *size = m_sizeExtent;
    return S_OK;
}

HRESULT CComControlBase::IOleObject_Advise(IAdviseSink* sink, DWORD* connection) noexcept {
    if (!connection)
        return E_POINTER;
    *connection = 0;
    if (!sink)
        return E_INVALIDARG;
    if (!m_spOleAdviseHolder)
        RETURN_IF_FAILED(CreateOleAdviseHolder(&m_spOleAdviseHolder));
    return m_spOleAdviseHolder->Advise(sink, connection);
}

HRESULT CComControlBase::IOleObject_Unadvise(DWORD connection) noexcept {
    if (!m_spOleAdviseHolder)
        return OLE_E_NOCONNECTION;
    return m_spOleAdviseHolder->Unadvise(connection);
}

HRESULT CComControlBase::IOleObject_EnumAdvise(IEnumSTATDATA** enumerator) noexcept {
    if (!enumerator)
        return E_POINTER;
    *enumerator = nullptr;
    if (!m_spOleAdviseHolder)
        RETURN_IF_FAILED(CreateOleAdviseHolder(&m_spOleAdviseHolder));
    return m_spOleAdviseHolder->EnumAdvise(enumerator);
}

// ---- In-place activation ---------------------------------------------------

HRESULT CComControlBase::NegotiateInPlaceSite() noexcept {
    if (m_spInPlaceSite)
        return S_OK;
    if (SUCCEEDED(m_spClientSite.As(&m_spInPlaceSiteWindowless))) {
        m_spInPlaceSiteEx = m_spInPlaceSiteWindowless;
        m_spInPlaceSite = m_spInPlaceSiteWindowless;
        return S_OK;
    }
    if (SUCCEEDED(m_spClientSite.As(&m_spInPlaceSiteEx))) {
        m_spInPlaceSite = m_spInPlaceSiteEx;
        return S_OK;
    }
    return m_spClientSite.As(&m_spInPlaceSite);
}

HRESULT CComControlBase::InPlaceActivate(LONG verb, LPCRECT) noexcept {
    // Without a container there is nothing to activate in.
    if (!m_spClientSite)
        return S_OK;
    RETURN_IF_FAILED(NegotiateInPlaceSite());

    if (!m_bInPlaceActive) {
        BOOL noRedraw = FALSE;
        if (m_spInPlaceSiteWindowless) {
            m_bWndLess = m_spInPlaceSiteWindowless->CanWindowlessActivate() == S_OK;
        } else {
            m_bWndLess = false;
        }
        const HRESULT can = m_spInPlaceSite->CanInPlaceActivate();
        RETURN_IF_FAILED(can);
        if (can != S_OK)
            return E_FAIL;
        if (m_spInPlaceSiteEx) {
            RETURN_IF_FAILED(m_spInPlaceSiteEx->OnInPlaceActivateEx(
                &noRedraw, m_bWndLess ? ACTIVATE_WINDOWLESS : 0));
        } else {
            RETURN_IF_FAILED(m_spInPlaceSite->OnInPlaceActivate());
        }
        m_bInPlaceActive = true;
    }

    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> uiWindow;
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof(frameInfo);
    RECT pos{};
    RECT clip{};
    HWND parent = nullptr;
    if (m_spInPlaceSite->GetWindow(&parent) == S_OK) {
        // The site's position wins over the verb's rectangle: it is where the
        // container will also clip us.
        const HRESULT context =
            m_spInPlaceSite->GetWindowContext(&frame, &uiWindow, &pos, &clip, &frameInfo);
        if (FAILED(context)) {
            Deactivate();
            return context;
        }
        if (!m_bWndLess) {
            if (m_hWndCD) {
                ShowWindow(m_hWndCD, SW_SHOW);
            } else {
                m_hWndCD = CreateControlWindow(this, parent, pos);
                if (!m_hWndCD) {
                    // Leave the site as it was before this activation.
                    const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
                    Deactivate();
                    return FAILED(hr) ? hr : E_FAIL;
                }
            }
        }
        (void)IOleInPlaceObject_SetObjectRects(&pos, &clip);
    }

    if (verb == OLEIVERB_UIACTIVATE && !m_bUIActive) {
        m_bUIActive = true;
        const HRESULT hr = m_spInPlaceSite->OnUIActivate();
        if (FAILED(hr)) {
            m_bUIActive = false;
            return hr;
        }
        if (m_hWndCD && !IsChild(m_hWndCD, GetFocus()))
            SetFocus(m_hWndCD);
        ComPtr<IOleInPlaceActiveObject> active;
        (void)ControlQueryInterface(IID_IOleInPlaceActiveObject, &active);
        if (active) {
            if (frame)
                (void)frame->SetActiveObject(active.Get(), nullptr);
            if (uiWindow)
                (void)uiWindow->SetActiveObject(active.Get(), nullptr);
        }
        if (frame)
            (void)frame->SetBorderSpace(nullptr);
        if (uiWindow)
            (void)uiWindow->SetBorderSpace(nullptr);
    }
    (void)m_spClientSite->ShowObject();
    return S_OK;
}

void CComControlBase::UIDeactivate() noexcept {
    if (!m_bUIActive)
        return;
    m_bUIActive = false;
    if (!m_spInPlaceSite)
        return;
    HWND parent = nullptr;
    if (m_spInPlaceSite->GetWindow(&parent) == S_OK) {
        ComPtr<IOleInPlaceFrame> frame;
        ComPtr<IOleInPlaceUIWindow> uiWindow;
        OLEINPLACEFRAMEINFO frameInfo{};
        frameInfo.cb = sizeof(frameInfo);
        RECT pos{};
        RECT clip{};
        if (SUCCEEDED(
                m_spInPlaceSite->GetWindowContext(&frame, &uiWindow, &pos, &clip, &frameInfo))) {
            if (uiWindow)
                (void)uiWindow->SetActiveObject(nullptr, nullptr);
            if (frame)
                (void)frame->SetActiveObject(nullptr, nullptr);
        }
    }
    (void)m_spInPlaceSite->OnUIDeactivate(FALSE);
}

void CComControlBase::Deactivate() noexcept {
    if (!m_bInPlaceActive)
        return;
    UIDeactivate();
    m_bInPlaceActive = false;
    DestroyControlWindow();
    if (m_spInPlaceSiteEx) {
        (void)m_spInPlaceSiteEx->OnInPlaceDeactivateEx(TRUE);
    } else if (m_spInPlaceSite) {
        (void)m_spInPlaceSite->OnInPlaceDeactivate();
    }
    m_bWndLess = false;
}

void CComControlBase::DestroyControlWindow() noexcept {
    HWND window = m_hWndCD;
    m_hWndCD = nullptr;
    if (!window || !IsWindow(window))
        return;
    // Cut the window's way back to the control first. A window of another
    // thread cannot be destroyed from here (and waiting for that thread
    // could deadlock): it is asked to close and goes later, on its own
    // thread, without ever reaching a control that is gone.
    DetachControlWindow(window);
    if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId() ||
        !DestroyWindow(window)) {
        CloseControlWindowLater(window);
    }
}

HRESULT CComControlBase::IOleInPlaceObject_GetWindow(HWND* window) noexcept {
    if (!window)
        return E_POINTER;
    *window = m_hWndCD;
    return m_hWndCD ? S_OK : E_FAIL;
}

HRESULT CComControlBase::IOleInPlaceObject_InPlaceDeactivate() noexcept {
    Deactivate();
    return S_OK;
}

HRESULT CComControlBase::IOleInPlaceObject_UIDeactivate() noexcept {
    UIDeactivate();
    return S_OK;
}

HRESULT CComControlBase::IOleInPlaceObject_SetObjectRects(LPCRECT pos, LPCRECT clip) noexcept {
    if (!pos || !clip)
        return E_POINTER;
    m_rcPos = *pos;
    if (!m_hWndCD)
        return S_OK;
    // Clip the window only where the container's clip rectangle cuts into it.
    RECT visible{};
    HRGN region = nullptr;
    if (IntersectRect(&visible, pos, clip) && !EqualRect(&visible, pos)) {
        OffsetRect(&visible, -pos->left, -pos->top);
        region = CreateRectRgnIndirect(&visible);
    }
    // The window owns the region from here on.
    SetWindowRgn(m_hWndCD, region, TRUE);
    SetWindowPos(m_hWndCD, nullptr, pos->left, pos->top, pos->right - pos->left,
                 pos->bottom - pos->top, SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

// ---- View ------------------------------------------------------------------

HRESULT CComControlBase::IViewObject_Draw(DWORD aspect, HDC dc, LPCRECTL bounds) noexcept {
    if (aspect != DVASPECT_CONTENT && aspect != DVASPECT_OPAQUE && aspect != DVASPECT_TRANSPARENT) {
        return DV_E_DVASPECT;
    }
    RECTL rc{};
    if (bounds) {
        rc = *bounds;
    } else if (m_bWndLess && m_bInPlaceActive) {
        rc = RECTL{m_rcPos.left, m_rcPos.top, m_rcPos.right, m_rcPos.bottom};
    } else {
        return E_INVALIDARG;
    }
    if (!dc)
        return E_INVALIDARG;
    return DrawContent(dc, rc);
}

HRESULT CComControlBase::IViewObject_SetAdvise(DWORD aspects, DWORD flags,
                                               IAdviseSink* sink) noexcept {
    m_spAdviseSink = sink;
    m_dwViewAdviseAspects = sink ? aspects : 0;
    m_dwViewAdviseFlags = sink ? flags : 0;
    return S_OK;
}

HRESULT CComControlBase::IViewObject_GetAdvise(DWORD* aspects, DWORD* flags,
                                               IAdviseSink** sink) noexcept {
    if (aspects)
        *aspects = m_dwViewAdviseAspects;
    if (flags)
        *flags = m_dwViewAdviseFlags;
    if (sink) {
        *sink = nullptr;
        if (m_spAdviseSink)
            m_spAdviseSink.CopyTo(sink);
    }
    return S_OK;
}

HRESULT CComControlBase::IViewObject_GetNaturalExtent(DWORD aspect, DVEXTENTINFO* info,
                                                      SIZEL* size) noexcept {
    if (!info || !size)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT || info->dwExtentMode != DVEXTENT_CONTENT)
        return E_FAIL;
    *size = m_sizeNatural;
    return S_OK;
}

void CComControlBase::SendOnViewChange(DWORD aspect) noexcept {
    if (!m_spAdviseSink || !(m_dwViewAdviseAspects & aspect))
        return;
    // The sink may call back into the control; keep it alive meanwhile.
    ComPtr<IAdviseSink> sink = m_spAdviseSink;
    if (m_dwViewAdviseFlags & ADVF_ONLYONCE)
        IViewObject_SetAdvise(0, 0, nullptr);
    sink->OnViewChange(aspect, -1);
}

void CComControlBase::FireViewChange() noexcept {
    if (m_bInPlaceActive) {
        if (m_hWndCD) {
            InvalidateRect(m_hWndCD, nullptr, TRUE);
            return;
        }
        if (m_bWndLess && m_spInPlaceSiteWindowless) {
            (void)m_spInPlaceSiteWindowless->InvalidateRect(nullptr, TRUE);
            return;
        }
    }
    SendOnViewChange(DVASPECT_CONTENT);
}

bool CComControlBase::AmbientUserMode() noexcept {
    bool userMode = true;
    if (m_spAmbientDispatch) {
        const AmbientBool value =
            ReadAmbientBool(m_spAmbientDispatch.Get(), DISPID_AMBIENT_USERMODE);
        if (value == AmbientBool::False)
            userMode = false;
    }
    return userMode;
}

// ---- IOleControl -----------------------------------------------------------

HRESULT CComControlBase::IOleControl_FreezeEvents(BOOL freeze) noexcept {
    if (freeze) {
        InterlockedIncrement(&m_nFreezeEvents);
    } else {
        InterlockedDecrement(&m_nFreezeEvents);
    }
    return S_OK;
}

// ---- IPersistStreamInit ------------------------------------------------------

HRESULT CComControlBase::IPersistStreamInit_IsDirty() noexcept {
    return m_bRequiresSave ? S_OK : S_FALSE;
}

HRESULT CComControlBase::IPersistStreamInit_InitNew() noexcept {
    m_bRequiresSave = true;
    return S_OK;
}

HRESULT CComControlBase::IPersistStreamInit_Load(IStream* stream) noexcept {
    if (!stream)
        return E_INVALIDARG;
    DWORD version = 0;
    RETURN_IF_FAILED(ReadExact(stream, &version, sizeof(version)));
    if (version > kStreamVersion)
        return E_FAIL;
    // Both values are read before either is stored, so a stream that fails
    // half way leaves the extent as it was.
    DWORD cx = 0;
    DWORD cy = 0;
    RETURN_IF_FAILED(ReadExact(stream, &cx, sizeof(cx)));
    RETURN_IF_FAILED(ReadExact(stream, &cy, sizeof(cy)));
    m_sizeExtent.cx = static_cast<LONG>(cx);
    m_sizeExtent.cy = static_cast<LONG>(cy);
    m_bRequiresSave = false;
    return S_OK;
}

HRESULT CComControlBase::IPersistStreamInit_Save(IStream* stream, BOOL clearDirty) noexcept {
    if (!stream)
        return E_INVALIDARG;
    const DWORD version = kStreamVersion;
    const DWORD cx = static_cast<DWORD>(m_sizeExtent.cx);
    const DWORD cy = static_cast<DWORD>(m_sizeExtent.cy);
    RETURN_IF_FAILED(WriteExact(stream, &version, sizeof(version)));
    RETURN_IF_FAILED(WriteExact(stream, &cx, sizeof(cx)));
    RETURN_IF_FAILED(WriteExact(stream, &cy, sizeof(cy)));
    if (clearDirty)
        m_bRequiresSave = false;
    return S_OK;
}

// ---- Window ----------------------------------------------------------------

void CComControlBase::OnPaint(HWND window) noexcept {
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(window, &ps);
    if (!dc)
        return;
    RECT client{};
    GetClientRect(window, &client);
    (void)DrawContent(dc, RECTL{client.left, client.top, client.right, client.bottom});
    EndPaint(window, &ps);
}

void CComControlBase::OnWindowFocus(bool gotFocus) noexcept {
    if (!m_bInPlaceActive || !m_spClientSite)
        return;
    ComPtr<IOleControlSite> controlSite;
    if (SUCCEEDED(m_spClientSite.As(&controlSite)))
        (void)controlSite->OnFocus(gotFocus ? TRUE : FALSE);
}

void CComControlBase::OnWindowMouseActivate() noexcept {
    if (m_bInPlaceActive && !m_bUIActive)
        (void)InPlaceActivate(OLEIVERB_UIACTIVATE, nullptr);
}

}  // namespace comkit
