// A fixture that runs the real notifier as its host would: through the factory, with a
// recording sink, the real bus and the real units database in the test's KIV_HOME.
#pragma once

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TQSMCAPI.h"
#include "notifier/RecordingSink.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/version.h"
#include "support/kiv_test.h"
#include "support/test_process.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqNotify/notifier/ProcessState.h"
#include "tqNotify/tqNotify.h"

namespace notifiertest {

namespace reg = kiv::platform;

// A string value of HKLM written for one test and put back as it was when the test ends:
// on Windows every test program of a run shares the system's registry.
class RegistryStringChange {
 public:
  RegistryStringChange(const wchar_t* key, const wchar_t* name, const std::wstring& value)
      : key_(key), name_(name) {
    previous_ = read();
    write(value);
  }
  ~RegistryStringChange() {
    if (previous_) {
      write(*previous_);
    } else if (reg::RegOpenKeyW(reg::kHKeyLocalMachine, key_.c_str(), &handle_) == 0) {
      reg::RegDeleteValueW(handle_, name_.c_str());
      reg::RegCloseKey(handle_);
    }
  }
  RegistryStringChange(const RegistryStringChange&) = delete;
  RegistryStringChange& operator=(const RegistryStringChange&) = delete;

 private:
  std::optional<std::wstring> read() {
    if (reg::RegOpenKeyW(reg::kHKeyLocalMachine, key_.c_str(), &handle_) != 0) return std::nullopt;
    std::wstring data(1024, L'\0');
    uint32_t size = static_cast<uint32_t>(data.size() * sizeof(wchar_t));
    const long result = reg::RegQueryValueExW(handle_, name_.c_str(), nullptr, data.data(), &size);
    reg::RegCloseKey(handle_);
    if (result != 0) return std::nullopt;
    data.resize(std::wcslen(data.c_str()));
    return data;
  }
  void write(const std::wstring& value) {
    ASSERT_EQ(reg::RegCreateKeyExW(reg::kHKeyLocalMachine, key_.c_str(), reg::kKeyAllAccess, &handle_), 0);
    const auto bytes = static_cast<uint32_t>((value.size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(reg::RegSetValueExW(handle_, name_.c_str(), reg::kRegSz, value.c_str(), bytes), 0);
    reg::RegCloseKey(handle_);
  }

  std::wstring key_, name_;
  std::optional<std::wstring> previous_;
  reg::HKEY handle_ = nullptr;
};

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
      kivtest::killProcess(shell_->pid());
      shell_->wait(kiv::platform::kInfinite);
    }
    kiv::platform::testing::setWindowsVersion(nullptr);
    while (!registryChanges_.empty()) registryChanges_.pop_back();
  }

  // On older versions the shell watcher runs and reports a logoff when no shell process
  // is found; a process that runs for the whole test stands in for the shell.
  void keepShellRunning() {
#ifdef _WIN32
    const std::string program = kivtest::binDir() + "/kivtestshell.exe";
    shell_ = kiv::platform::Process::startHidden(std::wstring(program.begin(), program.end()));
    const wchar_t* name = L"kivtestshell.exe";
#else
    shell_ = kiv::platform::Process::startHidden(L"sleep 1000");
    const wchar_t* name = L"sleep";
#endif
    ASSERT_TRUE(shell_);
    registryChanges_.push_back(std::make_unique<RegistryStringChange>(
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", L"Shell", name));
  }
  // On Windows 2000 an installed logon library means no shell watching.
  void markWinLogonLibraryInstalled() {
    registryChanges_.push_back(std::make_unique<RegistryStringChange>(
        L"SOFTWARE\\Veltrana\\Orvex DLOX\\Agent", L"WinLogonDLLInstalled", L"1"));
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
  std::vector<std::unique_ptr<RegistryStringChange>> registryChanges_;
};

}  // namespace notifiertest
