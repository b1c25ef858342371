#include "support/thread_error.h"

#include <wrl/client.h>

#include "support/hresult.h"

using Microsoft::WRL::ComPtr;

namespace test_support {

ThreadError TakeThreadError() {
    ThreadError error;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) {
        return error;
    }
    error.present = true;
    BSTR text = nullptr;
    if (SUCCEEDED(info->GetDescription(&text)) && text) {
        error.description.assign(text, SysStringLen(text));
    }
    SysFreeString(text);
    text = nullptr;
    if (SUCCEEDED(info->GetSource(&text)) && text) {
        error.source.assign(text, SysStringLen(text));
    }
    SysFreeString(text);
    info->GetGUID(&error.guid);
    return error;
}

void SetThreadError(const wchar_t* description) {
    ComPtr<ICreateErrorInfo> create;
    ASSERT_HR(S_OK, CreateErrorInfo(&create));
    create->SetDescription(const_cast<LPOLESTR>(description));
    ComPtr<IErrorInfo> info;
    ASSERT_HR(S_OK, create.As(&info));
    SetErrorInfo(0, info.Get());
}

}  // namespace test_support
