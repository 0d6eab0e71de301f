// Helpers for the watcher tests: a recording host sink, a notifier loaded and driven the
// way the host does it, a network namespace of the test's own, and settings.
#pragma once

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sched.h>
#endif

#include <cstring>
#include <cwchar>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ITQConfig.h"
#include "ITQEventSink.h"
#include "platform/registry.h"
#include "platform/version.h"
#include "support/kiv_test.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqUtilities.h"

namespace watchertest {

// Windows NT 4.0 for the scope's life, the platform whose notifier watches the shell.
// Constructed before the notifier, which decides at construction whether to watch.
struct LegacyPlatform {
  LegacyPlatform() { kiv::platform::testing::setWindowsVersion("4.0"); }
  ~LegacyPlatform() { kiv::platform::testing::setWindowsVersion(nullptr); }
};

struct Report {
  int code;
  std::wstring s1, s2, s3;
  bool operator==(const Report&) const = default;
};

class RecordingSink : public ITQEventSink {
 public:
  bool OnEventA(int, void*, const TQStringA&, const TQStringA&, const TQStringA&) override { return true; }
  bool OnEventW(int code, void*, const TQStringW& s1, const TQStringW& s2, const TQStringW& s3) override {
    std::unique_lock guard(mutex_);
    if (hook_) hook_(code);  // before recording, so the hook sees the state at the report
    reports_.push_back({code, s1.str(), s2.str(), s3.str()});
    return true;
  }
  std::vector<Report> reports() const {
    std::lock_guard guard(mutex_);
    return reports_;
  }
  int count(int code) const {
    int n = 0;
    for (const auto& report : reports()) n += report.code == code;
    return n;
  }
  void onReport(std::function<void(int code)> hook) {
    std::lock_guard guard(mutex_);
    hook_ = std::move(hook);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Report> reports_;
  std::function<void(int)> hook_;
};

// A notifier created through the factory from libtqNotify.so, as the host creates it.
class LoadedNotifier {
 public:
  LoadedNotifier() : module_(TQFactory_LoadExW(L"tqNotify", 1)) {
    if (module_ != nullptr)
      notifier_ = dynamic_cast<CTQNotify*>(TQFactory_CreateInstanceExW(module_, "ITQPlugin", 2, nullptr, 1));
  }
  ~LoadedNotifier() {
    if (notifier_ != nullptr) {
      if (running_) shutdown();
      notifier_->Release();
    }
    if (module_ != nullptr) TQFactory_Unload(module_);
  }
  CTQNotify* operator->() const { return notifier_; }
  bool loaded() const { return notifier_ != nullptr; }
  bool start() {
    PluginInitInfo info;
    info.sink = &sink;
    running_ = true;  // even a failed start-up leaves threads for the shutdown
    return notifier_->Initialize(std::move(info));
  }
  void shutdown() {
    running_ = false;
    notifier_->ShutdownW(TQStringW(), 0);
  }
  void powerEvent(const wchar_t* event) { notifier_->OnEventW(16, nullptr, event, L"", L""); }

  RecordingSink sink;

 private:
  HTQMODULE module_;
  CTQNotify* notifier_ = nullptr;
  bool running_ = false;
};

// The trace lines written since it was made. All tests of a program share one process and
// one trace file, so each test looks at its own lines only.
class TraceSince {
 public:
  TraceSince() : start_(kivtest::traceLines().size()) {}
  int count(const std::string& text) const {
    const auto lines = kivtest::traceLines();
    int n = 0;
    for (std::size_t i = start_; i < lines.size(); ++i) n += lines[i].find(text) != std::string::npos;
    return n;
  }
  bool traced(const std::string& text) const { return count(text) > 0; }

 private:
  std::size_t start_;
};

#ifndef _WIN32
inline void ip(const std::string& arguments) {
  std::string output;
  ASSERT_EQ(kivtest::run("ip " + arguments + " 2>&1", &output), 0) << "ip " << arguments << ": " << output;
}

// Moves this process into a network namespace of its own with "lo" up. False, with the
// reason, where that is not permitted; the host's interfaces are never touched then.
inline bool enterFreshNetworkNamespace(std::string* why) {
  if (::unshare(CLONE_NEWNET) != 0) {
    *why = std::string("needs root or CAP_SYS_ADMIN for a network namespace: ") + std::strerror(errno);
    return false;
  }
  ip("link set lo up");
  return true;
}
#endif

inline void setIpChangeScript(const std::wstring& commandLine) {
  TQptr<ITQConfig> config;
  TQUtilities_GetConfigEx(config.fill(), -1);
  ASSERT_TRUE(config);
  EXPECT_EQ(config->setStringW(L"dlox/common/kiv/general", L"ipchangescript", commandLine.c_str(), 0), 0);
}

// Sets the Winlogon "Shell" value; null removes it.
inline void setShellValue(const wchar_t* shell) {
  using namespace kiv::platform;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(kHKeyLocalMachine, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                            kKeyAllAccess, &key), kErrorSuccess);
  if (shell == nullptr) {
    RegDeleteValueW(key, L"Shell");
  } else {
    RegSetValueExW(key, L"Shell", kRegSz, shell, static_cast<uint32_t>((std::wcslen(shell) + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(key);
}
inline void setShellValue(const std::wstring& shell) { setShellValue(shell.c_str()); }

// Puts the Winlogon "Shell" value back as it was when made. The registry is the test's own
// on Linux but the system's on Windows, where other tests need the real shell named.
class ShellValueKept {
 public:
  ShellValueKept() {
    using namespace kiv::platform;
    HKEY key = nullptr;
    if (RegCreateKeyExW(kHKeyLocalMachine, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", kKeyRead,
                        &key) != kErrorSuccess) {
      return;
    }
    wchar_t value[512] = {};
    uint32_t type = 0, size = sizeof value - sizeof(wchar_t);
    if (RegQueryValueExW(key, L"Shell", &type, value, &size) == kErrorSuccess && type == kRegSz) saved_ = value;
    existed_ = !saved_.empty();
    RegCloseKey(key);
  }
  ~ShellValueKept() {
    if (existed_) {
      setShellValue(saved_);
    } else {
      setShellValue(nullptr);
    }
  }
  ShellValueKept(const ShellValueKept&) = delete;
  ShellValueKept& operator=(const ShellValueKept&) = delete;

 private:
  std::wstring saved_;
  bool existed_ = false;
};

inline std::string tempPath(const std::string& name) { return kivtest::home() + "/" + name; }
inline std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

inline int lineCount(const std::string& path) {
  std::ifstream in(path);
  int lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

}  // namespace watchertest
