// The shell process watcher of a notifier on a legacy platform: the end of the shell
// reports the logoff of the last logon message's user; no shell at all reports at once;
// shutdown ends the watcher without a report.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "WatcherHarness.h"
#include "platform/process.h"
#include "platform/version.h"
#include "support/kiv_test.h"

namespace {

using watchertest::Report;

// A process with an image name of its own, so that no other process on the machine can
// pass for it.
class ShellProcess {
 public:
  ShellProcess() : name_("kivsh" + std::to_string(::getpid())) {
    path_ = watchertest::tempPath(name_);
    std::filesystem::copy_file("/bin/sleep", path_, std::filesystem::copy_options::overwrite_existing);
  }
  ~ShellProcess() { stop(); }

  const std::string& name() const { return name_; }
  void start() {
    const std::string command = "exec " + path_ + " 600";
    process_ = kiv::platform::Process::startHidden(std::wstring(command.begin(), command.end()));
    ASSERT_NE(process_, nullptr);
    // Until the shell has replaced itself with the program, the image name is the shell's.
    const std::string comm = "/proc/" + std::to_string(process_->pid()) + "/comm";
    ASSERT_TRUE(kivtest::waitFor([&] { return kivtest::readFile(comm) == name_ + "\n"; }));
  }
  void stop() {
    if (!process_) return;
    ::kill(process_->pid(), SIGKILL);
    process_->wait(kiv::platform::kInfinite);
    process_.reset();
  }
  // True once some descriptor of this process besides our own watches the shell: the
  // watcher found it and waits on it.
  bool watched() const {
    int watchers = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fdinfo")) {
      const std::string info = kivtest::readFile(entry.path());
      watchers += info.find("Pid:\t" + std::to_string(process_->pid()) + "\n") != std::string::npos;
    }
    return watchers >= 2;
  }

 private:
  std::string name_;
  std::string path_;
  std::unique_ptr<kiv::platform::Process> process_;
};

std::wstring logonMessage(const wchar_t* user) {
  return std::wstring(L"<Notification Type=\"Logon\"><User>") + user +
         L"</User><Domain>CORP</Domain><computerUserUnitName>.|CORP|" + user +
         L"</computerUserUnitName><userUnitName>CORP|" + user +
         L"</userUnitName><sessionID>0</sessionID></Notification>";
}

Report logoff(const std::wstring& user) {
  return {3, user, user.empty() ? L"" : L".|CORP|" + user, user.empty() ? L"" : L"CORP|" + user};
}
const Report kSessionLogoff{9, L"0", L"", L""};

// Makes this process a Windows NT 4.0 for its lifetime; constructed before the notifier,
// which decides at construction whether to watch the shell.
struct LegacyPlatform {
  LegacyPlatform() { kiv::platform::testing::setWindowsVersion("4.0"); }
  ~LegacyPlatform() { kiv::platform::testing::setWindowsVersion(nullptr); }
};

class ShellWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    watchertest::setShellValue(std::wstring(shell.name().begin(), shell.name().end()).c_str());
    ASSERT_NE(notifier.notifier(), nullptr);
    ASSERT_EQ(notifier.notifier()->watchShell, 1);
  }

  std::vector<Report> reportsOf(int code) const {
    std::vector<Report> found;
    for (const auto& report : notifier.sink.reports())
      if (report.code == code) found.push_back(report);
    return found;
  }
  void logon(const wchar_t* user) { notifier.notifier()->handleNotification(TQStringW(logonMessage(user).c_str())); }

  LegacyPlatform platform;
  ShellProcess shell;
  watchertest::LoadedNotifier notifier;
};

TEST_F(ShellWatcherTest, EndOfTheShellReportsTheLastLogonUser) {
  ASSERT_TRUE(notifier.start());
  // No shell at start: the logoff is reported at once, with nobody's names yet.
  ASSERT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(9) == 1; }));
  EXPECT_EQ(reportsOf(3), std::vector<Report>{logoff(L"")});
  EXPECT_EQ(reportsOf(9), std::vector<Report>{kSessionLogoff});

  // A logon while still no shell runs wakes the watcher, which reports that user at once.
  logon(L"bob");
  ASSERT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(9) == 2; }));
  EXPECT_EQ(reportsOf(3).back(), logoff(L"bob"));

  shell.start();
  logon(L"alice");
  ASSERT_TRUE(kivtest::waitFor([&] { return shell.watched(); }));
  EXPECT_EQ(notifier.sink.count(3), 2) << "a running shell is watched without a report";

  shell.stop();
  ASSERT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(9) == 3; }));
  const auto all = notifier.sink.reports();
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[all.size() - 2], logoff(L"alice"));
  EXPECT_EQ(all.back(), kSessionLogoff);

  notifier.shutdown();
  EXPECT_EQ(notifier.sink.count(3), 3) << "shutdown of an idle watcher reports nothing";
  EXPECT_EQ(notifier.sink.reports().back().code, 1);
}

TEST_F(ShellWatcherTest, ShutdownWhileWatchingTheShellReportsNothing) {
  shell.start();
  ASSERT_TRUE(notifier.start());
  ASSERT_TRUE(kivtest::waitFor([&] { return shell.watched(); }));
  notifier.shutdown();
  const auto all = notifier.sink.reports();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].code, 1);
}

}  // namespace
