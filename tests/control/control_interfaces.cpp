// The interface list of an object built on the control bases.
#include "control_interfaces.h"

#include <gtest/gtest.h>

#include <objsafe.h>

#include <string>

#include <wrl/client.h>

#include "brevlin_idl.h"
#include "control_fixture.h"

using Microsoft::WRL::ComPtr;

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

namespace {

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

}  // namespace

void* Query(IUnknown* object, REFIID iid, HRESULT* hr) {
    void* p = nullptr;
    *hr = object->QueryInterface(iid, &p);
    if (p)
        static_cast<IUnknown*>(p)->Release();
    return p;
}

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
        ASSERT_HR(S_OK, static_cast<IUnknown*>(p)->QueryInterface(IID_PPV_ARGS(&back)))
            << entry.name;
        EXPECT_EQ(unknown, back.Get()) << entry.name;
    }
    for (const auto& entry : kRefused) {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_HR(E_NOINTERFACE, object->QueryInterface(*entry.iid, &p)) << entry.name;
        EXPECT_EQ(nullptr, p) << entry.name;
    }
}

void ExpectRegisteredAnswers(IOleObject* object) {
    DWORD status = 0;
    EXPECT_HR(S_OK, object->GetMiscStatus(DVASPECT_CONTENT, &status));
    EXPECT_EQ(132497u, status);
    for (DWORD aspect : {DWORD{DVASPECT_ICON}, DWORD{DVASPECT_THUMBNAIL}}) {
        status = 99;
        EXPECT_HR(S_OK, object->GetMiscStatus(aspect, &status)) << aspect;
        EXPECT_EQ(0u, status) << aspect;
    }
    EXPECT_HR(E_POINTER, object->GetMiscStatus(DVASPECT_CONTENT, nullptr));

    LPOLESTR userType = nullptr;
    ASSERT_HR(S_OK, object->GetUserType(USERCLASSTYPE_FULL, &userType));
    ASSERT_NE(nullptr, userType);
    EXPECT_EQ(std::wstring(L"TAPIDialer Class"), userType);
    CoTaskMemFree(userType);
}
