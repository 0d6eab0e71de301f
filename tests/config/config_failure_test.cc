// An unusable config.db: reported once through the trace, no object handed out, nothing
// crashes, and the store works again once the file is fixed. Each case runs in a process of
// its own (see ranInOwnProcess).
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>

#include "config/config_test_util.h"
#include "support/kiv_test.h"
#include "tqUtilities.h"

namespace {

std::string databasePath() { return kivtest::home() + "/config.db"; }

ITQConfig* obtain() {
  ITQConfig* config = reinterpret_cast<ITQConfig*>(0x1);  // must be overwritten
  TQUtilities_GetConfigEx(&config, -1);
  return config;
}

// The store is opened once per process and then kept, so each failure needs a process whose
// store was never opened: the test runs itself again in a process of its own, with a fresh
// KIV_HOME. Root reads every file whatever its mode, so on Linux that process also runs
// without the capabilities that override file permissions. True in the test that started
// the other process (it only checks the outcome); false in that process, which runs the test.
bool ranInOwnProcess() {
#ifdef _WIN32
  return kivtest::ranInOwnProcess();
#else
  return kivtest::ranInOwnProcess(geteuid() == 0 ? "setpriv --inh-caps=-dac_override,-dac_read_search "
                                                   "--bounding-set=-dac_override,-dac_read_search "
                                                 : "");
#endif
}

TEST(ConfigFailure, GarbageFileIsReportedOnceAndGivesNoObject) {
  if (ranInOwnProcess()) return;
  kivtest::writeFile(databasePath(), std::string(8192, '\x5a'));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(obtain(), nullptr);
  EXPECT_EQ(kivtest::countTrace("config.db"), 1);
  EXPECT_TRUE(kivtest::traced("file is not a database"));

  // Another process's reading fails cleanly too, with the exit code of an unusable store.
  std::string out;
  EXPECT_EQ(configtest::kiv("config get s k", &out), 6);

  std::filesystem::remove(databasePath());
  ITQConfig* config = obtain();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->setNumber(L"s", L"k", 1, 0), 0);
  config->Release();
}

TEST(ConfigFailure, DirectoryInPlaceOfTheFile) {
  if (ranInOwnProcess()) return;
  std::filesystem::create_directory(databasePath());
  EXPECT_EQ(obtain(), nullptr);
  EXPECT_EQ(obtain(), nullptr);
  EXPECT_EQ(kivtest::countTrace("config.db"), 1);
}

// File modes are Linux's; Wine keeps no access lists on files to stand in for them.
#ifndef _WIN32
TEST(ConfigFailure, FileWithoutPermission) {
  if (ranInOwnProcess()) return;
  kivtest::writeFile(databasePath(), "");
  chmod(databasePath().c_str(), 0);
  const int probe = open(databasePath().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_LT(probe, 0) << "this process can still read a file of mode 0";
  EXPECT_EQ(obtain(), nullptr);
  EXPECT_EQ(obtain(), nullptr);
  EXPECT_EQ(kivtest::countTrace("config.db"), 1);
}
#endif

}  // namespace
