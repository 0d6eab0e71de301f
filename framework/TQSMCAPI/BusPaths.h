// Where endpoints live on disk: the socket and the ownership lock of each endpoint name below
// KIV_HOME/run/bus, and the test whether somebody currently owns an endpoint.
#pragma once

#include <cstddef>
#include <string>

namespace kiv::bus {

struct EndpointPaths {
  std::string socketPath;  // the endpoint's SOCK_SEQPACKET socket
  std::string lockPath;    // held (open file description lock) while the endpoint is open
};

// Endpoint names are file names: letters, digits, '.', '_' and '-', not starting with '.',
// at most kMaxEndpointName characters.
constexpr size_t kMaxEndpointName = 64;
bool isValidEndpointName(const char* name);

// The paths of an endpoint; false (with *error set) when the bus directory cannot be made or
// the socket path would not fit a Unix socket address.
bool endpointPaths(const std::string& name, EndpointPaths* paths, std::string* error);

// True while a live process holds the endpoint's lock. A stale socket file left behind by a
// process that died does not count.
bool endpointOwned(const std::string& lockPath);

// The process id that the owner wrote into the lock file: -1 when nobody owns the endpoint,
// 0 when the owner is not known.
int endpointOwnerPid(const std::string& lockPath);

// Whether a socket file is there.
bool socketFileExists(const std::string& path);
// Removes a socket file left behind, if any.
void removeSocketFile(const std::string& path);

// Exclusive ownership of an endpoint name, released by the kernel if the holder dies.
class EndpointLock {
 public:
  EndpointLock() = default;
  EndpointLock(const EndpointLock&) = delete;
  EndpointLock& operator=(const EndpointLock&) = delete;
  EndpointLock(EndpointLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  ~EndpointLock();

  // 0 on success, kSmErrEndpointInUse when another open endpoint holds it, or
  // kSmErrTransport when the lock file cannot be used. The owner's process id is written
  // into the file, for messages that name who holds the endpoint.
  int acquire(const std::string& lockPath);
  void release();

 private:
  int fd_ = -1;
};

}  // namespace kiv::bus
