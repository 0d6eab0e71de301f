// The IP change monitor of a running notifier, against real address changes in a network
// namespace of the test's own.
#include "WatcherHarness.h"
#include "platform/address_change.h"

namespace {

using watchertest::ip;
using watchertest::lineCount;
using watchertest::wide;

class IPMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!watchertest::enterFreshNetworkNamespace(&why)) GTEST_SKIP() << why;
    ASSERT_TRUE(notifier.loaded());
  }
  void TearDown() override {
    kiv::platform::testing::failAddressChangeStep(kiv::platform::AddressFamily::kIPv4,
                                                  kiv::platform::testing::AddressChangeStep::kNone);
  }
  // Returns once the monitor listens, so that no change is missed.
  void start() {
    ASSERT_TRUE(notifier.start());
    ASSERT_TRUE(kivtest::waitFor([] { return kivtest::traced("Notifier: IP monitor thread starting"); }));
  }
  int reports() const { return notifier.sink.count(5); }

  const std::string marker = watchertest::tempPath("script-runs");
  watchertest::LoadedNotifier notifier;
};

TEST_F(IPMonitorTest, ChangesOfEitherFamilyRunTheScriptBeforeTheReport) {
  watchertest::setIpChangeScript(L"echo run >> " + wide(marker));
  std::vector<int> scriptRunsAtReport;  // guarded by the sink's lock
  notifier.sink.onReport([&](int code) {
    if (code == 5) scriptRunsAtReport.push_back(lineCount(marker));
  });
  start();

  ip("addr add 10.200.0.1/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() >= 1; }));
  EXPECT_TRUE(kivtest::traced("CTQNotify::IPThreadProcMethod: IPv4 address change detected"));
  EXPECT_TRUE(kivtest::traced("Notifier: IP address( 10.200.0.1 )"));
  EXPECT_TRUE(kivtest::traced("CTQNotify::IPThreadProcMethod: ip change detected: executing ipchangescript: echo run"));

  const int before = reports();
  ip("addr add fd00::1/128 dev lo nodad");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() > before && kivtest::traced("IPv6 address change detected"); }));
  EXPECT_TRUE(kivtest::traced("CTQNotify::IPThreadProcMethod: IPv6 address change detected"));
  EXPECT_TRUE(kivtest::traced("Notifier: IP address( fd00::1 )"));

  notifier.shutdown();  // no report may reach the hook after this test's locals are gone
  for (std::size_t i = 0; i < scriptRunsAtReport.size(); ++i)
    EXPECT_EQ(scriptRunsAtReport[i], static_cast<int>(i + 1)) << "report " << i;
}

TEST_F(IPMonitorTest, ChangesDuringAHandlingGiveExactlyOneMore) {
  watchertest::setIpChangeScript(L"echo run >> " + wide(marker) + L"; sleep 1");
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
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() >= 3 && kivtest::traced("IPv6 address change detected"); }));
  EXPECT_EQ(kivtest::countTrace("IPv4 address change detected"), 2);
}

TEST_F(IPMonitorTest, ShutdownWaitsForARunningScript) {
  watchertest::setIpChangeScript(L"echo start >> " + wide(marker) + L"; sleep 1; echo done >> " + wide(marker));
  start();
  ip("addr add 10.200.0.1/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([&] { return lineCount(marker) == 1; }));
  notifier.shutdown();
  EXPECT_EQ(kivtest::readFile(marker), "start\ndone\n");
  EXPECT_EQ(notifier.sink.reports(), (std::vector<watchertest::Report>{{5, L"", L"", L""}, {1, L"", L"", L""}}));
}

TEST_F(IPMonitorTest, ChangeWhileSuspendedWaitsForTheResume) {
  start();
  notifier.powerEvent(L"4");
  ip("addr add 10.200.0.1/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([] { return kivtest::traced("We are suspending or suspended. Waiting for resume. T="); }));
  EXPECT_EQ(reports(), 0);
  notifier.powerEvent(L"7");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() == 1; }));
  EXPECT_TRUE(kivtest::traced("After resume wait. Result was 0. T="));
}

TEST_F(IPMonitorTest, SuspendGateGivesUpAfterItsBound) {
  notifier->resumeWaitMs = 200;
  start();
  notifier.powerEvent(L"4");
  ip("addr add 10.200.0.1/32 dev lo");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() == 1; }));
  EXPECT_TRUE(kivtest::traced("After resume wait. Result was 258. T="));
}

TEST_F(IPMonitorTest, WithoutAnIPv4SocketIPv6ChangesKeepTheirOwnSlot) {
  kiv::platform::testing::failAddressChangeStep(kiv::platform::AddressFamily::kIPv4,
                                                kiv::platform::testing::AddressChangeStep::kOpen);
  start();
  EXPECT_TRUE(kivtest::traced("CTQNotify::IPThreadProcMethod: socket failed for IPv4 socket. No IPv4 support."));
  ip("addr add fd00::1/128 dev lo nodad");
  ASSERT_TRUE(kivtest::waitFor([&] { return reports() >= 1; }));
  EXPECT_TRUE(kivtest::traced("IPv6 address change detected"));
  EXPECT_FALSE(kivtest::traced("IPv4 address change detected"));
}

}  // namespace
