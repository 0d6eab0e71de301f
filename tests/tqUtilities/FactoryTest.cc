// The component factory with a real module: search, first-load initialisation, load and
// instance counts, unloading, and modules that cannot be used.
#include <gtest/gtest.h>

#include <filesystem>

#include "ITQTrace.h"
#include "TQOSServices.h"
#include "support/kiv_test.h"
#include "test_module.h"
#include "tqNotify/framework/TQptr.h"

namespace {

class Factory : public ::testing::Test {
 protected:
  void SetUp() override { testmodule::useTestModules(); }
};

TEST_F(Factory, LoadsByNameInitialisesOnceAndUnloadsWithTheLastLoad) {
  ASSERT_FALSE(testmodule::loaded());
  HTQMODULE first = TQFactory_LoadExW(kTestModule, 1);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(testmodule::loaded());
  HTQMODULE second = TQFactory_LoadExW(kTestModule, 1);
  EXPECT_EQ(second, first);
  EXPECT_EQ(testmodule::probe(first, kInitCallsProbe), 1);

  TQFactory_Unload(second);
  EXPECT_TRUE(testmodule::loaded());
  TQFactory_Unload(first);
  EXPECT_FALSE(testmodule::loaded());

  // Loaded again, it is initialised again.
  HTQMODULE again = TQFactory_LoadExW(kTestModule, 1);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(testmodule::probe(again, kInitCallsProbe), 1);
  TQFactory_Unload(again);
}

TEST_F(Factory, CountsInstancesAndExtraLoadsOfHandedOutObjects) {
  HTQMODULE module = TQFactory_LoadExW(kTestModule, 1);
  ASSERT_NE(module, nullptr);
  auto* object = static_cast<ITQTest*>(TQFactory_CreateInstanceExW(module, kTestClass, kTestVersion, L"test", 1));
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->answer(), 42);
  EXPECT_EQ(object->GetLibraryHandle(), module);
  EXPECT_EQ(TQFactory_GetInstCount(module), 1);

  ITQTest* child = nullptr;
  ASSERT_TRUE(object->makeChild(&child));  // carries its own load of the module
  EXPECT_EQ(TQFactory_GetInstCount(module), 2);
  EXPECT_EQ(object->Release(), 0);
  TQFactory_Unload(module);
  EXPECT_TRUE(testmodule::loaded());
  EXPECT_EQ(TQFactory_GetInstCount(module), 1);
  EXPECT_EQ(child->Release(), 0);
  TQFactory_Unload(module);
  EXPECT_FALSE(testmodule::loaded());
}

TEST_F(Factory, WrongClassOrVersionGivesNull) {
  HTQMODULE module = TQFactory_LoadExW(kTestModule, 1);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(TQFactory_CreateInstanceExW(module, "ITQOther", kTestVersion, nullptr, 1), nullptr);
  EXPECT_EQ(TQFactory_CreateInstanceExW(module, kTestClass, 3, nullptr, 1), nullptr);
  EXPECT_EQ(TQFactory_CreateInstanceExW(module, nullptr, kTestVersion, nullptr, 1), nullptr);
  EXPECT_EQ(TQFactory_CreateInstanceExW(nullptr, kTestClass, kTestVersion, nullptr, 1), nullptr);
  EXPECT_EQ(TQFactory_GetInstCount(module), 0);
  TQFactory_Unload(module);
  EXPECT_FALSE(testmodule::loaded());
}

TEST_F(Factory, MissingOrUnusableModulesAreTracedOnceAndGiveNull) {
  // A name no other test uses: the factory traces each missing module once per process.
  EXPECT_EQ(TQFactory_LoadExW(L"kivFactoryMissingModule", 1), nullptr);
  EXPECT_EQ(TQFactory_LoadExW(L"kivFactoryMissingModule", 1), nullptr);
  EXPECT_EQ(kivtest::countTrace("cannot load module kivFactoryMissingModule"), 1);
  EXPECT_TRUE(kivtest::traced(KIV_TEST_MODULE_DIR));  // the trace says where it looked

  EXPECT_EQ(TQFactory_LoadExW(L"kivTestNoFactory", 1), nullptr);
  const auto lines = kivtest::traceLines();
  int found = 0;
  for (const auto& line : lines) {
    found += line.find("cannot load module kivTestNoFactory") != std::string::npos &&
             line.find("TQCreateInstance") != std::string::npos;
  }
  EXPECT_EQ(found, 1);

  EXPECT_EQ(TQFactory_LoadExW(L"../kivTestComponent", 1), nullptr);  // names are not paths
  EXPECT_EQ(TQFactory_LoadExW(nullptr, 1), nullptr);
  EXPECT_FALSE(testmodule::loaded());
}

TEST_F(Factory, UnknownHandlesAreRefusedWithoutCrashing) {
  int notAModule = 0;
  TQFactory_Unload(nullptr);
  TQFactory_Unload(&notAModule);
  EXPECT_EQ(TQFactory_AddRefModule(&notAModule), nullptr);
  EXPECT_EQ(TQFactory_GetProcAddress(&notAModule, "TQInit"), nullptr);
  EXPECT_EQ(TQFactory_CreateInstanceExW(&notAModule, kTestClass, kTestVersion, nullptr, 1), nullptr);
  EXPECT_EQ(TQFactory_DecInstCount(&notAModule), 0);  // never below zero
  EXPECT_EQ(TQFactory_IncInstCount(&notAModule), 1);
  EXPECT_EQ(TQFactory_GetInstCount(&notAModule), 1);
}

TEST_F(Factory, DisplayErrorTracesAndPrintsTheSameLine) {
  ::testing::internal::CaptureStderr();
  TQFactory_DisplayError(L"libtqNotify.so", L"CheckVersion: caller requires interface version 3");
  const std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(printed, "libtqNotify.so: CheckVersion: caller requires interface version 3\n");
  EXPECT_TRUE(kivtest::traced("libtqNotify.so: CheckVersion: caller requires interface version 3"));
}

TEST_F(Factory, ComponentAccessRefusesNewerVersions) {
  ITQTrace* tracer = reinterpret_cast<ITQTrace*>(1);
  TQUtilities_GetTracerEx(&tracer, 3);
  EXPECT_EQ(tracer, nullptr);
  TQUtilities_GetTracerEx(nullptr, 2);  // no place to put it: nothing happens
}

bool frameworkModuleLoaded(const std::string& name) {
  return testmodule::mapped(kivtest::libDir() + "/" + testmodule::fileName(name));
}

// The framework's own modules are found beside the tqUtilities library without any setting.
TEST(ComponentAccess, TracerAndTerminalServicesComeFromTheFrameworkModules) {
  kivtest::unsetEnvironment("KIV_MODULE_PATH");
  if (!std::filesystem::exists(kivtest::libDir() + "/" + testmodule::fileName("tqTrace")) ||
      !std::filesystem::exists(kivtest::libDir() + "/" + testmodule::fileName("tqOSServices"))) {
    GTEST_SKIP() << "framework component modules not built";
  }
  {
    TQptr<ITQTrace> tracer;
    TQUtilities_GetTracerEx(tracer.fill(), -1);
    ASSERT_TRUE(tracer);
    EXPECT_EQ(tracer->level(), TQUtilities_GetTraceLevel());
    tracer->trace(L"tqNotify", 0, L"through the trace object %d", 7);
    EXPECT_TRUE(kivtest::traced("through the trace object 7"));
    TQptr<ITQTrace> second;
    TQUtilities_GetTracerEx(second.fill(), 2);
    EXPECT_TRUE(second);
  }
  EXPECT_FALSE(frameworkModuleLoaded("tqTrace"));
  {
    TQptr<TQOSTerminalServices> services;
    TQUtilities_GetOSTerminalServicesEx(services.fill(), 2);
    ASSERT_TRUE(services);
    EXPECT_TRUE(frameworkModuleLoaded("tqOSServices"));
  }
  EXPECT_FALSE(frameworkModuleLoaded("tqOSServices"));
}

}  // namespace
