// A fixture that runs the real notifier as its host would: through the factory, with a
// recording sink, the real bus and the real units database in the test's KIV_HOME.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>

#include "TQSMCAPI.h"
#include "notifier/RecordingSink.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/version.h"
#include "support/kiv_test.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqNotify/notifier/ProcessState.h"
#include "tqNotify/tqNotify.h"

namespace notifiertest {

inline void setRegistryString(const wchar_t* key, const wchar_t* name, const std::wstring& value) {
  namespace reg = kiv::platform;
  reg::HKEY handle = nullptr;
  ASSERT_EQ(reg::RegCreateKeyExW(reg::kHKeyLocalMachine, key, reg::kKeyAllAccess, &handle), 0);
  const auto bytes = static_cast<uint32_t>((value.size() + 1) * sizeof(wchar_t));
  ASSERT_EQ(reg::RegSetValueExW(handle, name, reg::kRegSz, value.c_str(), bytes), 0);
  reg::RegCloseKey(handle);
}

// Sends one message to the notifier's endpoint and answers the callback's status.
inline uint32_t sendToNotifier(const std::string& text) {
  uint32_t status = 0xFFFFFFFF;
  const int result = SmSend("tqNotify", text.c_str(), static_cast<uint32_t>(text.size()), &status, 30000);
  EXPECT_EQ(result, 0) << SmErrorText(result);
  return status;
}

inline std::string logonMessage(const std::string& type, const std::string& user,
                                const std::string& domain, const std::string& session) {
  return "<Notification Type=\"" + type + "\"><User>" + user + "</User><Domain>" + domain +
         "</Domain><computerUserUnitName>.|" + domain + "|" + user +
         "</computerUserUnitName><userUnitName>" + domain + "|" + user +
         "</userUnitName><sessionID>" + session + "</sessionID></Notification>";
}

class NotifierTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (notifier_ != nullptr) stop();
    if (shell_) {
      ::kill(shell_->pid(), SIGKILL);
      shell_->wait(kiv::platform::kInfinite);
    }
    kiv::platform::testing::setWindowsVersion(nullptr);
  }

  // On older versions the shell watcher runs and reports a logoff when no shell process
  // is found; a process that runs for the whole test stands in for the shell.
  void keepShellRunning() {
    shell_ = kiv::platform::Process::startHidden(L"exec sleep 1000");
    ASSERT_TRUE(shell_);
    setRegistryString(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", L"Shell", L"sleep");
  }
  // On Windows 2000 an installed logon library means no shell watching.
  void markWinLogonLibraryInstalled() {
    setRegistryString(L"SOFTWARE\\Veltrana\\Orvex DLOX\\Agent", L"WinLogonDLLInstalled", L"1");
  }

  void create(const char* version) {
    // A shutdown leaves the flag set for the rest of the process; ctest gives every test a
    // process of its own, and this keeps a whole test program run in one process valid.
    tqnotify::terminating = 0;
    kiv::platform::testing::setWindowsVersion(version);
    module_ = TQFactory_LoadExW(L"tqNotify", 1);
    ASSERT_NE(module_, nullptr);
    ITQImpl* object = TQFactory_CreateInstanceExW(module_, "ITQPlugin", 2, L"test", 1);
    notifier_ = dynamic_cast<CTQNotify*>(object);
    ASSERT_NE(notifier_, nullptr);
  }

  void start(const char* version) {
    create(version);
    PluginInitInfo info;
    info.sink = &sink_;
    ASSERT_TRUE(notifier_->Initialize(std::move(info)));
  }

  void shutdown() {
    notifier_->ShutdownW(TQStringW(), 0);
    shutDown_ = true;
  }

  void stop() {
    if (!shutDown_) shutdown();
    notifier_->Release();
    notifier_ = nullptr;
    TQFactory_Unload(module_);
    module_ = nullptr;
  }

  bool waitForEvents(std::size_t count) {
    return kivtest::waitFor([&] { return sink_.events().size() >= count; });
  }

  RecordingSink sink_;
  CTQNotify* notifier_ = nullptr;
  HTQMODULE module_ = nullptr;
  bool shutDown_ = false;
  std::unique_ptr<kiv::platform::Process> shell_;
};

}  // namespace notifiertest
