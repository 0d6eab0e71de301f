// Session logons and logoffs from the utmp file. The file's directory is watched with
// inotify (login programs rewrite the file in place, but some replace it), and after every
// change the sessions are read again: a session number not seen before is a logon, one that
// has gone is a logoff. Numbers are the terminal-services component's, so the plug-in finds
// the same sessions when it asks for their users.
#include "tools/kiv/utmp_source.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "ITQEventSink.h"
#include "platform/sessions.h"
#include "platform/linux/unique_fd.h"

namespace kiv::tool {
namespace {

std::set<uint32_t> currentSessions() {
  std::set<uint32_t> numbers;
  for (const auto& session : kiv::platform::listSessions()) numbers.insert(session.number);
  return numbers;
}

class UtmpSource : public HostEventSource {
 public:
  UtmpSource(HostEventDelivery deliver, std::string path)
      : deliver_(std::move(deliver)), path_(std::move(path)) {}

  ~UtmpSource() override {
    if (thread_.joinable()) {
      uint64_t one = 1;
      (void)!write(stop_.get(), &one, sizeof one);
      thread_.join();
    }
  }

  std::string name() const override { return "utmp " + path_ + " (sessions only)"; }

  bool setUp() {
    if (access(path_.c_str(), R_OK) != 0) return false;
    stop_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    inotify_.reset(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (!stop_ || !inotify_) return false;
    const std::filesystem::path file(path_);
    fileName_ = file.filename().string();
    const std::string directory = file.parent_path().empty() ? "." : file.parent_path().string();
    if (inotify_add_watch(inotify_.get(), directory.c_str(),
                          IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE) < 0) {
      return false;
    }
    known_ = currentSessions();
    thread_ = std::thread([this] { run(); });
    return true;
  }

 private:
  void run() {
    for (;;) {
      pollfd fds[2] = {{inotify_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[1].revents & POLLIN) return;
      if ((fds[0].revents & POLLIN) && drainConcernsFile()) rescan();
    }
  }

  // Reads every pending notice; true when one of them is about the utmp file.
  bool drainConcernsFile() {
    alignas(inotify_event) char buffer[4096];
    bool concerns = false;
    for (ssize_t n; (n = read(inotify_.get(), buffer, sizeof buffer)) > 0;) {
      for (ssize_t offset = 0; offset < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
        if (event->len > 0 && fileName_ == event->name) concerns = true;
        offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return concerns;
  }

  void rescan() {
    const std::set<uint32_t> now = currentSessions();
    for (uint32_t number : known_) {
      if (!now.count(number)) deliver_(kTQEventSessionChange, L"6", std::to_wstring(number));
    }
    for (uint32_t number : now) {
      if (!known_.count(number)) deliver_(kTQEventSessionChange, L"5", std::to_wstring(number));
    }
    known_ = now;
  }

  HostEventDelivery deliver_;
  std::string path_;
  std::string fileName_;
  UniqueFd stop_;
  UniqueFd inotify_;
  std::set<uint32_t> known_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<HostEventSource> startUtmpSource(HostEventDelivery deliver) {
  auto source = std::make_unique<UtmpSource>(std::move(deliver), kiv::platform::utmpPath());
  if (!source->setUp()) return nullptr;
  return source;
}

}  // namespace kiv::tool
