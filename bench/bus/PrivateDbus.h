// A D-Bus to measure the bus against: a dbus-daemon of the benchmark's own, listening in
// its temporary home, and a service on it whose one method answers at once.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>

struct sd_bus;

namespace kivbench {

// The daemon runs while the object lives; it is ended and reaped by the destructor, and
// dies with the thread that made the object should that end first (so no daemon outlives
// a benchmark that crashed).
class PrivateDbus {
 public:
  static constexpr const char* kService = "org.kiv.Bench";
  static constexpr const char* kObject = "/org/kiv/Bench";
  static constexpr const char* kInterface = "org.kiv.Bench";
  static constexpr const char* kMethod = "Notify";  // takes a string, answers a uint32 0

  explicit PrivateDbus(const std::string& directory);
  ~PrivateDbus();
  PrivateDbus(const PrivateDbus&) = delete;
  PrivateDbus& operator=(const PrivateDbus&) = delete;

  // Empty when the daemon or the service could not be started.
  const std::string& address() const { return address_; }
  pid_t daemon() const { return daemon_; }
  // A new client connection of the calling thread, or null.
  sd_bus* connect() const;

 private:
  void serve(sd_bus* bus);

  pid_t daemon_ = -1;
  std::string address_;
  std::atomic<bool> stopping_{false};
  std::thread service_;
};

}  // namespace kivbench
