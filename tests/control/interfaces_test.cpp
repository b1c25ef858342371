// What the control answers to QueryInterface, with which pointers.
#include "control_fixture.h"

#include <objsafe.h>

using Microsoft::WRL::ComPtr;

namespace {

struct Answered {
    const IID* iid;
    const char* name;
    const IID* samePointerAs;  // null: a pointer of its own
};

// In the order the table looks them up.
const Answered kAnswered[] = {
    {&IID_ITAPIDialer, "ITAPIDialer", nullptr},
    {&IID_IDispatch, "IDispatch", &IID_ITAPIDialer},
    {&IID_IViewObjectEx, "IViewObjectEx", nullptr},
    {&IID_IViewObject2, "IViewObject2", &IID_IViewObjectEx},
    {&IID_IViewObject, "IViewObject", &IID_IViewObjectEx},
    {&IID_IOleInPlaceObjectWindowless, "IOleInPlaceObjectWindowless", nullptr},
    {&IID_IOleInPlaceObject, "IOleInPlaceObject", &IID_IOleInPlaceObjectWindowless},
    {&IID_IOleWindow, "IOleWindow", &IID_IOleInPlaceObjectWindowless},
    {&IID_IOleInPlaceActiveObject, "IOleInPlaceActiveObject", nullptr},
    {&IID_IOleControl, "IOleControl", nullptr},
    {&IID_IOleObject, "IOleObject", nullptr},
    {&IID_IPersistStreamInit, "IPersistStreamInit", nullptr},
    {&IID_IPersist, "IPersist", &IID_IPersistStreamInit},
    {&IID_IObjectSafety, "IObjectSafety", nullptr},
};

const struct {
    const IID* iid;
    const char* name;
} kRefused[] = {
    {&IID_ISupportErrorInfo, "ISupportErrorInfo"},
    {&IID_IConnectionPointContainer, "IConnectionPointContainer"},
    {&IID_IProvideClassInfo, "IProvideClassInfo"},
    {&IID_IProvideClassInfo2, "IProvideClassInfo2"},
    {&IID_ISpecifyPropertyPages, "ISpecifyPropertyPages"},
    {&IID_IPersistStorage, "IPersistStorage"},
    {&IID_IPersistPropertyBag, "IPersistPropertyBag"},
    {&IID_IDataObject, "IDataObject"},
    {&IID_IQuickActivate, "IQuickActivate"},
    {&IID_IOleInPlaceSite, "IOleInPlaceSite"},
    {&IID_IPersistStream, "IPersistStream"},
    {&IID_IMarshal, "IMarshal"},
};

void* Query(IUnknown* object, REFIID iid, HRESULT* hr) {
    void* p = nullptr;
    *hr = object->QueryInterface(iid, &p);
    if (p) static_cast<IUnknown*>(p)->Release();
    return p;
}

}  // namespace

// Checks the whole list on any object built on the control bases.
void ExpectControlInterfaces(IUnknown* object) {
    HRESULT hr = S_OK;
    void* unknown = Query(object, IID_IUnknown, &hr);
    EXPECT_HR(S_OK, hr);
    void* first = Query(object, *kAnswered[0].iid, &hr);
    EXPECT_EQ(first, unknown) << "IUnknown is not answered with the first entry";
    for (const Answered& entry : kAnswered) {
        void* p = Query(object, *entry.iid, &hr);
        EXPECT_HR(S_OK, hr) << entry.name;
        EXPECT_NE(nullptr, p) << entry.name;
        if (entry.samePointerAs) {
            EXPECT_EQ(Query(object, *entry.samePointerAs, &hr), p) << entry.name;
        }
        // Every interface leads back to the same identity.
        ComPtr<IUnknown> back;
        ASSERT_HR(S_OK, static_cast<IUnknown*>(p)->QueryInterface(IID_PPV_ARGS(&back))) << entry.name;
        EXPECT_EQ(unknown, back.Get()) << entry.name;
    }
    for (const auto& entry : kRefused) {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_HR(E_NOINTERFACE, object->QueryInterface(*entry.iid, &p)) << entry.name;
        EXPECT_EQ(nullptr, p) << entry.name;
    }
}

TEST_F(ControlTest, AnswersTheControlInterfacesInTableOrder) { ExpectControlInterfaces(control.Get()); }

TEST_F(ControlTest, DistinctInterfacesHaveDistinctPointers) {
    HRESULT hr = S_OK;
    std::vector<void*> own;
    for (const Answered& entry : kAnswered) {
        if (!entry.samePointerAs) own.push_back(Query(control.Get(), *entry.iid, &hr));
    }
    for (size_t i = 0; i < own.size(); ++i) {
        for (size_t j = i + 1; j < own.size(); ++j) EXPECT_NE(own[i], own[j]) << i << " and " << j;
    }
}

TEST_F(ControlTest, QueryCountsOneReferencePerInterface) {
    EXPECT_EQ(1u, RefCount(control.Get()));
    ComPtr<IOleObject> ole = As<IOleObject>(IID_IOleObject);
    ComPtr<IViewObject> view = As<IViewObject>(IID_IViewObject);
    EXPECT_EQ(3u, RefCount(control.Get()));
    view.Reset();
    ole.Reset();
    EXPECT_EQ(1u, RefCount(control.Get()));
}

TEST_F(ControlTest, ClassIdentityComesFromTheCoClass) {
    CLSID clsid{};
    EXPECT_HR(S_OK, As<IPersistStreamInit>(IID_IPersistStreamInit)->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_TestControl, clsid));
    clsid = CLSID{};
    EXPECT_HR(S_OK, As<IOleObject>(IID_IOleObject)->GetUserClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_TestControl, clsid));
}
