// The IP change monitor of a running notifier on Windows, from a change of the address list
// to code 5: the script runs in a job, its output reaches the trace, and past its time limit
// the whole job, a process it started included, is ended before the change is reported.
// Wine never signals an address change through WSAEventSelect, so the change is the
// platform layer's chosen adapter answer and a signal on the monitor's IPv4 socket.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "WatcherHarness.h"
#include "platform/address_change.h"
#include "platform/address_list.h"
#include "platform/process_list.h"
#include "platform/utf8.h"

namespace {

using kiv::platform::testing::AddressQueryAnswer;
using watchertest::LoadedNotifier;
using watchertest::TraceSince;

bool running(const std::string& image) {
  for (const auto& process : kiv::platform::listProcesses()) {
    if (process.imageName == image) return true;
  }
  return false;
}

class IPMonitorWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &sockets_), 0);
    kiv::platform::testing::setAdapterAddressesAnswer(AddressQueryAnswer{false, {"192.0.2.1"}});
  }
  void TearDown() override {
    // The configuration outlives the test in its home; a later test must not find a script.
    watchertest::setIpChangeScript(L"");
    TQptr<ITQConfig> config;
    TQUtilities_GetConfigEx(config.fill(), -1);
    if (config) config->setStringW(L"dlox/common/kiv/general", L"ipchangescripttimeout", L"", 0);
    kiv::platform::testing::setAdapterAddressesAnswer(std::nullopt);
    WSACleanup();
  }

 private:
  WSADATA sockets_{};
};

TEST_F(IPMonitorWinTest, AScriptPastItsTimeLimitEndsWithItsChildrenAndTheChangeIsStillReported) {
  const std::filesystem::path directory = std::filesystem::path(kivtest::home()) / "script";
  std::filesystem::create_directories(directory);
  // A sleeper under a name nothing else uses, so that the test finds its own child.
  const std::string child = "kivscriptchild" + std::to_string(GetCurrentProcessId()) + ".exe";
  std::filesystem::copy_file(KIV_SLEEPER, directory / child, std::filesystem::copy_options::overwrite_existing);
  const auto script = directory / "slow.cmd";
  {
    std::ofstream out(script);
    out << "@echo off\r\necho added %KIV_ADDED%\r\necho all %KIV_ADDRESSES%\r\necho removed [%KIV_REMOVED%]\r\n"
        << "echo home %KIV_HOME%\r\necho to error 1>&2\r\nstart \"\" /b \"" << (directory / child).string()
        << "\" 600\r\n\"" << (directory / child).string() << "\" 600\r\n";
  }
  watchertest::setIpChangeScript(L"\"" + script.wstring() + L"\"");
  TQptr<ITQConfig> config;
  TQUtilities_GetConfigEx(config.fill(), -1);
  ASSERT_TRUE(config);
  ASSERT_EQ(config->setStringW(L"dlox/common/kiv/general", L"ipchangescripttimeout", L"1", 0), 0);

  TraceSince trace;
  LoadedNotifier notifier;
  ASSERT_TRUE(notifier.loaded());
  // Whether the script's end was traced when the change was reported.
  bool endedBeforeReport = false;
  notifier.sink.onReport([&](int code) {
    if (code == 5) endedBeforeReport = trace.traced(") ended: exit ");
  });
  ASSERT_TRUE(notifier.start());
  ASSERT_TRUE(kivtest::waitFor([&] { return trace.traced("Notifier: IP monitor thread starting"); }));

  kiv::platform::testing::setAdapterAddressesAnswer(AddressQueryAnswer{false, {"192.0.2.1", "192.0.2.2"}});
  kiv::platform::testing::signalAddressChange(kiv::platform::AddressFamily::kIPv4);
  ASSERT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(5) == 1; })) << "the change was not reported";
  EXPECT_EQ(trace.count("IPv4 address change detected"), 1);
  EXPECT_EQ(trace.count("ipchangescript still ran after 1 s"), 1);
  EXPECT_EQ(trace.count(") stdout: added 192.0.2.2"), 1);
  EXPECT_EQ(trace.count(") stdout: all 192.0.2.1 192.0.2.2"), 1);
  EXPECT_EQ(trace.count(") stdout: removed []"), 1);
  // The host's own variables reach the script beside the ones put over them.
  EXPECT_EQ(trace.count(") stdout: home " + kivtest::home()), 1);
  // The variables went into the script's environment only, not the host's.
  for (const wchar_t* name : {L"KIV_EVENT", L"KIV_ADDRESSES", L"KIV_ADDED", L"KIV_REMOVED"}) {
    EXPECT_EQ(GetEnvironmentVariableW(name, nullptr, 0), 0u) << kiv::utf::narrow(name);
  }
  EXPECT_EQ(trace.count(") stderr: to error"), 1);
  EXPECT_TRUE(endedBeforeReport);
  EXPECT_TRUE(kivtest::waitFor([&] { return !running(child); })) << "a process the script started survived";
  notifier.shutdown();
  EXPECT_EQ(notifier.sink.count(5), 1);
  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
}

}  // namespace
