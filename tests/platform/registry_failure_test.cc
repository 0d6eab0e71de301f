// A registry file that cannot be used: every call answers an error, nothing crashes, and
// the problem is reported once.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/registry.h"
#include "support/kiv_test.h"

namespace kiv::platform {
namespace {

std::mutex reportsGuard;
std::vector<std::string> reports;

void collect(const char* text) {
  std::lock_guard held(reportsGuard);
  reports.emplace_back(text);
}

int reportsContaining(const std::string& text) {
  std::lock_guard held(reportsGuard);
  int count = 0;
  for (const auto& report : reports) count += report.find(text) != std::string::npos;
  return count;
}

// Moves this process to a home of its own so earlier registry use cannot interfere.
std::string freshHome(const char* name) {
  const std::string home = kivtest::home() + "/" + name;
  mkdir(home.c_str(), 0700);
  setenv("KIV_HOME", home.c_str(), 1);
  return home;
}

class RegistryFailure : public ::testing::Test {
 protected:
  void SetUp() override { setProblemSink(&collect); }
  void TearDown() override {
    setProblemSink(nullptr);
    setenv("KIV_HOME", kivtest::home().c_str(), 1);
  }
};

TEST_F(RegistryFailure, GarbageFileAnswersCorruptAndIsReportedOnce) {
  const std::string home = freshHome("garbage");
  kivtest::writeFile(home + "/registry.db", std::string(8192, '\x5A') + "not a database");
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyW(kHKeyLocalMachine, L"SOFTWARE\\X", &key), kErrorRegistryCorrupt);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyW(kHKeyLocalMachine, L"SOFTWARE\\X", &key), kErrorRegistryCorrupt);
  const uint32_t value = 1;
  EXPECT_EQ(RegSetValueExW(kHKeyLocalMachine, L"v", kRegDword, &value, 4), kErrorRegistryCorrupt);
  uint32_t size = 4;
  EXPECT_EQ(RegQueryValueExA(kHKeyLocalMachine, "v", nullptr, nullptr, &size),
            kErrorRegistryCorrupt);
  EXPECT_EQ(RegDeleteKeyW(kHKeyLocalMachine, L"SOFTWARE"), kErrorRegistryCorrupt);
  EXPECT_EQ(reportsContaining("registry: " + home + "/registry.db is not a database"), 1);
  EXPECT_EQ(reportsContaining("registry:"), 1);
}

TEST_F(RegistryFailure, UnopenableFileAnswersIoError) {
  const std::string home = freshHome("unopenable");
  mkdir((home + "/registry.db").c_str(), 0700);  // a directory where the file should be
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyW(kHKeyLocalMachine, L"SOFTWARE\\X", &key), kErrorRegistryIo);
  EXPECT_EQ(RegCreateKeyW(kHKeyLocalMachine, L"SOFTWARE\\X", &key), kErrorRegistryIo);
  EXPECT_EQ(reportsContaining(home + "/registry.db"), 1);

  // Once the file can be made, the registry works without a restart.
  rmdir((home + "/registry.db").c_str());
  EXPECT_EQ(RegCreateKeyW(kHKeyLocalMachine, L"SOFTWARE\\X", &key), kErrorSuccess);
  RegCloseKey(key);
}

TEST(Diagnostics, EachProblemIsReportedOnce) {
  setProblemSink(&collect);
  reportProblem("version: test problem A");
  reportProblem("version: test problem A");
  reportProblem("version: test problem B");
  setProblemSink(nullptr);
  EXPECT_EQ(reportsContaining("test problem A"), 1);
  EXPECT_EQ(reportsContaining("test problem B"), 1);
}

}  // namespace
}  // namespace kiv::platform
