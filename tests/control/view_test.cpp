// IViewObject(2/Ex): the label's drawing and the view's answers.
#include "control_fixture.h"
#include "label_image.h"

using Microsoft::WRL::ComPtr;

namespace {

class ViewTest : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        view = As<IViewObjectEx>(IID_IViewObjectEx);
    }
    void TearDown() override {
        view.Reset();
        ControlTest::TearDown();
    }
    HRESULT Draw(DWORD aspect, HDC dc, const RECTL* bounds) {
        return view->Draw(aspect, -1, nullptr, nullptr, nullptr, dc, bounds, nullptr, nullptr, 0);
    }
    ComPtr<IViewObjectEx> view;
};

// The records of a metafile and where its text went. The enumeration
// callback is WINAPI (stdcall for x86), which a lambda cannot be.
struct MetafileRecords {
    std::vector<WORD> functions;
    int textX = -1;
    int textY = -1;

    static int CALLBACK Record(HDC, HANDLETABLE*, METARECORD* record, int, LPARAM data) {
        auto* s = reinterpret_cast<MetafileRecords*>(data);
        s->functions.push_back(record->rdFunction);
        if (record->rdFunction == META_EXTTEXTOUT) {
            s->textY = static_cast<SHORT>(record->rdParm[0]);
            s->textX = static_cast<SHORT>(record->rdParm[1]);
        } else if (record->rdFunction == META_TEXTOUT) {
            const WORD count = record->rdParm[0];
            const WORD* after = record->rdParm + 1 + (count + 1) / 2;
            s->textY = static_cast<SHORT>(after[0]);
            s->textX = static_cast<SHORT>(after[1]);
        }
        return 1;
    }
};

}  // namespace

TEST_F(ViewTest, DrawsTheLabelCentredOnTheBounds) {
    // Odd sizes, so that the halving truncates.
    const RECTL bounds{10, 20, 191, 81};
    LabelImage drawn;
    ASSERT_HR(S_OK, Draw(DVASPECT_CONTENT, drawn.Dc(), &bounds));
    LabelImage expected;
    expected.DrawReference(10 + 181 / 2, 20 + 61 / 2);
    ASSERT_FALSE(expected.Blank());
    EXPECT_TRUE(drawn.Pixels() == expected.Pixels())
        << "label not where the arithmetic puts it, or more painted";
}

TEST_F(ViewTest, HalvesTruncateTowardsZeroForReversedBounds) {
    const RECTL bounds{100, 60, 21, 9};
    LabelImage drawn;
    ASSERT_HR(S_OK, Draw(DVASPECT_CONTENT, drawn.Dc(), &bounds));
    LabelImage expected;
    expected.DrawReference(100 - 39, 60 - 25);  // (21 - 100) / 2 is -39, (9 - 60) / 2 is -25
    EXPECT_TRUE(drawn.Pixels() == expected.Pixels());
}

TEST_F(ViewTest, DrawsInDeviceUnitsAndRestoresTheContext) {
    LabelImage drawn;
    HDC dc = drawn.Dc();
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowExtEx(dc, 2, 2, nullptr);
    SetViewportExtEx(dc, 1, 1, nullptr);
    SetViewportOrgEx(dc, 30, 10, nullptr);
    SetTextAlign(dc, TA_LEFT | TA_TOP);
    // Logical (0, 0)-(200, 100) is device (30, 10)-(130, 60).
    const RECTL bounds{0, 0, 200, 100};
    ASSERT_HR(S_OK, Draw(DVASPECT_CONTENT, dc, &bounds));

    EXPECT_EQ(MM_ANISOTROPIC, GetMapMode(dc));
    POINT origin{};
    GetViewportOrgEx(dc, &origin);
    EXPECT_EQ(30, origin.x);
    EXPECT_EQ(10, origin.y);
    EXPECT_EQ(static_cast<UINT>(TA_LEFT | TA_TOP), GetTextAlign(dc));

    SetMapMode(dc, MM_TEXT);
    SetViewportOrgEx(dc, 0, 0, nullptr);
    LabelImage expected;
    expected.DrawReference(80, 35);
    EXPECT_TRUE(drawn.Pixels() == expected.Pixels());
}

TEST_F(ViewTest, MetafileIsDrawnIntoWithoutMappingChanges) {
    HDC dc = CreateMetaFileW(nullptr);
    ASSERT_NE(nullptr, dc);
    ASSERT_EQ(DT_METAFILE, GetDeviceCaps(dc, TECHNOLOGY));
    const RECTL bounds{0, 0, 101, 51};
    EXPECT_HR(S_OK, Draw(DVASPECT_CONTENT, dc, &bounds));
    HMETAFILE metafile = CloseMetaFile(dc);
    ASSERT_NE(nullptr, metafile);

    MetafileRecords seen;
    EnumMetaFile(nullptr, metafile, &MetafileRecords::Record, reinterpret_cast<LPARAM>(&seen));
    DeleteMetaFile(metafile);

    auto has = [&](WORD function) {
        return std::find(seen.functions.begin(), seen.functions.end(), function) !=
               seen.functions.end();
    };
    EXPECT_TRUE(has(META_SETTEXTALIGN));
    EXPECT_TRUE(has(META_EXTTEXTOUT) || has(META_TEXTOUT));
    EXPECT_FALSE(has(META_SETMAPMODE));
    EXPECT_FALSE(has(META_SAVEDC));
    EXPECT_FALSE(has(META_SETVIEWPORTORG));
    EXPECT_FALSE(has(META_SETWINDOWORG));
    EXPECT_EQ(50, seen.textX);
    EXPECT_EQ(25, seen.textY);
}

TEST_F(ViewTest, DrawsOnlyTheContentOpaqueAndTransparentAspects) {
    const RECTL bounds{0, 0, 200, 100};
    for (DWORD aspect : {DWORD{DVASPECT_OPAQUE}, DWORD{DVASPECT_TRANSPARENT}}) {
        LabelImage drawn;
        EXPECT_HR(S_OK, Draw(aspect, drawn.Dc(), &bounds)) << aspect;
        EXPECT_FALSE(drawn.Blank()) << aspect;
    }
    for (DWORD aspect : {DWORD{DVASPECT_THUMBNAIL}, DWORD{DVASPECT_ICON}, DWORD{DVASPECT_DOCPRINT},
                         DWORD{64}, DWORD{0}}) {
        LabelImage drawn;
        EXPECT_HR(DV_E_DVASPECT, Draw(aspect, drawn.Dc(), &bounds)) << aspect;
        EXPECT_TRUE(drawn.Blank()) << aspect;
    }
}

TEST_F(ViewTest, MissingBoundsAreRefusedUnlessActiveWithoutWindow) {
    LabelImage drawn;
    EXPECT_HR(E_INVALIDARG, Draw(DVASPECT_CONTENT, drawn.Dc(), nullptr));
    EXPECT_TRUE(drawn.Blank());

    SiteOptions options;
    options.userMode = TestSite::Bool(true);
    options.canWindowless = true;
    auto site = TestSite::Create(options);
    auto ole = As<IOleObject>(IID_IOleObject);
    ASSERT_HR(S_OK, ole->SetClientSite(site.Get()));
    ASSERT_HR(S_OK,
              ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.Get(), 0, nullptr, nullptr));
    const RECT pos{20, 10, 221, 91};
    ASSERT_HR(S_OK, As<IOleInPlaceObject>(IID_IOleInPlaceObject)->SetObjectRects(&pos, &pos));
    ASSERT_HR(S_OK, Draw(DVASPECT_CONTENT, drawn.Dc(), nullptr));
    LabelImage expected;
    expected.DrawReference(20 + 201 / 2, 10 + 81 / 2);
    EXPECT_TRUE(drawn.Pixels() == expected.Pixels());
    EXPECT_HR(S_OK, ole->Close(OLECLOSE_NOSAVE));
    EXPECT_HR(S_OK, ole->SetClientSite(nullptr));
}

TEST_F(ViewTest, HitTestsAgainstTheBounds) {
    const RECT bounds{10, 10, 50, 30};
    DWORD hit = 99;
    EXPECT_HR(S_OK, view->QueryHitPoint(DVASPECT_CONTENT, &bounds, POINT{10, 10}, 0, &hit));
    EXPECT_EQ(static_cast<DWORD>(HITRESULT_HIT), hit);
    EXPECT_HR(S_OK, view->QueryHitPoint(DVASPECT_CONTENT, &bounds, POINT{50, 20}, 0, &hit));
    EXPECT_EQ(static_cast<DWORD>(HITRESULT_OUTSIDE), hit);
    hit = 99;
    EXPECT_HR(E_FAIL, view->QueryHitPoint(DVASPECT_ICON, &bounds, POINT{20, 20}, 0, &hit));
    EXPECT_EQ(0u, hit);

    const RECT overlapping{45, 25, 80, 80};
    const RECT apart{50, 30, 80, 80};
    EXPECT_HR(S_OK, view->QueryHitRect(DVASPECT_CONTENT, &bounds, &overlapping, 0, &hit));
    EXPECT_EQ(static_cast<DWORD>(HITRESULT_HIT), hit);
    EXPECT_HR(S_OK, view->QueryHitRect(DVASPECT_CONTENT, &bounds, &apart, 0, &hit));
    EXPECT_EQ(static_cast<DWORD>(HITRESULT_OUTSIDE), hit);
    hit = 99;
    EXPECT_HR(E_FAIL, view->QueryHitRect(DVASPECT_OPAQUE, &bounds, &overlapping, 0, &hit));
    EXPECT_EQ(0u, hit);
}

TEST_F(ViewTest, FixedViewAnswers) {
    DWORD status = 0;
    EXPECT_HR(S_OK, view->GetViewStatus(&status));
    EXPECT_EQ(3u, status);

    DVEXTENTINFO info{sizeof(info), DVEXTENT_CONTENT, {}};
    SIZEL size{};
    EXPECT_HR(S_OK, view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &size));
    EXPECT_EQ(5080, size.cx);
    EXPECT_EQ(5080, size.cy);
    EXPECT_HR(E_FAIL, view->GetNaturalExtent(DVASPECT_ICON, -1, nullptr, nullptr, &info, &size));
    info.dwExtentMode = DVEXTENT_INTEGRAL;
    EXPECT_HR(E_FAIL, view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &size));

    RECTL rect{};
    EXPECT_HR(E_NOTIMPL, view->GetRect(DVASPECT_CONTENT, &rect));
    LOGPALETTE* palette = nullptr;
    EXPECT_HR(E_NOTIMPL,
              view->GetColorSet(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, &palette));
    DWORD freeze = 0;
    EXPECT_HR(E_NOTIMPL, view->Freeze(DVASPECT_CONTENT, -1, nullptr, &freeze));
    EXPECT_HR(E_NOTIMPL, view->Unfreeze(freeze));
}

TEST_F(ViewTest, AdviseSinkIsKeptAndHandedBack) {
    auto sink = TestAdviseSink::Create();
    ASSERT_HR(S_OK, view->SetAdvise(DVASPECT_CONTENT, ADVF_PRIMEFIRST, sink.Get()));
    DWORD aspects = 0;
    DWORD flags = 0;
    ComPtr<IAdviseSink> back;
    EXPECT_HR(S_OK, view->GetAdvise(&aspects, &flags, &back));
    EXPECT_EQ(static_cast<DWORD>(DVASPECT_CONTENT), aspects);
    EXPECT_EQ(static_cast<DWORD>(ADVF_PRIMEFIRST), flags);
    EXPECT_EQ(static_cast<IAdviseSink*>(sink.Get()), back.Get());
    back.Reset();
    EXPECT_HR(S_OK, view->SetAdvise(DVASPECT_CONTENT, 0, nullptr));
    EXPECT_EQ(1u, RefCount(sink.Get()));
    EXPECT_HR(S_OK, view->GetAdvise(nullptr, nullptr, &back));
    EXPECT_EQ(nullptr, back.Get());
}
