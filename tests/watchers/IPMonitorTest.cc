// The IP change monitor of a running notifier, against real address changes in a network
// namespace of the test's own.
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "WatcherHarness.h"
#include "service/SafeDirectory.h"
#include "platform/address_change.h"

namespace {

using watchertest::ip;
using watchertest::lineCount;
using watchertest::wide;

using kiv::platform::AddressFamily;
using kiv::platform::testing::AddressChangeStep;

// A command line that a shell runs: the host starts the program directly.
std::wstring inShell(const std::string& script) { return wide("/bin/sh -c '" + script + "'"); }

void failStep(AddressFamily family, AddressChangeStep step) {
  kiv::platform::testing::failAddressChangeStep(family, step);
}

class IPMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!watchertest::enterFreshNetworkNamespace(&why)) GTEST_SKIP() << why;
    ASSERT_TRUE(notifier.loaded());
    // What earlier tests of this process left behind.
    std::filesystem::remove(marker);
    watchertest::setIpChangeScript(L"");
  }
  void TearDown() override {
    failStep(AddressFamily::kIPv4, AddressChangeStep::kNone);
    failStep(AddressFamily::kIPv6, AddressChangeStep::kNone);
  }
  // Returns once the monitor listens, so that no change is missed.
  void start() {
    ASSERT_TRUE(notifier.start());
    ASSERT_TRUE(kivtest::waitFor([&] { return trace.traced("Notifier: IP monitor thread starting"); }));
  }
  int reports() const { return notifier.sink.count(5); }

  const std::string marker = watchertest::tempPath("script-runs");
  watchertest::TraceSince trace;
  watchertest::LoadedNotifier notifier;
};

TEST_F(IPMonitorTest, ChangesOfEitherFamilyRunTheScriptBeforeTheReport) {
  watchertest::setIpChangeScript(inShell("echo run >> " + marker));
  std::vector<int> scriptRunsAtReport;  // guarded by the sink's lock
  notifier.sink.onReport([&](int code) {
    if (code == 5) scriptRunsAtReport.push_back(lineCount(marker));
  });
  start();

  ip("addr add 10.200.0.1/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() >= 1; }));
  EXPECT_TRUE(trace.traced("CTQNotify::IPThreadProcMethod: IPv4 address change detected"));
  EXPECT_TRUE(trace.traced("Notifier: IP address( 10.200.0.1 )"));
  EXPECT_TRUE(trace.traced("CTQNotify::IPThreadProcMethod: ip change detected: executing ipchangescript: /bin/sh -c 'echo run"));

  const int before = reports();
  ip("addr add fd00::1/128 dev lo nodad");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() > before && trace.traced("IPv6 address change detected"); }));
  EXPECT_TRUE(trace.traced("CTQNotify::IPThreadProcMethod: IPv6 address change detected"));
  EXPECT_TRUE(trace.traced("Notifier: IP address( fd00::1 )"));

  notifier.shutdown();  // no report may reach the hook after this test's locals are gone
  for (std::size_t i = 0; i < scriptRunsAtReport.size(); ++i)
    EXPECT_EQ(scriptRunsAtReport[i], static_cast<int>(i + 1)) << "report " << i;
}

TEST_F(IPMonitorTest, ChangesDuringAHandlingGiveExactlyOneMore) {
  watchertest::setIpChangeScript(inShell("echo run >> " + marker + "; sleep 1"));
  start();
  ip("addr add 10.200.0.1/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([&] { return lineCount(marker) == 1; }));
  std::string batch;
  for (int i = 1; i <= 20; ++i) batch += "addr add 10.200.1." + std::to_string(i) + "/32 dev lo\n";
  kivtest::writeFile(watchertest::tempPath("batch"), batch);
  ip("-batch " + watchertest::tempPath("batch"));
  ASSERT_EQ(reports(), 0) << "the burst must land while the first script still runs";

  ASSERT_TRUE(kivtest::waitFor([&] { return reports() == 2; }));
  // A change of the other family marks the end: a third handling of the burst would come
  // before it and show as one more IPv4 detection.
  ip("addr add fd00::1/128 dev lo nodad");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() >= 3 && trace.traced("IPv6 address change detected"); }));
  EXPECT_EQ(trace.count("IPv4 address change detected"), 2);
}

TEST_F(IPMonitorTest, ShutdownWaitsForARunningScript) {
  watchertest::setIpChangeScript(inShell("echo start >> " + marker + "; sleep 1; echo done >> " + marker));
  start();
  ip("addr add 10.200.0.1/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([&] { return lineCount(marker) == 1; }));
  notifier.shutdown();
  EXPECT_EQ(kivtest::readFile(marker), "start\ndone\n");
  EXPECT_EQ(notifier.sink.reports(), (std::vector<watchertest::Report>{{5, L"", L"", L""}, {1, L"", L"", L""}}));
}

// The script hears of the addresses as they are at the resume, a change made during the
// wait included.
TEST_F(IPMonitorTest, ChangeWhileSuspendedWaitsForTheResume) {
  watchertest::setIpChangeScript(inShell("echo \"$KIV_ADDRESSES|$KIV_ADDED\" >> " + marker));
  start();
  notifier.powerEvent(L"4");
  ip("addr add 10.200.0.1/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([&] { return trace.traced("We are suspending or suspended. Waiting for resume. T="); }));
  ip("addr add 10.200.0.2/32 dev lo");
  EXPECT_EQ(reports(), 0);
  notifier.powerEvent(L"7");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() >= 1; }));
  EXPECT_TRUE(trace.traced("After resume wait. Result was 0. T="));
  EXPECT_EQ(kivtest::readFile(marker).substr(0, kivtest::readFile(marker).find('\n')),
            "127.0.0.1 10.200.0.1 10.200.0.2 ::1|10.200.0.1 10.200.0.2");
}

TEST_F(IPMonitorTest, SuspendGateGivesUpAfterItsBound) {
  notifier->resumeWaitMs = 200;
  start();
  notifier.powerEvent(L"4");
  ip("addr add 10.200.0.1/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() == 1; }));
  EXPECT_TRUE(trace.traced("After resume wait. Result was 258. T="));
}

TEST_F(IPMonitorTest, WithoutAnIPv4SocketIPv6ChangesKeepTheirOwnSlot) {
  failStep(AddressFamily::kIPv4, AddressChangeStep::kOpen);
  start();
  EXPECT_TRUE(trace.traced("CTQNotify::IPThreadProcMethod: socket failed for IPv4 socket. No IPv4 support."));
  ip("addr add fd00::1/128 dev lo nodad");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() >= 1; }));
  EXPECT_TRUE(trace.traced("IPv6 address change detected"));
  EXPECT_FALSE(trace.traced("IPv4 address change detected"));
}

TEST_F(IPMonitorTest, NotificationsThatLeaveAFamilysAddressesAsTheyWereAreIgnored) {
  watchertest::setIpChangeScript(inShell("echo run >> " + marker));
  start();
  ip("addr add 10.200.0.1/32 dev lo valid_lft 1000 preferred_lft 1000");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() == 1; }));
  // A lease renewal: the kernel announces the new lifetime like a new address.
  ip("addr change 10.200.0.1/32 dev lo valid_lft 2000 preferred_lft 2000");
  ASSERT_TRUE(kivtest::waitFor([&] { return trace.traced("IPv4 notification left the address list as it was; ignored"); }));

  ip("addr add fd00::1/128 dev lo nodad valid_lft 1000 preferred_lft 1000");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() == 2; }));
  ip("addr change fd00::1/128 dev lo nodad valid_lft 2000 preferred_lft 2000");
  ASSERT_TRUE(kivtest::waitFor([&] { return trace.traced("IPv6 notification left the address list as it was; ignored"); }));

  // A real change after the refreshes still counts.
  ip("addr del 10.200.0.1/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() == 3; }));
  notifier.shutdown();
  EXPECT_EQ(reports(), 3);
  EXPECT_EQ(lineCount(marker), 3);
  EXPECT_EQ(trace.count("address change detected"), 3);
}

TEST_F(IPMonitorTest, TheListTracedAtStartIsTheBaselineOfTheFirstChange) {
  ip("addr add 10.200.0.1/32 dev lo valid_lft 1000 preferred_lft 1000");
  start();
  ip("addr change 10.200.0.1/32 dev lo valid_lft 2000 preferred_lft 1500");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() > 0 || trace.traced("IPv4 notification left the address list as it was; ignored"); }));
  EXPECT_EQ(reports(), 0) << "a lifetime refresh of an address that was there at start";
  ip("addr add 10.200.0.2/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() >= 1; }));
  notifier.shutdown();
  EXPECT_EQ(reports(), 1) << "only the new address is a change";
}

// A veth pair that runs duplicate-address detection and has no link-local address of its
// own to announce.
void detectingLink() {
  ip("link add kivm0 type veth peer name kivm1");
  for (const char* link : {"kivm0", "kivm1"}) ip(std::string("link set ") + link + " addrgenmode none");
  kivtest::writeFile("/proc/sys/net/ipv6/conf/kivm0/accept_dad", "1\n");
  ip("link set kivm1 up");
  ip("link set kivm0 up");
}

bool addressFlagged(const std::string& flag) {
  std::string shown;
  kivtest::run("ip -6 addr show dev kivm0", &shown);
  return shown.find(flag) != std::string::npos;
}

TEST_F(IPMonitorTest, AnAddressCountsOnceDuplicateAddressDetectionHasPassed) {
  detectingLink();
  watchertest::setIpChangeScript(inShell("echo \"$KIV_ADDRESSES|$KIV_ADDED\" >> " + marker));
  start();
  ip("addr add fd00:2::1/64 dev kivm0");
  // Announced once while tentative: not usable yet, so nothing changed.
  ASSERT_TRUE(kivtest::waitFor([&] { return trace.traced("IPv6 notification left the address list as it was; ignored"); }));
  EXPECT_EQ(reports(), 0);
  // Announced again when detection has found no duplicate: now it is a change.
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() == 1; }));
  EXPECT_FALSE(addressFlagged("tentative"));
  notifier.shutdown();
  EXPECT_EQ(kivtest::readFile(marker), "127.0.0.1 ::1 fd00:2::1|fd00:2::1\n");
}

TEST_F(IPMonitorTest, AnAddressWhoseDetectionFailedNeverCounts) {
  detectingLink();
  ip("addr add fd00:2::1/64 dev kivm1 nodad");  // the peer holds it already
  watchertest::setIpChangeScript(inShell("echo \"$KIV_ADDRESSES\" >> " + marker));
  start();
  ip("addr add fd00:2::1/64 dev kivm0");
  ASSERT_TRUE(kivtest::waitFor([] { return addressFlagged("dadfailed"); }));
  // A change of the other family shows the list the script gets: the peer's copy only.
  ip("addr add 10.200.0.1/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() >= 1; }));
  notifier.shutdown();
  EXPECT_EQ(reports(), 1);
  EXPECT_EQ(kivtest::readFile(marker), "127.0.0.1 10.200.0.1 ::1 fd00:2::1\n");
  // The traced list shows every address: the peer's at start, both copies at the change.
  EXPECT_EQ(trace.count("Notifier: IP address( fd00:2::1 )"), 3);
}

TEST_F(IPMonitorTest, ScriptThatCannotStartIsTracedAsAFailedStart) {
  // Scripts are only started from places no other user can change.
  const servicetest::SafeDirectory safe;
  const std::string missing = safe.path() + "/no-such-script";
  const std::string inMissingDirectory = safe.path() + "/no-such-directory/script";
  const std::string notExecutable = safe.file("not-executable", "echo never\n", 0644);
  // No shell steps in for a script that does not name its interpreter.
  const std::string noInterpreter = safe.file("no-interpreter", "echo never\n");
  start();
  int changes = 0;
  for (const std::string& command : {missing, inMissingDirectory, notExecutable, noInterpreter}) {
    SCOPED_TRACE(command);
    watchertest::setIpChangeScript(wide(command));
    ip("addr add 10.200.0." + std::to_string(++changes) + "/32 dev lo");
    ASSERT_TRUE(kivtest::waitFor([&] { return reports() == changes; }));
    EXPECT_EQ(trace.count("failed to execute ipchangescript (" + command + "): "), 1);
  }
  // A script that ran is not a failed start, whatever its own exit code.
  watchertest::setIpChangeScript(inShell("exit 3"));
  ip("addr add 10.200.0.9/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() == changes + 1; }));
  EXPECT_EQ(trace.count("failed to execute ipchangescript"), 4);
  EXPECT_EQ(trace.count(std::string("): ") + std::strerror(ENOENT)), 2) << "the system's own words";
  EXPECT_FALSE(trace.traced("ipchangescript not run")) << "a missing script is no refusal";
}

TEST_F(IPMonitorTest, IPv6SetUpFailuresLeaveIPv4Watched) {
  struct Case {
    AddressChangeStep step;
    const char* traced;
    bool waitsOnIPv6;
  };
  int n = 0;
  for (const Case& c : {Case{AddressChangeStep::kOpen, "socket failed for IPv6 socket. No IPv6 support.", false},
                        Case{AddressChangeStep::kNonBlocking, "ioctlsocket failed on IPv6 socket", false},
                        Case{AddressChangeStep::kRequest, "WSAIoctl failed for IPv6 socket - WSAGetLastError=1", true},
                        Case{AddressChangeStep::kJoin, "WSAEventSelect failed for IPv6 socket - WSAGetLastError=1", false}}) {
    SCOPED_TRACE(c.traced);
    ++n;
    failStep(AddressFamily::kIPv6, c.step);
    watchertest::TraceSince since;
    watchertest::LoadedNotifier monitor;
    ASSERT_TRUE(monitor.loaded() && monitor.start());
    ASSERT_TRUE(kivtest::waitFor([&] { return since.traced("Notifier: IP monitor thread starting"); }));
    EXPECT_EQ(since.count(c.traced), 1);
    EXPECT_EQ(since.traced("waiting for ip address change event on IPv6 socket"), c.waitsOnIPv6);

    // IPv6 changes go unseen (a socket that never asked for notification gets none even
    // while waited on); IPv4 changes are still seen, and the list then shows the IPv6 one.
    const std::string ipv6 = "fd00::" + std::to_string(n);
    ip("addr add " + ipv6 + "/128 dev lo nodad");
    const int before = monitor.sink.count(5);
    ip("addr add 10.200.0." + std::to_string(n) + "/32 dev lo");
    ASSERT_TRUE(kivtest::waitFor([&] { return monitor.sink.count(5) > before && since.traced("IPv4 address change detected"); }));
    EXPECT_TRUE(since.traced("Notifier: IP address( " + ipv6 + " )"));
    monitor.shutdown();
    EXPECT_FALSE(since.traced("IPv6 address change detected"));
  }
}

TEST_F(IPMonitorTest, FailedWaitIsTracedRetriedAfterAPauseAndEndsAtShutdown) {
  failStep(AddressFamily::kIPv4, AddressChangeStep::kWait);
  watchertest::setIpChangeScript(inShell("echo run >> " + marker));
  start();
  ASSERT_TRUE(kivtest::waitFor([&] { return trace.count("waiting for address changes failed") >= 2; }));
  notifier.shutdown();
  EXPECT_EQ(notifier.sink.reports(), (std::vector<watchertest::Report>{{1, L"", L"", L""}}))
      << "a failed wait is no change";
  EXPECT_FALSE(std::filesystem::exists(marker));
  // Without the pause the failures would repeat at once, thousands of times by now.
  EXPECT_LT(trace.count("waiting for address changes failed"), 30);
}

}  // namespace
