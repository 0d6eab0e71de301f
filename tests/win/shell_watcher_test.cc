// The shell watcher of a notifier on Windows NT 4.0 against the real process list: it
// finds the shell that the Winlogon "Shell" value names among the running processes (the
// prefix's explorer.exe, or a test shell), and reports the logoff when that shell ends.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ITQPlugin.h"
#include "notifier/RecordingSink.h"
#include "platform/process_list.h"
#include "platform/version.h"
#include "probe_runner.h"
#include "support/kiv_test.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqUtilities.h"

namespace {

using notifiertest::Event;

const wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

std::wstring readShellValue() {
  wchar_t data[MAX_PATH] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kWinlogonKey, L"Shell", RRF_RT_REG_SZ, nullptr, data,
                   &size) != ERROR_SUCCESS) {
    return {};
  }
  return data;
}

void writeShellValue(const std::wstring& shell) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kWinlogonKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, L"Shell", 0, REG_SZ, reinterpret_cast<const BYTE*>(shell.c_str()),
                 static_cast<DWORD>((shell.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

// A notifier made through the factory as the host makes it, behaving as on NT 4.0, where
// it watches the shell. Its shell watcher starts before the bus, so it runs whatever the
// bus does.
class LegacyNotifier {
 public:
  LegacyNotifier() {
    kiv::platform::testing::setWindowsVersion("4.0");
    module_ = TQFactory_LoadExW(L"tqNotify", 1);
    if (module_ != nullptr) {
      notifier_ = dynamic_cast<CTQNotify*>(
          TQFactory_CreateInstanceExW(module_, "ITQPlugin", 2, nullptr, 1));
    }
  }
  ~LegacyNotifier() {
    if (notifier_ != nullptr) {
      if (started_) shutdown();
      notifier_->Release();
    }
    if (module_ != nullptr) TQFactory_Unload(module_);
    kiv::platform::testing::setWindowsVersion(nullptr);
  }
  CTQNotify* operator->() const { return notifier_; }
  void start() {
    PluginInitInfo info;
    info.sink = &sink;
    started_ = true;
    notifier_->Initialize(std::move(info));
  }
  void shutdown() {
    started_ = false;
    notifier_->ShutdownW(TQStringW(), 0);
  }

  notifiertest::RecordingSink sink;

 private:
  HTQMODULE module_ = nullptr;
  CTQNotify* notifier_ = nullptr;
  bool started_ = false;
};

class ShellWatcher : public ::testing::Test {
 protected:
  void SetUp() override { savedShell_ = readShellValue(); }
  void TearDown() override {
    if (shell_ != nullptr) {
      TerminateProcess(shell_, 1);
      WaitForSingleObject(shell_, 60000);
      CloseHandle(shell_);
    }
    writeShellValue(savedShell_.empty() ? L"explorer.exe" : savedShell_);
  }
  void startTestShell() {
    std::wstring commandLine = L"\"" + wintest::programDirectory() + L"\\kivtestshell.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info));
    CloseHandle(info.hThread);
    shell_ = info.hProcess;
  }
  void endTestShell() {
    TerminateProcess(shell_, 1);
    WaitForSingleObject(shell_, 60000);
  }

  HANDLE shell_ = nullptr;

 private:
  std::wstring savedShell_;
};

// The watcher looks for the shell once as soon as it starts, before it waits on anything,
// and reports a logoff at once when it finds none; so a shutdown that reports nothing else
// means the shell was found.
TEST_F(ShellWatcher, FindsThePrefixExplorerNamedByWinlogon) {
  ASSERT_EQ(readShellValue().size(), std::wstring(L"explorer.exe").size());
  // Wine starts its explorer.exe, the desktop's process, for the first program that asks
  // for the desktop, and answers once it runs.
  ASSERT_NE(GetDesktopWindow(), nullptr);
  bool running = false;
  for (const auto& process : kiv::platform::listProcesses()) {
    running = running || lstrcmpiA(process.imageName.c_str(), "explorer.exe") == 0;
  }
  ASSERT_TRUE(running);
  LegacyNotifier notifier;
  ASSERT_EQ(notifier->watchShell, 1);
  notifier.start();
  notifier.shutdown();
  EXPECT_EQ(notifier.sink.events(), (std::vector<Event>{{1, L"", L"", L""}}));
}

TEST_F(ShellWatcher, EndOfTheWatchedShellReportsTheLogoff) {
  writeShellValue(L"kivtestshell.exe");
  startTestShell();
  {
    LegacyNotifier notifier;
    notifier.start();
    notifier.shutdown();
    EXPECT_EQ(notifier.sink.events(), (std::vector<Event>{{1, L"", L"", L""}})) << "found";
  }
  // The watcher waits on the shell it found; its end is the user's logoff. (A logon
  // message here would leave the watcher's logon event set and make it report twice.)
  LegacyNotifier notifier;
  notifier.start();
  endTestShell();
  ASSERT_TRUE(kivtest::waitFor([&] { return notifier.sink.count(9) == 1; }));
  notifier.shutdown();
  const std::vector<Event> expected{{3, L"", L"", L""}, {9, L"0", L"", L""}, {1, L"", L"", L""}};
  std::vector<Event> reported;
  for (const auto& event : notifier.sink.events()) {
    if (event.code == 1 || event.code == 3 || event.code == 9) reported.push_back(event);
  }
  EXPECT_EQ(reported, expected);
}

}  // namespace
