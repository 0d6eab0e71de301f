// The address-change script of a running notifier: refused scripts leave one trace and the
// report still comes; an accepted script sees the event, the address list and what changed,
// and its output and end reach the trace; a script that outlives its time limit is ended
// together with what it started.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "service/SafeDirectory.h"
#include "watchers/WatcherHarness.h"

namespace {

using watchertest::ip;
using watchertest::wide;

// Whether `pid` is alive; a zombie has ended.
bool running(int pid) {
  const std::string stat = kivtest::readFile("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

class ChangeScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!watchertest::enterFreshNetworkNamespace(&why)) GTEST_SKIP() << why;
    ASSERT_FALSE(safe.path().empty());
    ASSERT_TRUE(notifier.loaded());
    // What earlier tests of this process left in the shared configuration.
    setNumber(L"ipchangescripttimeout", 0);
    setNumber(L"ipchangescriptonstart", 0);
  }
  void TearDown() override {
    const std::string pid = kivtest::readFile(childPid);
    if (!pid.empty() && running(std::stoi(pid))) kill(std::stoi(pid), SIGKILL);
  }
  void start() {
    ASSERT_TRUE(notifier.start());
    ASSERT_TRUE(kivtest::waitFor([] { return kivtest::traced("Notifier: IP monitor thread starting"); }));
  }
  int reports() const { return notifier.sink.count(5); }
  // One address change, handled to its report.
  void change(const std::string& address) {
    const int before = reports();
    ip("addr add " + address + " dev lo");
    ASSERT_TRUE(kivtest::waitFor([&] { return reports() > before; }, std::chrono::seconds(60)));
  }

  static void setNumber(const wchar_t* key, int32_t value) {
    TQptr<ITQConfig> config;
    TQUtilities_GetConfigEx(config.fill(), -1);
    ASSERT_TRUE(config);
    ASSERT_EQ(config->setNumber(L"dlox/common/kiv/general", key, value, 0), 0);
  }

  // Files of this test alone: a program run whole shares one KIV_HOME between its tests.
  static std::string ownPath(const std::string& name) {
    return watchertest::tempPath(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "." + name);
  }

  servicetest::SafeDirectory safe;
  const std::string output = ownPath("script.out");
  const std::string childPid = ownPath("child.pid");
  watchertest::LoadedNotifier notifier;
};

TEST_F(ChangeScriptTest, ScriptsOthersCouldChangeAreRefusedWithOneTraceAndTheReportStillComes) {
  const std::string groupWritable = safe.file("group", "#!/bin/sh\necho ran >> " + output + "\n", 0775);
  const std::string openDir = safe.directory("open", 0777);
  const std::string inOpenDir = safe.file("open/run", "#!/bin/sh\necho ran >> " + output + "\n");
  watchertest::setIpChangeScript(wide(groupWritable) + L" --flag");
  start();

  change("10.200.0.1/32");
  EXPECT_EQ(kivtest::countTrace("ipchangescript not run: " + groupWritable + " is writable by group or others: " +
                                groupWritable + " --flag"), 1);

  watchertest::setIpChangeScript(wide(inOpenDir));
  change("10.200.0.2/32");
  EXPECT_EQ(kivtest::countTrace("ipchangescript not run: directory " + openDir + " is writable by group or others"), 1);

  EXPECT_FALSE(kivtest::traced("executing ipchangescript"));
  EXPECT_EQ(kivtest::readFile(output), "");
  EXPECT_EQ(reports(), 2);
}

// Words that run their argument would get a script from a world-writable directory past
// the check of the first word; no shell reads the command line, so they are refused.
TEST_F(ChangeScriptTest, CommandLinesThatNeedAShellAreRefusedAndRunNothing) {
  const std::string open = safe.directory("open", 0777);
  const std::string evil = safe.file("open/evil.sh", "#!/bin/sh\necho ran >> " + output + "\n");
  start();
  int changes = 0;
  for (const std::string& line : {". " + evil, "exec " + evil, "eval " + evil, "{ " + evil + "; }",
                                  "# comment\n" + evil, "/bin/true; " + evil}) {
    SCOPED_TRACE(line);
    watchertest::setIpChangeScript(wide(line));
    change("10.200.0." + std::to_string(++changes) + "/32");
    EXPECT_EQ(kivtest::countTrace("put the command in a script file: " + line.substr(0, line.find('\n'))), 1);
  }
  // Without a shell none of these lines could run the file anyway: that nothing was
  // started at all is what tells the refusal worked.
  EXPECT_FALSE(kivtest::traced("executing ipchangescript"));
  EXPECT_EQ(reports(), changes);
}

TEST_F(ChangeScriptTest, AnAcceptedScriptSeesTheEventAndTheAddressList) {
  const std::string script = safe.file(
      "report", "#!/bin/sh\nprintf '%s|%s|%s\\n' \"$KIV_EVENT\" \"$KIV_ADDRESSES\" \"$1\" >> " + output + "\n");
  watchertest::setIpChangeScript(wide(script) + L" 'quoted arg'");
  start();
  change("10.200.0.1/32");
  change("fd00::7/128 nodad");

  std::istringstream seen(kivtest::readFile(output));
  std::string first, second;
  std::getline(seen, first);
  std::getline(seen, second);
  EXPECT_EQ(first.rfind("address-change|127.0.0.1 10.200.0.1", 0), 0u) << first;
  EXPECT_EQ(first.substr(first.size() - 11), "|quoted arg") << first;
  EXPECT_NE(second.find(" fd00::7"), std::string::npos) << second;
}

TEST_F(ChangeScriptTest, AScriptPastItsTimeLimitIsEndedWithItsChildrenAndHandlingGoesOn) {
  const std::string firstRun = ownPath("first-run");
  // The first run starts a child and then waits for ever; later runs end at once.
  const std::string script = safe.file("slow", "#!/bin/sh\n"
                                               "if [ ! -e " + firstRun + " ]; then\n"
                                               "  touch " + firstRun + "\n"
                                               "  sleep 600 &\n"
                                               "  echo $! > " + childPid + "\n"
                                               "  sleep 600\n"
                                               "fi\n"
                                               "echo done >> " + output + "\n");
  watchertest::setIpChangeScript(wide(script));
  setNumber(L"ipchangescripttimeout", 1);
  start();

  change("10.200.0.1/32");
  EXPECT_EQ(kivtest::countTrace("ipchangescript still ran after 1 s; its process group was ended: " + script), 1);
  EXPECT_EQ(kivtest::countTrace(") ended: signal 15 after "), 1);
  const std::string pid = kivtest::readFile(childPid);
  ASSERT_FALSE(pid.empty());
  EXPECT_TRUE(kivtest::waitFor([&] { return !running(std::stoi(pid)); })) << "the script's child survived";
  EXPECT_EQ(kivtest::readFile(output), "");

  change("10.200.0.2/32");
  EXPECT_EQ(kivtest::readFile(output), "done\n");
  EXPECT_EQ(kivtest::countTrace("process group was ended"), 1);
}

// A script that cleans up on SIGTERM and writes more than a pipe holds meanwhile is read
// during its grace, so it ends by itself instead of sitting on a full pipe until SIGKILL.
TEST_F(ChangeScriptTest, AScriptEndingOnItsOwnAfterTheTermSignalIsReadUntilItHasEnded) {
  const std::string script = safe.file("trapping", "#!/bin/sh\n"
                                                   "trap 'head -c 262144 /dev/zero | tr \"\\000\" y | fold -w 64;"
                                                   " echo cleaned >> " + output + "; exit 4' TERM\n"
                                                   "sleep 600 &\n"
                                                   "wait\n");
  watchertest::setIpChangeScript(wide(script));
  setNumber(L"ipchangescripttimeout", 1);
  start();

  change("10.200.0.1/32");
  EXPECT_EQ(kivtest::countTrace("ipchangescript still ran after 1 s; its process group was ended: " + script), 1);
  EXPECT_EQ(kivtest::countTrace(") ended: exit 4 after "), 1);
  EXPECT_EQ(kivtest::readFile(output), "cleaned\n");
}

// Each run waits on a FIFO until the test lets it end, so that changes made meanwhile are
// all seen by the next run.
TEST_F(ChangeScriptTest, TheScriptIsToldWhatWasAddedAndRemovedSinceTheLastRun) {
  const std::string hold = ownPath("hold");
  std::filesystem::remove(hold);
  ASSERT_EQ(mkfifo(hold.c_str(), 0600), 0);
  const std::string script = safe.file(
      "changes", "#!/bin/sh\nprintf '%s|%s\\n' \"$KIV_ADDED\" \"$KIV_REMOVED\" >> " + output + "\ncat " + hold + "\n");
  watchertest::setIpChangeScript(wide(script));
  const auto release = [&] {
    int fd = -1;
    // Opening the FIFO to write succeeds once the script has it open to read.
    ASSERT_TRUE(kivtest::waitFor([&] { return (fd = open(hold.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }));
    close(fd);
  };
  start();

  ip("addr add 10.200.0.1/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([&] { return watchertest::lineCount(output) == 1; }));
  // A replace, made while the first run still holds the monitor.
  kivtest::writeFile(ownPath("batch"), "addr del 10.200.0.1/32 dev lo\naddr add 10.200.0.2/32 dev lo\n");
  ip("-batch " + ownPath("batch"));
  release();
  ASSERT_TRUE(kivtest::waitFor([&] { return watchertest::lineCount(output) == 2; }));
  ip("addr del 10.200.0.2/32 dev lo");
  release();
  ASSERT_TRUE(kivtest::waitFor([&] { return watchertest::lineCount(output) == 3; }));
  release();
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() == 3; }));
  EXPECT_EQ(kivtest::readFile(output), "10.200.0.1|\n10.200.0.2|10.200.0.1\n|10.200.0.2\n");
}

TEST_F(ChangeScriptTest, ItsLinesOnBothStreamsAndItsExitCodeReachTheTrace) {
  const std::string script = safe.file("talks", "#!/bin/sh\necho $$ > " + output +
                                                    "\necho 'first out'\necho 'an error' >&2\n"
                                                    "printf 'no line end\\033[2J'\nexit 3\n");
  watchertest::setIpChangeScript(wide(script));
  start();
  change("10.200.0.1/32");
  const std::string pid = kivtest::readFile(output).substr(0, kivtest::readFile(output).find('\n'));
  const std::string prefix = "ipchangescript (pid " + pid + ") ";
  EXPECT_EQ(kivtest::countTrace(prefix + "stdout: first out"), 1);
  EXPECT_EQ(kivtest::countTrace(prefix + "stderr: an error"), 1);
  // A control sequence must not reach whoever reads the trace on a terminal.
  EXPECT_EQ(kivtest::countTrace(prefix + "stdout: no line end?[2J"), 1);
  EXPECT_EQ(kivtest::countTrace(prefix + "ended: exit 3 after "), 1);
}

TEST_F(ChangeScriptTest, ABoundlessWriterCostsAtMost64KiBOfTraceAndHoldsNothingUp) {
  // Ten megabytes in short lines, then a child that writes for ever to the same pipe.
  const std::string script = safe.file("loud", "#!/bin/sh\nhead -c 10000000 /dev/zero | tr '\\0' x | fold -w 20\n"
                                                   "yes &\necho $! > " + childPid + "\n");
  watchertest::setIpChangeScript(wide(script));
  start();
  const auto before = std::filesystem::file_size(kivtest::traceFile());
  change("10.200.0.1/32");
  const auto grown = std::filesystem::file_size(kivtest::traceFile()) - before;
  // The handling's own lines (the list, the detection, the start, the drop, the end) are a
  // few hundred bytes.
  EXPECT_LE(grown, 64u * 1024 + 1024) << "the trace grew by " << grown;
  EXPECT_EQ(kivtest::countTrace("more bytes of output dropped"), 1);
  EXPECT_EQ(kivtest::countTrace("ended: exit 0"), 1);
  // The child that kept the pipe open did not hold the handling, nor does it hold the next.
  change("10.200.0.2/32");
}

TEST_F(ChangeScriptTest, OnStartTheScriptGetsTheAddressesOnceWithoutAReport) {
  const std::string script = safe.file(
      "boot", "#!/bin/sh\nprintf '%s|%s|%s|%s\\n' \"$KIV_EVENT\" \"$KIV_ADDRESSES\" \"$KIV_ADDED\" \"$KIV_REMOVED\" >> " +
                  output + "\n");
  watchertest::setIpChangeScript(wide(script));
  setNumber(L"ipchangescriptonstart", 1);
  ip("addr add 10.200.0.1/32 dev lo");
  start();
  ASSERT_TRUE(kivtest::waitFor([&] { return watchertest::lineCount(output) == 1; }));
  change("10.200.0.2/32");
  notifier.shutdown();
  EXPECT_EQ(reports(), 1) << "the run at start is no change";
  EXPECT_EQ(kivtest::readFile(output), "startup|127.0.0.1 10.200.0.1 ::1|127.0.0.1 10.200.0.1 ::1|\n"
                                       "address-change|127.0.0.1 10.200.0.1 10.200.0.2 ::1|10.200.0.2|\n");
  EXPECT_EQ(kivtest::countTrace("CTQNotify::IPThreadProcMethod: startup: executing ipchangescript: " + script), 1);
}

}  // namespace
