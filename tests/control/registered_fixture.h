// Brevlin.dll loaded and registered for the test, with the simulated
// telephony service registered in the process, so that the dialer is made
// as any host makes it: by its class or ProgID, through the registry.
#pragma once

#include <windows.h>

#include "service_fixture.h"

class RegisteredDialerTest : public OleServiceTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(OleServiceTest::SetUp());
        m_library = LoadLibraryW(BREVLIN_DLL);
        ASSERT_NE(nullptr, m_library) << GetLastError();
        ASSERT_HR(S_OK, Export("DllRegisterServer")());
        m_registered = true;
    }

    void TearDown() override {
        OleServiceTest::TearDown();
        if (m_registered) {
            EXPECT_HR(S_OK, Export("DllUnregisterServer")());
        }
        if (m_library)
            FreeLibrary(m_library);
    }

    using Entry = HRESULT(STDAPICALLTYPE*)();
    Entry Export(const char* name) {
        return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(m_library, name)));
    }

private:
    HMODULE m_library = nullptr;
    bool m_registered = false;
};
