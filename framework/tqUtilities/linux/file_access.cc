// File access with the framework's C signatures: narrow paths are UTF-8, like wide ones
// once converted.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_util.h"
#include "tqUtilities.h"

extern "C" {

int tq_access(const char* path, int mode) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return ::access(path, mode);
}

int tq_waccess(const wchar_t* path, int mode) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return ::access(kiv::platform::narrowPath(path).c_str(), mode);
}

int tq_mkdir(const char* path, int mode) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return ::mkdir(path, static_cast<mode_t>(mode));
}

int tq_wmkdir(const wchar_t* path, int mode) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return ::mkdir(kiv::platform::narrowPath(path).c_str(), static_cast<mode_t>(mode));
}

}  // extern "C"
