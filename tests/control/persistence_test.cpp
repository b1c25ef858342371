// The persisted size: the 12-byte stream, the dirty flag and the extent.
#include "control_fixture.h"

using Microsoft::WRL::ComPtr;

namespace {

std::vector<BYTE> StreamOf(DWORD version, DWORD cx, DWORD cy) {
    std::vector<BYTE> bytes(12);
    memcpy(&bytes[0], &version, 4);
    memcpy(&bytes[4], &cx, 4);
    memcpy(&bytes[8], &cy, 4);
    return bytes;
}

SIZEL ExtentOf(IUnknown* control) {
    ComPtr<IOleObject> ole;
    EXPECT_HR(S_OK, control->QueryInterface(IID_PPV_ARGS(&ole)));
    SIZEL size{-1, -1};
    EXPECT_HR(S_OK, ole->GetExtent(DVASPECT_CONTENT, &size));
    return size;
}

}  // namespace

TEST_F(ControlTest, FreshControlSavesDefaultExtent) {
    auto persist = As<IPersistStreamInit>(IID_IPersistStreamInit);
    auto stream = TestStream::Create({});
    EXPECT_HR(S_OK, persist->Save(stream.Get(), TRUE));
    const std::vector<BYTE> expected = {0x00, 0x08, 0x00, 0x00, 0xD8, 0x13,
                                        0x00, 0x00, 0xD8, 0x13, 0x00, 0x00};
    EXPECT_EQ(expected, stream->Written());
    ULARGE_INTEGER size{};
    EXPECT_HR(S_OK, persist->GetSizeMax(&size));
    EXPECT_EQ(12u, size.QuadPart);
    EXPECT_HR(E_POINTER, persist->GetSizeMax(nullptr));
}

TEST_F(ControlTest, SaveThenLoadRoundTripsTheExtent) {
    auto ole = As<IOleObject>(IID_IOleObject);
    SIZEL size{1234, 5678};
    EXPECT_HR(S_OK, ole->SetExtent(DVASPECT_CONTENT, &size));
    auto persist = As<IPersistStreamInit>(IID_IPersistStreamInit);
    auto stream = TestStream::Create({});
    ASSERT_HR(S_OK, persist->Save(stream.Get(), FALSE));
    EXPECT_EQ(StreamOf(0x800, 1234, 5678), stream->Written());

    ComPtr<IPersistStreamInit> other;
    ASSERT_HR(S_OK, CTestControl::CreateInstance(nullptr, IID_PPV_ARGS(&other)));
    auto in = TestStream::Create(stream->Written());
    EXPECT_HR(S_OK, other->Load(in.Get()));
    const SIZEL loaded = ExtentOf(other.Get());
    EXPECT_EQ(1234, loaded.cx);
    EXPECT_EQ(5678, loaded.cy);
}

TEST_F(ControlTest, LoadAcceptsOlderVersionsAndRefusesNewerOnes) {
    auto persist = As<IPersistStreamInit>(IID_IPersistStreamInit);
    auto newer = TestStream::Create(StreamOf(0x801, 100, 200));
    EXPECT_HR(E_FAIL, persist->Load(newer.Get()));
    EXPECT_EQ(5080, ExtentOf(control.Get()).cx);
    EXPECT_EQ(5080, ExtentOf(control.Get()).cy);

    auto older = TestStream::Create(StreamOf(0x700, 100, 200));
    EXPECT_HR(S_OK, persist->Load(older.Get()));
    EXPECT_EQ(100, ExtentOf(control.Get()).cx);
    EXPECT_EQ(200, ExtentOf(control.Get()).cy);
}

TEST_F(ControlTest, FailedLoadLeavesTheExtentWhole) {
    auto persist = As<IPersistStreamInit>(IID_IPersistStreamInit);
    // The version read, then the width, then the height fail in turn.
    for (int failing = 1; failing <= 3; ++failing) {
        auto stream = TestStream::Create(StreamOf(0x800, 100, 200), failing, 0, STG_E_READFAULT);
        EXPECT_HR(STG_E_READFAULT, persist->Load(stream.Get())) << "read " << failing;
        EXPECT_EQ(5080, ExtentOf(control.Get()).cx) << "read " << failing;
        EXPECT_EQ(5080, ExtentOf(control.Get()).cy) << "read " << failing;
    }
}

TEST_F(ControlTest, ShortStreamFailsWithoutTouchingTheExtent) {
    auto persist = As<IPersistStreamInit>(IID_IPersistStreamInit);
    std::vector<BYTE> full = StreamOf(0x800, 100, 200);
    for (size_t length : {0u, 2u, 4u, 6u, 8u, 11u}) {
        auto stream = TestStream::Create(std::vector<BYTE>(full.begin(), full.begin() + length));
        EXPECT_HR(E_FAIL, persist->Load(stream.Get())) << length << " bytes";
        EXPECT_EQ(5080, ExtentOf(control.Get()).cx) << length << " bytes";
        EXPECT_EQ(5080, ExtentOf(control.Get()).cy) << length << " bytes";
    }
    EXPECT_HR(E_INVALIDARG, persist->Load(nullptr));
}

TEST_F(ControlTest, FailingSaveReportsTheStreamFailure) {
    auto persist = As<IPersistStreamInit>(IID_IPersistStreamInit);
    ASSERT_HR(S_OK, persist->InitNew());
    for (int failing = 1; failing <= 3; ++failing) {
        auto stream = TestStream::Create({}, 0, failing);
        EXPECT_HR(STG_E_MEDIUMFULL, persist->Save(stream.Get(), TRUE)) << "write " << failing;
        EXPECT_HR(S_OK, persist->IsDirty()) << "a failed save must not clear the dirty flag";
    }
    EXPECT_HR(E_INVALIDARG, persist->Save(nullptr, TRUE));
}

TEST_F(ControlTest, DirtyFlagFollowsInitNewLoadAndSave) {
    auto persist = As<IPersistStreamInit>(IID_IPersistStreamInit);
    auto ole = As<IOleObject>(IID_IOleObject);
    EXPECT_HR(S_FALSE, persist->IsDirty());
    EXPECT_HR(S_OK, persist->InitNew());
    EXPECT_HR(S_OK, persist->IsDirty());

    auto keep = TestStream::Create({});
    EXPECT_HR(S_OK, persist->Save(keep.Get(), FALSE));
    EXPECT_HR(S_OK, persist->IsDirty());
    auto clear = TestStream::Create({});
    EXPECT_HR(S_OK, persist->Save(clear.Get(), TRUE));
    EXPECT_HR(S_FALSE, persist->IsDirty());

    EXPECT_HR(S_OK, persist->InitNew());
    auto load = TestStream::Create(StreamOf(0x800, 10, 20));
    EXPECT_HR(S_OK, persist->Load(load.Get()));
    EXPECT_HR(S_FALSE, persist->IsDirty());

    // Resizing is not a change worth saving.
    SIZEL size{300, 400};
    EXPECT_HR(S_OK, ole->SetExtent(DVASPECT_CONTENT, &size));
    EXPECT_HR(S_FALSE, persist->IsDirty());
}

TEST_F(ControlTest, SetExtentTakesOnlyTheContentAspect) {
    auto ole = As<IOleObject>(IID_IOleObject);
    SIZEL size{300, 400};
    EXPECT_HR(DV_E_DVASPECT, ole->SetExtent(DVASPECT_ICON, &size));
    EXPECT_HR(E_POINTER, ole->SetExtent(DVASPECT_CONTENT, nullptr));
    EXPECT_EQ(5080, ExtentOf(control.Get()).cx);
    EXPECT_HR(S_OK, ole->SetExtent(DVASPECT_CONTENT, &size));
    EXPECT_EQ(300, ExtentOf(control.Get()).cx);
    EXPECT_EQ(400, ExtentOf(control.Get()).cy);

    // The natural extent stays where it was.
    auto view = As<IViewObjectEx>(IID_IViewObjectEx);
    DVEXTENTINFO info{sizeof(info), DVEXTENT_CONTENT, {}};
    SIZEL natural{};
    EXPECT_HR(S_OK,
              view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &natural));
    EXPECT_EQ(5080, natural.cx);
    EXPECT_EQ(5080, natural.cy);
    SIZEL viewExtent{};
    EXPECT_HR(S_OK, view->GetExtent(DVASPECT_ICON, -1, nullptr, &viewExtent));
    EXPECT_EQ(300, viewExtent.cx);
}
