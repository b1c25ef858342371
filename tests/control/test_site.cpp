#include "test_site.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/adopt.h"
#include "support/test_double.h"

using Microsoft::WRL::ComPtr;
using test_support::Adopt;
using test_support::DropReference;

namespace {
LONG g_liveSites = 0;
}  // namespace

ComPtr<TestSite> TestSite::Create(const SiteOptions& options) {
    return Adopt(new TestSite(options));
}

VARIANT TestSite::Bool(bool value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

TestSite::TestSite(const SiteOptions& options) : m_options(options) {
    InterlockedIncrement(&g_liveSites);
}
TestSite::~TestSite() {
    InterlockedDecrement(&g_liveSites);
}
LONG TestSite::Live() noexcept {
    return g_liveSites;
}

bool TestSite::Called(const std::string& name) const {
    return std::find(m_calls.begin(), m_calls.end(), name) != m_calls.end();
}

void TestSite::Record(std::string name) noexcept {
    try {
        m_calls.push_back(std::move(name));
    } catch (...) {
    }
}

HRESULT TestSite::Unexpected(const char* name) noexcept {
    ADD_FAILURE() << "unexpected call of the site: " << name;
    return E_NOTIMPL;
}

STDMETHODIMP TestSite::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    using InPlace = SiteOptions::InPlace;
    const InPlace level = m_options.inPlace;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
        *ppv = static_cast<IOleClientSite*>(this);
    } else if ((riid == IID_IOleInPlaceSite || riid == IID_IOleWindow) && level != InPlace::None) {
        *ppv = static_cast<IOleInPlaceSite*>(this);
    } else if (riid == IID_IOleInPlaceSiteEx &&
               (level == InPlace::Ex || level == InPlace::Windowless)) {
        *ppv = static_cast<IOleInPlaceSiteEx*>(this);
    } else if (riid == IID_IOleInPlaceSiteWindowless && level == InPlace::Windowless) {
        *ppv = static_cast<IOleInPlaceSiteWindowless*>(this);
    } else if (riid == IID_IOleControlSite && m_options.controlSite) {
        *ppv = static_cast<IOleControlSite*>(this);
    } else if (riid == IID_IDispatch && m_options.ambientDispatch) {
        *ppv = static_cast<IDispatch*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) TestSite::AddRef() noexcept {
    return InterlockedIncrement(&m_ref);
}

STDMETHODIMP_(ULONG) TestSite::Release() noexcept {
    const ULONG count = DropReference(m_ref, "site");
    if (count == 0) {
        delete this;
    }
    return count;
}

STDMETHODIMP TestSite::SaveObject() noexcept {
    Record("SaveObject");
    return S_OK;
}
STDMETHODIMP TestSite::GetMoniker(DWORD, DWORD, IMoniker**) noexcept {
    return Unexpected("GetMoniker");
}
STDMETHODIMP TestSite::GetContainer(IOleContainer**) noexcept {
    return Unexpected("GetContainer");
}
STDMETHODIMP TestSite::ShowObject() noexcept {
    Record("ShowObject");
    return S_OK;
}
STDMETHODIMP TestSite::OnShowWindow(BOOL show) noexcept {
    Record(show ? "OnShowWindow(1)" : "OnShowWindow(0)");
    return S_OK;
}
STDMETHODIMP TestSite::RequestNewObjectLayout() noexcept {
    return Unexpected("RequestNewObjectLayout");
}

STDMETHODIMP TestSite::GetWindow(HWND* window) noexcept {
    if (!window)
        return E_POINTER;
    *window = m_options.window;
    return m_options.window ? S_OK : E_FAIL;
}
STDMETHODIMP TestSite::ContextSensitiveHelp(BOOL) noexcept {
    return Unexpected("ContextSensitiveHelp");
}
STDMETHODIMP TestSite::CanInPlaceActivate() noexcept {
    Record("CanInPlaceActivate");
    return m_options.canInPlaceActivate;
}
STDMETHODIMP TestSite::OnInPlaceActivate() noexcept {
    Record("OnInPlaceActivate");
    return S_OK;
}
STDMETHODIMP TestSite::OnUIActivate() noexcept {
    Record("OnUIActivate");
    return S_OK;
}
STDMETHODIMP TestSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                        LPRECT pos, LPRECT clip,
                                        LPOLEINPLACEFRAMEINFO info) noexcept {
    if (!frame || !doc || !pos || !clip || !info)
        return E_POINTER;
    *frame = nullptr;
    *doc = nullptr;
    *pos = m_options.pos;
    *clip = m_options.clip;
    info->fMDIApp = FALSE;
    info->hwndFrame = m_options.window;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}
STDMETHODIMP TestSite::Scroll(SIZE) noexcept {
    return Unexpected("Scroll");
}
STDMETHODIMP TestSite::OnUIDeactivate(BOOL) noexcept {
    Record("OnUIDeactivate");
    return S_OK;
}
STDMETHODIMP TestSite::OnInPlaceDeactivate() noexcept {
    Record("OnInPlaceDeactivate");
    return S_OK;
}
STDMETHODIMP TestSite::DiscardUndoState() noexcept {
    return Unexpected("DiscardUndoState");
}
STDMETHODIMP TestSite::DeactivateAndUndo() noexcept {
    return Unexpected("DeactivateAndUndo");
}
STDMETHODIMP TestSite::OnPosRectChange(LPCRECT) noexcept {
    return Unexpected("OnPosRectChange");
}

STDMETHODIMP TestSite::OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) noexcept {
    if (noRedraw)
        *noRedraw = FALSE;
    Record(flags & ACTIVATE_WINDOWLESS ? "OnInPlaceActivateEx(windowless)"
                                       : "OnInPlaceActivateEx(0)");
    return S_OK;
}
STDMETHODIMP TestSite::OnInPlaceDeactivateEx(BOOL) noexcept {
    Record("OnInPlaceDeactivateEx");
    return S_OK;
}
STDMETHODIMP TestSite::RequestUIActivate() noexcept {
    return Unexpected("RequestUIActivate");
}

STDMETHODIMP TestSite::CanWindowlessActivate() noexcept {
    Record("CanWindowlessActivate");
    return m_options.canWindowless ? S_OK : S_FALSE;
}
STDMETHODIMP TestSite::GetCapture() noexcept {
    return Unexpected("GetCapture");
}
STDMETHODIMP TestSite::SetCapture(BOOL) noexcept {
    return Unexpected("SetCapture");
}
STDMETHODIMP TestSite::GetFocus() noexcept {
    return Unexpected("GetFocus");
}
STDMETHODIMP TestSite::SetFocus(BOOL) noexcept {
    return Unexpected("SetFocus");
}
STDMETHODIMP TestSite::GetDC(LPCRECT, DWORD, HDC*) noexcept {
    return Unexpected("GetDC");
}
STDMETHODIMP TestSite::ReleaseDC(HDC) noexcept {
    return Unexpected("ReleaseDC");
}
STDMETHODIMP TestSite::InvalidateRect(LPCRECT, BOOL) noexcept {
    Record("InvalidateRect");
    return S_OK;
}
STDMETHODIMP TestSite::InvalidateRgn(HRGN, BOOL) noexcept {
    return Unexpected("InvalidateRgn");
}
STDMETHODIMP TestSite::ScrollRect(INT, INT, LPCRECT, LPCRECT) noexcept {
    return Unexpected("ScrollRect");
}
STDMETHODIMP TestSite::AdjustRect(LPRECT) noexcept {
    return Unexpected("AdjustRect");
}
STDMETHODIMP TestSite::OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) noexcept {
    return Unexpected("OnDefWindowMessage");
}

STDMETHODIMP TestSite::OnControlInfoChanged() noexcept {
    return Unexpected("OnControlInfoChanged");
}
STDMETHODIMP TestSite::LockInPlaceActive(BOOL) noexcept {
    return Unexpected("LockInPlaceActive");
}
STDMETHODIMP TestSite::GetExtendedControl(IDispatch**) noexcept {
    return Unexpected("GetExtendedControl");
}
STDMETHODIMP TestSite::TransformCoords(POINTL*, POINTF*, DWORD) noexcept {
    return Unexpected("TransformCoords");
}
STDMETHODIMP TestSite::TranslateAccelerator(MSG*, DWORD) noexcept {
    return Unexpected("TranslateAccelerator");
}
STDMETHODIMP TestSite::OnFocus(BOOL got) noexcept {
    Record(got ? "OnFocus(1)" : "OnFocus(0)");
    return S_OK;
}
STDMETHODIMP TestSite::ShowPropertyFrame() noexcept {
    Record("ShowPropertyFrame");
    return m_options.showPropertyFrame;
}

STDMETHODIMP TestSite::GetTypeInfoCount(UINT*) noexcept {
    return Unexpected("GetTypeInfoCount");
}
STDMETHODIMP TestSite::GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept {
    return Unexpected("GetTypeInfo");
}
STDMETHODIMP TestSite::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept {
    return Unexpected("GetIDsOfNames");
}
STDMETHODIMP TestSite::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                              EXCEPINFO*, UINT*) noexcept {
    Record("Invoke(" + std::to_string(id) + ")");
    if (!(flags & DISPATCH_PROPERTYGET) || !result)
        return E_INVALIDARG;
    if (id != DISPID_AMBIENT_USERMODE || !m_options.userMode)
        return DISP_E_MEMBERNOTFOUND;
    return VariantCopy(result, &*m_options.userMode);
}

ComPtr<TestStream> TestStream::Create(std::vector<BYTE> data, int failRead, int failWrite,
                                      HRESULT failure) {
    return Adopt(new TestStream(std::move(data), failRead, failWrite, failure));
}

TestStream::TestStream(std::vector<BYTE> data, int failRead, int failWrite, HRESULT failure)
    : m_data(std::move(data)), m_failRead(failRead), m_failWrite(failWrite), m_failure(failure) {}

STDMETHODIMP TestStream::Read(void* buffer, ULONG size, ULONG* read) noexcept {
    if (read)
        *read = 0;
    if (++m_reads == m_failRead)
        return m_failure;
    const size_t count = std::min<size_t>(size, m_data.size() - m_offset);
    std::memcpy(buffer, m_data.data() + m_offset, count);
    m_offset += count;
    if (read)
        *read = static_cast<ULONG>(count);
    // As IStream documents for a read at the end of the stream.
    return count == size ? S_OK : S_FALSE;
}

STDMETHODIMP TestStream::Write(const void* buffer, ULONG size, ULONG* written) noexcept {
    if (written)
        *written = 0;
    if (++m_writes == m_failWrite)
        return STG_E_MEDIUMFULL;
    const BYTE* bytes = static_cast<const BYTE*>(buffer);
    m_written.insert(m_written.end(), bytes, bytes + size);
    if (written)
        *written = size;
    return S_OK;
}

ComPtr<TestAdviseSink> TestAdviseSink::Create() {
    return Adopt(new TestAdviseSink());
}
