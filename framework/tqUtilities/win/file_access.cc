// File access with the framework's C signatures on Windows: narrow paths are in the ANSI
// code page, wide ones are UTF-16. Directory modes mean nothing here: a new directory gets
// the access list it inherits from its parent.
#include <direct.h>
#include <io.h>

#include <cerrno>

#include "tqUtilities.h"

extern "C" {

int tq_access(const char* path, int mode) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return _access(path, mode & 06);  // no execute permission to ask about here
}

int tq_waccess(const wchar_t* path, int mode) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return _waccess(path, mode & 06);
}

int tq_mkdir(const char* path, int /*mode*/) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return _mkdir(path);
}

int tq_wmkdir(const wchar_t* path, int /*mode*/) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return _wmkdir(path);
}

}  // extern "C"
