// Address suitability, selection by name and the address-name list.
#include "dialer_test_support.h"

using Microsoft::WRL::ComPtr;
using namespace dialer_test;
namespace op = telsim::op;

namespace {

telsim::AddressSpec Suitable(const wchar_t* name) {
    telsim::AddressSpec wanted;
    wanted.name = name;
    return wanted;
}

telsim::AddressSpec WithoutPhoneNumbers(const wchar_t* name) {
    telsim::AddressSpec wanted = Suitable(name);
    wanted.addressTypes = 0x2;
    return wanted;
}

class DialerAddressTest : public DialerTest {
protected:
    // SetDeviceAddress, its answer left in selected.
    HRESULT Select(const wchar_t* name) {
        Bstr id(name);
        selected = 0x1234;
        return m_dialer->SetDeviceAddress(id.Get(), &selected);
    }

    // GetAddressNameCSVList, the list left in list.
    HRESULT List() {
        BSTR text = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x1));
        const HRESULT hr = m_dialer->GetAddressNameCSVList(&text);
        if (text == reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x1))) {
            list = L"<unwritten>";
            return hr;
        }
        list = text ? std::wstring(text, SysStringLen(text)) : L"<null>";
        SysFreeString(text);
        return hr;
    }

    // The name of the address the dialer dials on now: a call is placed and
    // asked for its address.
    std::wstring DialledAddress() {
        const HRESULT hr = Connect();
        if (FAILED(hr)) {
            return L"<Connect " + std::wstring(Hex(hr).begin(), Hex(hr).end()) + L">";
        }
        ComPtr<ITCallInfo> info;
        ComPtr<ITAddress> address;
        Bstr name;
        if (FAILED(m_service->World().Calls().back().As(&info)) ||
            FAILED(info->get_Address(&address)) ||
            FAILED(address->get_AddressName(name.Receive()))) {
            return L"<unknown>";
        }
        return name.Text();
    }

    VARIANT_BOOL selected = 0;
    std::wstring list;
};

TEST_F(DialerAddressTest, NoAddressesAtAll) {
    Use({});
    EXPECT_HR(S_FALSE, Select(L"Line 1"));
    EXPECT_EQ(VARIANT_FALSE, selected);
    EXPECT_HR(S_FALSE, List());
    EXPECT_EQ(L"", list);
    EXPECT_HR(E_FAIL, Connect());
    EXPECT_EQ(L"Couldn't locate valid modem or TSP driver.", TakeThreadError().description);
    EXPECT_EQ(0u, m_service->World().CallsCreated());
    EXPECT_EQ(0u, m_service->Notifications().AdvisedSinks());
}

TEST_F(DialerAddressTest, FirstSuitableIsKeptUntilANameReplacesIt) {
    Use({WithoutPhoneNumbers(L"Fax"), Suitable(L"A"), Suitable(L"B")});
    EXPECT_EQ(L"A", DialledAddress());
    const std::size_t enumerations = m_service->Recorder().CountOf(op::EnumerateAddresses);
    EXPECT_EQ(L"A", DialledAddress());
    EXPECT_EQ(enumerations, m_service->Recorder().CountOf(op::EnumerateAddresses));
    EXPECT_HR(S_OK, Select(L"B"));
    EXPECT_EQ(VARIANT_TRUE, selected);
    EXPECT_EQ(L"B", DialledAddress());
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_F(DialerAddressTest, OnlyTheFirstAddressOfANameIsLookedAt) {
    Use({Suitable(L"A"), WithoutPhoneNumbers(L"X"), Suitable(L"X")});
    ASSERT_HR(S_OK, Select(L"A"));
    EXPECT_HR(S_OK, Select(L"X"));
    EXPECT_EQ(VARIANT_FALSE, selected);
    EXPECT_EQ(3u, m_service->Recorder().CountOf(op::AddressNext));  // A; then A, X
    EXPECT_EQ(2u, m_service->Ledger().LiveObjects());
    EXPECT_EQ(L"A", DialledAddress());
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_F(DialerAddressTest, NamesCompareCaseSensitively) {
    Use({Suitable(L"Line 1")});
    EXPECT_HR(S_FALSE, Select(L"LINE 1"));
    EXPECT_EQ(VARIANT_FALSE, selected);
    EXPECT_HR(S_FALSE, Select(L"Line 1 "));
    EXPECT_EQ(1u, m_service->Ledger().LiveObjects());
}

TEST_F(DialerAddressTest, SelectingTheSelectedAddressAgainKeepsOneReference) {
    Use({Suitable(L"A"), Suitable(L"B")});
    for (const wchar_t* name : {L"A", L"A", L"B", L"A", L"B", L"B"}) {
        EXPECT_HR(S_OK, Select(name));
        EXPECT_EQ(VARIANT_TRUE, selected);
        // The root object and the one selected address.
        EXPECT_EQ(2u, m_service->Ledger().LiveObjects()) << "after " << name[0];
    }
    EXPECT_EQ(L"B", DialledAddress());
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());
}

TEST_F(DialerAddressTest, ListSeparatesOnlyAfterANonEmptyList) {
    Use({Suitable(L"A"), Suitable(L""), Suitable(L"B")});
    EXPECT_HR(S_FALSE, List());
    EXPECT_EQ(L"A,,B", list);

    telsim::AddressSpec unnamed;
    unnamed.name = std::nullopt;
    m_service->World().SetAddresses({Suitable(L""), unnamed, Suitable(L"A"), Suitable(L"B,C")});
    EXPECT_HR(S_FALSE, List());
    EXPECT_EQ(L"A,B,C", list);
}

TEST_F(DialerAddressTest, UnsuitableAddressesAreLeftOutAndNotSelected) {
    telsim::AddressSpec mediaOne = Suitable(L"MediaOne");
    mediaOne.mediaAnswer = 1;
    telsim::AddressSpec noCapabilities = Suitable(L"NoCaps");
    noCapabilities.capabilities = false;
    telsim::AddressSpec noMedia = Suitable(L"NoMedia");
    noMedia.mediaSupport = false;
    telsim::AddressSpec capabilityFails = Suitable(L"CapFails");
    capabilityFails.capabilityResult = E_UNEXPECTED;
    telsim::AddressSpec mediaFails = Suitable(L"MediaFails");
    mediaFails.mediaResult = E_UNEXPECTED;
    Use({mediaOne, noCapabilities, noMedia, capabilityFails, mediaFails,
         WithoutPhoneNumbers(L"Fax"), Suitable(L"Good")});
    EXPECT_HR(S_FALSE, List());
    EXPECT_EQ(L"Good", list);
    for (const wchar_t* name :
         {L"MediaOne", L"NoCaps", L"NoMedia", L"CapFails", L"MediaFails", L"Fax"}) {
        EXPECT_HR(S_OK, Select(name));
        EXPECT_EQ(VARIANT_FALSE, selected);
    }
    EXPECT_EQ(1u, m_service->Ledger().LiveObjects());
}

TEST_F(DialerAddressTest, MediaIsNotAskedOfAnAddressWithoutPhoneNumbers) {
    Use({WithoutPhoneNumbers(L"Fax")});
    EXPECT_HR(S_FALSE, List());
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::QueryMediaType));
    EXPECT_EQ(0u, m_service->Recorder().CountOf(op::GetAddressName));
}

TEST_F(DialerAddressTest, AnAddressWhoseNameCannotBeReadIsSkipped) {
    telsim::AddressSpec unreadable = Suitable(L"A");
    unreadable.nameResult = E_UNEXPECTED;
    Use({unreadable, Suitable(L"A")});
    EXPECT_HR(S_FALSE, List());
    EXPECT_EQ(L"A", list);
    EXPECT_HR(S_OK, Select(L"A"));
    EXPECT_EQ(VARIANT_TRUE, selected);
    EXPECT_EQ(2u, m_service->Ledger().LiveObjects());
}

TEST_F(DialerAddressTest, NextFailingMidwayEndsEachWalkWithItsError) {
    Use({Suitable(L"A"), Suitable(L"B"), Suitable(L"C")});
    const HRESULT broken = static_cast<HRESULT>(0x8007001F);
    m_service->Recorder().FailOperation(op::AddressNext, broken, 1, 1);
    EXPECT_HR(broken, List());
    EXPECT_EQ(L"A", list);
    ASSERT_HR(S_OK, Select(L"A"));
    m_service->Recorder().FailOperation(op::AddressNext, broken, 1, 1);
    EXPECT_HR(broken, Select(L"B"));
    EXPECT_EQ(VARIANT_FALSE, selected);
    EXPECT_EQ(L"A", DialledAddress());
    EXPECT_HR(S_OK, m_dialer->ShutdownTAPI());

    // The first-suitable search gives up too: nothing can be selected.
    ComPtr<ITAPIDialer> second;
    ASSERT_HR(S_OK, CreateDialer(second));
    ASSERT_HR(S_OK, second->InitializeTAPI());
    m_service->World().SetAddresses({WithoutPhoneNumbers(L"Fax"), Suitable(L"A")});
    m_service->Recorder().FailOperation(op::AddressNext, broken, 1, 1);
    EXPECT_HR(E_FAIL, Dial(second.Get()));
    EXPECT_EQ(L"Couldn't locate valid modem or TSP driver.", TakeThreadError().description);
}

// An enumerator that keeps answering S_OK without an address must not keep
// the dialer asking forever: the walk ends there as a failure.
TEST_F(DialerAddressTest, EnumeratorAnsweringWithoutAnItemEndsTheWalk) {
    Use({Suitable(L"A"), Suitable(L"B")});
    m_service->Recorder().NullOut(op::AddressNext, 1);
    EXPECT_HR(E_POINTER, List());
    EXPECT_EQ(L"A", list);
    EXPECT_LT(m_service->Recorder().CountOf(op::AddressNext), 10u);
    m_service->Recorder().ClearOperations();
    EXPECT_HR(E_POINTER, Select(L"B"));
    EXPECT_EQ(VARIANT_FALSE, selected);

    m_service->Recorder().NullOut(op::AddressNext);
    EXPECT_HR(E_FAIL, Connect());
    EXPECT_EQ(L"Couldn't locate valid modem or TSP driver.", TakeThreadError().description);
    EXPECT_LT(m_service->Recorder().CountOf(op::AddressNext), 10u);
}

TEST_F(DialerAddressTest, EnumerationThatCannotStartIsPassedOn) {
    Use({Suitable(L"A")});
    const HRESULT refused = static_cast<HRESULT>(0x80040004);
    m_service->Recorder().FailOperation(op::EnumerateAddresses, refused);
    EXPECT_HR(refused, Select(L"A"));
    EXPECT_EQ(VARIANT_FALSE, selected);
    EXPECT_HR(refused, List());
    EXPECT_EQ(L"<unwritten>", list);
    EXPECT_FALSE(TakeThreadError().present);
}

TEST_F(DialerAddressTest, WithoutARootObjectNothingIsEnumerated) {
    Use({Suitable(L"A")});
    ASSERT_HR(S_OK, Select(L"A"));
    ASSERT_HR(S_OK, m_dialer->ShutdownTAPI());
    m_service->Recorder().ClearOperations();

    EXPECT_TRUE(FAILED(Select(L"A")));
    EXPECT_EQ(VARIANT_FALSE, selected);
    EXPECT_TRUE(FAILED(List()));
    EXPECT_EQ(L"<unwritten>", list);
    EXPECT_EQ(L"", Describe(m_service->Recorder().Operations(true)));
    EXPECT_FALSE(TakeThreadError().present);
}

}  // namespace
