// The units lock across processes: concurrent adders never share a home directory, adders
// of the same names make each unit once, an adder killed in the middle of an add leaves
// nothing half-made that reads would take for a unit, a killed holder does not block the
// next taker, and the lock reports a missing component.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/kiv_test.h"
#include "units_fixture.h"

namespace unitstest {
namespace {

namespace fs = std::filesystem;

std::string helper() { return kivtest::binDir() + "/units_helper"; }

TEST_F(UnitsTest, ConcurrentAddersUnderTheLock) {
  std::string command = "pids=''; ";
  for (int process = 0; process < 4; ++process) {
    command += helper() + " add p" + std::to_string(process) + " 250 & pids=\"$pids $!\"; ";
  }
  // Every adder's status is collected; any failure fails the whole command.
  command += "rc=0; for pid in $pids; do wait $pid || rc=1; done; exit $rc";
  std::string output;
  ASSERT_EQ(kivtest::run(command, &output), 0) << output;

  EXPECT_EQ(counter(), 1000);
  UnitInfoW* list = nullptr;
  ASSERT_EQ(enumerateUnitsExW(&list, kUnitTypeUser, 0), 0);
  std::set<std::string> homes;
  int units = 0;
  for (const UnitInfoW* record = list; record != nullptr; record = record->next, ++units) {
    homes.insert(narrow(record->homedirectory));
  }
  freeUnitListW(list);
  EXPECT_EQ(units, 1000);
  EXPECT_EQ(homes.size(), 1000u);
  int directories = 0;
  for (const auto& entry : fs::directory_iterator(unitsDirectory())) directories += entry.is_directory();
  EXPECT_EQ(directories, 1000);
}

TEST_F(UnitsTest, ConcurrentAddersOfTheSameNamesMakeEachUnitOnce) {
  const int32_t before = std::max(counter(), 0);
  std::string command = "pids=''; ";
  for (int process = 0; process < 4; ++process) command += helper() + " add same 50 & pids=\"$pids $!\"; ";
  command += "rc=0; for pid in $pids; do wait $pid || rc=1; done; exit $rc";
  std::string output;
  ASSERT_EQ(kivtest::run(command, &output), 0) << output;

  EXPECT_EQ(counter(), before + 50);
  UnitInfoW* list = nullptr;
  ASSERT_EQ(enumerateUnitsExW(&list, kUnitTypeUser, 0), 0);
  std::set<std::string> names;
  int listed = 0;
  for (const UnitInfoW* record = list; record != nullptr; record = record->next) {
    if (!record->name.str().starts_with(L"same-")) continue;
    ++listed;
    names.insert(narrow(record->name));
  }
  freeUnitListW(list);
  EXPECT_EQ(listed, 50);
  EXPECT_EQ(names.size(), 50u);
}

// A child process that is killed and reaped when the test leaves, whatever happened.
class Child {
 public:
  // The argument vector is made before the fork: between fork and exec the child of a
  // threaded process may not allocate.
  explicit Child(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ != 0) return;
    execv(argv[0], argv.data());
    _exit(127);
  }
  ~Child() { kill(); }
  // Kills it (if still there) and gives its wait status.
  int kill() {
    if (pid_ <= 0) return status_;
    ::kill(pid_, SIGKILL);
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
};

// Holds the write lock of the configuration store: a process that writes a value waits
// inside that write until the lock is given back.
class StoreWriteLock {
 public:
  StoreWriteLock() {
    if (sqlite3_open_v2((kivtest::home() + "/config.db").c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      return;
    sqlite3_busy_timeout(db_, 20000);
    held_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~StoreWriteLock() {
    if (held_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
  }
  bool held() const { return held_; }

  // What a fresh connection reads for a section whose name contains `text`, for messages.
  static std::string rowsOf(const std::string& text) {
    sqlite3* db = nullptr;
    std::string rows;
    if (sqlite3_open_v2((kivtest::home() + "/config.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      const std::string sql = "SELECT section || ' ' || key || '=' || coalesce(text, number) FROM config_values"
                              " WHERE section LIKE '%" + text + "%'";
      sqlite3_exec(db, sql.c_str(), [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) += std::string(values[0] ? values[0] : "?") + "; ";
        return 0;
      }, &rows, nullptr);
    }
    sqlite3_close(db);
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
  bool held_ = false;
};

TEST_F(UnitsTest, AdderKilledInTheMiddleOfAnAddLeavesNoUnit) {
  const int32_t before = std::max(counter(), 0);
  const std::string homeName = TQStringA().format("%.8x", before + 1).str();
  {
    StoreWriteLock writes;
    ASSERT_TRUE(writes.held());
    Child adder({helper(), "add", "half", "1"});
    // An add makes the home directory before it writes the counter: once the directory is
    // there, the adder is inside the add, waiting to write.
    ASSERT_TRUE(kivtest::waitFor([&] { return fs::is_directory(unitsDirectory() + "/" + homeName); }));
    const int status = adder.kill();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  }
  UnitInfoW half = unit(L"half-0");
  EXPECT_EQ(getUnitW(&half), 5) << "no unit without its values";
  EXPECT_EQ(std::max(counter(), 0), before);
  UnitInfoW* list = nullptr;
  if (enumerateUnitsExW(&list, 0x3f, 0xffff) == 0) {
    for (const UnitInfoW* record = list; record != nullptr; record = record->next)
      EXPECT_NE(narrow(record->name), "half-0");
    freeUnitListW(list);
  }

  // The units lock died with the adder, and the add can be made again in full.
  std::string output;
  ASSERT_EQ(kivtest::run("timeout 20 " + helper() + " add half 1", &output), 0) << output;
  UnitInfoW whole = unit(L"half-0");
  ASSERT_EQ(getUnitW(&whole), 0) << "helper: " << output << "\nstored: " << StoreWriteLock::rowsOf("half-0");
  EXPECT_EQ(narrow(whole.unittype), "User");
  EXPECT_EQ(narrow(whole.homedirectory), homeName) << "the counter was never advanced";
}

TEST_F(UnitsTest, KilledHolderDoesNotBlockTheLock) {
  std::string marker = kivtest::home() + "/holding";
  pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    execl(helper().c_str(), "units_helper", "hold", marker.c_str(), nullptr);
    _exit(127);
  }
  ASSERT_TRUE(kivtest::waitFor([&] { return fs::exists(marker); }));

  // While it is held, another process cannot take it.
  EXPECT_NE(kivtest::run("timeout 1 " + helper() + " lock"), 0);

  kill(holder, SIGKILL);
  int status = 0;
  waitpid(holder, &status, 0);
  std::string output;
  EXPECT_EQ(kivtest::run("timeout 20 " + helper() + " lock", &output), 0) << output;
}

TEST_F(UnitsTest, LockWithoutThreadControlComponent) {
  // A library directory without tqOSServices, and an empty module path: the factory finds
  // the component neither on the path nor beside tqUtilities.
  std::string libs = kivtest::home() + "/libs";
  std::string empty = kivtest::home() + "/modules";
  fs::create_directories(libs);
  fs::create_directories(empty);
  for (const auto& entry : fs::directory_iterator(kivtest::libDir())) {
    std::string name = entry.path().filename();
    if (name.ends_with(".so") && name != "libtqOSServices.so") {
      fs::copy_file(entry.path(), libs + "/" + name);
    }
  }
  std::string output;
  int status = kivtest::run("LD_LIBRARY_PATH=" + libs + " KIV_MODULE_PATH=" + empty + " " +
                                helper() + " lock",
                            &output);
  EXPECT_EQ(status, 3) << output;
  EXPECT_EQ(output, "3\n");
}

TEST_F(UnitsTest, UnitsPathWithoutConfigurationOrInstallDirectory) {
  std::string output;
  EXPECT_EQ(kivtest::run("KIV_HOME=/dev/null/kiv " + helper() + " path", &output), 0);
  EXPECT_EQ(output, "C:\\units\n");
}

}  // namespace
}  // namespace unitstest
