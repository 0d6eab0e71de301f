// The shell watcher when the shell has ended but its parent has not reaped it (containers
// whose first process never reaps): the shell counts as gone, the logoff is reported, and
// shutdown still ends the watcher.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <memory>

#include "WatcherHarness.h"
#include "platform/process.h"

namespace {

using watchertest::LegacyPlatform;
using watchertest::Report;

char processState(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  const auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : 0;
}

// A shell under a name nothing else uses, started by this test process, which does not
// reap it when it ends until the test is over.
class UnreapedShell {
 public:
  const std::string name = "kivzsh" + std::to_string(::getpid());

  void start() {
    const std::string path = watchertest::tempPath(name);
    std::filesystem::copy_file("/bin/sleep", path, std::filesystem::copy_options::overwrite_existing);
    process_ = kiv::platform::Process::startHidden(watchertest::wide(path + " 600"));
    ASSERT_NE(process_, nullptr);
    const std::string comm = "/proc/" + std::to_string(process_->pid()) + "/comm";
    ASSERT_TRUE(kivtest::waitFor([&] { return kivtest::readFile(comm) == name + "\n"; }));
  }
  // Ends the shell and leaves it a zombie.
  void kill() {
    ASSERT_EQ(::kill(process_->pid(), SIGKILL), 0);
    ASSERT_EQ(kiv::platform::waitOne(process_->handle(), kiv::platform::kInfinite), kiv::platform::kWaitObject0);
    ASSERT_EQ(processState(process_->pid()), 'Z');
  }
  void reap() {
    if (!process_) return;
    ::kill(process_->pid(), SIGKILL);
    process_->wait(kiv::platform::kInfinite);
    process_.reset();
  }
  // True once a descriptor besides our own watches the shell: the watcher waits on it.
  bool watched() const {
    int watchers = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fdinfo"))
      watchers += kivtest::readFile(entry.path()).find("Pid:\t" + std::to_string(process_->pid()) + "\n") != std::string::npos;
    return watchers >= 2;
  }

 private:
  std::unique_ptr<kiv::platform::Process> process_;
};

TEST(ShellWatcherZombieTest, UnreapedShellIsReportedGoneAndShutdownStillEndsTheWatcher) {
  LegacyPlatform platform;
  UnreapedShell shell;
  watchertest::setShellValue(watchertest::wide(shell.name));
  shell.start();
  {
    watchertest::LoadedNotifier notifier;
    ASSERT_TRUE(notifier.loaded());
    ASSERT_EQ(notifier->watchShell, 1);
    ASSERT_TRUE(notifier.start());
    ASSERT_TRUE(kivtest::waitFor([&] { return shell.watched(); }));

    shell.kill();
    EXPECT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(9) == 1; })) << "the logoff of the ended shell";
    EXPECT_EQ(notifier.sink.reports(), (std::vector<Report>{{3, L"", L"", L""}, {9, L"0", L"", L""}}));

    // The stop event must still be seen. Run the shutdown aside, so that a watcher wedged on
    // the zombie fails the test instead of hanging it; reaping the zombie frees it then.
    auto stopped = std::async(std::launch::async, [&] { notifier.shutdown(); });
    const bool inTime = stopped.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!inTime) shell.reap();
    stopped.wait();
    EXPECT_TRUE(inTime) << "shutdown waited for the watcher of a zombie shell";
    EXPECT_EQ(notifier.sink.count(1), 1);
  }
  shell.reap();
}

}  // namespace
