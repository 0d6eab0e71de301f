// Where the units directory is: below the configured data location, else below the
// install directory, else the fixed fallback text.
#include "ITQConfig.h"
#include "tqNotify/framework/TQptr.h"
#include "tqNotify/tqNotify.h"

namespace {

constexpr unsigned kPathBufferSize = 260;

bool configuredBase(char (&buffer)[kPathBufferSize]) {
  TQptr<ITQConfig> config;
  TQUtilities_GetConfigEx(config.fill(), -1);
  if (!config) return false;
  uint32_t size = kPathBufferSize;
  buffer[0] = '\0';
  if (config->getStringA("dlox/common", "configdata_location", buffer, &size, 0) != 0) {
    return false;
  }
  buffer[kPathBufferSize - 1] = '\0';
  return buffer[0] != '\0';
}

}  // namespace

TQStringA getUnitsPathA() {
  char buffer[kPathBufferSize] = {};
  if (!configuredBase(buffer) && TQUtilities_GetInstallDirA(buffer, kPathBufferSize) == 0) {
    return TQStringA("C:\\units");
  }
  buffer[kPathBufferSize - 1] = '\0';
  TQStringA path(buffer);
  path.add_path_separator();
  path += "Agent";
  path.add_path_separator();
  path += "units";
  return path;
}

TQStringW getUnitsPathW() {
  TQStringW path;
  path.assign_mbcs(getUnitsPathA().c_str(), TQStringW::npos);
  return path;
}
