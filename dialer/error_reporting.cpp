#include "dialer/error_reporting.h"

#include <oleauto.h>
#include <wrl/client.h>

#include "brevlin_idl.h"
#include "comkit/module.h"
#include "resources/message_ids.h"

using Microsoft::WRL::ComPtr;

namespace dialer {

comkit::UniqueBstr LoadMessage(UINT id) noexcept {
    // A buffer size of 0 asks for a read-only pointer into the resource itself;
    // string-table entries are not NUL-terminated there, so the length counts.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(comkit::GetModule().GetResourceInstance(), id,
                                   reinterpret_cast<LPWSTR>(&text), 0);
    comkit::UniqueBstr message;
    if (length > 0 && text) {
        message.Reset(SysAllocStringLen(text, static_cast<UINT>(length)));
    }
    return message;
}

comkit::UniqueBstr ErrorTextForHresult(HRESULT hr) noexcept {
    constexpr HRESULT kNoDevice = static_cast<HRESULT>(0x8004003D);
    constexpr HRESULT kNoDriver = static_cast<HRESULT>(0x80040052);
    return LoadMessage(hr == kNoDevice || hr == kNoDriver ? IDS_NO_VALID_ADDRESS
                                                          : IDS_UNKNOWN_ERROR);
}

void ReportDialerError(const wchar_t* description) noexcept {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create)) || !create) {
        return;
    }
    create->SetGUID(IID_ITAPIDialer);

    LPOLESTR progId = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(CLSID_TAPIDialer, &progId)) && progId) {
        create->SetSource(progId);
    }
    CoTaskMemFree(progId);

    create->SetDescription(const_cast<LPOLESTR>(description ? description : L""));

    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info)) && info) {
        SetErrorInfo(0, info.Get());
    }
}

void ReportDialerMessage(UINT id) noexcept {
    const comkit::UniqueBstr message = LoadMessage(id);
    ReportDialerError(message.Get());
}

}  // namespace dialer
