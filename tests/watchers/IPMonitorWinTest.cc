// The IP change monitor of a running notifier on Windows, from a change of the address list
// to code 5: the script's output and end reach the trace before the report, and past its
// time limit the whole job, a process it started included, is ended first.
// Wine never signals an address change through WSAEventSelect, so the change is the
// platform layer's chosen adapter answer and a signal on the monitor's IPv4 socket.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <chrono>
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
    std::filesystem::create_directories(directory_);
  }
  void TearDown() override {
    // The configuration outlives the test in its home; a later test must not find a script.
    watchertest::setIpChangeScript(L"");
    setTimeLimit(L"");
    kiv::platform::testing::setAdapterAddressesAnswer(std::nullopt);
    WSACleanup();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  // Writes the batch file `lines` make and configures it as the script.
  std::filesystem::path configureScript(const std::string& lines) {
    const auto script = directory_ / "script.cmd";
    {
      std::ofstream out(script);
      out << "@echo off\r\n" << lines;
    }
    watchertest::setIpChangeScript(L"\"" + script.wstring() + L"\"");
    return script;
  }
  static void setTimeLimit(const wchar_t* seconds) {
    TQptr<ITQConfig> config;
    TQUtilities_GetConfigEx(config.fill(), -1);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->setStringW(L"dlox/common/kiv/general", L"ipchangescripttimeout", seconds, 0), 0);
  }
  // One address added to the list, as the monitor sees a change on Wine.
  static void changeAddresses() {
    kiv::platform::testing::setAdapterAddressesAnswer(AddressQueryAnswer{false, {"192.0.2.1", "192.0.2.2"}});
    kiv::platform::testing::signalAddressChange(kiv::platform::AddressFamily::kIPv4);
  }

  const std::filesystem::path directory_ = std::filesystem::path(kivtest::home()) / "script";

 private:
  WSADATA sockets_{};
};

// A limit far beyond the script's run: a cmd.exe slow to start on a loaded machine still
// says everything before the change is reported.
TEST_F(IPMonitorWinTest, TheScriptsLinesAndItsOwnVariablesReachTheTraceBeforeTheChangeIsReported) {
  configureScript(
      "echo added %KIV_ADDED%\r\necho all %KIV_ADDRESSES%\r\necho removed [%KIV_REMOVED%]\r\n"
      "echo event %KIV_EVENT%\r\necho home %KIV_HOME%\r\necho to error 1>&2\r\nexit /b 3\r\n");
  setTimeLimit(L"300");

  TraceSince trace;
  LoadedNotifier notifier;
  ASSERT_TRUE(notifier.loaded());
  bool endedBeforeReport = false;
  notifier.sink.onReport([&](int code) {
    if (code == 5) endedBeforeReport = trace.traced(") ended: exit 3 after ");
  });
  ASSERT_TRUE(notifier.start());
  ASSERT_TRUE(kivtest::waitFor([&] { return trace.traced("Notifier: IP monitor thread starting"); }));

  changeAddresses();
  ASSERT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(5) == 1; }, std::chrono::seconds(300)))
      << "the change was not reported";
  EXPECT_EQ(trace.count("IPv4 address change detected"), 1);
  EXPECT_EQ(trace.count("ipchangescript still ran"), 0);
  EXPECT_EQ(trace.count(") stdout: added 192.0.2.2"), 1);
  EXPECT_EQ(trace.count(") stdout: all 192.0.2.1 192.0.2.2"), 1);
  EXPECT_EQ(trace.count(") stdout: removed []"), 1);
  EXPECT_EQ(trace.count(") stdout: event address-change"), 1);
  // The host's own variables reach the script beside the ones put over them.
  EXPECT_EQ(trace.count(") stdout: home " + kivtest::home()), 1);
  EXPECT_EQ(trace.count(") stderr: to error"), 1);
  // The variables went into the script's environment only, not the host's.
  for (const wchar_t* name : {L"KIV_EVENT", L"KIV_ADDRESSES", L"KIV_ADDED", L"KIV_REMOVED"}) {
    EXPECT_EQ(GetEnvironmentVariableW(name, nullptr, 0), 0u) << kiv::utf::narrow(name);
  }
  EXPECT_TRUE(endedBeforeReport);
  notifier.shutdown();
  EXPECT_EQ(notifier.sink.count(5), 1);
}

// Nothing here waits for the script to say anything: however late cmd.exe gets going, the
// limit ends the job, and whatever it has started by then ends with it.
TEST_F(IPMonitorWinTest, AScriptPastItsTimeLimitEndsWithItsChildrenAndTheChangeIsStillReported) {
  // A sleeper under a name nothing else uses, so that the test finds its own child.
  const std::string child = "kivscriptchild" + std::to_string(GetCurrentProcessId()) + ".exe";
  const std::string sleeper = (directory_ / child).string();
  std::filesystem::copy_file(KIV_SLEEPER, directory_ / child, std::filesystem::copy_options::overwrite_existing);
  configureScript("start \"\" /b \"" + sleeper + "\" 600\r\n\"" + sleeper + "\" 600\r\n");
  setTimeLimit(L"1");

  TraceSince trace;
  LoadedNotifier notifier;
  ASSERT_TRUE(notifier.loaded());
  // Whether the script's end was traced when the change was reported, with the code a
  // process ended at its time limit leaves.
  bool endedBeforeReport = false;
  notifier.sink.onReport([&](int code) {
    if (code == 5) endedBeforeReport = trace.traced(") ended: exit 1460 after ");
  });
  ASSERT_TRUE(notifier.start());
  ASSERT_TRUE(kivtest::waitFor([&] { return trace.traced("Notifier: IP monitor thread starting"); }));

  changeAddresses();
  ASSERT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(5) == 1; })) << "the change was not reported";
  EXPECT_EQ(trace.count("IPv4 address change detected"), 1);
  EXPECT_EQ(trace.count("ipchangescript still ran after 1 s"), 1);
  EXPECT_TRUE(endedBeforeReport);
  EXPECT_TRUE(kivtest::waitFor([&] { return !running(child); })) << "a process the script started survived";
  notifier.shutdown();
  EXPECT_EQ(notifier.sink.count(5), 1);
}

}  // namespace
