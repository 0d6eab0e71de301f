// The module's entry points and the plug-in object's frame: creation by interface name and
// version, version information, initialisation, reference counting and the fixed entries.
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "notifier/NotifierTest.h"
#include "tqNotify/ModuleState.h"
#include "tqNotify/notifier/UserUnitNames.h"

namespace notifiertest {
namespace {

// The module traces its initialisation and takes the factory's debug flag only on the first
// load in a process, so the tests that check either run in a process of their own.
using kivtest::ranInOwnProcess;

// The module's file name as the loader names it, and a handle of another module.
#ifdef _WIN32
#define MODULE_FILE "tqNotify.dll"
HTQMODULE otherModule() { return GetModuleHandleW(nullptr); }
#else
#define MODULE_FILE "libtqNotify.so"
HTQMODULE otherModule() { return dlopen(nullptr, RTLD_NOW); }
#endif

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = TQFactory_LoadExW(L"tqNotify", 1);
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override { TQFactory_Unload(module_); }
  HTQMODULE module_ = nullptr;
};

TEST_F(FrameTest, CreateInstanceMatchesNameWithoutCaseAndChecksVersion) {
  ITQImpl* object = TQCreateInstance("itqplugin", 2);
  ASSERT_NE(object, nullptr);
  EXPECT_NE(dynamic_cast<ITQPlugin*>(object), nullptr);
  EXPECT_EQ(object->GetLibraryHandle(), module_);
  EXPECT_EQ(object->Release(), 0);

  EXPECT_EQ(TQCreateInstance("ITQPlugin", 3), nullptr);
  EXPECT_TRUE(kivtest::traced(
      "CheckVersion: caller requires interface version 3 but only version 2 is supported"));
  EXPECT_EQ(TQFactory_GetInstCount(module_), 0);

  EXPECT_EQ(TQCreateInstance("ITQOther", 2), nullptr);
  EXPECT_TRUE(kivtest::traced("TQCreateInstance: doesn't support ITQOther"));
  EXPECT_EQ(TQCreateInstance(nullptr, 2), nullptr);
}

TEST_F(FrameTest, VersionInfoFillsOnlyTheGivenPointers) {
  uint32_t build = 0;
  EXPECT_TRUE(TQGetVersionInfo(nullptr, nullptr, nullptr, &build));
  EXPECT_EQ(build, 1378u);
  uint32_t major = 0, minor = 9, revision = 0;
  EXPECT_TRUE(TQGetVersionInfo(&major, &minor, &revision, nullptr));
  EXPECT_EQ(major, 12u);
  EXPECT_EQ(minor, 0u);
  EXPECT_EQ(revision, 1u);
  EXPECT_FALSE(TQGetVersionInfo(nullptr, nullptr, nullptr, nullptr));
}

TEST_F(FrameTest, SecondInitKeepsTheFirstHandleAndFileName) {
  if (ranInOwnProcess()) return;
  const auto& state = tqnotify::moduleState();
  EXPECT_EQ(state.libraryHandle, module_);
  EXPECT_STREQ(state.moduleFileName, L"" MODULE_FILE);
  EXPECT_TRUE(kivtest::traced("ITQImpl::Init: hLib: 0x"));
  EXPECT_EQ(TQInit(otherModule()), 1);
  EXPECT_EQ(state.libraryHandle, module_);
  EXPECT_STREQ(state.moduleFileName, L"" MODULE_FILE);
  EXPECT_EQ(TQInit(nullptr), 0);
  EXPECT_EQ(state.libraryHandle, module_);
}

TEST_F(FrameTest, LastReleaseDestroysTheObjectAndCountsTheInstanceDown) {
  ITQImpl* object = TQFactory_CreateInstanceExW(module_, "ITQPlugin", 2, L"test", 1);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(TQFactory_GetInstCount(module_), 1);
  object->AddRef();
  EXPECT_EQ(object->Release(), 1);
  EXPECT_EQ(TQFactory_GetInstCount(module_), 1);
  EXPECT_EQ(object->Release(), 0);
  EXPECT_EQ(TQFactory_GetInstCount(module_), 0);
}

// With the factory's debug flag set at initialisation, reference counting is traced.
TEST(FrameDebugTest, ReferenceCountingIsTracedWhenDebugIsOn) {
  if (ranInOwnProcess()) return;
  kivtest::setEnvironment("KIV_DEBUG", "1", true);
  HTQMODULE module = TQFactory_LoadExW(L"tqNotify", 1);
  ASSERT_NE(module, nullptr);
  ITQImpl* object = TQCreateInstance("ITQPlugin", 2);
  ASSERT_NE(object, nullptr);
  object->AddRef();
  object->Release();
  object->Release();
  EXPECT_EQ(kivtest::countTrace("ITQImpl::CreateInstance: " MODULE_FILE " instCount: 1"), 1);
  EXPECT_EQ(kivtest::countTrace("ITQImpl::AddRef: " MODULE_FILE ": ptr: 0x"), 2);
  EXPECT_EQ(kivtest::countTrace("ITQImpl::Release: " MODULE_FILE " ptr: 0x"), 2);
  EXPECT_EQ(kivtest::countTrace("ITQImpl::Release: " MODULE_FILE ": deleting instance ptr: 0x"), 1);
  TQFactory_Unload(module);
}

TEST_F(FrameTest, HandleRequestAnswersWithoutTouchingOutput) {
  auto* plugin = dynamic_cast<ITQPlugin*>(TQCreateInstance("ITQPlugin", 2));
  ASSERT_NE(plugin, nullptr);
  TQStringA output("untouched");
  EXPECT_TRUE(plugin->HandleRequestA(TQStringA("request"), output));
  EXPECT_EQ(output, "untouched");
  TQStringW wideOutput(L"kept");
  EXPECT_FALSE(plugin->HandleRequestW(TQStringW(L"request"), wideOutput));
  EXPECT_EQ(wideOutput, L"kept");

  EXPECT_EQ(plugin->Release(), 0);
}

// A shutdown without a start-up still reports the end to the host.
TEST_F(FrameTest, ShutdownEntriesReportCodeOneEvenWithoutStartUp) {
  auto* notifier = dynamic_cast<CTQNotify*>(TQCreateInstance("ITQPlugin", 2));
  ASSERT_NE(notifier, nullptr);
  RecordingSink sink;
  notifier->hostSink = &sink;
  EXPECT_EQ(notifier->Shutdown(), 0);
  EXPECT_EQ(notifier->ShutdownA("ignored", 7), 0);
  EXPECT_EQ(sink.events(), (std::vector<Event>{{1, L"", L"", L""}, {1, L"", L"", L""}}));
  notifier->Release();
}

TEST(UserUnitNamesTest, DomainOfThisComputerBecomesADot) {
  kivtest::setEnvironment("KIV_COMPUTER_NAME", "PC1", true);
  auto local = tqnotify::unitNamesFor(L"pc1", L"alice");
  EXPECT_EQ(local.userUnit, L".|alice");
  EXPECT_EQ(local.computerUserUnit, L".|.|alice");
  auto domain = tqnotify::unitNamesForAccount(TQStringW(L"CORP\\bob\\x"));
  EXPECT_EQ(domain.userUnit, L"CORP|bob\\x");
  EXPECT_EQ(domain.computerUserUnit, L".|CORP|bob\\x");
  auto bare = tqnotify::unitNamesForAccount(TQStringW(L"loner"));
  EXPECT_EQ(bare.userUnit, L".|loner");
}

}  // namespace
}  // namespace notifiertest
