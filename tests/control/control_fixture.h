// One control per test, in an initialised OLE apartment; each test ends
// with the control, the sites and the streams all released.
#pragma once

#include <gtest/gtest.h>

#include <wrl/client.h>

#include "support/adopt.h"
#include "support/apartment.h"
#include "support/hresult.h"
#include "test_control.h"
#include "test_site.h"

using test_support::Hex;
using test_support::RefCount;

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, m_ole.Result());
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
    }

    template <class I>
    Microsoft::WRL::ComPtr<I> As(REFIID iid) {
        Microsoft::WRL::ComPtr<I> p;
        EXPECT_HR(S_OK, control->QueryInterface(iid, reinterpret_cast<void**>(p.GetAddressOf())));
        return p;
    }

    test_support::Apartment m_ole{test_support::Apartment::Ole};
    Microsoft::WRL::ComPtr<IUnknown> control;
};
