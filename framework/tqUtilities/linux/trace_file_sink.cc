// Size-based rotation shared by every process that writes the trace file. Whoever finds
// the file full takes the lock file; if the name already points to a new file another
// process rotated first, and only a reopen is needed.
#include "framework/tqUtilities/trace_file_sink.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kiv::trace {
namespace {

class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing drops the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

void writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // a full disk must not stop the program; the line is lost
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

}  // namespace

TraceFileSink::~TraceFileSink() {
  if (fd_ >= 0) ::close(fd_);
}

bool TraceFileSink::open(std::string* error) {
  std::lock_guard lock(mutex_);
  reopen();
  if (fd_ < 0 && error != nullptr) *error = path_ + ": " + std::strerror(errno);
  return fd_ >= 0;
}

void TraceFileSink::reopen() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  forgetSize();
}

bool TraceFileSink::currentSize(std::size_t* size) const {
  struct stat mine {};
  if (fstat(fd_, &mine) != 0) return false;
  *size = static_cast<std::size_t>(mine.st_size);
  return true;
}

void TraceFileSink::writeLine(const char* data, std::size_t size) { writeAll(fd_, data, size); }

void TraceFileSink::rotateShared() {
  FileLock lock(path_ + ".lock");
  struct stat mine {}, named {};
  if (fstat(fd_, &mine) == 0 && ::stat(path_.c_str(), &named) == 0 &&
      (named.st_ino != mine.st_ino || named.st_dev != mine.st_dev)) {
    reopen();  // another process has rotated already
    return;
  }
  rotateLocked();
  reopen();
}

void TraceFileSink::rotateLocked() {
  auto name = [this](int index) { return index == 0 ? path_ : path_ + "." + std::to_string(index); };
  if (backups_ <= 0) {
    ::unlink(path_.c_str());
    return;
  }
  ::unlink(name(backups_).c_str());
  for (int index = backups_ - 1; index >= 0; --index) ::rename(name(index).c_str(), name(index + 1).c_str());
}

}  // namespace kiv::trace
