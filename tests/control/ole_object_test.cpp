// IOleObject and IOleControl: registry-backed answers, verbs, sites, advise.
#include "control_fixture.h"
#include "control_interfaces.h"

#include <string>

using Microsoft::WRL::ComPtr;

namespace {

// Registers the test class's user type and status flags the way the
// registry script does for the dialer, and removes them again.
class ClassRegistration {
public:
    ClassRegistration() {
        wchar_t clsid[40];
        StringFromGUID2(CLSID_TestControl, clsid, 40);
        m_key = std::wstring(L"CLSID\\") + clsid;
        Set(m_key, L"TAPIDialer Class");
        Set(m_key + L"\\MiscStatus", L"0");
        Set(m_key + L"\\MiscStatus\\1", L"132497");
    }
    ~ClassRegistration() { RegDeleteTreeW(HKEY_CLASSES_ROOT, m_key.c_str()); }
    ClassRegistration(const ClassRegistration&) = delete;
    ClassRegistration& operator=(const ClassRegistration&) = delete;

private:
    static void Set(const std::wstring& key, const wchar_t* value) {
        HKEY hkey = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0,
                                                 KEY_WRITE, nullptr, &hkey, nullptr));
        RegSetValueExW(hkey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
        RegCloseKey(hkey);
    }
    std::wstring m_key;
};

class OleObjectTest : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        ole = As<IOleObject>(IID_IOleObject);
    }
    void TearDown() override {
        ole.Reset();
        site.Reset();
        ControlTest::TearDown();
    }
    void Site(SiteOptions options) {
        site = TestSite::Create(options);
        ASSERT_HR(S_OK, ole->SetClientSite(site.Get()));
        site->ClearCalls();
    }
    HRESULT Verb(LONG verb) { return ole->DoVerb(verb, nullptr, site.Get(), 0, nullptr, nullptr); }
    bool Activated() const { return site->Called("CanInPlaceActivate"); }

    ComPtr<IOleObject> ole;
    ComPtr<TestSite> site;
};

SiteOptions RunMode() {
    SiteOptions options;
    options.userMode = TestSite::Bool(true);
    return options;
}

SiteOptions DesignMode() {
    SiteOptions options;
    options.userMode = TestSite::Bool(false);
    return options;
}

}  // namespace

TEST_F(OleObjectTest, StatusUserTypeAndVerbsComeFromTheRegistry) {
    ClassRegistration registration;
    ExpectRegisteredAnswers(ole.Get());

    // The class lists no verbs: whatever the platform answers, no enumerator
    // is left behind on failure.
    ComPtr<IEnumOLEVERB> verbs;
    const HRESULT hr = ole->EnumVerbs(&verbs);
    if (FAILED(hr)) {
        EXPECT_EQ(nullptr, verbs.Get()) << Hex(hr);
    }
}

TEST_F(OleObjectTest, DoVerbRefusesAnActiveSiteOtherThanTheClientSite) {
    auto other = TestSite::Create(RunMode());
    EXPECT_HR(E_UNEXPECTED, ole->DoVerb(OLEIVERB_OPEN, nullptr, other.Get(), 0, nullptr, nullptr));
    Site(RunMode());
    EXPECT_HR(E_UNEXPECTED,
              ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, other.Get(), 0, nullptr, nullptr));
    EXPECT_HR(E_UNEXPECTED,
              ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr));
    EXPECT_TRUE(site->Calls().empty());
    EXPECT_TRUE(other->Calls().empty());
    // Neither site: nothing to compare, and nothing to activate in.
    ASSERT_HR(S_OK, ole->SetClientSite(nullptr));
    EXPECT_HR(S_OK, ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr));
}

TEST_F(OleObjectTest, PrimaryVerbActivatesInRunMode) {
    Site(RunMode());
    EXPECT_HR(S_OK, Verb(OLEIVERB_PRIMARY));
    EXPECT_TRUE(Activated());
    EXPECT_TRUE(site->Called("OnInPlaceActivateEx(0)"));
    EXPECT_FALSE(site->Called("OnUIActivate"));
    EXPECT_TRUE(site->Called("ShowObject"));
    EXPECT_FALSE(site->Called("ShowPropertyFrame"));
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
    EXPECT_TRUE(site->Called("OnInPlaceDeactivateEx"));
}

TEST_F(OleObjectTest, PrimaryVerbShowsPropertiesInDesignMode) {
    Site(DesignMode());
    EXPECT_HR(S_OK, Verb(OLEIVERB_PRIMARY));
    EXPECT_TRUE(site->Called("ShowPropertyFrame"));
    EXPECT_FALSE(Activated());
}

TEST_F(OleObjectTest, PrimaryVerbActivatesWhenUserModeIsNotABoolean) {
    VARIANT notBool;
    VariantInit(&notBool);
    V_VT(&notBool) = VT_I4;
    V_I4(&notBool) = 0;
    for (const std::optional<VARIANT>& answer :
         {std::optional<VARIANT>(), std::optional<VARIANT>(notBool)}) {
        SiteOptions options;
        options.userMode = answer;
        Site(options);
        EXPECT_HR(S_OK, Verb(OLEIVERB_PRIMARY));
        EXPECT_TRUE(Activated());
        EXPECT_FALSE(site->Called("ShowPropertyFrame"));
        EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
    }
    // A site without IDispatch has no ambient properties at all.
    SiteOptions noAmbient;
    noAmbient.ambientDispatch = false;
    Site(noAmbient);
    EXPECT_HR(S_OK, Verb(OLEIVERB_PRIMARY));
    EXPECT_TRUE(Activated());
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
}

TEST_F(OleObjectTest, PositiveVerbsRunThePrimaryActionAndSayInvalidVerb) {
    Site(DesignMode());
    EXPECT_HR(OLEOBJ_S_INVALIDVERB, Verb(1));
    EXPECT_TRUE(site->Called("ShowPropertyFrame"));
    Site(RunMode());
    EXPECT_HR(OLEOBJ_S_INVALIDVERB, Verb(7));
    EXPECT_TRUE(Activated());
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
}

TEST_F(OleObjectTest, PropertiesVerbGoesThroughTheControlSite) {
    Site(RunMode());
    EXPECT_HR(S_OK, Verb(OLEIVERB_PROPERTIES));
    EXPECT_TRUE(site->Called("ShowPropertyFrame"));
    EXPECT_FALSE(Activated());

    SiteOptions refusing = RunMode();
    refusing.showPropertyFrame = E_NOTIMPL;
    Site(refusing);
    EXPECT_HR(OLEOBJ_S_CANNOT_DOVERB_NOW, Verb(OLEIVERB_PROPERTIES));

    SiteOptions noControlSite = RunMode();
    noControlSite.controlSite = false;
    Site(noControlSite);
    EXPECT_HR(OLEOBJ_S_CANNOT_DOVERB_NOW, Verb(OLEIVERB_PROPERTIES));
    EXPECT_FALSE(site->Called("ShowPropertyFrame"));
}

TEST_F(OleObjectTest, VerbsThatDoNothingAndVerbsThatAreUnknown) {
    Site(RunMode());
    EXPECT_HR(S_OK, Verb(OLEIVERB_OPEN));
    EXPECT_HR(S_OK, Verb(OLEIVERB_DISCARDUNDOSTATE));
    EXPECT_HR(S_OK, Verb(OLEIVERB_HIDE));
    EXPECT_TRUE(site->Calls().empty());
    EXPECT_HR(E_NOTIMPL, Verb(-8));
    EXPECT_HR(E_NOTIMPL, Verb(-100));
    EXPECT_TRUE(site->Calls().empty());
}

TEST_F(OleObjectTest, ShowAndInPlaceVerbsActivateWithoutUserInterface) {
    for (LONG verb : {OLEIVERB_SHOW, OLEIVERB_INPLACEACTIVATE}) {
        Site(RunMode());
        EXPECT_HR(S_OK, Verb(verb)) << verb;
        EXPECT_TRUE(Activated()) << verb;
        EXPECT_FALSE(site->Called("OnUIActivate")) << verb;
        EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
    }
    Site(RunMode());
    EXPECT_HR(S_OK, Verb(OLEIVERB_UIACTIVATE));
    EXPECT_TRUE(site->Called("OnUIActivate"));
    // Hiding takes the user interface down but stays in place.
    site->ClearCalls();
    EXPECT_HR(S_OK, Verb(OLEIVERB_HIDE));
    EXPECT_TRUE(site->Called("OnUIDeactivate"));
    EXPECT_FALSE(site->Called("OnInPlaceDeactivateEx"));
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
    EXPECT_TRUE(site->Called("OnInPlaceDeactivateEx"));
}

TEST_F(OleObjectTest, InPlaceVerbAnnouncesAViewChange) {
    // Not windowless: the view's advise sink hears of it.
    auto view = As<IViewObjectEx>(IID_IViewObjectEx);
    auto sink = TestAdviseSink::Create();
    ASSERT_HR(S_OK, view->SetAdvise(DVASPECT_CONTENT, 0, sink.Get()));
    SiteOptions plain = RunMode();
    plain.inPlace = SiteOptions::InPlace::Plain;
    Site(plain);
    EXPECT_HR(S_OK, Verb(OLEIVERB_INPLACEACTIVATE));
    EXPECT_TRUE(site->Called("OnInPlaceActivate"));
    EXPECT_EQ(1, sink->viewChanges);
    EXPECT_EQ(static_cast<DWORD>(DVASPECT_CONTENT), sink->lastViewAspect);
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
    EXPECT_TRUE(site->Called("OnInPlaceDeactivate"));
    ASSERT_HR(S_OK, view->SetAdvise(0, 0, nullptr));

    // Windowless: the site is asked to repaint.
    SiteOptions windowless = RunMode();
    windowless.canWindowless = true;
    Site(windowless);
    EXPECT_HR(S_OK, Verb(OLEIVERB_INPLACEACTIVATE));
    EXPECT_TRUE(site->Called("OnInPlaceActivateEx(windowless)"));
    EXPECT_TRUE(site->Called("InvalidateRect"));
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_HR(E_FAIL, As<IOleInPlaceObject>(IID_IOleInPlaceObject)->GetWindow(&window));
    EXPECT_EQ(nullptr, window);
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
}

TEST_F(OleObjectTest, RefusedActivationLeavesTheControlInactive) {
    SiteOptions refusing = RunMode();
    refusing.canInPlaceActivate = S_FALSE;
    Site(refusing);
    EXPECT_HR(E_FAIL, Verb(OLEIVERB_INPLACEACTIVATE));
    EXPECT_FALSE(site->Called("OnInPlaceActivateEx(0)"));
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
    EXPECT_FALSE(site->Called("OnInPlaceDeactivateEx"));

    SiteOptions none = RunMode();
    none.inPlace = SiteOptions::InPlace::None;
    Site(none);
    EXPECT_HR(E_NOINTERFACE, Verb(OLEIVERB_INPLACEACTIVATE));
}

TEST_F(OleObjectTest, ReleasingAnActiveControlDeactivatesIt) {
    Site(RunMode());
    EXPECT_HR(S_OK, Verb(OLEIVERB_UIACTIVATE));
    ole.Reset();
    EXPECT_EQ(0u, control.Reset());
    EXPECT_TRUE(site->Called("OnUIDeactivate"));
    EXPECT_TRUE(site->Called("OnInPlaceDeactivateEx"));
    EXPECT_EQ(1u, RefCount(static_cast<IOleClientSite*>(site.Get())))
        << "the control kept a reference on its site";
}

TEST_F(OleObjectTest, ClientSiteIsHeldAndHandedBack) {
    Site(RunMode());
    EXPECT_LT(1u, RefCount(static_cast<IOleClientSite*>(site.Get())));
    ComPtr<IOleClientSite> back;
    EXPECT_HR(S_OK, ole->GetClientSite(&back));
    EXPECT_EQ(static_cast<IOleClientSite*>(site.Get()), back.Get());
    back.Reset();
    EXPECT_HR(S_OK, ole->SetClientSite(nullptr));
    EXPECT_EQ(1u, RefCount(static_cast<IOleClientSite*>(site.Get())));
    EXPECT_HR(S_OK, ole->GetClientSite(&back));
    EXPECT_EQ(nullptr, back.Get());
    EXPECT_HR(E_POINTER, ole->GetClientSite(nullptr));
}

TEST_F(OleObjectTest, CloseSavesWhenAskedAndTellsTheAdviseSinks) {
    Site(RunMode());
    auto sink = TestAdviseSink::Create();
    DWORD cookie = 0;
    ASSERT_HR(S_OK, ole->Advise(sink.Get(), &cookie));
    EXPECT_NE(0u, cookie);
    ComPtr<IEnumSTATDATA> connections;
    EXPECT_HR(S_OK, ole->EnumAdvise(&connections));
    STATDATA data{};
    ULONG fetched = 0;
    ASSERT_NE(nullptr, connections.Get());
    EXPECT_HR(S_OK, connections->Next(1, &data, &fetched));
    EXPECT_EQ(cookie, data.dwConnection);
    if (data.pAdvSink)
        data.pAdvSink->Release();
    connections.Reset();

    // Not dirty: nothing to save.
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_SAVEIFDIRTY));
    EXPECT_FALSE(site->Called("SaveObject"));
    EXPECT_EQ(1, sink->closes);

    ASSERT_HR(S_OK, As<IPersistStreamInit>(IID_IPersistStreamInit)->InitNew());
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
    EXPECT_FALSE(site->Called("SaveObject"));
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_SAVEIFDIRTY));
    EXPECT_TRUE(site->Called("SaveObject"));
    EXPECT_EQ(1, sink->saves);

    EXPECT_HR(S_OK, ole->Unadvise(cookie));
    EXPECT_EQ(1u, RefCount(sink.Get()));
    EXPECT_HR(OLE_E_NOCONNECTION, ole->Unadvise(cookie));
}

TEST_F(OleObjectTest, UnadviseWithoutAdviseHasNoConnection) {
    EXPECT_HR(OLE_E_NOCONNECTION, ole->Unadvise(1));
    DWORD cookie = 5;
    EXPECT_HR(E_INVALIDARG, ole->Advise(nullptr, &cookie));
    EXPECT_EQ(0u, cookie);
}

TEST_F(ControlTest, OleControlAnswersAndCountsFreezes) {
    auto oleControl = As<IOleControl>(IID_IOleControl);
    CONTROLINFO info{};
    info.cb = sizeof(info);
    EXPECT_HR(E_NOTIMPL, oleControl->GetControlInfo(&info));
    MSG msg{};
    EXPECT_HR(E_NOTIMPL, oleControl->OnMnemonic(&msg));
    EXPECT_HR(S_OK, oleControl->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE));
    auto* object =
        static_cast<CTestControl*>(static_cast<IOleControlImpl<CTestControl>*>(oleControl.Get()));
    EXPECT_EQ(0, object->FreezeCount());
    EXPECT_HR(S_OK, oleControl->FreezeEvents(TRUE));
    EXPECT_HR(S_OK, oleControl->FreezeEvents(TRUE));
    EXPECT_EQ(2, object->FreezeCount());
    EXPECT_HR(S_OK, oleControl->FreezeEvents(FALSE));
    EXPECT_EQ(1, object->FreezeCount());
}

TEST_F(OleObjectTest, NewClientSiteIsTheOneActivatedIn) {
    SiteOptions refusing = RunMode();
    refusing.canInPlaceActivate = S_FALSE;
    Site(refusing);
    EXPECT_HR(E_FAIL, Verb(OLEIVERB_INPLACEACTIVATE));
    auto first = site;
    Site(RunMode());
    EXPECT_HR(S_OK, Verb(OLEIVERB_INPLACEACTIVATE));
    EXPECT_TRUE(Activated());
    EXPECT_TRUE(site->Called("OnInPlaceActivateEx(0)"));
    EXPECT_FALSE(first->Called("OnInPlaceActivateEx(0)"));
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
    EXPECT_TRUE(site->Called("OnInPlaceDeactivateEx"));
    first.Reset();
}

TEST_F(OleObjectTest, LosingTheDocumentWindowEndsTheUserInterface) {
    Site(RunMode());
    ASSERT_HR(S_OK, Verb(OLEIVERB_UIACTIVATE));
    auto active = As<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject);
    MSG msg{};
    EXPECT_HR(S_FALSE, active->TranslateAccelerator(&msg));
    EXPECT_HR(S_OK, active->OnDocWindowActivate(TRUE));
    EXPECT_FALSE(site->Called("OnUIDeactivate"));
    EXPECT_HR(S_OK, active->OnDocWindowActivate(FALSE));
    EXPECT_TRUE(site->Called("OnUIDeactivate"));
    EXPECT_FALSE(site->Called("OnInPlaceDeactivateEx"));
    // A second UI activation asks the site again.
    site->ClearCalls();
    ASSERT_HR(S_OK, Verb(OLEIVERB_UIACTIVATE));
    EXPECT_TRUE(site->Called("OnUIActivate"));
    active.Reset();
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
}
