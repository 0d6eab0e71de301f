// Helpers for the watcher tests (see WatcherHarness.h).
#include "WatcherHarness.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "ITQConfig.h"
#include "platform/registry.h"
#include "support/kiv_test.h"
#include "tqNotify/framework/TQptr.h"
#include "tqUtilities.h"

namespace watchertest {

bool RecordingSink::OnEventA(int code, void* sender, const TQStringA& s1, const TQStringA& s2,
                             const TQStringA& s3) {
  TQStringW w1, w2, w3;
  w1.assign_mbcs(s1.c_str());
  w2.assign_mbcs(s2.c_str());
  w3.assign_mbcs(s3.c_str());
  return OnEventW(code, sender, w1, w2, w3);
}

bool RecordingSink::OnEventW(int code, void*, const TQStringW& s1, const TQStringW& s2,
                             const TQStringW& s3) {
  std::function<void(int)> hook;
  {
    std::lock_guard guard(mutex_);
    hook = hook_;
  }
  if (hook) hook(code);
  std::lock_guard guard(mutex_);
  reports_.push_back({code, s1.str(), s2.str(), s3.str()});
  return true;
}

std::vector<Report> RecordingSink::reports() const {
  std::lock_guard guard(mutex_);
  return reports_;
}

int RecordingSink::count(int code) const {
  int n = 0;
  for (const auto& report : reports()) n += report.code == code;
  return n;
}

void RecordingSink::onReport(std::function<void(int)> hook) {
  std::lock_guard guard(mutex_);
  hook_ = std::move(hook);
}

LoadedNotifier::LoadedNotifier() {
  module_ = TQFactory_LoadExW(L"tqNotify", 1);
  if (module_ == nullptr) return;
  ITQImpl* object = TQFactory_CreateInstanceExW(module_, "ITQPlugin", 2, L"watchertest", 1);
  notifier_ = dynamic_cast<CTQNotify*>(object);
  if (notifier_ == nullptr && object != nullptr) object->Release();
}

LoadedNotifier::~LoadedNotifier() {
  if (notifier_ != nullptr) {
    if (running_) shutdown();
    notifier_->Release();
  }
  if (module_ != nullptr) {
    auto terminate = reinterpret_cast<TQTerminateFn>(TQFactory_GetProcAddress(module_, "TQTerminate"));
    if (terminate != nullptr) terminate();
    TQFactory_Unload(module_);
  }
}

bool LoadedNotifier::start() {
  PluginInitInfo info;
  info.sink = &sink;
  running_ = true;  // a failed start-up still leaves threads for the shutdown to end
  return notifier_->Initialize(std::move(info));
}

void LoadedNotifier::shutdown() {
  running_ = false;
  notifier_->ShutdownW(TQStringW(), 0);
}

void LoadedNotifier::hostEvent(int code, const wchar_t* s1, const wchar_t* s2) {
  notifier_->OnEventW(code, nullptr, TQStringW(s1), TQStringW(s2), TQStringW());
}

bool enterFreshNetworkNamespace(std::string* why) {
  if (::unshare(CLONE_NEWNET) != 0) {
    *why = std::string("a network namespace of our own is not permitted here (unshare: ") +
           std::strerror(errno) + "); this test needs root or CAP_SYS_ADMIN";
    return false;
  }
  ip("link set lo up");
  return true;
}

void ip(const std::string& arguments) {
  std::string output;
  const int status = kivtest::run("ip " + arguments + " 2>&1", &output);
  ASSERT_EQ(status, 0) << "ip " << arguments << ": " << output;
}

void setIpChangeScript(const std::wstring& commandLine) {
  TQptr<ITQConfig> config;
  TQUtilities_GetConfigEx(config.fill(), -1);
  ASSERT_TRUE(config);
  EXPECT_EQ(config->setStringW(L"dlox/common/kiv/general", L"ipchangescript", commandLine.c_str(), 0), 0);
}

void setShellValue(const wchar_t* shell) {
  using namespace kiv::platform;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(kHKeyLocalMachine, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                            kKeyAllAccess, &key),
            kErrorSuccess);
  const auto bytes = static_cast<uint32_t>((std::wcslen(shell) + 1) * sizeof(wchar_t));
  EXPECT_EQ(RegSetValueExW(key, L"Shell", kRegSz, shell, bytes), kErrorSuccess);
  RegCloseKey(key);
}

std::string tempPath(const std::string& name) { return kivtest::home() + "/" + name; }

int lineCount(const std::string& path) {
  std::ifstream in(path);
  int lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

}  // namespace watchertest
