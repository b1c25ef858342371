#include "dialer_test_support.h"

#include <cstdio>

#include "comkit/module.h"

using Microsoft::WRL::ComPtr;

namespace dialer_test {

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

Apartment::Apartment(bool singleThreaded)
    : m_hr(CoInitializeEx(nullptr, singleThreaded ? COINIT_APARTMENTTHREADED
                                                  : COINIT_MULTITHREADED)) {}

Apartment::~Apartment() {
    if (SUCCEEDED(m_hr)) {
        CoUninitialize();
    }
}

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
    ASSERT_EQ(S_OK, CreateErrorInfo(&create));
    create->SetDescription(const_cast<LPOLESTR>(description));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, create.As(&info));
    SetErrorInfo(0, info.Get());
}

HRESULT CreateDialer(ComPtr<ITAPIDialer>& dialer) {
    return CTAPIDialer::CreateInstance(nullptr, IID_ITAPIDialer,
                                       reinterpret_cast<void**>(dialer.ReleaseAndGetAddressOf()));
}

void DialerFixture::Start(bool singleThreaded, telsim::Delivery delivery) {
    m_apartment = std::make_unique<Apartment>(singleThreaded);
    m_service = telsim::Service::Create();
    m_service->World().SetDelivery(delivery);
    ASSERT_HR(S_OK, m_service->RegisterClassObject());
    SetErrorInfo(0, nullptr);
    ASSERT_HR(S_OK, CreateDialer(m_dialer));
}

void DialerFixture::Finish() {
    m_dialer.Reset();
    if (m_service) {
        m_service->Notifications().WaitIdle();
        EXPECT_EQ("", m_service->Ledger().Leaks());
        m_service->RevokeClassObject();
        // A sink the service still holds keeps the module locked.
        m_service->Notifications().ReleaseSinks();
        EXPECT_EQ(0, comkit::GetModule().GetLockCount());
        m_service.reset();
    }
    SetErrorInfo(0, nullptr);
    m_apartment.reset();
}

std::wstring Describe(const std::vector<telsim::Operation>& operations) {
    std::wstring text;
    for (const auto& operation : operations) {
        if (!text.empty()) {
            text += L"; ";
        }
        text += operation.ToString();
    }
    return text;
}

}  // namespace dialer_test
