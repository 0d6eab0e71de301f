// File existence and directory creation on the local file system.
#include "platform/file_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/utf8.h"

namespace kiv::platform {

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

int makeDirectory(const std::string& path, unsigned mode) {
  return mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0 ? 0 : -1;
}

std::string narrowPath(const std::wstring& path) { return kiv::utf::narrow(path); }

}  // namespace kiv::platform
