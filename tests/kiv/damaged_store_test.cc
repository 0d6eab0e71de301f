// A damaged or unusable config.db is reported as such by every command that works on it,
// with the file and SQLite's reason and an exit code of its own; it must never read as an
// empty store ("no units", "no such unit").
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include <sqlite3.h>

#include "kiv/KivTool.h"
#include "support/child_process.h"

namespace kivtooltest {
namespace {

namespace fs = std::filesystem;

constexpr int kStoreUnusable = 6;

std::string storePath() { return kivtest::home() + "/config.db"; }

// A store of several pages, all in the main file once the last writer has closed it.
std::string storeWithUnits() {
  const std::string uri = "uri=" + std::string(1500, 'x');
  for (const char* name : {"u1", "u2", "u3", "u4", "u5", "u6", "u7", "u8"}) {
    EXPECT_EQ(kiv({"units", "add", name, "--set", uri}), 0);
  }
  // On Windows kiv ends with its pages still in the write-ahead log, where the next opener
  // finds them; the damaged copies below must be the whole store, so the log is folded
  // into the main file first.
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(storePath().c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_FALSE(fs::exists(storePath() + "-wal")) << "left in the write-ahead log";
  return kivtest::readFile(storePath());
}

void expectReportedAsDamaged(const std::string& damage, const std::string& reason) {
  const std::vector<std::vector<std::string>> commands = {
      {"units", "list"}, {"units", "get", "u3"}, {"units", "add", "u9"}, {"units", "path"},
      {"config", "get", "dlox/common", "configdata_location"}, {"config", "list", "dlox"}};
  for (const auto& command : commands) {
    std::string output;
    EXPECT_EQ(kiv(command, &output), kStoreUnusable) << damage << ": kiv " << command[0] << " " << command[1] << "\n"
                                                     << output;
    EXPECT_NE(output.find("damaged or cannot be used"), std::string::npos) << damage << ": " << output;
    EXPECT_NE(output.find(storePath()), std::string::npos) << damage << ": the file is named: " << output;
    EXPECT_NE(output.find(reason), std::string::npos) << damage << ": SQLite's reason: " << output;
  }
}

TEST(KivDamagedStore, EveryCommandSaysTheStoreIsDamaged) {
  const std::string pristine = storeWithUnits();
  ASSERT_GT(pristine.size(), 4u * 4096);

  kivtest::writeFile(storePath(), std::string(9000, '\x5a'));
  expectReportedAsDamaged("garbage", "file is not a database");

  kivtest::writeFile(storePath(), pristine.substr(0, 3 * 4096));
  expectReportedAsDamaged("truncated", "malformed");

  std::string overwritten = pristine;
  overwritten.replace(2 * 4096, 2 * 4096, std::string(2 * 4096, '\xaa'));
  kivtest::writeFile(storePath(), overwritten);
  expectReportedAsDamaged("pages overwritten", "");

  fs::remove(storePath());
  fs::create_directory(storePath());
  expectReportedAsDamaged("a directory", "unable to open");
  fs::remove(storePath());

  kivtest::writeFile(storePath(), pristine);
  std::string output;
  EXPECT_EQ(kiv({"units", "get", "u3"}, &output), 0) << "sound again: " << output;
  EXPECT_EQ(kiv({"--help"}, &output), 0);
  EXPECT_NE(output.find("6 the configuration store is damaged or cannot be used"), std::string::npos) << output;
}

TEST(KivDamagedStore, HostTracesTheDamageAtStart) {
  kivtest::writeFile(storePath(), std::string(9000, '\x5a'));
  kivtest::ChildProcess host({KIV_PROGRAM, "host"}, kivtest::home() + "/host.out", kivtest::home() + "/host.err");
  ASSERT_TRUE(host.started());
  EXPECT_TRUE(kivtest::waitFor([] { return kivtest::traced("damaged or cannot be used"); }));
  host.requestStop();
  host.exitCode();
  EXPECT_TRUE(kivtest::traced(storePath()));
}

}  // namespace
}  // namespace kivtooltest
