// Endpoint paths and ownership on Linux. Ownership is an open-file-description lock on a small lock
// file beside the socket: unlike the socket file itself it vanishes with its holder, and a
// sender can test it without disturbing the endpoint.
#include "framework/TQSMCAPI/BusPaths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "TQSMCAPI.h"
#include "platform/home.h"
#include "platform/home_path.h"

namespace kiv::bus {
namespace {

// The bus directory is looked up once per root: every send needs it. A process whose root
// changes (KIV_HOME set anew) must not keep sending to, or binding in, the old root.
bool busDirectory(std::string* directory, std::string* error) {
  static std::mutex mutex;
  static std::string cached;
  static std::string cachedHome;
  std::lock_guard lock(mutex);
  const std::string home = platform::detail::configuredHome();
  if (cached.empty() || home != cachedHome) {
    cached.clear();
    std::string made = platform::kivSubdirectory("run/bus", 0700, error);
    if (made.empty()) return false;
    // Whoever can reach the sockets can send; a directory left more open than that by
    // someone else is closed again.
    struct stat info {};
    if (::stat(made.c_str(), &info) == 0 && (info.st_mode & 077) != 0 && info.st_uid == ::geteuid()) {
      ::chmod(made.c_str(), 0700);
    }
    cached = made;
    cachedHome = home;
  }
  *directory = cached;
  return true;
}

struct flock wholeFileLock(short type) {
  struct flock lock{};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return lock;
}

}  // namespace

bool endpointPaths(const std::string& name, EndpointPaths* paths, std::string* error) {
  std::string directory;
  if (!busDirectory(&directory, error)) return false;
  if (directory.back() != '/') directory += '/';
  paths->socketPath = directory + name;
  paths->lockPath = paths->socketPath + ".lock";
  if (paths->socketPath.size() >= sizeof(sockaddr_un{}.sun_path)) {
    if (error) *error = "socket path too long for a Unix socket: " + paths->socketPath;
    return false;
  }
  return true;
}

bool endpointOwned(const std::string& lockPath) {
  const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock probe = wholeFileLock(F_WRLCK);
  const bool owned = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  ::close(fd);
  return owned;
}

int endpointOwnerPid(const std::string& lockPath) {
  if (!endpointOwned(lockPath)) return -1;
  const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[24] = {};
  const ssize_t got = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (got <= 0) return 0;
  char* end = nullptr;
  const long pid = std::strtol(text, &end, 10);
  return pid > 0 && pid <= INT32_MAX && *end == '\n' ? static_cast<int>(pid) : 0;
}

EndpointLock::~EndpointLock() { release(); }

void EndpointLock::release() {
  if (fd_ >= 0) ::close(fd_);  // closing the description releases the lock
  fd_ = -1;
}

int EndpointLock::acquire(const std::string& lockPath) {
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return kSmErrTransport;
  struct flock lock = wholeFileLock(F_WRLCK);
  if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    const int error = errno;
    ::close(fd);
    return (error == EAGAIN || error == EACCES) ? kSmErrEndpointInUse : kSmErrTransport;
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0 &&
      ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    [[maybe_unused]] int emptied = ::ftruncate(fd, 0);  // unknown rather than wrong
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  return 0;
}

bool socketFileExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

void removeSocketFile(const std::string& path) { ::unlink(path.c_str()); }

}  // namespace kiv::bus
