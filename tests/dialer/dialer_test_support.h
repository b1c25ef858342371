// Shared helpers of the dialer tests: apartments, dialer creation against
// the simulated service, HRESULT printing and the thread's error object.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include "dialer/tapi_dialer.h"
#include "telsim/telsim.h"

namespace dialer_test {

std::string Hex(HRESULT hr);

#define EXPECT_HR(expected, actual) EXPECT_EQ(::dialer_test::Hex(expected), ::dialer_test::Hex(actual))
#define ASSERT_HR(expected, actual) ASSERT_EQ(::dialer_test::Hex(expected), ::dialer_test::Hex(actual))

// One COM initialisation of the current thread, undone only if it succeeded.
class Apartment {
public:
    explicit Apartment(bool singleThreaded);
    ~Apartment();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

private:
    HRESULT m_hr;
};

// The thread's error object, taken off the thread (GetErrorInfo clears it).
struct ThreadError {
    bool present = false;
    std::wstring description;
    std::wstring source;
    GUID guid = GUID_NULL;
};
ThreadError TakeThreadError();
// Installs an error object with this description, to see that it is left alone.
void SetThreadError(const wchar_t* description);

// A BSTR for a test argument.
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : m_s(SysAllocString(text)) {}
    Bstr(const wchar_t* text, UINT length) : m_s(SysAllocStringLen(text, length)) {}
    ~Bstr() { SysFreeString(m_s); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return m_s; }

private:
    BSTR m_s;
};

HRESULT CreateDialer(Microsoft::WRL::ComPtr<ITAPIDialer>& dialer);

// A fresh service registered as the telephony class, and a dialer created
// from it. Every test ends with nothing of the service still referenced.
class DialerFixture {
protected:
    void Start(bool singleThreaded, telsim::Delivery delivery);
    // Releases the dialer and checks that nothing of the service is left.
    void Finish();

    std::unique_ptr<Apartment> m_apartment;
    std::shared_ptr<telsim::Service> m_service;
    Microsoft::WRL::ComPtr<ITAPIDialer> m_dialer;
};

class DialerTest : public ::testing::Test, protected DialerFixture {
protected:
    void SetUp() override { Start(false, telsim::Delivery::Synchronous); }
    void TearDown() override { Finish(); }
};

std::wstring Describe(const std::vector<telsim::Operation>& operations);

}  // namespace dialer_test
