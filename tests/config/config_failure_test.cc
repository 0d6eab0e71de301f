// An unusable config.db: reported once through the trace, no object handed out, nothing
// crashes, and the store works again once the file is fixed.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

TEST(ConfigFailure, GarbageFileIsReportedOnceAndGivesNoObject) {
  kivtest::writeFile(databasePath(), std::string(8192, '\x5a'));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(obtain(), nullptr);
  EXPECT_EQ(kivtest::countTrace("config.db"), 1);
  EXPECT_TRUE(kivtest::traced("file is not a database"));

  // Another process's reading fails cleanly too.
  std::string out;
  EXPECT_EQ(configtest::kiv("config get s k", &out), 1);

  std::filesystem::remove(databasePath());
  ITQConfig* config = obtain();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->setNumber(L"s", L"k", 1, 0), 0);
  config->Release();
}

TEST(ConfigFailure, DirectoryInPlaceOfTheFile) {
  std::filesystem::create_directory(databasePath());
  EXPECT_EQ(obtain(), nullptr);
  EXPECT_EQ(obtain(), nullptr);
  EXPECT_EQ(kivtest::countTrace("config.db"), 1);
}

TEST(ConfigFailure, FileWithoutPermission) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  kivtest::writeFile(databasePath(), "");
  chmod(databasePath().c_str(), 0);
  EXPECT_EQ(obtain(), nullptr);
  EXPECT_EQ(kivtest::countTrace("config.db"), 1);
}

}  // namespace
