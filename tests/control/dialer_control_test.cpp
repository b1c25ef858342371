// The dialer as a control: the bases as CTAPIDialer carries them, with the
// simulated telephony service registered so that a dialer can be made.
#include <gtest/gtest.h>

#include <docobj.h>
#include <objsafe.h>

#include <wrl/client.h>

#include "control_fixture.h"
#include "control_interfaces.h"
#include "dialer/tapi_dialer.h"
#include "label_image.h"
#include "service_fixture.h"

using Microsoft::WRL::ComPtr;

namespace {

class DialerControlTest : public OleServiceTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(OleServiceTest::SetUp());
        ASSERT_HR(S_OK, CTAPIDialer::CreateInstance(nullptr, IID_PPV_ARGS(&dialer)));
    }

    void TearDown() override {
        if (dialer) {
            EXPECT_EQ(0u, dialer.Reset()) << "the dialer outlived its last reference";
        }
        OleServiceTest::TearDown();
        EXPECT_EQ(0, TestSite::Live());
        EXPECT_EQ(0, TestStream::Live());
    }

    template <class I>
    ComPtr<I> As(REFIID iid) {
        ComPtr<I> p;
        EXPECT_HR(S_OK, dialer->QueryInterface(iid, reinterpret_cast<void**>(p.GetAddressOf())));
        return p;
    }

    ComPtr<ITAPIDialer> dialer;
};

// An outer object that keeps an aggregated dialer and answers one interface
// of its own (IOleCommandTarget, which the dialer does not).
class Outer final : public IOleCommandTarget {
public:
    Outer() = default;
    HRESULT Aggregate() {
        return CTAPIDialer::CreateInstance(this, IID_IUnknown,
                                           reinterpret_cast<void**>(inner.GetAddressOf()));
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) noexcept override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleCommandTarget) {
            *ppv = static_cast<IOleCommandTarget*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() noexcept override { return InterlockedIncrement(&m_ref); }
    STDMETHOD_(ULONG, Release)() noexcept override { return InterlockedDecrement(&m_ref); }
    STDMETHOD(QueryStatus)(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) noexcept override {
        return E_NOTIMPL;
    }
    STDMETHOD(Exec)(const GUID*, DWORD, DWORD, VARIANT*, VARIANT*) noexcept override {
        return E_NOTIMPL;
    }

    ComPtr<IUnknown> inner;
    LONG m_ref = 1;
};

}  // namespace

TEST_F(DialerControlTest, AnswersTheControlInterfacesInTableOrder) {
    ExpectControlInterfaces(dialer.Get());
}

TEST_F(DialerControlTest, IdentityAndClass) {
    ComPtr<IUnknown> unknown;
    ASSERT_HR(S_OK, dialer->QueryInterface(IID_PPV_ARGS(&unknown)));
    EXPECT_EQ(static_cast<IUnknown*>(dialer.Get()), unknown.Get());
    CLSID clsid{};
    EXPECT_HR(S_OK, As<IPersist>(IID_IPersist)->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_TAPIDialer, clsid));
    EXPECT_HR(S_OK, As<IOleObject>(IID_IOleObject)->GetUserClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_TAPIDialer, clsid));
}

TEST_F(DialerControlTest, SavesOnlyItsSize) {
    auto stream = TestStream::Create({});
    ASSERT_HR(S_OK, As<IPersistStreamInit>(IID_IPersistStreamInit)->Save(stream.Get(), TRUE));
    const std::vector<BYTE> expected = {0x00, 0x08, 0x00, 0x00, 0xD8, 0x13,
                                        0x00, 0x00, 0xD8, 0x13, 0x00, 0x00};
    EXPECT_EQ(expected, stream->Written());
    auto newer = TestStream::Create({0x01, 0x08, 0x00, 0x00, 1, 0, 0, 0, 2, 0, 0, 0});
    EXPECT_HR(E_FAIL, As<IPersistStreamInit>(IID_IPersistStreamInit)->Load(newer.Get()));
    SIZEL size{};
    EXPECT_HR(S_OK, As<IOleObject>(IID_IOleObject)->GetExtent(DVASPECT_CONTENT, &size));
    EXPECT_EQ(5080, size.cx);
    EXPECT_EQ(5080, size.cy);
}

TEST_F(DialerControlTest, DrawsTheLabel) {
    auto view = As<IViewObject>(IID_IViewObject);
    const RECTL bounds{0, 0, 200, 100};
    LabelImage drawn;
    ASSERT_HR(S_OK, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, drawn.Dc(), &bounds,
                               nullptr, nullptr, 0));
    LabelImage expected;
    expected.DrawReference(100, 50);
    EXPECT_TRUE(drawn.Pixels() == expected.Pixels());
}

TEST_F(DialerControlTest, PropertiesVerbAndSiteRelease) {
    SiteOptions options;
    options.userMode = TestSite::Bool(false);
    auto site = TestSite::Create(options);
    auto ole = As<IOleObject>(IID_IOleObject);
    ASSERT_HR(S_OK, ole->SetClientSite(site.Get()));
    EXPECT_HR(S_OK, ole->DoVerb(OLEIVERB_PRIMARY, nullptr, site.Get(), 0, nullptr, nullptr));
    EXPECT_TRUE(site->Called("ShowPropertyFrame"));
    ole.Reset();
    site.Reset();  // the dialer's reference keeps it until the dialer goes
}

TEST_F(DialerControlTest, AggregatedDialerAsksItsOuterObject) {
    dialer.Reset();
    Outer outer;
    ASSERT_HR(S_OK, outer.Aggregate());
    ComPtr<IObjectSafety> safety;
    ASSERT_HR(S_OK, outer.QueryInterface(IID_PPV_ARGS(&safety)));
    // The safety query goes through the controlling unknown, which answers
    // more than the dialer does.
    DWORD supported = 0;
    DWORD enabled = 0;
    EXPECT_HR(S_OK, safety->GetInterfaceSafetyOptions(IID_IOleCommandTarget, &supported, &enabled));
    EXPECT_EQ(3u, supported);
    ComPtr<IUnknown> identity;
    ASSERT_HR(S_OK, safety->QueryInterface(IID_PPV_ARGS(&identity)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.Get());
    identity.Reset();
    safety.Reset();
    EXPECT_EQ(1, outer.m_ref);
    EXPECT_EQ(0u, outer.inner.Reset());
}
