// Hidden processes: started without a shell, detached from our streams and process group,
// waited through their handle and never left as zombies.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/process.h"
#include "platform/process_list.h"
#include "support/kiv_test.h"

namespace kiv::platform {
namespace {

// The process state letter from /proc ('Z' for a zombie), or 0 once it is gone entirely.
char processState(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  const auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : 0;
}

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

TEST(Process, RunsHiddenAndIsReapedAfterTheWait) {
  const std::string out = kivtest::home() + "/streams";
  // The program's own streams: stdin and stderr must be /dev/null.
  auto process = Process::startHidden(
      wide("/bin/sh -c 'readlink /proc/$$/fd/0 /proc/$$/fd/2 > " + out + "; echo visible'"));
  ASSERT_TRUE(process);
  EXPECT_EQ(process->wait(20000), kWaitObject0);
  EXPECT_EQ(kivtest::readFile(out), "/dev/null\n/dev/null\n");
  // Still signalled on a second wait, and already reaped: not our child any more.
  EXPECT_EQ(process->wait(0), kWaitObject0);
  EXPECT_EQ(waitpid(process->pid(), nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(Process, OwnProcessGroupAndWideCommandLine) {
  const std::string out = kivtest::home() + "/pgid";
  auto process = Process::startHidden(
      wide("sh -c \"ps -o pgid= -p \\$\\$ | tr -d ' ' > " + out) + L"; printf %s \u00e9 >> " + wide(out) + L"\"");
  ASSERT_TRUE(process);
  ASSERT_EQ(process->wait(kInfinite), kWaitObject0);
  EXPECT_EQ(kivtest::readFile(out), std::to_string(process->pid()) + "\n\xC3\xA9");
}

// No shell reads the line: its words reach the program as they were quoted, and a line
// that only a shell could make sense of is not started at all.
TEST(Process, WordsGoToTheProgramAsQuotedAndNoShellRunsTheLine) {
  const std::string out = kivtest::home() + "/words";
  auto process = Process::startHidden(
      wide("sh -c 'printf \"%s|\" \"$@\" > " + out + "' sh '$HOME' \"a b\" c\\;d ''"));
  ASSERT_TRUE(process);
  ASSERT_EQ(process->wait(kInfinite), kWaitObject0);
  EXPECT_EQ(kivtest::readFile(out), "$HOME|a b|c;d||");

  for (const std::wstring& line : {std::wstring(L"exec sleep 1"), std::wstring(L"sleep 1; sleep 2"),
                                   std::wstring(L"sleep $X"), std::wstring(L"sleep 1 > /dev/null"), std::wstring(),
                                   std::wstring(L"sleep\0 1", 8)}) {
    errno = 0;
    EXPECT_FALSE(Process::startHidden(line));
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_FALSE(Process::startHidden(L"kiv-no-such-program-anywhere"));
  EXPECT_EQ(errno, ENOENT);
}

TEST(Process, RunningProcessTimesOutThenEndsThroughItsHandle) {
  auto process = Process::startHidden(L"sleep 600");
  ASSERT_TRUE(process);
  EXPECT_EQ(process->wait(0), kWaitTimeout);
  EXPECT_EQ(waitOne(process->handle(), 20), kWaitTimeout);
  ASSERT_EQ(kill(process->pid(), SIGKILL), 0);
  EXPECT_EQ(waitOne(process->handle(), kInfinite), kWaitObject0);
  // Ended but not yet waited for through wait(): the destructor reaps it.
  const int pid = process->pid();
  process.reset();
  EXPECT_EQ(processState(pid), 0);
}

TEST(Process, DestroyedWhileRunningLeavesNoZombie) {
  auto process = Process::startHidden(L"sleep 600");
  ASSERT_TRUE(process);
  const int pid = process->pid();
  process.reset();
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  EXPECT_TRUE(kivtest::waitFor([pid] { return processState(pid) == 0; }));
}

TEST(Process, OpenWatchesAnotherProcessWithoutReapingIt) {
  const pid_t child = fork();
  if (child == 0) {
    pause();
    _exit(0);
  }
  ASSERT_GT(child, 0);
  auto watched = Process::open(child);
  ASSERT_TRUE(watched);
  EXPECT_EQ(watched->wait(0), kWaitTimeout);
  kill(child, SIGKILL);
  EXPECT_EQ(watched->wait(kInfinite), kWaitObject0);
  watched.reset();
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);  // left for its parent to reap
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(Process::open(child));
  EXPECT_FALSE(Process::open(-1));
}

bool listed(int pid) {
  for (const auto& entry : listProcesses())
    if (entry.pid == pid) return true;
  return false;
}

// A child that has ended but that nobody reaped yet has ended for every look-up, while a
// process whose main thread returned early but whose other threads run on has not.
TEST(ProcessList, ZombieCountsAsEndedButNotAProcessWithALiveThread) {
  auto zombie = Process::startHidden(L"sleep 600");
  ASSERT_TRUE(zombie);
  ASSERT_TRUE(kivtest::waitFor([&] { return processImageName(zombie->pid()) == "sleep"; }));
  EXPECT_TRUE(listed(zombie->pid()));
  ASSERT_EQ(kill(zombie->pid(), SIGKILL), 0);
  ASSERT_EQ(waitOne(zombie->handle(), kInfinite), kWaitObject0);  // ended, not reaped
  ASSERT_EQ(processState(zombie->pid()), 'Z');
  EXPECT_EQ(processImageName(zombie->pid()), "");
  EXPECT_FALSE(listed(zombie->pid()));

  auto lone = Process::startHidden(wide(kivtest::binDir() + "/platform_helper main-thread-exits"));
  ASSERT_TRUE(lone);
  ASSERT_TRUE(kivtest::waitFor([&] { return processState(lone->pid()) == 'Z'; }));
  EXPECT_EQ(processImageName(lone->pid()), "platform_helper");
  EXPECT_TRUE(listed(lone->pid()));
  ASSERT_EQ(kill(lone->pid(), SIGKILL), 0);
  EXPECT_EQ(lone->wait(kInfinite), kWaitObject0);
}

// Output is read as it comes, each stream on its own; once the process has ended, a child
// it left behind with the pipes still open does not hold the wait.
TEST(Process, BothStreamsAreReadAndAChildKeepingThemOpenHoldsNothing) {
  auto process = Process::startReading("/bin/sh", {"sh", "-c", "echo out; echo err >&2; sleep 600 & echo $!; exit 7"}, {});
  ASSERT_TRUE(process);
  std::string out, err;
  const OutputReceiver receiver = [&](OutputStream stream, std::string_view bytes) {
    (stream == OutputStream::kStandardOutput ? out : err).append(bytes);
  };
  EXPECT_EQ(process->waitReading(60000, receiver), kWaitObject0);
  const std::string child = out.substr(out.find('\n') + 1);
  ASSERT_FALSE(child.empty()) << out;
  kill(std::stoi(child), SIGKILL);
  EXPECT_EQ(out.substr(0, 4), "out\n");
  EXPECT_EQ(err, "err\n");
  EXPECT_EQ(process->exitCode(), 7);
  EXPECT_EQ(process->exitSignal(), 0);
}

// Entries that name no variable are left out; they must not take the host's variables
// with them.
TEST(Process, TheEnvironmentIsTheHostsWithTheOverridesAndNothingElse) {
  ASSERT_EQ(setenv("KIV_TEST_KEPT", "host", 1), 0);
  ASSERT_EQ(setenv("KIV_TEST_REPLACED", "host", 1), 0);
  auto process = Process::startReading(
      "/bin/sh", {"sh", "-c", "echo \"$KIV_TEST_KEPT $KIV_TEST_REPLACED $KIV_TEST_NEW\"; env | grep -c '^=' || true"},
      {"NO_EQUALS_SIGN", "=nameless", "KIV_TEST_REPLACED=child", "KIV_TEST_NEW=new"});
  unsetenv("KIV_TEST_KEPT");
  unsetenv("KIV_TEST_REPLACED");
  ASSERT_TRUE(process);
  std::string out;
  const OutputReceiver receiver = [&](OutputStream stream, std::string_view bytes) {
    if (stream == OutputStream::kStandardOutput) out.append(bytes);
  };
  EXPECT_EQ(process->waitReading(60000, receiver), kWaitObject0);
  EXPECT_EQ(out, "host child new\n0\n");
  EXPECT_EQ(process->exitCode(), 0);
}

// Until a wait reaps it, an ended process keeps its pid and its group's id, so that its
// group can still be signalled; its output is read all the same.
TEST(Process, ReadUntilItsEndItStaysAZombieUntilAWaitReapsIt) {
  auto process = Process::startReading("/bin/sh", {"sh", "-c", "echo said; exit 4"}, {});
  ASSERT_TRUE(process);
  std::string out;
  const OutputReceiver receiver = [&](OutputStream stream, std::string_view bytes) {
    if (stream == OutputStream::kStandardOutput) out.append(bytes);
  };
  ASSERT_EQ(process->waitReadingUnreaped(60000, receiver), kWaitObject0);
  EXPECT_EQ(out, "said\n");
  EXPECT_EQ(processState(process->pid()), 'Z');
  EXPECT_EQ(killpg(process->pid(), 0), 0) << "its group's id was given up";
  EXPECT_EQ(process->exitCode(), -1);
  EXPECT_EQ(process->waitReadingUnreaped(0, receiver), kWaitObject0);
  EXPECT_EQ(processState(process->pid()), 'Z');
  EXPECT_EQ(process->waitReading(0, receiver), kWaitObject0);
  EXPECT_EQ(process->exitCode(), 4);
  EXPECT_EQ(processState(process->pid()), 0);
  errno = 0;
  EXPECT_EQ(killpg(process->pid(), 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

TEST(Process, ASignalThatEndsItIsTold) {
  auto process = Process::startReading("/bin/sh", {"sh", "-c", "kill -TERM $$"}, {});
  ASSERT_TRUE(process);
  EXPECT_EQ(process->waitReading(kInfinite, nullptr), kWaitObject0);
  EXPECT_EQ(process->exitSignal(), SIGTERM);
  EXPECT_EQ(process->exitCode(), -1);
}

}  // namespace
}  // namespace kiv::platform
