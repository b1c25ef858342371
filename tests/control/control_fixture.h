// One control per test, in an initialised OLE apartment; each test ends
// with the control, the sites and the streams all released.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <wrl/client.h>

#include "test_control.h"
#include "test_site.h"

inline std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

#define EXPECT_HR(expected, expr) EXPECT_EQ(Hex(expected), Hex(expr))
#define ASSERT_HR(expected, expr) ASSERT_EQ(Hex(expected), Hex(expr))

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, OleInitialize(nullptr));
        m_oleInitialised = true;
        ASSERT_HR(S_OK, CTestControl::CreateInstance(nullptr, IID_PPV_ARGS(&control)));
    }

    void TearDown() override {
        if (control) {
            EXPECT_EQ(0u, control.Reset()) << "the control outlived its last reference";
        }
        EXPECT_EQ(0, CTestControl::Live());
        EXPECT_EQ(0, TestSite::Live());
        EXPECT_EQ(0, TestStream::Live());
        EXPECT_EQ(0, TestAdviseSink::Live());
        if (m_oleInitialised) OleUninitialize();
    }

    template <class I>
    Microsoft::WRL::ComPtr<I> As(REFIID iid) {
        Microsoft::WRL::ComPtr<I> p;
        EXPECT_HR(S_OK, control->QueryInterface(iid, reinterpret_cast<void**>(p.GetAddressOf())));
        return p;
    }

    Microsoft::WRL::ComPtr<IUnknown> control;

private:
    bool m_oleInitialised = false;
};
