#include <gtest/gtest.h>

#include <wrl/client.h>

#include "comkit/module.h"
#include "counted_object.h"

using Microsoft::WRL::ComPtr;
using comkit_test::CCounted;
using comkit_test::State;

namespace {

class ObjectRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    State() = {};
    m_baseLocks = comkit::GetModule().GetLockCount();
  }
  void TearDown() override {
    EXPECT_EQ(State().live, 0) << "leaked test objects";
    EXPECT_EQ(comkit::GetModule().GetLockCount(), m_baseLocks);
  }
  LONG m_baseLocks = 0;
};

TEST_F(ObjectRootTest, NullOutPointerIsRefusedBeforeAnythingIsBuilt) {
  EXPECT_EQ(CComObject<CCounted>::CreateInstance(nullptr, IID_IPersist, nullptr), E_POINTER);
  EXPECT_EQ(State().countInFinalConstruct, -1);
  EXPECT_EQ(State().live, 0);
}

TEST_F(ObjectRootTest, PlainObjectHoldsOneModuleLockWhileAlive) {
  ComPtr<IPersist> p;
  HRESULT hr = CComObject<CCounted>::CreateInstance(nullptr, IID_IPersist, &p);
  ASSERT_EQ(hr, S_OK) << std::hex << hr;
  EXPECT_EQ(State().countInFinalConstruct, 1);
  EXPECT_EQ(State().live, 1);
  EXPECT_EQ(comkit::GetModule().GetLockCount(), m_baseLocks + 1);
  EXPECT_EQ(p->AddRef(), 2u);
  EXPECT_EQ(p->Release(), 1u);
  EXPECT_EQ(p.Reset(), 0u);
  EXPECT_EQ(State().finalReleases, 1);
}

}  // namespace
