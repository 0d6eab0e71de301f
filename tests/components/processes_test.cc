// The process enumerator: finding a running program by image name in any letter case, and
// its handle signalled when it ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "TQOSServices.h"
#include "support/kiv_test.h"
#include "tqNotify/framework/TQptr.h"

extern char** environ;

namespace {

pid_t spawn(const std::string& program) {
  std::string path = program;
  std::string seconds = "300";
  char* argv[] = {path.data(), seconds.data(), nullptr};
  pid_t pid = -1;
  return posix_spawnp(&pid, path.c_str(), nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

// The pid behind a pidfd, as the kernel reports it.
int pidOf(int pidfd) {
  const std::string info = kivtest::readFile("/proc/self/fdinfo/" + std::to_string(pidfd));
  const size_t at = info.find("Pid:");
  return at == std::string::npos ? -1 : std::stoi(info.substr(at + 4));
}

class Processes : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(processes_.CreateInstanceV1(L"tqOSServices", "TQOSProcessEnum")); }
  void TearDown() override {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
  }

  TQptr<TQOSProcessEnum> processes_;
  pid_t child_ = -1;
};

}  // namespace

TEST_F(Processes, FindsSleepByItsUpperCaseName) {
  child_ = spawn("sleep");
  ASSERT_GT(child_, 0);
  ASSERT_EQ(processes_->refresh(), 0);
  TQptr<TQOSProcess> process;
  ASSERT_TRUE(processes_->findProcess(L"SLEEP", process.fill()));
  // Another sleep may run on this machine; whichever was found, it is a sleep.
  const int found = pidOf(process->handle().fd);
  EXPECT_EQ(kivtest::readFile("/proc/" + std::to_string(found) + "/comm"), "sleep\n");
  EXPECT_FALSE(processes_->findProcess(L"NO-SUCH-PROGRAM", process.fill()));
}

TEST_F(Processes, HandleIsSignalledWhenTheProcessEnds) {
  // A copy of sleep under a name nothing else uses, so that the one found is ours.
  const std::string copy = kivtest::home() + "/KivSleeper-" + std::to_string(getpid());
  std::string sleepPath;
  ASSERT_EQ(kivtest::run("command -v sleep", &sleepPath), 0);
  std::filesystem::copy_file(sleepPath.substr(0, sleepPath.find('\n')), copy,
                             std::filesystem::copy_options::overwrite_existing);
  child_ = spawn(copy);
  ASSERT_GT(child_, 0);

  // The query may carry a directory and any letter case.
  ASSERT_EQ(processes_->refresh(), 0);
  TQptr<TQOSProcess> process;
  const std::wstring query = L"C:\\Programs\\KIVSLEEPER-" + std::to_wstring(getpid());
  ASSERT_TRUE(processes_->findProcess(query.c_str(), process.fill()));
  ASSERT_EQ(pidOf(process->handle().fd), child_);
  EXPECT_EQ(kiv::platform::waitOne(process->handle(), 0), kiv::platform::kWaitTimeout);

  kill(child_, SIGTERM);
  EXPECT_EQ(kiv::platform::waitOne(process->handle(), 20000), kiv::platform::kWaitObject0);
  waitpid(child_, nullptr, 0);
  child_ = -1;
}
