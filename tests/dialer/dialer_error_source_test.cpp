// The error object's source once the class's ProgID is registered. Runs in
// a Wine prefix of its own: the class key is written to the machine's
// classes (the only place Wine's ProgIDFromCLSID looks) and removed again.
#include "dialer_test_support.h"

using namespace dialer_test;
namespace op = telsim::op;

namespace {

constexpr wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{6C04D28D-D046-4514-A463-19AE864ABA68}";

class RegisteredProgId {
public:
    RegisteredProgId() {
        HKEY existing = nullptr;
        m_owned =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClassKey, 0, KEY_READ, &existing) != ERROR_SUCCESS;
        if (existing) {
            RegCloseKey(existing);
        }
        HKEY key = nullptr;
        const std::wstring path = std::wstring(kClassKey) + L"\\ProgID";
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) == ERROR_SUCCESS) {
            static const wchar_t progId[] = L"Brevlin.TAPIDialer.1";
            RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progId),
                           sizeof progId);
            RegCloseKey(key);
        }
    }
    ~RegisteredProgId() {
        if (m_owned) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClassKey);
        }
    }

private:
    bool m_owned;
};

class DialerErrorSourceTest : public DialerTest {};

TEST_F(DialerErrorSourceTest, FailedInitializeNamesTheRegisteredProgIdAsSource) {
    RegisteredProgId registered;
    m_service->Recorder().FailOperation(op::Initialize, static_cast<HRESULT>(0x80040001));
    EXPECT_HR(static_cast<HRESULT>(0x80040001), m_dialer->InitializeTAPI());
    const ThreadError error = TakeThreadError();
    ASSERT_TRUE(error.present);
    EXPECT_EQ(L"TAPI initialization failed.", error.description);
    EXPECT_EQ(L"Brevlin.TAPIDialer.1", error.source);
    EXPECT_TRUE(IsEqualGUID(IID_ITAPIDialer, error.guid));
}

TEST_F(DialerErrorSourceTest, ConnectFailuresCarryTheSourceToo) {
    RegisteredProgId registered;
    m_service->World().SetAddresses({});
    ASSERT_HR(S_OK, m_dialer->InitializeTAPI());
    EXPECT_HR(E_FAIL, Connect());
    const ThreadError error = TakeThreadError();
    EXPECT_EQ(L"Couldn't locate valid modem or TSP driver.", error.description);
    EXPECT_EQ(L"Brevlin.TAPIDialer.1", error.source);
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

}  // namespace
