// What the control answers to QueryInterface, with which pointers.
#include "control_fixture.h"
#include "control_interfaces.h"

#include <objsafe.h>

using Microsoft::WRL::ComPtr;

TEST_F(ControlTest, AnswersTheControlInterfacesInTableOrder) {
    ExpectControlInterfaces(control.Get());
}

TEST_F(ControlTest, DistinctInterfacesHaveDistinctPointers) {
    HRESULT hr = S_OK;
    std::vector<void*> own;
    for (const Answered& entry : kAnswered) {
        if (!entry.samePointerAs)
            own.push_back(Query(control.Get(), *entry.iid, &hr));
    }
    for (size_t i = 0; i < own.size(); ++i) {
        for (size_t j = i + 1; j < own.size(); ++j)
            EXPECT_NE(own[i], own[j]) << i << " and " << j;
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
