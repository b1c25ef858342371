// A test of the real dialer as a control: an OLE apartment and a simulated
// telephony service registered as the telephony class, so that dialers can
// be made; each test ends with nothing of the service still referenced.
#pragma once

#include <memory>

#include <gtest/gtest.h>

#include "support/apartment.h"
#include "support/hresult.h"
#include "telsim/telsim.h"

class OleServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, m_ole.Result());
        service = telsim::Service::Create();
        ASSERT_HR(S_OK, service->RegisterClassObject());
    }

    void TearDown() override {
        if (service) {
            service->RevokeClassObject();
            EXPECT_EQ("", service->Ledger().Leaks());
        }
        service.reset();
    }

    test_support::Apartment m_ole{test_support::Apartment::Ole};
    std::shared_ptr<telsim::Service> service;
};
