// Helpers for the watcher tests: a recording host sink, a notifier loaded and driven the
// way the host does it, a fresh network namespace, and configuration and registry setters.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ITQEventSink.h"
#include "ITQPlugin.h"
#include "TQString.h"
#include "tqNotify/notifier/CTQNotify.h"

namespace watchertest {

struct Report {
  int code;
  std::wstring s1, s2, s3;
  bool operator==(const Report&) const = default;
};

class RecordingSink : public ITQEventSink {
 public:
  bool OnEventA(int code, void* sender, const TQStringA& s1, const TQStringA& s2,
                const TQStringA& s3) override;
  bool OnEventW(int code, void* sender, const TQStringW& s1, const TQStringW& s2,
                const TQStringW& s3) override;

  std::vector<Report> reports() const;
  int count(int code) const;
  // Runs on the reporting thread for every report, before it is recorded.
  void onReport(std::function<void(int code)> hook);

 private:
  mutable std::mutex mutex_;
  std::vector<Report> reports_;
  std::function<void(int)> hook_;
};

// A notifier created through the factory from libtqNotify.so and initialised with a sink.
class LoadedNotifier {
 public:
  LoadedNotifier();  // loads and creates; check notifier() before use
  ~LoadedNotifier();  // shuts down if still running, releases, unloads
  LoadedNotifier(const LoadedNotifier&) = delete;
  LoadedNotifier& operator=(const LoadedNotifier&) = delete;

  CTQNotify* notifier() const { return notifier_; }
  bool start();
  void shutdown();
  // Delivers a host event (code 16 power change, ...) as the host does.
  void hostEvent(int code, const wchar_t* s1, const wchar_t* s2 = L"");
  RecordingSink sink;

 private:
  void* module_ = nullptr;
  CTQNotify* notifier_ = nullptr;
  bool running_ = false;
};

// Moves this process into a network namespace of its own with "lo" up. False (with the
// reason in *why) when the system does not allow it; nothing in the host's namespace is
// changed then.
bool enterFreshNetworkNamespace(std::string* why);
// Runs "ip <arguments>" and expects success.
void ip(const std::string& arguments);

void setIpChangeScript(const std::wstring& commandLine);
void setShellValue(const wchar_t* shell);
std::string tempPath(const std::string& name);
int lineCount(const std::string& path);

}  // namespace watchertest
