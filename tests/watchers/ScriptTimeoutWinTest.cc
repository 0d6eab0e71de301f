// The address-change script on Windows, run as the monitor runs it: its output reaches the
// trace, and past its time limit its whole job, a process it started included, is ended.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "ITQConfig.h"
#include "platform/process_list.h"
#include "support/kiv_test.h"
#include "tqNotify/framework/TQptr.h"
#include "tqNotify/notifier/ChangeScript.h"
#include "tqUtilities.h"

namespace {

void configure(const wchar_t* key, const std::wstring& text) {
  TQptr<ITQConfig> config;
  TQUtilities_GetConfigEx(config.fill(), -1);
  ASSERT_TRUE(config);
  ASSERT_EQ(config->setStringW(L"dlox/common/kiv/general", key, text.c_str(), 0), 0);
}

bool running(const std::string& image) {
  for (const auto& process : kiv::platform::listProcesses()) {
    if (process.imageName == image) return true;
  }
  return false;
}

TEST(ScriptOnWindows, PastItsTimeLimitTheWholeJobEndsChildrenIncluded) {
  const std::filesystem::path directory = std::filesystem::path(kivtest::home()) / "script";
  std::filesystem::create_directories(directory);
  // A sleeper under a name nothing else uses, so that the test finds its own child.
  const std::string child = "kivscriptchild" + std::to_string(GetCurrentProcessId()) + ".exe";
  std::filesystem::copy_file(KIV_SLEEPER, directory / child, std::filesystem::copy_options::overwrite_existing);
  const auto script = directory / "slow.cmd";
  {
    std::ofstream out(script);
    out << "@echo off\r\necho started\r\necho to error 1>&2\r\nstart \"\" /b \"" << (directory / child).string()
        << "\" 600\r\n\"" << (directory / child).string() << "\" 600\r\n";
  }
  configure(L"ipchangescript", L"\"" + script.wstring() + L"\"");
  configure(L"ipchangescripttimeout", L"1");

  const auto run = kiv::notifier::runChangeScript({L"test", "address-change", {"192.0.2.1"}, {"192.0.2.1"}, {}});
  EXPECT_EQ(run.outcome, kiv::notifier::ScriptOutcome::kTimedOut);
  EXPECT_EQ(kivtest::countTrace("test: ipchangescript still ran after 1 s"), 1);
  EXPECT_EQ(kivtest::countTrace(") stdout: started"), 1);
  EXPECT_EQ(kivtest::countTrace(") stderr: to error"), 1);
  EXPECT_EQ(kivtest::countTrace(") ended: exit 1460 after "), 1);
  EXPECT_TRUE(kivtest::waitFor([&] { return !running(child); })) << "a process the script started survived";
  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
}

}  // namespace
