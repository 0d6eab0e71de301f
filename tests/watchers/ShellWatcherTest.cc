// The shell name from the registry, and the shell watcher of a notifier on Windows NT 4.0:
// the end of the shell reports the logoff of the last logon message's user, no shell at
// all reports at once, and shutdown ends the watcher without a report.
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <filesystem>
#include <memory>

#include "WatcherHarness.h"
#ifdef _WIN32
#include "ProcessHandles.h"
#endif
#include "platform/process.h"
#include "platform/utf8.h"
#include "support/test_process.h"

namespace {

using watchertest::LegacyPlatform;
using watchertest::Report;

std::wstring shellName() {
  TQStringW name(L"left over");
  readShellName(name);
  return name.str();
}

TEST(ShellNameTest, ValueIsUpperCasedAndDefaultsToExplorer) {
  watchertest::ShellValueKept kept;
  LegacyPlatform platform;
  watchertest::setShellValue(nullptr);
  EXPECT_EQ(shellName(), L"EXPLORER.EXE") << "no value";
  watchertest::setShellValue(L"");
  EXPECT_EQ(shellName(), L"EXPLORER.EXE") << "empty value";
  watchertest::setShellValue(L"myShell.exe");
  EXPECT_EQ(shellName(), L"MYSHELL.EXE");
  kiv::platform::testing::setWindowsVersion("98");  // no Winlogon key on the 95 family
  EXPECT_EQ(shellName(), L"EXPLORER.EXE");
}

// A process with an image name no other process on the machine has. The tests see from
// outside when the watcher waits on it: on Linux a second pidfd on it in /proc, on Windows
// a second handle on its process object.
class ShellProcess {
 public:
  ~ShellProcess() { stop(); }
#ifdef _WIN32
  const std::string name = "kivsh" + std::to_string(_getpid()) + ".exe";
#else
  const std::string name = "kivsh" + std::to_string(::getpid());
#endif
  void start() {
    const std::string path = watchertest::tempPath(name);
    // Every instance runs the one copy: a copy over a running one would fail.
#ifdef _WIN32
    std::filesystem::copy_file(KIV_SLEEPER, path, std::filesystem::copy_options::skip_existing);
#else
    std::filesystem::copy_file("/bin/sleep", path, std::filesystem::copy_options::skip_existing);
#endif
    process_ = kiv::platform::Process::startHidden(kiv::utf::widen("\"" + path + "\" 600"));
    ASSERT_NE(process_, nullptr);
  }
  void stop() {
    if (!process_) return;
    kivtest::killProcess(process_->pid());
    process_->wait(kiv::platform::kInfinite);
    process_.reset();
  }
  // True once a handle besides our own is on the process: the watcher waits on it.
  bool watched() const {
#ifdef _WIN32
    return watchertest::processHandleCount(process_->handle()) >= 2;
#else
    int watchers = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fdinfo"))
      watchers += kivtest::readFile(entry.path()).find("Pid:\t" + std::to_string(process_->pid()) + "\n") != std::string::npos;
    return watchers >= 2;
#endif
  }

 private:
  std::unique_ptr<kiv::platform::Process> process_;
};

Report logoff(const std::wstring& user) {
  return {3, user, user.empty() ? L"" : L".|CORP|" + user, user.empty() ? L"" : L"CORP|" + user};
}
const Report kSessionLogoff{9, L"0", L"", L""};

class ShellWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    watchertest::setShellValue(watchertest::wide(shell.name));  // lower case, searched upper-cased
    ASSERT_TRUE(notifier.loaded());
    ASSERT_EQ(notifier->watchShell, 1);
  }
  void logon(const std::wstring& user) {
    notifier->handleNotification((L"<Notification Type=\"Logon\"><User>" + user +
                                  L"</User><Domain>CORP</Domain><computerUserUnitName>.|CORP|" + user +
                                  L"</computerUserUnitName><userUnitName>CORP|" + user +
                                  L"</userUnitName><sessionID>0</sessionID></Notification>").c_str());
  }
  std::vector<Report> lastTwo() const {
    const auto all = notifier.sink.reports();
    return all.size() < 2 ? all : std::vector<Report>(all.end() - 2, all.end());
  }

  watchertest::ShellValueKept kept;  // made first, so it puts the value back last
  LegacyPlatform platform;
  ShellProcess shell;
  watchertest::LoadedNotifier notifier;
};

TEST_F(ShellWatcherTest, EndOfTheShellReportsTheLastLogonUser) {
  ASSERT_TRUE(notifier.start());
  ASSERT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(9) == 1; }));
  EXPECT_EQ(notifier.sink.reports(), (std::vector<Report>{logoff(L""), kSessionLogoff})) << "no shell at start";

  logon(L"bob");  // still no shell: the woken watcher reports bob at once
  ASSERT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(9) == 2; }));
  EXPECT_EQ(lastTwo(), (std::vector<Report>{logoff(L"bob"), kSessionLogoff}));

  shell.start();
  logon(L"alice");
  ASSERT_TRUE(kivtest::waitFor([&] { return shell.watched(); }));
  EXPECT_EQ(notifier.sink.count(3), 2) << "a running shell is watched without a report";
  shell.stop();
  ASSERT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(9) == 3; }));
  EXPECT_EQ(lastTwo(), (std::vector<Report>{logoff(L"alice"), kSessionLogoff}));

  notifier.shutdown();
  EXPECT_EQ(notifier.sink.count(3), 3) << "shutdown of an idle watcher reports nothing";
}

TEST_F(ShellWatcherTest, ALogonWhileTheShellRunsGivesOneLogoffWhenItEnds) {
  shell.start();
  ASSERT_TRUE(notifier.start());
  ASSERT_TRUE(kivtest::waitFor([&] { return shell.watched(); }));
  logon(L"alice");
  shell.stop();
  ASSERT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(9) >= 1; }));
  // A logon signal still pending would win over the stop and show as a second report.
  notifier.shutdown();
  EXPECT_EQ(lastTwo(), (std::vector<Report>{kSessionLogoff, {1, L"", L"", L""}}));
  EXPECT_EQ(notifier.sink.count(3), 1);
}

TEST_F(ShellWatcherTest, ShutdownWhileWatchingTheShellReportsNothing) {
  shell.start();
  ASSERT_TRUE(notifier.start());
  ASSERT_TRUE(kivtest::waitFor([&] { return shell.watched(); }));
  notifier.shutdown();
  EXPECT_EQ(notifier.sink.reports(), (std::vector<Report>{{1, L"", L"", L""}}));
}

TEST_F(ShellWatcherTest, AnotherInstanceOfTheShellIsWatchedInTurnWithoutAReport) {
  ASSERT_TRUE(notifier.start());
  ASSERT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(9) == 1; }));  // no shell yet
  ShellProcess second;
  shell.start();
  second.start();
  logon(L"alice");
  ASSERT_TRUE(kivtest::waitFor([&] { return shell.watched() || second.watched(); }));
  // Whichever ends first, the other one is still a shell: the user has not gone.
  ShellProcess& first = shell.watched() ? shell : second;
  ShellProcess& last = &first == &shell ? second : shell;
  first.stop();
  ASSERT_TRUE(kivtest::waitFor([&] { return last.watched(); }));
  EXPECT_EQ(notifier.sink.count(3), 1);
  last.stop();
  ASSERT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(9) == 2; }));
  std::vector<Report> logoffs;
  for (const Report& report : notifier.sink.reports())
    if (report.code == 3 || report.code == 9) logoffs.push_back(report);
  EXPECT_EQ(logoffs, (std::vector<Report>{logoff(L""), kSessionLogoff, logoff(L"alice"), kSessionLogoff}));
}


}  // namespace
