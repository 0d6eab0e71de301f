// The component smart pointer against a real module: creation, release, the library the
// component names, and the traces of misuse.
#include <gtest/gtest.h>

#include "support/kiv_test.h"
#include "test_module.h"
#include "tqNotify/framework/TQptr.h"

namespace {

class SmartPointer : public ::testing::Test {
 protected:
  void SetUp() override { testmodule::useTestModules(); }
};

TEST_F(SmartPointer, ReleaseAnswersWhetherSomethingWasHeldAndUnloadsWithTheLast) {
  TQptr<ITQTest> pointer;
  const int before = static_cast<int>(kivtest::traceLines().size());
  EXPECT_EQ(pointer.Release(), 0);
  EXPECT_EQ(static_cast<int>(kivtest::traceLines().size()), before);  // no trace for an empty pointer

  ASSERT_TRUE(pointer.CreateInstance(kTestModule, kTestClass, L"test"));
  EXPECT_EQ(pointer->answer(), 42);
  EXPECT_TRUE(testmodule::loaded());
  EXPECT_EQ(pointer.Release(), 1);
  EXPECT_EQ(pointer.Release(), 0);
  EXPECT_FALSE(testmodule::loaded());
}

TEST_F(SmartPointer, BadArgumentsAreTracedAndKeepTheHeldComponent) {
  TQptr<ITQTest> pointer;
  ASSERT_TRUE(pointer.CreateInstance(kTestModule, kTestClass));
  ITQTest* held = pointer.get();
  EXPECT_FALSE(pointer.CreateInstance(kTestModule, nullptr));
  EXPECT_FALSE(pointer.CreateInstance(nullptr, kTestClass));
  EXPECT_EQ(kivtest::countTrace("TQptr::CreateInstance: bad args"), 2);
  EXPECT_EQ(pointer.get(), held);
}

TEST_F(SmartPointer, FilledPointerUnloadsTheLibraryItsComponentNames) {
  TQptr<ITQTest> parent;
  ASSERT_TRUE(parent.CreateInstance(kTestModule, kTestClass));
  TQptr<ITQTest> child;
  ASSERT_TRUE(parent->makeChild(child.fill()));
  EXPECT_EQ(child.module(), nullptr);  // learned only when released
  EXPECT_EQ(parent.Release(), 1);
  EXPECT_TRUE(testmodule::loaded());
  EXPECT_EQ(child->answer(), 42);
  EXPECT_EQ(child.Release(), 1);
  EXPECT_NE(child.module(), nullptr);
  EXPECT_FALSE(testmodule::loaded());
}

TEST_F(SmartPointer, ComponentStillReferencedKeepsItsLibraryLoaded) {
  TQptr<ITQTest> pointer;
  ASSERT_TRUE(pointer.CreateInstance(kTestModule, kTestClass));
  ITQTest* shared = pointer.get();
  HTQMODULE module = pointer.module();
  shared->AddRef();
  EXPECT_EQ(pointer.Release(), 1);
  EXPECT_TRUE(testmodule::loaded());
  EXPECT_EQ(testmodule::probe(module, kLiveObjectsProbe), 1);
  EXPECT_EQ(shared->Release(), 0);
  TQFactory_Unload(module);  // the load that reference carried
  EXPECT_FALSE(testmodule::loaded());
}

// Creating into a pointer that holds a component gives that component's load back, so
// the library unloads when the new one goes.
TEST_F(SmartPointer, RecreatingReleasesTheOldComponentsLoad) {
  TQptr<ITQTest> pointer;
  ASSERT_TRUE(pointer.CreateInstance(kTestModule, kTestClass));
  ASSERT_TRUE(pointer.CreateInstance(kTestModule, kTestClass));
  EXPECT_EQ(testmodule::probe(pointer.module(), kLiveObjectsProbe), 1);
  EXPECT_EQ(pointer.Release(), 1);
  EXPECT_FALSE(testmodule::loaded());
}

TEST_F(SmartPointer, FailedCreationLeavesNothingLoaded) {
  TQptr<ITQTest> pointer;
  EXPECT_FALSE(pointer.CreateInstance(kTestModule, "ITQUnknown"));
  EXPECT_FALSE(pointer);
  EXPECT_FALSE(testmodule::loaded());
  EXPECT_FALSE(pointer.CreateInstanceV4(kTestModule, kTestClass));  // version 4 is refused
  EXPECT_FALSE(pointer.CreateInstance(L"kivNoSuchModule", kTestClass));
  EXPECT_EQ(pointer.Release(), 0);
}

TEST_F(SmartPointer, ArrowOnEmptyPointerIsTraced) {
  TQptr<ITQTest> pointer;
  EXPECT_EQ(pointer.operator->(), nullptr);
  EXPECT_EQ(kivtest::countTrace("TQptr::-> invalid ptr"), 1);
}

TEST_F(SmartPointer, DetailTracesFollowTheDebugFlag) {
  kivtest::setEnvironment("KIV_DEBUG", "1", true);
  {
    TQptr<ITQTest> pointer;
    ASSERT_TRUE(pointer.CreateInstance(kTestModule, kTestClass, L"Caller"));
  }
  EXPECT_TRUE(kivtest::traced("TQptr::CreateInstance: file: kivTestComponent progid: ITQTest version: 2 called by:  Caller"));
  EXPECT_TRUE(kivtest::traced("TQPtr::Release: 0x"));
  kivtest::unsetEnvironment("KIV_DEBUG");
  EXPECT_FALSE(testmodule::loaded());
}

}  // namespace
