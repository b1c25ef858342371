#include "dialer_test_support.h"

#include "comkit/module.h"

using Microsoft::WRL::ComPtr;

namespace dialer_test {

HRESULT CreateDialer(ComPtr<ITAPIDialer>& dialer) {
    return CTAPIDialer::CreateInstance(nullptr, IID_ITAPIDialer,
                                       reinterpret_cast<void**>(dialer.ReleaseAndGetAddressOf()));
}

HRESULT Dial(ITAPIDialer* dialer, const wchar_t* number) {
    Bstr text(number);
    return dialer->Connect(text.Get());
}

void DialerFixture::Start(bool singleThreaded, telsim::Delivery delivery) {
    m_apartment =
        std::make_unique<Apartment>(singleThreaded ? Apartment::Single : Apartment::Multi);
    m_service = telsim::Service::Create();
    m_service->World().SetDelivery(delivery);
    ASSERT_HR(S_OK, m_service->RegisterClassObject());
    SetErrorInfo(0, nullptr);
    ASSERT_HR(S_OK, CreateDialer(m_dialer));
}

bool Eventually(const std::function<bool()>& done) {
    for (const DWORD start = GetTickCount(); !done();) {
        if (GetTickCount() - start > 10000) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

void DialerFixture::Finish() {
    m_dialer.Reset();
    if (m_service) {
        m_service->Notifications().WaitIdle();
        m_service->RevokeClassObject();
        // A sink the service still holds keeps the module locked, and so
        // does a drop still under way on the dialer's own thread.
        m_service->Notifications().ReleaseSinks();
        EXPECT_TRUE(Eventually([] { return comkit::GetModule().GetLockCount() == 0; }));
        m_service->Notifications().WaitIdle();
        EXPECT_EQ("", m_service->Ledger().Leaks());
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
