// Version setting, home directories, computer name and module look-ups.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/file_util.h"
#include "platform/home.h"
#include "platform/system_info.h"
#include "platform/version.h"
#include "support/kiv_test.h"

namespace kiv::platform {
namespace {

uint32_t parsed(const char* text) {
  uint32_t version = 0xFFFFFFFF;
  return parseWindowsVersion(text, &version) ? version : 0xFFFFFFFF;
}

TEST(Version, ParsesNtAndNineXFamilies) {
  EXPECT_EQ(parsed("4.0"), 0x0004u);
  EXPECT_EQ(parsed("5.0"), 0x0005u);
  EXPECT_EQ(parsed("5.1"), 0x0105u);
  EXPECT_EQ(parsed("6.1"), 0x0106u);
  EXPECT_EQ(parsed("10.0"), 0x000Au);
  EXPECT_EQ(parsed("95"), 0x80000004u);
  EXPECT_EQ(parsed("98"), 0x80000A04u);
  EXPECT_EQ(parsed("ME"), 0x80005A04u);
  // The 9x releases by their real numbers; other 4.x numbers stay NT.
  EXPECT_EQ(parsed("4.10"), parsed("98"));
  EXPECT_EQ(parsed("4.90"), parsed("ME"));
  EXPECT_EQ(parsed("4.1"), 0x0104u);
  EXPECT_EQ(parsed("4.9"), 0x0904u);
  for (const char* bad : {"", "XP", "5.", ".1", "5.1.2", "300.0", "-5.0", "5.x"}) {
    EXPECT_EQ(parsed(bad), 0xFFFFFFFFu) << bad;
  }
  EXPECT_FALSE(isNineXFamily(parsed("10.0")));
  EXPECT_TRUE(isNineXFamily(parsed("ME")));
  EXPECT_EQ(minorVersion(parsed("ME")), 90u);
}

TEST(Version, SettingAndOverride) {
  unsetenv("KIV_WINDOWS_VERSION");
  EXPECT_EQ(getVersion(), parsed("10.0"));
  setenv("KIV_WINDOWS_VERSION", "5.1", 1);
  EXPECT_EQ(getVersion(), parsed("5.1"));
  setenv("KIV_WINDOWS_VERSION", "Vista", 1);  // unknown: the default, not garbage
  EXPECT_EQ(getVersion(), parsed("10.0"));
  testing::setWindowsVersion("98");
  EXPECT_EQ(getVersion(), parsed("98"));
  testing::setWindowsVersion(nullptr);
  EXPECT_EQ(getVersion(), parsed("10.0"));
  unsetenv("KIV_WINDOWS_VERSION");
}

TEST(Version, OverrideIsSafeWhileOtherThreadsRead) {
  testing::setWindowsVersion("6.0");
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      const uint32_t v = getVersion();
      torn += v != parsed("6.0") && v != parsed("ME");
    }
  });
  for (int i = 0; i < 2000; ++i) testing::setWindowsVersion(i % 2 ? "6.0" : "ME");
  done = true;
  reader.join();
  testing::setWindowsVersion(nullptr);
  EXPECT_EQ(torn.load(), 0);
}

TEST(Home, SubdirectoriesAreCreatedPrivately) {
  const std::string path = kivSubdirectory("run/locks/session-7", 0700);
  ASSERT_EQ(path, kivtest::home() + "/run/locks/session-7");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  std::string error;
  EXPECT_EQ(kivSubdirectory("../outside", 0700, &error), "");
  EXPECT_FALSE(error.empty());
}

TEST(Home, FailureNamesThePath) {
  const std::string blocker = kivtest::home() + "/plainfile";
  kivtest::writeFile(blocker, "x");
  setenv("KIV_HOME", (blocker + "/home").c_str(), 1);
  std::string error;
  EXPECT_EQ(kivHome(&error), "");
  setenv("KIV_HOME", kivtest::home().c_str(), 1);
  EXPECT_NE(error.find(blocker), std::string::npos) << error;
  EXPECT_EQ(kivHome(), kivtest::home());
}

TEST(SystemInfo, ComputerNameOverrideAndBufferSize) {
  setenv("KIV_COMPUTER_NAME", "WORKSTATION7", 1);
  wchar_t name[32];
  uint32_t size = 32;
  ASSERT_TRUE(getComputerName(name, &size));
  EXPECT_STREQ(name, L"WORKSTATION7");
  EXPECT_EQ(size, 12u);
  size = 12;  // no room for the terminating NUL
  EXPECT_FALSE(getComputerName(name, &size));
  EXPECT_EQ(size, 13u);
  unsetenv("KIV_COMPUTER_NAME");
  size = 32;
  ASSERT_TRUE(getComputerName(name, &size));
  EXPECT_EQ(std::wstring(name).find(L'.'), std::wstring::npos);
}

TEST(SystemInfo, ModuleLookUpsDoNotHoldTheModule) {
  EXPECT_EQ(narrowPath(moduleFileName(nullptr)), std::filesystem::read_symlink("/proc/self/exe").string());
  const std::string path = kivtest::libDir() + "/libplatform_test_module.so";
  void* module = dlopen(path.c_str(), RTLD_NOW);
  ASSERT_NE(module, nullptr) << dlerror();
  void* symbol = dlsym(module, "platformTestModuleSymbol");
  ASSERT_NE(symbol, nullptr);
  EXPECT_EQ(moduleContaining(symbol), module);
  EXPECT_EQ(narrowPath(moduleFileName(module)), path);
  dlclose(module);
  // Had the look-up counted a load, the module would still be there.
  EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
  EXPECT_NE(moduleContaining(reinterpret_cast<const void*>(&parsed)), nullptr);
}

}  // namespace
}  // namespace kiv::platform
