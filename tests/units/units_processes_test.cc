// The units lock across processes: concurrent adders never share a home directory, a
// killed holder does not block the next taker, and the lock reports a missing component.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

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
