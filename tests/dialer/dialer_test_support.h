// Shared helpers of the dialer tests: a dialer created against a fresh
// simulated service, and the calls every test makes of it.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include "dialer/tapi_dialer.h"
#include "support/apartment.h"
#include "support/bstr.h"
#include "support/hresult.h"
#include "support/thread_error.h"
#include "telsim/telsim.h"

namespace dialer_test {

using test_support::Apartment;
using test_support::Bstr;
using test_support::Hex;
using test_support::SetThreadError;
using test_support::TakeThreadError;
using test_support::ThreadError;

constexpr wchar_t kNumber[] = L"5550100";

HRESULT CreateDialer(Microsoft::WRL::ComPtr<ITAPIDialer>& dialer);
// The dialer's Connect, the number passed as a BSTR.
HRESULT Dial(ITAPIDialer* dialer, const wchar_t* number = kNumber);

// Whether `done` comes true within ten seconds, asked every millisecond:
// for what a thread of the dialer's own does after the test's call returns.
bool Eventually(const std::function<bool()>& done);

// A fresh service registered as the telephony class, and a dialer created
// from it. Every test ends with nothing of the service still referenced.
class DialerFixture {
protected:
    void Start(bool singleThreaded, telsim::Delivery delivery);
    // Releases the dialer and checks that nothing of the service is left.
    void Finish();
    HRESULT Connect(const wchar_t* number = kNumber) { return Dial(m_dialer.Get(), number); }
    // The service's lines are these, and the dialer is initialised.
    void Use(std::vector<telsim::AddressSpec> addresses) {
        m_service->World().SetAddresses(std::move(addresses));
        ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    }

    std::unique_ptr<Apartment> m_apartment;
    std::shared_ptr<telsim::Service> m_service;
    Microsoft::WRL::ComPtr<ITAPIDialer> m_dialer;
};

class DialerTest : public ::testing::Test, protected DialerFixture {
protected:
    // Lenient (sync): a test reads the dialer's state right after the member
    // whose events changed it.
    void SetUp() override { Start(false, telsim::Delivery::Synchronous); }
    void TearDown() override { Finish(); }
};

std::wstring Describe(const std::vector<telsim::Operation>& operations);

}  // namespace dialer_test
