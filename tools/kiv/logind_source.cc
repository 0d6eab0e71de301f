// Session and power events from systemd-logind. SessionNew and SessionRemoved give session
// logons and logoffs, a session seen in the "closing" state counts as logged off (logind
// keeps it there while its processes linger), ActiveSession changes of seat0 are console
// switches, and PrepareForSleep is suspend and resume. Only sessions of class "user" are
// logons: a display manager's greeter and lock screen run sessions of their own, with no
// user logged on in them. A sleep delay inhibitor is held so
// that the suspend report reaches the plug-in before the machine sleeps.
#include "tools/kiv/logind_source.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "ITQEventSink.h"
#include "platform/sessions.h"
#include "tqUtilities.h"
#include "platform/linux/unique_fd.h"

namespace kiv::tool {
namespace {

constexpr const char* kService = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kSessionPrefix = "/org/freedesktop/login1/session";
constexpr const char* kSeat0Path = "/org/freedesktop/login1/seat/seat0";
// logind does not announce state changes of a session, so "closing" is looked for this often.
constexpr auto kStatePollInterval = std::chrono::seconds(5);

// Windows session-change event numbers the plug-in understands.
constexpr const wchar_t* kConsoleConnect = L"1";
constexpr const wchar_t* kConsoleDisconnect = L"2";
constexpr const wchar_t* kSessionLogon = L"5";
constexpr const wchar_t* kSessionLogoff = L"6";
constexpr const wchar_t* kPowerSuspend = L"4";
constexpr const wchar_t* kPowerResume = L"7";

struct BusDeleter {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusDeleter>;

struct MessageDeleter {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageDeleter>;

// An sd-bus error that frees itself.
struct BusError {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  ~BusError() { sd_bus_error_free(&error); }
  const char* text() const { return error.message ? error.message : "unknown error"; }
};

std::wstring sessionText(const std::string& id) {
  return std::to_wstring(kiv::platform::sessionNumberFromId(id));
}

class LogindSource : public HostEventSource {
 public:
  LogindSource(BusPtr bus, HostEventDelivery deliver)
      : bus_(std::move(bus)), deliver_(std::move(deliver)) {}

  ~LogindSource() override {
    if (thread_.joinable()) {
      uint64_t one = 1;
      (void)!write(stop_.get(), &one, sizeof one);
      thread_.join();
    }
    slots_.clear();
  }

  std::string name() const override { return "logind"; }

  bool setUp() {
    stop_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!stop_ || !listSessions()) return false;
    activeSession_ = readActiveSession();
    if (!subscribe()) return false;
    takeInhibitor();
    thread_ = std::thread([this] { run(); });
    return true;
  }

 private:
  // The session's class; empty when it cannot be read (the session is gone already).
  std::string sessionClass(const char* path) {
    BusError error;
    char* value = nullptr;
    if (sd_bus_get_property_string(bus_.get(), kService, path, "org.freedesktop.login1.Session",
                                   "Class", &error.error, &value) < 0) {
      return {};
    }
    std::string result = value;
    free(value);
    return result;
  }

  // Remembers a session that is a user's logon; false for any other.
  bool track(const char* id, const char* path) {
    const std::string kind = sessionClass(path);
    if (kind != "user") {
      TQUtilities_TraceExW(L"kiv", 3, L"logind: session %hs of class \"%hs\" is no user logon; "
                                      L"not reported", id, kind.c_str());
      return false;
    }
    sessions_[id] = path;
    return true;
  }

  // User sessions that exist now are remembered, not reported.
  bool listSessions() {
    BusError error;
    sd_bus_message* raw = nullptr;
    if (sd_bus_call_method(bus_.get(), kService, kManagerPath, kManager, "ListSessions",
                           &error.error, &raw, "") < 0) {
      return false;
    }
    MessagePtr reply(raw);
    if (sd_bus_message_enter_container(reply.get(), 'a', "(susso)") < 0) return false;
    const char* id = nullptr;
    const char* user = nullptr;
    const char* seat = nullptr;
    const char* path = nullptr;
    uint32_t uid = 0;
    while (sd_bus_message_read(reply.get(), "(susso)", &id, &uid, &user, &seat, &path) > 0) {
      track(id, path);
    }
    return true;
  }

  std::string readActiveSession() {
    BusError error;
    sd_bus_message* raw = nullptr;
    if (sd_bus_get_property(bus_.get(), kService, kSeat0Path, "org.freedesktop.login1.Seat",
                            "ActiveSession", &error.error, &raw, "(so)") < 0) {
      return {};
    }
    MessagePtr reply(raw);
    const char* id = nullptr;
    const char* path = nullptr;
    if (sd_bus_message_read(reply.get(), "(so)", &id, &path) < 0 || id == nullptr) return {};
    return id;
  }

  bool subscribe() {
    struct Match {
      const char* member;
      sd_bus_message_handler_t handler;
    };
    const Match matches[] = {{"SessionNew", &LogindSource::onSessionNew},
                             {"SessionRemoved", &LogindSource::onSessionRemoved},
                             {"PrepareForSleep", &LogindSource::onPrepareForSleep}};
    for (const auto& match : matches) {
      sd_bus_slot* slot = nullptr;
      if (sd_bus_match_signal(bus_.get(), &slot, kService, kManagerPath, kManager,
                              match.member, match.handler, this) < 0) {
        return false;
      }
      slots_.emplace_back(slot);
    }
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_match(bus_.get(), &slot,
                         "type='signal',sender='org.freedesktop.login1',"
                         "interface='org.freedesktop.DBus.Properties',"
                         "member='PropertiesChanged',path_namespace='/org/freedesktop/login1'",
                         &LogindSource::onPropertiesChanged, this) < 0) {
      return false;
    }
    slots_.emplace_back(slot);
    return true;
  }

  void takeInhibitor() {
    BusError error;
    sd_bus_message* raw = nullptr;
    if (sd_bus_call_method(bus_.get(), kService, kManagerPath, kManager, "Inhibit",
                           &error.error, &raw, "ssss", "sleep", "kiv",
                           "Deliver the suspend notification", "delay") < 0) {
      TQUtilities_TraceErrorW(L"kiv", L"logind: no sleep inhibitor: %hs", error.text());
      return;
    }
    MessagePtr reply(raw);
    int fd = -1;
    if (sd_bus_message_read(reply.get(), "h", &fd) >= 0) {
      // The descriptor belongs to the reply; keep a copy of our own.
      inhibitor_.reset(fcntl(fd, F_DUPFD_CLOEXEC, 3));
    }
  }

  void run() {
    auto nextPoll = std::chrono::steady_clock::now() + kStatePollInterval;
    for (;;) {
      int processed;
      while ((processed = sd_bus_process(bus_.get(), nullptr)) > 0) {
      }
      if (processed < 0) {
        TQUtilities_TraceErrorW(L"kiv", L"logind: lost the system bus (%d); session events stop",
                                processed);
        return;
      }
      const auto now = std::chrono::steady_clock::now();
      if (now >= nextPoll) {
        pollSessionStates();
        nextPoll = now + kStatePollInterval;
      }
      int timeoutMs = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(nextPoll - now).count());
      uint64_t busTimeout = 0;
      if (sd_bus_get_timeout(bus_.get(), &busTimeout) > 0 && busTimeout != UINT64_MAX) {
        timeoutMs = 0;  // sd-bus has work due; processing it again is cheap
      }
      pollfd fds[2] = {{sd_bus_get_fd(bus_.get()), static_cast<short>(sd_bus_get_events(bus_.get())), 0},
                       {stop_.get(), POLLIN, 0}};
      if (poll(fds, 2, timeoutMs) < 0 && errno != EINTR) return;
      if (fds[1].revents & POLLIN) return;
    }
  }

  void deliver(int code, const wchar_t* event, const std::wstring& session) {
    deliver_(code, event, session);
  }

  void sessionEnded(const std::string& id) {
    if (ended_.insert(id).second) deliver(kTQEventSessionChange, kSessionLogoff, sessionText(id));
  }

  void pollSessionStates() {
    for (const auto& [id, path] : sessions_) {
      if (ended_.count(id)) continue;
      BusError error;
      char* state = nullptr;
      if (sd_bus_get_property_string(bus_.get(), kService, path.c_str(),
                                     "org.freedesktop.login1.Session", "State", &error.error,
                                     &state) >= 0) {
        if (std::string(state) == "closing") sessionEnded(id);
        free(state);
      }
    }
  }

  static LogindSource* self(void* userdata) { return static_cast<LogindSource*>(userdata); }

  static int onSessionNew(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* id = nullptr;
    const char* path = nullptr;
    if (sd_bus_message_read(m, "so", &id, &path) < 0) return 0;
    LogindSource* source = self(userdata);
    source->ended_.erase(id);
    if (source->track(id, path)) source->deliver(kTQEventSessionChange, kSessionLogon, sessionText(id));
    return 0;
  }

  static int onSessionRemoved(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* id = nullptr;
    const char* path = nullptr;
    if (sd_bus_message_read(m, "so", &id, &path) < 0) return 0;
    LogindSource* source = self(userdata);
    if (source->sessions_.count(id) != 0) source->sessionEnded(id);
    source->sessions_.erase(id);
    source->ended_.erase(id);
    return 0;
  }

  static int onPrepareForSleep(sd_bus_message* m, void* userdata, sd_bus_error*) {
    int sleeping = 0;
    if (sd_bus_message_read(m, "b", &sleeping) < 0) return 0;
    LogindSource* source = self(userdata);
    if (sleeping) {
      source->deliver(kTQEventPowerChange, kPowerSuspend, L"");
      source->inhibitor_.reset();  // the plug-in has been told; let the machine sleep
    } else {
      source->deliver(kTQEventPowerChange, kPowerResume, L"");
      source->takeInhibitor();
    }
    return 0;
  }

  static int onPropertiesChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    LogindSource* source = self(userdata);
    const std::string path = sd_bus_message_get_path(m) ? sd_bus_message_get_path(m) : "";
    const char* interface = nullptr;
    if (sd_bus_message_read(m, "s", &interface) < 0) return 0;
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return 0;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
      const char* property = nullptr;
      if (sd_bus_message_read(m, "s", &property) < 0) return 0;
      const std::string name = property;
      if (path == kSeat0Path && name == "ActiveSession") {
        const char* id = nullptr;
        const char* sessionPath = nullptr;
        if (sd_bus_message_read(m, "v", "(so)", &id, &sessionPath) >= 0) {
          source->activeSessionChanged(id ? id : "");
        }
      } else if (name == "State" && path.rfind(kSessionPrefix, 0) == 0) {
        const char* state = nullptr;
        char* id = nullptr;
        if (sd_bus_message_read(m, "v", "s", &state) >= 0 && state != nullptr &&
            std::string(state) == "closing" &&
            sd_bus_path_decode(path.c_str(), kSessionPrefix, &id) > 0 &&
            source->sessions_.count(id) != 0) {
          source->sessionEnded(id);
        }
        free(id);
      } else if (sd_bus_message_skip(m, "v") < 0) {
        return 0;
      }
      sd_bus_message_exit_container(m);
    }
    return 0;
  }

  void activeSessionChanged(const std::string& id) {
    if (id == activeSession_) return;
    if (!activeSession_.empty()) {
      deliver(kTQEventSessionChange, kConsoleDisconnect, sessionText(activeSession_));
    }
    if (!id.empty()) deliver(kTQEventSessionChange, kConsoleConnect, sessionText(id));
    activeSession_ = id;
  }

  struct SlotDeleter {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
  };

  BusPtr bus_;
  HostEventDelivery deliver_;
  UniqueFd stop_;
  UniqueFd inhibitor_;
  std::vector<std::unique_ptr<sd_bus_slot, SlotDeleter>> slots_;
  std::map<std::string, std::string> sessions_;  // id to object path
  std::set<std::string> ended_;                  // logoff already reported
  std::string activeSession_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<HostEventSource> startLogindSource(HostEventDelivery deliver) {
  sd_bus* raw = nullptr;
  if (sd_bus_open_system(&raw) < 0) return nullptr;
  auto source = std::make_unique<LogindSource>(BusPtr(raw), std::move(deliver));
  if (!source->setUp()) return nullptr;
  return source;
}

}  // namespace kiv::tool
