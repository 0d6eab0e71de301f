// The shell's image name from the Winlogon "Shell" value.
#include <gtest/gtest.h>

#include "WatcherHarness.h"
#include "platform/version.h"

namespace {

std::wstring shellName() {
  TQStringW name(L"left over");
  readShellName(name);
  return name.str();
}

TEST(ShellNameTest, ValueIsUpperCasedAndDefaultsToExplorer) {
  kiv::platform::testing::setWindowsVersion("4.0");
  EXPECT_EQ(shellName(), L"EXPLORER.EXE") << "no key";
  watchertest::setShellValue(L"");
  EXPECT_EQ(shellName(), L"EXPLORER.EXE") << "empty value";
  watchertest::setShellValue(L"explorer.exe");
  EXPECT_EQ(shellName(), L"EXPLORER.EXE");
  watchertest::setShellValue(L"myshell");
  EXPECT_EQ(shellName(), L"MYSHELL");
  // The 95 family has no Winlogon key to read.
  kiv::platform::testing::setWindowsVersion("98");
  EXPECT_EQ(shellName(), L"EXPLORER.EXE");
  kiv::platform::testing::setWindowsVersion(nullptr);
}

TEST(ShellNameTest, OverlongValueIsNotReadPastTheBuffer) {
  kiv::platform::testing::setWindowsVersion("4.0");
  watchertest::setShellValue(std::wstring(400, L'x').c_str());
  const std::wstring name = shellName();
  EXPECT_TRUE(name == L"EXPLORER.EXE" || name == std::wstring(name.size(), L'X')) << name.size();
  EXPECT_LE(name.size(), 259u);
  kiv::platform::testing::setWindowsVersion(nullptr);
}

}  // namespace
