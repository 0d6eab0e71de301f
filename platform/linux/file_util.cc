// File existence and directory creation on the local file system.
#include "platform/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/utf8.h"

namespace kiv::platform {

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

int makeDirectory(const std::string& path, unsigned mode) {
  return mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0 ? 0 : -1;
}

bool ensurePrivateFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return errno == EEXIST;
  // The process's umask may only take bits away, never leave more than 0600.
  ::close(fd);
  return true;
}

std::string narrowPath(const std::wstring& path) { return kiv::utf::narrow(path); }

}  // namespace kiv::platform
