// The small services of tqUtilities: install directory, file names, time, critical
// sections, module file names and file access helpers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "TQString.h"
#include "platform/diagnostics.h"
#include "platform/utf8.h"
#include "support/kiv_test.h"
#include "test_module.h"
#include "tqUtilities.h"

namespace {

TEST(Utilities, InstallDirIsKivHomeWithItsAgentFolderAndMustFit) {
  char buffer[260];
  ASSERT_NE(TQUtilities_GetInstallDirA(buffer, sizeof buffer), 0);
  EXPECT_EQ(std::string(buffer), kivtest::home());
  EXPECT_TRUE(std::filesystem::is_directory(kivtest::home() + "/Agent"));
  char tiny[4] = "xyz";
  EXPECT_EQ(TQUtilities_GetInstallDirA(tiny, sizeof tiny), 0);
  EXPECT_EQ(tiny[0], '\0');  // never a truncated path
  EXPECT_EQ(TQUtilities_GetInstallDirA(nullptr, 260), 0);
}

TEST(Utilities, RootFileNameWorksInPlaceAndRespectsCapacity) {
  wchar_t path[260] = L"/usr/lib/kiv/libtqNotify.so";
  ASSERT_NE(TQUtilities_GetRootFileNameFromPathW(path, path, 260), 0);
  EXPECT_STREQ(path, L"libtqNotify.so");
  wchar_t out[260];
  ASSERT_NE(TQUtilities_GetRootFileNameFromPathW(L"C:\\dlox\\tqNotify.dll", out, 260), 0);
  EXPECT_STREQ(out, L"tqNotify.dll");
  ASSERT_NE(TQUtilities_GetRootFileNameFromPathW(L"plain", out, 260), 0);
  EXPECT_STREQ(out, L"plain");
  EXPECT_EQ(TQUtilities_GetRootFileNameFromPathW(L"/a/toolong", out, 4), 0);
  EXPECT_EQ(TQUtilities_GetRootFileNameFromPathW(nullptr, out, 260), 0);
}

TEST(Utilities, CriticalSectionIsReentrantAndExcludesOtherThreads) {
  TQ_CRITICAL_SECTION section;
  TQPorting_InitializeCriticalSection(&section);
  TQPorting_EnterCriticalSection(&section);
  TQPorting_EnterCriticalSection(&section);  // the owner may enter again
  TQPorting_LeaveCriticalSection(&section);
  TQPorting_LeaveCriticalSection(&section);

  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        TQPorting_EnterCriticalSection(&section);
        counter = counter + 1;
        TQPorting_LeaveCriticalSection(&section);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 80000);
  TQPorting_DeleteCriticalSection(&section);
}

TEST(Utilities, ModuleFileNameOfProcessAndModule) {
  wchar_t buffer[512];
  const unsigned length = TQPorting_GetModuleFileNameW(nullptr, buffer, 512);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(length, std::wcslen(buffer));
  EXPECT_NE(std::wstring(buffer).find(L"test_tqutilities"), std::wstring::npos);
  wchar_t tiny[4];
  EXPECT_EQ(TQPorting_GetModuleFileNameW(nullptr, tiny, 4), 0u);  // too small: failure, not a cut path

  testmodule::useTestModules();
  HTQMODULE module = TQFactory_LoadExW(kTestModule, 1);
  ASSERT_NE(module, nullptr);
  ASSERT_GT(TQPorting_GetModuleFileNameW(module, buffer, 512), 0u);
  EXPECT_NE(std::wstring(buffer).find(kiv::utf::widen(testmodule::fileName("kivTestComponent"))), std::wstring::npos);
  TQFactory_Unload(module);
}

TEST(Utilities, StringCheckAndFileAccess) {
  EXPECT_EQ(TQPorting_IsValidStringW(nullptr), 0);
  EXPECT_EQ(TQPorting_IsValidStringW(L""), 0);
  EXPECT_NE(TQPorting_IsValidStringW(L"tqOSServices"), 0);

  // Narrow paths are in the system's code page: UTF-8 on Linux, the ANSI code page on Windows.
  const std::wstring wideDir = std::filesystem::path(kivtest::home()).wstring() + L"/made\u00E9";
  TQStringA narrowDir;
  ASSERT_TRUE(narrowDir.assign_unicode(wideDir.c_str())) << "the code page has no \u00E9";
  const std::string dir = narrowDir.str();
  EXPECT_EQ(tq_access(dir.c_str(), 0), -1);
  EXPECT_EQ(tq_wmkdir(wideDir.c_str(), 0755), 0);
  EXPECT_EQ(tq_access(dir.c_str(), 0), 0);
  EXPECT_EQ(tq_waccess(wideDir.c_str(), 0), 0);
  EXPECT_EQ(tq_mkdir(dir.c_str(), 0755), -1);  // one level, and only once
  EXPECT_EQ(tq_mkdir((kivtest::home() + "/no/such/parent").c_str(), 0755), -1);
  EXPECT_EQ(tq_access(nullptr, 0), -1);
  EXPECT_EQ(tq_wmkdir(nullptr, 0755), -1);
}

TEST(Utilities, PlatformProblemsBecomeErrorTraces) {
  kiv::platform::reportProblem("registry file is damaged (test)");
  const auto lines = kivtest::traceLines();
  int found = 0;
  for (const auto& line : lines) {
    found += line.find("ERROR registry file is damaged (test)") != std::string::npos;
  }
  EXPECT_EQ(found, 1);
}

}  // namespace
